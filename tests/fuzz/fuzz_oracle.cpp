// The fuzz target's oracle. It reads the manifest as a whole read would give
// it and derives, independently of the product, what the uninstaller may
// touch; then compares the machine after the run with the one before.
#include "fuzz_oracle.h"

#include <ctype.h>
#include <stdio.h>

#include <algorithm>

#include "../run_leftovers.h"
#include "removal/removal.h"

namespace fuzz {

namespace {
const char kUninstallRoot[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kMonitorsRoot[] = "System\\CurrentControlSet\\Control\\Print\\Monitors";
const size_t kListMax = 260, kDirectoryMax = 259, kInstallPathMax = 259, kNodeMax = 127, kEntryMax = 259,
             kMonitorMax = 201, kOwnPathMax = 255;

std::string Manifest(const sim::Machine &m) {
  auto it = m.files.find(sim::FoldPath(m, m.windowsDirectory + "\\QVFList.ini"));
  return it == m.files.end() || it->second.isDirectory ? "" : it->second.data;
}

// A value as the uninstaller sees it: the text up to a NUL, if any. Whether
// it may be acted on is Whole's business.
std::string Value(const std::string &ini, const char *section, const std::string &key) {
  bool found = false;
  std::string value = sim::ReadProfileValue(ini, section, key, &found);
  return value[0] ? value : "";
}

// Not cut by its read, and one text (no NUL inside).
bool Whole(const std::string &value, size_t maxLength) {
  return value.size() <= maxLength && value.find('\0') == std::string::npos;
}

std::vector<std::string> List(const std::string &ini, const char *section, const char *format) {
  std::vector<std::string> values;
  for (int i = 0;; ++i) {
    char key[16];
    snprintf(key, sizeof key, format, i);
    std::string value = Value(ini, section, key);
    if (value.empty()) return values;
    values.push_back(value);
  }
}

// Offsets of the backslashes in text, skipping double-byte characters.
std::vector<size_t> Separators(const sim::Machine &m, const std::string &text) {
  std::vector<size_t> at;
  for (size_t i = 0; i < text.size(); ++i) {
    if (sim::IsLeadByte(m, static_cast<unsigned char>(text[i])) && i + 1 < text.size()) {
      ++i;
      continue;
    }
    if (text[i] == '\\') at.push_back(i);
  }
  return at;
}

std::vector<std::string> ChainNodes(const sim::Machine &m, const std::string &path) {
  std::vector<std::string> pieces;
  size_t start = 0;
  std::vector<size_t> cuts = Separators(m, path);
  cuts.push_back(path.size());
  for (size_t cut : cuts) {
    if (cut > start) pieces.push_back(path.substr(start, cut - start));
    start = cut + 1;
  }
  std::vector<std::string> nodes;
  // Only a full path has a chain; a UNC path's root is its share.
  bool drive =
      path.size() >= 3 && isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' && path[2] == '\\';
  bool unc = path.compare(0, 2, "\\\\") == 0;
  size_t rootPieces = unc ? 2 : 1;
  if (!(drive || unc) || pieces.size() < rootPieces) return nodes;
  std::string prefix = unc ? "\\\\" + pieces[0] + "\\" + pieces[1] : pieces[0];
  if (prefix.size() > kNodeMax) return nodes;
  for (size_t i = rootPieces; i < pieces.size(); ++i) {
    prefix += "\\" + pieces[i];
    if (prefix.size() > kNodeMax) break;
    nodes.push_back(prefix);
  }
  return nodes;
}

size_t Depth(const sim::Machine &m, const std::string &path);

// Only a folder below a root is ever removed: a bare drive names that
// drive's current directory, "C:dir" and "\\dir" resolve against one, and a
// share's root is a root.
bool BelowARoot(const sim::Machine &m, const std::string &path) {
  bool drive =
      path.size() >= 3 && isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' && path[2] == '\\';
  bool unc = path.compare(0, 2, "\\\\") == 0;
  return (drive && Depth(m, path) > 1) || (unc && Depth(m, path) > 2);
}

// A folder kept for the restart is named as the platform reads it: a run of
// separators (either slash) is one backslash, and none ends it; a UNC path
// keeps its two.
std::string Tidied(const sim::Machine &m, const std::string &path) {
  std::string tidy = path.compare(0, 2, "\\\\") == 0 ? "\\\\" : "";
  bool separatorLast = !tidy.empty();
  for (size_t i = tidy.size(); i < path.size(); ++i) {
    bool separator = path[i] == '\\' || path[i] == '/';
    if (separator && separatorLast) continue;
    tidy += separator ? '\\' : path[i];
    if (!separator && sim::IsLeadByte(m, static_cast<unsigned char>(path[i])) && i + 1 < path.size())
      tidy += path[++i];
    separatorLast = separator;
  }
  if (separatorLast && tidy.size() > 1) tidy.pop_back();
  return tidy;
}

void AllowDirectory(const sim::Machine &m, Expectations &e, const std::string &arg) {
  if (!BelowARoot(m, arg)) return;
  e.dirArgs.insert(arg);
  e.keptArgs.insert(Tidied(m, arg));
  std::string folded = sim::FoldPath(m, arg);
  if (!folded.empty()) e.removable.insert(folded);
}

std::string Serialise(const sim::RegKey &key) {
  std::string text;
  for (const sim::RegValue &v : key.values)
    text += v.name + "|" + std::to_string(v.type) + "|" + v.data + "\n";
  return text;
}

void CaptureKeys(const sim::Machine &m, const sim::RegKey &key, const std::string &path, State &state) {
  state.keys[sim::Fold(m, path)] = Serialise(key);
  for (const auto &sub : key.subkeys)
    CaptureKeys(m, *sub, path.empty() ? sub->name : path + "\\" + sub->name, state);
}

bool Within(const std::string &foldedPath, const std::string &foldedRoot) {
  return !foldedRoot.empty() &&
         (foldedPath == foldedRoot || foldedPath.compare(0, foldedRoot.size() + 1, foldedRoot + "\\") == 0);
}

// The executable's own path as MoveFileExA may name it: "" on 95/98 and when
// it does not fit its buffer whole.
std::string OwnPathScheduled(const sim::Machine &m) {
  const std::string own = sim::ExecutablePathOf(m);
  return m.family == sim::Family::NT && own.size() <= kOwnPathMax ? own : "";
}

size_t Depth(const sim::Machine &m, const std::string &path) {
  size_t pieces = 0;
  size_t start = 0;
  std::vector<size_t> cuts = Separators(m, path);
  cuts.push_back(path.size());
  for (size_t cut : cuts) {
    if (cut > start) ++pieces;
    start = cut + 1;
  }
  return pieces;
}

// What MoveFileExA may be given, in this order: listed files (those in use),
// the executable's own path exactly, then folders the removal tried that
// hold one of them, deepest first.
std::string CheckScheduled(const Expectations &e, const sim::Machine &after) {
  std::vector<std::string> files;  // folded, scheduled so far
  bool folders = false;
  size_t lastDepth = static_cast<size_t>(-1);
  for (const sim::Call &c : sim::CallsTo(after, "MoveFileExA")) {
    const std::string &arg = c.args[0];
    std::string folded = sim::FoldPath(after, arg);
    if (after.family != sim::Family::NT) return "MoveFileExA on the 95/98 family: " + arg;
    if (!folders && (e.listedFiles.count(arg) || arg == e.ownPath)) {
      if (std::find(files.begin(), files.end(), folded) != files.end()) return "scheduled twice: " + arg;
      files.push_back(folded);
      continue;
    }
    folders = true;
    if (!e.keptArgs.count(arg)) return "MoveFileExA on what the removal never tried, or out of order: " + arg;
    bool holds = false;
    for (const std::string &file : files) holds = holds || (Within(file, folded) && file != folded);
    if (!holds) return "MoveFileExA on a folder that holds nothing scheduled: " + arg;
    size_t depth = Depth(after, arg);
    if (depth > lastDepth) return "folders scheduled out of depth order: " + arg;
    lastDepth = depth;
  }
  return "";
}

std::string CheckCalls(const Expectations &e, const sim::Machine &after) {
  for (const sim::Call &c : sim::CallsTo(after, "DeleteFileA"))
    if (!e.fileArgs.count(c.args[0]))
      return "DeleteFileA on a path the manifest does not name whole: " + c.args[0];
  for (const sim::Call &c : sim::CallsTo(after, "RemoveDirectoryA"))
    if (!e.dirArgs.count(c.args[0]))
      return "RemoveDirectoryA on a path the manifest does not name: " + c.args[0];
  for (const sim::Call &c : sim::CallsTo(after, "RegDeleteKeyA"))
    if (c.args[1] != e.entryKeyArg) return "RegDeleteKeyA on " + c.args[1];
  for (const sim::Call &c : sim::CallsTo(after, "DeletePortA"))
    if (!e.ports.count(c.args[2])) return "DeletePortA on " + c.args[2];
  for (const sim::Call &c : sim::CallsTo(after, "DeleteMonitorA"))
    if (c.args[2] != e.monitor) return "DeleteMonitorA on " + c.args[2];
  for (const sim::Call &c : sim::CallsTo(after, "SetFileAttributesA"))
    if (!e.listedFiles.count(c.args[0]) && c.args[0] != e.ownImage)
      return "SetFileAttributesA on what is neither a listed file nor the executable: " + c.args[0];
  for (const sim::Call &c : sim::CallsTo(after, "LoadLibraryA"))
    if (c.args[0] != e.setupLibrary) return "LoadLibraryA on " + c.args[0];
  return CheckScheduled(e, after);
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

// WININIT.INI changes only on 95/98, by lines NUL=PATH naming listed files,
// each once, inside a [rename] section; every other byte stays, but for a
// line end given to an unterminated last line and a section made when there
// was none.
std::string CheckWininit(const Expectations &e, const sim::Machine &after, const State &now) {
  auto was = e.before.files.find(e.wininit);
  auto is = now.files.find(e.wininit);
  if (is == now.files.end()) return was == e.before.files.end() ? "" : "WININIT.INI went";
  std::string before = was == e.before.files.end() ? "" : was->second.substr(1);
  if (was != e.before.files.end() && is->second == was->second) return "";
  if (after.family == sim::Family::NT) return "WININIT.INI written on the NT family";
  std::vector<std::string> old = Lines(before);
  std::set<std::string> entered;
  size_t kept = 0;
  bool inRename = false, sectionMade = false;
  for (const std::string &line : Lines(is->second.substr(1))) {
    if (line[0] == '[') inRename = sim::Fold(after, line).compare(0, 8, "[RENAME]") == 0;
    bool unterminatedLast = kept + 1 == old.size() && old[kept].back() != '\n';
    if (kept < old.size() && (line == old[kept] || (unterminatedLast && line == old[kept] + "\r\n"))) {
      ++kept;
    } else if (line == "[rename]\r\n" && !sectionMade) {
      sectionMade = true;
    } else if (line.compare(0, 4, "NUL=") == 0 && line.size() > 6 &&
               line.compare(line.size() - 2, 2, "\r\n") == 0 && inRename) {
      std::string named = sim::FoldPath(after, line.substr(4, line.size() - 6));
      if (!e.listedFolded.count(named)) return "WININIT.INI names what is no listed file: " + line;
      if (!entered.insert(named).second) return "entered twice in WININIT.INI: " + line;
    } else {
      return "WININIT.INI changed: " + line;
    }
  }
  return kept == old.size() ? "" : "WININIT.INI lost a line";
}

bool Scheduled(const sim::Machine &after, const std::string &folded) {
  for (const std::string &path : after.pendingDeletes)
    if (sim::FoldPath(after, path) == folded) return true;
  auto wininit = after.files.find(sim::FoldPath(after, after.windowsDirectory + "\\WININIT.INI"));
  if (wininit == after.files.end()) return false;
  for (const std::string &line : Lines(wininit->second.data))
    if (line.compare(0, 4, "NUL=") == 0 && line.size() > 6 &&
        sim::FoldPath(after, line.substr(4, line.size() - 6)) == folded)
      return true;
  return false;
}

// What the completion box names as left behind is there; and a listed file
// that is there, waits for nothing and is not the executable is named (an
// entry in normal form, whose existence the platform and the stand-in judge
// alike), while the names fit their table.
std::string CheckStayed(const Expectations &e, const sim::Machine &after) {
  if (sim::CallsTo(after, "DialogBoxParamA").empty()) return "";
  std::set<std::string> named;
  for (DWORD i = 0; i < stayedCount && i < kStayedNamesKept; ++i) {
    const std::string name = stayedNames[i];
    bool there = sim::Exists(after, name) || (name == e.monitor && sim::FindKey(after, e.monitorPath)) ||
                 (!e.entryKeyArg.empty() && sim::FindKey(after, e.entryKeyArg));
    if (!there) return "said to have stayed, but gone: " + name;
    named.insert(sim::FoldPath(after, name));
  }
  if (stayedCount > kStayedNamesKept) return "";
  for (const std::string &file : e.listedFiles) {
    std::string folded = sim::FoldPath(after, file);
    if (sim::NormalizePath(after, file) != file || !sim::Exists(after, file) || named.count(folded) ||
        folded == sim::FoldPath(after, e.ownImage) || Scheduled(after, folded))
      continue;
    std::string name = sim::Fold(after, file.substr(file.rfind('\\') + 1));
    if (name != "QVFLIST.INI" && name != "QVUNINST.INI") return "stayed, and not said: " + file;
  }
  return "";
}

std::string CheckFiles(const Expectations &e, const State &now) {
  for (const auto &entry : now.files) {
    if (entry.first == e.wininit) continue;
    auto was = e.before.files.find(entry.first);
    if (was == e.before.files.end()) return "a file appeared: " + entry.first;
    if (was->second != entry.second) return "a file changed: " + entry.first;
  }
  for (const auto &entry : e.before.files)
    if (!now.files.count(entry.first) && !e.removable.count(entry.first))
      return "removed, not named: " + entry.first;
  return "";
}

std::string CheckRegistry(const Expectations &e, const State &now) {
  for (const auto &entry : now.keys) {
    auto was = e.before.keys.find(entry.first);
    if (was == e.before.keys.end()) return "a key appeared: " + entry.first;
    if (was->second != entry.second && !Within(entry.first, e.entryKey) && !Within(entry.first, e.monitorKey))
      return "a key's values changed: " + entry.first;
  }
  for (const auto &entry : e.before.keys)
    if (!now.keys.count(entry.first) && !Within(entry.first, e.entryKey) &&
        !Within(entry.first, e.monitorKey))
      return "a key went that was not named: " + entry.first;
  return "";
}

// A printer may only move from one of the monitor's ports, named exactly, to
// the parallel port.
std::string CheckPrinters(const Expectations &e, const sim::Machine &after) {
  if (after.printers.size() != e.before.printers.size()) return "printers came or went";
  for (size_t i = 0; i < after.printers.size(); ++i) {
    const sim::Printer &p = after.printers[i];
    std::string now = p.name + "|" + p.port + "|" + std::to_string(p.jobs.size());
    if (now == e.before.printers[i]) continue;
    std::string was = e.before.printers[i];
    std::string wasPort = was.substr(was.find('|') + 1, was.rfind('|') - was.find('|') - 1);
    if (p.port != e.replacementPort || !e.ports.count(wasPort))
      return "a printer changed: " + was + " -> " + now;
  }
  return "";
}

std::string CheckProgress(const Expectations &e, const sim::Machine &after, DWORD stepCount) {
  if (after.dialogs.empty()) return "";
  const sim::ProgressBar &bar = after.dialogs.back().bar;
  if (stepCount != e.steps)
    return "step count " + std::to_string(stepCount) + ", expected " + std::to_string(e.steps);
  if (static_cast<DWORD>(bar.stepItCount) != stepCount)
    return std::to_string(bar.stepItCount) + " steps sent for a count of " + std::to_string(stepCount);
  if (stepCount <= 0xFFFF && bar.position != bar.rangeMax) return "the bar did not end full";
  return "";
}
}  // namespace

State Capture(const sim::Machine &m) {
  State state;
  for (const auto &entry : m.files)
    state.files[entry.first] = (entry.second.isDirectory ? "D" : "F") + entry.second.data;
  CaptureKeys(m, m.localMachine, "", state);
  for (const sim::Printer &p : m.printers)
    state.printers.push_back(p.name + "|" + p.port + "|" + std::to_string(p.jobs.size()));
  return state;
}

Expectations Expect(const sim::Machine &m) {
  Expectations e;
  e.before = Capture(m);
  std::string ini = Manifest(m);
  for (const std::string &file : List(ini, "FILES", "FILE%02d")) {
    ++e.steps;
    if (!Whole(file, kListMax)) continue;
    e.fileArgs.insert(file);
    e.listedFiles.insert(file);
    e.removable.insert(sim::FoldPath(m, file));
    if (!sim::FoldPath(m, file).empty()) e.listedFolded.insert(sim::FoldPath(m, file));
  }
  // A WININIT.INI the run made and could not fill is deleted again; one that
  // was there never is (CheckWininit).
  e.wininit = sim::FoldPath(m, m.windowsDirectory + "\\WININIT.INI");
  e.fileArgs.insert(m.windowsDirectory + "\\WININIT.INI");
  for (const char *name : {"QVFList.ini", "QVUninst.ini"}) {
    std::string path = m.windowsDirectory + "\\" + name;
    e.fileArgs.insert(path);
    e.removable.insert(sim::FoldPath(m, path));
  }
  for (const std::string &dir : List(ini, "PATHS", "PATH%02d")) {
    if (!Whole(dir, kDirectoryMax)) continue;
    AllowDirectory(m, e, dir);
    for (size_t cut : Separators(m, dir)) AllowDirectory(m, e, dir.substr(0, cut));
  }
  // The retry rule never tries ROOT (less one trailing backslash) itself, and
  // with ROOT cut it tries nothing.
  std::string root = Value(ini, "STMPATHS", "ROOT");
  bool rootWhole = Whole(root, kDirectoryMax);
  std::vector<size_t> rootCuts = Separators(m, root);
  if (!rootCuts.empty() && rootCuts.back() + 1 == root.size()) root.pop_back();
  for (const std::string &dir : List(ini, "STMPATHS", "PATH%02d")) {
    ++e.retryEntries;
    if (!rootWhole || !Whole(dir, kDirectoryMax)) continue;
    AllowDirectory(m, e, dir);
    std::vector<size_t> cuts = Separators(m, dir);
    if (!cuts.empty() && dir.substr(0, cuts.back()) != root) AllowDirectory(m, e, dir.substr(0, cuts.back()));
  }
  std::string install = Value(ini, "UNINSTALL", "PATH");
  if (Whole(install, kInstallPathMax)) {
    for (const std::string &node : ChainNodes(m, install)) {
      AllowDirectory(m, e, node);
      ++e.steps;
    }
  }
  std::string entry = Value(ini, "UnInstKey", "UnInstKey");
  if (!entry.empty() && Whole(entry, kEntryMax)) {
    e.entryKeyArg = std::string(kUninstallRoot) + "\\" + entry;
    // The registry takes one trailing backslash for none.
    std::vector<size_t> cuts = Separators(m, e.entryKeyArg);
    std::string named = e.entryKeyArg;
    if (!cuts.empty() && cuts.back() + 1 == named.size()) named.pop_back();
    e.entryKey = sim::Fold(m, named);
  }
  std::string monitor = Value(ini, "LPR", "Monitor");
  if (!monitor.empty() && Whole(monitor, kMonitorMax)) {
    e.monitor = monitor;
    std::string key = std::string(kMonitorsRoot) + "\\" + monitor;
    e.monitorKey = sim::Fold(m, key);
    e.monitorPath = key;
    const sim::RegKey *ports = sim::FindKey(m, key + "\\Ports");
    if (ports)
      for (const auto &port : ports->subkeys) e.ports.insert(port->name);
    const sim::RegValue *installPath = sim::FindValue(m, key, "InstallPath");
    if (installPath) e.setupLibrary = std::string(installPath->data.c_str()) + "\\_SETUP.DLL";
  }
  e.replacementPort = m.family == sim::Family::NT ? "LPT1:" : "LPT1";
  e.ownPath = OwnPathScheduled(m);
  e.ownImage = sim::ExecutablePathOf(m);
  return e;
}

std::string Check(const Expectations &e, const sim::Machine &after, int exitCode, DWORD stepCount,
                  int chainNodes) {
  if (exitCode != 0 && exitCode != 1) return "exit code " + std::to_string(exitCode);
  std::string unreleased = test::Unreleased(sim::LastRunLeftovers(), chainNodes);
  if (!unreleased.empty()) return "left unreleased: " + unreleased;
  State now = Capture(after);
  if (exitCode == 0 &&
      (now.files != e.before.files || now.keys != e.before.keys || now.printers != e.before.printers))
    return "a refusal changed the machine";
  if (after.clockMs > 10000u * static_cast<uint64_t>(e.retryEntries))
    return "took " + std::to_string(after.clockMs) + " ms for " + std::to_string(e.retryEntries) +
           " retried entries";
  std::string failure = CheckCalls(e, after);
  if (failure.empty()) failure = CheckWininit(e, after, now);
  if (failure.empty()) failure = CheckFiles(e, now);
  if (failure.empty()) failure = CheckRegistry(e, now);
  if (failure.empty()) failure = CheckPrinters(e, after);
  if (failure.empty()) failure = CheckProgress(e, after, stepCount);
  if (failure.empty()) failure = CheckStayed(e, after);
  return failure;
}

}  // namespace fuzz
