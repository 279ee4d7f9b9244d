// The product's entry in the list of installed programs, on both families.
#include <gtest/gtest.h>

#include "harness.h"
#include "removal/removal.h"

namespace {

const char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::string kEntry = std::string(kUninstall) + "\\Lumora";

enum Shape { kLeaf, kWithSubkey, kUndeletable, kMissing, kWriteDenied };

sim::Machine EntryMachine(sim::Family family, Shape shape, const std::vector<std::string> &values) {
  sim::Machine m = test::NewMachine(family);
  sim::CreateKey(m, kUninstall);
  if (shape == kMissing) return m;
  for (const std::string &name : values) sim::SetString(m, kEntry, name, "x");
  sim::SetString(m, kEntry, "Publisher", "Lumora");
  if (shape == kWithSubkey) sim::CreateKey(m, kEntry + "\\Extra");
  if (shape == kUndeletable) sim::FindKey(m, kEntry)->undeletable = true;
  if (shape == kWriteDenied) {
    sim::CreateKey(m, kEntry + "\\Extra");
    sim::FindKey(m, kEntry)->deniedAccess = KEY_SET_VALUE;
  }
  return m;
}

std::vector<std::string> ValueNames(const sim::Machine &m) {
  std::vector<std::string> names;
  if (const sim::RegKey *key = sim::FindKey(m, kEntry))
    for (const sim::RegValue &value : key->values) names.push_back(value.name);
  return names;
}

TEST(UninstallEntry, DeletesTheKeyOrStripsItsDisplayValues) {
  const std::vector<std::string> all = {"DisplayName", "UninstallString", "DisplayIcon"};
  const struct {
    const char *label;
    sim::Family family;
    Shape shape;
    std::vector<std::string> values;
    int result;
    bool keyRemains;
    std::vector<std::string> valuesLeft;
    size_t valueDeletions;
  } cases[] = {
      {"NT: a leaf key goes whole", sim::Family::NT, kLeaf, all, 1, false, {}, 0},
      {"95/98: a key with a subkey goes whole", sim::Family::Win9x, kWithSubkey, all, 1, false, {}, 0},
      {"NT: a key with a subkey loses its display values",
       sim::Family::NT,
       kWithSubkey,
       all,
       1,
       true,
       {"Publisher"},
       3},
      {"95/98: an undeletable key loses its display values",
       sim::Family::Win9x,
       kUndeletable,
       all,
       1,
       true,
       {"Publisher"},
       3},
      {"NT: DisplayIcon missing still counts",
       sim::Family::NT,
       kWithSubkey,
       {"DisplayName", "UninstallString"},
       1,
       true,
       {"Publisher"},
       3},
      {"NT: DisplayName missing: 0, the others still go",
       sim::Family::NT,
       kWithSubkey,
       {"UninstallString", "DisplayIcon"},
       0,
       true,
       {"Publisher"},
       3},
      {"95/98: UninstallString missing: 0",
       sim::Family::Win9x,
       kUndeletable,
       {"DisplayName", "DisplayIcon"},
       0,
       true,
       {"Publisher"},
       3},
      {"NT: missing key", sim::Family::NT, kMissing, {}, 0, false, {}, 0},
      {"95/98: missing key", sim::Family::Win9x, kMissing, {}, 0, false, {}, 0},
      {"NT: no right to change values",
       sim::Family::NT,
       kWriteDenied,
       all,
       0,
       true,
       {"DisplayName", "UninstallString", "DisplayIcon", "Publisher"},
       0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = EntryMachine(c.family, c.shape, c.values);
    int result = -1;
    test::RunInProcess(m, [&] {
      result = DeleteUninstallEntry("Lumora");
      return 0;
    });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(sim::FindKey(m, kEntry) != nullptr, c.keyRemains);
    EXPECT_EQ(ValueNames(m), c.valuesLeft);
    EXPECT_EQ(sim::CallsTo(m, "RegDeleteValueA").size(), c.valueDeletions);
    EXPECT_EQ(test::FirstArgs(m, "RegDeleteKeyA").size(), 1u);
    EXPECT_NE(sim::FindKey(m, kUninstall), nullptr);
    EXPECT_EQ(sim::LastRunLeftovers().registryKeys, 0);
  }
}

const std::string kTooLong(460, 'n');

TEST(UninstallEntry, TouchesNothingForANameItCannotUse) {
  const struct {
    const char *label;
    const char *name;
  } cases[] = {
      {"null", nullptr},
      {"empty", ""},
      {"too long for the key path: never cut", kTooLong.c_str()},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = EntryMachine(sim::Family::NT, kLeaf, {"DisplayName"});
    int result = -1;
    test::RunInProcess(m, [&] {
      result = DeleteUninstallEntry(c.name);
      return 0;
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(sim::CallsTo(m, "RegDeleteKeyA").empty());
    EXPECT_TRUE(sim::CallsTo(m, "RegOpenKeyExA").empty());
  }
}

}  // namespace

namespace {

// An entry that can't be deleted whole is opened for setting values only, and
// all three display values are asked to go, in this order, whatever each
// deletion gives; only DisplayName and UninstallString count for the result.
TEST(UninstallEntry, StripsTheDisplayValuesInOrderWithSetValueAccess) {
  const std::vector<std::string> all = {"DisplayName", "UninstallString", "DisplayIcon"};
  const struct {
    const char *label;
    std::vector<std::string> values;
    int refusedFirst;  // deletions the platform refuses before any is let through
    int refusedAfter;  // then let through this many, and refuse the next
    int result;
  } rows[] = {
      {"all three there", all, 0, -1, 1},
      {"none there: every deletion fails", {}, 0, -1, 0},
      {"the first two refused", all, 2, -1, 0},
      {"DisplayName refused", all, 1, -1, 0},
      {"only UninstallString refused", all, 0, 1, 0},
      {"only DisplayIcon refused", all, 0, 2, 1},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = EntryMachine(sim::Family::NT, kUndeletable, row.values);
    if (row.refusedFirst) sim::FailNext(m, "RegDeleteValueA", row.refusedFirst);
    if (row.refusedAfter >= 0) sim::FailNext(m, "RegDeleteValueA", 1, ERROR_ACCESS_DENIED, row.refusedAfter);
    int result = -1;
    test::RunInProcess(m, [&] {
      result = DeleteUninstallEntry("Lumora");
      return 0;
    });
    EXPECT_EQ(result, row.result);
    auto opened = sim::CallsTo(m, "RegOpenKeyExA");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].args[1], kEntry);
    EXPECT_EQ(opened[0].args[3], "2");  // KEY_SET_VALUE
    std::vector<std::string> asked;
    for (const sim::Call &call : sim::CallsTo(m, "RegDeleteValueA")) asked.push_back(call.args[1]);
    EXPECT_EQ(asked, all);
    EXPECT_EQ(sim::LastRunLeftovers().registryKeys, 0);
  }
}

}  // namespace
