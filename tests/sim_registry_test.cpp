// The stand-in's registry, held to what the uninstaller relies on from the
// real platform, and the REGEDIT4 text that machine folders keep it in.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

const char kApp[] = "SOFTWARE\\Lumora\\App";
const LSTATUS kBadPathname = 161;

sim::Machine RegistryMachine(sim::Family family = sim::Family::NT, UINT codePage = 1252) {
  sim::Machine m = test::NewMachine(family, codePage);
  sim::SetString(m, kApp, "Name", "Mail Print");
  sim::SetDword(m, kApp, "Count", 10);
  sim::CreateKey(m, std::string(kApp) + "\\Ports\\beta");
  sim::CreateKey(m, std::string(kApp) + "\\Ports\\Alpha");
  sim::CreateKey(m, std::string(kApp) + "\\Ports\\gamma");
  return m;
}

TEST(SimRegistry, OpensKeysAsThePlatformDoes) {
  const struct {
    const char *label;
    const char *subKey;
    REGSAM access;
    REGSAM denied;  // on App
    LSTATUS status;
  } cases[] = {
      {"exact path", "SOFTWARE\\Lumora\\App", KEY_READ, 0, ERROR_SUCCESS},
      {"names match regardless of case", "software\\LUMORA\\app", KEY_READ, 0, ERROR_SUCCESS},
      {"one trailing backslash is accepted", "SOFTWARE\\Lumora\\App\\", KEY_READ, 0, ERROR_SUCCESS},
      {"missing key", "SOFTWARE\\Lumora\\Nope", KEY_READ, 0, ERROR_FILE_NOT_FOUND},
      {"doubled backslash names no key", "SOFTWARE\\\\Lumora\\App", KEY_READ, 0, ERROR_FILE_NOT_FOUND},
      {"leading backslash is a bad path", "\\SOFTWARE\\Lumora\\App", KEY_READ, 0, kBadPathname},
      {"denied right asked for", kApp, KEY_SET_VALUE, KEY_SET_VALUE, ERROR_ACCESS_DENIED},
      {"denied right not asked for", kApp, KEY_READ, KEY_SET_VALUE, ERROR_SUCCESS},
      {"all access includes the denied right", kApp, KEY_ALL_ACCESS, DELETE, ERROR_ACCESS_DENIED},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = RegistryMachine();
    sim::FindKey(m, kApp)->deniedAccess = c.denied;
    LSTATUS status = -1;
    test::RunInProcess(m, [&] {
      HKEY key = nullptr;
      status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, c.subKey, 0, c.access, &key);
      if (status == ERROR_SUCCESS) RegCloseKey(key);
      return 0;
    });
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(sim::LastRunLeftovers().registryKeys, 0);
  }
}

TEST(SimRegistry, EnumeratesSubkeysInSortedOrder) {
  sim::Machine m = RegistryMachine();
  std::vector<std::string> names;
  std::vector<LSTATUS> tail;
  test::RunInProcess(m, [&] {
    HKEY ports;
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Lumora\\App\\Ports", &ports), ERROR_SUCCESS);
    char name[16];
    for (DWORD i = 0; RegEnumKeyA(ports, i, name, sizeof name) == ERROR_SUCCESS; ++i) names.push_back(name);
    tail.push_back(RegEnumKeyA(ports, 3, name, sizeof name));
    tail.push_back(RegEnumKeyA(ports, 0, name, 5));  // "Alpha" needs 6 with its terminator
    tail.push_back(RegEnumKeyA(ports, 0, name, 6));
    RegCloseKey(ports);
    return 0;
  });
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "gamma"}));
  EXPECT_EQ(tail, (std::vector<LSTATUS>{ERROR_NO_MORE_ITEMS, ERROR_MORE_DATA, ERROR_SUCCESS}));
}

