// The removal plan, made once the user has said Yes: the install-path chain
// (every prefix of the installation directory but the first component, each
// in its own node) and the step count that the progress bar runs to.
#include "removal.h"

PathNode *head;
PathNode *tail;
DWORD stepCount;

namespace {
enum { kInstallPathMax = 259, kListKeySize = 16, kFilesProbeMax = 127 };

// Appends one separator-free piece (length bytes, not terminated) to text,
// whose capacity counts the terminator. Gives 0 and leaves text as it was
// when the result would not fit whole.
int AppendPiece(char *text, TextSize capacity, const char *piece, TextSize length) {
  TextSize used = TextLength(text);
  if (used + length + 1 > capacity) return 0;
  for (TextSize i = 0; i < length; ++i) text[used + i] = piece[i];
  text[used + length] = 0;
  return 1;
}

// One node per prefix after the first component, shortest first. A prefix
// that does not fit a node ends the chain there: no node ever holds a cut path.
void BuildInstallPathChain(const char *installPath) {
  char prefix[kNodePathSize];
  prefix[0] = 0;
  const char *cursor = installPath;
  const char *piece;
  TextSize length;
  if (!NextPathPiece(&cursor, &piece, &length)) return;
  if (!AppendPiece(prefix, sizeof prefix, piece, length)) return;
  while (NextPathPiece(&cursor, &piece, &length)) {
    if (!AppendPiece(prefix, sizeof prefix, "\\", 1)) return;
    if (!AppendPiece(prefix, sizeof prefix, piece, length)) return;
    PathNode *node;
    AllocPathNode(&node);
    CopyTextWhole(node->path, sizeof node->path, prefix);
    AppendPathNode(&node);
    ++stepCount;
  }
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
