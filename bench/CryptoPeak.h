#pragma once

// Register-only loops of the crypto instructions, each for about `seconds`:
// the most bytes per second those instructions give on this processor, for
// the workloads to be compared with. Called only on a processor that has
// them.

// AES-128 rounds, 16 blocks in flight in registers; width 1 (AES-NI), 2 or
// 4 (VAES on 256 or 512 bits) blocks per instruction.
double aesPeakBytesPerSecond(int width, double seconds);
// SHA-256 rounds by SHA256RNDS2 with the schedule by SHA256MSG1/MSG2, on
// two independent states in registers.
double shaPeakBytesPerSecond(double seconds);
