// qvsweep: the interruption sweep on the stand-in. For each machine, the
// uninstall is cut short after each call that changes the machine, then
// finished as a user would (after a power loss and a restart, or at once
// after ending the program), and compared with the uninstall never
// interrupted. Prints, per machine set, the points tried, those that
// converge, and every class of those that do not, each with an example and
// the command that replays it.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>

#include "../../tests/fuzz/machine_maker.h"
#include "sweep.h"

namespace fs = std::filesystem;

namespace {

struct RandomMachines {
  unsigned long seed = 0;
  int first = 0;
  int count = 0;
};

struct MachineSet {
  std::string name;
  std::vector<sweep::MachineSource> machines;
  bool random = false;
  RandomMachines seeds;
};

struct Options {
  std::vector<MachineSet> sets;
  bool printPoints = false;
  sweep::PointFilter filter;
};

void Usage() {
  fprintf(stderr,
          "usage: qvsweep [--points] [--point K] [--variant power-lost|ended]\n"
          "               (MACHINE_DIR | FOLDER_OF_MACHINE_DIRS | --seed S --count N [--first I])...\n"
          "  Cuts the uninstall short after each call that changes the machine, finishes it as a\n"
          "  user would (power-lost: restart, run again; ended: run again at once; then restart)\n"
          "  and compares the machine with the uninstall never interrupted. Each argument is a\n"
          "  machine set; --seed takes machines of the fuzz target's builder (portable), as\n"
          "  qvmachine-gen writes them. --points prints every point; --point and --variant run\n"
          "  only those (and print them). Exit code 0 when every point converges or falls in a\n"
          "  known class, 1 otherwise, 2 for usage errors.\n");
}

bool ParseNumber(const char *text, long low, long *value) {
  char *end = nullptr;
  *value = strtol(text, &end, 10);
  return *text && !*end && *value >= low;
}

bool IsMachineFolder(const fs::path &path) { return fs::is_regular_file(path / "machine.ini"); }

sweep::MachineSource FolderSource(const std::string &folder) {
  return sweep::MachineSource{folder, folder, [folder](sim::Machine &m, std::string *error) {
                                return sim::LoadMachineFolder(m, folder, error);
                              }};
}

// A machine folder is a set of one; a folder of machine folders, a set of all.
bool AddFolderSet(const std::string &folder, Options *options) {
  MachineSet set;
  set.name = folder;
  std::error_code error;
  if (IsMachineFolder(folder)) {
    set.machines.push_back(FolderSource(folder));
  } else {
    std::vector<std::string> found;
    for (const auto &entry : fs::directory_iterator(folder, error))
      if (IsMachineFolder(entry.path())) found.push_back(entry.path().string());
    std::sort(found.begin(), found.end());
    for (const std::string &machine : found) set.machines.push_back(FolderSource(machine));
  }
  if (set.machines.empty()) return false;
  options->sets.push_back(set);
  return true;
}

void AddRandomMachines(MachineSet *set) {
  const RandomMachines &seeds = set->seeds;
  char name[96];
  snprintf(name, sizeof name, "seed %lu, machines %d to %d", seeds.seed, seeds.first,
           seeds.first + seeds.count - 1);
  set->name = name;
  for (int index = seeds.first; index < seeds.first + seeds.count; ++index) {
    char label[64], replay[96];
    snprintf(label, sizeof label, "s%lu-%04d", seeds.seed, index);
    snprintf(replay, sizeof replay, "--seed %lu --first %d --count 1", seeds.seed, index);
    unsigned long seed = seeds.seed;
    set->machines.push_back(
        sweep::MachineSource{label, replay, [seed, index](sim::Machine &m, std::string *) {
                               fuzz::MakeSeededMachine(seed, index, m);
                               return true;
                             }});
  }
}

bool ParseVariant(const std::string &text, sweep::PointFilter *filter) {
  for (sweep::Variant variant : {sweep::Variant::kPowerLost, sweep::Variant::kEnded})
    if (text == sweep::VariantName(variant)) {
      filter->onlyVariant = true;
      filter->variant = variant;
      return true;
    }
  return false;
}

// --count and --first belong to the --seed before them.
bool ParseRandomOption(const std::string &arg, const char *value, Options *options) {
  long number = 0;
  if (arg == "--seed") {
    if (!ParseNumber(value, 0, &number)) return false;
    MachineSet set;
    set.random = true;
    set.seeds.seed = static_cast<unsigned long>(number);
    options->sets.push_back(set);
    return true;
  }
  if (options->sets.empty() || !options->sets.back().random) return false;
  RandomMachines &seeds = options->sets.back().seeds;
  bool isCount = arg == "--count";
  if (!ParseNumber(value, isCount ? 1 : 0, &number)) return false;
  (isCount ? seeds.count : seeds.first) = static_cast<int>(number);
  return true;
}

bool ParseOptions(int argc, char **argv, Options *options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    long number = 0;
    if (arg == "--points") {
      options->printPoints = true;
    } else if (arg == "--point" && hasValue && ParseNumber(argv[i + 1], 1, &number)) {
      options->filter.cut = static_cast<int>(number);
      options->printPoints = true;
      ++i;
    } else if (arg == "--variant" && hasValue && ParseVariant(argv[i + 1], &options->filter)) {
      options->printPoints = true;
      ++i;
    } else if ((arg == "--seed" || arg == "--count" || arg == "--first") && hasValue) {
      if (!ParseRandomOption(arg, argv[++i], options)) return false;
    } else if (arg.empty() || arg[0] == '-' || !AddFolderSet(arg, options)) {
      return false;
    }
  }
  for (MachineSet &set : options->sets) {
    if (set.random && set.seeds.count == 0) return false;
    if (set.random) AddRandomMachines(&set);
  }
  return !options->sets.empty();
}

