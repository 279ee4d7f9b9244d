// NoJobsPending: which printers count as the monitor's, which are opened, and
// where the check stops.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flow_fixtures.h"
#include "spooler/spooler.h"

namespace {

struct PrinterRow {
  const char *name;
  const char *port;
  int jobs;
  bool refuseOpen;
};

TEST(PendingJobsTest, PrintersOnTheMonitorsPorts) {
  struct Row {
    const char *label;
    std::vector<PrinterRow> printers;
    int expected;
    std::vector<std::string> opened;
  };
  const Row rows[] = {
      {"no printers", {}, 1, {}},
      {"jobs only on other ports", {{"Lab", "LPT2:", 3, false}, {"Fax", "FAX:", 1, false}}, 1, {}},
      {"attached printers without jobs",
       {{"Mail1", "QVMAIL1:", 0, false}, {"Mail2", "QVMAIL2:", 0, false}},
       1,
       {"Mail1", "Mail2"}},
      {"one paused job among several",
       {{"Lab", "LPT2:", 0, false}, {"Mail1", "QVMAIL1:", 0, false}, {"Mail2", "QVMAIL2:", 1, false}},
       0,
       {"Mail1", "Mail2"}},
      {"stops at the first printer with a job",
       {{"Mail1", "QVMAIL1:", 2, false}, {"Mail2", "QVMAIL2:", 1, false}},
       0,
       {"Mail1"}},
      {"port looked up regardless of case", {{"Mail1", "qvmail1:", 1, false}}, 0, {"Mail1"}},
      {"pooled printer's list is one name", {{"Pool", "QVMAIL1:,QVMAIL2:", 1, false}}, 1, {}},
      {"network port is no key name", {{"Net", "\\\\server\\QVMAIL1:", 1, false}}, 1, {}},
      {"port name ending in a backslash", {{"Odd", "QVMAIL1:\\", 1, false}}, 1, {}},
      {"a printer that won't open is passed over",
       {{"Locked", "QVMAIL1:", 1, true}, {"Mail2", "QVMAIL2:", 1, false}},
       0,
       {"Locked", "Mail2"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::InstalledMachine(sim::Family::NT);
    for (const PrinterRow &p : row.printers) {
      test::AddPrinter(m, p.name, p.port, p.jobs);
      m.printers.back().refuseOpen = p.refuseOpen;
    }
    int result = test::RunInProcess(m, [] { return NoJobsPending(test::kMonitor); });
    EXPECT_EQ(row.expected, result);
    EXPECT_EQ(row.opened, test::FirstArgs(m, "OpenPrinterA"));
    EXPECT_EQ(0, sim::LastRunLeftovers().printers);
    EXPECT_EQ(0, sim::LastRunLeftovers().registryKeys);
  }
}

TEST(PendingJobsTest, FailuresOnTheWay) {
  struct Row {
    const char *label;
    const char *function;
    int skip;
    int expected;
  };
  const Row rows[] = {
      {"printer list can't be allocated: refuse", "LocalAlloc", 0, 0},
      {"job list can't be allocated: no jobs", "LocalAlloc", 1, 1},
      {"printers can't be enumerated: none", "EnumPrintersA", 0, 1},
      {"printer list sized but not filled: none", "EnumPrintersA", 1, 1},
      {"jobs can't be enumerated: none", "EnumJobsA", 0, 1},
      {"job list sized but not filled: none", "EnumJobsA", 1, 1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::InstalledMachine(sim::Family::NT);
    test::AddPrinter(m, "Mail1", "QVMAIL1:", 1);
    sim::FailNext(m, row.function, 1, ERROR_NOT_ENOUGH_MEMORY, row.skip);
    EXPECT_EQ(row.expected, test::RunInProcess(m, [] { return NoJobsPending(test::kMonitor); }));
    EXPECT_EQ("", test::LeftUnreleased());
  }
}

// The second enumeration call follows the size the first reported, whatever
// its error code: a spooler that reports the size with another code must not
// make the jobs look absent.
TEST(PendingJobsTest, SizeReportedWithAnotherErrorCode) {
  for (const char *function : {"EnumPrintersA", "EnumJobsA"}) {
    SCOPED_TRACE(function);
    sim::Machine m = test::InstalledMachine(sim::Family::NT);
    test::AddPrinter(m, "Mail1", "QVMAIL1:", 1);
    bool first = true;
    m.onCall = [&](const sim::Call &call) {
      if (call.name != function || !first) return;
      first = false;
      m.lastError = ERROR_MORE_DATA;
    };
    EXPECT_EQ(0, test::RunInProcess(m, [] { return NoJobsPending(test::kMonitor); }));
    EXPECT_EQ(2u, sim::CallsTo(m, function).size());
  }
}

// The port's key path must fit whole; a cut one could name another key.
TEST(PendingJobsTest, PortPathsAtTheLimit) {
  // "Lumora Mail Monitor": a port path has room for a port name of 185 characters.
  for (size_t length : {185u, 186u}) {
    SCOPED_TRACE(length);
    std::string port(length, 'p');
    sim::Machine m = test::InstalledMachine(sim::Family::NT);
    sim::CreateKey(m, std::string(test::kMonitorKey) + "\\Ports\\" + port);
    sim::CreateKey(m, std::string(test::kMonitorKey) + "\\Ports\\" + port.substr(0, 185));
    test::RunInProcess(m, [&] {
      EXPECT_EQ(length == 185 ? 1 : 0, PortBelongsToMonitor(test::kMonitor, port.c_str()));
      return 0;
    });
    EXPECT_EQ(length == 185 ? 1u : 0u, sim::CallsTo(m, "RegOpenKeyA").size());
  }
}

}  // namespace
