// Machine folders, the one scenario format: machine.ini (family, code page,
// paths, each drive's current directory, the user's Administrators
// membership, when a delete command runs, the disk's free space, printers and
// jobs, windows, libraries, files in use, attributes and 8.3 aliases, scripted
// answers),
// registry.reg (REGEDIT4 text of HKEY_LOCAL_MACHINE) and one folder per drive
// (drive_c/ ...) holding its files and directories. The drives' file names
// are the machine's names in UTF-8, as the platform keeps them in Unicode and
// Wine on Linux stores them, so that a double-byte name whose trail byte is a
// backslash is one name on both.
#include <ctype.h>
#include <iconv.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "machine.h"

namespace fs = std::filesystem;

namespace sim {

namespace {
bool ReadWholeFile(const fs::path &path, std::string *text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *text = buffer.str();
  return true;
}

bool WriteWholeFile(const fs::path &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

bool StartsWithName(const std::string &name, const char *prefix) {
  size_t length = std::char_traits<char>::length(prefix);
  if (name.size() < length) return false;
  for (size_t i = 0; i < length; ++i)
    if (toupper(static_cast<unsigned char>(name[i])) != toupper(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

std::string Get(const IniSection &section, const char *key, const std::string &fallback = "") {
  for (const auto &entry : section.entries)
    if (StartsWithName(entry.first, key) && entry.first.size() == std::char_traits<char>::length(key))
      return entry.second;
  return fallback;
}

bool Has(const IniSection &section, const char *key) {
  for (const auto &entry : section.entries)
    if (StartsWithName(entry.first, key) && entry.first.size() == std::char_traits<char>::length(key))
      return true;
  return false;
}

DWORD ParseNumber(const std::string &text) { return static_cast<DWORD>(strtoul(text.c_str(), nullptr, 0)); }
uint64_t ParseNumber64(const std::string &text) { return strtoull(text.c_str(), nullptr, 0); }

std::string Upper(const std::string &text);

int ParseAnswer(const std::string &text) {
  std::string upper = Upper(text);
  if (upper == "YES") return IDYES;
  if (upper == "NO") return IDNO;
  if (upper == "CANCEL") return IDCANCEL;
  if (upper == "OK") return IDOK;
  return static_cast<int>(ParseNumber(text));
}

const struct {
  const char *name;
  DWORD value;
} kJobStatuses[] = {{"paused", JOB_STATUS_PAUSED},
                    {"error", JOB_STATUS_ERROR},
                    {"spooling", JOB_STATUS_SPOOLING},
                    {"printing", JOB_STATUS_PRINTING}};

PrintJob ParseJob(const std::string &text) {
  PrintJob job;
  size_t bar = text.find('|');
  job.document = text.substr(0, bar);
  if (bar == std::string::npos) return job;
  std::string status = text.substr(bar + 1);
  for (const auto &known : kJobStatuses)
    if (status.find(known.name) != std::string::npos) job.status |= known.value;
  return job;
}

std::string FormatJob(const PrintJob &job) {
  std::string text = job.document;
  std::string status;
  for (const auto &known : kJobStatuses)
    if (job.status & known.value) status += (status.empty() ? "" : ",") + std::string(known.name);
  return status.empty() ? text : text + "|" + status;
}

// The platform's own paths are texts: no NUL can stand inside one.
std::string PathText(const std::string &value) { return value.substr(0, value.find('\0')); }

std::string Upper(const std::string &text) {
  std::string upper;
  for (char c : text) upper += static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return upper;
}

const char *const kAdministrators[] = {"yes", "no", "deny-only"};  // in Administrators' order
const char *const kDeleteCommandRuns[] = {"after-exit", "at-start"};

// The index of the word in the list (letter case aside); 0, the default, when none.
template <size_t N>
size_t Choice(const std::string &text, const char *const (&words)[N]) {
  for (size_t i = 0; i < N; ++i)
    if (Upper(text) == Upper(words[i])) return i;
  return 0;
}

void ApplyMachineSection(Machine &m, const IniSection &s) {
  std::string family = Get(s, "Family", "NT");
  m.family = (family == "NT") ? Family::NT : Family::Win9x;
  m.codePage = ParseNumber(Get(s, "CodePage", "1252"));
  m.windowsDirectory = PathText(Get(s, "WindowsDirectory", m.windowsDirectory));
  m.currentDirectory = PathText(Get(s, "CurrentDirectory", m.currentDirectory));
  m.executablePath = PathText(Get(s, "Executable", m.executablePath));
  m.administrators = static_cast<Administrators>(Choice(Get(s, "Administrators"), kAdministrators));
  m.deleteCommandRuns =
      static_cast<DeleteCommandRuns>(Choice(Get(s, "DeleteCommandRuns"), kDeleteCommandRuns));
}

// [DriveDirectories] "D:=D:\\dir": the "=D:" variable the process inherits.
// A key that names no drive letter is no such variable.
void ApplyDriveDirectories(Machine &m, const IniSection &s) {
  for (const auto &entry : s.entries) {
    const std::string &key = entry.first;
    bool letter = !key.empty() && isalpha(static_cast<unsigned char>(key[0]));
    if (letter && (key.size() == 1 || (key.size() == 2 && key[1] == ':')))
      m.driveDirectories[static_cast<char>(toupper(static_cast<unsigned char>(key[0])))] =
          PathText(entry.second);
  }
}

// A file's setting in [Locked], [Attributes] or [ShortNames]: "PATH=setting",
// or "N=PATH|setting" for a path no key can hold (one with '='), or, in
// [Locked], "N=PATH" (open).
struct PathSetting {
  std::string path;
  std::string setting;
};

bool IsNumber(const std::string &text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

PathSetting ParsePathSetting(const std::pair<std::string, std::string> &entry) {
  if (!IsNumber(entry.first)) return PathSetting{PathText(entry.first), entry.second};
  size_t bar = entry.second.rfind('|');
  if (bar == std::string::npos) return PathSetting{PathText(entry.second), ""};
  return PathSetting{PathText(entry.second.substr(0, bar)), entry.second.substr(bar + 1)};
}

std::string PathSettingLine(const std::string &path, const std::string &setting, int *count) {
  if (path.find('=') == std::string::npos) return path + "=" + setting + "\n";
  return std::to_string(++*count) + "=" + path + "|" + setting + "\n";
}

const struct {
  const char *name;
  DWORD value;
} kAttributeNames[] = {{"readonly", FILE_ATTRIBUTE_READONLY},
                       {"hidden", FILE_ATTRIBUTE_HIDDEN},
                       {"system", FILE_ATTRIBUTE_SYSTEM},
                       {"archive", FILE_ATTRIBUTE_ARCHIVE}};

// "readonly,hidden": exactly these; "normal": none.
DWORD ParseAttributes(const std::string &text) {
  DWORD attributes = 0;
  std::string upper = Upper(text);
  for (const auto &known : kAttributeNames)
    if (upper.find(Upper(known.name)) != std::string::npos) attributes |= known.value;
  return attributes;
}

std::string FormatAttributes(DWORD attributes) {
  std::string text;
  for (const auto &known : kAttributeNames)
    if (attributes & known.value) text += (text.empty() ? "" : ",") + std::string(known.name);
  return text.empty() ? "normal" : text;
}

DWORD DefaultAttributes(const FileNode &node) { return node.isDirectory ? 0 : FILE_ATTRIBUTE_ARCHIVE; }

void ApplyLocked(Machine &m, const IniSection &s) {
  for (const auto &entry : s.entries) {
    PathSetting locked = ParsePathSetting(entry);
    Lock(m, locked.path, Upper(locked.setting) == "LOADED" ? InUse::Loaded : InUse::Open);
  }
}

// A spooler's printers have names, each its own: a section without one, or
// with a name already taken, describes no printer the platform could hold.
void ApplyPrinterSection(Machine &m, const IniSection &s) {
  Printer printer;
  printer.name = PathText(Get(s, "Name"));
  if (printer.name.empty()) return;
  for (const Printer &other : m.printers)
    if (Fold(m, other.name) == Fold(m, printer.name)) return;
  printer.port = Get(s, "Port");
  printer.driver = Get(s, "Driver", printer.driver);
  printer.comment = Get(s, "Comment");
  printer.location = Get(s, "Location");
  printer.shareName = Get(s, "ShareName");
  printer.refuseOpen = ParseNumber(Get(s, "RefuseOpen", "0")) != 0;
  for (const auto &entry : s.entries)
    if (StartsWithName(entry.first, "Job")) printer.jobs.push_back(ParseJob(entry.second));
  m.printers.push_back(printer);
}

void ApplyLibrarySection(Machine &m, const IniSection &s) {
  Library library;
  library.path = Get(s, "Path");
  library.exportsCheckUserPrivilege = Has(s, "CheckUserPrivilege");
  library.checkUserPrivilegeResult = ParseNumber(Get(s, "CheckUserPrivilege", "0"));
  m.libraries.push_back(library);
}

// "undeletable" and/or "deny 0x2" (rights refused to RegOpenKeyExA).
void ApplyRegistryLock(Machine &m, const std::string &keyPath, const std::string &how) {
  RegKey *key = FindKey(m, keyPath);
  if (!key) return;
  if (how.find("undeletable") != std::string::npos) key->undeletable = true;
  size_t deny = how.find("deny");
  if (deny != std::string::npos) key->deniedAccess = ParseNumber(how.substr(deny + 4));
}

// The characters of code page 1252 from 0x80 to 0x9F; the five it leaves
// undefined map to the control characters of the same value, as the
// platform's conversion does.
const char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string *out, char32_t c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Converts with iconv; false when some byte does not convert.
bool Iconv(const char *to, const char *from, const std::string &text, std::string *out) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in = text;
  std::string buffer(text.size() * 4 + 4, '\0');
  char *inCursor = in.data();
  char *outCursor = buffer.data();
  size_t inLeft = in.size(), outLeft = buffer.size();
  size_t converted = iconv(converter, &inCursor, &inLeft, &outCursor, &outLeft);
  iconv_close(converter);
  if (converted == static_cast<size_t>(-1) || inLeft != 0) return false;
  *out = buffer.substr(0, buffer.size() - outLeft);
  return true;
}

// One path component, ANSI in the machine's code page, as a host file name.
// A name that does not convert is kept as its bytes.
std::string HostName(const Machine &m, const std::string &component) {
  std::string out;
  if (m.codePage == 932) return Iconv("UTF-8", "CP932", component, &out) ? out : component;
  for (unsigned char c : component)
    AppendUtf8(&out, c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : static_cast<char32_t>(c));
  return out;
}

// A host file name back to the machine's ANSI name.
std::string AnsiName(const Machine &m, const std::string &hostName) {
  std::string out;
  if (m.codePage == 932) return Iconv("CP932", "UTF-8", hostName, &out) ? out : hostName;
  std::u32string wide;
  for (size_t i = 0; i < hostName.size();) {
    unsigned char c = static_cast<unsigned char>(hostName[i]);
    int length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (i + length > hostName.size() || (c >= 0x80 && c < 0xC0)) return hostName;  // not UTF-8
    char32_t code = length == 1 ? c : c & (0xFF >> (length + 1));
    for (int k = 1; k < length; ++k)
      code = (code << 6) | (static_cast<unsigned char>(hostName[i + k]) & 0x3F);
    wide += code;
    i += static_cast<size_t>(length);
  }
  for (char32_t code : wide) {
    int byte = code < 0x80 || (code >= 0xA0 && code < 0x100) ? static_cast<int>(code) : -1;
    for (int k = 0; k < 32 && byte < 0; ++k)
      if (kCp1252High[k] == code) byte = 0x80 + k;
    if (byte < 0) return hostName;
    out += static_cast<char>(byte);
  }
  return out;
}

// "C:\\A\\B" as drive_c/A/B, each component converted; components are
// split DBCS-aware.
fs::path HostPath(const Machine &m, const fs::path &folder, const std::string &path) {
  fs::path target =
      folder / ("drive_" + std::string(1, static_cast<char>(tolower(static_cast<unsigned char>(path[0])))));
  std::string component;
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i < path.size() && IsLeadByte(m, static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
      component += path.substr(i++, 2);
      continue;
    }
    if (i == path.size() || path[i] == '\\') {
      if (!component.empty()) target /= HostName(m, component);
      component.clear();
      continue;
    }
    component += path[i];
  }
  return target;
}

bool LoadDrives(Machine &m, const fs::path &folder) {
  for (const fs::directory_entry &drive : fs::directory_iterator(folder)) {
    std::string name = drive.path().filename().string();
    if (!drive.is_directory() || name.size() != 7 || !StartsWithName(name, "drive_")) continue;
    std::string root = std::string(1, static_cast<char>(toupper(static_cast<unsigned char>(name[6])))) + ":";
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(drive.path())) {
      std::string path = root;
      for (const fs::path &component : fs::relative(entry.path(), drive.path()))
        path += "\\" + AnsiName(m, component.string());
      if (entry.is_directory()) {
        AddDirectory(m, path);
      } else {
        std::string data;
        if (!ReadWholeFile(entry.path(), &data)) return false;
        AddFile(m, path, data);
      }
    }
  }
  return true;
}

std::string IniLine(const std::string &key, const std::string &value) { return key + "=" + value + "\n"; }

// [Locked] (open files as "N=PATH", as ever), [Attributes] (those that are
// not a new file's or directory's) and [ShortNames].
std::string FileSettingsText(const Machine &m) {
  std::string locked, attributes, shortNames;
  int count = 0;
  for (const auto &entry : m.files) {
    const FileNode &node = entry.second;
    if (node.inUse == InUse::Open) locked += IniLine(std::to_string(++count), node.path);
    if (node.inUse == InUse::Loaded) locked += PathSettingLine(node.path, "loaded", &count);
  }
  int attributeCount = 0, aliasCount = 0;
  for (const auto &entry : m.files) {
    const FileNode &node = entry.second;
    if (node.attributes != DefaultAttributes(node))
      attributes += PathSettingLine(node.path, FormatAttributes(node.attributes), &attributeCount);
    if (!node.shortName.empty()) shortNames += PathSettingLine(node.path, node.shortName, &aliasCount);
  }
  std::string text;
  if (!locked.empty()) text += "\n[Locked]\n" + locked;
  if (!attributes.empty()) text += "\n[Attributes]\n" + attributes;
  if (!shortNames.empty()) text += "\n[ShortNames]\n" + shortNames;
  return text;
}

std::string MachineIniText(const Machine &m) {
  std::string text = "[Machine]\n";
  text += IniLine("Family", m.family == Family::NT ? "NT" : "95/98");
  text += IniLine("CodePage", std::to_string(m.codePage));
  text += IniLine("WindowsDirectory", m.windowsDirectory);
  text += IniLine("CurrentDirectory", m.currentDirectory);
  text += IniLine("Executable", m.executablePath);
  if (m.administrators != Administrators::Yes)
    text += IniLine("Administrators", kAdministrators[static_cast<size_t>(m.administrators)]);
  if (m.deleteCommandRuns != DeleteCommandRuns::AfterExit)
    text += IniLine("DeleteCommandRuns", kDeleteCommandRuns[static_cast<size_t>(m.deleteCommandRuns)]);
  if (m.diskLimited) text += IniLine("FreeBytes", std::to_string(FreeBytes(m)));
  if (!m.driveDirectories.empty()) text += "\n[DriveDirectories]\n";
  for (const auto &drive : m.driveDirectories)
    text += IniLine(std::string(1, drive.first) + ":", drive.second);
  for (size_t i = 0; i < m.printers.size(); ++i) {
    const Printer &p = m.printers[i];
    text += "\n[Printer" + std::to_string(i + 1) + "]\n" + IniLine("Name", p.name) + IniLine("Port", p.port) +
            IniLine("Driver", p.driver);
    if (!p.comment.empty()) text += IniLine("Comment", p.comment);
    if (!p.location.empty()) text += IniLine("Location", p.location);
    if (!p.shareName.empty()) text += IniLine("ShareName", p.shareName);
    if (p.refuseOpen) text += IniLine("RefuseOpen", "1");
    for (size_t j = 0; j < p.jobs.size(); ++j)
      text += IniLine("Job" + std::to_string(j + 1), FormatJob(p.jobs[j]));
  }
  for (size_t i = 0; i < m.windows.size(); ++i)
    text += "\n[Window" + std::to_string(i + 1) + "]\n" + IniLine("Title", m.windows[i].title) +
            IniLine("Class", m.windows[i].className);
  for (size_t i = 0; i < m.libraries.size(); ++i) {
    const Library &l = m.libraries[i];
    text += "\n[Library" + std::to_string(i + 1) + "]\n" + IniLine("Path", l.path);
    if (l.exportsCheckUserPrivilege)
      text += IniLine("CheckUserPrivilege", std::to_string(l.checkUserPrivilegeResult));
  }
  // Empty directories are listed too: version control keeps no empty folder.
  std::string empty;
  int emptyCount = 0;
  for (auto it = m.files.begin(); it != m.files.end(); ++it) {
    if (!it->second.isDirectory) continue;
    std::string prefix = it->first + "\\";
    auto child = m.files.lower_bound(prefix);
    bool hasChild = child != m.files.end() && child->first.compare(0, prefix.size(), prefix) == 0;
    if (!hasChild) empty += IniLine(std::to_string(++emptyCount), it->second.path);
  }
  if (!empty.empty()) text += "\n[Directories]\n" + empty;
  return text + FileSettingsText(m);
}

void CollectRegistryLocks(const RegKey &key, const std::string &path, std::string *text) {
  if (key.undeletable || key.deniedAccess) {
    std::string how = key.undeletable ? "undeletable" : "";
    if (key.deniedAccess) how += (how.empty() ? "" : " ") + std::string("deny ") + Hex(key.deniedAccess);
    *text += IniLine(path, how);
  }
  for (const auto &sub : key.subkeys)
    CollectRegistryLocks(*sub, path.empty() ? sub->name : path + "\\" + sub->name, text);
}

bool SaveDrives(const Machine &m, const fs::path &folder) {
  for (const fs::directory_entry &entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    if (entry.is_directory() && name.size() == 7 && StartsWithName(name, "drive_"))
      fs::remove_all(entry.path());
  }
  fs::create_directories(folder / "drive_c");
  for (const auto &entry : m.files) {
    const FileNode &node = entry.second;
    fs::path target = HostPath(m, folder, node.path);
    if (node.isDirectory) {
      fs::create_directories(target);
    } else {
      fs::create_directories(target.parent_path());
      if (!WriteWholeFile(target, node.data)) return false;
    }
  }
  return true;
}
}  // namespace

// The drives loaded next get their aliases once the body has given the folder's.
void ApplyMachineHeader(Machine &m, const std::string &iniText) {
  for (const IniSection &s : ParseIni(iniText)) {
    if (StartsWithName(s.name, "Machine")) ApplyMachineSection(m, s);
    if (StartsWithName(s.name, "DriveDirectories")) ApplyDriveDirectories(m, s);
  }
  m.aliasesDeferred = true;
}

// [Machine] FreeBytes: what is free once the drives are laid down (the last
// [Machine] section decides, as for the header's keys); no key, no limit.
void ApplyFreeBytes(Machine &m, const std::vector<IniSection> &sections) {
  for (const IniSection &s : sections) {
    if (!StartsWithName(s.name, "Machine")) continue;
    m.diskLimited = false;
    if (Has(s, "FreeBytes")) SetFreeBytes(m, ParseNumber64(Get(s, "FreeBytes")));
  }
}

// Empty directories and aliases first: the other sections may name them. On
// 95/98 the names without an alias of the folder's get the file system's,
// made in path order.
void ApplyMachineBody(Machine &m, const std::string &iniText) {
  const std::vector<IniSection> sections = ParseIni(iniText);
  ApplyFreeBytes(m, sections);
  for (const IniSection &s : sections)
    if (StartsWithName(s.name, "Directories"))
      for (const auto &entry : s.entries) AddDirectory(m, entry.second);
  for (const IniSection &s : sections)
    if (StartsWithName(s.name, "ShortNames"))
      for (const auto &entry : s.entries) {
        PathSetting alias = ParsePathSetting(entry);
        SetShortName(m, alias.path, alias.setting);
      }
  m.aliasesDeferred = false;
  MakeAliases(m);
  for (const IniSection &s : sections) {
    if (StartsWithName(s.name, "Printer")) ApplyPrinterSection(m, s);
    if (StartsWithName(s.name, "Window")) m.windows.push_back(TopWindow{Get(s, "Title"), Get(s, "Class")});
    if (StartsWithName(s.name, "Library")) ApplyLibrarySection(m, s);
    if (StartsWithName(s.name, "Answers"))
      for (const auto &entry : s.entries) m.answers.push_back(ParseAnswer(entry.second));
    if (StartsWithName(s.name, "Locked")) ApplyLocked(m, s);
    if (StartsWithName(s.name, "Attributes"))
      for (const auto &entry : s.entries) {
        PathSetting attributes = ParsePathSetting(entry);
        SetAttributes(m, attributes.path, ParseAttributes(attributes.setting));
      }
    if (StartsWithName(s.name, "RegistryLocks"))
      for (const auto &entry : s.entries) ApplyRegistryLock(m, entry.first, entry.second);
  }
}

namespace {
std::string HexOf(const std::string &bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

// FNV-1a, 64 bits: a file's contents in a line.
std::string DigestOf(const std::string &bytes) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3ULL;
  return Hex(hash);
}

const char *InUseName(InUse how) {
  return how == InUse::Open ? "open" : how == InUse::Loaded ? "loaded" : "no";
}

std::string Fields(std::initializer_list<std::string> fields) {
  std::string line;
  for (const std::string &field : fields) line += (line.empty() ? "" : "|") + field;
  return line + "\n";
}

void DescribeKeys(const Machine &m, const RegKey &key, const std::string &path,
                  std::map<std::string, std::string> *lines) {
  for (const auto &sub : key.subkeys) {
    std::string subPath = path.empty() ? sub->name : path + "\\" + sub->name;
    std::string text = Fields({"key", subPath, std::to_string(sub->undeletable), Hex(sub->deniedAccess)});
    for (const RegValue &value : sub->values)
      text += Fields({"value", value.name, std::to_string(value.type), HexOf(value.data)});
    (*lines)[Fold(m, subPath)] = text;
    DescribeKeys(m, *sub, subPath, lines);
  }
}
}  // namespace

std::string DescribeMachine(const Machine &m) {
  std::string text =
      Fields({"family", m.family == Family::NT ? "NT" : "95/98"}) +
      Fields({"code page", std::to_string(m.codePage)}) + Fields({"windows directory", m.windowsDirectory}) +
      Fields({"current directory", m.currentDirectory}) + Fields({"executable", m.executablePath}) +
      Fields({"administrators", kAdministrators[static_cast<size_t>(m.administrators)]}) +
      Fields({"delete command runs", kDeleteCommandRuns[static_cast<size_t>(m.deleteCommandRuns)]}) +
      Fields({"free bytes", m.diskLimited ? std::to_string(FreeBytes(m)) : "unlimited"});
  for (const auto &drive : m.driveDirectories)
    text += Fields({"drive directory", std::string(1, drive.first) + ":", drive.second});
  for (const auto &entry : m.files) {
    const FileNode &node = entry.second;
    text += Fields({node.isDirectory ? "directory" : "file", node.path, Hex(node.attributes),
                    InUseName(node.inUse), node.aliasMade ? "" : node.shortName,
                    node.isDirectory ? "" : DigestOf(node.data)});
  }
  std::map<std::string, std::string> keys;
  DescribeKeys(m, m.localMachine, "", &keys);
  for (const auto &key : keys) text += key.second;
  for (const Printer &p : m.printers) {
    text += Fields({"printer", p.name, p.port, p.driver, p.comment, p.location, p.shareName,
                    std::to_string(p.refuseOpen)});
    for (const PrintJob &job : p.jobs) text += Fields({"job", job.document, Hex(job.status)});
  }
  for (const TopWindow &w : m.windows) text += Fields({"window", w.title, w.className});
  for (const Library &l : m.libraries)
    text += Fields({"library", l.path, std::to_string(l.exportsCheckUserPrivilege),
                    std::to_string(l.checkUserPrivilegeResult)});
  for (int answer : m.answers) text += Fields({"answer", std::to_string(answer)});
  return text;
}

bool LoadMachineFolder(Machine &m, const std::string &folder, std::string *error) {
  std::string ini;
  if (!ReadWholeFile(fs::path(folder) / "machine.ini", &ini)) {
    *error = "no machine.ini in " + folder;
    return false;
  }
  ApplyMachineHeader(m, ini);
  std::string reg;
  if (ReadWholeFile(fs::path(folder) / "registry.reg", &reg) && !ImportRegistry(m, reg, error)) return false;
  if (!LoadDrives(m, folder)) {
    *error = "cannot read the drives of " + folder;
    return false;
  }
  ApplyMachineBody(m, ini);
  return true;
}

bool SaveMachineFolder(const Machine &m, const std::string &folder, std::string *error) {
  fs::create_directories(folder);
  std::string ini = MachineIniText(m);
  std::string locks;
  CollectRegistryLocks(m.localMachine, "", &locks);
  if (!locks.empty()) ini += "\n[RegistryLocks]\n" + locks;
  if (!WriteWholeFile(fs::path(folder) / "machine.ini", ini) ||
      !WriteWholeFile(fs::path(folder) / "registry.reg", ExportRegistry(m)) || !SaveDrives(m, folder)) {
    *error = "cannot write " + folder;
    return false;
  }
  return true;
}

}  // namespace sim
