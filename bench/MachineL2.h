#pragma once

// This machine's L2 size over the logical processors sharing it, in KB, from
// sysfs, as the program computes it; 0 when unknown.
int l2KbPerLogical();
