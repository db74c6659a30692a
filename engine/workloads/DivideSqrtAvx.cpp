// Compiled with -mavx.
#include "engine/workloads/DivideSqrt.h"

#include <immintrin.h>

void divideSqrtAvx(const DivideSqrtJob &job) {
  for (long i = 0; i < job.lanes; i += 4) {
    _mm256_store_pd(job.quotient + i,
                    _mm256_div_pd(_mm256_load_pd(job.numerator + i),
                                  _mm256_load_pd(job.denominator + i)));
    _mm256_store_pd(job.root + i,
                    _mm256_sqrt_pd(_mm256_load_pd(job.square + i)));
  }
}
