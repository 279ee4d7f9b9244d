// The simulated machine behind the stand-in platform: one record that every
// sim/*.cpp area works on, plus the controls tests use to set it up, script
// it, break it and read it back. Only tests and the sim runner include this;
// the product sees nothing but sim_windows.h.
#pragma once

#include <stdint.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim_windows.h"

namespace sim {

enum class Family { NT, Win9x };

// How a file is in use by another program.
enum class InUse {
  No,
  Open,    // opened without sharing: deleting or removing it fails with ERROR_SHARING_VIOLATION
  Loaded,  // an image a program has loaded (a DLL in the spooler): deleting fails with ERROR_ACCESS_DENIED
};

// Files and directories of every drive, keyed by FoldPath(full path).
struct FileNode {
  std::string path;  // full path as created (long names), e.g. "C:\\WINDOWS\\QVFList.ini"
  bool isDirectory = false;
  InUse inUse = InUse::No;
  // FILE_ATTRIBUTE_READONLY, HIDDEN, SYSTEM and ARCHIVE as set; DIRECTORY and
  // NORMAL are derived when read. A new file has ARCHIVE, as Windows gives it.
  DWORD attributes = 0;
  std::string shortName;   // its 8.3 alias (ANSI); "" when its name is its own short name
  bool aliasMade = false;  // the alias is the one the file system made (95/98), not the machine folder's
  std::string data;        // file contents
  uint64_t version = 0;    // new whenever the contents are set; lets readers cache
};

struct RegValue {
  std::string name;  // "" is the default value
  DWORD type = REG_SZ;
  std::string data;  // raw bytes as stored (REG_SZ includes its terminator)
};

struct RegKey {
  std::string name;
  std::vector<RegValue> values;                  // in creation order
  std::vector<std::unique_ptr<RegKey>> subkeys;  // sorted by folded name, as RegEnumKeyA lists them
  REGSAM deniedAccess = 0;   // rights a scenario refuses on this key (RegOpenKeyExA fails with 5)
  bool undeletable = false;  // RegDeleteKeyA fails with 5
};

struct PrintJob {
  std::string document;
  DWORD status = 0;  // JOB_STATUS_*
};

struct Printer {
  std::string name;
  std::string port;  // may be a comma list (pooled printer)
  std::string driver = "Generic / Text Only";
  std::string comment;
  std::string location;
  std::string shareName;
  std::string printProcessor = "winprint";
  std::string datatype = "RAW";
  DWORD attributes = 0;
  std::vector<PrintJob> jobs;
  bool refuseOpen = false;  // OpenPrinterA fails with ERROR_ACCESS_DENIED
};

struct TopWindow {
  std::string title;
  std::string className;
};

// A library a scenario places at a full path; LoadLibraryA finds it only when
// the file exists there too.
struct Library {
  std::string path;
  bool exportsCheckUserPrivilege = true;
  DWORD checkUserPrivilegeResult = 1;
};

struct MessageBoxRecord {
  HWND owner = nullptr;
  std::string text;
  std::string caption;  // "" when the caller passed NULL
  bool captionIsNull = false;
  UINT style = 0;
  int answer = 0;
};

struct ProcessRecord {
  std::string applicationName;  // "" when NULL
  std::string commandLine;
  BOOL inheritHandles = FALSE;
  DWORD creationFlags = 0;
  DWORD priorityClass = NORMAL_PRIORITY_CLASS;  // from the creation flags, or SetPriorityClass
  bool environmentIsNull = true;
  bool currentDirectoryIsNull = true;
  DWORD startupCb = 0;
  DWORD startupFlags = 0;
  WORD startupShowWindow = 0;
  // A delete command that ran while the uninstaller still ran
  // (DeleteCommandRuns::AtStart): what it named and what became of it.
  std::string ranName;
  std::string ranOutcome;  // "" until it has run
};

struct ProgressBar {
  int rangeMin = 0;
  int rangeMax = 100;
  int step = 10;
  int position = 0;
  int stepItCount = 0;
  std::vector<std::string> messages;  // every message it got, e.g. "PBM_SETRANGE 0 0x00050000"
};

// The progress dialog as the dialog manager built it from its template.
struct DialogRecord {
  int templateId = 0;
  bool created = false;
  bool visible = false;
  bool ended = false;
  INT_PTR result = 0;
  HWND owner = nullptr;
  LPARAM initParam = 0;
  ProgressBar bar;
  // As parsed from the template in the resource script.
  struct Control {
    std::string className;
    std::string text;
    int id = 0;
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
  };
  DWORD style = 0;
  DWORD exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  int fontPointSize = 0;
  std::string fontName;  // bytes as in the script (its code page)
  std::string caption;
  std::vector<Control> controls;
  // While it runs: its dialog procedure; destroyed once DialogBoxParamA returns.
  DLGPROC procedure = nullptr;
  bool destroyed = false;
};

// A file the running process has open (CreateFileA).
struct OpenFile {
  std::string foldedPath;  // the node's key in Machine::files
  DWORD access = 0;        // GENERIC_READ and/or GENERIC_WRITE as asked
  DWORD share = 0;         // FILE_SHARE_* as asked
  uint64_t position = 0;   // the file pointer
};

struct Call {
  std::string name;
  std::vector<std::string>
      args;  // texts as given ("(null)" for NULL); numbers in decimal, handles as "0x..."
  std::string result;
  std::string ToString() const;
};

// Makes calls of one platform function fail: after `skip` successful calls,
// the next `count` fail (count < 0: every one) with `error`.
struct FailRule {
  std::string function;
  int skip = 0;
  int count = 1;
  DWORD error = ERROR_ACCESS_DENIED;
};

// Whether the user's token holds the Administrators group (NT family).
enum class Administrators {
  Yes,       // enabled
  No,        // not a member
  DenyOnly,  // a member whose filtered token is not elevated: SE_GROUP_USE_FOR_DENY_ONLY
};

// When a delete command ("command.com /c del ...") the uninstaller starts runs.
enum class DeleteCommandRuns {
  AfterExit,  // once the uninstaller has exited (sim::Restart carries it out)
  // As soon as it is started, while the uninstaller still runs: nothing stops
  // a real scheduler from running the new process first. Only a command
  // started at IDLE_PRIORITY_CLASS by a process whose own class is above idle
  // waits, since a strict-priority scheduler gives it no time until the
  // uninstaller has exited.
  AtStart,
};

struct Machine {
  Family family = Family::NT;
  UINT codePage = 1252;  // 1252 (single-byte) or 932 (double-byte)
  Administrators administrators = Administrators::Yes;
  DeleteCommandRuns deleteCommandRuns = DeleteCommandRuns::AfterExit;
  std::string windowsDirectory = "C:\\WINDOWS";
  std::string executablePath = "C:\\Program Files\\Lumora\\QVUninst.exe";
  // The running executable's path as the loader keeps it: taken whole as the
  // process starts (ExecutablePathOf), whatever its current directory
  // becomes; "" when no process runs.
  std::string imagePath;
  std::string currentDirectory = "C:\\WINDOWS";  // of the running process
  // The current directory of each other drive, as the "=D:" environment
  // variables the process inherits hold it (a command prompt sets one when
  // the user changes directory on that drive), by upper-case drive letter.
  std::map<char, std::string> driveDirectories;

