// Prints a machine folder as the stand-in reads it (sim::DescribeMachine),
// for the check that holds the Python reader of the format to this one.
#include <stdio.h>

#include <string>

#include "machine.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: describe_machine MACHINE_DIR\n");
    return 2;
  }
  sim::Machine machine;
  std::string error;
  if (!sim::LoadMachineFolder(machine, argv[1], &error)) {
    fprintf(stderr, "describe_machine: %s\n", error.c_str());
    return 2;
  }
  fputs(sim::DescribeMachine(machine).c_str(), stdout);
  return 0;
}
