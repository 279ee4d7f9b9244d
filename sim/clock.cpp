// Sleep on the machine's virtual clock: the retry rule's waits cost no real
// time, and a test reads how long they took from Machine::clockMs.
#include "machine.h"

void WINAPI Sleep(DWORD dwMilliseconds) {
  sim::Machine &m = sim::Current();
  if (!sim::ShouldFail(m, "Sleep")) m.clockMs += dwMilliseconds;
  sim::Log(m, "Sleep", {std::to_string(dwMilliseconds)}, "");
}
