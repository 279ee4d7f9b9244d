// The machine once an uninstall is over, and how it differs from the one the
// uninstall that was never interrupted leaves. A difference is worded by the
// role of what differs (the executable, a [FILES] file, the monitor's key...),
// known from the manifest and from what the full run acted on, so that random
// machines with the same fault fall in one class.
#include <algorithm>

#include "sweep.h"

namespace sweep {

namespace {
const char kRootKey[] = "HKEY_LOCAL_MACHINE\\";
const char kUninstallRoot[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kMonitorsRoot[] = "System\\CurrentControlSet\\Control\\Print\\Monitors\\";

std::string FileText(const sim::Machine &m, const std::string &path) {
  auto it = m.files.find(sim::FoldPath(m, path));
  return it == m.files.end() || it->second.isDirectory ? "" : it->second.data;
}

std::string ManifestValue(const std::string &manifest, const char *section, const char *key) {
  bool found = false;
  return sim::ReadProfileValue(manifest, section, key, &found);
}

void AddPorts(const sim::Machine &m, const std::string &monitor, ProductRoles *roles) {
  const sim::RegKey *ports = sim::FindKey(m, kMonitorsRoot + monitor + "\\Ports");
  if (!ports) return;
  for (const auto &port : ports->subkeys) roles->productPorts.insert(sim::Fold(m, port->name));
}

void AddCatalogTexts(const sim::Machine &m, ProductRoles *roles) {
  for (const sim::IniSection &section : sim::ParseIni(FileText(m, m.windowsDirectory + "\\QVUninst.ini")))
    for (const auto &entry : section.entries) roles->catalogTexts[entry.second] = entry.first;
}
}  // namespace

ProductRoles ReadProductRoles(const sim::Machine &m) {
  ProductRoles roles;
  roles.executable = sim::FoldPath(m, sim::ExecutablePathOf(m));
  // What the 95/98 boot step makes of the WININIT.INI the run wrote.
  roles.acted[sim::FoldPath(m, m.windowsDirectory + "\\WININIT.BAK")] = "WININIT.BAK";
  std::string manifest = FileText(m, m.windowsDirectory + "\\QVFList.ini");
  std::string entry = ManifestValue(manifest, "UnInstKey", "UnInstKey");
  if (!entry.empty()) roles.entryKey = sim::Fold(m, kUninstallRoot + entry);
  std::string monitor = ManifestValue(manifest, "LPR", "Monitor");
  if (!monitor.empty()) roles.monitorKey = sim::Fold(m, kMonitorsRoot + monitor);
  if (!monitor.empty()) AddPorts(m, monitor, &roles);
  AddCatalogTexts(m, &roles);
  return roles;
}

// A path's role is that of the stage whose call removed it in the full run,
// or else of the last stage that named it.
void AddActedPaths(const sim::Machine &m, const std::vector<std::pair<std::string, sim::Call>> &acted,
                   ProductRoles *roles) {
  std::set<std::string> removed;
  for (const auto &stageAndCall : acted) {
    const sim::Call &call = stageAndCall.second;
    const char *role = PathRoleOf(call, stageAndCall.first);
    if (!role || call.args.empty() || call.args[0] == "(null)") continue;
    std::string folded = sim::FoldPath(m, call.args[0]);
    if (folded.empty() || removed.count(folded)) continue;
    if (ChangedMachine(call)) removed.insert(folded);
    roles->acted[folded] = role;
  }
}

// ---- the state ---------------------------------------------------------------

namespace {
// Each exported line under the key it belongs to: key lines alone, value
// lines after their key's path.
void AddRegistryLines(const sim::Machine &m, std::map<std::string, std::string> *lines) {
  std::string text = sim::ExportRegistry(m);
  std::string key;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
      key = line.substr(1, line.size() - 2);
      (*lines)[sim::Fold(m, key)] = key;
    } else if (!line.empty() && !key.empty() && line != "REGEDIT4") {
      (*lines)[sim::Fold(m, key) + "\n" + line] = key + "\n" + line;
    }
  }
}
}  // namespace

EndState DescribeEndState(const sim::Machine &m) {
  EndState state;
  for (const auto &entry : m.files)
    state.files[entry.first] = entry.second.path + (entry.second.isDirectory ? "\\" : "");
  AddRegistryLines(m, &state.registry);
  for (const sim::Printer &printer : m.printers) state.printerPorts[printer.name] = printer.port;
  state.pending = m.pendingDeletes;
  for (const sim::ProcessRecord &process : m.processes) state.running.push_back(process.commandLine);
  return state;
}

// ---- the differences ---------------------------------------------------------

