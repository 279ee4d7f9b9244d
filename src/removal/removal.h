// Removal plan and execution: the manifest, the install-path chain and step
// count, the ordered removal, the directory rules and the uninstall entry.
#pragma once

#include "../common/text.h"
#include "../spooler/spooler.h"
#include "../win32.h"

#define MANIFEST_FILE "QVFList.ini"

enum { kNodePathSize = 128 };

struct PathNode {
  char path[kNodePathSize];
  PathNode *prev;
  PathNode *next;
};

extern PathNode *head;
extern PathNode *tail;
extern DWORD stepCount;

// How a manifest value arrived. A cut value is never acted on: a cut path can
// name another file, directory or key.
enum ManifestRead { kValueMissing = 0, kValueWhole = 1, kValueCut = 2 };

// Reads one manifest value (default empty) into buffer. Whole means at most
// maxLength characters and certainly not cut by the read; buffer must hold
// maxLength + kReadSlack bytes so that the two can be told apart.
enum { kReadSlack = 3 };
ManifestRead ReadManifestValue(const char *section, const char *key, char *buffer, TextSize maxLength);

// The [LPR] Monitor value. Every reader (privilege check, pending-job check,
// port and monitor removal) takes it through here, so that all of them see
// the same name: the whole value, or "" when it is missing, would be cut or
// is longer than kMonitorNameMax. One buffer for all of them, so that no
// check looks at a shorter copy of the name than the removal acts on.
enum { kMonitorNameSize = kMonitorNameMax + kReadSlack };
void ReadMonitorName(char *name /* kMonitorNameSize bytes */);

void BuildRemovalPlan(void);
void AllocPathNode(PathNode **node);
void AppendPathNode(PathNode **node);
void RunRemovalSequence(void);
int RemoveDirectoryWalkUp(const char *path);
int RemoveDirectoryWithRetry(const char *path, const char *root);
int DeleteUninstallEntry(const char *name);

// What is left for the restart, kept until the self-deletion schedules it:
// the files in use (the executable among them) and, deepest first, the
// folders kept only because they hold one.
struct KeptPath {
  KeptPath *next;
  int scheduled;  // already scheduled (a listed file), not only remembered (the executable)
  TextSize depth;
  char path[MAX_PATH];
  char shortPath[MAX_PATH];  // "" when the platform gives none whole
};
extern KeptPath *keptFiles;
extern KeptPath *keptFolders;

// Left for the restart (NT family; see restart_schedule.cpp). A file in use
// is scheduled at once and remembered; the executable is only remembered
// (it is scheduled last, by the self-deletion). A folder whose removal
// failed is kept, and gives 1, when it holds a remembered file; the kept
// folders are scheduled, deepest first, by ScheduleKeptFolders.
void ScheduleFileAtRestart(const char *path);
void KeepFileForRestart(const char *path);
// 1 when a file scheduled already names path: the executable listed among the files.
int IsScheduledAtRestart(const char *path);
int KeepFolderForRestart(const char *folder);
void ScheduleKeptFolders(void);
