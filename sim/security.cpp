// The process token and security identifiers (ADVAPI32), which the
// uninstaller looks up at run time so that its executable still loads on the
// 95/98 family, where they are stubs that fail with ERROR_CALL_NOT_IMPLEMENTED.
// The token's groups are the user's: Everyone, Users and, as the machine
// says, Administrators (enabled, absent, or deny-only in the filtered token
// of a user who is not elevated).
#include <stdlib.h>
#include <string.h>

#include "machine.h"

using sim::Machine;

namespace {
const DWORD kEnabledGroup = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;

struct Group {
  BYTE authority;  // the last byte of the identifier authority
  std::vector<DWORD> subAuthorities;
  DWORD attributes;
};

std::vector<Group> TokenGroupsOf(const Machine &m) {
  std::vector<Group> groups = {{1, {SECURITY_WORLD_RID}, kEnabledGroup},
                               {5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}, kEnabledGroup}};
  if (m.administrators == sim::Administrators::Yes)
    groups.push_back({5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}, kEnabledGroup});
  if (m.administrators == sim::Administrators::DenyOnly)
    groups.push_back({5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}, SE_GROUP_USE_FOR_DENY_ONLY});
  return groups;
}

size_t SidSize(size_t subAuthorities) { return offsetof(SID, SubAuthority) + subAuthorities * sizeof(DWORD); }

void WriteSid(void *at, BYTE authority, const DWORD *subAuthorities, BYTE count) {
  SID *sid = static_cast<SID *>(at);
  memset(sid, 0, SidSize(count));
  sid->Revision = SID_REVISION;
  sid->SubAuthorityCount = count;
  sid->IdentifierAuthority.Value[5] = authority;
  memcpy(sid->SubAuthority, subAuthorities, count * sizeof(DWORD));
}

// TOKEN_GROUPS with its SIDs after the array, as the platform lays it out.
size_t GroupsSize(const std::vector<Group> &groups) {
  size_t size = offsetof(TOKEN_GROUPS, Groups) + groups.size() * sizeof(SID_AND_ATTRIBUTES);
  for (const Group &group : groups) size += SidSize(group.subAuthorities.size());
  return size;
}

void WriteGroups(const std::vector<Group> &groups, void *buffer) {
  TOKEN_GROUPS *out = static_cast<TOKEN_GROUPS *>(buffer);
  out->GroupCount = static_cast<DWORD>(groups.size());
  BYTE *next = static_cast<BYTE *>(buffer) + offsetof(TOKEN_GROUPS, Groups) +
               groups.size() * sizeof(SID_AND_ATTRIBUTES);
  for (size_t i = 0; i < groups.size(); ++i) {
    const Group &group = groups[i];
    WriteSid(next, group.authority, group.subAuthorities.data(),
             static_cast<BYTE>(group.subAuthorities.size()));
    out->Groups[i].Sid = next;
    out->Groups[i].Attributes = group.attributes;
    next += SidSize(group.subAuthorities.size());
  }
}

bool IsNt(Machine &m) {
  if (m.family == sim::Family::NT) return true;
  m.lastError = ERROR_CALL_NOT_IMPLEMENTED;
  return false;
}

BOOL OpenTokenOn(Machine &m, HANDLE process, DWORD access, PHANDLE token) {
  if (!IsNt(m)) return FALSE;
  uintptr_t handle = reinterpret_cast<uintptr_t>(process);
  if (handle != sim::kCurrentProcessHandle && !m.childProcesses.count(handle))
    return sim::Fail(m, ERROR_INVALID_HANDLE);
  if (!token) return sim::Fail(m, ERROR_INVALID_PARAMETER);  // the platform faults writing it
  uintptr_t opened = sim::NewHandle(m);
  m.openTokens[opened] = access;
  *token = reinterpret_cast<HANDLE>(opened);
  return TRUE;
}

BOOL GetTokenInformationOn(Machine &m, HANDLE token, TOKEN_INFORMATION_CLASS what, LPVOID buffer, DWORD size,
                           PDWORD needed) {
  if (!IsNt(m)) return FALSE;
  auto open = m.openTokens.find(reinterpret_cast<uintptr_t>(token));
  if (open == m.openTokens.end()) return sim::Fail(m, ERROR_INVALID_HANDLE);
  if (!(open->second & TOKEN_QUERY)) return sim::Fail(m, ERROR_ACCESS_DENIED);
  if (what != TokenGroups) return sim::Fail(m, ERROR_NOT_SUPPORTED);  // only the groups are simulated
  if (!needed) return sim::Fail(m, ERROR_INVALID_PARAMETER);
  const std::vector<Group> groups = TokenGroupsOf(m);
  *needed = static_cast<DWORD>(GroupsSize(groups));
  if (!buffer || size < *needed) return sim::Fail(m, ERROR_INSUFFICIENT_BUFFER);
  WriteGroups(groups, buffer);
  return TRUE;
}

