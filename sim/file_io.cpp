// Files opened, read and written by handle (CreateFileA and the calls that
// take its handles), and the drives' free space. An open is refused as the
// platform refuses it: by another program holding the file without sharing,
// by an image in use (which can be read but not opened for writing), by the
// process's own handles' share modes, by the read-only attribute for write
// access, and for a directory. A file grows only as far as the free space
// allows: a write or an extension beyond it fails whole with ERROR_DISK_FULL.
// Behaviour measured under Wine 8 and held to Wine's conformance tests
// (dlls/kernel32/tests/file.c: test_file_sharing and its image mappings).
#include <string.h>

#include "machine.h"

namespace sim {

uint64_t UsedBytes(const Machine &m) {
  uint64_t used = 0;
  for (const auto &entry : m.files) used += entry.second.data.size();
  return used;
}

uint64_t FreeBytes(const Machine &m) {
  if (!m.diskLimited) return UINT64_MAX;
  const uint64_t used = UsedBytes(m);
  if (used > m.usedBytesAtSetUp) {
    const uint64_t taken = used - m.usedBytesAtSetUp;
    return taken >= m.freeBytesAtSetUp ? 0 : m.freeBytesAtSetUp - taken;
  }
  const uint64_t given = m.usedBytesAtSetUp - used;
  // Never the value that means "no limit".
  return given >= UINT64_MAX - 1 - m.freeBytesAtSetUp ? UINT64_MAX - 1 : m.freeBytesAtSetUp + given;
}

void SetFreeBytes(Machine &m, uint64_t bytes) {
  m.diskLimited = true;
  m.freeBytesAtSetUp = bytes;
  m.usedBytesAtSetUp = UsedBytes(m);
}

bool IsOpenWithoutDeleteSharing(const Machine &m, const std::string &foldedPath) {
  for (const auto &open : m.openFiles)
    if (open.second.foldedPath == foldedPath && !(open.second.share & FILE_SHARE_DELETE)) return true;
  return false;
}

namespace {
const DWORD kCreatedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// The NT family lets an open that asks for no access past any share mode;
// the 95/98 family takes it for read access (the conformance tests' is_win9x
// branch of is_sharing_compatible).
DWORD EffectiveAccess(const Machine &m, DWORD access) {
  access &= GENERIC_READ | GENERIC_WRITE;
  return !access && m.family == Family::Win9x ? GENERIC_READ : access;
}

bool Compatible(DWORD access1, DWORD share1, DWORD access2, DWORD share2) {
  if (!access1 || !access2) return true;
  if ((access1 & GENERIC_READ) && !(share2 & FILE_SHARE_READ)) return false;
  if ((access1 & GENERIC_WRITE) && !(share2 & FILE_SHARE_WRITE)) return false;
  if ((access2 & GENERIC_READ) && !(share1 & FILE_SHARE_READ)) return false;
  if ((access2 & GENERIC_WRITE) && !(share1 & FILE_SHARE_WRITE)) return false;
  return true;
}

// Whether another program, an image in use or one of the process's own
// handles keeps this open out. `writes`: the open writes (write access, or
// a truncation).
bool SharingRefuses(const Machine &m, const FileNode &node, const std::string &folded, DWORD access,
                    DWORD share, bool writes) {
  if (access && node.inUse == InUse::Open) return true;  // held without sharing
  if (writes && (node.inUse == InUse::Loaded || IsImageInUse(m, folded))) return true;
  for (const auto &open : m.openFiles)
    if (open.second.foldedPath == folded && !Compatible(open.second.access, open.second.share, access, share))
      return true;
  return false;
}

// The last character a separator, DBCS-aware: "file.txt\" names a directory.
bool EndsWithSeparator(const Machine &m, const char *name) {
  bool separator = false;
  for (const char *c = name; *c; ++c) {
    separator = *c == '\\' || *c == '/';
    if (IsLeadByte(m, static_cast<unsigned char>(*c)) && c[1]) ++c;
  }
  return separator;
}

bool ParentIsDirectory(const Machine &m, const std::string &normalized) {
  std::vector<std::string> pieces = SplitComponents(m, normalized.substr(3));
  if (pieces.size() <= 1) return true;  // in a drive's root
  std::string parent = normalized.substr(0, 2);
  for (size_t i = 0; i + 1 < pieces.size(); ++i) parent += "\\" + pieces[i];
  return IsDirectory(m, parent);
}

// A name no file can be made with (the file system's reserved characters).
bool IsInvalidName(const Machine &m, const std::string &normalized) {
  std::vector<std::string> pieces = SplitComponents(m, normalized.substr(3));
  const std::string &name = pieces.back();
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (IsLeadByte(m, c)) {
      ++i;
      continue;
    }
    if (c < 0x20 || strchr("\"*:<>?|", c)) return true;
  }
  return false;
}

// A file's contents replaced, as AddFile sets them (a new version for readers' caches).
void SetContents(Machine &m, const FileNode &node, const std::string &data) {
  std::string path = node.path;
  AddFile(m, path, data);
}

HANDLE NewFileHandle(Machine &m, const std::string &folded, DWORD access, DWORD share) {
  uintptr_t handle = NewHandle(m);
  m.openFiles[handle] = OpenFile{folded, access, share, 0};
  return reinterpret_cast<HANDLE>(handle);
}

HANDLE Refuse(Machine &m, DWORD error) {
  Fail(m, error);
  return INVALID_HANDLE_VALUE;
}

struct OpenRequest {
  const char *name;
  DWORD access;  // as EffectiveAccess gives it
  DWORD share;
  DWORD disposition;
  DWORD attributes;  // of a file made: READONLY, HIDDEN, SYSTEM asked
};

HANDLE OpenExisting(Machine &m, const OpenRequest &r, FileNode &node, const std::string &folded) {
  if (node.isDirectory) return Refuse(m, ERROR_ACCESS_DENIED);  // no backup semantics
  if (EndsWithSeparator(m, r.name)) return Refuse(m, ERROR_INVALID_NAME);
  if (r.disposition == CREATE_NEW) return Refuse(m, ERROR_FILE_EXISTS);
  const bool truncates = r.disposition == CREATE_ALWAYS || r.disposition == TRUNCATE_EXISTING;
  const bool writes = truncates || (r.access & GENERIC_WRITE);
  if (writes && (node.attributes & FILE_ATTRIBUTE_READONLY)) return Refuse(m, ERROR_ACCESS_DENIED);
  // Overwriting a hidden or system file takes the same attributes asked.
  const DWORD kept = node.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  if (r.disposition == CREATE_ALWAYS && (r.attributes & kept) != kept) return Refuse(m, ERROR_ACCESS_DENIED);
  if (SharingRefuses(m, node, folded, r.access, r.share, writes)) return Refuse(m, ERROR_SHARING_VIOLATION);
  if (truncates) {
    if (r.disposition == CREATE_ALWAYS) node.attributes = FILE_ATTRIBUTE_ARCHIVE | r.attributes;
    SetContents(m, node, "");
  }
  HANDLE handle = NewFileHandle(m, folded, r.access, r.share);
  m.lastError = r.disposition == OPEN_ALWAYS || r.disposition == CREATE_ALWAYS ? ERROR_ALREADY_EXISTS : 0;
  return handle;
}

HANDLE OpenNew(Machine &m, const OpenRequest &r, const std::string &normalized) {
  if (!ParentIsDirectory(m, normalized)) return Refuse(m, ERROR_PATH_NOT_FOUND);
  if (r.disposition == OPEN_EXISTING || r.disposition == TRUNCATE_EXISTING)
    return Refuse(m, ERROR_FILE_NOT_FOUND);
  if (EndsWithSeparator(m, r.name) || IsInvalidName(m, normalized)) return Refuse(m, ERROR_INVALID_NAME);
  AddFile(m, normalized, "");
  const std::string folded = Fold(m, normalized);
  m.files[folded].attributes = FILE_ATTRIBUTE_ARCHIVE | r.attributes;
  HANDLE handle = NewFileHandle(m, folded, r.access, r.share);
  m.lastError = 0;
  return handle;
}

HANDLE CreateFileOn(Machine &m, const OpenRequest &r) {
  if (!r.name || r.disposition < CREATE_NEW || r.disposition > TRUNCATE_EXISTING)
    return Refuse(m, ERROR_INVALID_PARAMETER);
  if (r.disposition == TRUNCATE_EXISTING && !(r.access & GENERIC_WRITE))
    return Refuse(m, ERROR_INVALID_PARAMETER);
  const std::string normalized = ResolvePath(m, r.name);
  if (normalized.empty()) return Refuse(m, ERROR_PATH_NOT_FOUND);
  if (normalized.size() == 3) return Refuse(m, ERROR_ACCESS_DENIED);  // a drive's root
  const std::string folded = Fold(m, normalized);
  auto it = m.files.find(folded);
  return it != m.files.end() ? OpenExisting(m, r, it->second, folded) : OpenNew(m, r, normalized);
}

// The open file and its node; NULL with ERROR_INVALID_HANDLE for a handle
// that is no open file.
OpenFile *OpenFileOf(Machine &m, HANDLE handle, FileNode **node) {
  auto open = m.openFiles.find(reinterpret_cast<uintptr_t>(handle));
  auto file = open == m.openFiles.end() ? m.files.end() : m.files.find(open->second.foldedPath);
  if (file == m.files.end()) {
    Fail(m, ERROR_INVALID_HANDLE);
    return nullptr;
  }
  *node = &file->second;
  return &open->second;
}

// The file at `size` bytes, zero-filled when it grows; false with
// ERROR_DISK_FULL, and the file unchanged, when the growth does not fit.
bool Resize(Machine &m, const FileNode &node, uint64_t size, const std::string *writeAt = nullptr,
            uint64_t position = 0) {
  const uint64_t old = node.data.size();
  if (size > old && size - old > FreeBytes(m)) return Fail(m, ERROR_DISK_FULL);
  std::string data = node.data;
  data.resize(size, '\0');
  if (writeAt) data.replace(position, writeAt->size(), *writeAt);
  SetContents(m, node, data);
  return true;
}

BOOL ReadOn(Machine &m, HANDLE handle, void *buffer, DWORD count, DWORD *read, const OVERLAPPED *overlapped) {
  if (!read || overlapped) return Fail(m, ERROR_INVALID_PARAMETER);
  *read = 0;
  FileNode *node = nullptr;
  OpenFile *open = OpenFileOf(m, handle, &node);
  if (!open) return FALSE;
  if (!(open->access & GENERIC_READ)) return Fail(m, ERROR_ACCESS_DENIED);
  // At or past the end a read succeeds with nothing read.
  if (open->position >= node->data.size()) return TRUE;
  const uint64_t available = node->data.size() - open->position;
  *read = static_cast<DWORD>(available < count ? available : count);
  memcpy(buffer, node->data.data() + open->position, *read);
  open->position += *read;
  return TRUE;
}

BOOL WriteOn(Machine &m, HANDLE handle, const void *bytes, DWORD count, DWORD *written,
             const OVERLAPPED *overlapped) {
  if (!written || overlapped) return Fail(m, ERROR_INVALID_PARAMETER);
  *written = 0;
  FileNode *node = nullptr;
  OpenFile *open = OpenFileOf(m, handle, &node);
  if (!open) return FALSE;
  if (!(open->access & GENERIC_WRITE)) return Fail(m, ERROR_ACCESS_DENIED);
  if (count == 0) return TRUE;
  const uint64_t end = open->position + count;
  const uint64_t size = node->data.size();
  const std::string data(static_cast<const char *>(bytes), count);
  if (!Resize(m, *node, end > size ? end : size, &data, open->position)) return FALSE;
  open->position = end;
  *written = count;
  return TRUE;
}

DWORD SetPointerOn(Machine &m, HANDLE handle, LONG distance, LONG *distanceHigh, DWORD method) {
  FileNode *node = nullptr;
  OpenFile *open = OpenFileOf(m, handle, &node);
  if (!open) return INVALID_SET_FILE_POINTER;
  int64_t base = method == FILE_BEGIN     ? 0
                 : method == FILE_CURRENT ? static_cast<int64_t>(open->position)
                 : method == FILE_END     ? static_cast<int64_t>(node->data.size())
                                          : -1;
  if (base < 0) return Fail(m, ERROR_INVALID_PARAMETER), INVALID_SET_FILE_POINTER;
  const int64_t move = distanceHigh ? static_cast<int64_t>((static_cast<uint64_t>(*distanceHigh) << 32) |
                                                           static_cast<uint32_t>(distance))
                                    : distance;
  const int64_t position = base + move;
  if (position < 0) return Fail(m, ERROR_NEGATIVE_SEEK), INVALID_SET_FILE_POINTER;
  if (!distanceHigh && position > 0xFFFFFFFELL)
    return Fail(m, ERROR_INVALID_PARAMETER), INVALID_SET_FILE_POINTER;
  open->position = static_cast<uint64_t>(position);
  if (distanceHigh) *distanceHigh = static_cast<LONG>(position >> 32);
  const DWORD low = static_cast<DWORD>(position);
  if (low == INVALID_SET_FILE_POINTER) m.lastError = 0;  // tells the caller it is no failure
  return low;
}

BOOL SetEndOn(Machine &m, HANDLE handle) {
  FileNode *node = nullptr;
  OpenFile *open = OpenFileOf(m, handle, &node);
  if (!open) return FALSE;
  if (!(open->access & GENERIC_WRITE)) return Fail(m, ERROR_ACCESS_DENIED);
  return Resize(m, *node, open->position) ? TRUE : FALSE;
}

std::string HandleText(HANDLE handle) { return Hex(reinterpret_cast<uintptr_t>(handle)); }
}  // namespace

}  // namespace sim

