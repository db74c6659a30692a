#pragma once

#include "stress/RunResult.h"

#include <QString>

#include <vector>

// The arithmetic a run verified, summed over its workers, for the end-of-run
// summary, so that runs can be compared by the work they checked.

// The counts of every worker of a run, path by path.
WorkerCounters TotalVerified(const std::vector<WorkerResult> &workers);

// "Calculs vérifiés : 12.4 Tflop (AVX-512F 98 %, AVX2+FMA 1 %, SSE2 < 1 %)":
// the total in Gflop, Tflop or Pflop with one decimal, then the share of each
// path that did any work, widest first; a share too small to round to 1 %
// reads "< 1 %". Then, after " ; ", the work of each workload that did any,
// in its own unit ("AES 45.6 Go, entiers 1.2 G opérations"). Nothing
// verified: "Calculs vérifiés : 0.0 Gflop".
QString VerifiedArithmeticLine(const WorkerCounters &total);