  std::map<std::string, FileNode> files;  // key: FoldPath(path)
  RegKey localMachine{"HKEY_LOCAL_MACHINE", {}, {}, 0, false};
  std::vector<Printer> printers;   // in enumeration order
  std::vector<TopWindow> windows;  // top-level windows, topmost first
  std::vector<Library> libraries;

  // Kept by the platform across the run.
  std::vector<std::string> pendingDeletes;  // MoveFileExA delay-until-reboot, path only
  std::vector<ProcessRecord> processes;
  std::vector<MessageBoxRecord> messageBoxes;
  std::vector<DialogRecord> dialogs;
  uint64_t clockMs = 0;  // virtual time; Sleep advances it
  DWORD lastError = 0;
  DWORD priorityClass = NORMAL_PRIORITY_CLASS;  // of the running process
  int threadPriority = THREAD_PRIORITY_NORMAL;  // of its main thread
  bool hasShortNames = false;                   // some node has an alias: paths resolve them
  // The drives' free space, when limited ([Machine] FreeBytes): what was free
  // as it was set, and what the files held then. Files growing beyond it fail
  // with ERROR_DISK_FULL; files shrinking or deleted give their bytes back.
  bool diskLimited = false;
  uint64_t freeBytesAtSetUp = 0;
  uint64_t usedBytesAtSetUp = 0;
  // While a machine folder loads (ApplyMachineHeader until ApplyMachineBody
  // has given its [ShortNames]): no alias is made, so that the folder's own
  // come first and the rest are made in path order, whatever order the
  // host lists the drives in.
  bool aliasesDeferred = false;
  // The common controls' window classes (the progress bar's) are registered
  // in the running process: InitCommonControls, whose import loads the
  // library that registers them, was called.
  bool commonControlsRegistered = false;

