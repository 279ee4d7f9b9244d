// The system starting again after a run: what the delete commands the run
// started do once the uninstaller has exited (95/98 family), what the 95/98
// boot step does with WININIT.INI, and what the platform does with the
// entries pending deletion at restart (NT family). A delete command is a DOS
// program: it gets at most 126 characters of command tail and reads its
// bytes through the OEM code page. So does the boot step (WININIT.EXE), which
// runs in real mode before long names exist: it takes the [rename] lines of
// WININIT.INI in the Windows directory, "NUL=PATH" deleting a file and
// "DEST=SOURCE" renaming one (replacing DEST), each path a full path of 8.3
// names ("Destination and source files specified in Wininit.ini with long
// file names are ignored"; files only, not directories: Microsoft KB Q140570),
// then renames the file to WININIT.BAK.
#include <ctype.h>
#include <string.h>

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
const char kRestartLongName[] = "ignored (long name)";
const char kRestartRenamed[] = "renamed";

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

// ---- the 95/98 boot step ----------------------------------------------------

const char kWinInit[] = "WININIT.INI";
const char kWinInitDone[] = "WININIT.BAK";

// An 8.3 name as DOS takes it: 1 to 8 bytes, then a dot and 1 to 3 more, or
// none; none of the characters DOS reserves (a double-byte character counts
// two bytes).
bool IsShortName(const Machine &m, const std::string &name) {
  size_t base = 0, extension = 0;
  bool dot = false;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (IsLeadByte(m, c)) {
      if (++i == name.size()) return false;
      (dot ? extension : base) += 2;
      continue;
    }
    if (c == '.') {
      if (dot || base == 0) return false;
      dot = true;
      continue;
    }
    if (c <= ' ' || strchr("\"*+,/:;<=>?[\\]|", c)) return false;
    ++(dot ? extension : base);
  }
  return base >= 1 && base <= 8 && (dot ? extension >= 1 && extension <= 3 : true);
}

