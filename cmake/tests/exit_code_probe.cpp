// Exits with the code given as its argument after one line of output: lets the Wine runner's
// test check that a program's exit code and output both reach CTest.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  std::puts("exit code probe");
  return argc > 1 ? std::atoi(argv[1]) : 0;
}
