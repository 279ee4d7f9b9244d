// The process entry of QVUninst.exe and the little runtime it needs. The
// executable links no C runtime, so that it starts on a bare Windows 95 as on
// the NT family and stays small; this file stands in for the pieces a C
// runtime would have supplied.
#include <stddef.h>

#include "control/control.h"

extern "C" {

// gcc may turn struct copies, zero-filled locals and byte loops into calls to
// these five, whatever the source says (a counting loop becomes strlen). The
// build compiles this file with -fno-builtin -fno-tree-loop-distribute-patterns
// so that their own loops are never turned back into calls to themselves.
void *memset(void *dst, int value, size_t count) {
  unsigned char *out = static_cast<unsigned char *>(dst);
  while (count--) *out++ = static_cast<unsigned char>(value);
  return dst;
}

void *memcpy(void *dst, const void *src, size_t count) {
  unsigned char *out = static_cast<unsigned char *>(dst);
  const unsigned char *in = static_cast<const unsigned char *>(src);
  while (count--) *out++ = *in++;
  return dst;
}

void *memmove(void *dst, const void *src, size_t count) {
  unsigned char *out = static_cast<unsigned char *>(dst);
  const unsigned char *in = static_cast<const unsigned char *>(src);
  if (out <= in) {
    while (count--) *out++ = *in++;
  } else {
    // Overlap with the destination above the source: copy from the end.
    while (count--) out[count] = in[count];
  }
  return dst;
}

int memcmp(const void *left, const void *right, size_t count) {
  const unsigned char *a = static_cast<const unsigned char *>(left);
  const unsigned char *b = static_cast<const unsigned char *>(right);
  for (; count; --count, ++a, ++b) {
    if (*a != *b) return *a < *b ? -1 : 1;
  }
  return 0;
}

size_t strlen(const char *text) {
  const char *end = text;
  while (*end) ++end;
  return static_cast<size_t>(end - text);
}

// The linker's entry (-e _WinMainCRTStartup). The loader passes it nothing, so
// cdecl and stdcall agree and the plain name needs no @0 decoration. The
// program takes no command line, so WinMain gets an empty one; ExitProcess
// ends the process with WinMain's result as the exit code.
void WinMainCRTStartup(void) {
  static char emptyCommandLine[] = "";
  ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(NULL), NULL, emptyCommandLine, SW_SHOWNORMAL)));
}

}  // extern "C"
