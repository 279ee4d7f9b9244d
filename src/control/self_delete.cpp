// Self-deletion: the executable can't delete itself while it runs. On the NT
// family it is deleted at the next restart, together with the install folders
// it kept from being removed; on 95/98 a hidden command interpreter deletes
// it once the uninstaller has exited.
#include "../common/family.h"
#include "../common/text.h"
#include "../removal/removal.h"
#include "control.h"

namespace {
// 1 with the executable's full path, or 0 when the path did not fit whole:
// a cut path could name another file.
int ReadOwnPath(char *path, DWORD capacity) {
  DWORD length = GetModuleFileNameA(NULL, path, capacity);
  return length > 0 && length < capacity;
}
}  // namespace

void SpawnDeleteCommand(void) {
  char ownPath[MAX_PATH];
  if (!ReadOwnPath(ownPath, sizeof ownPath)) return;
  // Quoted, so that a path with spaces is deleted as one file.
  char commandLine[MAX_PATH];
  if (!FormatTextWhole(commandLine, sizeof commandLine, "command.com /c del \"%s\"", ownPath)) return;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) return;
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
}

namespace {
// The install folders that hold the executable could not be removed while it
// ran. Entries run at the restart in the order made, and a folder goes only
// if empty by then: so after the executable, deepest first. The others were
// already removed by the last stage if they could be.
void ScheduleEmptiedInstallFolders(const char *ownPath) {
  for (PathNode *node = tail; node; node = node->prev)
    if (DirectoryContains(node->path, ownPath)) MoveFileExA(node->path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}
}  // namespace

void ScheduleSelfDelete(void) {
  char ownPath[256];
  int whole = ReadOwnPath(ownPath, sizeof ownPath);
  if (!IsWindowsNt()) {
    SpawnDeleteCommand();
    return;
  }
  if (!whole) return;
  // Deleted when the system next starts; no result is reported.
  MoveFileExA(ownPath, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
  ScheduleEmptiedInstallFolders(ownPath);
}