TEST(SimRegistry, QueriesValuesWithTheirSizes) {
  const struct {
    const char *label;
    const char *name;
    DWORD capacity;  // 0: no data buffer
    LSTATUS status;
    DWORD size;
    DWORD type;
  } cases[] = {
      {"string fits with its terminator", "Name", 11, ERROR_SUCCESS, 11, REG_SZ},
      {"one byte short", "Name", 10, ERROR_MORE_DATA, 11, REG_SZ},
      {"no buffer gives the size", "Name", 0, ERROR_SUCCESS, 11, REG_SZ},
      {"dword, name in other case", "COUNT", 4, ERROR_SUCCESS, 4, REG_DWORD},
      {"missing value", "Nope", 32, ERROR_FILE_NOT_FOUND, 32, 0xFFFF},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = RegistryMachine();
    LSTATUS status = -1;
    DWORD size = c.capacity ? c.capacity : 99, type = 0xFFFF;
    std::string data;
    test::RunInProcess(m, [&] {
      HKEY key;
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kApp, 0, KEY_READ, &key);
      std::vector<BYTE> buffer(32, '#');
      status = RegQueryValueExA(key, c.name, nullptr, &type, c.capacity ? buffer.data() : nullptr, &size);
      if (status == ERROR_SUCCESS && c.capacity) data.assign(buffer.begin(), buffer.begin() + size);
      RegCloseKey(key);
      return 0;
    });
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(size, c.size);
    EXPECT_EQ(type, c.type);
    if (c.type == REG_SZ && c.capacity >= c.size) {
      EXPECT_EQ(data, std::string("Mail Print", 11));
    }
  }
}

TEST(SimRegistry, DeletesKeysAsEachFamilyDoes) {
  const struct {
    const char *label;
    sim::Family family;
    const char *subKey;
    bool undeletable;
    LSTATUS status;
    bool appRemains;
    bool portsRemain;
  } cases[] = {
      {"NT: a key with subkeys stays", sim::Family::NT, kApp, false, ERROR_ACCESS_DENIED, true, true},
      {"95/98: the whole subtree goes", sim::Family::Win9x, kApp, false, ERROR_SUCCESS, false, false},
      {"NT: a leaf goes", sim::Family::NT, "SOFTWARE\\Lumora\\App\\Ports\\beta", false, ERROR_SUCCESS, true,
       true},
      {"95/98: an undeletable key inside keeps all", sim::Family::Win9x, kApp, true, ERROR_ACCESS_DENIED,
       true, true},
      {"NT: missing key", sim::Family::NT, "SOFTWARE\\Lumora\\Gone", false, ERROR_FILE_NOT_FOUND, true, true},
      {"95/98: missing key", sim::Family::Win9x, "SOFTWARE\\Lumora\\Gone", false, ERROR_FILE_NOT_FOUND, true,
       true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = RegistryMachine(c.family);
    sim::FindKey(m, std::string(kApp) + "\\Ports\\gamma")->undeletable = c.undeletable;
    LSTATUS status = -1;
    test::RunInProcess(m, [&] {
      status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, c.subKey);
      return 0;
    });
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(sim::FindKey(m, kApp) != nullptr, c.appRemains);
    EXPECT_EQ(sim::FindKey(m, std::string(kApp) + "\\Ports") != nullptr, c.portsRemain);
  }
}

TEST(SimRegistry, DeletesValuesOnlyThroughAWritableHandle) {
  sim::Machine m = RegistryMachine();
  std::vector<LSTATUS> results;
  test::RunInProcess(m, [&] {
    HKEY reading, writing;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, kApp, 0, KEY_READ, &reading);
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, kApp, 0, KEY_SET_VALUE, &writing);
    results.push_back(RegDeleteValueA(reading, "Name"));
    results.push_back(RegDeleteValueA(writing, "name"));
    results.push_back(RegDeleteValueA(writing, "Name"));
    RegCloseKey(reading);
    RegCloseKey(writing);
    return 0;
  });
  EXPECT_EQ(results, (std::vector<LSTATUS>{ERROR_ACCESS_DENIED, ERROR_SUCCESS, ERROR_FILE_NOT_FOUND}));
  EXPECT_EQ(sim::FindValue(m, kApp, "Name"), nullptr);
  EXPECT_NE(sim::FindValue(m, kApp, "Count"), nullptr);
}

