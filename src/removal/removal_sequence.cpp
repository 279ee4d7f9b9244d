// The removal itself, in seven stages of fixed order, run from within the
// progress dialog. Every result is ignored and every stage runs; the bar
// gets exactly one step per [FILES] entry and one per chain node, so that it
// stands full at the end whatever was removed.
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
  // Large enough for any Windows directory plus one backslash and a file name.
  kWindowsPathSize = MAX_PATH,
  kIniPathSize = MAX_PATH + 16
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
}

// A cut entry could name another file: it is skipped, but still stepped.
void DeleteListedFiles(void) {
  char entry[kFileEntryMax + kReadSlack];
  for (int index = 0;; ++index) {
    ManifestRead read = ReadListEntry("FILES", "FILE%02d", index, entry, kFileEntryMax);
    if (read == kValueMissing) return;
    if (read == kValueWhole) DeleteFileA(entry);
    SendStep();
  }
}

void RemoveListedDirectories(void) {
  char entry[kDirectoryEntryMax + kReadSlack];
  for (int index = 0;; ++index) {
    ManifestRead read = ReadListEntry("PATHS", "PATH%02d", index, entry, kDirectoryEntryMax);
    if (read == kValueMissing) return;
    if (read == kValueWhole) RemoveDirectoryWalkUp(entry);
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
    if (read == kValueWhole) RemoveDirectoryWithRetry(entry, root);
  }
}

void DeleteWindowsFile(const char *fileName) {
  char windowsDirectory[kWindowsPathSize];
  UINT length = GetWindowsDirectoryA(windowsDirectory, sizeof windowsDirectory);
  if (length == 0 || length >= sizeof windowsDirectory) return;
  char path[kIniPathSize];
  if (!FormatTextWhole(path, sizeof path, "%s\\%s", windowsDirectory, fileName)) return;
  DeleteFileA(path);
}

// Deepest first: a level that still holds something stays, and so do its parents.
void RemoveInstallPathChain(void) {
  for (PathNode *node = tail; node; node = node->prev) {
    RemoveDirectoryA(node->path);
    SendStep();
  }
}
}  // namespace

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