BOOL AllocateSidOn(Machine &m, PSID_IDENTIFIER_AUTHORITY authority, BYTE count, const DWORD *subAuthorities,
                   PSID *sid) {
  if (!IsNt(m)) return FALSE;
  if (!authority || !sid || count > 8) return sim::Fail(m, ERROR_INVALID_PARAMETER);
  void *block = malloc(SidSize(count ? count : 1));
  if (!block) return sim::Fail(m, ERROR_NOT_ENOUGH_MEMORY);
  WriteSid(block, 0, subAuthorities, count);
  memcpy(static_cast<SID *>(block)->IdentifierAuthority.Value, authority->Value, 6);
  m.sids.push_back(block);
  *sid = block;
  return TRUE;
}

bool IsValidSid(const SID *sid) {
  return sid && sid->Revision == SID_REVISION && sid->SubAuthorityCount <= SID_MAX_SUB_AUTHORITIES;
}

// Any SID in memory compares, not only those allocated here.
BOOL EqualSidOn(Machine &m, PSID first, PSID second) {
  const SID *a = static_cast<const SID *>(first);
  const SID *b = static_cast<const SID *>(second);
  if (!IsValidSid(a) || !IsValidSid(b)) return sim::Fail(m, ERROR_INVALID_SID);
  m.lastError = ERROR_SUCCESS;
  return a->SubAuthorityCount == b->SubAuthorityCount && memcmp(a, b, SidSize(a->SubAuthorityCount)) == 0;
}

// NULL once freed; a SID that was not allocated here is handed back.
PVOID FreeSidOn(Machine &m, PSID sid) {
  for (size_t i = 0; i < m.sids.size(); ++i) {
    if (m.sids[i] != sid) continue;
    free(sid);
    m.sids.erase(m.sids.begin() + static_cast<long>(i));
    return nullptr;
  }
  return sid;
}

std::string Pointer(const void *p) { return p ? "ptr" : "(null)"; }
}  // namespace

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
  Machine &m = sim::Current();
  BOOL result = sim::ShouldFail(m, "OpenProcessToken")
                    ? FALSE
                    : OpenTokenOn(m, ProcessHandle, DesiredAccess, TokenHandle);
  sim::Log(m, "OpenProcessToken",
           {sim::Hex(reinterpret_cast<uintptr_t>(ProcessHandle)), sim::Hex(DesiredAccess)},
           std::to_string(result));
  return result;
}

BOOL WINAPI GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                                LPVOID TokenInformation, DWORD TokenInformationLength, PDWORD ReturnLength) {
  Machine &m = sim::Current();
  BOOL result = sim::ShouldFail(m, "GetTokenInformation")
                    ? FALSE
                    : GetTokenInformationOn(m, TokenHandle, TokenInformationClass, TokenInformation,
                                            TokenInformationLength, ReturnLength);
  sim::Log(m, "GetTokenInformation",
           {sim::Hex(reinterpret_cast<uintptr_t>(TokenHandle)), std::to_string(TokenInformationClass),
            Pointer(TokenInformation), std::to_string(TokenInformationLength)},
           std::to_string(result));
  return result;
}

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount,
                                     DWORD nSubAuthority0, DWORD nSubAuthority1, DWORD nSubAuthority2,
                                     DWORD nSubAuthority3, DWORD nSubAuthority4, DWORD nSubAuthority5,
                                     DWORD nSubAuthority6, DWORD nSubAuthority7, PSID *pSid) {
  Machine &m = sim::Current();
  const DWORD subAuthorities[8] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                                   nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
  BOOL result = sim::ShouldFail(m, "AllocateAndInitializeSid")
                    ? FALSE
                    : AllocateSidOn(m, pIdentifierAuthority, nSubAuthorityCount, subAuthorities, pSid);
  std::vector<std::string> args = {Pointer(pIdentifierAuthority), std::to_string(nSubAuthorityCount)};
  for (DWORD sub : subAuthorities) args.push_back(std::to_string(sub));
  sim::Log(m, "AllocateAndInitializeSid", args, std::to_string(result));
  return result;
}

BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2) {
  Machine &m = sim::Current();
  BOOL result = sim::ShouldFail(m, "EqualSid") ? FALSE : EqualSidOn(m, pSid1, pSid2);
  sim::Log(m, "EqualSid", {Pointer(pSid1), Pointer(pSid2)}, std::to_string(result));
  return result;
}

PVOID WINAPI FreeSid(PSID pSid) {
  Machine &m = sim::Current();
  PVOID result = sim::ShouldFail(m, "FreeSid") ? pSid : FreeSidOn(m, pSid);
  sim::Log(m, "FreeSid", {Pointer(pSid)}, Pointer(result));
  return result;
}

namespace sim {

FARPROC SecurityExport(const char *name) {
  const struct {
    const char *name;
    void (*function)(void);
  } exports[] = {
      {"OpenProcessToken", reinterpret_cast<void (*)(void)>(OpenProcessToken)},
      {"GetTokenInformation", reinterpret_cast<void (*)(void)>(GetTokenInformation)},
      {"AllocateAndInitializeSid", reinterpret_cast<void (*)(void)>(AllocateAndInitializeSid)},
      {"EqualSid", reinterpret_cast<void (*)(void)>(EqualSid)},
      {"FreeSid", reinterpret_cast<void (*)(void)>(FreeSid)},
  };
  for (const auto &known : exports)
    if (!IS_INTRESOURCE(name) && strcmp(name, known.name) == 0)
      return reinterpret_cast<FARPROC>(known.function);
  return nullptr;
}

}  // namespace sim