// ---- the report ---------------------------------------------------------------

struct ClassSeen {
  int points = 0;
  std::string example;
};

struct Tally {
  int machines = 0, unchanged = 0, cutPoints = 0, tried = 0, converge = 0;
  std::map<std::string, ClassSeen> classes;
};

std::string Example(const sweep::MachineSource &source, const sweep::PointResult &point) {
  return source.label + ", cut " + std::to_string(point.cut) + " after " + point.first.cutCall +
         ": qvsweep " + source.replay + " --point " + std::to_string(point.cut) + " --variant " +
         sweep::VariantName(point.variant);
}

void PrintPoint(const sweep::MachineSource &source, const sweep::PointResult &point) {
  printf("  %s cut %d %s after %s: %s\n", source.label.c_str(), point.cut, sweep::VariantName(point.variant),
         point.first.cutCall.c_str(), point.converges ? "converges" : point.classLine.c_str());
  if (point.converges) return;
  if (point.ranAgain)
    printf("      second run: exit code %d, first box \"%s\"\n", point.second.exitCode,
           point.second.firstBox.c_str());
  for (const std::string &detail : point.details) printf("      %s\n", detail.c_str());
}

void Count(const sweep::MachineSource &source, const sweep::MachineSweep &result, Tally *tally) {
  ++tally->machines;
  if (result.baseline.changes == 0) ++tally->unchanged;
  tally->cutPoints += result.baseline.changes;
  // Cut points are only as complete as the list of changing calls.
  if (!result.unlisted.empty()) {
    ClassSeen &seen =
        tally
            ->classes["full run: changed the machine through no call listed as changing: " + result.unlisted];
    if (seen.points++ == 0) seen.example = source.label + ": qvsweep " + source.replay;
  }
  for (const sweep::PointResult &point : result.points) {
    ++tally->tried;
    if (point.converges) {
      ++tally->converge;
      continue;
    }
    ClassSeen &seen = tally->classes[point.classLine];
    if (seen.points++ == 0) seen.example = Example(source, point);
  }
}

// "known fault 1", or "NOT KNOWN": the number is the class's row in the
// list the verdict prints.
std::string KnownLabel(const std::string &classLine) {
  const sweep::KnownClass *known = sweep::FindKnownClass(classLine);
  if (!known) return "NOT KNOWN";
  return "known " + std::string(known->kind) + " " + std::to_string(known - sweep::KnownClasses().data() + 1);
}

void PrintSet(const MachineSet &set, const Tally &tally) {
  printf(
      "%s: %d machine(s) (%d whose full run changes nothing), %d cut points, %d points tried, "
      "%d converge, %d do not\n",
      set.name.c_str(), tally.machines, tally.unchanged, tally.cutPoints, tally.tried, tally.converge,
      tally.tried - tally.converge);
  std::vector<std::pair<std::string, ClassSeen>> classes(tally.classes.begin(), tally.classes.end());
  std::stable_sort(classes.begin(), classes.end(),
                   [](const auto &a, const auto &b) { return a.second.points > b.second.points; });
  for (const auto &seen : classes) {
    printf("  %4d  %s  [%s]\n", seen.second.points, seen.first.c_str(), KnownLabel(seen.first).c_str());
    printf("        e.g. %s\n", seen.second.example.c_str());
  }
}

// The verdict over every set, and each known class with the points it took:
// 1 when a class is not known.
int PrintVerdict(const std::vector<Tally> &tallies) {
  int tried = 0, converge = 0, knownPoints = 0, unknownPoints = 0;
  std::map<const sweep::KnownClass *, int> pointsByClass;
  for (const Tally &tally : tallies) {
    tried += tally.tried;
    converge += tally.converge;
    for (const auto &entry : tally.classes) {
      const sweep::KnownClass *known = sweep::FindKnownClass(entry.first);
      (known ? knownPoints : unknownPoints) += entry.second.points;
      if (known) pointsByClass[known] += entry.second.points;
    }
  }
  printf("\nall sets: %d points tried, %d converge, %d in known classes, %d in classes not known\n", tried,
         converge, knownPoints, unknownPoints);
  int row = 0;
  for (const sweep::KnownClass &known : sweep::KnownClasses())
    printf("known %s %d (%d points): %s\n    why: %s\n", known.kind, ++row, pointsByClass[&known],
           known.pattern, known.reason);
  return unknownPoints ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage();
    return 2;
  }
  std::vector<Tally> tallies;
  for (const MachineSet &set : options.sets) {
    Tally tally;
    for (const sweep::MachineSource &source : set.machines) {
      sweep::MachineSweep result = sweep::SweepMachine(source, options.filter);
      if (!result.error.empty()) {
        fprintf(stderr, "qvsweep: %s: %s\n", source.label.c_str(), result.error.c_str());
        return 2;
      }
      if (options.printPoints)
        for (const sweep::PointResult &point : result.points) PrintPoint(source, point);
      Count(source, result, &tally);
    }
    PrintSet(set, tally);
    tallies.push_back(tally);
  }
  return PrintVerdict(tallies);
}
