// The registry under HKEY_LOCAL_MACHINE: keys and typed values matched
// regardless of case, handles that name their key by path (so a key deleted
// while open is noticed on use), access masks honoured where a scenario
// denies a right, and RegDeleteKeyA as each platform family does it.
#include <map>

#include "machine.h"

namespace sim {

namespace {
const LSTATUS kErrorBadPathname = 161;  // ERROR_BAD_PATHNAME

// Rights granted to each open handle; entries are written on every open, so
// one left over from an earlier run is never read for a live handle.
std::map<uintptr_t, REGSAM> grantedAccess;

// Splits a key path at backslashes, DBCS-aware: the platform converts an ANSI
// name to characters first, so a 0x5C trail byte never separates.
std::vector<std::string> SplitKeyPath(const Machine &m, const std::string &path) {
  std::vector<std::string> pieces(1);
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsLeadByte(m, c) && i + 1 < path.size()) {
      pieces.back() += path[i];
      pieces.back() += path[++i];
    } else if (c == '\\') {
      pieces.emplace_back();
    } else {
      pieces.back() += path[i];
    }
  }
  return pieces;
}

RegKey *FindChild(const Machine &m, RegKey &parent, const std::string &name) {
  std::string folded = Fold(m, name);
  for (auto &child : parent.subkeys)
    if (Fold(m, child->name) == folded) return child.get();
  return nullptr;
}

RegKey *AddChild(const Machine &m, RegKey &parent, const std::string &name) {
  std::string folded = Fold(m, name);
  auto at = parent.subkeys.begin();
  while (at != parent.subkeys.end() && Fold(m, (*at)->name) < folded) ++at;
  auto key = std::make_unique<RegKey>();
  key->name = name;
  return parent.subkeys.insert(at, std::move(key))->get();
}

// The helpers' lenient walk: empty pieces (doubled or outer backslashes) are skipped.
RegKey *Walk(Machine &m, const std::string &path, bool create) {
  RegKey *key = &m.localMachine;
  for (const std::string &piece : SplitKeyPath(m, path)) {
    if (piece.empty()) continue;
    RegKey *child = FindChild(m, *key, piece);
    if (!child && create) child = AddChild(m, *key, piece);
    if (!child) return nullptr;
    key = child;
  }
  return key;
}

RegValue *FindValueIn(const Machine &m, RegKey &key, const std::string &name) {
  std::string folded = Fold(m, name);
  for (RegValue &value : key.values)
    if (Fold(m, value.name) == folded) return &value;
  return nullptr;
}

void PutValue(Machine &m, const std::string &keyPath, const std::string &name, DWORD type,
              const std::string &data) {
  RegKey *key = CreateKey(m, keyPath);
  RegValue *value = FindValueIn(m, *key, name);
  if (!value) {
    key->values.push_back(RegValue{name, type, data});
    return;
  }
  value->type = type;
  value->data = data;
}
}  // namespace

RegKey *FindKey(Machine &m, const std::string &path) { return Walk(m, path, false); }

const RegKey *FindKey(const Machine &m, const std::string &path) {
  return Walk(const_cast<Machine &>(m), path, false);
}

RegKey *CreateKey(Machine &m, const std::string &path) { return Walk(m, path, true); }

void SetString(Machine &m, const std::string &keyPath, const std::string &name, const std::string &value) {
  PutValue(m, keyPath, name, REG_SZ, value + std::string(1, '\0'));
}

void SetDword(Machine &m, const std::string &keyPath, const std::string &name, DWORD value) {
  std::string data;
  for (int i = 0; i < 4; ++i) data += static_cast<char>((value >> (8 * i)) & 0xFF);
  PutValue(m, keyPath, name, REG_DWORD, data);
}

void SetBinary(Machine &m, const std::string &keyPath, const std::string &name, const std::string &bytes) {
  PutValue(m, keyPath, name, REG_BINARY, bytes);
}

const RegValue *FindValue(const Machine &m, const std::string &keyPath, const std::string &name) {
  RegKey *key = Walk(const_cast<Machine &>(m), keyPath, false);
  return key ? FindValueIn(m, *key, name) : nullptr;
}

}  // namespace sim

using sim::Machine;
using sim::RegKey;

