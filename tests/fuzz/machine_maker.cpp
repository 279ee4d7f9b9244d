// The fuzz target's machine builder; see machine_maker.h.
#include "machine_maker.h"

#include <iconv.h>
#include <stdio.h>

#include <random>
#include <string>
#include <vector>

namespace fuzz {
namespace {

const char kInstall[] = "C:\\Prog\\Lumora";
const char kTable[] = "\x95\x5C";        // 表 in code page 932: its trail byte is a backslash
const char kLetterTrail[] = "\x83\x41";  // ア in code page 932: its trail byte is the letter A
const char kMonitorsRoot[] = "System\\CurrentControlSet\\Control\\Print\\Monitors";
const char kUninstallRoot[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const size_t kLengths[] = {0,   1,   31,  32,  33,  63,  64,  65,  126, 127, 128, 129, 200, 201, 202,
                           204, 205, 248, 249, 254, 255, 256, 258, 259, 260, 261, 262, 263, 300};

// Text without line breaks or NULs: one INI value.
std::string Clean(std::string text) {
  for (char &c : text)
    if (c == '\n' || c == '\r' || c == 0) c = '_';
  return text;
}

std::string PadTo(std::string text, size_t length, char fill) {
  if (text.size() < length) text += std::string(length - text.size(), fill);
  return text.substr(0, length);
}

// Converts text whole with iconv; false when some byte does not convert.
bool ConvertWhole(const char *to, const char *from, const std::string &text, std::string *out) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in = text;
  char buffer[16];
  char *inCursor = in.data(), *outCursor = buffer;
  size_t inLeft = in.size(), outLeft = sizeof buffer;
  size_t converted = iconv(converter, &inCursor, &inLeft, &outCursor, &outLeft);
  iconv_close(converter);
  if (converted == static_cast<size_t>(-1) || inLeft != 0) return false;
  out->assign(buffer, sizeof buffer - outLeft);
  return true;
}

// One character of text at the start of [at, end) that code page 932 takes
// to Unicode and back to the same bytes, as the NT family does with every
// ANSI text it is given: its length in bytes, or 0. (A character that has a
// second encoding, such as the NEC-selected rows, comes back as the other.)
size_t Cp932CharacterLength(const char *at, const char *end) {
  unsigned char first = static_cast<unsigned char>(*at);
  if (first < 0x80) return 1;
  // No conversion takes these single bytes whole in every table.
  if (first == 0x80 || first == 0xA0 || first >= 0xFD) return 0;
  size_t length = (first >= 0xA1 && first <= 0xDF) ? 1 : 2;
  if (static_cast<size_t>(end - at) < length) return 0;
  std::string character(at, length), wide, back;
  bool same = ConvertWhole("UTF-16LE", "CP932", character, &wide) &&
              ConvertWhole("CP932", "UTF-16LE", wide, &back) && back == character;
  return same ? length : 0;
}

// The text with every byte that starts no convertible character replaced by '_'.
std::string ValidInCodePage(UINT codePage, const std::string &text) {
  if (codePage != 932) return text;
  std::string out;
  const char *end = text.data() + text.size();
  for (const char *at = text.data(); at < end;) {
    size_t length = Cp932CharacterLength(at, end);
    if (length == 0) {
      out += '_';
      ++at;
    } else {
      out.append(at, length);
      at += length;
    }
  }
  return out;
}

class MachineMaker {
 public:
  MachineMaker(FuzzedDataProvider &p, const MakerOptions &options) : p_(p), portable_(options.portable) {}

