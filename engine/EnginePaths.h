#pragma once

// The instruction-set paths of the engine and the tile kernel each provides.

// Widest last: the engine runs the widest available path most of the time.
enum EnginePath { PATH_SSE2, PATH_AVX, PATH_AVX2_FMA, PATH_AVX512, PATH_COUNT };

// Bit p set when path p may run here: the processor has the instructions and
// the OS saves the registers they use (XGETBV).
unsigned availablePaths();
const char *pathName(int path);
// AVX2+FMA and AVX-512 fuse multiply and add; the others round twice, so a
// random unit has one first-run result per kind.
bool pathFuses(int path);

// Packed layouts shared by every path, so switching paths needs no repacking:
// A in micro-panels of TILE_ROWS rows (for each k, TILE_ROWS values), B in
// micro-panels of TILE_COLS columns (for each k, TILE_COLS values), C column
// major with leading dimension ldc.
constexpr int TILE_ROWS = 24;
constexpr int TILE_COLS = 8;

// One TILE_ROWS x TILE_COLS tile of C over depth k. Each element starts from
// its row's bias (or from C itself when accumulate is set) and adds its k
// products one after the other, so every path that fuses gives the same bits,
// and every path that does not gives the same bits. The checks ride along:
// operands are summed as they are loaded, the result is compared with the
// reference while still in registers.
struct TileJob {
  long k;
  const double *a, *b, *bias;
  double *c;
  long ldc;
  bool accumulate;
  const double *ref;        // null: no comparison
  unsigned long long *sumA; // null: A not summed; else += the wrapping sum
  unsigned long long *sumB; // of the words of this tile's part of A / of B
  unsigned long long *diff; // |= (result ^ reference) over the tile
};
typedef void (*TileKernel)(const TileJob &job);

TileKernel tileKernel(int path);

// Defined each in its own file compiled for that instruction set.
TileKernel sse2Tile();
TileKernel avxTile();
TileKernel avx2FmaTile();
TileKernel avx512Tile();
