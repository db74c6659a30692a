#pragma once

// The divider's workload: vector double-precision divisions and square
// roots whose results are exact (quotients of exact multiples, roots of
// perfect squares, scaled by powers of two), so the answers are known
// without dividing.

struct DivideSqrtJob {
  const double *numerator, *denominator, *square;
  double *quotient, *root;
  long lanes; // a multiple of 32
};

void divideSqrtSse2(const DivideSqrtJob &job);
void divideSqrtAvx(const DivideSqrtJob &job);
void divideSqrtAvx512(const DivideSqrtJob &job);
