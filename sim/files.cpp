// Files and directories of the simulated drives. Paths resolve as the Win32
// layer resolves them (see NormalizePath); drive roots always exist. The
// running executable cannot be deleted, as its image is in use.
#include "machine.h"

namespace sim {

namespace {
const DWORD kErrorDirectory = 267;  // ERROR_DIRECTORY: the name is not a directory

bool IsRoot(const std::string &normalized) { return normalized.size() == 3 && normalized[2] == '\\'; }

// The last separator is found DBCS-aware: a trail byte 0x5C ends no component.
std::string ParentOf(const Machine &m, const std::string &normalized) {
  size_t cut = std::string::npos;
  for (size_t i = 0; i < normalized.size(); ++i) {
    if (IsLeadByte(m, static_cast<unsigned char>(normalized[i])))
      ++i;
    else if (normalized[i] == '\\')
      cut = i;
  }
  if (cut == std::string::npos || IsRoot(normalized)) return "";
  if (cut == 2) return normalized.substr(0, 3);
  return normalized.substr(0, cut);
}

const FileNode *Find(const Machine &m, const std::string &path) {
  auto it = m.files.find(FoldPath(m, path));
  return it == m.files.end() ? nullptr : &it->second;
}

bool HasChildren(const Machine &m, const std::string &foldedDirectory) {
  std::string prefix = foldedDirectory + "\\";
  auto it = m.files.lower_bound(prefix);
  return it != m.files.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

bool ParentExists(const Machine &m, const std::string &normalized) {
  std::string parent = ParentOf(m, normalized);
  return parent.empty() || IsRoot(parent) || IsDirectory(m, parent);
}

BOOL Fail(Machine &m, DWORD error) {
  m.lastError = error;
  return FALSE;
}
}  // namespace

namespace {
// The node for path, with its parent directories made; NULL for a root or an
// invalid path.
FileNode *Place(Machine &m, const std::string &path) {
  std::string normalized = NormalizePath(m, path);
  if (normalized.empty() || IsRoot(normalized)) return nullptr;
  std::string parent = ParentOf(m, normalized);
  if (!parent.empty()) AddDirectory(m, parent);
  FileNode &node = m.files[Fold(m, normalized)];
  if (node.path.empty()) node.path = normalized;
  return &node;
}
}  // namespace

void AddDirectory(Machine &m, const std::string &path) {
  FileNode *node = Place(m, path);
  if (node) node->isDirectory = true;
}

void AddFile(Machine &m, const std::string &path, const std::string &data) {
  FileNode *node = Place(m, path);
  if (!node) return;
  static uint64_t lastVersion = 0;
  node->isDirectory = false;
  node->data = data;
  node->version = ++lastVersion;
}

bool Exists(const Machine &m, const std::string &path) {
  std::string normalized = NormalizePath(m, path);
  return !normalized.empty() && (IsRoot(normalized) || Find(m, normalized) != nullptr);
}

bool IsDirectory(const Machine &m, const std::string &path) {
  std::string normalized = NormalizePath(m, path);
  if (normalized.empty()) return false;
  if (IsRoot(normalized)) return true;
  const FileNode *node = Find(m, normalized);
  return node && node->isDirectory;
}

bool IsEmptyDirectory(const Machine &m, const std::string &path) {
  const FileNode *node = Find(m, path);
  return node && node->isDirectory && !HasChildren(m, Fold(m, node->path));
}

void Lock(Machine &m, const std::string &path) {
  auto it = m.files.find(FoldPath(m, path));
  if (it != m.files.end()) it->second.locked = true;
}

}  // namespace sim

using sim::Machine;

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  Machine &m = sim::Current();
  UINT result = 0;
  if (!sim::ShouldFail(m, "GetWindowsDirectoryA")) {
    const std::string &directory = m.windowsDirectory;
    if (directory.size() + 1 > uSize) {
      result = static_cast<UINT>(directory.size() + 1);  // the size needed; buffer untouched
    } else {
      directory.copy(lpBuffer, directory.size());
      lpBuffer[directory.size()] = 0;
      result = static_cast<UINT>(directory.size());
    }
  }
  sim::Log(m, "GetWindowsDirectoryA", {std::to_string(uSize)}, std::to_string(result));
  return result;
}

namespace {
// Whether the name's last character is a separator, DBCS-aware.
bool EndsWithSeparator(const Machine &m, const char *name) {
  bool separator = false;
  for (const char *c = name; *c; ++c) {
    separator = *c == '\\' || *c == '/';
    if (sim::IsLeadByte(m, static_cast<unsigned char>(*c)) && c[1]) ++c;
  }
  return separator;
}

BOOL DeleteFileOn(Machine &m, const char *name) {
  if (!name) return sim::Fail(m, ERROR_INVALID_PARAMETER), FALSE;
  std::string normalized = sim::NormalizePath(m, name);
  if (normalized.empty()) return sim::Fail(m, ERROR_PATH_NOT_FOUND), FALSE;
  auto it = m.files.find(sim::Fold(m, normalized));
  if (it == m.files.end())
    return sim::Fail(m, sim::ParentExists(m, normalized) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND),
           FALSE;
  if (it->second.isDirectory) return sim::Fail(m, ERROR_ACCESS_DENIED), FALSE;
  // "file.txt\\" names a directory: the platform opens no file by it.
  if (EndsWithSeparator(m, name)) return sim::Fail(m, ERROR_INVALID_NAME), FALSE;
  if (it->second.locked) return sim::Fail(m, ERROR_SHARING_VIOLATION), FALSE;
  if (sim::FoldPath(m, m.executablePath) == it->first) return sim::Fail(m, ERROR_ACCESS_DENIED), FALSE;
  m.files.erase(it);
  return TRUE;
}

BOOL RemoveDirectoryOn(Machine &m, const char *name) {
  if (!name) return sim::Fail(m, ERROR_INVALID_PARAMETER), FALSE;
  std::string normalized = sim::NormalizePath(m, name);
  if (normalized.empty()) return sim::Fail(m, ERROR_PATH_NOT_FOUND), FALSE;
  if (sim::IsRoot(normalized)) return sim::Fail(m, ERROR_ACCESS_DENIED), FALSE;
  std::string folded = sim::Fold(m, normalized);
  // The process's current directory is in use and cannot be removed.
  if (folded == sim::FoldPath(m, m.currentDirectory)) return sim::Fail(m, ERROR_SHARING_VIOLATION), FALSE;
  auto it = m.files.find(folded);
  if (it == m.files.end())
    return sim::Fail(m, sim::ParentExists(m, normalized) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND),
           FALSE;
  if (!it->second.isDirectory) return sim::Fail(m, sim::kErrorDirectory), FALSE;
  if (it->second.locked) return sim::Fail(m, ERROR_SHARING_VIOLATION), FALSE;
  if (sim::HasChildren(m, folded)) return sim::Fail(m, ERROR_DIR_NOT_EMPTY), FALSE;
  m.files.erase(it);
  return TRUE;
}
}  // namespace

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  Machine &m = sim::Current();
  BOOL result = sim::ShouldFail(m, "DeleteFileA") ? FALSE : DeleteFileOn(m, lpFileName);
  sim::Log(m, "DeleteFileA", {sim::Text(lpFileName)}, std::to_string(result));
  return result;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
  Machine &m = sim::Current();
  BOOL result = sim::ShouldFail(m, "RemoveDirectoryA") ? FALSE : RemoveDirectoryOn(m, lpPathName);
  sim::Log(m, "RemoveDirectoryA", {sim::Text(lpPathName)}, std::to_string(result));
  return result;
}
