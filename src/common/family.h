// The Windows family the program runs on, asked afresh wherever it matters:
// a GetVersion result with the high bit clear is the NT family.
#pragma once

#include "../win32.h"

inline int IsWindowsNt(void) { return GetVersion() < 0x80000000; }