  void Make(sim::Machine &m) {
    m.family = p_.ConsumeBool() ? sim::Family::NT : sim::Family::Win9x;
    m.codePage = p_.ConsumeBool() ? 932 : 1252;
    MakeFiles(m);
    MakeExecutable(m);
    std::string monitor = Holdable(m, MakeName("Lumora Mail Monitor"));
    std::string entry = Holdable(m, MakeName("Lumora"));
    MakeRegistry(m, monitor, entry);
    MakePrinters(m);
    MakeWindows(m);
    m.libraries.push_back(sim::Library{std::string(kInstall) + "\\_SETUP.DLL",
                                       p_.ConsumeIntegralInRange(0, 3) != 0,
                                       static_cast<DWORD>(p_.ConsumeIntegralInRange(0, 2))});
    AddWindowsFile(m, "QVUninst.ini", ComparableProfile(Holdable(m, MakeCatalog())));
    AddWindowsFile(m, "QVFList.ini", ComparableProfile(Holdable(m, MakeManifest(m, monitor, entry))));
    // Now and then memory runs out: while planning, or in the middle of the removal.
    if (p_.ConsumeIntegralInRange(0, 15) == 0) {
      int skip = p_.ConsumeIntegralInRange(0, 4);
      if (!portable_) sim::FailNext(m, "LocalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY, skip);
    }
    m.answers = {p_.ConsumeIntegralInRange(0, 7) ? IDYES : IDNO};
    if (!portable_ && m.family == sim::Family::Win9x) MakeWininit(m);
  }

 private:
  // Another installer's WININIT.INI, which the uninstaller adds its lines to,
  // and now and then a disk too full for them. Wine would process the file as
  // its session starts: not on portable machines.
  void MakeWininit(sim::Machine &m) {
    static const char *const kPieces[] = {"[rename]\r\n", "NUL=C:\\OLD.TMP\r\n", "C:\\A.DLL=C:\\A.NEW\r\n",
                                          "[CombineVxDs]\r\n", "; comment\n", "x=1", "[RENAME]", "\r\n"};
    if (p_.ConsumeBool()) {
      std::string text;
      for (int n = p_.ConsumeIntegralInRange(0, 6); n > 0; --n)
        text += p_.ConsumeBool() ? kPieces[p_.ConsumeIntegralInRange(0, 7)] : p_.ConsumeRandomLengthString(16);
      AddWindowsFile(m, "WININIT.INI", text);
    }
    if (p_.ConsumeIntegralInRange(0, 7) == 0) sim::SetFreeBytes(m, p_.ConsumeIntegralInRange(0, 64));
  }

  FuzzedDataProvider &p_;
  bool portable_;
  std::vector<std::string> paths_;  // directories and files of the machine, for the manifest to name
  std::vector<std::string> ports_;  // the product monitor's port names

  // The platform documents a key name of at most 255 characters, counted as
  // its absolute path from the base key ("HKEY_LOCAL_MACHINE\\...").
  bool FitsKeyPath(const std::string &path) const {
    return !portable_ || sizeof "HKEY_LOCAL_MACHINE\\" - 1 + path.size() <= 255;
  }

  // Names and titles are Unicode on a real system: portable machines keep
  // only what converts from the machine's code page and back. So do their
  // INI files: the stand-in reads them as bytes, where the NT family reads
  // them through Unicode, which changes an invalid double-byte sequence.
  std::string Holdable(const sim::Machine &m, const std::string &text) const {
    return portable_ ? ValidInCodePage(m.codePage, text) : text;
  }

  // Which characters a profile read trims from a value's ends beyond blanks
  // and tabs is not documented; Wine also trims vertical tab, form feed and
  // Ctrl-Z. Portable machines' INI files hold none of the three, so that the
  // comparison never depends on it.
  std::string ComparableProfile(std::string text) const {
    if (!portable_) return text;
    for (char &c : text)
      if (c == '\v' || c == '\f' || c == '\x1a') c = '_';
    return text;
  }

  void AddWindowsFile(sim::Machine &m, const char *name, const std::string &text) {
    sim::AddFile(m, m.windowsDirectory + "\\" + name, text);
  }

  void MakeFiles(sim::Machine &m) {
    std::string in = kInstall;
    const std::vector<std::string> files = {
        in + "\\a.txt",        in + "\\Data\\b.txt",  in + "\\Data\\Sub\\c.txt", in + "\\_SETUP.DLL",
        in + "\\QVUninst.exe", "C:\\Other\\keep.txt", "C:\\Prog\\keep.txt"};
    const std::vector<std::string> dirs = {in + "\\Data\\Empty", in + "\\Spool\\Out", "C:\\Other\\Empty",
                                           in + "\\" + kTable + "\\Data", in + "\\A" + kTable + "B\\Data"};
    for (const std::string &f : files) sim::AddFile(m, f, "data");
    for (const std::string &d : dirs) sim::AddDirectory(m, d);
    // The monitor's library, which the manifest never names.
    sim::AddFile(m, m.windowsDirectory + "\\SYSTEM32\\QVMon.dll", "monitor");
    paths_ = files;
    paths_.insert(paths_.end(), dirs.begin(), dirs.end());
    paths_.push_back(in);
    paths_.push_back(in + "\\Data");
    if (p_.ConsumeBool() && !portable_) sim::Lock(m, in + "\\a.txt");
    // Files as machines hold them: read-only from a CD, a library loaded by a
    // program. Not on portable machines, whose bytes stay as they were.
    if (!portable_ && p_.ConsumeBool()) sim::SetAttributes(m, in + "\\Data\\b.txt", FILE_ATTRIBUTE_READONLY);
    if (!portable_ && p_.ConsumeBool()) sim::Lock(m, in + "\\Data\\Sub\\c.txt", sim::InUse::Loaded);
  }

  // Where the uninstaller runs from: mostly its install folder, at times a
  // folder below it or beside it, one whose name ends in 表 or in ア (whose
  // trail byte must never fold), one that only begins like the install
  // folder, or a spelling of it in other letter case.
  void MakeExecutable(sim::Machine &m) {
    std::string in = kInstall;
    const std::string places[] = {
        in + "\\Data", "C:\\Other",        in + "\\" + kTable,      in + "\\A" + kTable + "B",
        in + "Old",    "c:\\PROG\\lumora", in + "\\" + kLetterTrail};
    size_t choice = p_.ConsumeIntegralInRange<size_t>(0, 2 * std::size(places));
    m.executablePath = (choice < std::size(places) ? places[choice] : in) + "\\QVUninst.exe";
    sim::AddFile(m, m.executablePath, "MZ");
    paths_.push_back(m.executablePath);
  }

  // Whether a file stands where one of the path's directories would: nothing
  // can be placed below it (the running executable among them).
  static bool FileAbove(const sim::Machine &m, const std::string &path) {
    for (size_t at = 3; at < path.size(); ++at) {
      if (sim::IsLeadByte(m, static_cast<unsigned char>(path[at]))) {
        ++at;
        continue;
      }
      std::string above = path.substr(0, at);
      if (path[at] == '\\' && sim::Exists(m, above) && !sim::IsDirectory(m, above)) return true;
    }
    return false;
  }

  // A path built from the machine's own, then bent the ways a manifest can be.
  std::string MakePath(sim::Machine &m) {
    std::string path = paths_[p_.ConsumeIntegralInRange<size_t>(0, paths_.size() - 1)];
    switch (p_.ConsumeIntegralInRange(0, 11)) {
      case 0:
        break;
      case 1:
        path.insert(p_.ConsumeIntegralInRange<size_t>(0, path.size()), "\\");
        break;
      case 2:
        path = "\\" + path;
        break;
      case 3:
        path += "\\";
        break;
      case 4:
        path = "\\\\server\\share\\" + path.substr(3);
        break;
      case 5:
        path = p_.ConsumeBool() ? "C:\\" : "C:";
        break;
      case 6:
        for (char &c : path) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        break;
      case 7:
        path += std::string("\\") + kTable + (p_.ConsumeBool() ? "\\x" : "");
        break;
      case 8: {
        // Long: a trap stands where a read would cut it, and must survive.
        size_t length = kLengths[p_.ConsumeIntegralInRange<size_t>(0, std::size(kLengths) - 1)];
        path = PadTo(path + "\\", length < path.size() + 2 ? path.size() + 2 : length, 'L');
        for (size_t cut : {127u, 128u, 259u, 260u}) {
          if (path.size() > cut && path[cut - 1] != '\\' && !FileAbove(m, path.substr(0, cut))) {
            sim::AddFile(m, path.substr(0, cut), "trap");
          }
        }
        break;
      }
      case 9:
        path = Clean(p_.ConsumeRandomLengthString(300));
        break;
      case 10:
        path = path.substr(p_.ConsumeIntegralInRange<size_t>(0, path.size()));
        break;
      default:
        path += "\\..\\Other";
        break;
    }
    return path;
  }

  // Mostly one of the machine's paths, bent; at times the executable's own
  // path or its folder, that folder also in lower case (trail bytes too).
  std::string MakeInstallPath(sim::Machine &m) {
    std::string folder = m.executablePath.substr(0, m.executablePath.size() - sizeof "\\QVUninst.exe" + 1);
    switch (p_.ConsumeIntegralInRange(0, 5)) {
      case 0:
        return m.executablePath;
      case 1:
        return folder;
      case 2:
        for (char &c : folder) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        return folder;
      default:
        return MakePath(m);
    }
  }

  std::string MakeName(const char *usual) {
    switch (p_.ConsumeIntegralInRange(0, 5)) {
      case 0:
        return Clean(p_.ConsumeRandomLengthString(300));
      case 1:
        return PadTo(usual, kLengths[p_.ConsumeIntegralInRange<size_t>(0, std::size(kLengths) - 1)], 'N');
      case 2:
        return std::string(usual) + "\\Ports";
      default:
        return usual;
    }
  }

  std::string MakePortName() {
    switch (p_.ConsumeIntegralInRange(0, 4)) {
      case 0:
        return PadTo("QVPORT", kLengths[p_.ConsumeIntegralInRange<size_t>(0, std::size(kLengths) - 1)], 'P');
      case 1:
        return Clean(p_.ConsumeRandomLengthString(40));
      default:
        return "QVMAIL" + std::to_string(ports_.size() + 1) + ":";
    }
  }

  void SetValue(sim::Machine &m, const std::string &key, const char *name, const std::string &usual) {
    switch (p_.ConsumeIntegralInRange(0, 5)) {
      case 0:
        return;  // missing
      case 1:
        sim::SetDword(m, key, name, p_.ConsumeIntegral<uint32_t>());
        return;
      case 2:
        sim::SetBinary(m, key, name, p_.ConsumeRandomLengthString(300));
        return;
      case 3:
        sim::SetString(
            m, key, name,
            PadTo(usual, kLengths[p_.ConsumeIntegralInRange<size_t>(0, std::size(kLengths) - 1)], 'V'));
        return;
      default:
        sim::SetString(m, key, name, usual);
        return;
    }
  }

  void MakeRegistry(sim::Machine &m, const std::string &monitor, const std::string &entry) {
    std::string monitorKey = std::string(kMonitorsRoot) + "\\" + monitor;
    if (p_.ConsumeIntegralInRange(0, 7) && FitsKeyPath(monitorKey + "\\Ports")) {
      sim::CreateKey(m, monitorKey);
      // The spooler loads a monitor by its library: without one it has no monitor.
      sim::SetString(m, monitorKey, "Driver", "QVMon.dll");
      SetValue(m, monitorKey, "InstallPath", kInstall);
      SetValue(m, monitorKey, "Version", "2.10");
      SetValue(m, monitorKey, "helpfile", "QVMon.hlp");
      int count = p_.ConsumeIntegralInRange(-1, 5);
      if (count >= 0) sim::CreateKey(m, monitorKey + "\\Ports");
      for (int i = 0; i < count; ++i) {
        std::string port = Holdable(m, MakePortName());
        // A port name is unique across the spooler: never one of the other monitor's.
        if (port.empty() || port.find('\\') != std::string::npos || sim::Fold(m, port) == "LPT2:" ||
            !FitsKeyPath(monitorKey + "\\Ports\\" + port))
          continue;
        std::string portKey = monitorKey + "\\Ports\\" + port;
        sim::CreateKey(m, portKey);
        SetValue(m, portKey, "PortName", port);
        SetValue(m, portKey, "HostName", "mail.example.com");
        SetValue(m, portKey, "CmdSendTmout", "30");
        ports_.push_back(port);
      }
    }
    // Not the product's: must stay whatever happens.
    sim::SetString(m, std::string(kMonitorsRoot) + "\\Local Port", "Driver", "localspl.dll");
    sim::CreateKey(m, std::string(kMonitorsRoot) + "\\Local Port\\Ports\\LPT2:");
    sim::SetString(m, std::string(kUninstallRoot) + "\\Other Tool", "DisplayName", "Other Tool");
    std::string entryKey = std::string(kUninstallRoot) + "\\" + entry;
    if (entry.find('\\') == std::string::npos && !entry.empty() && FitsKeyPath(entryKey + "\\Sub") &&
        p_.ConsumeIntegralInRange(0, 5)) {
      SetValue(m, entryKey, "DisplayName", "Lumora");
      SetValue(m, entryKey, "UninstallString", "QVUninst.exe");
      SetValue(m, entryKey, "DisplayIcon", "QVUninst.exe,0");
      sim::CreateKey(m, entryKey);
      if (p_.ConsumeBool()) sim::CreateKey(m, entryKey + "\\Sub");
      if (p_.ConsumeBool() && !portable_) sim::FindKey(m, entryKey)->undeletable = true;
    }
  }

  void MakePrinters(sim::Machine &m) {
    int count = p_.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i) {
      sim::Printer printer;
      printer.name = "Printer " + std::to_string(i);
      std::string port =
          ports_.empty() ? "LPT2:" : ports_[p_.ConsumeIntegralInRange<size_t>(0, ports_.size() - 1)];
      switch (p_.ConsumeIntegralInRange(0, 4)) {
        case 0:
          printer.port = "LPT2:";
          break;
        case 1:
          printer.port = port + ",LPT2:";
          break;
        case 2:
          printer.port = port;
          for (char &c : printer.port) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
          break;
        default:
          printer.port = port;
          break;
      }
      int jobs = p_.ConsumeIntegralInRange(0, 2) == 0 ? 1 : 0;
      for (int j = 0; j < jobs; ++j) printer.jobs.push_back(sim::PrintJob{"doc", JOB_STATUS_PAUSED});
      printer.refuseOpen = p_.ConsumeIntegralInRange(0, 7) == 0 && !portable_;
      m.printers.push_back(printer);
    }
  }

