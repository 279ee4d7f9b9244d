// ReadMonitorInfo: which monitor values reach the record, and that a value or
// a key path that doesn't fit whole leaves the record as it was.
#include <gtest/gtest.h>
#include <string.h>

#include "flow_fixtures.h"
#include "spooler/spooler.h"

namespace {

MonitorInfo Untouched() {
  MonitorInfo info;
  memset(&info, '#', sizeof info);
  info.Version[0] = 0;
  return info;
}

// Values are text whatever their stored type; data without a terminator is
// taken only when the terminator fits too.
TEST(MonitorInfoTest, ValuesAndTheirLimits) {
  struct Row {
    const char *label;
    std::string installPath;  // "": no InstallPath value
    DWORD versionType;
    std::string version;  // stored bytes
    int expected;
    const char *expectedVersion;  // "" when kept as passed in
  };
  const std::string terminated("1.0\0", 4);
  const Row rows[] = {
      {"InstallPath of 259 characters", std::string(259, 'p'), REG_SZ, terminated, 1, "1.0"},
      {"InstallPath of 260 characters", std::string(260, 'p'), REG_SZ, terminated, 0, ""},
      {"no InstallPath", "", REG_SZ, terminated, 0, ""},
      {"Version of 11 characters", "C:\\Lumora", REG_SZ, std::string("1.2.3.4.567\0", 12), 1, "1.2.3.4.567"},
      {"Version of 12 characters", "C:\\Lumora", REG_SZ, std::string("1.2.3.4.5678\0", 13), 1, ""},
      {"Version as unterminated binary", "C:\\Lumora", REG_BINARY, "2.1", 1, "2.1"},
      {"12 bytes without terminator", "C:\\Lumora", REG_BINARY, "123456789012", 1, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::NewMachine();
    sim::SetString(m, test::kMonitorKey, "helpfile", "QVMon.hlp");
    if (!row.installPath.empty()) sim::SetString(m, test::kMonitorKey, "InstallPath", row.installPath);
    sim::CreateKey(m, test::kMonitorKey)
        ->values.push_back(sim::RegValue{"Version", row.versionType, row.version});
    MonitorInfo info = Untouched();
    test::RunInProcess(m, [&] {
      EXPECT_EQ(row.expected, ReadMonitorInfo(&info, test::kMonitor));
      return 0;
    });
    EXPECT_EQ(0, sim::LastRunLeftovers().registryKeys);
    if (row.expected == 0) {
      MonitorInfo before = Untouched();
      EXPECT_EQ(0, memcmp(&before, &info, sizeof info));
      continue;
    }
    EXPECT_EQ(row.installPath, info.InstallPath);
    EXPECT_STREQ("QVMon.hlp", info.helpfile);
    EXPECT_EQ('#', info.popupmon[0]);  // missing: kept
    EXPECT_STREQ(row.expectedVersion, info.Version);
  }
}

// No monitor key, or an InstallPath stored without its terminator that
// leaves no room for one: nothing is read, the record stays as passed in.
TEST(MonitorInfoTest, NoKeyOrNoWholeInstallPathGivesNothing) {
  const struct {
    const char *label;
    bool key;
    std::string installPath;  // stored as REG_BINARY, no terminator
    int expected;
  } rows[] = {
      {"no monitor key", false, "C:\\Lumora", 0},
      {"260 bytes without a terminator", true, std::string(260, 'p'), 0},
      {"259 bytes without a terminator", true, std::string(259, 'p'), 1},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::NewMachine();
    if (row.key) sim::SetBinary(m, test::kMonitorKey, "InstallPath", row.installPath);
    MonitorInfo info = Untouched();
    int result = -1;
    test::RunInProcess(m, [&] { return result = ReadMonitorInfo(&info, test::kMonitor); });
    EXPECT_EQ(result, row.expected);
    if (row.expected) {
      EXPECT_EQ(std::string(info.InstallPath), row.installPath);
    } else {
      MonitorInfo before = Untouched();
      EXPECT_EQ(0, memcmp(&before, &info, sizeof info));
    }
  }
}

// A name whose key path can't be formed whole names no monitor; no cut path is opened.
TEST(MonitorInfoTest, MonitorNamesThatCantFormThePath) {
  struct Row {
    const char *label;
    std::string name;
    int expected;
  };
  const Row rows[] = {
      {"207 characters: path of 255", std::string(207, 'm'), 1},
      {"208 characters: path of 256", std::string(208, 'm'), 0},
      {"a backslash", "Lumora\\Sub", 0},
      {"empty", "", 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::NewMachine();
    if (!row.name.empty())
      sim::SetString(m, std::string(MONITORS_ROOT) + "\\" + row.name, "InstallPath", "C:\\Lumora");
    MonitorInfo info = Untouched();
    test::RunInProcess(m, [&] {
      EXPECT_EQ(row.expected, ReadMonitorInfo(&info, row.name.c_str()));
      return 0;
    });
    EXPECT_EQ(static_cast<size_t>(row.expected), sim::CallsTo(m, "RegOpenKeyExA").size());
  }
}

}  // namespace

namespace {

// Each optional value reaches its own field and no other; one too long for
// its field leaves that field as it was.
TEST(MonitorInfoTest, EachValueReachesItsOwnField) {
  struct Row {
    const char *label;
    const char *value;
    std::string stored;
    std::string popupmon, helpfile, version;  // "#": kept as passed in
  };
  const Row rows[] = {
      {"popupmon", "popupmon", "QVPopup.exe", "QVPopup.exe", "#", ""},
      {"popupmon of 259 characters", "popupmon", std::string(259, 'u'), std::string(259, 'u'), "#", ""},
      {"popupmon of 260 characters", "popupmon", std::string(260, 'u'), "#", "#", ""},
      {"helpfile", "helpfile", "QVMon.hlp", "#", "QVMon.hlp", ""},
      {"helpfile of 260 characters", "helpfile", std::string(260, 'h'), "#", "#", ""},
      {"Version", "Version", "2.0", "#", "#", "2.0"},
  };
  auto field = [](const char *text) { return text[0] == '#' ? std::string("#") : std::string(text); };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::NewMachine();
    sim::SetString(m, test::kMonitorKey, "InstallPath", "C:\\Lumora");
    sim::SetString(m, test::kMonitorKey, row.value, row.stored);
    MonitorInfo info = Untouched();
    test::RunInProcess(m, [&] { return ReadMonitorInfo(&info, test::kMonitor); });
    EXPECT_STREQ(info.InstallPath, "C:\\Lumora");
    EXPECT_EQ(field(info.popupmon), row.popupmon);
    EXPECT_EQ(field(info.helpfile), row.helpfile);
    EXPECT_EQ(std::string(info.Version), row.version);
  }
}

// A text value needs room for itself and its terminator; a field with no
// room, or more than the scratch buffer holds, is never written. Data stored
// without a terminator that fills the whole capacity does not fit either.
TEST(MonitorInfoTest, TextValueFitsItsFieldWithItsTerminator) {
  struct Row {
    const char *label;
    std::string stored;
    bool unterminated;  // stored as REG_BINARY, without a terminator
    DWORD capacity;
    int expected;
    std::string field;  // "#": kept as passed in
  };
  const Row rows[] = {
      {"no room at all", "", false, 0, 0, "#"},
      {"room for the terminator only", "", false, 1, 1, ""},
      {"one character too many", "abc", false, 3, 0, "#"},
      {"an exact fit", "abc", false, 4, 1, "abc"},
      {"more room than the scratch buffer", "abc", false, MAX_PATH + 1, 0, "#"},
      {"no terminator, one byte short of the capacity", "abc", true, 4, 1, "abc"},
      {"no terminator, filling the capacity", "abc", true, 3, 0, "#"},
      {"no terminator, filling the whole scratch buffer", std::string(MAX_PATH, 'x'), true, MAX_PATH, 0, "#"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::NewMachine();
    if (row.unterminated)
      sim::SetBinary(m, test::kMonitorKey, "Value", row.stored);
    else
      sim::SetString(m, test::kMonitorKey, "Value", row.stored);
    char field[MAX_PATH + 2];
    memset(field, '#', sizeof field - 1);
    field[sizeof field - 1] = 0;
    int result = -1;
    test::RunInProcess(m, [&] {
      HKEY key;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, test::kMonitorKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 1;
      result = ReadTextValue(key, "Value", field, row.capacity);
      RegCloseKey(key);
      return 0;
    });
    EXPECT_EQ(result, row.expected);
    EXPECT_EQ(field[0] == '#' ? std::string("#") : std::string(field), row.field);
  }
}

}  // namespace