namespace {
bool IsLocalMachine(HKEY key) { return key == HKEY_LOCAL_MACHINE; }

uintptr_t HandleValue(HKEY key) { return reinterpret_cast<uintptr_t>(key); }

std::string KeyText(HKEY key) { return sim::Hex(HandleValue(key)); }

// What a handle stands for: its key's folded path ("" for the root) and the
// rights it was opened with.
struct OpenKey {
  LSTATUS status = ERROR_SUCCESS;
  std::string path;
  REGSAM access = 0;
  RegKey *key = nullptr;
};

OpenKey Resolve(Machine &m, HKEY handle) {
  OpenKey open;
  if (IsLocalMachine(handle)) {
    open.access = KEY_ALL_ACCESS;
    open.key = &m.localMachine;
    return open;
  }
  auto it = m.openKeys.find(HandleValue(handle));
  if (it == m.openKeys.end()) {
    open.status = ERROR_INVALID_HANDLE;
    return open;
  }
  open.path = it->second;
  open.access = sim::grantedAccess[it->first];
  open.key = sim::FindKey(m, open.path);
  if (!open.key) open.status = ERROR_KEY_DELETED;
  return open;
}

std::string JoinPath(const std::string &base, const std::string &relative) {
  if (base.empty()) return relative;
  if (relative.empty()) return base;
  return base + "\\" + relative;
}

// Resolves a subkey path under an open key as the API does: a leading
// backslash is a bad path name and an empty piece names no key. One trailing
// backslash is tolerated. Gives the key and its folded path, or an error.
LSTATUS FindSubkey(Machine &m, const OpenKey &base, const char *subKey, RegKey **found, std::string *path) {
  std::string relative = subKey ? subKey : "";
  *found = base.key;
  *path = base.path;
  if (relative.empty()) return ERROR_SUCCESS;
  if (relative[0] == '\\') return sim::kErrorBadPathname;
  std::vector<std::string> pieces = sim::SplitKeyPath(m, relative);
  if (pieces.size() > 1 && pieces.back().empty()) pieces.pop_back();
  RegKey *key = base.key;
  std::string folded;
  for (const std::string &piece : pieces) {
    RegKey *child = piece.empty() ? nullptr : sim::FindChild(m, *key, piece);
    if (!child) return ERROR_FILE_NOT_FOUND;
    key = child;
    folded = JoinPath(folded, sim::Fold(m, child->name));
  }
  *found = key;
  *path = JoinPath(base.path, folded);
  return ERROR_SUCCESS;
}

HKEY NewKeyHandle(Machine &m, const std::string &path, REGSAM access) {
  uintptr_t handle = sim::NewHandle(m);
  m.openKeys[handle] = path;
  sim::grantedAccess[handle] = access;
  return reinterpret_cast<HKEY>(handle);
}

// Opens with a given access (maximumAllowed: whatever is not denied, failing
// only when nothing is left, as the default access of RegOpenKeyA does).
LSTATUS OpenKeyOn(Machine &m, HKEY parent, const char *subKey, REGSAM desired, bool maximumAllowed,
                  PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  OpenKey base = Resolve(m, parent);
  if (base.status != ERROR_SUCCESS) return base.status;
  if ((!subKey || !*subKey) && IsLocalMachine(parent)) {
    *result = parent;  // a predefined key comes back as itself
    return ERROR_SUCCESS;
  }
  RegKey *key = nullptr;
  std::string path;
  LSTATUS status = FindSubkey(m, base, subKey, &key, &path);
  if (status != ERROR_SUCCESS) return status;
  REGSAM access;
  if (maximumAllowed || (desired & MAXIMUM_ALLOWED)) {
    access = KEY_ALL_ACCESS & ~key->deniedAccess;
    if (access == 0) return ERROR_ACCESS_DENIED;
  } else {
    if (desired & key->deniedAccess) return ERROR_ACCESS_DENIED;
    access = desired;
  }
  *result = NewKeyHandle(m, path, access);
  return ERROR_SUCCESS;
}

bool SubtreeDeletable(const RegKey &key) {
  if (key.undeletable) return false;
  for (const auto &child : key.subkeys)
    if (!SubtreeDeletable(*child)) return false;
  return true;
}

RegKey *ParentOf(Machine &m, const std::string &foldedPath) {
  // By pieces, not rfind: a 0x5C trail byte is no separator.
  std::vector<std::string> pieces = sim::SplitKeyPath(m, foldedPath);
  pieces.pop_back();
  std::string parent;
  for (const std::string &piece : pieces) parent = JoinPath(parent, piece);
  return sim::FindKey(m, parent);
}

LSTATUS DeleteKeyOn(Machine &m, HKEY parent, const char *subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  OpenKey base = Resolve(m, parent);
  if (base.status != ERROR_SUCCESS) return base.status;
  RegKey *key = nullptr;
  std::string path;
  LSTATUS status = FindSubkey(m, base, subKey, &key, &path);
  if (status != ERROR_SUCCESS) return status;
  if (key == &m.localMachine) return ERROR_ACCESS_DENIED;
  if (key->deniedAccess & DELETE) return ERROR_ACCESS_DENIED;
  if (m.family == sim::Family::NT) {
    if (key->undeletable || !key->subkeys.empty()) return ERROR_ACCESS_DENIED;
  } else if (!SubtreeDeletable(*key)) {
    return ERROR_ACCESS_DENIED;
  }
  RegKey *owner = ParentOf(m, path);
  for (auto it = owner->subkeys.begin(); it != owner->subkeys.end(); ++it) {
    if (it->get() == key) {
      owner->subkeys.erase(it);
      break;
    }
  }
  return ERROR_SUCCESS;
}

LSTATUS QueryValueOn(Machine &m, HKEY handle, const char *name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                     LPDWORD size) {
  if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
  OpenKey open = Resolve(m, handle);
  if (open.status != ERROR_SUCCESS) return open.status;
  if (!(open.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  const sim::RegValue *value = sim::FindValueIn(m, *open.key, name ? name : "");
  if (!value) return ERROR_FILE_NOT_FOUND;
  DWORD needed = static_cast<DWORD>(value->data.size());
  if (type) *type = value->type;
  if (!size) return ERROR_SUCCESS;
  if (!data) {
    *size = needed;
    return ERROR_SUCCESS;
  }
  if (needed > *size) {
    *size = needed;
    return ERROR_MORE_DATA;  // the buffer is left as it was
  }
  value->data.copy(reinterpret_cast<char *>(data), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

LSTATUS EnumKeyOn(Machine &m, HKEY handle, DWORD index, LPSTR name, DWORD capacity) {
  OpenKey open = Resolve(m, handle);
  if (open.status != ERROR_SUCCESS) return open.status;
  if (!(open.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  if (index >= open.key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  const std::string &child = open.key->subkeys[index]->name;
  if (!name || child.size() + 1 > capacity) return ERROR_MORE_DATA;
  child.copy(name, child.size());
  name[child.size()] = 0;
  return ERROR_SUCCESS;
}

LSTATUS DeleteValueOn(Machine &m, HKEY handle, const char *name) {
  OpenKey open = Resolve(m, handle);
  if (open.status != ERROR_SUCCESS) return open.status;
  if (!(open.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  std::string folded = sim::Fold(m, name ? name : "");
  auto &values = open.key->values;
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (sim::Fold(m, it->name) == folded) {
      values.erase(it);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

LSTATUS CloseKeyOn(Machine &m, HKEY handle) {
  if (IsLocalMachine(handle)) return ERROR_SUCCESS;
  auto it = m.openKeys.find(HandleValue(handle));
  if (it == m.openKeys.end()) return ERROR_INVALID_HANDLE;
  sim::grantedAccess.erase(it->first);
  m.openKeys.erase(it);
  return ERROR_SUCCESS;
}

std::string Number(uint64_t value) { return std::to_string(value); }
}  // namespace

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult) {
  Machine &m = sim::Current();
  LSTATUS status = sim::ShouldFail(m, "RegOpenKeyExA")
                       ? static_cast<LSTATUS>(m.lastError)
                       : OpenKeyOn(m, hKey, lpSubKey, samDesired, false, phkResult);
  sim::Log(m, "RegOpenKeyExA", {KeyText(hKey), sim::Text(lpSubKey), Number(ulOptions), Number(samDesired)},
           Number(status));
  return status;
}

LSTATUS WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  Machine &m = sim::Current();
  LSTATUS status;
  if (sim::ShouldFail(m, "RegOpenKeyA")) {
    status = static_cast<LSTATUS>(m.lastError);
  } else if (phkResult && (!lpSubKey || !*lpSubKey) && Resolve(m, hKey).status == ERROR_SUCCESS) {
    *phkResult = hKey;  // no subkey: the same handle comes back
    status = ERROR_SUCCESS;
  } else {
    status = OpenKeyOn(m, hKey, lpSubKey, 0, true, phkResult);
  }
  sim::Log(m, "RegOpenKeyA", {KeyText(hKey), sim::Text(lpSubKey)}, Number(status));
  return status;
}

LSTATUS WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
  Machine &m = sim::Current();
  LSTATUS status = sim::ShouldFail(m, "RegEnumKeyA") ? static_cast<LSTATUS>(m.lastError)
                                                     : EnumKeyOn(m, hKey, dwIndex, lpName, cchName);
  sim::Log(m, "RegEnumKeyA", {KeyText(hKey), Number(dwIndex), Number(cchName)}, Number(status));
  return status;
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
  Machine &m = sim::Current();
  std::string capacity = lpcbData ? Number(*lpcbData) : "(null)";
  LSTATUS status = sim::ShouldFail(m, "RegQueryValueExA")
                       ? static_cast<LSTATUS>(m.lastError)
                       : QueryValueOn(m, hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
  sim::Log(m, "RegQueryValueExA",
           {KeyText(hKey), sim::Text(lpValueName), lpData ? "buffer" : "(null)", capacity}, Number(status));
  return status;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  Machine &m = sim::Current();
  LSTATUS status =
      sim::ShouldFail(m, "RegCloseKey") ? static_cast<LSTATUS>(m.lastError) : CloseKeyOn(m, hKey);
  sim::Log(m, "RegCloseKey", {KeyText(hKey)}, Number(status));
  return status;
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  Machine &m = sim::Current();
  LSTATUS status = sim::ShouldFail(m, "RegDeleteKeyA") ? static_cast<LSTATUS>(m.lastError)
                                                       : DeleteKeyOn(m, hKey, lpSubKey);
  sim::Log(m, "RegDeleteKeyA", {KeyText(hKey), sim::Text(lpSubKey)}, Number(status));
  return status;
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  Machine &m = sim::Current();
  LSTATUS status = sim::ShouldFail(m, "RegDeleteValueA") ? static_cast<LSTATUS>(m.lastError)
                                                         : DeleteValueOn(m, hKey, lpValueName);
  sim::Log(m, "RegDeleteValueA", {KeyText(hKey), sim::Text(lpValueName)}, Number(status));
  return status;
}
