// The two directory rules of the manifest: [PATHS] entries are removed with
// every ancestor that comes free, [STMPATHS] entries by timed attempts on the
// directory and its parent, sparing ROOT. Both cut working copies in place;
// separators are found DBCS-aware so that a 0x5C trail byte never cuts. Only
// folders below a root are named: a bare drive (the last cut of a first-level
// folder) is that drive's current directory, a folder of the user's.
#include "../common/paths.h"
#include "removal.h"

namespace {
enum { kWorkingPathSize = 260, kAttempts = 10, kAttemptWaitMs = 500 };

void AttemptTenTimes(const char *path) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    RemoveDirectoryA(path);
    Sleep(kAttemptWaitMs);
  }
}

// Whether the removal that just failed found nothing there to remove.
int IsGone(void) {
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Whether text ends with a backslash (a real separator, not a trail byte).
int EndsWithSeparator(char *text) {
  char *last = LastPathSeparator(text);
  return last && last[1] == 0;
}

// Drops exactly one trailing backslash.
void StripOneTrailingSeparator(char *text) {
  if (EndsWithSeparator(text)) *LastPathSeparator(text) = 0;
}

// 1 when the walk may go on past the folder: removed, gone already (a run
// cut short took it), or kept only by what waits for the restart (its
// parents may come free at the restart all the same).
int RemoveOrKeep(char *folder) {
  if (RemoveDirectoryA(folder)) return 1;
  return IsGone() || KeepFolderForRestart(folder);
}
}  // namespace

// Both rules give 1 whatever happened: the removal goes on either way, and a
// directory that stays simply stays. The result is kept for the rules'
// callers' sake; don't make the removal depend on it.
int RemoveDirectoryWalkUp(const char *path) {
  char working[kWorkingPathSize];
  // An entry longer than the working copy would be acted on cut: leave it.
  if (!CopyTextWhole(working, sizeof working, path) || !NamesFolderBelowRoot(working)) return 1;
  // With a trailing backslash the first cut names the entry's folder again,
  // and the walk ends there, whatever became of it: the entry asked for
  // that folder alone.
  int endsAtFirstCut = EndsWithSeparator(working);
  if (!RemoveOrKeep(working)) NoteIfStillThere(working);
  for (char *cut = LastPathSeparator(working); cut; cut = LastPathSeparator(working)) {
    *cut = 0;
    if (!NamesFolderBelowRoot(working) || !RemoveOrKeep(working) || endsAtFirstCut) break;
  }
  return 1;
}

int RemoveDirectoryWithRetry(const char *path, const char *root) {
  char working[kWorkingPathSize];
  char rootCopy[kWorkingPathSize];
  // Neither a cut entry nor a cut ROOT (which could no longer protect the
  // right directory) is acted on.
  if (!CopyTextWhole(working, sizeof working, path) || !NamesFolderBelowRoot(working)) return 1;
  if (!CopyTextWhole(rootCopy, sizeof rootCopy, root)) return 1;
  StripOneTrailingSeparator(rootCopy);
  AttemptTenTimes(working);
  NoteFolderIfStayed(working);
  // A folder below a root always has a separator to cut at.
  *LastPathSeparator(working) = 0;
  if (!NamesFolderBelowRoot(working) || TextEqual(working, rootCopy)) return 1;
  AttemptTenTimes(working);
  KeepFolderForRestart(working);
  return 1;
}
