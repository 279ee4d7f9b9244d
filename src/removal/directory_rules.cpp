// The two directory rules of the manifest: [PATHS] entries are removed with
// every ancestor that comes free, [STMPATHS] entries by timed attempts on the
// directory and its parent, sparing ROOT. Both cut working copies in place;
// separators are found DBCS-aware so that a 0x5C trail byte never cuts.
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

// Drops exactly one trailing backslash (a real separator, not a trail byte).
void StripOneTrailingSeparator(char *text) {
  char *last = LastPathSeparator(text);
  if (last && last[1] == 0) *last = 0;
}
}  // namespace

// Both rules give 1 whatever happened: the removal goes on either way, and a
// directory that stays simply stays. The result is kept for the rules'
// callers' sake; don't make the removal depend on it.
int RemoveDirectoryWalkUp(const char *path) {
  char working[kWorkingPathSize];
  // An entry longer than the working copy would be acted on cut: leave it.
  if (!CopyTextWhole(working, sizeof working, path)) return 1;
  if (!RemoveDirectoryA(working)) NoteFolderIfStayed(working);
  // The walk goes on past a folder that is already gone (a run cut short
  // took it) and past one kept only by what waits for the restart: their
  // parents may be empty, or come free at the restart, all the same.
  for (char *cut = LastPathSeparator(working); cut; cut = LastPathSeparator(working)) {
    *cut = 0;
    if (!RemoveDirectoryA(working) && !IsGone() && !KeepFolderForRestart(working)) break;
  }
  return 1;
}

int RemoveDirectoryWithRetry(const char *path, const char *root) {
  char working[kWorkingPathSize];
  char rootCopy[kWorkingPathSize];
  // Neither a cut entry nor a cut ROOT (which could no longer protect the
  // right directory) is acted on.
  if (!CopyTextWhole(working, sizeof working, path)) return 1;
  if (!CopyTextWhole(rootCopy, sizeof rootCopy, root)) return 1;
  StripOneTrailingSeparator(rootCopy);
  AttemptTenTimes(working);
  NoteFolderIfStayed(working);
  char *cut = LastPathSeparator(working);
  if (!cut) return 1;
  *cut = 0;
  if (TextEqual(working, rootCopy)) return 1;
  AttemptTenTimes(working);
  KeepFolderForRestart(working);
  return 1;
}
