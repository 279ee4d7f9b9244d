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
