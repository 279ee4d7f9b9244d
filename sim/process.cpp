// Processes, modules and memory of the running uninstaller: the version,
// its own path, libraries a scenario places on the machine, self-deletion
// (pending renames, started processes), LocalAlloc and the process's end.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "machine.h"

using sim::Machine;

namespace {
const DWORD kErrorModNotFound = 126;
const DWORD kErrorBadExeFormat = 193;
const DWORD kErrorCallNotImplemented = 120;
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
    const std::string path = sim::ExecutablePathOf(m);
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

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  Machine &m = sim::Current();
  HMODULE module = nullptr;
  if (!sim::ShouldFail(m, "LoadLibraryA")) {
    std::string folded = lpLibFileName ? sim::FoldPath(m, lpLibFileName) : "";
    const sim::Library *library = folded.empty() ? nullptr : FindLibrary(m, folded);
    if (!lpLibFileName || !sim::Exists(m, lpLibFileName) || sim::IsDirectory(m, lpLibFileName)) {
      m.lastError = kErrorModNotFound;
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
  if (!sim::ShouldFail(m, "GetProcAddress")) {
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
    m.lastError = kErrorCallNotImplemented;  // the 95/98 family has no MoveFileEx
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
      m.processes.push_back(record);
      uintptr_t process = sim::NewHandle(m);
      uintptr_t thread = sim::NewHandle(m);
      m.openHandles[process] = "process";
      m.openHandles[thread] = "thread";
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
    result = m.openHandles.erase(reinterpret_cast<uintptr_t>(hObject)) ? TRUE : FALSE;
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
