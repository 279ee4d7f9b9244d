// Processes, modules and memory of the running uninstaller: the version,
// its own path, the system libraries it imports and those a scenario places
// on the machine, priorities, self-deletion (pending renames, started
// processes), LocalAlloc and the process's end; CloseHandle for every kind
// of handle it holds.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "machine.h"

namespace sim {
const SystemModule kSystemModules[5] = {{"KERNEL32.DLL", 0x77E80000},
                                        {"USER32.DLL", 0x77E10000},
                                        {"ADVAPI32.DLL", kAdvapi32Handle},
                                        {"COMCTL32.DLL", 0x71700000},
                                        {"WINSPOOL.DRV", 0x77800000}};
}  // namespace sim

using sim::Machine;

namespace {
bool IsSystemModule(uintptr_t handle) {
  for (const sim::SystemModule &module : sim::kSystemModules)
    if (module.handle == handle) return true;
  return false;
}

const DWORD kErrorBadExeFormat = 193;
const DWORD kVersionNt4 = 0x05650004;    // NT 4.0, build 1381
const DWORD kVersionWin98 = 0xC0000A04;  // 4.10, high bit set

// The library whose CheckUserPrivilege the process last looked up.
const sim::Library *privilegeLibrary = nullptr;

const sim::Library *FindLibrary(const Machine &m, const std::string &foldedPath) {
  for (const sim::Library &library : m.libraries)
    if (sim::FoldPath(m, library.path) == foldedPath) return &library;
  return nullptr;
}

// The export a scenario's _SETUP.DLL offers: two 32-bit arguments, callee
// pops them; it may write the caller's 4-byte variable.
DWORD WINAPI SimCheckUserPrivilege(DWORD reserved, LPVOID result) {
  Machine &m = sim::Current();
  DWORD answer = privilegeLibrary ? privilegeLibrary->checkUserPrivilegeResult : 0;
  if (result) *static_cast<DWORD *>(result) = 0xDEADBEEF;
  sim::Log(m, "CheckUserPrivilege", {std::to_string(reserved), result ? "ptr" : "(null)"},
           std::to_string(answer));
  return answer;
}
}  // namespace

DWORD WINAPI GetVersion(void) {
  Machine &m = sim::Current();
  DWORD version = m.family == sim::Family::NT ? kVersionNt4 : kVersionWin98;
  sim::Log(m, "GetVersion", {}, sim::Hex(version));
  return version;
}

DWORD WINAPI GetLastError(void) { return sim::Current().lastError; }

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  Machine &m = sim::Current();
  DWORD result = 0;
  if (!sim::ShouldFail(m, "GetModuleFileNameA") && nSize > 0) {
    const std::string &path = m.imagePath;
    if (path.size() < nSize) {
      path.copy(lpFilename, path.size());
      lpFilename[path.size()] = 0;
      result = static_cast<DWORD>(path.size());
    } else {
      // Cut to the buffer, terminated, and the full size returned: the caller
      // can only tell by the result that the path is not whole.
      path.copy(lpFilename, nSize - 1);
      lpFilename[nSize - 1] = 0;
      result = nSize;
      m.lastError = ERROR_INSUFFICIENT_BUFFER;
    }
  }
  sim::Log(m, "GetModuleFileNameA", {sim::Hex(reinterpret_cast<uintptr_t>(hModule)), std::to_string(nSize)},
           std::to_string(result));
  return result;
}

