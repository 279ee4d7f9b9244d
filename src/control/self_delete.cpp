// Self-deletion: the executable can't delete itself while it runs. On the NT
// family it is deleted at the next restart, and with it the folders the
// removal kept only because they held it (restart_schedule.cpp). On 95/98 a
// hidden command interpreter deletes it once the uninstaller has exited.
#include "../common/family.h"
#include "../common/paths.h"
#include "../removal/removal.h"
#include "control.h"

namespace {
// The NT family's own path is read into 256 bytes; the 95/98 one into 260.
enum { kOwnPathSizeNt = 256, kOwnPathSize9x = MAX_PATH };
// A DOS program's command tail holds at most 126 characters.
enum { kCommandTailMax = 126 };
#define DELETE_COMMAND "command.com"
#define DELETE_COMMAND_TAIL " /c del \"%s\""

// 1 with the executable's full path, or 0 when the path did not fit whole:
// a cut path could name another file.
int ReadOwnPath(char *path, DWORD capacity) {
  DWORD length = GetModuleFileNameA(NULL, path, capacity);
  return length > 0 && length < capacity;
}

// The delete command runs as a DOS program: its command tail must hold the
// path whole, and the path must read the same in the OEM code page (plain
// ASCII does, anything does where both code pages are one).
int DosCommandTakes(const char *path) {
  // The tail is DELETE_COMMAND_TAIL with the path for its "%s".
  return TextLength(path) + sizeof(DELETE_COMMAND_TAIL) - sizeof "%s" <= kCommandTailMax &&
         DosReadsAsWritten(path);
}

// The executable's path as the command can take it: as it is, or in its 8.3
// form. 0 when neither fits: a command that names a cut path is never started.
int FormDeletablePath(char *path) {
  if (!ReadOwnPath(path, kOwnPathSize9x)) return 0;
  if (DosCommandTakes(path)) return 1;
  char shortPath[MAX_PATH];
  return ReadShortPath(path, shortPath) && DosCommandTakes(shortPath) &&
         CopyTextWhole(path, kOwnPathSize9x, shortPath);
}
}  // namespace

// The command is started at idle priority while the uninstaller raises its
// own, so that on a scheduler of strict priorities it gets no time before the
// uninstaller has exited: its del can only succeed once the executable is no
// longer in use.
void SpawnDeleteCommand(void) {
  char ownPath[kOwnPathSize9x];
  // Quoted, so that a path with spaces is deleted as one file.
  char commandLine[MAX_PATH];
  if (!FormDeletablePath(ownPath) ||
      !FormatTextWhole(commandLine, sizeof commandLine, DELETE_COMMAND DELETE_COMMAND_TAIL, ownPath))
    return;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process = {};
  SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  if (!CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, IDLE_PRIORITY_CLASS, NULL, NULL, &startup,
                      &process))
    return;
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
}

// Remembered before the removal, so that the folders holding the executable
// are kept for the restart, whatever form its path was started by, and so
// that the executable listed among the files is left to the self-deletion.
// Copied from a CD, it may be read-only, which both the restart and del
// refuse: the attribute goes now. When it can't, the deletion is arranged
// all the same, and the executable stays.
void KeepExecutableForRestart(void) {
  char ownPath[kOwnPathSize9x];
  if (!ReadOwnPath(ownPath, IsWindowsNt() ? kOwnPathSizeNt : kOwnPathSize9x)) return;
  ClearReadOnly(ownPath);
  KeepFileForRestart(ownPath);
}

void ScheduleSelfDelete(void) {
  char ownPath[kOwnPathSizeNt];
  if (!IsWindowsNt()) {
    SpawnDeleteCommand();
  } else if (ReadOwnPath(ownPath, sizeof ownPath) && !IsScheduledAtRestart(ownPath)) {
    // Deleted when the system next starts; no result is reported. A cut path
    // is never named, nor one scheduled already (the executable listed among
    // the files when it could not be remembered first); the folders kept for
    // other files are scheduled all the same.
    MoveFileExA(ownPath, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  ScheduleKeptFolders();
}
