// Prints a line, then faults in a static destructor, as a program that
// crashes at exit after its tests passed would. Run under Wine by the test
// shell.unhandled_fault_fails, which passes only if the run fails.
#include <cstdio>

namespace {

struct FaultsAtExit {
  ~FaultsAtExit() {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
  }
};

FaultsAtExit faultsAtExit;

}  // namespace

int main() {
  std::printf("[  PASSED  ] 1 test.\n");
  return 0;
}