namespace {
// "advapi32", "ADVAPI32.DLL": a name without extension is given ".DLL", as
// the loader does (so "WINSPOOL" is not WINSPOOL.DRV).
std::string ModuleFileName(const Machine &m, const std::string &name) {
  std::string folded = sim::Fold(m, name);
  size_t dot = folded.find_last_of(".\\/");
  if (dot == std::string::npos || folded[dot] != '.') folded += ".DLL";
  return folded;
}

HMODULE ModuleHandleOf(Machine &m, const char *name) {
  if (!name) return reinterpret_cast<HMODULE>(sim::kInstanceHandle);
  const std::string file = ModuleFileName(m, name);
  for (const sim::SystemModule &module : sim::kSystemModules)
    if (file == module.name) return reinterpret_cast<HMODULE>(module.handle);
  // A library the process loaded, by its full path or its file name.
  for (const auto &loaded : m.loadedLibraries) {
    size_t slash = loaded.second.find_last_of('\\');
    if (sim::FoldPath(m, name) == loaded.second || file == loaded.second.substr(slash + 1))
      return reinterpret_cast<HMODULE>(loaded.first);
  }
  m.lastError = ERROR_MOD_NOT_FOUND;
  return nullptr;
}
}  // namespace

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  Machine &m = sim::Current();
  HMODULE module = sim::ShouldFail(m, "GetModuleHandleA") ? nullptr : ModuleHandleOf(m, lpModuleName);
  sim::Log(m, "GetModuleHandleA", {sim::Text(lpModuleName)}, sim::Hex(reinterpret_cast<uintptr_t>(module)));
  return module;
}

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  Machine &m = sim::Current();
  HMODULE module = nullptr;
  if (!sim::ShouldFail(m, "LoadLibraryA")) {
    std::string folded = lpLibFileName ? sim::FoldPath(m, lpLibFileName) : "";
    const sim::Library *library = folded.empty() ? nullptr : FindLibrary(m, folded);
    if (!lpLibFileName || !sim::Exists(m, lpLibFileName) || sim::IsDirectory(m, lpLibFileName)) {
      m.lastError = ERROR_MOD_NOT_FOUND;
    } else if (!library) {
      m.lastError = kErrorBadExeFormat;
    } else {
      uintptr_t handle = sim::NewHandle(m);
      m.loadedLibraries[handle] = folded;
      module = reinterpret_cast<HMODULE>(handle);
    }
  }
  sim::Log(m, "LoadLibraryA", {sim::Text(lpLibFileName)}, sim::Hex(reinterpret_cast<uintptr_t>(module)));
  return module;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  Machine &m = sim::Current();
  FARPROC proc = nullptr;
  if (sim::ShouldFail(m, "GetProcAddress")) {
  } else if (IsSystemModule(reinterpret_cast<uintptr_t>(hModule))) {
    proc = reinterpret_cast<uintptr_t>(hModule) == sim::kAdvapi32Handle ? sim::SecurityExport(lpProcName)
                                                                        : nullptr;
    if (!proc) m.lastError = ERROR_PROC_NOT_FOUND;
  } else {
    auto loaded = m.loadedLibraries.find(reinterpret_cast<uintptr_t>(hModule));
    const sim::Library *library =
        loaded == m.loadedLibraries.end() ? nullptr : FindLibrary(m, loaded->second);
    if (!library) {
      m.lastError = ERROR_INVALID_HANDLE;
    } else if (lpProcName && std::string(lpProcName) == "CheckUserPrivilege" &&
               library->exportsCheckUserPrivilege) {
      privilegeLibrary = library;
      proc = reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(SimCheckUserPrivilege));
    } else {
      m.lastError = ERROR_PROC_NOT_FOUND;
    }
  }
  sim::Log(m, "GetProcAddress", {sim::Hex(reinterpret_cast<uintptr_t>(hModule)), sim::Text(lpProcName)},
           proc ? "proc" : "(null)");
  return proc;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  Machine &m = sim::Current();
  BOOL result = FALSE;
  if (!sim::ShouldFail(m, "FreeLibrary")) {
    result = m.loadedLibraries.erase(reinterpret_cast<uintptr_t>(hLibModule)) ? TRUE : FALSE;
    if (!result) m.lastError = ERROR_INVALID_HANDLE;
  }
  sim::Log(m, "FreeLibrary", {sim::Hex(reinterpret_cast<uintptr_t>(hLibModule))}, std::to_string(result));
  return result;
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  Machine &m = sim::Current();
  BOOL result = FALSE;
  if (sim::ShouldFail(m, "MoveFileExA")) {
  } else if (m.family == sim::Family::Win9x) {
    m.lastError = ERROR_CALL_NOT_IMPLEMENTED;  // the 95/98 family has no MoveFileEx
  } else if (!lpExistingFileName) {
    m.lastError = ERROR_INVALID_PARAMETER;
  } else if (lpNewFileName == nullptr && (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT)) {
    m.pendingDeletes.push_back(lpExistingFileName);
    result = TRUE;
  } else {
    m.lastError = ERROR_NOT_SUPPORTED;  // only deletion at restart is simulated
  }
  sim::Log(m, "MoveFileExA",
           {sim::Text(lpExistingFileName), sim::Text(lpNewFileName), std::to_string(dwFlags)},
           std::to_string(result));
  return result;
}