TEST(SimRegistry, HandlesOutliveNeitherTheirKeyNorTheirClose) {
  sim::Machine m = RegistryMachine(sim::Family::Win9x);
  std::vector<LSTATUS> results;
  test::RunInProcess(m, [&] {
    HKEY ports;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Lumora\\App\\Ports", 0, KEY_READ, &ports);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kApp);
    char name[16];
    results.push_back(RegEnumKeyA(ports, 0, name, sizeof name));
    results.push_back(RegCloseKey(ports));
    results.push_back(RegCloseKey(ports));
    HKEY unclosed;
    RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &unclosed);
    return 0;
  });
  EXPECT_EQ(results, (std::vector<LSTATUS>{ERROR_KEY_DELETED, ERROR_SUCCESS, ERROR_INVALID_HANDLE}));
  EXPECT_EQ(sim::LastRunLeftovers().registryKeys, 1);
}

TEST(SimRegistry, DoubleByteNamesKeepTheirTrailByte) {
  // 表 is 0x95 0x5C in code page 932: one key name, not a separator.
  const std::string table = "\x95\x5C";
  sim::Machine m = RegistryMachine(sim::Family::NT, 932);
  sim::CreateKey(m, "SOFTWARE\\" + table + "\\Sub");
  ASSERT_NE(sim::FindKey(m, "SOFTWARE\\" + table), nullptr);
  EXPECT_EQ(sim::FindKey(m, "SOFTWARE\\" + table)->subkeys.size(), 1u);
  LSTATUS status = -1;
  test::RunInProcess(m, [&] {
    HKEY key;
    status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("software\\" + table + "\\sub").c_str(), 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return 0;
  });
  EXPECT_EQ(status, ERROR_SUCCESS);
}

// ---- REGEDIT4 text ------------------------------------------------------------

TEST(SimRegistryFile, ExportGivesBackTheImportedText) {
  // Escapes, the default value, every data form, keys without values, and a
  // code page 932 string whose 表 ends in 0x5C
  // right before the closing quote.
  const std::string text =
      "REGEDIT4\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lumora]\n"
      "@=\"default\"\n"
      "\"Path\"=\"C:\\\\Program Files\\\\\\\"Q\\\"\"\n"
      "\"Dir\"=\"C:\\\\\x95\x5C\"\n"
      "\"Count\"=dword:0000000a\n"
      "\"Bin\"=hex:01,02,ff\n"
      "\"Empty\"=hex:\n"
      "\"Expand\"=hex(2):25,57,49,4e,25,00\n"
      "\"Multi\"=hex(7):61,00,62,00,00\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lumora\\B]\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lumora\\c]\n\n";
  sim::Machine m = test::NewMachine(sim::Family::NT, 932);
  std::string error;
  ASSERT_TRUE(sim::ImportRegistry(m, text, &error)) << error;
  EXPECT_EQ(sim::FindValue(m, "SOFTWARE\\Lumora", "Path")->data,
            std::string("C:\\Program Files\\\"Q\"\0", 21));
  EXPECT_EQ(sim::FindValue(m, "SOFTWARE\\Lumora", "Dir")->data, std::string("C:\\\x95\x5C\0", 6));
  EXPECT_EQ(sim::FindValue(m, "SOFTWARE\\Lumora", "Multi")->type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(sim::ExportRegistry(m), text);
}

TEST(SimRegistryFile, OddValuesSurviveTheRoundTrip) {
  sim::Machine m = test::NewMachine(sim::Family::NT, 932);
  const struct {
    const char *name;
    DWORD type;
    std::string data;
  } values[] = {
      {"unterminated", REG_SZ, std::string("abc", 3)},
      {"inner NUL", REG_SZ, std::string("a\0b\0", 4)},
      {"line break", REG_SZ, std::string("a\r\nb\0", 5)},
      {"lone lead byte", REG_SZ, std::string("a\x95\0", 3)},
      {"empty data", REG_SZ, std::string()},
      {"short dword", REG_DWORD, std::string("\x01\x02", 2)},
      {"quote \" and \\ in a name", REG_SZ, std::string("x\0", 2)},
      {"other type", 11, std::string(8, '\x7f')},
      {"long binary", REG_BINARY, std::string(100, '\x5c')},
  };
  sim::RegKey *key = sim::CreateKey(m, "SOFTWARE\\Odd");
  for (const auto &v : values) key->values.push_back(sim::RegValue{v.name, v.type, v.data});
  std::string text = sim::ExportRegistry(m);

  sim::Machine back = test::NewMachine(sim::Family::NT, 932);
  std::string error;
  ASSERT_TRUE(sim::ImportRegistry(back, text, &error)) << error << "\n" << text;
  for (const auto &v : values) {
    SCOPED_TRACE(v.name);
    const sim::RegValue *value = sim::FindValue(back, "SOFTWARE\\Odd", v.name);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->type, v.type);
    EXPECT_EQ(value->data, v.data);
  }
  EXPECT_EQ(sim::ExportRegistry(back), text);
}

