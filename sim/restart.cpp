// The system starting again after a run: what the delete commands the run
// started do once the uninstaller has exited (95/98 family), and what the
// platform does with the entries pending deletion at restart (NT family).
// A delete command is a DOS program: it gets at most 126 characters of
// command tail and reads its bytes through the OEM code page.
#include "machine.h"

namespace sim {

const char kRestartDeleted[] = "deleted";
const char kRestartRemoved[] = "removed";
const char kRestartNotEmpty[] = "kept (not empty)";
const char kRestartMissing[] = "missing";
const char kRestartInUse[] = "kept (in use)";
const char kRestartDirectory[] = "kept (a directory)";
const char kRestartDriveRoot[] = "kept (a drive root)";
const char kRestartNotOneName[] = "refused (not one name)";
const char kRestartNotSimulated[] = "not simulated";
const char kRestartReadOnly[] = "kept (read-only)";

namespace {
const char kDeleteCommand[] = "command.com /c del ";
const char kDosProgram[] = "COMMAND.COM";
// A DOS program's command tail (all after its name) as its PSP holds it:
// a count byte, at most 126 characters and a carriage return.
const size_t kDosTailMax = 126;

// The command line a 95/98 command interpreter gets: its tail cut to what the
// PSP holds. Nothing tells the caller: CreateProcessA succeeds.
std::string AsTheDosProgramReadsIt(const Machine &m, const std::string &commandLine) {
  if (m.family != Family::Win9x) return commandLine;
  size_t end = commandLine.find(' ');
  if (end == std::string::npos) return commandLine;
  std::string program = Fold(m, commandLine.substr(0, end));
  size_t slash = program.find_last_of("\\/");
  if (program.substr(slash == std::string::npos ? 0 : slash + 1) != kDosProgram) return commandLine;
  return commandLine.substr(0, end + kDosTailMax);
}

// The one name a delete command gives, as the command interpreter reads it:
// a quoted path, or one word. "" when it gives several (a path with blanks
// and no quotes) or a quote left open.
std::string NameDeletedBy(const std::string &commandLine) {
  std::string name = commandLine.substr(sizeof kDeleteCommand - 1);
  if (name[0] != '"') return name.find_first_of(" \t\"") == std::string::npos ? name : "";
  return name.size() > 2 && name.find('"', 1) == name.size() - 1 ? name.substr(1, name.size() - 2) : "";
}

// Read through an OEM code page that is not the ANSI one, a byte from 0x80
// is another character: the name is no file's.
bool NamesAnotherFile(const Machine &m, const std::string &name) {
  if (OemCodePage(m) == m.codePage) return false;
  for (unsigned char c : name)
    if (c >= 0x80) return true;
  return false;
}

std::map<std::string, FileNode>::iterator Lookup(Machine &m, const std::string &resolved) {
  return resolved.empty() ? m.files.end() : m.files.find(Fold(m, resolved));
}

bool IsDriveRoot(const std::string &normalized) { return normalized.size() == 3 && normalized[2] == '\\'; }

// A del run by a hidden command interpreter: files only (a directory's
// files are deleted only once the user confirms, and nobody sees the prompt),
// never a read-only one.
const char *DeleteByCommand(Machine &m, const std::string &name, bool uninstallerRunning) {
  if (NamesAnotherFile(m, name)) return kRestartMissing;
  std::string resolved = ResolvePath(m, name);
  auto it = Lookup(m, resolved);
  if (it == m.files.end()) return IsDriveRoot(resolved) ? kRestartDirectory : kRestartMissing;
  if (it->second.isDirectory) return kRestartDirectory;
  if (it->second.inUse != InUse::No || (uninstallerRunning && IsImageInUse(m, it->first)))
    return kRestartInUse;
  if (it->second.attributes & FILE_ATTRIBUTE_READONLY) return kRestartReadOnly;
  m.files.erase(it);
  return kRestartDeleted;
}

// The attribute is not documented for these entries; a read-only file or
// directory is taken to be kept, as DeleteFileA and RemoveDirectoryA keep it.
const char *CarryOutPending(Machine &m, const std::string &path) {
  std::string resolved = ResolvePath(m, path);
  if (IsDriveRoot(resolved)) return kRestartDriveRoot;
  auto it = Lookup(m, resolved);
  if (it == m.files.end()) return kRestartMissing;
  if (it->second.attributes & FILE_ATTRIBUTE_READONLY) return kRestartReadOnly;
  if (it->second.isDirectory && !IsEmptyDirectory(m, resolved)) return kRestartNotEmpty;
  const char *outcome = it->second.isDirectory ? kRestartRemoved : kRestartDeleted;
  m.files.erase(it);
  return outcome;
}
}  // namespace

bool IsDeleteCommand(const Machine &m, const std::string &commandLine) {
  const size_t prefix = sizeof kDeleteCommand - 1;
  return commandLine.size() > prefix && Fold(m, commandLine.substr(0, prefix)) == Fold(m, kDeleteCommand);
}

RestartEntry RunDeleteCommand(Machine &m, const std::string &commandLine, bool uninstallerRunning) {
  if (!IsDeleteCommand(m, commandLine)) return RestartEntry{commandLine, kRestartNotSimulated};
  std::string name = NameDeletedBy(AsTheDosProgramReadsIt(m, commandLine));
  if (name.empty()) return RestartEntry{commandLine, kRestartNotOneName};
  return RestartEntry{name, DeleteByCommand(m, name, uninstallerRunning)};
}

std::vector<RestartEntry> Restart(Machine &m) {
  std::vector<RestartEntry> entries;
  for (const ProcessRecord &process : m.processes) {
    if (!process.ranOutcome.empty())
      entries.push_back(RestartEntry{process.ranName, process.ranOutcome});
    else
      entries.push_back(RunDeleteCommand(m, process.commandLine, false));
  }
  // The system starts afresh: nothing is in use any more.
  for (auto &entry : m.files) entry.second.inUse = InUse::No;
  for (const std::string &path : m.pendingDeletes)
    entries.push_back(RestartEntry{path, CarryOutPending(m, path)});
  m.processes.clear();
  m.pendingDeletes.clear();
  return entries;
}

}  // namespace sim
