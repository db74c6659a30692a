#include "FmaPeak.h"

#include <chrono>

#include "engine/EnginePaths.h"

namespace {

constexpr long BATCH = 1000000;

// Independent accumulators hide the latency on every arithmetic pipe; the
// loops touch no memory.
#define FMA512(r) "vfmadd231pd %%zmm30, %%zmm31, %%zmm" #r "\n\t"
__attribute__((target("avx512f"))) void loop512(long iterations) {
  __asm__ volatile(
      "vxorpd %%zmm30, %%zmm30, %%zmm30\n\t"
      "vxorpd %%zmm31, %%zmm31, %%zmm31\n\t"
      "1:\n\t" FMA512(0) FMA512(1) FMA512(2) FMA512(3) FMA512(4) FMA512(5)
          FMA512(6) FMA512(7) FMA512(8) FMA512(9) FMA512(10) FMA512(11)
              FMA512(12) FMA512(13) FMA512(14) FMA512(15) FMA512(16) FMA512(17)
                  FMA512(18) FMA512(19) FMA512(20) FMA512(21) FMA512(22)
                      FMA512(23) "dec %0\n\tjnz 1b\n\tvzeroupper"
      : "+r"(iterations)
      :
      : "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7",
        "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15",
        "xmm16", "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23",
        "xmm30", "xmm31");
}

#define FMA256(r) "vfmadd231pd %%ymm14, %%ymm15, %%ymm" #r "\n\t"
__attribute__((target("avx2,fma"))) void loop256(long iterations) {
  __asm__ volatile("vxorpd %%ymm14, %%ymm14, %%ymm14\n\t"
                   "vxorpd %%ymm15, %%ymm15, %%ymm15\n\t"
                   "1:\n\t" FMA256(0) FMA256(1) FMA256(2) FMA256(3) FMA256(4)
                       FMA256(5) FMA256(6) FMA256(7) FMA256(8) FMA256(9)
                           FMA256(10) FMA256(11) "dec %0\n\tjnz 1b\n\t"
                                                 "vzeroupper"
                   : "+r"(iterations)
                   :
                   : "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5",
                     "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm14",
                     "xmm15");
}

// A product into a scratch register, then added to its accumulator.
#define MULADD256(r)                                                           \
  "vmulpd %%ymm14, %%ymm15, %%ymm12\n\t"                                       \
  "vaddpd %%ymm12, %%ymm" #r ", %%ymm" #r "\n\t"
__attribute__((target("avx"))) void loopAvx(long iterations) {
  __asm__ volatile(
      "vxorpd %%ymm14, %%ymm14, %%ymm14\n\t"
      "vxorpd %%ymm15, %%ymm15, %%ymm15\n\t"
      "1:\n\t" MULADD256(0) MULADD256(1) MULADD256(2) MULADD256(3) MULADD256(4)
          MULADD256(5) MULADD256(6) MULADD256(7) MULADD256(8) MULADD256(9)
              MULADD256(10) MULADD256(11) "dec %0\n\tjnz 1b\n\t"
                                          "vzeroupper"
      : "+r"(iterations)
      :
      : "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7",
        "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm14", "xmm15");
}

// SSE2's multiply overwrites its operand: the copy is part of every product.
#define MULADD128(r)                                                           \
  "movapd %%xmm14, %%xmm12\n\t"                                                \
  "mulpd %%xmm15, %%xmm12\n\t"                                                 \
  "addpd %%xmm12, %%xmm" #r "\n\t"
void loopSse2(long iterations) {
  __asm__ volatile(
      "xorpd %%xmm14, %%xmm14\n\t"
      "xorpd %%xmm15, %%xmm15\n\t"
      "1:\n\t" MULADD128(0) MULADD128(1) MULADD128(2) MULADD128(3) MULADD128(4)
          MULADD128(5) MULADD128(6) MULADD128(7) MULADD128(8) MULADD128(9)
              MULADD128(10) MULADD128(11) "dec %0\n\tjnz 1b"
      : "+r"(iterations)
      :
      : "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7",
        "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm14", "xmm15");
}

} // namespace

double peakGflops(int path, double seconds) {
  void (*loop)(long) = loopSse2;
  double flopsPerIteration = 12 * 2 * 2;
  if (path == PATH_AVX512) {
    loop = loop512;
    flopsPerIteration = 24 * 8 * 2;
  } else if (path == PATH_AVX2_FMA) {
    loop = loop256;
    flopsPerIteration = 12 * 4 * 2;
  } else if (path == PATH_AVX) {
    loop = loopAvx;
    flopsPerIteration = 12 * 4 * 2;
  }
  auto start = std::chrono::steady_clock::now();
  double elapsed = 0, flops = 0;
  while (elapsed < seconds) {
    loop(BATCH);
    flops += flopsPerIteration * BATCH;
    elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count();
  }
  return flops / elapsed / 1e9;
}