using sim::Machine;

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  Machine &m = sim::Current();
  HANDLE handle = INVALID_HANDLE_VALUE;
  if (!sim::ShouldFail(m, "CreateFileA")) {
    sim::OpenRequest request{lpFileName, sim::EffectiveAccess(m, dwDesiredAccess), dwShareMode,
                             dwCreationDisposition, dwFlagsAndAttributes & sim::kCreatedAttributes};
    handle = sim::CreateFileOn(m, request);
  }
  sim::Log(m, "CreateFileA",
           {sim::Text(lpFileName), sim::Hex(dwDesiredAccess), sim::Hex(dwShareMode),
            lpSecurityAttributes ? "attrs" : "(null)", std::to_string(dwCreationDisposition),
            sim::Hex(dwFlagsAndAttributes), sim::HandleText(hTemplateFile)},
           sim::HandleText(handle));
  return handle;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  Machine &m = sim::Current();
  DWORD result = INVALID_FILE_SIZE;
  sim::FileNode *node = nullptr;
  if (!sim::ShouldFail(m, "GetFileSize") && sim::OpenFileOf(m, hFile, &node)) {
    const uint64_t size = node->data.size();
    if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    result = static_cast<DWORD>(size);
  }
  sim::Log(m, "GetFileSize", {sim::HandleText(hFile), lpFileSizeHigh ? "ptr" : "(null)"},
           std::to_string(result));
  return result;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
  Machine &m = sim::Current();
  BOOL result = sim::ShouldFail(m, "ReadFile") ? FALSE
                                               : sim::ReadOn(m, hFile, lpBuffer, nNumberOfBytesToRead,
                                                             lpNumberOfBytesRead, lpOverlapped);
  sim::Log(m, "ReadFile",
           {sim::HandleText(hFile), std::to_string(nNumberOfBytesToRead),
            lpNumberOfBytesRead ? std::to_string(*lpNumberOfBytesRead) : "(null)"},
           std::to_string(result));
  return result;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  Machine &m = sim::Current();
  BOOL result = sim::ShouldFail(m, "WriteFile") ? FALSE
                                                : sim::WriteOn(m, hFile, lpBuffer, nNumberOfBytesToWrite,
                                                               lpNumberOfBytesWritten, lpOverlapped);
  sim::Log(m, "WriteFile",
           {sim::HandleText(hFile), std::to_string(nNumberOfBytesToWrite),
            lpNumberOfBytesWritten ? std::to_string(*lpNumberOfBytesWritten) : "(null)"},
           std::to_string(result));
  return result;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
  Machine &m = sim::Current();
  DWORD result = sim::ShouldFail(m, "SetFilePointer")
                     ? INVALID_SET_FILE_POINTER
                     : sim::SetPointerOn(m, hFile, lDistanceToMove, lpDistanceToMoveHigh, dwMoveMethod);
  sim::Log(m, "SetFilePointer",
           {sim::HandleText(hFile), std::to_string(lDistanceToMove), lpDistanceToMoveHigh ? "ptr" : "(null)",
            std::to_string(dwMoveMethod)},
           std::to_string(result));
  return result;
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  Machine &m = sim::Current();
  BOOL result = sim::ShouldFail(m, "SetEndOfFile") ? FALSE : sim::SetEndOn(m, hFile);
  sim::Log(m, "SetEndOfFile", {sim::HandleText(hFile)}, std::to_string(result));
  return result;
}
