#pragma once

// Runs a register-only loop of the arithmetic instructions of one engine
// path (EnginePath) for about `seconds`; returns GFLOPS. The loop is the
// path's own instructions: fused multiply-adds for the fusing paths, a
// multiply then an add for the others, on the path's vector width.
double peakGflops(int path, double seconds);
