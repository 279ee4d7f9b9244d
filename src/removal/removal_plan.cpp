// The removal plan, made once the user has said Yes: the install-path chain
// (every prefix of the installation directory but the first component, each
// in its own node) and the step count that the progress bar runs to.
#include "../common/paths.h"
#include "removal.h"

PathNode *head;
PathNode *tail;
DWORD stepCount;
int chainReachesInstallFolder;

namespace {
enum { kInstallPathMax = 259, kListKeySize = 16, kFilesProbeMax = 127 };

// Appends text (length bytes, not terminated) to prefix, whose capacity is
// a node's. Gives 0 and leaves prefix as it was when the result would not
// fit whole.
int Append(char *prefix, const char *text, TextSize length) {
  TextSize used = TextLength(prefix);
  if (used + length + 1 > kNodePathSize) return 0;
  for (TextSize i = 0; i < length; ++i) prefix[used + i] = text[i];
  prefix[used + length] = 0;
  return 1;
}

// Appends the next piece of the path at *cursor; 0 when none is left or it does not fit.
int AppendNextPiece(char *prefix, const char **cursor) {
  const char *piece;
  TextSize length;
  return NextPathPiece(cursor, &piece, &length) && Append(prefix, piece, length);
}

// One node per prefix below the root, shortest first. Only a full path is
// taken: a rooted or relative one names folders of whatever the current
// directory is. The root gets no node: the drive (C:), or for a UNC path the
// share, which keeps its leading backslashes. A prefix that does not fit a
// node ends the chain there: no node ever holds a cut path.
void BuildInstallPathChain(const char *installPath) {
  if (!IsFullPath(installPath)) return;
  char prefix[kNodePathSize];
  prefix[0] = 0;
  const char *cursor = installPath;
  if (IsUncPath(installPath) &&
      !(Append(prefix, "\\\\", 2) && AppendNextPiece(prefix, &cursor) && Append(prefix, "\\", 1)))
    return;
  if (!AppendNextPiece(prefix, &cursor)) return;
  const char *piece;
  TextSize length;
  while (NextPathPiece(&cursor, &piece, &length)) {
    if (!Append(prefix, "\\", 1) || !Append(prefix, piece, length)) return;
    PathNode *node;
    AllocPathNode(&node);
    CopyTextWhole(node->path, sizeof node->path, prefix);
    AppendPathNode(&node);
    ++stepCount;
  }
  chainReachesInstallFolder = 1;
}

// Every [FILES] entry up to the first missing one is a step, whole or cut:
// the removal sequence steps for a cut entry too, without deleting it.
void CountListedFiles(void) {
  char key[kListKeySize];
  char value[kFilesProbeMax + kReadSlack];
  for (int index = 0;; ++index) {
    wsprintfA(key, "FILE%02d", index);
    if (ReadManifestValue("FILES", key, value, kFilesProbeMax) == kValueMissing) return;
    ++stepCount;
  }
}
}  // namespace

void BuildRemovalPlan(void) {
  // A cut installation path is left alone altogether, like every cut value.
  char installPath[kInstallPathMax + kReadSlack];
  if (ReadManifestValue("UNINSTALL", "PATH", installPath, kInstallPathMax) == kValueWhole)
    BuildInstallPathChain(installPath);
  CountListedFiles();
}

void AllocPathNode(PathNode **node) {
  *node = static_cast<PathNode *>(LocalAlloc(LPTR, sizeof(PathNode)));
  if (*node) return;
  MessageBoxA(NULL, "Memory allocation error", NULL, MB_OK);
  ExitProcess(1);
}

// Walks from head to the last node although tail is at hand: the chain's
// two ends are kept as the design keeps them, and a chain of a few nodes
// built once costs nothing to walk. Keep it so.
void AppendPathNode(PathNode **node) {
  PathNode *added = *node;
  added->next = 0;
  if (!head) {
    added->prev = 0;
    head = added;
    tail = added;
    return;
  }
  PathNode *last = head;
  while (last->next) last = last->next;
  last->next = added;
  added->prev = last;
  tail = added;
}
