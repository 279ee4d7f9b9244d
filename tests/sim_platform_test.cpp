// The stand-in's profile reads, files and processes, held to what the
// uninstaller relies on from the real platform.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "harness.h"
#include "removal/removal.h"

namespace {

struct Read {
  DWORD length;
  std::string text;
};

Read ReadProfile(sim::Machine &m, const char *section, const char *key, const char *fallback, DWORD size,
                 const char *file = "test.ini") {
  Read read{};
  test::RunInProcess(m, [&] {
    std::vector<char> buffer(size + 1, '#');
    read.length = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, file);
    read.text = buffer.data();
    return 0;
  });
  return read;
}

TEST(SimProfile, ReadsAsThePlatformDoes) {
  const struct {
    const char *label;
    const char *ini;  // nullptr: no file
    const char *section;
    const char *key;
    DWORD size;
    DWORD length;
    std::string text;
  } cases[] = {
      {"missing file gives the default", nullptr, "S", "K", 32, 3, "def"},
      {"missing section", "[T]\nK=v\n", "S", "K", 32, 3, "def"},
      {"missing key", "[S]\nJ=v\n", "S", "K", 32, 3, "def"},
      {"empty value is empty, not the default", "[S]\nK=\n", "S", "K", 32, 0, ""},
      {"names match regardless of case", "[sEcT]\nkEy=value\n", "SECT", "KEY", 32, 5, "value"},
      {"blanks around the value go", "[S]\nK =  v w  \r\n", "S", "K", 32, 3, "v w"},
      {"one pair of quotes goes", "[S]\nK=\"quoted\"\n", "S", "K", 32, 6, "quoted"},
      {"cut to size - 1, terminated", "[S]\nK=abcdefgh\n", "S", "K", 5, 4, "abcd"},
      {"the first of two keys wins", "[S]\nK=one\nK=two\n", "S", "K", 32, 3, "one"},
      {"comment lines are skipped", "[S]\n;K=no\nK=yes\n", "S", "K", 32, 3, "yes"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::NewMachine();
    if (c.ini) test::PutWindowsFile(m, "test.ini", c.ini);
    Read read = ReadProfile(m, c.section, c.key, "def", c.size);
    EXPECT_EQ(read.length, c.length);
    EXPECT_EQ(read.text, c.text);
  }
}

TEST(SimProfile, NeverCutsADoubleByteCharacterInHalf) {
  sim::Machine m = test::NewMachine(sim::Family::NT, 932);
  test::PutWindowsFile(m, "test.ini", "[S]\nK=C:\\\x95\x5C\n");
  Read read = ReadProfile(m, "S", "K", "", 5);
  EXPECT_EQ(read.text, "C:\\");
  EXPECT_EQ(read.length, 3u);
}

TEST(SimFiles, RemoveDirectoryOnlyEmptyAndResolvedAsWindowsDoes) {
  const struct {
    const char *label;
    const char *path;
    BOOL result;
  } cases[] = {
      {"non-empty directory stays", "C:\\Apps", FALSE},
      {"empty directory goes", "C:\\Apps\\Empty", TRUE},
      {"trailing backslash accepted", "C:\\Apps\\Empty\\", TRUE},
      {"case does not matter", "c:\\apps\\EMPTY", TRUE},
      {"doubled backslashes collapse", "C:\\\\Apps\\\\Empty", TRUE},
      {"a file is not a directory", "C:\\Apps\\file.txt", FALSE},
      {"missing", "C:\\Apps\\Nothing", FALSE},
      {"drive root", "C:\\", FALSE},
      {"current directory of the drive", "C:", FALSE},
      {"another drive's current directory, as its \"=D:\" variable holds it", "D:", TRUE},
      {"locked", "C:\\Apps\\Locked", FALSE},
      {"read-only (the attribute keeps a directory too)", "C:\\Apps\\ReadOnly", FALSE},
      {"by its alias", "C:\\Apps\\EMPTYD~1", TRUE},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::NewMachine();
    sim::AddFile(m, "C:\\Apps\\file.txt");
    sim::AddDirectory(m, "C:\\Apps\\Empty");
    sim::AddDirectory(m, "C:\\Apps\\Locked");
    sim::Lock(m, "C:\\Apps\\Locked");
    sim::AddDirectory(m, "C:\\Apps\\ReadOnly");
    sim::SetAttributes(m, "C:\\Apps\\ReadOnly", FILE_ATTRIBUTE_READONLY);
    sim::SetShortName(m, "C:\\Apps\\Empty", "EMPTYD~1");
    sim::AddDirectory(m, "D:\\Users\\Scans");
    m.driveDirectories['D'] = "D:\\Users\\Scans";
    BOOL result = -1;
    test::RunInProcess(m, [&] { return result = RemoveDirectoryA(c.path); });
    EXPECT_EQ(result, c.result);
  }
}

TEST(SimFiles, DeleteFileRefusesDirectoriesLockedFilesAndTheRunningImage) {
  sim::Machine m = test::NewMachine();
  sim::AddFile(m, "C:\\Apps\\a.txt");
  sim::AddFile(m, "C:\\Apps\\b.txt");
  sim::Lock(m, "C:\\Apps\\b.txt");
  std::vector<BOOL> results;
  test::RunInProcess(m, [&] {
    for (const char *path : {"C:\\APPS\\A.TXT", "C:\\Apps\\b.txt", "C:\\Apps", "C:\\Apps\\none.txt"})
      results.push_back(DeleteFileA(path));
    results.push_back(DeleteFileA(sim::Current().executablePath.c_str()));
    return 0;
  });
  EXPECT_EQ(results, (std::vector<BOOL>{TRUE, FALSE, FALSE, FALSE, FALSE}));
  EXPECT_FALSE(sim::Exists(m, "C:\\Apps\\a.txt"));
  EXPECT_TRUE(sim::Exists(m, "C:\\Apps\\b.txt"));
}

TEST(SimFiles, DoubleByteTrailBackslashIsPartOfTheName) {
  sim::Machine m = test::NewMachine(sim::Family::NT, 932);
  sim::AddDirectory(m, "C:\\\x95\x5C\\Data");  // C:\表\Data
  EXPECT_TRUE(sim::IsDirectory(m, "C:\\\x95\x5C"));
  // C:\表Data: the trail byte does not split the name.
  EXPECT_FALSE(sim::Exists(m,
                           "C:\\\x95\x5C"
                           "Data"));
  EXPECT_TRUE(sim::Exists(m, "C:\\\x95\x5C\\Data"));
}

// A file's name with a separator after it names a directory: no file is
// deleted by it (found by the differential check: Wine refuses it, as
// Windows does). A trailing 表, whose trail byte is 0x5C, is no separator.
TEST(SimFiles, DeleteFileTakesNoNameEndingInASeparator) {
  const struct {
    UINT codePage;
    std::string name;
    BOOL deleted;
  } rows[] = {
      {1252, "C:\\Apps\\a.txt\\", FALSE},   {1252, "C:\\Apps\\a.txt/", FALSE},
      {1252, "C:\\Apps\\a.txt", TRUE},      {932, "C:\\Apps\\\x95\x5C", TRUE},
      {932, "C:\\Apps\\\x95\x5C\\", FALSE},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    sim::Machine m = test::NewMachine(sim::Family::NT, row.codePage);
    sim::AddFile(m, "C:\\Apps\\a.txt");
    sim::AddFile(m, "C:\\Apps\\\x95\x5C");
    BOOL deleted = FALSE;
    DWORD error = 0;
    test::RunInProcess(m, [&] {
      deleted = DeleteFileA(row.name.c_str());
      error = GetLastError();
      return 0;
    });
    EXPECT_EQ(deleted, row.deleted);
    if (!row.deleted) {
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_NAME));
    }
  }
}