  void MakeWindows(sim::Machine &m) {
    int count = p_.ConsumeIntegralInRange(0, 2);
    for (int i = 0; i < count; ++i)
      m.windows.push_back(sim::TopWindow{Holdable(m, Clean(p_.ConsumeRandomLengthString(60))), "#32770"});
  }

  std::string MakeCatalog() {
    if (!p_.ConsumeIntegralInRange(0, 3)) return Clean(p_.ConsumeRandomLengthString(600));
    std::string text = "[STATIC]\n";
    for (const char *key : {"DIALOG00", "DIALOG01", "ADDPORT", "CONFIG", "ERRORMES2", "MSGBOX00"})
      if (p_.ConsumeBool()) text += std::string(key) + "=" + Clean(p_.ConsumeRandomLengthString(300)) + "\n";
    return text;
  }

  std::string MakeList(sim::Machine &m, const char *format, int most) {
    std::string text;
    int count = p_.ConsumeIntegralInRange(0, most);
    for (int i = 0; i < count; ++i) {
      char key[16];
      snprintf(key, sizeof key, format, i);
      if (p_.ConsumeIntegralInRange(0, 9) == 0) continue;  // a gap
      text += std::string(key) + "=" + (p_.ConsumeIntegralInRange(0, 9) ? MakePath(m) : "") + "\n";
    }
    return text;
  }

