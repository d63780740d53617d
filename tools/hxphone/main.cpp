// hxphone: a virtual HX9120 phone behind a pseudo-terminal.
#include <cstdio>

int main() {
  std::fprintf(stderr, "hxphone: the command line arrives with the pty plug\n");
  return 2;
}
