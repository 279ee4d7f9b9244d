// qvmachine-gen: writes machine folders made by the fuzz target's machine
// builder from seeded pseudo-random bytes, for the stand-in and Wine to be
// compared on. Only machines a real system can hold, that both runners lay
// down (the builder's portable mode). The same seed gives the same machines.
//
// Usage: qvmachine-gen --seed S --count N --out DIR
//   writes DIR/sS-0000, DIR/sS-0001, ... each with [Answers] in machine.ini.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "machine_maker.h"

namespace {

struct Options {
  unsigned long seed = 1;
  int count = 0;
  std::string out;
};

bool ParseOptions(int argc, char **argv, Options *options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--seed"))
      options->seed = strtoul(argv[i + 1], nullptr, 10);
    else if (!strcmp(argv[i], "--count"))
      options->count = atoi(argv[i + 1]);
    else if (!strcmp(argv[i], "--out"))
      options->out = argv[i + 1];
    else
      return false;
  }
  return argc % 2 == 1 && options->count > 0 && !options->out.empty();
}

bool AppendAnswers(const std::string &folder, const sim::Machine &m) {
  FILE *ini = fopen((folder + "/machine.ini").c_str(), "ab");
  if (!ini) return false;
  fputs("\n[Answers]\n", ini);
  int index = 0;
  for (int answer : m.answers) fprintf(ini, "%d=%s\n", ++index, answer == IDYES ? "Yes" : "No");
  return fclose(ini) == 0;
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    fprintf(stderr, "usage: qvmachine-gen --seed S --count N --out DIR\n");
    return 2;
  }
  for (int i = 0; i < options.count; ++i) {
    sim::Machine machine;
    fuzz::MakeSeededMachine(options.seed, i, machine);
    char name[64];
    snprintf(name, sizeof name, "/s%lu-%04d", options.seed, i);
    std::string folder = options.out + name;
    std::string error;
    if (!sim::SaveMachineFolder(machine, folder, &error) || !AppendAnswers(folder, machine)) {
      fprintf(stderr, "qvmachine-gen: %s\n",
              error.empty() ? ("cannot write " + folder).c_str() : error.c_str());
      return 1;
    }
    printf("%s\n", folder.c_str());
  }
  return 0;
}