// The pieces of "C:\A\B" after the drive, DBCS-aware; empty pieces kept, so
// that a doubled separator names no 8.3 path.
std::vector<std::string> DosPieces(const Machine &m, const std::string &path) {
  std::vector<std::string> pieces(1);
  for (size_t i = 3; i < path.size(); ++i) {
    if (IsLeadByte(m, static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
      pieces.back() += path.substr(i++, 2);
    } else if (path[i] == '\\') {
      pieces.emplace_back();
    } else {
      pieces.back() += path[i];
    }
  }
  return pieces.size() == 1 && pieces[0].empty() ? std::vector<std::string>{} : pieces;
}

// A full path ("C:\...") of 8.3 names: what the boot step can read.
bool IsShortPath(const Machine &m, const std::string &path) {
  if (path.size() < 3 || !isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':' || path[2] != '\\')
    return false;
  for (const std::string &piece : DosPieces(m, path))
    if (!IsShortName(m, piece)) return false;
  return true;
}

// The name DOS sees for a node: its alias, or its long name when that is an
// upper-case 8.3 name itself; "" when it has none.
std::string DosNameOf(const Machine &m, const FileNode &node, size_t parentLength) {
  if (!node.shortName.empty()) return Fold(m, node.shortName);
  std::string name = node.path.substr(parentLength + 1);
  return IsShortName(m, name) && Fold(m, name) == name ? name : "";
}

// The drive of a short path as DOS names it: "C:".
std::string DriveOf(const std::string &shortPath) {
  return std::string(1, static_cast<char>(toupper(static_cast<unsigned char>(shortPath[0])))) + ":";
}

// The folded key of the node a short path names, looked up by DOS names
// only; "" when some piece names nothing, or a file where a directory must be.
std::string DosLookup(const Machine &m, const std::string &shortPath) {
  std::string resolved = DriveOf(shortPath);
  const std::vector<std::string> pieces = DosPieces(m, shortPath);
  for (size_t i = 0; i < pieces.size(); ++i) {
    const std::string prefix = Fold(m, resolved) + "\\";
    const FileNode *found = nullptr;
    for (auto it = m.files.lower_bound(prefix); it != m.files.end() && !found; ++it) {
      if (it->first.compare(0, prefix.size(), prefix) != 0) break;
      const FileNode &node = it->second;
      bool child = SplitComponents(m, node.path.substr(prefix.size())).size() == 1;
      if (child && DosNameOf(m, node, prefix.size() - 1) == Fold(m, pieces[i])) found = &node;
    }
    if (!found || (i + 1 < pieces.size() && !found->isDirectory)) return "";
    resolved = found->path;
  }
  return Fold(m, resolved);
}

// The long path of the folder a short path's last piece lies in; "" when
// there is no such folder.
std::string FolderOf(const Machine &m, const std::string &shortPath) {
  const std::vector<std::string> pieces = DosPieces(m, shortPath);
  std::string folder = DriveOf(shortPath);
  if (pieces.size() <= 1) return folder;
  for (size_t i = 0; i + 1 < pieces.size(); ++i) folder += "\\" + pieces[i];
  auto it = m.files.find(DosLookup(m, folder));
  return it != m.files.end() && it->second.isDirectory ? it->second.path : "";
}

// "NUL=PATH": the file deleted, unless DOS refuses it.
const char *DeleteAtBoot(Machine &m, const std::string &path) {
  if (!IsShortPath(m, path)) return kRestartLongName;
  if (DosPieces(m, path).empty()) return kRestartDirectory;  // a drive's root
  if (NamesAnotherFile(m, path)) return kRestartMissing;
  auto it = m.files.find(DosLookup(m, path));
  if (it == m.files.end()) return kRestartMissing;
  if (it->second.isDirectory) return kRestartDirectory;
  if (it->second.attributes & FILE_ATTRIBUTE_READONLY) return kRestartReadOnly;
  m.files.erase(it);
  return kRestartDeleted;
}

// "DEST=SOURCE": the source file takes the destination's name, in the
// destination's folder, replacing a file of that name. DOS makes the new
// name in upper case, an 8.3 name with no long name of its own.
const char *RenameAtBoot(Machine &m, const std::string &destination, const std::string &source) {
  const std::vector<std::string> pieces = DosPieces(m, destination);
  if (!IsShortPath(m, source) || !IsShortPath(m, destination) || pieces.empty()) return kRestartLongName;
  if (NamesAnotherFile(m, source) || NamesAnotherFile(m, destination)) return kRestartMissing;
  auto from = m.files.find(DosLookup(m, source));
  if (from == m.files.end()) return kRestartMissing;
  if (from->second.isDirectory) return kRestartDirectory;
  const std::string folder = FolderOf(m, destination);
  if (folder.empty()) return kRestartMissing;
  auto existing = m.files.find(DosLookup(m, destination));
  if (existing == from) return kRestartRenamed;
  if (existing != m.files.end()) {
    if (existing->second.isDirectory) return kRestartDirectory;
    if (existing->second.attributes & FILE_ATTRIBUTE_READONLY) return kRestartReadOnly;
    m.files.erase(existing);
  }
  const FileNode moved = from->second;
  m.files.erase(from);
  const std::string target = folder + "\\" + Fold(m, pieces.back());
  AddFile(m, target, moved.data);
  SetAttributes(m, target, moved.attributes);
  return kRestartRenamed;
}

std::string TrimBlanks(const std::string &text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// The "KEY=VALUE" lines of every [rename] section (its name in any case), in
// file order; comments (";") and lines without "=" are no operations.
std::vector<std::pair<std::string, std::string>> RenameLines(const std::string &text) {
  std::vector<std::pair<std::string, std::string>> lines;
  bool inRename = false;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = TrimBlanks(line);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      std::string name = TrimBlanks(line.substr(1, line.find(']') - 1));
      for (char &c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      inRename = name == "RENAME";
      continue;
    }
    size_t equals = line.find('=');
    if (!inRename || equals == std::string::npos) continue;
    lines.emplace_back(TrimBlanks(line.substr(0, equals)), TrimBlanks(line.substr(equals + 1)));
  }
  return lines;
}

// WININIT.INI once processed becomes WININIT.BAK, replacing an earlier one.
void SetWinInitAside(Machine &m, const std::string &iniPath) {
  auto it = Lookup(m, iniPath);
  if (it == m.files.end()) return;  // a line of its own deleted it
  const std::string backup = ResolvePath(m, m.windowsDirectory) + "\\" + kWinInitDone;
  auto old = Lookup(m, ResolvePath(m, backup));
  if (old != m.files.end() && old->second.isDirectory) return;
  const FileNode done = it->second;
  m.files.erase(it);
  if (old != m.files.end()) m.files.erase(old);
  AddFile(m, backup, done.data);
  SetAttributes(m, backup, done.attributes);
}

// The boot step of the 95/98 family: each [rename] line, then the file set aside.
void RunWinInit(Machine &m, std::vector<RestartEntry> *entries) {
  if (m.family != Family::Win9x) return;  // the NT family never reads the file
  const std::string iniPath = ResolvePath(m, m.windowsDirectory + "\\" + kWinInit);
  auto ini = Lookup(m, iniPath);
  if (ini == m.files.end() || ini->second.isDirectory) return;
  for (const auto &line : RenameLines(ini->second.data)) {
    const bool deletes = Fold(m, line.first) == "NUL";
    const char *outcome = deletes ? DeleteAtBoot(m, line.second) : RenameAtBoot(m, line.first, line.second);
    entries->push_back(RestartEntry{line.first + "=" + line.second, outcome});
  }
  SetWinInitAside(m, iniPath);
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
  RunWinInit(m, &entries);
  for (const std::string &path : m.pendingDeletes)
    entries.push_back(RestartEntry{path, CarryOutPending(m, path)});
  m.processes.clear();
  m.pendingDeletes.clear();
  return entries;
}

}  // namespace sim
