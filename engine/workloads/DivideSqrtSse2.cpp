// The plain level: SSE2, which every x86-64 processor has.
#include "engine/workloads/DivideSqrt.h"

#include <immintrin.h>

void divideSqrtSse2(const DivideSqrtJob &job) {
  for (long i = 0; i < job.lanes; i += 2) {
    _mm_store_pd(job.quotient + i,
                 _mm_div_pd(_mm_load_pd(job.numerator + i),
                            _mm_load_pd(job.denominator + i)));
    _mm_store_pd(job.root + i, _mm_sqrt_pd(_mm_load_pd(job.square + i)));
  }
}
