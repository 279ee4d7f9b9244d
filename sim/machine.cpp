// The machine record's common services: the current machine, running a
// process on it, case folding and path normalisation as the platform does
// them, failure injection and the call log.
#include "machine.h"

#include <ctype.h>
#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>

namespace sim {

namespace {
Machine *current = nullptr;
jmp_buf processExit;
int exitCode = 0;
Leftovers leftovers;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Drops trailing dots and spaces from a component, as the Win32 layer does.
std::string TrimComponent(const std::string &component) {
  size_t end = component.size();
  while (end > 0 && (component[end - 1] == '.' || component[end - 1] == ' ')) --end;
  if (end == 0) return component;  // "." and ".." are handled by the caller
  return component.substr(0, end);
}

}  // namespace

std::vector<std::string> SplitComponents(const Machine &m, const std::string &text) {
  std::vector<std::string> pieces;
  std::string piece;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (IsLeadByte(m, c) && i + 1 < text.size()) {
      piece += text[i];
      piece += text[++i];
      continue;
    }
    if (IsLeadByte(m, c)) break;  // a lone lead byte at the end is dropped
    if (IsSeparator(text[i])) {
      if (!piece.empty()) pieces.push_back(piece);
      piece.clear();
      continue;
    }
    piece += text[i];
  }
  if (!piece.empty()) pieces.push_back(piece);
  return pieces;
}

Machine &Current() {
  if (!current) {
    fprintf(stderr, "sim: a platform call was made outside RunProcess\n");
    abort();
  }
  return *current;
}

uintptr_t NewHandle(Machine &m) {
  m.nextHandle += 4;
  return m.nextHandle;
}

int RunProcess(Machine &machine, int (*entry)(void)) {
  current = &machine;
  machine.openKeys.clear();
  machine.openPrinters.clear();
  machine.loadedLibraries.clear();
  machine.openHandles.clear();
  machine.openTokens.clear();
  machine.childProcesses.clear();
  machine.openFiles.clear();
  machine.priorityClass = NORMAL_PRIORITY_CLASS;
  machine.threadPriority = THREAD_PRIORITY_NORMAL;
  machine.commonControlsRegistered = false;
  machine.imagePath = ExecutablePathOf(machine);
  int result;
  if (setjmp(processExit) == 0) {
    result = entry();
  } else {
    result = exitCode;
  }
  if (machine.onProcessEnd) machine.onProcessEnd();
  machine.imagePath.clear();
  leftovers.memoryBlocks = static_cast<int>(machine.allocations.size());
  leftovers.registryKeys = static_cast<int>(machine.openKeys.size());
  leftovers.printers = static_cast<int>(machine.openPrinters.size());
  leftovers.libraries = static_cast<int>(machine.loadedLibraries.size());
  leftovers.handles = static_cast<int>(machine.openHandles.size());
  leftovers.tokens = static_cast<int>(machine.openTokens.size());
  leftovers.sids = static_cast<int>(machine.sids.size());
  leftovers.files = static_cast<int>(machine.openFiles.size());
  for (void *block : machine.allocations) free(block);
  machine.allocations.clear();
  for (void *sid : machine.sids) free(sid);
  machine.sids.clear();
  machine.openTokens.clear();
  machine.childProcesses.clear();
  machine.openKeys.clear();
  machine.openPrinters.clear();
  machine.loadedLibraries.clear();
  machine.openHandles.clear();
  machine.openFiles.clear();
  current = nullptr;
  return result;
}

Leftovers LastRunLeftovers() { return leftovers; }

