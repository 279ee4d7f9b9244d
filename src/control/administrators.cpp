// Whether the process's token holds the Administrators group, asked of the
// platform when the product's own library can't be found to ask. The calls
// exist on the NT family only, so they are looked up at run time: the
// executable's imports stay what Windows 95 loads. The group counts when it
// is enabled and not for deny only (the filtered token of a user who has not
// been elevated holds it for deny only).
#include "control.h"

namespace {
typedef BOOL(WINAPI *OpenProcessTokenProc)(HANDLE, DWORD, PHANDLE);
typedef BOOL(WINAPI *GetTokenInformationProc)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
typedef BOOL(WINAPI *AllocateAndInitializeSidProc)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD,
                                                   DWORD, DWORD, DWORD, DWORD, DWORD, PSID *);
typedef BOOL(WINAPI *EqualSidProc)(PSID, PSID);
typedef PVOID(WINAPI *FreeSidProc)(PSID);

struct SecurityCalls {
  OpenProcessTokenProc openProcessToken;
  GetTokenInformationProc getTokenInformation;
  AllocateAndInitializeSidProc allocateAndInitializeSid;
  EqualSidProc equalSid;
  FreeSidProc freeSid;
};

template <typename Proc>
int LookUp(HMODULE library, const char *name, Proc *proc) {
  *proc = reinterpret_cast<Proc>(reinterpret_cast<void (*)(void)>(GetProcAddress(library, name)));
  return *proc != NULL;
}

int LookUpSecurityCalls(SecurityCalls *calls) {
  HMODULE advapi = GetModuleHandleA("ADVAPI32.DLL");
  return advapi && LookUp(advapi, "OpenProcessToken", &calls->openProcessToken) &&
         LookUp(advapi, "GetTokenInformation", &calls->getTokenInformation) &&
         LookUp(advapi, "AllocateAndInitializeSid", &calls->allocateAndInitializeSid) &&
         LookUp(advapi, "EqualSid", &calls->equalSid) && LookUp(advapi, "FreeSid", &calls->freeSid);
}

// The token's groups by the two-call size protocol; released by the caller with LocalFree.
TOKEN_GROUPS *ReadTokenGroups(const SecurityCalls &calls, HANDLE token) {
  DWORD needed = 0;
  calls.getTokenInformation(token, TokenGroups, NULL, 0, &needed);
  if (needed == 0) return NULL;
  TOKEN_GROUPS *groups = static_cast<TOKEN_GROUPS *>(LocalAlloc(LPTR, needed));
  if (groups && !calls.getTokenInformation(token, TokenGroups, groups, needed, &needed)) {
    LocalFree(groups);
    return NULL;
  }
  return groups;
}

int HoldsEnabledGroup(const SecurityCalls &calls, const TOKEN_GROUPS *groups, PSID group) {
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    DWORD attributes = groups->Groups[i].Attributes;
    if ((attributes & SE_GROUP_ENABLED) && !(attributes & SE_GROUP_USE_FOR_DENY_ONLY) &&
        calls.equalSid(groups->Groups[i].Sid, group))
      return 1;
  }
  return 0;
}
}  // namespace

int TokenHoldsAdministrators(void) {
  SecurityCalls calls;
  HANDLE token;
  if (!LookUpSecurityCalls(&calls) || !calls.openProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return 0;
  int holds = 0;
  TOKEN_GROUPS *groups = ReadTokenGroups(calls, token);
  SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
  PSID administrators;
  if (groups && calls.allocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                               DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
    holds = HoldsEnabledGroup(calls, groups, administrators);
    calls.freeSid(administrators);
  }
  if (groups) LocalFree(groups);
  CloseHandle(token);
  return holds;
}
