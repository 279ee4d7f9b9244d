// What the removal leaves for the restart. A file the removal could not take
// because it is in use (the executable itself, or a listed file another
// program holds open) is deleted when the system next starts: on the NT family
// by MoveFileExA, and so is every folder the removal could not remove only
// because it holds such a file (entries run at the restart in the order made,
// and a folder goes only if it is empty by then: so the files first, then the
// folders, deepest first); on 95/98 through WININIT.INI, which deletes files
// only. Nothing else is ever scheduled.
#include "../common/family.h"
#include "../common/paths.h"
#include "removal.h"

KeptPath *keptFiles;
KeptPath *keptFolders;

namespace {
// A path is compared in both of its forms: the executable may have been
// started by its 8.3 path while the manifest names its folders in full.
KeptPath *NewKeptPath(const char *path) {
  KeptPath *kept = static_cast<KeptPath *>(LocalAlloc(LPTR, sizeof(KeptPath)));
  if (!kept) return NULL;
  if (!CopyTextWhole(kept->path, sizeof kept->path, path)) {
    LocalFree(kept);
    return NULL;
  }
  ReadShortPath(path, kept->shortPath);
  kept->depth = CountPathPieces(path);
  return kept;
}

// On 95/98 only the executable counts: nothing removes a folder there at
// the restart.
int HoldsKeptFile(const KeptPath *folder) {
  for (const KeptPath *file = keptFiles; file; file = file->next)
    if ((IsWindowsNt() || !file->scheduled) && (DirectoryContains(folder->path, file->path) ||
                                                (folder->shortPath[0] && file->shortPath[0] &&
                                                 DirectoryContains(folder->shortPath, file->shortPath))))
      return 1;
  return 0;
}

int SameFolder(const KeptPath *a, const KeptPath *b) {
  return PathsEqual(a->path, b->path) || (a->shortPath[0] && PathsEqual(a->shortPath, b->shortPath));
}

// Into keptFolders, deeper folders first, each folder once.
void InsertByDepth(KeptPath *folder) {
  KeptPath **at = &keptFolders;
  for (KeptPath *kept = keptFolders; kept; kept = kept->next)
    if (SameFolder(kept, folder)) {
      LocalFree(folder);
      return;
    }
  while (*at && (*at)->depth >= folder->depth) at = &(*at)->next;
  folder->next = *at;
  *at = folder;
}

void FreeKeptPaths(KeptPath **list) {
  while (*list) {
    KeptPath *next = (*list)->next;
    LocalFree(*list);
    *list = next;
  }
}

const KeptPath *FindKeptFile(const char *path) {
  for (const KeptPath *file = keptFiles; file; file = file->next)
    if (NamesSameFile(file->path, path)) return file;
  return NULL;
}

void Remember(KeptPath *file) {
  file->next = keptFiles;
  keptFiles = file;
}

// By the family, never by what MoveFileExA says: on 95/98 it is a stub.
int ArrangeDeletionAtRestart(const KeptPath *file) {
  if (IsWindowsNt()) return MoveFileExA(file->path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
  return EnterDeletionInWininit(file->shortPath);
}
}  // namespace

void KeepFileForRestart(const char *path) {
  KeptPath *file = NewKeptPath(path);
  if (file) Remember(file);
}

// A file already kept (the executable, listed among the files; a file listed
// twice) is not scheduled twice: the self-deletion schedules the executable
// last. One that can't be remembered is not scheduled at all: it would be
// scheduled again if listed twice, and its folders never; it stays, and the
// completion box says so.
int ScheduleFileAtRestart(const char *path) {
  if (FindKeptFile(path)) return 1;
  KeptPath *file = NewKeptPath(path);
  if (!file) return 0;
  if (!ArrangeDeletionAtRestart(file)) {
    LocalFree(file);
    return 0;
  }
  file->scheduled = 1;
  Remember(file);
  return 1;
}

int IsScheduledAtRestart(const char *path) {
  const KeptPath *file = FindKeptFile(path);
  return file && file->scheduled;
}

int AListedFileWaitsForRestart(void) {
  for (const KeptPath *file = keptFiles; file; file = file->next)
    if (file->scheduled) return 1;
  return 0;
}

// Only a folder below a root: a bare drive names the current directory of
// that drive, never a folder of the removal's. The folder is named with its
// separators as the platform reads them (no trailing backslash, no doubled
// one), so that it is found holding a file in either form and kept once,
// whatever the entry that named it looked like.
int KeepFolderForRestart(const char *folder) {
  char name[MAX_PATH];
  if (!keptFiles || !NamesFolderBelowRoot(folder) || !CopyTextWhole(name, sizeof name, folder)) return 0;
  TidySeparators(name);
  KeptPath *kept = NewKeptPath(name);
  if (!kept) return 0;
  int holds = HoldsKeptFile(kept);
  if (holds && IsWindowsNt())
    InsertByDepth(kept);
  else
    LocalFree(kept);
  return holds;
}

void ScheduleKeptFolders(void) {
  for (KeptPath *folder = keptFolders; folder; folder = folder->next)
    MoveFileExA(folder->path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
  FreeKeptPaths(&keptFolders);
  FreeKeptPaths(&keptFiles);
}
