#include "MachineL2.h"

#include <cstdio>

int l2KbPerLogical() {
  FILE *f = fopen("/sys/devices/system/cpu/cpu0/cache/index2/size", "r");
  int kb = 0;
  if (f) {
    if (fscanf(f, "%dK", &kb) != 1)
      kb = 0;
    fclose(f);
  }
  f = fopen("/sys/devices/system/cpu/cpu0/cache/index2/shared_cpu_list", "r");
  int first = 0, last = 0;
  if (f) {
    if (fscanf(f, "%d-%d", &first, &last) == 2 && last > first)
      kb /= last - first + 1;
    fclose(f);
  }
  return kb;
}
