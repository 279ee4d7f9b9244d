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
      {"locked", "C:\\Apps\\Locked", FALSE},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::NewMachine();
    sim::AddFile(m, "C:\\Apps\\file.txt");
    sim::AddDirectory(m, "C:\\Apps\\Empty");
    sim::AddDirectory(m, "C:\\Apps\\Locked");
    sim::Lock(m, "C:\\Apps\\Locked");
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
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.executable);
    sim::Machine m = test::NewMachine(sim::Family::NT, row.codePage);
    m.executablePath = row.executable;
    std::string reported;
    test::RunInProcess(m, [&] {
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

TEST(SimMachineFolder, RoundTripsEverythingItHolds) {
  namespace fs = std::filesystem;
  sim::Machine m;
  std::string error;
  ASSERT_TRUE(sim::LoadMachineFolder(m, QV_SOURCE_DIR "/examples/demo", &error)) << error;
  fs::path out = fs::temp_directory_path() / ("qv-roundtrip-" + std::to_string(getpid()));
  ASSERT_TRUE(sim::SaveMachineFolder(m, out.string(), &error)) << error;
  sim::Machine again;
  ASSERT_TRUE(sim::LoadMachineFolder(again, out.string(), &error)) << error;
  fs::remove_all(out);
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