bool IsLeadByte(const Machine &m, unsigned char c) {
  if (m.codePage != 932) return false;
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

std::string Fold(const Machine &m, const std::string &text) {
  std::string folded = text;
  for (size_t i = 0; i < folded.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(folded[i]);
    if (IsLeadByte(m, c)) {
      ++i;  // the trail byte is part of the character, never a letter
      continue;
    }
    if (c >= 'a' && c <= 'z') folded[i] = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

// The process's current directory; a scenario's that is not a full drive
// path would make relative paths resolve to relative paths again.
static std::string CurrentDirectoryOf(const Machine &m) {
  const std::string &cwd = m.currentDirectory;
  bool full =
      cwd.size() >= 3 && isalpha(static_cast<unsigned char>(cwd[0])) && cwd[1] == ':' && IsSeparator(cwd[2]);
  return full ? cwd : "C:\\";
}

// The current directory of a drive, which "D:" and "D:dir" name: the
// process's own on its drive; on another, the directory its "=D:" variable
// holds when that names one there (Windows checks it, and takes the root
// when it does not: Wine's RtlGetFullPathName_U notes it; GetFullPathName's
// documented rules); else the root.
static std::string DriveDirectoryOf(const Machine &m, const std::string &drive,
                                    const std::string &currentDirectory) {
  if (Fold(m, currentDirectory.substr(0, 2)) == drive) return currentDirectory;
  auto it = m.driveDirectories.find(drive[0]);
  if (it != m.driveDirectories.end()) {
    const std::string &directory = it->second;
    bool onDrive =
        directory.size() >= 3 && Fold(m, directory.substr(0, 2)) == drive && IsSeparator(directory[2]);
    if (onDrive && IsDirectory(m, directory)) return directory;
  }
  return drive + "\\";
}

std::string NormalizePath(const Machine &m, const std::string &path) {
  if (path.empty()) return "";
  const std::string currentDirectory = CurrentDirectoryOf(m);
  std::string drive;
  std::string rest;
  if (path.size() >= 2 && path[1] == ':' && isalpha(static_cast<unsigned char>(path[0]))) {
    drive = std::string(1, static_cast<char>(toupper(static_cast<unsigned char>(path[0])))) + ":";
    rest = path.substr(2);
    if (rest.empty() || !IsSeparator(rest[0]))
      rest = DriveDirectoryOf(m, drive, currentDirectory).substr(2) + "\\" + rest;
  } else if (IsSeparator(path[0])) {
    if (path.size() >= 2 && IsSeparator(path[1])) return "";  // UNC: no network here
    drive = currentDirectory.substr(0, 2);
    rest = path;
  } else {
    drive = currentDirectory.substr(0, 2);
    rest = currentDirectory.substr(2) + "\\" + path;
  }
  std::vector<std::string> out;
  for (const std::string &piece : SplitComponents(m, rest)) {
    if (piece == ".") continue;
    if (piece == "..") {
      if (!out.empty()) out.pop_back();
      continue;
    }
    std::string trimmed = TrimComponent(piece);
    if (trimmed == "." || trimmed == "..") continue;
    out.push_back(trimmed);
  }
  std::string result = drive;
  if (out.empty()) return result + "\\";
  for (const std::string &piece : out) result += "\\" + piece;
  return result;
}

std::string FoldPath(const Machine &m, const std::string &path) { return Fold(m, ResolvePath(m, path)); }

bool ShouldFail(Machine &m, const char *function) {
  for (FailRule &rule : m.failRules) {
    if (rule.function != function || rule.count == 0) continue;
    if (rule.skip > 0) {
      --rule.skip;
      continue;
    }
    if (rule.count > 0) --rule.count;
    m.lastError = rule.error;
    return true;
  }
  return false;
}

std::string ExecutablePathOf(const Machine &m) {
  std::string normalized = NormalizePath(m, m.executablePath);
  return normalized.empty() ? m.executablePath : normalized;
}

BOOL Fail(Machine &m, DWORD error) {
  m.lastError = error;
  return FALSE;
}

// A 1252 machine is taken as a United States one, whose OEM code page is 437
// (Western European installations have 850; either differs from 1252, which
// is all the delete command's reading depends on).
UINT OemCodePage(const Machine &m) { return m.codePage == 932 ? 932 : 437; }

void FailNext(Machine &m, const std::string &function, int count, DWORD error, int skip) {
  m.failRules.push_back(FailRule{function, skip, count, error});
}

std::string Hex(uintptr_t value) {
  char text[32];
  snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

std::string Text(const char *maybeNull) { return maybeNull ? std::string(maybeNull) : std::string("(null)"); }

void Log(Machine &m, const char *function, std::vector<std::string> args, const std::string &result) {
  m.calls.push_back(Call{function, std::move(args), result});
  if (m.onCall) m.onCall(m.calls.back());
}

std::string Call::ToString() const {
  std::string text = name + "(";
  for (size_t i = 0; i < args.size(); ++i) text += (i ? ", " : "") + args[i];
  return text + ") = " + result;
}

std::vector<Call> CallsTo(const Machine &m, const std::string &function) {
  std::vector<Call> found;
  for (const Call &call : m.calls)
    if (call.name == function) found.push_back(call);
  return found;
}

std::vector<std::string> CallNames(const Machine &m) {
  std::vector<std::string> names;
  for (const Call &call : m.calls) names.push_back(call.name);
  return names;
}

[[noreturn]] void EndProcess(int code) {
  exitCode = code;
  longjmp(processExit, 1);
}

}  // namespace sim