// A component ending in 表 (trail byte 0x5C) has its real parent: no
// directory named by the text before the trail byte is made, so the walk up
// can empty the tree.
TEST(SimFiles, ParentsOfADoubleByteNameAreItsRealParents) {
  sim::Machine m = test::NewMachine(sim::Family::NT, 932);
  const std::string name =
      "C:\\Top\\A\x95\x5C"
      "B";
  sim::AddDirectory(m, name + "\\Data");
  EXPECT_FALSE(sim::Exists(m, "C:\\Top\\A\x95"));
  std::vector<BOOL> removed;
  test::RunInProcess(m, [&] {
    for (const std::string &path : {name + "\\Data", name, std::string("C:\\Top")})
      removed.push_back(RemoveDirectoryA(path.c_str()));
    return 0;
  });
  EXPECT_EQ(removed, (std::vector<BOOL>{TRUE, TRUE, TRUE}));
}

// The loader's own path of the image is normalised, as every path it opens
// (found by the differential check: a doubled backslash reached the delete
// command on the stand-in only).
TEST(SimProcess, ModuleFileNameIsTheNormalisedPath) {
  const struct {
    UINT codePage;
    std::string executable;
    std::string reported;
  } rows[] = {
      {1252, "C:\\Apps\\\\Tool\\QVUninst.exe", "C:\\Apps\\Tool\\QVUninst.exe"},
      {1252, "C:\\Apps\\\x95\\\\QVUninst.exe", "C:\\Apps\\\x95\\QVUninst.exe"},
      {932, "C:\\Apps\\\x95\x5C\\QVUninst.exe", "C:\\Apps\\\x95\x5C\\QVUninst.exe"},
      {1252, "C:\\PROGRA~1\\Lumora\\QVUninst.exe", "C:\\PROGRA~1\\Lumora\\QVUninst.exe"},
      // Made full as the process starts: a later change of directory changes nothing.
      {1252, "Tool\\QVUninst.exe", "C:\\WINDOWS\\Tool\\QVUninst.exe"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.executable);
    sim::Machine m = test::NewMachine(sim::Family::NT, row.codePage);
    m.executablePath = row.executable;
    sim::AddDirectory(m, "C:\\Other");
    std::string reported;
    test::RunInProcess(m, [&] {
      SetCurrentDirectoryA("C:\\Other");
      char path[MAX_PATH];
      DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
      reported.assign(path, length);
      return 0;
    });
    EXPECT_EQ(reported, row.reported);
  }
}

TEST(SimProcess, ExitProcessEndsTheRunWithItsCode) {
  sim::Machine m = test::NewMachine();
  bool after = false;
  int code = test::RunInProcess(m, [&] {
    ExitProcess(7);
    after = true;
    return 0;
  });
  EXPECT_EQ(code, 7);
  EXPECT_FALSE(after);
}

