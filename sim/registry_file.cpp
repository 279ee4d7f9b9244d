// HKEY_LOCAL_MACHINE as REGEDIT4 text, for machine folders: import merges a
// .reg file into the machine's registry, export writes the whole tree back so
// that importing it again gives the same registry (and a file in the form
// export writes comes back unchanged, so a run's changes diff cleanly).
// Every key is listed, parent first, as the platform's editor does. Bytes
// are kept as they are (ANSI in the machine's code page); strings are
// scanned DBCS-aware so a 0x5C trail byte is never taken for an escape.
#include <stdio.h>

#include <algorithm>

#include "machine.h"

namespace sim {

namespace {
const char kRootName[] = "HKEY_LOCAL_MACHINE";
const size_t kWrapColumn = 76;

// ---- export -----------------------------------------------------------------

// "text" with \ and " escaped; a double-byte character goes out whole.
std::string Quote(const Machine &m, const std::string &text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (IsLeadByte(m, c) && i + 1 < text.size()) {
      out += text[i];
      out += text[++i];
    } else {
      if (c == '\\' || c == '"') out += '\\';
      out += text[i];
    }
  }
  return out + "\"";
}

// A REG_SZ that the quoted form gives back exactly: one terminator at the
// end and nothing a quoted text cannot hold (other NULs, line breaks, a lone
// lead byte just before the closing quote).
bool IsCleanString(const Machine &m, const std::string &data) {
  if (data.empty() || data.back() != '\0') return false;
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c == 0 || c == '\r' || c == '\n') return false;
    if (IsLeadByte(m, c)) {
      if (i + 2 >= data.size()) return false;
      ++i;
    }
  }
  return true;
}

std::string HexBytes(const std::string &prefix, const std::string &data) {
  std::string out = prefix;
  size_t column = out.size();
  for (size_t i = 0; i < data.size(); ++i) {
    char byte[4];
    snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(data[i]));
    out += byte;
    column += 2;
    if (i + 1 < data.size()) {
      out += ',';
      ++column;
      if (column > kWrapColumn) {
        out += "\\\n  ";
        column = 2;
      }
    }
  }
  return out;
}

std::string ValueLine(const Machine &m, const RegValue &value) {
  std::string line = value.name.empty() ? "@=" : Quote(m, value.name) + "=";
  if (value.type == REG_SZ && IsCleanString(m, value.data))
    return line + Quote(m, value.data.substr(0, value.data.size() - 1));
  if (value.type == REG_DWORD && value.data.size() == 4) {
    DWORD number = 0;
    for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(value.data[i]);
    char text[16];
    snprintf(text, sizeof text, "dword:%08x", number);
    return line + text;
  }
  if (value.type == REG_BINARY) return HexBytes(line + "hex:", value.data);
  char prefix[24];
  snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
  return HexBytes(line + prefix, value.data);
}

void ExportKey(const Machine &m, const RegKey &key, const std::string &path, bool listed, std::string *out) {
  if (listed) {
    *out += "[" + path + "]\n";
    for (const RegValue &value : key.values) *out += ValueLine(m, value) + "\n";
    *out += "\n";
  }
  for (const auto &child : key.subkeys) ExportKey(m, *child, path + "\\" + child->name, true, out);
}

// ---- import -----------------------------------------------------------------