namespace {
bool IsInside(const std::string &folded, const std::string &folder) {
  return !folder.empty() && folded.size() > folder.size() && folded.compare(0, folder.size(), folder) == 0 &&
         folded[folder.size()] == '\\';
}

std::string FileRole(const ProductRoles &roles, const std::string &folded, bool directory) {
  if (folded == roles.executable) return "the executable";
  auto acted = roles.acted.find(folded);
  if (acted != roles.acted.end()) return acted->second;
  return directory ? "a folder the uninstaller never names" : "a file the uninstaller never names";
}

std::string KeyRole(const ProductRoles &roles, const std::string &foldedKey) {
  std::string key = foldedKey.substr(0, foldedKey.find('\n'));
  const size_t rootLength = sizeof kRootKey - 1;  // folded already: upper case
  if (key.compare(0, rootLength, kRootKey) == 0) key = key.substr(rootLength);
  if (!roles.entryKey.empty() && (key == roles.entryKey || IsInside(key, roles.entryKey)))
    return "the uninstall entry";
  if (!roles.monitorKey.empty() && IsInside(key, roles.monitorKey + "\\PORTS")) return "a port's key";
  if (!roles.monitorKey.empty() && (key == roles.monitorKey || IsInside(key, roles.monitorKey)))
    return "the monitor's key";
  return "another key";
}

std::string PortRole(const sim::Machine &m, const ProductRoles &roles, const std::string &port) {
  return roles.productPorts.count(sim::Fold(m, port)) ? "a product port" : "another port";
}

// One part per side of a difference: "files kept: a, b" (the interrupted
// uninstall keeps them, the full one does not) or "files removed: ...".
struct Sides {
  std::set<std::string> kept, removed;
};

void AddSides(const std::string &what, const Sides &sides, Differences *out) {
  auto join = [](const std::set<std::string> &roles) {
    std::string text;
    for (const std::string &role : roles) text += (text.empty() ? "" : ", ") + role;
    return text;
  };
  if (!sides.kept.empty()) out->parts.push_back(what + " kept: " + join(sides.kept));
  if (!sides.removed.empty()) out->parts.push_back(what + " removed: " + join(sides.removed));
}

void CompareFiles(const ProductRoles &roles, const EndState &state, const EndState &baseline,
                  Differences *out) {
  Sides sides;
  for (const auto &file : state.files) {
    if (baseline.files.count(file.first)) continue;
    sides.kept.insert(FileRole(roles, file.first, file.second.back() == '\\'));
    out->details.push_back("kept: " + file.second);
  }
  for (const auto &file : baseline.files) {
    if (state.files.count(file.first)) continue;
    sides.removed.insert(FileRole(roles, file.first, file.second.back() == '\\'));
    out->details.push_back("removed: " + file.second);
  }
  AddSides("files", sides, out);
}

// A value line counts only when its key is on both sides.
void CompareRegistrySide(const ProductRoles &roles, const std::map<std::string, std::string> &from,
                         const std::map<std::string, std::string> &other, const char *verb,
                         std::set<std::string> *side, Differences *out) {
  for (const auto &line : from) {
    if (other.count(line.first)) continue;
    size_t newline = line.first.find('\n');
    bool isValue = newline != std::string::npos;
    if (isValue && !other.count(line.first.substr(0, newline))) continue;
    std::string role = KeyRole(roles, line.first);
    side->insert(isValue ? "values of " + role : role);
    std::string shown = line.second;
    std::replace(shown.begin(), shown.end(), '\n', ' ');
    out->details.push_back(std::string(verb) + ": " + shown);
  }
}

void CompareRegistry(const ProductRoles &roles, const EndState &state, const EndState &baseline,
                     Differences *out) {
  Sides sides;
  CompareRegistrySide(roles, state.registry, baseline.registry, "kept", &sides.kept, out);
  CompareRegistrySide(roles, baseline.registry, state.registry, "removed", &sides.removed, out);
  AddSides("registry", sides, out);
}

void ComparePrinters(const sim::Machine &m, const ProductRoles &roles, const EndState &state,
                     const EndState &baseline, Differences *out) {
  std::set<std::string> parts;
  for (const auto &printer : state.printerPorts) {
    auto full = baseline.printerPorts.find(printer.first);
    if (full == baseline.printerPorts.end() || full->second == printer.second) continue;
    parts.insert("printers: a printer on " + PortRole(m, roles, printer.second) +
                 " (full run: " + PortRole(m, roles, full->second) + ")");
    out->details.push_back("printer \"" + printer.first + "\" on " + printer.second +
                           " (full run: " + full->second + ")");
  }
  out->parts.insert(out->parts.end(), parts.begin(), parts.end());
}

void CompareLeftovers(const char *what, const std::vector<std::string> &state,
                      const std::vector<std::string> &baseline, Differences *out) {
  if (state == baseline) return;
  out->parts.push_back(std::string(what) + " differs");
  for (const std::string &item : state) out->details.push_back(std::string(what) + ": " + item);
  for (const std::string &item : baseline) out->details.push_back(std::string(what) + " (full run): " + item);
}
}  // namespace

Differences Compare(const sim::Machine &m, const ProductRoles &roles, const EndState &state,
                    const EndState &baseline) {
  Differences out;
  CompareFiles(roles, state, baseline, &out);
  CompareRegistry(roles, state, baseline, &out);
  ComparePrinters(m, roles, state, baseline, &out);
  CompareLeftovers("pending at the restart", state.pending, baseline.pending, &out);
  CompareLeftovers("running", state.running, baseline.running, &out);
  return out;
}

}  // namespace sweep
