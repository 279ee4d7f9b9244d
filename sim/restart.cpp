// The system starting again after a run: what the delete commands the run
// started do once the uninstaller has exited (95/98 family), and what the
// platform does with the entries pending deletion at restart (NT family).
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

namespace {
const char kDeleteCommand[] = "command.com /c del ";

bool IsDeleteCommand(const Machine &m, const std::string &commandLine) {
  const size_t prefix = sizeof kDeleteCommand - 1;
  return commandLine.size() > prefix && Fold(m, commandLine.substr(0, prefix)) == Fold(m, kDeleteCommand);
}

// The one name a delete command gives, as the command interpreter reads it:
// a quoted path, or one word. "" when it gives several (a path with blanks
// and no quotes) or a quote left open.
std::string NameDeletedBy(const std::string &commandLine) {
  std::string name = commandLine.substr(sizeof kDeleteCommand - 1);
  if (name[0] != '"') return name.find_first_of(" \t\"") == std::string::npos ? name : "";
  return name.size() > 2 && name.find('"', 1) == name.size() - 1 ? name.substr(1, name.size() - 2) : "";
}

std::map<std::string, FileNode>::iterator Lookup(Machine &m, const std::string &normalized) {
  return normalized.empty() ? m.files.end() : m.files.find(Fold(m, normalized));
}

bool IsDriveRoot(const std::string &normalized) { return normalized.size() == 3 && normalized[2] == '\\'; }

// A del run by a hidden command interpreter: files only (a directory's
// files are deleted only once the user confirms, and nobody sees the prompt).
const char *DeleteAtExit(Machine &m, const std::string &name) {
  std::string normalized = NormalizePath(m, name);
  auto it = Lookup(m, normalized);
  if (it == m.files.end()) return IsDriveRoot(normalized) ? kRestartDirectory : kRestartMissing;
  if (it->second.isDirectory) return kRestartDirectory;
  if (it->second.locked) return kRestartInUse;
  m.files.erase(it);
  return kRestartDeleted;
}

const char *CarryOutPending(Machine &m, const std::string &path) {
  std::string normalized = NormalizePath(m, path);
  if (IsDriveRoot(normalized)) return kRestartDriveRoot;
  auto it = Lookup(m, normalized);
  if (it == m.files.end()) return kRestartMissing;
  if (it->second.isDirectory && !IsEmptyDirectory(m, normalized)) return kRestartNotEmpty;
  const char *outcome = it->second.isDirectory ? kRestartRemoved : kRestartDeleted;
  m.files.erase(it);
  return outcome;
}
}  // namespace

std::vector<RestartEntry> Restart(Machine &m) {
  std::vector<RestartEntry> entries;
  for (const ProcessRecord &process : m.processes) {
    std::string name = IsDeleteCommand(m, process.commandLine) ? NameDeletedBy(process.commandLine) : "";
    if (!name.empty())
      entries.push_back(RestartEntry{name, DeleteAtExit(m, name)});
    else if (IsDeleteCommand(m, process.commandLine))
      entries.push_back(RestartEntry{process.commandLine, kRestartNotOneName});
    else
      entries.push_back(RestartEntry{process.commandLine, kRestartNotSimulated});
  }
  // The system starts afresh: nothing is in use any more.
  for (auto &entry : m.files) entry.second.locked = false;
  for (const std::string &path : m.pendingDeletes)
    entries.push_back(RestartEntry{path, CarryOutPending(m, path)});
  m.processes.clear();
  m.pendingDeletes.clear();
  return entries;
}

}  // namespace sim