  std::string MakeManifest(sim::Machine &m, const std::string &monitor, const std::string &entry) {
    if (!p_.ConsumeIntegralInRange(0, 7)) return Clean(p_.ConsumeRandomLengthString(2000));
    std::string text;
    if (p_.ConsumeIntegralInRange(0, 5)) text += "[UNINSTALL]\nPATH=" + MakeInstallPath(m) + "\n";
    text += "[FILES]\n" + MakeList(m, "FILE%02d", 6);
    text += "[PATHS]\n" + MakeList(m, "PATH%02d", 3);
    text += "[STMPATHS]\n";
    if (p_.ConsumeBool()) text += "ROOT=" + MakePath(m) + "\n";
    text += MakeList(m, "PATH%02d", 2);
    if (p_.ConsumeIntegralInRange(0, 5))
      text += "[UnInstKey]\nUnInstKey=" + (p_.ConsumeBool() ? entry : MakeName("Lumora")) + "\n";
    if (p_.ConsumeIntegralInRange(0, 5))
      text += "[LPR]\nMonitor=" + (p_.ConsumeBool() ? monitor : MakeName("Lumora Mail Monitor")) + "\n";
    return text;
  }
};

}  // namespace

void MakeMachine(FuzzedDataProvider &provider, sim::Machine &m, const MakerOptions &options) {
  MachineMaker maker(provider, options);
  maker.Make(m);
}

namespace {
// Enough bytes for the builder to make every choice it has.
const size_t kBytesPerMachine = 4096;

std::vector<uint8_t> BytesFor(unsigned long seed, int index) {
  std::seed_seq sequence{static_cast<uint32_t>(seed), static_cast<uint32_t>(index)};
  std::mt19937 random(sequence);
  std::vector<uint8_t> bytes(kBytesPerMachine);
  for (uint8_t &byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}
}  // namespace

void MakeSeededMachine(unsigned long seed, int index, sim::Machine &m) {
  std::vector<uint8_t> bytes = BytesFor(seed, index);
  FuzzedDataProvider provider(bytes.data(), bytes.size());
  MakeMachine(provider, m, MakerOptions{true});
}

}  // namespace fuzz