namespace {
const DWORD kPriorityClasses[] = {IDLE_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS, HIGH_PRIORITY_CLASS,
                                  REALTIME_PRIORITY_CLASS};

bool IsPriorityClass(DWORD value) {
  for (DWORD known : kPriorityClasses)
    if (value == known) return true;
  return false;
}

// The class a new process gets: the one its flags name, else normal, but an
// idle creator's children are idle too.
DWORD ChildPriorityClass(const Machine &m, DWORD creationFlags) {
  DWORD named = 0;
  for (DWORD known : kPriorityClasses) named |= creationFlags & known;
  if (named) return named;
  return m.priorityClass == IDLE_PRIORITY_CLASS ? IDLE_PRIORITY_CLASS : NORMAL_PRIORITY_CLASS;
}

// In the at-start mode a delete command runs at once, unless a strict-priority
// scheduler keeps it waiting for the uninstaller (see DeleteCommandRuns).
void RunAtStartIfDue(Machine &m, sim::ProcessRecord &record) {
  if (m.deleteCommandRuns != sim::DeleteCommandRuns::AtStart || !sim::IsDeleteCommand(m, record.commandLine))
    return;
  if (record.priorityClass == IDLE_PRIORITY_CLASS && m.priorityClass != IDLE_PRIORITY_CLASS) return;
  sim::RestartEntry ran = sim::RunDeleteCommand(m, record.commandLine, true);
  record.ranName = ran.path;
  record.ranOutcome = ran.outcome;
}
}  // namespace

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                           LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
  Machine &m = sim::Current();
  BOOL result = FALSE;
  if (!sim::ShouldFail(m, "CreateProcessA")) {
    if (!lpStartupInfo || !lpProcessInformation || (!lpApplicationName && !lpCommandLine)) {
      m.lastError = ERROR_INVALID_PARAMETER;
    } else {
      sim::ProcessRecord record;
      record.applicationName = lpApplicationName ? lpApplicationName : "";
      record.commandLine = lpCommandLine ? lpCommandLine : "";
      record.inheritHandles = bInheritHandles;
      record.creationFlags = dwCreationFlags;
      record.environmentIsNull = lpEnvironment == nullptr;
      record.currentDirectoryIsNull = lpCurrentDirectory == nullptr;
      record.startupCb = lpStartupInfo->cb;
      record.startupFlags = lpStartupInfo->dwFlags;
      record.startupShowWindow = lpStartupInfo->wShowWindow;
      record.priorityClass = ChildPriorityClass(m, dwCreationFlags);
      RunAtStartIfDue(m, record);
      m.processes.push_back(record);
      uintptr_t process = sim::NewHandle(m);
      uintptr_t thread = sim::NewHandle(m);
      m.openHandles[process] = "process";
      m.openHandles[thread] = "thread";
      m.childProcesses[process] = m.processes.size() - 1;
      lpProcessInformation->hProcess = reinterpret_cast<HANDLE>(process);
      lpProcessInformation->hThread = reinterpret_cast<HANDLE>(thread);
      lpProcessInformation->dwProcessId = static_cast<DWORD>(m.processes.size() + 100);
      lpProcessInformation->dwThreadId = static_cast<DWORD>(m.processes.size() + 200);
      result = TRUE;
    }
  }
  (void)lpProcessAttributes;
  (void)lpThreadAttributes;
  sim::Log(m, "CreateProcessA",
           {sim::Text(lpApplicationName), sim::Text(lpCommandLine), lpProcessAttributes ? "attrs" : "(null)",
            lpThreadAttributes ? "attrs" : "(null)", std::to_string(bInheritHandles),
            std::to_string(dwCreationFlags), lpEnvironment ? "env" : "(null)", sim::Text(lpCurrentDirectory)},
           std::to_string(result));
  return result;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  Machine &m = sim::Current();
  BOOL result = FALSE;
  if (!sim::ShouldFail(m, "CloseHandle")) {
    uintptr_t handle = reinterpret_cast<uintptr_t>(hObject);
    m.childProcesses.erase(handle);
    // Closing a pseudo-handle does nothing and succeeds.
    result = m.openHandles.erase(handle) || m.openTokens.erase(handle) || m.openFiles.erase(handle) ||
                     handle == sim::kCurrentProcessHandle || handle == sim::kCurrentThreadHandle
                 ? TRUE
                 : FALSE;
    if (!result) m.lastError = ERROR_INVALID_HANDLE;
  }
  sim::Log(m, "CloseHandle", {sim::Hex(reinterpret_cast<uintptr_t>(hObject))}, std::to_string(result));
  return result;
}

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  Machine &m = sim::Current();
  void *block = nullptr;
  if (!sim::ShouldFail(m, "LocalAlloc")) {
    block = (uFlags & LMEM_ZEROINIT) ? calloc(1, uBytes ? uBytes : 1) : malloc(uBytes ? uBytes : 1);
    if (block)
      m.allocations.push_back(block);
    else
      m.lastError = ERROR_NOT_ENOUGH_MEMORY;
  } else {
    m.lastError = ERROR_NOT_ENOUGH_MEMORY;
  }
  sim::Log(m, "LocalAlloc", {std::to_string(uFlags), std::to_string(uBytes)}, block ? "block" : "(null)");
  return block;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  Machine &m = sim::Current();
  HLOCAL result = hMem;
  for (size_t i = 0; i < m.allocations.size(); ++i) {
    if (m.allocations[i] != hMem) continue;
    free(hMem);
    m.allocations.erase(m.allocations.begin() + static_cast<long>(i));
    result = nullptr;
    break;
  }
  if (!hMem)
    result = nullptr;
  else if (result)
    m.lastError = ERROR_INVALID_HANDLE;
  sim::Log(m, "LocalFree", {hMem ? "block" : "(null)"}, result ? "failed" : "(null)");
  return result;
}

