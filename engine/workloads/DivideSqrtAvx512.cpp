// Compiled with -mavx512f.
#include "engine/workloads/DivideSqrt.h"

#include <immintrin.h>

void divideSqrtAvx512(const DivideSqrtJob &job) {
  for (long i = 0; i < job.lanes; i += 8) {
    _mm512_store_pd(job.quotient + i,
                    _mm512_div_pd(_mm512_load_pd(job.numerator + i),
                                  _mm512_load_pd(job.denominator + i)));
    _mm512_store_pd(job.root + i,
                    _mm512_sqrt_pd(_mm512_load_pd(job.square + i)));
  }
}