TEST(SimRegistryFile, ImportJoinsContinuedLinesAndRejectsWhatItCannotRead) {
  const struct {
    const char *label;
    std::string text;
    bool ok;
  } cases[] = {
      {"continued hex, CRLF", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"B\"=hex:01,\\\r\n  02\r\n", true},
      {"no header", "[HKEY_LOCAL_MACHINE\\K]\n", false},
      {"another hive", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n", false},
      {"value before any key", "REGEDIT4\n\"A\"=\"b\"\n", false},
      {"bad dword", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:123456789\n", false},
      {"unterminated string", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=\"b\n", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::NewMachine();
    std::string error;
    EXPECT_EQ(sim::ImportRegistry(m, c.text, &error), c.ok) << error;
    if (c.ok) {
      const sim::RegValue *value = sim::FindValue(m, "K", "B");
      ASSERT_NE(value, nullptr);
      EXPECT_EQ(value->data, std::string("\x01\x02", 2));
    }
  }
}

}  // namespace

namespace {

// Found by fuzzing: a .reg file listing one port under two monitors let the
// product's DeletePortA take the other monitor's port; a spooler holds each
// port name once, so the first monitor in enumeration order keeps it.
TEST(SimRegistryFile, APortNameStaysWithOneMonitor) {
  const std::string root = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Monitors\\";
  const std::string text = "REGEDIT4\n\n[" + root + "Beta\\Ports\\QVMAIL1:]\n\n[" + root +
                           "Alpha\\Ports\\qvmail1:]\n\"HostName\"=\"a\"\n\n[" + root +
                           "Beta\\Ports\\QVMAIL2:]\n\n";
  const std::string monitors = "System\\CurrentControlSet\\Control\\Print\\Monitors\\";
  // Whole, and cut short by a bad line: what was imported keeps the rule too.
  for (const std::string &reg : {text, text + "\"bad\"\n"}) {
    sim::Machine m = test::NewMachine();
    std::string error;
    EXPECT_EQ(sim::ImportRegistry(m, reg, &error), reg == text) << error;
    EXPECT_NE(sim::FindKey(m, monitors + "Alpha\\Ports\\QVMAIL1:"), nullptr);
    EXPECT_EQ(sim::FindKey(m, monitors + "Beta\\Ports\\QVMAIL1:"), nullptr);
    EXPECT_NE(sim::FindKey(m, monitors + "Beta\\Ports\\QVMAIL2:"), nullptr);
  }
}

}  // namespace
