// The port table: which ports it holds, in what order, with which settings,
// and that every record carries its port's whole name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flow_fixtures.h"
#include "spooler/spooler.h"

namespace {

const std::string kPorts = std::string(test::kMonitorKey) + "\\Ports";

// The table's key names after LoadPortTable, and that FreePortTable leaves nothing.
std::vector<std::string> LoadedNames(sim::Machine &m, const char *monitor = test::kMonitor) {
  std::vector<std::string> names;
  test::RunInProcess(m, [&] {
    size_t blocks = m.allocations.size();
    LoadPortTable(monitor);
    for (int i = 0; i < portCount; ++i) names.push_back(portTable[i]->KeyName);
    FreePortTable();
    EXPECT_EQ(0, portCount);
    EXPECT_EQ(nullptr, portTable);
    EXPECT_EQ(blocks, m.allocations.size());
    return 0;
  });
  EXPECT_EQ(0, sim::LastRunLeftovers().registryKeys);
  return names;
}

TEST(PortTableTest, SettingsOfEachType) {
  sim::Machine m = test::NewMachine();
  std::string port = kPorts + "\\QVMAIL1:";
  sim::SetDword(m, port, "CmdSendTmout", 30);
  sim::SetBinary(m, port, "DatSendTmout", std::string("\x2d\0\0\0", 4));  // four bytes, but not a DWORD
  sim::SetString(m, port, "CmdAckTmout", "45");
  sim::CreateKey(m, port)->values.push_back(
      sim::RegValue{"DatAckTmout", REG_DWORD, std::string("\x07\0", 2)});
  sim::SetDword(m, port, "SNNumber", 7);
  sim::SetDword(m, port, "AutoOrManual", 1);
  sim::SetDword(m, port, "SerialNo", 1234);
  sim::SetString(m, port, "HostName", std::string(63, 'h'));
  sim::SetString(m, port, "PortName", std::string(32, 'n'));
  sim::SetString(m, kPorts + "\\QVMAIL2:", "HostName", std::string(64, 'h'));
  sim::SetString(m, kPorts + "\\QVMAIL2:", "PortName", std::string(33, 'n'));
  test::RunInProcess(m, [] {
    LoadPortTable(test::kMonitor);
    EXPECT_EQ(2, portCount);
    const PortRecord &first = *portTable[0];
    EXPECT_STREQ("QVMAIL1:", first.KeyName);
    EXPECT_EQ(30u, first.CmdSendTmout);
    EXPECT_EQ(0u, first.DatSendTmout);
    EXPECT_EQ(0u, first.CmdAckTmout);
    EXPECT_EQ(0u, first.DatAckTmout);
    EXPECT_EQ(7u, first.SNNumber);
    EXPECT_EQ(1u, first.AutoOrManual);
    EXPECT_EQ(1234u, first.SerialNo);
    EXPECT_EQ(std::string(63, 'h'), first.HostName);
    EXPECT_EQ(std::string(32, 'n'), first.PortName);
    const PortRecord &second = *portTable[1];
    EXPECT_STREQ("QVMAIL2:", second.KeyName);
    EXPECT_STREQ("", second.HostName);  // 64 characters don't fit the field
    EXPECT_STREQ("", second.PortName);  // nor 33 the read
    FreePortTable();
    return 0;
  });
}

TEST(PortTableTest, WhichPortsTheTableHolds) {
  struct Row {
    const char *label;
    std::vector<std::string> ports;  // created under the Ports key (empty: the key alone)
    bool portsKey;
    std::vector<std::string> expected;
  };
  // "Lumora Mail Monitor": a port key path has room for a name of 185 characters.
  const std::string n127(127, 'a'), n128(128, 'b'), n185(185, 'c'), n186(186, 'd'), n200(200, 'e');
  const Row rows[] = {
      {"no Ports key", {}, false, {}},
      {"empty Ports key", {}, true, {}},
      {"registry order", {"QVMAIL2:", "QVMAIL1:"}, true, {"QVMAIL1:", "QVMAIL2:"}},
      {"127 and 128 characters whole", {n127, n128}, true, {n127, n128}},
      {"port paths of 259 and 260 characters", {n185, n186, "Z"}, true, {n185, "Z"}},
      {"200 characters", {n200, "Z"}, true, {"Z"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::NewMachine();
    sim::SetString(m, test::kMonitorKey, "InstallPath", "C:\\Lumora");
    if (row.portsKey) sim::CreateKey(m, kPorts);
    for (const std::string &port : row.ports) sim::CreateKey(m, kPorts + "\\" + port);
    EXPECT_EQ(row.expected, LoadedNames(m));
  }
}

TEST(PortTableTest, PortsThatCantBeRead) {
  sim::Machine m = test::NewMachine();
  for (const char *port : {"P1", "P2", "P3", "P4"}) sim::CreateKey(m, kPorts + "\\" + port);

  // The count stops at the first index that can't be enumerated.
  sim::FailNext(m, "RegEnumKeyA", 1, ERROR_ACCESS_DENIED, 2);
  EXPECT_EQ((std::vector<std::string>{"P1", "P2"}), LoadedNames(m));

  // A port key that can't be opened is left out; the others keep their order.
  sim::FindKey(m, kPorts + "\\P2")->deniedAccess = KEY_QUERY_VALUE;
  EXPECT_EQ((std::vector<std::string>{"P1", "P3", "P4"}), LoadedNames(m));

  // So is a port whose record can't be allocated (the array comes first).
  sim::FindKey(m, kPorts + "\\P2")->deniedAccess = 0;
  sim::FailNext(m, "LocalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY, 3);
  EXPECT_EQ((std::vector<std::string>{"P1", "P2", "P4"}), LoadedNames(m));

  sim::FailNext(m, "LocalAlloc");
  EXPECT_EQ(std::vector<std::string>{}, LoadedNames(m));
}

// A monitor name whose Ports key path doesn't fit names no Ports key at all.
TEST(PortTableTest, MonitorNamesAtThePathLimit) {
  const std::string root = std::string(MONITORS_ROOT) + "\\";
  for (size_t length : {201u, 202u}) {
    SCOPED_TRACE(length);
    std::string monitor(length, 'm');
    sim::Machine m = test::NewMachine();
    sim::CreateKey(m, root + monitor + "\\Ports\\P1");
    EXPECT_EQ(length == 201 ? std::vector<std::string>{"P1"} : std::vector<std::string>{},
              LoadedNames(m, monitor.c_str()));
    EXPECT_EQ(length == 201 ? 2u : 0u, sim::CallsTo(m, "RegOpenKeyExA").size());
  }
}

}  // namespace
