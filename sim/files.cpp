// Files and directories of the simulated drives and their attributes. Paths
// resolve as the Win32 layer resolves them (see ResolvePath); drive roots
// always exist. The running executable and the libraries it has loaded cannot
// be deleted, as their images are in use; nor can a read-only file.
#include "machine.h"

namespace sim {

namespace {
const DWORD kSettableAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

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

}  // namespace

namespace {
// The node for path, with its parent directories made (on 95/98 each new one
// with its alias); NULL for a root or an invalid path.
FileNode *Place(Machine &m, const std::string &path, bool directory) {
  std::string normalized = ResolvePath(m, path);
  if (normalized.empty() || IsRoot(normalized)) return nullptr;
  std::string parent = ParentOf(m, normalized);
  if (!parent.empty()) AddDirectory(m, parent);
  FileNode &node = m.files[Fold(m, normalized)];
  if (node.path.empty()) {
    node.path = normalized;
    node.attributes = directory ? 0 : FILE_ATTRIBUTE_ARCHIVE;
    MakeAlias(m, node);
  }
  return &node;
}
}  // namespace

void AddDirectory(Machine &m, const std::string &path) {
  FileNode *node = Place(m, path, true);
  if (node) node->isDirectory = true;
}

void AddFile(Machine &m, const std::string &path, const std::string &data) {
  FileNode *node = Place(m, path, false);
  if (!node) return;
  static uint64_t lastVersion = 0;
  node->isDirectory = false;
  node->data = data;
  node->version = ++lastVersion;
}

bool Exists(const Machine &m, const std::string &path) {
  std::string normalized = ResolvePath(m, path);
  return !normalized.empty() && (IsRoot(normalized) || Find(m, normalized) != nullptr);
}

bool IsDirectory(const Machine &m, const std::string &path) {
  std::string normalized = ResolvePath(m, path);
  if (normalized.empty()) return false;
  if (IsRoot(normalized)) return true;
  const FileNode *node = Find(m, normalized);
  return node && node->isDirectory;
}

bool IsEmptyDirectory(const Machine &m, const std::string &path) {
  const FileNode *node = Find(m, path);
  return node && node->isDirectory && !HasChildren(m, Fold(m, node->path));
}

void Lock(Machine &m, const std::string &path, InUse how) {
  auto it = m.files.find(FoldPath(m, path));
  if (it != m.files.end()) it->second.inUse = how;
}

bool SetAttributes(Machine &m, const std::string &path, DWORD attributes) {
  auto it = m.files.find(FoldPath(m, path));
  if (it == m.files.end()) return false;
  it->second.attributes = attributes & kSettableAttributes;
  return true;
}

bool IsImageInUse(const Machine &m, const std::string &foldedPath) {
  if (!m.imagePath.empty() && FoldPath(m, m.imagePath) == foldedPath) return true;
  for (const auto &library : m.loadedLibraries)
    if (library.second == foldedPath) return true;
  return false;
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
  std::string normalized = sim::ResolvePath(m, name);
  if (normalized.empty()) return sim::Fail(m, ERROR_PATH_NOT_FOUND), FALSE;
  auto it = m.files.find(sim::Fold(m, normalized));
  if (it == m.files.end())
    return sim::Fail(m, sim::ParentExists(m, normalized) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND),
           FALSE;
  if (it->second.isDirectory) return sim::Fail(m, ERROR_ACCESS_DENIED), FALSE;
  // "file.txt\\" names a directory: the platform opens no file by it.
  if (EndsWithSeparator(m, name)) return sim::Fail(m, ERROR_INVALID_NAME), FALSE;
  if (it->second.inUse == sim::InUse::Open || sim::IsOpenWithoutDeleteSharing(m, it->first))
    return sim::Fail(m, ERROR_SHARING_VIOLATION), FALSE;
  if (it->second.attributes & FILE_ATTRIBUTE_READONLY) return sim::Fail(m, ERROR_ACCESS_DENIED), FALSE;
  if (it->second.inUse == sim::InUse::Loaded || sim::IsImageInUse(m, it->first))
    return sim::Fail(m, ERROR_ACCESS_DENIED), FALSE;
  m.files.erase(it);
  return TRUE;
}

BOOL RemoveDirectoryOn(Machine &m, const char *name) {
  if (!name) return sim::Fail(m, ERROR_INVALID_PARAMETER), FALSE;
  std::string normalized = sim::ResolvePath(m, name);
  if (normalized.empty()) return sim::Fail(m, ERROR_PATH_NOT_FOUND), FALSE;
  if (sim::IsRoot(normalized)) return sim::Fail(m, ERROR_ACCESS_DENIED), FALSE;
  std::string folded = sim::Fold(m, normalized);
  // The process's current directory is in use and cannot be removed.
  if (folded == sim::FoldPath(m, m.currentDirectory)) return sim::Fail(m, ERROR_SHARING_VIOLATION), FALSE;
  auto it = m.files.find(folded);
  if (it == m.files.end())
    return sim::Fail(m, sim::ParentExists(m, normalized) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND),
           FALSE;
  if (!it->second.isDirectory) return sim::Fail(m, ERROR_DIRECTORY), FALSE;
  if (it->second.inUse != sim::InUse::No) return sim::Fail(m, ERROR_SHARING_VIOLATION), FALSE;
  // The attribute does not stop files being made inside, but the directory
  // itself can't be deleted while it is set (as for a file).
  if (it->second.attributes & FILE_ATTRIBUTE_READONLY) return sim::Fail(m, ERROR_ACCESS_DENIED), FALSE;
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

namespace {
// The node a Get/SetFileAttributesA name reaches, or NULL with the error set;
// a drive root has no node and is given as `*root`.
sim::FileNode *AttributesNode(Machine &m, const char *name, bool *root) {
  *root = false;
  if (!name) return sim::Fail(m, ERROR_INVALID_PARAMETER), nullptr;
  std::string normalized = sim::ResolvePath(m, name);
  if (normalized.empty()) return sim::Fail(m, ERROR_PATH_NOT_FOUND), nullptr;
  if (sim::IsRoot(normalized)) return *root = true, nullptr;
  auto it = m.files.find(sim::Fold(m, normalized));
  if (it == m.files.end())
    return sim::Fail(m, sim::ParentExists(m, normalized) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND),
           nullptr;
  if (!it->second.isDirectory && EndsWithSeparator(m, name)) return sim::Fail(m, ERROR_INVALID_NAME), nullptr;
  return &it->second;
}

DWORD GetAttributesOn(Machine &m, const char *name) {
  bool root = false;
  const sim::FileNode *node = AttributesNode(m, name, &root);
  if (root) return FILE_ATTRIBUTE_DIRECTORY;
  if (!node) return INVALID_FILE_ATTRIBUTES;
  if (node->isDirectory) return node->attributes | FILE_ATTRIBUTE_DIRECTORY;
  return node->attributes ? node->attributes : FILE_ATTRIBUTE_NORMAL;
}

// NORMAL counts only alone; DIRECTORY and every bit the stand-in does not
// keep are ignored, as the platform ignores what it can't set.
BOOL SetAttributesOn(Machine &m, const char *name, DWORD attributes) {
  bool root = false;
  sim::FileNode *node = AttributesNode(m, name, &root);
  if (root) return sim::Fail(m, ERROR_ACCESS_DENIED), FALSE;
  if (!node) return FALSE;
  node->attributes = attributes & sim::kSettableAttributes;
  return TRUE;
}
}  // namespace

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
  Machine &m = sim::Current();
  DWORD result =
      sim::ShouldFail(m, "GetFileAttributesA") ? INVALID_FILE_ATTRIBUTES : GetAttributesOn(m, lpFileName);
  sim::Log(m, "GetFileAttributesA", {sim::Text(lpFileName)}, sim::Hex(result));
  return result;
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  Machine &m = sim::Current();
  BOOL result =
      sim::ShouldFail(m, "SetFileAttributesA") ? FALSE : SetAttributesOn(m, lpFileName, dwFileAttributes);
  sim::Log(m, "SetFileAttributesA", {sim::Text(lpFileName), sim::Hex(dwFileAttributes)},
           std::to_string(result));
  return result;
}
