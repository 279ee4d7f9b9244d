// A program built the ordinary way, with everything QVUninst.exe must not
// have, for showing that each PE check fails where it should.
#include <stdio.h>

struct Counter {
  Counter() : value(puts("constructed")) {}  // a static constructor for the runtime to run
  int value;
};
static Counter counter;

// More initialised data than the size check allows.
static volatile unsigned char padding[32 * 1024] = {1};

int main(int argc, char **argv) {
  double ratio = argc / 3.0;                     // SSE arithmetic with -mfpmath=sse
  int larger = argc > 2 ? argc : counter.value;  // a conditional move on a Pentium 4
  printf("%f %d %s %d\n", ratio, larger, argv[0], padding[argc]);
  return 0;
}
