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
// The chain's deepest node is the install folder itself: 0 when the path
// went on past a prefix too long for a node.
extern int chainReachesInstallFolder;

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

// The full path of a file in the Windows directory, into kWindowsFilePathSize
// bytes; 0 when it does not fit whole.
enum { kWindowsFilePathSize = MAX_PATH + 16 };
int FormWindowsFilePath(char *path, const char *fileName);

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

// Left for the restart (see restart_schedule.cpp). A listed file in use is
// remembered and then scheduled at once: 1 when it waits for the restart, or
// is kept already (the executable, listed among the files). The executable is
// only remembered; the self-deletion schedules it last. A folder whose removal
// failed gives 1 when it waits for the restart (NT: it holds a remembered
// file, and ScheduleKeptFolders schedules it, deepest first) or holds the
// executable (95/98, where nothing removes a folder at the restart).
int ScheduleFileAtRestart(const char *path);
void KeepFileForRestart(const char *path);
// 1 when a file scheduled already names path: the executable listed among the files.
int IsScheduledAtRestart(const char *path);
// 1 when a listed file waits for the restart, on either family.
int AListedFileWaitsForRestart(void);
int KeepFolderForRestart(const char *folder);
void ScheduleKeptFolders(void);
// 95/98: the file's deletion entered in WININIT.INI by its short path.
int EnterDeletionInWininit(const char *shortPath);

// What the removal tried and could not take, and nothing will, for the
// completion box: each item once, in the order found. The first
// kStayedNamesKept are named (a path or entry of up to 260 characters, a
// monitor name); every item is counted.
enum { kStayedNamesKept = 16, kStayedNameSize = MAX_PATH + 2 };
extern char stayedNames[kStayedNamesKept][kStayedNameSize];
extern DWORD stayedCount;
void NoteStayed(const char *name);
void NoteIfStillThere(const char *path);
// A folder the removal could not take, unless it waits for the restart or
// holds the executable.
void NoteFolderIfStayed(const char *folder);
// Drops the named paths that a later stage took after all.
void ForgetWhatWentSince(void);
