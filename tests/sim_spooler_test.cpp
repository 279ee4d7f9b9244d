// The stand-in spooler and window list behave as the product relies on: the
// two-call size protocol with strings inside the caller's buffer, and the
// refusals of the real spooler.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "flow_fixtures.h"

namespace {

const std::string kPorts = std::string(test::kMonitorKey) + "\\Ports";

bool Inside(const void *pointer, const std::vector<BYTE> &buffer) {
  const BYTE *at = static_cast<const BYTE *>(pointer);
  return at >= buffer.data() && at < buffer.data() + buffer.size();
}

TEST(SimSpoolerTest, EnumPrintersSizeProtocolPutsStringsInTheCallersBuffer) {
  sim::Machine m = test::NewMachine();
  test::AddPrinter(m, "Office", "QVMAIL1:", 2);
  test::AddPrinter(m, "Lab", "LPT2:");
  test::RunInProcess(m, [] {
    DWORD needed = 0, returned = 7;
    EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(0u, returned);
    std::vector<BYTE> buffer(needed);
    EXPECT_FALSE(
        EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed - 1, &needed, &returned));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(buffer.size(), needed);

    EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &returned));
    EXPECT_EQ(2u, returned);
    const PRINTER_INFO_2A *info = reinterpret_cast<const PRINTER_INFO_2A *>(buffer.data());
    EXPECT_STREQ("Office", info[0].pPrinterName);
    EXPECT_STREQ("QVMAIL1:", info[0].pPortName);
    EXPECT_EQ(2u, info[0].cJobs);
    EXPECT_STREQ("Lab", info[1].pPrinterName);
    EXPECT_EQ(0u, info[1].cJobs);
    EXPECT_EQ(nullptr, info[0].pServerName);
    EXPECT_EQ(nullptr, info[0].pDevMode);
    for (int i = 0; i < 2; ++i) {
      EXPECT_TRUE(Inside(info[i].pPrinterName, buffer));
      EXPECT_TRUE(Inside(info[i].pPortName, buffer));
      EXPECT_TRUE(Inside(info[i].pDriverName, buffer));
    }
    return 0;
  });
}

TEST(SimSpoolerTest, EnumJobsHonoursFirstJobAndCount) {
  struct Row {
    const char *label;
    DWORD first, count, expected;
  };
  const Row rows[] = {
      {"first four of six", 0, 4, 4},
      {"from the fifth", 4, 4, 2},
      {"past the end", 6, 4, 0},
      {"none asked for", 0, 0, 0},
  };
  sim::Machine m = test::NewMachine();
  test::AddPrinter(m, "Office", "QVMAIL1:", 6);
  test::RunInProcess(m, [&rows] {
    HANDLE printer;
    EXPECT_TRUE(OpenPrinterA(const_cast<char *>("Office"), &printer, nullptr));
    for (const Row &row : rows) {
      SCOPED_TRACE(row.label);
      DWORD needed = 0, returned = 0;
      BOOL sized = EnumJobsA(printer, row.first, row.count, 1, nullptr, 0, &needed, &returned);
      EXPECT_EQ(row.expected == 0, sized != 0);
      std::vector<BYTE> buffer(needed + 1);
      EXPECT_TRUE(EnumJobsA(printer, row.first, row.count, 1, buffer.data(), needed, &needed, &returned));
      EXPECT_EQ(row.expected, returned);
      const JOB_INFO_1A *jobs = reinterpret_cast<const JOB_INFO_1A *>(buffer.data());
      for (DWORD i = 0; i < returned; ++i) {
        EXPECT_TRUE(Inside(jobs[i].pDocument, buffer));
        EXPECT_EQ(static_cast<DWORD>(JOB_STATUS_PAUSED), jobs[i].Status);
      }
    }
    ClosePrinter(printer);
    return 0;
  });
}