TEST(SimProcess, InjectedFailuresHitTheChosenCallsOnly) {
  sim::Machine m = test::NewMachine();
  sim::FailNext(m, "LocalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY, 1);
  std::vector<bool> got;
  DWORD error = 0;
  test::RunInProcess(m, [&] {
    for (int i = 0; i < 3; ++i) {
      HLOCAL block = LocalAlloc(LPTR, 16);
      got.push_back(block != nullptr);
      if (!block) error = GetLastError();
    }
    return 0;
  });
  EXPECT_EQ(got, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

// Every setting a machine folder holds comes back as it was written: the
// demo machine, and one with each file setting, a path no INI key can hold
// among them.
sim::Machine MachineWithEverySetting() {
  sim::Machine m = test::NewMachine(sim::Family::Win9x);
  m.administrators = sim::Administrators::DenyOnly;
  m.deleteCommandRuns = sim::DeleteCommandRuns::AtStart;
  sim::AddFile(m, "C:\\Apps\\open.txt");
  sim::Lock(m, "C:\\Apps\\open.txt", sim::InUse::Open);
  sim::AddFile(m, "C:\\Apps\\a=b.dll");
  sim::Lock(m, "C:\\Apps\\a=b.dll", sim::InUse::Loaded);
  sim::SetAttributes(m, "C:\\Apps\\a=b.dll", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  sim::AddFile(m, "C:\\Apps\\mon.dll");
  sim::Lock(m, "C:\\Apps\\mon.dll", sim::InUse::Loaded);
  sim::SetAttributes(m, "C:\\Apps\\open.txt", 0);
  sim::SetAttributes(m, "C:\\Apps", FILE_ATTRIBUTE_SYSTEM);
  sim::SetShortName(m, "C:\\Program Files", "PROGRA~1");
  sim::SetShortName(m, "C:\\Apps\\a=b.dll", "AB~1.DLL");
  sim::SetFreeBytes(m, 4096);
  sim::AddDirectory(m, "D:\\Scans");
  m.driveDirectories['D'] = "D:\\Scans";
  return m;
}

TEST(SimMachineFolder, RoundTripsEverythingItHolds) {
  namespace fs = std::filesystem;
  for (const char *source :
       {QV_SOURCE_DIR "/examples/demo", QV_SOURCE_DIR "/tests/machines/uninstall-9x", ""}) {
    SCOPED_TRACE(*source ? source : "every setting");
    sim::Machine m;
    std::string error;
    if (*source) {
      ASSERT_TRUE(sim::LoadMachineFolder(m, source, &error)) << error;
    } else {
      m = MachineWithEverySetting();
    }
    fs::path out = fs::temp_directory_path() / ("qv-roundtrip-" + std::to_string(getpid()));
    ASSERT_TRUE(sim::SaveMachineFolder(m, out.string(), &error)) << error;
    sim::Machine again;
    ASSERT_TRUE(sim::LoadMachineFolder(again, out.string(), &error)) << error;
    fs::remove_all(out);
    EXPECT_EQ(again.administrators, m.administrators);
    EXPECT_EQ(again.deleteCommandRuns, m.deleteCommandRuns);
    EXPECT_EQ(sim::FreeBytes(again), sim::FreeBytes(m));
    EXPECT_EQ(again.driveDirectories, m.driveDirectories);
    EXPECT_EQ(sim::ExportRegistry(again), sim::ExportRegistry(m));
    ASSERT_EQ(again.files.size(), m.files.size());
    for (const auto &entry : m.files) {
      SCOPED_TRACE(entry.second.path);
      auto it = again.files.find(entry.first);
      ASSERT_NE(it, again.files.end());
      EXPECT_EQ(it->second.isDirectory, entry.second.isDirectory);
      EXPECT_EQ(it->second.data, entry.second.data);
      EXPECT_EQ(it->second.inUse, entry.second.inUse);
      EXPECT_EQ(it->second.attributes, entry.second.attributes);
      EXPECT_EQ(it->second.shortName, entry.second.shortName);
    }
    ASSERT_EQ(again.printers.size(), m.printers.size());
    for (size_t i = 0; i < m.printers.size(); ++i) {
      EXPECT_EQ(again.printers[i].port, m.printers[i].port);
      EXPECT_EQ(again.printers[i].jobs.size(), m.printers[i].jobs.size());
    }
    EXPECT_EQ(again.family, m.family);
    EXPECT_EQ(again.executablePath, m.executablePath);
    EXPECT_EQ(again.libraries.size(), m.libraries.size());
  }
}

// The drives hold the machine's names in UTF-8: a double-byte name whose
// trail byte is a backslash stays one name, and code page 1252's bytes from
// 0x80 (its five undefined ones too) come back as they were.
TEST(SimMachineFolder, FileNamesAreUnicodeOnTheHost) {
  namespace fs = std::filesystem;
  struct Row {
    UINT codePage;
    std::string path;
    std::string hostName;
  };
  const Row rows[] = {
      {932, "C:\\\x95\x5C\\Data\\x.txt", "\xE8\xA1\xA8/Data/x.txt"},
      {932,
       "C:\\A\x95\x5C"
       "B\\y.txt",
       "A\xE8\xA1\xA8"
       "B/y.txt"},
      {1252, "C:\\\x95\\\x81\x80.txt", "\xE2\x80\xA2/\xC2\x81\xE2\x82\xAC.txt"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.hostName);
    sim::Machine m = test::NewMachine(sim::Family::NT, row.codePage);
    sim::AddFile(m, row.path, "data");
    fs::path out = fs::temp_directory_path() / ("qv-names-" + std::to_string(getpid()));
    std::string error;
    ASSERT_TRUE(sim::SaveMachineFolder(m, out.string(), &error)) << error;
    EXPECT_TRUE(fs::is_regular_file(out / "drive_c" / row.hostName));
    sim::Machine again;
    ASSERT_TRUE(sim::LoadMachineFolder(again, out.string(), &error)) << error;
    fs::remove_all(out);
    EXPECT_TRUE(sim::Exists(again, row.path));
    EXPECT_EQ(again.files.size(), m.files.size());
  }
}

}  // namespace

namespace {

// Found by fuzzing: a scenario's current directory that is no full path made
// relative paths resolve to relative paths again, for ever.
TEST(SimFiles, RelativePathsResolveAgainstAFullCurrentDirectoryOnly) {
  sim::Machine m = test::NewMachine();
  m.currentDirectory = "Cn\\itor\\Ports]";
  sim::AddDirectory(m, "Rel\\Dir");
  EXPECT_TRUE(sim::IsDirectory(m, "C:\\Rel\\Dir"));
}

}  // namespace

namespace {

// Found by fuzzing: a machine.ini path with a NUL inside gave the platform a
// Windows directory no real system can have.
TEST(SimMachineFolder, PlatformPathsEndAtANul) {
  sim::Machine m;
  sim::ApplyMachineHeader(m, std::string("[Machine]\nWindowsDirectory=C:\\WIN\0DOWS\n", 38));
  EXPECT_EQ(m.windowsDirectory, "C:\\WIN");
}

}  // namespace

namespace {

// Found by fuzzing: two printers without a name made "open the printer by
// its name" reach the wrong one; no spooler holds such printers.
TEST(SimMachineFolder, PrintersNeedANameOfTheirOwn) {
  sim::Machine m;
  sim::ApplyMachineBody(
      m, "[Printer1]\nPort=A:\n[Printer2]\nName=Mail\nPort=B:\n[Printer3]\nName=MAIL\nPort=C:\n");
  ASSERT_EQ(m.printers.size(), 1u);
  EXPECT_EQ(m.printers[0].port, "B:");
}

}  // namespace

namespace {

// Whatever a process keeps at its end is reported, but the install-path
// chain's nodes, which the uninstaller keeps to its end on purpose.
TEST(SimProcess, ReportsWhatARunLeavesUnreleased) {
  const char kPlan[] = "[UNINSTALL]\nPATH=C:\\Tools\\Mail\\Print\n";  // three chain nodes
  const std::string kOneBlock = "LocalAlloc blocks never freed: 1";
  const struct {
    const char *label;
    int allocationsBeforeFailure;  // -1: none fails
    std::function<int()> body;
    std::string reported;
  } rows[] = {
      {"nothing acquired", -1, [] { return 0; }, ""},
      {"a block freed", -1, [] { return LocalFree(LocalAlloc(LPTR, 16)) == NULL ? 0 : 1; }, ""},
      {"a block never freed", -1, [] { return LocalAlloc(LPTR, 16) ? 0 : 1; }, kOneBlock},
      {"a block kept past ExitProcess", -1,
       [] {
         LocalAlloc(LPTR, 16);
         ExitProcess(1);
         return 0;  // not reached
       },
       kOneBlock},
      {"the chain's nodes live on", -1,
       [] {
         BuildRemovalPlan();
         return 0;
       },
       ""},
      {"the chain's nodes and one block more", -1,
       [] {
         BuildRemovalPlan();
         return LocalAlloc(LPTR, 16) ? 0 : 1;
       },
       kOneBlock},
      {"memory runs out while planning: the nodes made so far live on", 1,
       [] {
         BuildRemovalPlan();
         return 0;
       },
       ""},
      {"a key, a printer, a library and a started process left open", -1,
       [] {
         HKEY key;
         HANDLE printer;
         RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &key);
         OpenPrinterA(const_cast<char *>("Mail"), &printer, NULL);
         LoadLibraryA("C:\\Lumora\\_SETUP.DLL");
         STARTUPINFOA startup = {};
         PROCESS_INFORMATION process = {};
         CreateProcessA(NULL, const_cast<char *>("command.com"), NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                        &process);
         return 0;
       },
       "registry keys open: 1; printers open: 1; libraries loaded: 1; process handles open: 2"},
      {"a token left open and a SID never freed", -1,
       [] {
         HANDLE token;
         SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
         PSID admins;
         OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
         AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, &admins);
         return 0;
       },
       "tokens open: 1; SIDs never freed: 1"},
      {"a file left open, another closed", -1,
       [] {
         CreateFileA("C:\\a.txt", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
         CloseHandle(CreateFileA("C:\\b.txt", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
         return 0;
       },
       "file handles open: 1"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::NewMachine();
    test::PutWindowsFile(m, "QVFList.ini", kPlan);
    sim::CreateKey(m, "SOFTWARE");
    sim::AddFile(m, "C:\\Lumora\\_SETUP.DLL", "MZ");
    m.libraries.push_back(sim::Library{"C:\\Lumora\\_SETUP.DLL", true, 1});
    m.printers.push_back(sim::Printer{});
    m.printers.back().name = "Mail";
    if (row.allocationsBeforeFailure >= 0)
      sim::FailNext(m, "LocalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY, row.allocationsBeforeFailure);
    test::RunInProcess(m, row.body);
    EXPECT_EQ(test::LeftUnreleased(), row.reported);
  }
}

// The restart's list is the calls' own: files and directories alike, whether
// they exist or not, in the order of the calls. The 95/98 family has none.
TEST(SimProcess, DelayedDeletionKeepsFilesAndDirectoriesInCallOrder) {
  const std::vector<std::string> paths = {"C:\\Apps\\tool.exe", "C:\\Apps", "C:\\Gone", "c:\\apps\\"};
  for (sim::Family family : {sim::Family::NT, sim::Family::Win9x}) {
    SCOPED_TRACE(family == sim::Family::NT ? "NT" : "95/98");
    sim::Machine m = test::NewMachine(family);
    sim::AddFile(m, "C:\\Apps\\tool.exe");
    std::vector<BOOL> results;
    DWORD error = 0;
    test::RunInProcess(m, [&] {
      for (const std::string &path : paths)
        results.push_back(MoveFileExA(path.c_str(), NULL, MOVEFILE_DELAY_UNTIL_REBOOT));
      error = GetLastError();
      return 0;
    });
    bool nt = family == sim::Family::NT;
    EXPECT_EQ(results, std::vector<BOOL>(paths.size(), nt ? TRUE : FALSE));
    EXPECT_EQ(m.pendingDeletes, nt ? paths : std::vector<std::string>{});
    if (!nt) {
      EXPECT_EQ(error, 120u);  // ERROR_CALL_NOT_IMPLEMENTED
    }
    EXPECT_TRUE(sim::Exists(m, "C:\\Apps\\tool.exe"));  // nothing goes before the restart
  }
}

}  // namespace

namespace {

// C:\Program Files (alias PROGRA~1) holds Lumora (no alias on NT) and the
// running executable; C:\Apps a file of each kind a deletion meets.
sim::Machine FilesMachine(sim::Family family = sim::Family::NT, UINT codePage = 1252) {
  sim::Machine m = test::NewMachine(family, codePage);
  sim::AddFile(m, "C:\\Apps\\plain.txt");
  sim::AddFile(m, "C:\\Apps\\readonly.txt");
  sim::SetAttributes(m, "C:\\Apps\\readonly.txt", FILE_ATTRIBUTE_READONLY);
  sim::AddFile(m, "C:\\Apps\\open.txt");
  sim::Lock(m, "C:\\Apps\\open.txt", sim::InUse::Open);
  sim::AddFile(m, "C:\\Apps\\spooler.dll");
  sim::Lock(m, "C:\\Apps\\spooler.dll", sim::InUse::Loaded);
  sim::AddFile(m, "C:\\Apps\\Long File Name.txt");
  sim::SetShortName(m, "C:\\Apps\\Long File Name.txt", "LONGFI~1.TXT");
  sim::SetShortName(m, "C:\\Program Files", "PROGRA~1");
  sim::AddFile(m, "C:\\Lumora\\_SETUP.DLL", "MZ");
  m.libraries.push_back(sim::Library{"C:\\Lumora\\_SETUP.DLL", true, 1});
  return m;
}

TEST(SimFiles, DeleteFileRefusesAsWindowsDoes) {
  const struct {
    const char *label;
    std::function<void()> before;  // run in the process first
    const char *path;
    BOOL deleted;
    DWORD error;
  } rows[] = {
      {"a read-only file", [] {}, "C:\\Apps\\readonly.txt", FALSE, ERROR_ACCESS_DENIED},
      {"a read-only file once cleared",
       [] { SetFileAttributesA("C:\\Apps\\readonly.txt", FILE_ATTRIBUTE_NORMAL); }, "C:\\Apps\\readonly.txt",
       TRUE, 0},
      {"a file another program has open", [] {}, "C:\\Apps\\open.txt", FALSE, ERROR_SHARING_VIOLATION},
      {"an image another program has loaded", [] {}, "C:\\Apps\\spooler.dll", FALSE, ERROR_ACCESS_DENIED},
      {"a library this process has loaded", [] { LoadLibraryA("C:\\Lumora\\_SETUP.DLL"); },
       "C:\\Lumora\\_SETUP.DLL", FALSE, ERROR_ACCESS_DENIED},
      {"a library once freed", [] { FreeLibrary(LoadLibraryA("C:\\Lumora\\_SETUP.DLL")); },
       "C:\\Lumora\\_SETUP.DLL", TRUE, 0},
      {"by its alias", [] {}, "C:\\Apps\\LONGFI~1.TXT", TRUE, 0},
      {"the running executable by its short form", [] {}, "c:\\progra~1\\Lumora\\QVUninst.exe", FALSE,
       ERROR_ACCESS_DENIED},
      {"an alias is no long name's prefix", [] {}, "C:\\Apps\\LONGFI~1", FALSE, ERROR_FILE_NOT_FOUND},
      {"a file this process holds open without delete sharing",
       [] {
         CreateFileA("C:\\Apps\\plain.txt", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
       },
       "C:\\Apps\\plain.txt", FALSE, ERROR_SHARING_VIOLATION},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = FilesMachine();
    BOOL deleted = -1;
    DWORD error = 0;
    test::RunInProcess(m, [&] {
      row.before();
      deleted = DeleteFileA(row.path);
      error = deleted ? 0 : GetLastError();
      return 0;
    });
    EXPECT_EQ(deleted, row.deleted);
    EXPECT_EQ(error, row.error);
  }
}

// CreateFileA as measured under Wine 8 and as Wine's conformance tests hold
// Windows to it (kernel32 file.c: the dispositions' last errors, sharing
// against handles and image mappings).
TEST(SimFiles, CreateFileOpensAsWindowsDoes) {
  const DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
  const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;
  const struct {
    const char *label;
    std::function<void()> before;  // run in the process first
    const char *path;
    DWORD access, share, disposition;
    bool opened;
    DWORD error;       // GetLastError after the call
    DWORD attributes;  // of the path afterwards, when not 0
  } rows[] = {
      {"OPEN_ALWAYS makes a missing file, archive", [] {}, "C:\\Apps\\new.txt", kReadWrite, 0, OPEN_ALWAYS,
       true, 0, FILE_ATTRIBUTE_ARCHIVE},
      {"OPEN_ALWAYS finds an existing one", [] {}, "C:\\Apps\\plain.txt", kReadWrite, 0, OPEN_ALWAYS, true,
       ERROR_ALREADY_EXISTS, 0},
      {"CREATE_ALWAYS overwrites an existing one", [] {}, "C:\\Apps\\plain.txt", GENERIC_WRITE, 0,
       CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, 0},
      {"CREATE_NEW refuses an existing one", [] {}, "C:\\Apps\\plain.txt", kReadWrite, 0, CREATE_NEW, false,
       ERROR_FILE_EXISTS, 0},
      {"OPEN_EXISTING finds no missing one", [] {}, "C:\\Apps\\none.txt", GENERIC_READ, 0, OPEN_EXISTING,
       false, ERROR_FILE_NOT_FOUND, 0},
      {"a missing folder", [] {}, "C:\\None\\new.txt", kReadWrite, 0, OPEN_ALWAYS, false,
       ERROR_PATH_NOT_FOUND, 0},
      {"a directory", [] {}, "C:\\Apps", GENERIC_READ, kShareAll, OPEN_EXISTING, false, ERROR_ACCESS_DENIED,
       0},
      {"read-only: no write access", [] {}, "C:\\Apps\\readonly.txt", kReadWrite, 0, OPEN_ALWAYS, false,
       ERROR_ACCESS_DENIED, 0},
      {"read-only: read access", [] {}, "C:\\Apps\\readonly.txt", GENERIC_READ, 0, OPEN_EXISTING, true, 0, 0},
      {"held open by another program", [] {}, "C:\\Apps\\open.txt", GENERIC_READ, kShareAll, OPEN_EXISTING,
       false, ERROR_SHARING_VIOLATION, 0},
      {"held open by another program, no access asked", [] {}, "C:\\Apps\\open.txt", 0, kShareAll,
       OPEN_EXISTING, true, 0, 0},
      {"an image another program loaded is read", [] {}, "C:\\Apps\\spooler.dll", GENERIC_READ, 0,
       OPEN_EXISTING, true, 0, 0},
      {"an image another program loaded is not written", [] {}, "C:\\Apps\\spooler.dll", kReadWrite,
       kShareAll, OPEN_EXISTING, false, ERROR_SHARING_VIOLATION, 0},
      {"the running executable is not written", [] {}, "C:\\PROGRA~1\\Lumora\\QVUninst.exe", GENERIC_WRITE,
       kShareAll, OPEN_EXISTING, false, ERROR_SHARING_VIOLATION, 0},
      {"this process's handle shares nothing",
       [] { CreateFileA("C:\\Apps\\plain.txt", kReadWrite, 0, NULL, OPEN_EXISTING, 0, NULL); },
       "C:\\Apps\\plain.txt", GENERIC_READ, kShareAll, OPEN_EXISTING, false, ERROR_SHARING_VIOLATION, 0},
      {"this process's handle shares reading",
       [] {
         CreateFileA("C:\\Apps\\plain.txt", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
       },
       "C:\\Apps\\plain.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, true, 0, 0},
      {"this process's handle shares reading, not writing",
       [] {
         CreateFileA("C:\\Apps\\plain.txt", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
       },
       "C:\\Apps\\plain.txt", kReadWrite, kShareAll, OPEN_EXISTING, false, ERROR_SHARING_VIOLATION, 0},
      {"a hidden file is not overwritten as a normal one",
       [] { SetFileAttributesA("C:\\Apps\\plain.txt", FILE_ATTRIBUTE_HIDDEN); }, "C:\\Apps\\plain.txt",
       GENERIC_WRITE, 0, CREATE_ALWAYS, false, ERROR_ACCESS_DENIED, 0},
      {"by its alias", [] {}, "C:\\Apps\\LONGFI~1.TXT", GENERIC_READ, 0, OPEN_EXISTING, true, 0, 0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = FilesMachine();
    HANDLE handle = NULL;
    DWORD error = 0, attributes = 0;
    test::RunInProcess(m, [&] {
      row.before();
      sim::Current().lastError = 0xDEADBEEF;
      handle =
          CreateFileA(row.path, row.access, row.share, NULL, row.disposition, FILE_ATTRIBUTE_NORMAL, NULL);
      error = GetLastError();
      attributes = GetFileAttributesA(row.path);
      CloseHandle(handle);
      return 0;
    });
    EXPECT_EQ(handle != INVALID_HANDLE_VALUE, row.opened);
    EXPECT_EQ(error, row.error);
    if (row.attributes) {
      EXPECT_EQ(attributes, row.attributes);
    }
  }
}

// Reads, writes, the file pointer and the end of file on C:\Apps\data.txt
// ("hello"), opened for reading and writing; a disk that can fill refuses a
// growth whole, before anything is written.
TEST(SimFiles, FileContentsChangeByHandleAsWindowsDoes) {
  const uint64_t kNoLimit = UINT64_MAX;
  const struct {
    const char *label;
    uint64_t freeBytes;
    std::function<BOOL(HANDLE)> calls;
    BOOL result;
    DWORD error;  // when it failed
    std::string data;
  } rows[] = {
      {"a write that extends", kNoLimit,
       [](HANDLE h) {
         DWORD written = 0;
         SetFilePointer(h, 3, NULL, FILE_BEGIN);
         return WriteFile(h, "LPERS", 5, &written, NULL) && written == 5;
       },
       TRUE, 0, "helLPERS"},
      {"a write past the end: zeros between", kNoLimit,
       [](HANDLE h) {
         DWORD written = 0;
         SetFilePointer(h, 2, NULL, FILE_END);
         return WriteFile(h, "!", 1, &written, NULL);
       },
       TRUE, 0, std::string("hello\0\0!", 8)},
      {"SetEndOfFile grows with zeros", kNoLimit,
       [](HANDLE h) { return SetFilePointer(h, 8, NULL, FILE_BEGIN) == 8 && SetEndOfFile(h); }, TRUE, 0,
       std::string("hello\0\0\0", 8)},
      {"SetEndOfFile truncates", kNoLimit,
       [](HANDLE h) { return SetFilePointer(h, 2, NULL, FILE_BEGIN) == 2 && SetEndOfFile(h); }, TRUE, 0,
       "he"},
      {"a read at the end reads nothing", kNoLimit,
       [](HANDLE h) {
         char buffer[8];
         DWORD read = 99;
         SetFilePointer(h, 0, NULL, FILE_END);
         return ReadFile(h, buffer, sizeof buffer, &read, NULL) && read == 0;
       },
       TRUE, 0, "hello"},
      {"a seek before the start fails and the pointer stays", kNoLimit,
       [](HANDLE h) {
         SetFilePointer(h, 1, NULL, FILE_BEGIN);
         return SetFilePointer(h, -2, NULL, FILE_CURRENT) != INVALID_SET_FILE_POINTER ||
                SetFilePointer(h, 0, NULL, FILE_CURRENT) != 1;
       },
       FALSE, ERROR_NEGATIVE_SEEK, "hello"},
      {"a handle for reading neither writes nor sets the end", kNoLimit,
       [](HANDLE) {
         DWORD written = 0;
         HANDLE h = CreateFileA("C:\\Apps\\data.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, 0, NULL);
         BOOL changed = WriteFile(h, "x", 1, &written, NULL) || SetEndOfFile(h);
         CloseHandle(h);
         return changed;
       },
       FALSE, ERROR_ACCESS_DENIED, "hello"},
      {"disk full: SetEndOfFile refuses and the file stays as it was", 2,
       [](HANDLE h) { return SetFilePointer(h, 8, NULL, FILE_BEGIN) == 8 && SetEndOfFile(h); }, FALSE,
       ERROR_DISK_FULL, "hello"},
      {"disk full: a write that would grow refuses whole", 2,
       [](HANDLE h) {
         DWORD written = 99;
         SetFilePointer(h, 4, NULL, FILE_BEGIN);
         BOOL wrote = WriteFile(h, "WXYZ", 4, &written, NULL);
         return wrote || written != 0 ? TRUE : FALSE;
       },
       FALSE, ERROR_DISK_FULL, "hello"},
      {"a write within the file needs no free space", 0,
       [](HANDLE h) {
         DWORD written = 0;
         return WriteFile(h, "J", 1, &written, NULL);
       },
       TRUE, 0, "Jello"},
      {"a file deleted gives its bytes back", 0,
       [](HANDLE h) {
         DeleteFileA("C:\\Apps\\ten.txt");
         return SetFilePointer(h, 15, NULL, FILE_BEGIN) == 15 && SetEndOfFile(h);
       },
       TRUE, 0, std::string("hello") + std::string(10, '\0')},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = FilesMachine();
    sim::AddFile(m, "C:\\Apps\\data.txt", "hello");
    sim::AddFile(m, "C:\\Apps\\ten.txt", "0123456789");
    if (row.freeBytes != kNoLimit) sim::SetFreeBytes(m, row.freeBytes);
    BOOL result = -1;
    DWORD error = 0;
    test::RunInProcess(m, [&] {
      HANDLE h = CreateFileA("C:\\Apps\\data.txt", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
      result = row.calls(h);
      error = result ? 0 : GetLastError();
      CloseHandle(h);
      return 0;
    });
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(error, row.error);
    EXPECT_EQ(m.files[sim::FoldPath(m, "C:\\Apps\\data.txt")].data, row.data);
    EXPECT_EQ(test::LeftUnreleased(), "");
  }
}

TEST(SimFiles, AttributesAsDocumented) {
  const struct {
    const char *label;
    const char *path;
    DWORD set;  // INVALID_FILE_ATTRIBUTES: not set
    BOOL setResult;
    DWORD got;
    DWORD error;  // of the last call that failed
  } rows[] = {
      {"a new file is archive", "C:\\Apps\\plain.txt", INVALID_FILE_ATTRIBUTES, TRUE, FILE_ATTRIBUTE_ARCHIVE,
       0},
      {"normal alone clears all", "C:\\Apps\\readonly.txt", FILE_ATTRIBUTE_NORMAL, TRUE,
       FILE_ATTRIBUTE_NORMAL, 0},
      {"normal with others is ignored", "C:\\Apps\\plain.txt", FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_HIDDEN,
       TRUE, FILE_ATTRIBUTE_HIDDEN, 0},
      {"a file can't be made a directory", "C:\\Apps\\plain.txt", FILE_ATTRIBUTE_DIRECTORY, TRUE,
       FILE_ATTRIBUTE_NORMAL, 0},
      {"a directory stays one", "C:\\Apps", FILE_ATTRIBUTE_READONLY, TRUE,
       FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY, 0},
      {"by its alias", "C:\\Apps\\LONGFI~1.TXT", FILE_ATTRIBUTE_SYSTEM, TRUE, FILE_ATTRIBUTE_SYSTEM, 0},
      {"missing file", "C:\\Apps\\none.txt", FILE_ATTRIBUTE_NORMAL, FALSE, INVALID_FILE_ATTRIBUTES,
       ERROR_FILE_NOT_FOUND},
      {"missing directory", "C:\\None\\none.txt", FILE_ATTRIBUTE_NORMAL, FALSE, INVALID_FILE_ATTRIBUTES,
       ERROR_PATH_NOT_FOUND},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = FilesMachine();
    BOOL setResult = TRUE;
    DWORD got = 0, error = 0;
    test::RunInProcess(m, [&] {
      if (row.set != INVALID_FILE_ATTRIBUTES) setResult = SetFileAttributesA(row.path, row.set);
      got = GetFileAttributesA(row.path);
      if (got == INVALID_FILE_ATTRIBUTES) error = GetLastError();
      return 0;
    });
    EXPECT_EQ(setResult, row.setResult);
    EXPECT_EQ(got, row.got);
    EXPECT_EQ(error, row.error);
  }
}

TEST(SimFiles, ShortPathNameGivesEachComponentsAlias) {
  const struct {
    const char *label;
    const char *path;
    DWORD size;
    DWORD result;
    std::string text;  // the buffer after the call ("#" untouched)
    DWORD error;
    // 95/98: these are made first, in order, each with the alias its FAT volume makes.
    std::vector<std::string> made = {};
    UINT codePage = 1252;
  } rows[] = {
      {"long form", "C:\\Program Files\\Lumora\\QVUninst.exe", MAX_PATH, 31,
       "C:\\PROGRA~1\\Lumora\\QVUninst.exe", 0},
      {"short form already", "C:\\PROGRA~1\\LUMORA\\QVUNINST.EXE", MAX_PATH, 31,
       "C:\\PROGRA~1\\Lumora\\QVUninst.exe", 0},
      {"a file's own alias", "c:\\apps\\long file name.txt", MAX_PATH, 20, "C:\\Apps\\LONGFI~1.TXT", 0},
      {"just enough room", "C:\\Apps\\LONGFI~1.TXT", 21, 20, "C:\\Apps\\LONGFI~1.TXT", 0},
      {"no room for the terminator: the size needed", "C:\\Apps\\LONGFI~1.TXT", 20, 21, "#", 0},
      {"no buffer: the size needed", "C:\\Program Files", 0, 12, "#", 0},
      {"a drive root", "C:\\", MAX_PATH, 3, "C:\\", 0},
      {"a trailing backslash, kept as given", "C:\\Program Files\\", MAX_PATH, 12, "C:\\PROGRA~1\\", 0},
      {"each separator as given", "C:\\Program Files\\\\Lumora/QVUninst.exe", MAX_PATH, 32,
       "C:\\PROGRA~1\\\\Lumora/QVUninst.exe", 0},
      {"missing file", "C:\\PROGRA~1\\Lumora\\None.exe", MAX_PATH, 0, "#", ERROR_FILE_NOT_FOUND},
      {"missing directory", "C:\\PROGRA~1\\None\\QVUninst.exe", MAX_PATH, 0, "#", ERROR_PATH_NOT_FOUND},
      {"a file is no directory", "C:\\Apps\\plain.txt\\x", MAX_PATH, 0, "#", ERROR_PATH_NOT_FOUND},
      // 95/98: VFAT's basis name (upper case, in the OEM code page) and numeric tail.
      {"95/98: an upper-case 8.3 name is its own, another case is upper-cased",
       "C:\\WINDOWS\\Notepad.exe",
       MAX_PATH,
       22,
       "C:\\WINDOWS\\NOTEPAD.EXE",
       0,
       {"C:\\WINDOWS\\Notepad.exe"}},
      {"95/98: a letter code page 437 holds is kept, no tail",
       "C:\\Apps\\caf\xE9.txt",
       MAX_PATH,
       16,
       "C:\\APPS\\CAF\xC9.TXT",
       0,
       {"C:\\Apps\\caf\xE9.txt"}},
      {"95/98: one it lacks is lossy: '_' and a tail",
       "C:\\Apps\\\xC0 la carte.txt",
       MAX_PATH,
       20,
       "C:\\APPS\\_LACAR~1.TXT",
       0,
       {"C:\\Apps\\\xC0 la carte.txt"}},
      {"95/98: too long",
       "C:\\Apps\\Documentation",
       MAX_PATH,
       16,
       "C:\\APPS\\DOCUME~1",
       0,
       {"C:\\Apps\\Documentation"}},
      {"95/98: a collision takes the next tail",
       "C:\\Apps\\Documents",
       MAX_PATH,
       16,
       "C:\\APPS\\DOCUME~2",
       0,
       {"C:\\Apps\\Documentation", "C:\\Apps\\Documents"}},
      {"95/98: an 8.3 name is taken as an alias is",
       "C:\\Apps\\Documentation",
       MAX_PATH,
       16,
       "C:\\APPS\\DOCUME~2",
       0,
       {"C:\\Apps\\DOCUME~1", "C:\\Apps\\Documentation"}},
      {"95/98: leading periods and every space go",
       "C:\\Apps\\.my profile",
       MAX_PATH,
       16,
       "C:\\APPS\\MYPROF~1",
       0,
       {"C:\\Apps\\.my profile"}},
      {"95/98: the extension is 3 after the last period; periods before it go",
       "C:\\Apps\\setup.v2.html",
       MAX_PATH,
       20,
       "C:\\APPS\\SETUPV~1.HTM",
       0,
       {"C:\\Apps\\setup.v2.html"}},
      {"95/98, 932: a double-byte character is never cut, nor its trail byte upper-cased",
       "C:\\Apps\\a\x83\x61\x83\x43\x83\x45\x83\x47.txt",
       MAX_PATH,
       19,
       "C:\\APPS\\A\x83\x61\x83\x43~1.TXT",
       0,
       {"C:\\Apps\\a\x83\x61\x83\x43\x83\x45\x83\x47.txt"},
       932},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = row.made.empty() ? FilesMachine() : FilesMachine(sim::Family::Win9x, row.codePage);
    for (const std::string &path : row.made) sim::AddFile(m, path);
    DWORD result = 0, error = 0;
    std::string text;
    test::RunInProcess(m, [&] {
      char buffer[MAX_PATH + 1] = "#";
      result = GetShortPathNameA(row.path, row.size ? buffer : NULL, row.size);
      error = result ? 0 : GetLastError();
      text = buffer;
      return 0;
    });
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(text, row.text);
    EXPECT_EQ(error, row.error);
  }
}

TEST(SimFiles, CurrentDirectoryMustBeAnExistingDirectory) {
  const struct {
    const char *label;
    const char *path;
    BOOL result;
    DWORD error;
    std::string current;  // as GetCurrentDirectoryA gives it afterwards
  } rows[] = {
      {"a directory", "C:\\Apps", TRUE, 0, "C:\\Apps"},
      {"relative, against the current one", "..\\Apps\\", TRUE, 0, "C:\\Apps"},
      {"by its alias, kept as given", "c:\\progra~1", TRUE, 0, "C:\\progra~1"},
      {"a drive root", "C:\\", TRUE, 0, "C:\\"},
      {"missing", "C:\\None", FALSE, ERROR_FILE_NOT_FOUND, "C:\\WINDOWS"},
      {"missing parent", "C:\\None\\Sub", FALSE, ERROR_PATH_NOT_FOUND, "C:\\WINDOWS"},
      {"a file", "C:\\Apps\\plain.txt", FALSE, ERROR_DIRECTORY, "C:\\WINDOWS"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = FilesMachine();
    BOOL result = -1;
    DWORD error = 0;
    std::string current;
    test::RunInProcess(m, [&] {
      result = SetCurrentDirectoryA(row.path);
      error = result ? 0 : GetLastError();
      char buffer[MAX_PATH];
      DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
      current.assign(buffer, length);
      return 0;
    });
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(error, row.error);
    EXPECT_EQ(current, row.current);
  }
}

}  // namespace

namespace {

typedef BOOL(WINAPI *OpenProcessTokenFn)(HANDLE, DWORD, PHANDLE);
typedef BOOL(WINAPI *GetTokenInformationFn)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
typedef BOOL(WINAPI *AllocateAndInitializeSidFn)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD,
                                                 DWORD, DWORD, DWORD, DWORD, PSID *);
typedef BOOL(WINAPI *EqualSidFn)(PSID, PSID);
typedef PVOID(WINAPI *FreeSidFn)(PSID);

struct TokenCheck {
  DWORD openError = 0;         // OpenProcessToken's, or 0
  DWORD shortBufferError = 0;  // of the size query
  bool oneByteShortFails = false;
  DWORD adminAttributes = 0;  // the Administrators group's, 0 when absent
};

template <typename Function>
Function Export(HMODULE module, const char *name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

// What an uninstaller sees that looks the calls up at run time, as on Windows.
TokenCheck CheckToken() {
  TokenCheck check;
  HMODULE advapi = GetModuleHandleA("advapi32");
  auto openToken = Export<OpenProcessTokenFn>(advapi, "OpenProcessToken");
  auto getInformation = Export<GetTokenInformationFn>(advapi, "GetTokenInformation");
  auto allocateSid = Export<AllocateAndInitializeSidFn>(advapi, "AllocateAndInitializeSid");
  auto equalSid = Export<EqualSidFn>(advapi, "EqualSid");
  auto freeSid = Export<FreeSidFn>(advapi, "FreeSid");
  HANDLE token;
  if (!openToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    check.openError = GetLastError();
    return check;
  }
  DWORD needed = 0;
  if (!getInformation(token, TokenGroups, NULL, 0, &needed)) check.shortBufferError = GetLastError();
  TOKEN_GROUPS *groups = static_cast<TOKEN_GROUPS *>(LocalAlloc(LPTR, needed));
  DWORD again = 0;
  check.oneByteShortFails =
      !getInformation(token, TokenGroups, groups, needed - 1, &again) && again == needed;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = NULL;
  if (getInformation(token, TokenGroups, groups, needed, &needed) &&
      allocateSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins)) {
    for (DWORD i = 0; i < groups->GroupCount; ++i)
      if (equalSid(groups->Groups[i].Sid, admins)) check.adminAttributes = groups->Groups[i].Attributes;
    freeSid(admins);
  }
  LocalFree(groups);
  CloseHandle(token);
  return check;
}

TEST(SimSecurity, TokenGroupsAsTheMachineSays) {
  const DWORD kEnabled = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;
  const struct {
    const char *label;
    sim::Family family;
    sim::Administrators administrators;
    TokenCheck expected;
  } rows[] = {
      {"an administrator",
       sim::Family::NT,
       sim::Administrators::Yes,
       {0, ERROR_INSUFFICIENT_BUFFER, true, kEnabled}},
      {"a user", sim::Family::NT, sim::Administrators::No, {0, ERROR_INSUFFICIENT_BUFFER, true, 0}},
      {"an administrator not elevated",
       sim::Family::NT,
       sim::Administrators::DenyOnly,
       {0, ERROR_INSUFFICIENT_BUFFER, true, SE_GROUP_USE_FOR_DENY_ONLY}},
      {"95/98: no tokens",
       sim::Family::Win9x,
       sim::Administrators::Yes,
       {ERROR_CALL_NOT_IMPLEMENTED, 0, false, 0}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::NewMachine(row.family);
    m.administrators = row.administrators;
    TokenCheck check;
    test::RunInProcess(m, [&] {
      check = CheckToken();
      return 0;
    });
    EXPECT_EQ(check.openError, row.expected.openError);
    EXPECT_EQ(check.shortBufferError, row.expected.shortBufferError);
    EXPECT_EQ(check.oneByteShortFails, row.expected.oneByteShortFails);
    EXPECT_EQ(check.adminAttributes, row.expected.adminAttributes);
    EXPECT_EQ(test::LeftUnreleased(), "");
  }
}

TEST(SimProcess, ModulesTheExecutableImportsAreFoundByName) {
  const struct {
    const char *module;  // nullptr: the executable
    const char *proc;    // nullptr: not looked up
    bool found;
    DWORD error;
  } rows[] = {
      {nullptr, nullptr, true, 0},
      {"kernel32.dll", nullptr, true, 0},
      {"ADVAPI32", "OpenProcessToken", true, 0},
      {"Advapi32.Dll", "FreeSid", true, 0},
      {"ADVAPI32.DLL", "CheckTokenMembership", false, ERROR_PROC_NOT_FOUND},
      {"USER32.DLL", "OpenProcessToken", false, ERROR_PROC_NOT_FOUND},
      {"winspool.drv", nullptr, true, 0},
      {"WINSPOOL", nullptr, false, ERROR_MOD_NOT_FOUND},  // ".DLL" is what a name without extension gets
      {"NTDLL.DLL", nullptr, false, ERROR_MOD_NOT_FOUND},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.module ? row.module : "(null)");
    sim::Machine m = test::NewMachine();
    bool found = false;
    DWORD error = 0;
    HMODULE module = NULL;
    test::RunInProcess(m, [&] {
      module = GetModuleHandleA(row.module);
      found = row.proc ? GetProcAddress(module, row.proc) != NULL : module != NULL;
      error = found ? 0 : GetLastError();
      return 0;
    });
    EXPECT_EQ(found, row.found);
    EXPECT_EQ(error, row.error);
    if (!row.module) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(module), sim::kInstanceHandle);
    }
  }
}

TEST(SimProcess, PrioritiesAreKeptOnTheMachine) {
  const struct {
    const char *label;
    std::function<BOOL()> call;
    BOOL result;
    DWORD error;
    DWORD ownClass;
    int ownThread;
    DWORD childClass;  // of the process the call started, or 0
  } rows[] = {
      {"high class", [] { return SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS); }, TRUE, 0,
       HIGH_PRIORITY_CLASS, 0, 0},
      {"no such class", [] { return SetPriorityClass(GetCurrentProcess(), 0x10); }, FALSE,
       ERROR_INVALID_PARAMETER, NORMAL_PRIORITY_CLASS, 0, 0},
      {"no such process",
       [] { return SetPriorityClass(reinterpret_cast<HANDLE>(0x77), HIGH_PRIORITY_CLASS); }, FALSE,
       ERROR_INVALID_HANDLE, NORMAL_PRIORITY_CLASS, 0, 0},
      {"time-critical thread",
       [] { return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL); }, TRUE, 0,
       NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_TIME_CRITICAL, 0},
      {"no such thread priority", [] { return SetThreadPriority(GetCurrentThread(), 7); }, FALSE,
       ERROR_INVALID_PARAMETER, NORMAL_PRIORITY_CLASS, 0, 0},
      {"a process started idle",
       [] {
         STARTUPINFOA startup = {};
         PROCESS_INFORMATION started = {};
         BOOL ok = CreateProcessA(NULL, const_cast<char *>("command.com"), NULL, NULL, FALSE,
                                  IDLE_PRIORITY_CLASS, NULL, NULL, &startup, &started);
         CloseHandle(started.hThread);
         CloseHandle(started.hProcess);
         return ok;
       },
       TRUE, 0, NORMAL_PRIORITY_CLASS, 0, IDLE_PRIORITY_CLASS},
      {"an idle process's child is idle too",
       [] {
         STARTUPINFOA startup = {};
         PROCESS_INFORMATION started = {};
         SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS);
         BOOL ok = CreateProcessA(NULL, const_cast<char *>("command.com"), NULL, NULL, FALSE, 0, NULL, NULL,
                                  &startup, &started);
         CloseHandle(started.hThread);
         CloseHandle(started.hProcess);
         return ok;
       },
       TRUE, 0, IDLE_PRIORITY_CLASS, 0, IDLE_PRIORITY_CLASS},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::NewMachine();
    BOOL result = -1;
    DWORD error = 0;
    test::RunInProcess(m, [&] {
      result = row.call();
      error = result ? 0 : GetLastError();
      return 0;
    });
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(error, row.error);
    EXPECT_EQ(m.priorityClass, row.ownClass);
    EXPECT_EQ(m.threadPriority, row.ownThread);
    EXPECT_EQ(m.processes.empty() ? 0 : m.processes.back().priorityClass, row.childClass);
    EXPECT_EQ(test::LeftUnreleased(), "");
  }
}

}  // namespace
