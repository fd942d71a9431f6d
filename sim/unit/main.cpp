// kestrel-unit-sim: a simulated voice unit for trying the tester without one.

#include "unit/Options.h"
#include "unit/UnitSimulator.h"

#include <csignal>
#include <pthread.h>
#include <signal.h>
#include <cstdio>
#include <exception>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
  using namespace kestrel::sim;
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("kestrel-unit-sim %s\n", KESTREL_VERSION);
    return 0;
  }
  const CommandLine cl = parseCommandLine(args);
  if (cl.help) {
    std::fputs(usage(argv[0]).c_str(), stdout);
    return 0;
  }
  if (!cl.error.empty()) {
    std::fprintf(stderr, "%s: %s\n%s", argv[0], cl.error.c_str(), usage(argv[0]).c_str());
    return 2;
  }

  // Blocked before the simulator's thread exists, so it inherits the mask and
  // the signals reach sigwait below. Without a terminal to write to, SIGPIPE
  // must not kill the unit either.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  try {
    UnitSimulator sim(cl.options);
    sim.start();
    std::printf("%s\n", sim.slavePath().c_str());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    sim.stop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
    return 1;
  }
  return 0;
}