void WINAPI ExitProcess(UINT uExitCode) {
  Machine &m = sim::Current();
  sim::Log(m, "ExitProcess", {std::to_string(uExitCode)}, "");
  sim::EndProcess(static_cast<int>(uExitCode));
}

HANDLE WINAPI GetCurrentProcess(void) {
  Machine &m = sim::Current();
  sim::Log(m, "GetCurrentProcess", {}, sim::Hex(sim::kCurrentProcessHandle));
  return reinterpret_cast<HANDLE>(sim::kCurrentProcessHandle);
}

HANDLE WINAPI GetCurrentThread(void) {
  Machine &m = sim::Current();
  sim::Log(m, "GetCurrentThread", {}, sim::Hex(sim::kCurrentThreadHandle));
  return reinterpret_cast<HANDLE>(sim::kCurrentThreadHandle);
}

namespace {
BOOL SetPriorityClassOn(Machine &m, HANDLE process, DWORD priorityClass) {
  uintptr_t handle = reinterpret_cast<uintptr_t>(process);
  auto child = m.childProcesses.find(handle);
  if (handle != sim::kCurrentProcessHandle && child == m.childProcesses.end())
    return sim::Fail(m, ERROR_INVALID_HANDLE), FALSE;
  if (!IsPriorityClass(priorityClass)) return sim::Fail(m, ERROR_INVALID_PARAMETER), FALSE;
  if (child == m.childProcesses.end())
    m.priorityClass = priorityClass;
  else
    m.processes[child->second].priorityClass = priorityClass;
  return TRUE;
}

bool IsThreadPriority(int priority) {
  return priority == THREAD_PRIORITY_IDLE || priority == THREAD_PRIORITY_TIME_CRITICAL ||
         (priority >= THREAD_PRIORITY_LOWEST && priority <= THREAD_PRIORITY_HIGHEST);
}

// Only the process's own main thread is kept; a started process's thread is
// accepted and not simulated.
BOOL SetThreadPriorityOn(Machine &m, HANDLE thread, int priority) {
  uintptr_t handle = reinterpret_cast<uintptr_t>(thread);
  auto open = m.openHandles.find(handle);
  bool childThread = open != m.openHandles.end() && open->second == "thread";
  if (handle != sim::kCurrentThreadHandle && !childThread) return sim::Fail(m, ERROR_INVALID_HANDLE), FALSE;
  if (!IsThreadPriority(priority)) return sim::Fail(m, ERROR_INVALID_PARAMETER), FALSE;
  if (!childThread) m.threadPriority = priority;
  return TRUE;
}
}  // namespace

BOOL WINAPI SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass) {
  Machine &m = sim::Current();
  BOOL result =
      sim::ShouldFail(m, "SetPriorityClass") ? FALSE : SetPriorityClassOn(m, hProcess, dwPriorityClass);
  sim::Log(m, "SetPriorityClass",
           {sim::Hex(reinterpret_cast<uintptr_t>(hProcess)), sim::Hex(dwPriorityClass)},
           std::to_string(result));
  return result;
}

BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority) {
  Machine &m = sim::Current();
  BOOL result = sim::ShouldFail(m, "SetThreadPriority") ? FALSE : SetThreadPriorityOn(m, hThread, nPriority);
  sim::Log(m, "SetThreadPriority",
           {sim::Hex(reinterpret_cast<uintptr_t>(hThread)), std::to_string(nPriority)},
           std::to_string(result));
  return result;
}

UINT WINAPI GetACP(void) {
  Machine &m = sim::Current();
  sim::Log(m, "GetACP", {}, std::to_string(m.codePage));
  return m.codePage;
}

UINT WINAPI GetOEMCP(void) {
  Machine &m = sim::Current();
  UINT oem = sim::OemCodePage(m);
  sim::Log(m, "GetOEMCP", {}, std::to_string(oem));
  return oem;
}

// Not logged: path scans ask once per byte, which would drown the log.
BOOL WINAPI IsDBCSLeadByte(BYTE TestChar) { return sim::IsLeadByte(sim::Current(), TestChar) ? TRUE : FALSE; }

int WINAPIV wsprintfA(LPSTR buffer, LPCSTR format, ...) {
  Machine &m = sim::Current();
  // The platform writes at most 1024 bytes, terminator included.
  char text[1024];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length < 0) length = 0;
  if (length > 1023) length = 1023;
  memcpy(buffer, text, static_cast<size_t>(length));
  buffer[length] = 0;
  sim::Log(m, "wsprintfA", {sim::Text(format)}, std::string(buffer));
  return length;
}
