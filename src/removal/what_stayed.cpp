// What the removal tried and could not take, and nothing will take later:
// the completion box names it, so that a failure is never reported as a
// success. What was already gone, what is skipped on purpose and what waits
// for the restart are not noted.
#include "../common/paths.h"
#include "removal.h"

char stayedNames[kStayedNamesKept][kStayedNameSize];
DWORD stayedCount;

// Each once: an install folder may be listed among the [PATHS] entries too.
// Past the names kept, an item is counted without that check.
void NoteStayed(const char *name) {
  for (DWORD i = 0; i < stayedCount && i < kStayedNamesKept; ++i)
    if (PathsEqual(stayedNames[i], name)) return;
  if (stayedCount < kStayedNamesKept) CopyTextWhole(stayedNames[stayedCount], kStayedNameSize, name);
  ++stayedCount;
}

void NoteIfStillThere(const char *path) {
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) NoteStayed(path);
}

void NoteFolderIfStayed(const char *folder) {
  if (!KeepFolderForRestart(folder)) NoteIfStillThere(folder);
}

// A folder noted in one stage may be taken in a later one (an entry's folder
// that is also an install folder, a listed directory).
void ForgetWhatWentSince(void) {
  DWORD named = stayedCount < kStayedNamesKept ? stayedCount : DWORD{kStayedNamesKept};
  DWORD kept = 0;
  for (DWORD i = 0; i < named; ++i)
    if (!IsFullPath(stayedNames[i]) || GetFileAttributesA(stayedNames[i]) != INVALID_FILE_ATTRIBUTES)
      CopyTextWhole(stayedNames[kept++], kStayedNameSize, stayedNames[i]);
  stayedCount -= named - kept;
}
