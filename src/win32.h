// The one door to the platform. On Windows it is the SDK; on any other host it
// is the stand-in under sim/, which declares the same names with the same
// types and values, so the product's code never knows which one it runs on.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// windows.h first: the other two build on its types.
#include <windows.h>
// clang-format off
#include <commctrl.h>
#include <winspool.h>
// clang-format on
#else
#include "sim_windows.h"
#endif
