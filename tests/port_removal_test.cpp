// RemovePortsAndMonitor: each port's printers are moved to the parallel port
// before that port is deleted, and the monitor goes last. The stand-in spooler
// refuses what is still in use, so a wrong order shows in the machine's state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flow_fixtures.h"
#include "spooler/spooler.h"

namespace {

const std::string kPorts = std::string(test::kMonitorKey) + "\\Ports";

// The removal as the removal sequence runs it.
void RunRemoval(sim::Machine &m) {
  test::RunInProcess(m, [] {
    LoadPortTable(test::kMonitor);
    RemovePortsAndMonitor(test::kMonitor);
    FreePortTable();
    return 0;
  });
  EXPECT_EQ(0, sim::LastRunLeftovers().printers);
}

// The spooler calls that change something, one line each.
std::vector<std::string> SpoolerChanges(const sim::Machine &m) {
  std::vector<std::string> lines;
  for (const sim::Call &call : m.calls) {
    if (call.name == "OpenPrinterA") lines.push_back("open " + call.args[0]);
    if (call.name == "SetPrinterA") lines.push_back("port " + call.args[2]);
    if (call.name == "DeletePortA") lines.push_back("delete port " + call.args[2]);
    if (call.name == "DeleteMonitorA")
      lines.push_back("delete monitor " + call.args[2] + " (" + call.args[1] + ")");
  }
  return lines;
}

std::vector<std::string> PrinterPorts(const sim::Machine &m) {
  std::vector<std::string> lines;
  for (const sim::Printer &p : m.printers) lines.push_back(p.name + " on " + p.port);
  return lines;
}

TEST(PortRemovalTest, EachPortsPrintersMovedThenThePortDeletedMonitorLast) {
  struct Row {
    sim::Family family;
    const char *replacement;
  };
  for (const Row &row : {Row{sim::Family::NT, "LPT1:"}, Row{sim::Family::Win9x, "LPT1"}}) {
    SCOPED_TRACE(row.replacement);
    sim::Machine m = test::InstalledMachine(row.family);
    test::AddPrinter(m, "Mail2", "QVMAIL2:");
    test::AddPrinter(m, "Lab", "LPT2:");
    test::AddPrinter(m, "Mail1a", "QVMAIL1:");
    test::AddPrinter(m, "Mail1b", "QVMAIL1:");
    m.printers[2].comment = "front desk";
    RunRemoval(m);
    std::string lpt = row.replacement;
    EXPECT_EQ(
        (std::vector<std::string>{
            "open Mail1a", "port " + lpt, "open Mail1b", "port " + lpt, "delete port QVMAIL1:", "open Mail2",
            "port " + lpt, "delete port QVMAIL2:", "delete monitor Lumora Mail Monitor (Windows 4.0)"}),
        SpoolerChanges(m));
    EXPECT_EQ(
        (std::vector<std::string>{"Mail2 on " + lpt, "Lab on LPT2:", "Mail1a on " + lpt, "Mail1b on " + lpt}),
        PrinterPorts(m));
    EXPECT_EQ("front desk", m.printers[2].comment);  // the rest of the record as enumerated
    EXPECT_EQ(nullptr, sim::FindKey(m, test::kMonitorKey));
  }
}

// Printers the removal must leave alone. Every port's deletion and the
// monitor's are still asked for; the spooler keeps what is still in use.
TEST(PortRemovalTest, PrintersThatAreNotMoved) {
  struct Row {
    const char *label;
    const char *printerPort;
    bool refuseOpen;
    std::vector<std::string> portsLeft;
  };
  const Row rows[] = {
      {"port differing in case", "qvmail1:", false, {"QVMAIL1:"}},
      {"pooled printer", "QVMAIL1:,QVMAIL2:", false, {"QVMAIL1:", "QVMAIL2:"}},
      {"printer that won't open", "QVMAIL2:", true, {"QVMAIL2:"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::InstalledMachine(sim::Family::NT);
    test::AddPrinter(m, "Stays", row.printerPort);
    m.printers[0].refuseOpen = row.refuseOpen;
    RunRemoval(m);
    std::vector<std::string> changes{
        "delete port QVMAIL1:", "delete port QVMAIL2:", "delete monitor Lumora Mail Monitor (Windows 4.0)"};
    if (row.refuseOpen) changes.insert(changes.begin() + 1, "open Stays");
    EXPECT_EQ(changes, SpoolerChanges(m));
    EXPECT_EQ(row.printerPort, m.printers[0].port);
    std::vector<std::string> left;
    for (const auto &port : sim::FindKey(m, kPorts)->subkeys) left.push_back(port->name);
    EXPECT_EQ(row.portsLeft, left);
  }
}

TEST(PortRemovalTest, EmptyTableOrNoSnapshot) {
  struct Row {
    const char *label;
    bool portsKey;
    const char *failing;  // NULL: nothing fails
    int callsBefore;      // calls of it that succeed first
    std::vector<std::string> changes;
  };
  const Row rows[] = {
      {"no Ports key", false, nullptr, 0, {"delete monitor Lumora Mail Monitor (Windows 4.0)"}},
      {"snapshot can't be allocated",
       true,
       "LocalAlloc",
       0,
       {"delete port QVMAIL1:", "delete port QVMAIL2:", "delete monitor Lumora Mail Monitor (Windows 4.0)"}},
      {"printers can't be enumerated",
       true,
       "EnumPrintersA",
       0,
       {"delete port QVMAIL1:", "delete port QVMAIL2:", "delete monitor Lumora Mail Monitor (Windows 4.0)"}},
      {"printers sized but not listed",
       true,
       "EnumPrintersA",
       1,
       {"delete port QVMAIL1:", "delete port QVMAIL2:", "delete monitor Lumora Mail Monitor (Windows 4.0)"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::InstalledMachine(sim::Family::NT);
    if (!row.portsKey) sim::FindKey(m, test::kMonitorKey)->subkeys.clear();
    test::AddPrinter(m, "Lab", "LPT2:");
    test::RunInProcess(m, [&] {
      LoadPortTable(test::kMonitor);
      if (row.failing) sim::FailNext(m, row.failing, 1, ERROR_ACCESS_DENIED, row.callsBefore);
      RemovePortsAndMonitor(test::kMonitor);
      FreePortTable();
      return 0;
    });
    EXPECT_FALSE(sim::CallsTo(m, "EnumPrintersA").empty());
    EXPECT_EQ(row.changes, SpoolerChanges(m));
    EXPECT_EQ(nullptr, sim::FindKey(m, test::kMonitorKey));
    EXPECT_EQ("LPT2:", m.printers[0].port);
    EXPECT_EQ("", test::LeftUnreleased());
  }
}

// Found by the differential check: given "Monitor\\Ports", Wine's spooler
// deletes that key of the real monitor. A name with a backslash names no
// monitor, so it is never handed to the spooler; the printers are still
// looked at, and nothing changes.
TEST(PortRemovalTest, NoMonitorIsDeletedByANameWithABackslash) {
  const std::string names[] = {std::string(test::kMonitor) + "\\Ports", "\\" + std::string(test::kMonitor),
                               std::string(test::kMonitor) + "\\"};
  for (const std::string &name : names) {
    SCOPED_TRACE(name);
    sim::Machine m = test::InstalledMachine(sim::Family::NT);
    std::string before = test::Snapshot(m);
    test::RunInProcess(m, [&] {
      LoadPortTable(name.c_str());
      RemovePortsAndMonitor(name.c_str());
      FreePortTable();
      return 0;
    });
    EXPECT_FALSE(sim::CallsTo(m, "EnumPrintersA").empty());
    EXPECT_EQ(std::vector<std::string>{}, SpoolerChanges(m));
    EXPECT_EQ(before, test::Snapshot(m));
  }
}

}  // namespace
