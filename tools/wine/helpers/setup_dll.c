/* A scenario's _SETUP.DLL. Built three times: CheckUserPrivilege granting
 * (QV_SETUP_RESULT=1), refusing (0), and a library without that export
 * (QV_SETUP_RESULT undefined). The export takes two 32-bit arguments, the
 * callee pops them, and it may write the caller's 4-byte variable. */
#include <windows.h>

#ifdef QV_SETUP_RESULT
__declspec(dllexport) DWORD WINAPI CheckUserPrivilege(DWORD reserved, LPVOID scratch) {
  (void)reserved;
  if (scratch) *(DWORD *)scratch = 0xDEADBEEF;
  return QV_SETUP_RESULT;
}
#else
__declspec(dllexport) DWORD WINAPI SetupLibraryVersion(void) { return 1; }
#endif