  // Scripted answers to message boxes, in order; when none is left, a box
  // gets IDOK, or IDNO for Yes/No boxes (never an unasked Yes).
  std::deque<int> answers;
  // Interactive stand-in for the user, if set; takes precedence over answers.
  std::function<int(const MessageBoxRecord &)> answerBox;
  // Called after every progress step, so a runner can draw the bar.
  std::function<void(const ProgressBar &)> onProgress;
  // Called after every logged platform call, so a test can change the machine
  // at a chosen moment of the run.
  std::function<void(const Call &)> onCall;
  // Called as the process ends, before what it holds is released: the last
  // moment its memory can be looked at.
  std::function<void()> onProcessEnd;

  std::vector<FailRule> failRules;
  std::vector<Call> calls;  // every platform call, in order

  // What the running process holds. Each area hands out its own handles and
  // removes them when released; RunProcess counts what is left.
  std::map<uintptr_t, std::string> openKeys;         // HKEY -> folded key path
  std::map<uintptr_t, std::string> openPrinters;     // printer handle -> printer name
  std::map<uintptr_t, std::string> loadedLibraries;  // HMODULE -> folded path
  std::map<uintptr_t, std::string> openHandles;      // process/thread handles -> what
  std::map<uintptr_t, DWORD> openTokens;             // token handle -> access granted
  std::map<uintptr_t, size_t> childProcesses;        // process handle -> index in processes
  std::map<uintptr_t, OpenFile> openFiles;           // file handles (CreateFileA)
  std::vector<void *> allocations;                   // live LocalAlloc blocks
  std::vector<void *> sids;                          // live AllocateAndInitializeSid SIDs
  uintptr_t nextHandle = 0x1000;                     // handles are never reused within a run
};

// Window handles the stand-in hands out: the desktop, the top-level windows
// (index i of Machine::windows is kTopWindowBase + i), the dialogs and their
// progress bars (dialog j is kDialogBase + 2j, its bar kDialogBase + 2j + 1).
constexpr uintptr_t kDesktopWindow = 0x10010;
constexpr uintptr_t kTopWindowBase = 0x20000;
constexpr uintptr_t kDialogBase = 0x30000;
// Instance handle RunProcess passes to the entry (the executable's module).
constexpr uintptr_t kInstanceHandle = 0x400000;
// The system libraries the executable imports, loaded with it: their module
// handles as GetModuleHandleA gives them.
struct SystemModule {
  const char *name;
  uintptr_t handle;
};
extern const SystemModule kSystemModules[5];
constexpr uintptr_t kAdvapi32Handle = 0x77DD0000;
// GetCurrentProcess and GetCurrentThread pseudo-handles.
constexpr uintptr_t kCurrentProcessHandle = static_cast<uintptr_t>(-1);
constexpr uintptr_t kCurrentThreadHandle = static_cast<uintptr_t>(-2);

uintptr_t NewHandle(Machine &m);

// The machine the platform calls act on. RunProcess sets it.
Machine &Current();

// Runs `entry` as the process's main thread on `machine`: returns its result,
// or the code given to ExitProcess. Open handles and LocalAlloc blocks left
// behind are counted (LastRunLeftovers) and released afterwards, as the system
// would at process end.
int RunProcess(Machine &machine, int (*entry)(void));

// Ends the running process (ExitProcess); RunProcess returns `code`.
[[noreturn]] void EndProcess(int code);

// Leftovers a run did not release (checked by tests; a well-behaved process
// leaves none but what lives until it ends).
struct Leftovers {
  int registryKeys = 0;
  int printers = 0;
  int libraries = 0;
  int handles = 0;
  int memoryBlocks = 0;  // LocalAlloc blocks never freed
  int tokens = 0;        // token handles never closed
  int sids = 0;          // SIDs never freed
  int files = 0;         // file handles never closed
};
Leftovers LastRunLeftovers();

// ---- helpers shared by the areas and by tests --------------------------------
// Case folding as the platform does for names: ASCII letters only, and never
// the trail byte of a double-byte character in the machine's code page.
std::string Fold(const Machine &m, const std::string &text);
bool IsLeadByte(const Machine &m, unsigned char c);
// The pieces of a path between separators, DBCS-aware; empty pieces dropped.
std::vector<std::string> SplitComponents(const Machine &m, const std::string &text);
// Full, normalised path: drive upper-cased, separators collapsed, a trailing
// backslash dropped (but for a root), "." and ".." resolved; "" when invalid.
// "D:" and "D:dir" resolve against that drive's current directory: the
// process's own on its drive, else driveDirectories' when it names a
// directory there, else the root.
std::string NormalizePath(const Machine &m, const std::string &path);
// NormalizePath with each component that names an existing file or
// directory by its 8.3 alias replaced by its long name: the path as the
// file system keys it. FoldPath folds that.
std::string ResolvePath(const Machine &m, const std::string &path);
std::string FoldPath(const Machine &m, const std::string &path);
// The OEM code page that goes with the machine's ANSI one (GetOEMCP).
UINT OemCodePage(const Machine &m);
// The executable's path as the loader keeps it: normalised as every path it
// opens (as written when it is no valid path).
std::string ExecutablePathOf(const Machine &m);

// The stand-in's ADVAPI32 export of that name (token and SID calls), or NULL.
FARPROC SecurityExport(const char *name);

// Sets the machine's last error and gives FALSE, for a call that fails.
BOOL Fail(Machine &m, DWORD error);

// Failure injection: true when this call of `function` is to fail; sets the
// machine's last error.
bool ShouldFail(Machine &m, const char *function);
void FailNext(Machine &m, const std::string &function, int count = 1, DWORD error = ERROR_ACCESS_DENIED,
              int skip = 0);

// Call log.
void Log(Machine &m, const char *function, std::vector<std::string> args, const std::string &result);
std::string Hex(uintptr_t value);
std::string Text(const char *maybeNull);  // "(null)" for NULL, else the text as it is
std::vector<Call> CallsTo(const Machine &m, const std::string &function);
std::vector<std::string> CallNames(const Machine &m);

// Files.
void AddDirectory(Machine &m, const std::string &path);                           // with its parents
void AddFile(Machine &m, const std::string &path, const std::string &data = "");  // parents too
bool Exists(const Machine &m, const std::string &path);
bool IsDirectory(const Machine &m, const std::string &path);
bool IsEmptyDirectory(const Machine &m, const std::string &path);  // a directory with nothing in it
void Lock(Machine &m, const std::string &path, InUse how = InUse::Open);
// Gives an existing file or directory an 8.3 alias; false when there is no
// such node or the alias is no single name.
bool SetShortName(Machine &m, const std::string &path, const std::string &alias);
// On 95/98, gives a node that has no alias the one its FAT volume makes for
// its name (none when the name is an upper-case 8.3 name): AddFile and
// AddDirectory do as they create it. MakeAliases does it for every node, in
// path order. Nothing on NT, where NTFS may have 8.3 names off.
void MakeAlias(Machine &m, FileNode &node);
void MakeAliases(Machine &m);
// The path with each component by its alias (its own name when it has
// none), as GetShortPathNameA gives it; "" when some component is missing.
std::string ShortPathOf(const Machine &m, const std::string &path);
// Whether the folded path is the running executable's image or that of a
// library it has loaded: in use until the process ends.
bool IsImageInUse(const Machine &m, const std::string &foldedPath);
// Sets the settable attributes (READONLY, HIDDEN, SYSTEM, ARCHIVE) of an
// existing node; false when there is none.
bool SetAttributes(Machine &m, const std::string &path, DWORD attributes);
// Whether the running process has the folded path open without letting
// others delete it (no FILE_SHARE_DELETE).
bool IsOpenWithoutDeleteSharing(const Machine &m, const std::string &foldedPath);

// Disk space. FreeBytes is UINT64_MAX on a machine whose disk has no limit;
// SetFreeBytes limits it to what is free from now on.
uint64_t UsedBytes(const Machine &m);  // the bytes of every file
uint64_t FreeBytes(const Machine &m);
void SetFreeBytes(Machine &m, uint64_t bytes);

// What the platform does with a run's leftovers once the uninstaller has
// exited and the system starts again, in this order: each delete command the
// run started ("command.com /c del PATH", PATH quoted or one word) deletes its
// file; then, nothing being in use any more, on the 95/98 family the boot
// step carries out the [rename] lines of WININIT.INI in the Windows directory
// (8.3 names only, read through the OEM code page) and renames the file to
// WININIT.BAK; then each entry pending deletion at restart is carried out in
// the order made (a file is deleted, a directory removed only when empty).
// Both lists are emptied; files lose their locks. Other processes are listed
// as not simulated.
struct RestartEntry {
  std::string path;     // or, for a process whose name is not found, its command line;
                        // for a WININIT.INI line, the line ("NUL=PATH", "DEST=SOURCE")
  std::string outcome;  // one of the kRestart* texts
};
extern const char kRestartDeleted[];       // a file deleted
extern const char kRestartRemoved[];       // an empty directory removed
extern const char kRestartNotEmpty[];      // a directory kept, as it still holds something
extern const char kRestartMissing[];       // nothing of that name
extern const char kRestartInUse[];         // a delete command's file kept, as it is in use
extern const char kRestartDirectory[];     // a delete command's name is a directory: kept
extern const char kRestartDriveRoot[];     // a drive root is never removed
extern const char kRestartNotOneName[];    // a delete command that names no single file: del refuses it
extern const char kRestartNotSimulated[];  // a process that is no delete command
extern const char kRestartReadOnly[];      // a read-only file or directory: kept
extern const char kRestartLongName[];      // a WININIT.INI line naming no 8.3 path: ignored
extern const char kRestartRenamed[];       // a WININIT.INI line's file renamed (or moved)
std::vector<RestartEntry> Restart(Machine &m);
// A delete command run now: while the uninstaller runs (its image and the
// libraries it holds are in use), or once it has exited.
RestartEntry RunDeleteCommand(Machine &m, const std::string &commandLine, bool uninstallerRunning);
bool IsDeleteCommand(const Machine &m, const std::string &commandLine);

// Registry (paths relative to HKEY_LOCAL_MACHINE, backslash-separated).
RegKey *FindKey(Machine &m, const std::string &path);
const RegKey *FindKey(const Machine &m, const std::string &path);
RegKey *CreateKey(Machine &m, const std::string &path);  // with its parents
void SetString(Machine &m, const std::string &keyPath, const std::string &name, const std::string &value);
void SetDword(Machine &m, const std::string &keyPath, const std::string &name, DWORD value);
void SetBinary(Machine &m, const std::string &keyPath, const std::string &name, const std::string &bytes);
const RegValue *FindValue(const Machine &m, const std::string &keyPath, const std::string &name);

// Machine folders: machine.ini, registry.reg and drive_c/.
// machine.ini is applied in two halves: [Machine] before the registry and the
// drives are loaded, everything else (printers, windows, locks...) after.
void ApplyMachineHeader(Machine &m, const std::string &iniText);
void ApplyMachineBody(Machine &m, const std::string &iniText);
bool LoadMachineFolder(Machine &m, const std::string &folder, std::string *error);
bool SaveMachineFolder(const Machine &m, const std::string &folder, std::string *error);
// Everything a machine folder gave the machine, one item a line in a fixed
// order, so that another reader of the format can be held to this one (the
// aliases a 95/98 volume made are the file system's, not the folder's).
std::string DescribeMachine(const Machine &m);
// REGEDIT4 text of HKEY_LOCAL_MACHINE, and back.
bool ImportRegistry(Machine &m, const std::string &regText, std::string *error);
std::string ExportRegistry(const Machine &m);
// Profile files in the machine's INI syntax (used for machine.ini too).
struct IniSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> entries;  // in file order
};
std::vector<IniSection> ParseIni(const std::string &text);
DWORD CopyProfileText(const Machine &m, const std::string &value, char *buffer, DWORD size);
std::string ReadProfileValue(const std::string &iniText, const std::string &section, const std::string &key,
                             bool *found);

}  // namespace sim
