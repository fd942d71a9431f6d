// kestrel-lan-board: simulated LAN boards for trying the board library
// without one.

#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <string_view>
#include <vector>

#include "options.h"

int main(int argc, char** argv) {
  using namespace kestrel::sim;
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("kestrel-lan-board %s\n", KESTREL_VERSION);
    return 0;
  }
  LanCommandLine cl = parse_lan_command_line(args);
  if (cl.help) {
    std::fputs(lan_usage(argv[0]).c_str(), stdout);
    return 0;
  }
  if (!cl.error.empty()) {
    std::fprintf(stderr, "%s: %s\n%s", argv[0], cl.error.c_str(), lan_usage(argv[0]).c_str());
    return 2;
  }

  // Blocked before the service threads exist, so they inherit the mask and
  // the signals reach sigwait below.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  try {
    LanServer server(std::move(cl.boards));
    std::optional<DhcpServer> dhcp;
    if (cl.dhcp) dhcp.emplace(*cl.dhcp);
    // Both started before anything is printed: a script reading the lines
    // knows everything is up.
    server.start();
    if (dhcp) dhcp->start();
    for (std::size_t i = 0; i < server.size(); ++i)
      std::printf("board %zu tcp %u udp %u\n", i, unsigned{server.tcp_port(i)}, unsigned{server.udp_port(i)});
    if (dhcp) std::printf("dhcp udp %u\n", unsigned{dhcp->port()});
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop_signals, &signal);
    if (dhcp) dhcp->stop();
    server.stop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
    return 1;
  }
  return 0;
}
