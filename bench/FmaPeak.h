#pragma once

// Runs a register-only FMA loop of the widest fusing path for about
// `seconds`; returns GFLOPS, or 0 when the processor has no FMA path.
double fmaPeakGflops(unsigned paths, double seconds);
