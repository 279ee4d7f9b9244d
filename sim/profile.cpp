// Profile (INI) files: GetPrivateProfileStringA over the simulated files, and
// the INI parser that the machine folder's own machine.ini uses too.
#include <ctype.h>
#include <string.h>

#include <map>
#include <set>

#include "machine.h"

namespace sim {

namespace {
std::string Trim(const std::string &text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

// One pair of surrounding quotation marks is dropped from a value.
std::string Unquote(const std::string &value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
    return value.substr(1, value.size() - 2);
  return value;
}

bool SameName(const std::string &a, const std::string &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (toupper(static_cast<unsigned char>(a[i])) != toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}
}  // namespace

std::vector<IniSection> ParseIni(const std::string &text) {
  std::vector<IniSection> sections;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(at, end - at));
    at = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      sections.push_back(
          IniSection{Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)), {}});
      continue;
    }
    if (sections.empty()) continue;  // keys before the first section belong to none
    size_t equals = line.find('=');
    std::string key = Trim(line.substr(0, equals));
    std::string value = equals == std::string::npos ? "" : Unquote(Trim(line.substr(equals + 1)));
    sections.back().entries.emplace_back(key, value);
  }
  return sections;
}

std::string ReadProfileValue(const std::string &iniText, const std::string &section, const std::string &key,
                             bool *found) {
  *found = false;
  for (const IniSection &s : ParseIni(iniText)) {
    if (!SameName(s.name, section)) continue;
    for (const auto &entry : s.entries) {
      if (SameName(entry.first, key)) {
        *found = true;
        return entry.second;  // the first of duplicated keys wins
      }
    }
    return "";  // the first of duplicated sections wins
  }
  return "";
}

namespace {
// The platform keeps a profile file it has read in memory; so does the
// stand-in, as parsed sections, until the file's contents change. Without it
// every read would parse the whole file again.
struct ParsedProfile {
  uint64_t version = 0;
  std::map<std::string, std::map<std::string, std::string>> sections;  // upper-cased names; first wins
};

std::string Upper(const std::string &name) {
  std::string upper = name;
  for (char &c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return upper;
}

const ParsedProfile &Parsed(const std::string &foldedPath, const FileNode &file) {
  static std::map<std::string, ParsedProfile> cache;
  ParsedProfile &parsed = cache[foldedPath];
  if (parsed.version == file.version && file.version != 0) return parsed;
  parsed = ParsedProfile();
  parsed.version = file.version;
  std::set<std::string> seen;
  for (const IniSection &section : ParseIni(file.data)) {
    std::string name = Upper(section.name);
    if (!seen.insert(name).second) continue;  // the first of duplicated sections wins
    auto &keys = parsed.sections[name];
    for (const auto &entry : section.entries) keys.emplace(Upper(entry.first), entry.second);
  }
  return parsed;
}
}  // namespace

bool ReadProfileFile(const std::string &foldedPath, const FileNode &file, const std::string &section,
                     const std::string &key, std::string *value) {
  const ParsedProfile &parsed = Parsed(foldedPath, file);
  auto s = parsed.sections.find(Upper(section));
  if (s == parsed.sections.end()) return false;
  auto k = s->second.find(Upper(key));
  if (k == s->second.end()) return false;
  *value = k->second;
  return true;
}

// Copies a value into the caller's buffer as the platform does: at most
// size - 1 bytes, always terminated, never ending in half a double-byte character.
DWORD CopyProfileText(const Machine &m, const std::string &value, char *buffer, DWORD size) {
  if (size == 0) return 0;
  size_t room = size - 1;
  size_t length = 0;
  while (length < value.size() && length < room) {
    bool lead = IsLeadByte(m, static_cast<unsigned char>(value[length])) && length + 1 < value.size();
    if (lead && length + 2 > room) break;
    length += lead ? 2 : 1;
  }
  memcpy(buffer, value.data(), length);
  buffer[length] = 0;
  return static_cast<DWORD>(length);
}

}  // namespace sim

using sim::Machine;

DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                      LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
  Machine &m = sim::Current();
  std::string value = lpDefault ? lpDefault : "";
  if (!sim::ShouldFail(m, "GetPrivateProfileStringA") && lpAppName && lpKeyName && lpFileName) {
    // A bare file name is looked up in the Windows directory.
    std::string path = lpFileName;
    if (path.find_first_of("\\/:") == std::string::npos) path = m.windowsDirectory + "\\" + path;
    auto file = m.files.find(sim::FoldPath(m, path));
    if (file != m.files.end() && !file->second.isDirectory) {
      sim::ReadProfileFile(file->first, file->second, lpAppName, lpKeyName, &value);
    }
  }
  DWORD result = sim::CopyProfileText(m, value, lpReturnedString, nSize);
  sim::Log(m, "GetPrivateProfileStringA",
           {sim::Text(lpAppName), sim::Text(lpKeyName), sim::Text(lpDefault), std::to_string(nSize),
            sim::Text(lpFileName)},
           std::to_string(result) + " " + std::string(lpReturnedString ? lpReturnedString : ""));
  return result;
}