TEST(SimSpoolerTest, PrinterRefusals) {
  sim::Machine m = test::NewMachine();
  test::AddPrinter(m, "Office", "QVMAIL1:");
  test::AddPrinter(m, "Locked", "LPT2:");
  m.printers[1].refuseOpen = true;
  test::RunInProcess(m, [&m] {
    HANDLE printer;
    EXPECT_FALSE(OpenPrinterA(const_cast<char *>("Nowhere"), &printer, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME), GetLastError());
    EXPECT_FALSE(OpenPrinterA(const_cast<char *>("Locked"), &printer, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

    // Opened for use only: its settings can't be changed.
    PRINTER_INFO_2A info = {};
    info.pPortName = const_cast<char *>("LPT1:");
    EXPECT_TRUE(OpenPrinterA(const_cast<char *>("office"), &printer, nullptr));
    EXPECT_FALSE(SetPrinterA(printer, 2, reinterpret_cast<LPBYTE>(&info), 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_TRUE(ClosePrinter(printer));
    EXPECT_FALSE(ClosePrinter(printer));

    PRINTER_DEFAULTSA all = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    EXPECT_TRUE(OpenPrinterA(const_cast<char *>("Office"), &printer, &all));
    info.pDriverName = const_cast<char *>("Generic / Text Only");
    info.pComment = const_cast<char *>("moved");
    EXPECT_TRUE(SetPrinterA(printer, 2, reinterpret_cast<LPBYTE>(&info), 0));
    ClosePrinter(printer);
    EXPECT_EQ("LPT1:", m.printers[0].port);
    EXPECT_EQ("moved", m.printers[0].comment);

    sim::FailNext(m, "OpenPrinterA");
    EXPECT_FALSE(OpenPrinterA(const_cast<char *>("Office"), &printer, nullptr));
    return 0;
  });
  EXPECT_EQ(0, sim::LastRunLeftovers().printers);
}

TEST(SimSpoolerTest, DeletePortRefusesWhileAPrinterUsesIt) {
  struct Row {
    const char *label;
    const char *printerPort;  // of the one printer; "" for none
    const char *portGiven;
    DWORD error;  // 0: deleted
  };
  const Row rows[] = {
      {"free port, other case", "", "qvmail1:", 0},
      {"in use", "QVMAIL1:", "QVMAIL1:", ERROR_BUSY},
      {"in use, other case", "qvmail1:", "QVMAIL1:", ERROR_BUSY},
      {"in use by a pool", "LPT2:,QVMAIL1:", "QVMAIL1:", ERROR_BUSY},
      {"unknown port", "", "QVMAIL9:", ERROR_UNKNOWN_PORT},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::InstalledMachine(sim::Family::NT);
    if (*row.printerPort) test::AddPrinter(m, "Office", row.printerPort);
    test::RunInProcess(m, [&row] {
      BOOL deleted = DeletePortA(nullptr, nullptr, const_cast<char *>(row.portGiven));
      EXPECT_EQ(row.error == 0, deleted != 0);
      if (!deleted) {
        EXPECT_EQ(row.error, GetLastError());
      }
      return 0;
    });
    EXPECT_EQ(row.error != 0, sim::FindKey(m, kPorts + "\\QVMAIL1:") != nullptr);
    EXPECT_NE(nullptr, sim::FindKey(m, kPorts + "\\QVMAIL2:"));
  }
}

TEST(SimSpoolerTest, DeleteMonitorRefusesWhileOneOfItsPortsIsUsed) {
  struct Row {
    const char *label;
    const char *printerPort;
    const char *monitor;
    DWORD error;
  };
  const Row rows[] = {
      {"ports free", "LPT2:", "lumora mail monitor", 0},
      {"a port in use", "QVMAIL2:", test::kMonitor, ERROR_PRINT_MONITOR_IN_USE},
      {"unknown monitor", "LPT2:", "Other Monitor", ERROR_UNKNOWN_PRINT_MONITOR},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::InstalledMachine(sim::Family::NT);
    test::AddPrinter(m, "Office", row.printerPort);
    test::RunInProcess(m, [&row] {
      BOOL deleted =
          DeleteMonitorA(nullptr, const_cast<char *>("Windows 4.0"), const_cast<char *>(row.monitor));
      EXPECT_EQ(row.error == 0, deleted != 0);
      if (!deleted) {
        EXPECT_EQ(row.error, GetLastError());
      }
      return 0;
    });
    EXPECT_EQ(row.error != 0, sim::FindKey(m, test::kMonitorKey) != nullptr);
  }
}

TEST(SimWindowsTest, ZOrderWalkAndTextCopies) {
  sim::Machine m = test::NewMachine();
  test::AddWindow(m, "Top");
  test::AddWindow(m, "Below");
  test::RunInProcess(m, [] {
    HWND top = GetTopWindow(GetDesktopWindow());
    HWND below = GetWindow(top, GW_HWNDNEXT);
    EXPECT_EQ(reinterpret_cast<HWND>(sim::kTopWindowBase), top);
    EXPECT_EQ(reinterpret_cast<HWND>(sim::kTopWindowBase + 1), below);
    EXPECT_EQ(nullptr, GetWindow(below, GW_HWNDNEXT));
    EXPECT_EQ(nullptr, GetTopWindow(top));

    struct Row {
      int capacity;
      const char *expected;  // NULL: the buffer is not written
      int count;
    };
    const Row rows[] = {{0, nullptr, 0}, {1, "", 0}, {3, "Be", 2}, {6, "Below", 5}, {256, "Below", 5}};
    for (const Row &row : rows) {
      SCOPED_TRACE(row.capacity);
      char text[256];
      memset(text, 'x', sizeof text);
      EXPECT_EQ(row.count, GetWindowTextA(below, text, row.capacity));
      if (row.expected) {
        EXPECT_STREQ(row.expected, text);
      } else {
        EXPECT_EQ('x', text[0]);
      }
    }
    char name[16];
    EXPECT_EQ(6, GetClassNameA(top, name, sizeof name));
    EXPECT_STREQ("#32770", name);
    EXPECT_EQ(0, GetWindowTextA(reinterpret_cast<HWND>(sim::kTopWindowBase + 2), name, sizeof name));
    return 0;
  });
}

}  // namespace