bool SameText(const std::string &a, const std::string &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (toupper(static_cast<unsigned char>(a[i])) != toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string TrimLeft(const std::string &text) {
  size_t at = text.find_first_not_of(" \t");
  return at == std::string::npos ? "" : text.substr(at);
}

std::string TrimRight(const std::string &text) {
  size_t end = text.find_last_not_of(" \t\r");
  return end == std::string::npos ? "" : text.substr(0, end + 1);
}

// Reads a quoted text at `at` (on the opening quote); moves `at` past the
// closing one. \\ and \" are escapes; any other backslash stands for itself.
bool Unquote(const Machine &m, const std::string &line, size_t *at, std::string *text) {
  if (*at >= line.size() || line[*at] != '"') return false;
  text->clear();
  for (size_t i = *at + 1; i < line.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(line[i]);
    if (IsLeadByte(m, c) && i + 1 < line.size()) {
      *text += line[i];
      *text += line[++i];
    } else if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) {
      *text += line[++i];
    } else if (c == '"') {
      *at = i + 1;
      return true;
    } else {
      *text += line[i];
    }
  }
  return false;
}

// Whether a line ends in a continuation backslash (outside any quoted text).
bool Continues(const Machine &m, const std::string &line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(line[i]);
    if (quoted && IsLeadByte(m, c) && i + 1 < line.size()) {
      ++i;
    } else if (quoted && c == '\\' && i + 1 < line.size()) {
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == '\\' && i + 1 == line.size()) {
      return true;
    }
  }
  return false;
}

bool ParseHexBytes(const std::string &text, std::string *bytes) {
  bytes->clear();
  size_t at = 0;
  while (true) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    if (at >= text.size()) return true;  // nothing, or a trailing comma
    size_t start = at;
    while (at < text.size() && isxdigit(static_cast<unsigned char>(text[at]))) ++at;
    if (at == start || at - start > 2) return false;
    *bytes += static_cast<char>(strtol(text.substr(start, at - start).c_str(), nullptr, 16));
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    if (at >= text.size()) return true;
    if (text[at] != ',') return false;
    ++at;
  }
}

bool ParseData(const Machine &m, const std::string &text, DWORD *type, std::string *data) {
  if (!text.empty() && text[0] == '"') {
    size_t at = 0;
    if (!Unquote(m, text, &at, data) || !TrimLeft(text.substr(at)).empty()) return false;
    *data += '\0';
    *type = REG_SZ;
    return true;
  }
  size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  std::string kind = text.substr(0, colon);
  std::string rest = text.substr(colon + 1);
  if (SameText(kind, "dword")) {
    std::string digits = TrimRight(TrimLeft(rest));
    if (digits.empty() || digits.size() > 8) return false;
    for (char c : digits)
      if (!isxdigit(static_cast<unsigned char>(c))) return false;
    DWORD number = static_cast<DWORD>(strtoul(digits.c_str(), nullptr, 16));
    data->clear();
    for (int i = 0; i < 4; ++i) *data += static_cast<char>((number >> (8 * i)) & 0xFF);
    *type = REG_DWORD;
    return true;
  }
  if (SameText(kind, "hex")) {
    *type = REG_BINARY;
  } else if (kind.size() > 5 && SameText(kind.substr(0, 4), "hex(") && kind.back() == ')') {
    std::string number = kind.substr(4, kind.size() - 5);
    char *end = nullptr;
    *type = static_cast<DWORD>(strtoul(number.c_str(), &end, 16));
    if (number.empty() || !end || *end) return false;
  } else {
    return false;
  }
  if (TrimRight(rest).empty()) {
    data->clear();
    return true;
  }
  return ParseHexBytes(TrimRight(rest), data);
}

// "[HKEY_LOCAL_MACHINE\Path]" gives "Path" ("" for the root itself).
bool ParseSection(const std::string &line, std::string *path) {
  size_t close = line.rfind(']');
  if (close == std::string::npos || !TrimLeft(line.substr(close + 1)).empty()) return false;
  std::string name = line.substr(1, close - 1);
  size_t rootLength = sizeof kRootName - 1;
  if (name.size() < rootLength || !SameText(name.substr(0, rootLength), kRootName)) return false;
  if (name.size() == rootLength) {
    path->clear();
    return true;
  }
  if (name[rootLength] != '\\') return false;
  *path = name.substr(rootLength + 1);
  return true;
}

void PutRawValue(Machine &m, RegKey &key, const std::string &name, DWORD type, const std::string &data) {
  std::string folded = Fold(m, name);
  for (RegValue &value : key.values) {
    if (Fold(m, value.name) == folded) {
      value.type = type;
      value.data = data;
      return;
    }
  }
  key.values.push_back(RegValue{name, type, data});
}

