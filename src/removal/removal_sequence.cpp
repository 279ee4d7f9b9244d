// The removal itself, in seven stages of fixed order, run from within the
// progress dialog. Every result is ignored and every stage runs; the bar
// gets exactly one step per [FILES] entry and one per chain node, so that it
// stands full at the end whatever was removed.
#include "../common/paths.h"
#include "../control/control.h"
#include "../spooler/spooler.h"
#include "removal.h"

namespace {
enum {
  kListKeySize = 16,
  kFileEntryMax = 260,
  kDirectoryEntryMax = 259,  // the directory rules' working copies hold no more
  kRootMax = 259,
  kEntryNameMax = 259,
};

void SendStep(void) { SendMessageA(progressBar, PBM_STEPIT, 0, 0); }

// Reads entry index of a numbered list ("FILE%02d" or "PATH%02d").
ManifestRead ReadListEntry(const char *section, const char *keyFormat, int index, char *entry,
                           TextSize maxLength) {
  char key[kListKeySize];
  wsprintfA(key, keyFormat, index);
  return ReadManifestValue(section, key, entry, maxLength);
}

void RemoveUninstallEntry(void) {
  char name[kEntryNameMax + kReadSlack];
  if (ReadManifestValue("UnInstKey", "UnInstKey", name, kEntryNameMax) == kValueWhole)
    DeleteUninstallEntry(name);
}

void RemoveMonitorAndPorts(void) {
  char monitor[kMonitorNameSize];
  ReadMonitorName(monitor);
  if (!monitor[0]) return;
  LoadPortTable(monitor);
  RemovePortsAndMonitor(monitor);
  FreePortTable();
  if (MonitorIsRegistered(monitor)) NoteStayed(monitor);
}

// The INI files are read up to their own stage: an installer that listed
// every file it copied lists them too, and deleting them in the files stage
// would leave every later entry and list unread. Both names are 8.3 names,
// so an entry names one only when its last component is that name.
int NamesWindowsFile(char *entry, const char *fileName) {
  const char *separator = LastPathSeparator(entry);
  char path[kWindowsFilePathSize];
  return separator && PathsEqual(separator + 1, fileName) && FormWindowsFilePath(path, fileName) &&
         NamesSameFile(entry, path);
}

int NamesIniFile(char *entry) {
  return NamesWindowsFile(entry, MANIFEST_FILE) || NamesWindowsFile(entry, CATALOG_FILE);
}

// What keeps a file: another program has it open or loaded, or (only with
// ERROR_ACCESS_DENIED) its read-only attribute.
int IsInUse(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// A listed file that is read-only (copied from a CD, say) loses the attribute
// and is deleted. One that is in use is deleted at the restart, the attribute
// cleared, as the restart keeps a read-only file. One that stays all the same
// is said to. (A path that is not there has every attribute bit set, so it
// reads as a directory here.)
void DeleteListedFile(const char *path) {
  if (DeleteFileA(path)) return;
  DWORD error = GetLastError();
  if (IsInUse(error) && !(GetFileAttributesA(path) & FILE_ATTRIBUTE_DIRECTORY)) {
    if (ClearReadOnly(path)) {
      if (DeleteFileA(path)) return;
      error = GetLastError();
    }
    if (IsInUse(error) && ScheduleFileAtRestart(path)) return;
  }
  NoteIfStillThere(path);
}

// A cut entry could name another file, and one that is not a full path
// would be looked for in the current directory: either is skipped, but
// still stepped.
void DeleteListedFiles(void) {
  char entry[kFileEntryMax + kReadSlack];
  for (int index = 0;; ++index) {
    ManifestRead read = ReadListEntry("FILES", "FILE%02d", index, entry, kFileEntryMax);
    if (read == kValueMissing) return;
    if (read == kValueWhole && IsFullPath(entry) && !NamesIniFile(entry)) DeleteListedFile(entry);
    SendStep();
  }
}

// As for the files: only whole, full paths are removed.
void RemoveListedDirectories(void) {
  char entry[kDirectoryEntryMax + kReadSlack];
  for (int index = 0;; ++index) {
    ManifestRead read = ReadListEntry("PATHS", "PATH%02d", index, entry, kDirectoryEntryMax);
    if (read == kValueMissing) return;
    if (read == kValueWhole && IsFullPath(entry)) RemoveDirectoryWalkUp(entry);
  }
}

// ROOT is what the retry rule spares; with ROOT cut nothing could be spared
// reliably, so the stage leaves every entry alone.
void RemoveDirectoriesWithRetry(void) {
  char root[kRootMax + kReadSlack];
  if (ReadManifestValue("STMPATHS", "ROOT", root, kRootMax) == kValueCut) return;
  char entry[kDirectoryEntryMax + kReadSlack];
  for (int index = 0;; ++index) {
    ManifestRead read = ReadListEntry("STMPATHS", "PATH%02d", index, entry, kDirectoryEntryMax);
    if (read == kValueMissing) return;
    if (read == kValueWhole && IsFullPath(entry)) RemoveDirectoryWithRetry(entry, root);
  }
}

void DeleteWindowsFile(const char *fileName) {
  char path[kWindowsFilePathSize];
  if (FormWindowsFilePath(path, fileName) && !DeleteFileA(path)) NoteIfStillThere(path);
}

// Deepest first: a level that still holds something stays, and so do its
// parents. Only the install folder itself is named when it stays: the
// prefixes above it (C:\Program Files) are tried too, but are not the
// product's.
void RemoveInstallPathChain(void) {
  for (PathNode *node = tail; node; node = node->prev) {
    if (!RemoveDirectoryA(node->path) && !KeepFolderForRestart(node->path) && node == tail &&
        chainReachesInstallFolder)
      NoteIfStillThere(node->path);
    SendStep();
  }
}
}  // namespace

// Large enough for any Windows directory.
int FormWindowsFilePath(char *path, const char *fileName) {
  char windowsDirectory[MAX_PATH];
  UINT length = GetWindowsDirectoryA(windowsDirectory, sizeof windowsDirectory);
  if (length == 0 || length >= sizeof windowsDirectory) return 0;
  return FormatTextWhole(path, kWindowsFilePathSize, "%s\\%s", windowsDirectory, fileName);
}

void RunRemovalSequence(void) {
  RemoveUninstallEntry();
  RemoveMonitorAndPorts();
  DeleteListedFiles();
  RemoveListedDirectories();
  RemoveDirectoriesWithRetry();
  DeleteWindowsFile(MANIFEST_FILE);
  DeleteWindowsFile(CATALOG_FILE);
  RemoveInstallPathChain();
}