// Physical lines joined at continuation backslashes, each with the number of
// its first physical line.
std::vector<std::pair<int, std::string>> LogicalLines(const Machine &m, const std::string &text) {
  std::vector<std::pair<int, std::string>> lines;
  size_t at = 0;
  int number = 0;
  bool continuing = false;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    at = end + 1;
    ++number;
    if (continuing) {
      lines.back().second += TrimLeft(line);
    } else {
      lines.emplace_back(number, line);
    }
    std::string &current = lines.back().second;
    continuing = Continues(m, TrimRight(current));
    if (continuing) current = TrimRight(current).substr(0, TrimRight(current).size() - 1);
  }
  return lines;
}

bool Fail(std::string *error, int line, const std::string &what) {
  if (error) *error = "registry.reg line " + std::to_string(line) + ": " + what;
  return false;
}

// A port name is the spooler's, held by one monitor: where a file lists it
// under several, the first monitor in enumeration order keeps it and the
// others' keys of that name are left out, as no spooler could hold them.
void KeepEachPortOnOneMonitor(Machine &m) {
  RegKey *monitors = FindKey(m, "System\\CurrentControlSet\\Control\\Print\\Monitors");
  if (!monitors) return;
  std::vector<std::string> taken;
  for (auto &monitor : monitors->subkeys) {
    for (auto &ports : monitor->subkeys) {
      if (Fold(m, ports->name) != "PORTS") continue;
      auto &list = ports->subkeys;
      for (auto port = list.begin(); port != list.end();) {
        std::string folded = Fold(m, (*port)->name);
        bool duplicate = std::find(taken.begin(), taken.end(), folded) != taken.end();
        if (!duplicate) taken.push_back(folded);
        port = duplicate ? list.erase(port) : port + 1;
      }
    }
  }
}

bool ImportLines(Machine &m, const std::string &regText, std::string *error) {
  std::string text = regText;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  bool headerSeen = false;
  RegKey *key = nullptr;
  for (const auto &numbered : LogicalLines(m, text)) {
    int number = numbered.first;
    std::string line = TrimLeft(TrimRight(numbered.second));
    if (line.empty() || line[0] == ';') continue;
    if (!headerSeen) {
      if (line != "REGEDIT4") return Fail(error, number, "expected REGEDIT4");
      headerSeen = true;
      continue;
    }
    if (line[0] == '[') {
      std::string path;
      if (!ParseSection(line, &path)) return Fail(error, number, "expected [HKEY_LOCAL_MACHINE\\...]");
      key = CreateKey(m, path);
      continue;
    }
    if (!key) return Fail(error, number, "value outside a key");
    std::string name;
    size_t at = 0;
    if (line[0] == '@') {
      at = 1;
    } else if (!Unquote(m, line, &at, &name)) {
      return Fail(error, number, "expected \"name\"= or @=");
    }
    std::string rest = TrimLeft(line.substr(at));
    if (rest.empty() || rest[0] != '=') return Fail(error, number, "expected =");
    DWORD type = REG_NONE;
    std::string data;
    if (!ParseData(m, TrimLeft(rest.substr(1)), &type, &data)) return Fail(error, number, "bad value data");
    PutRawValue(m, *key, name, type, data);
  }
  if (!headerSeen) return Fail(error, 1, "expected REGEDIT4");
  return true;
}
}  // namespace

// What was imported before a bad line stays, and is held to the spooler's
// rule all the same.
bool ImportRegistry(Machine &m, const std::string &regText, std::string *error) {
  bool imported = ImportLines(m, regText, error);
  KeepEachPortOnOneMonitor(m);
  return imported;
}

std::string ExportRegistry(const Machine &m) {
  std::string out = "REGEDIT4\n\n";
  ExportKey(m, m.localMachine, kRootName, !m.localMachine.values.empty(), &out);
  return out;
}

}  // namespace sim
