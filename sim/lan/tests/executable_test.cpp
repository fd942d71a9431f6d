#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/ChildProcess.h"
#include "support/lan_client.h"

namespace kestrel::sim::test {
namespace {

namespace fs = std::filesystem;

// The program as a script starts it in the background.
struct Child : kestrel::test::ChildProcess {
  explicit Child(std::vector<std::string> args) : ChildProcess(KESTREL_LAN_BOARD, std::move(args), true) {}
};

struct Ports {
  unsigned tcp = 0, udp = 0;
};

std::optional<Ports> ports_of(const std::string& line, std::size_t board) {
  Ports p;
  std::size_t index = 0;
  if (std::sscanf(line.c_str(), "board %zu tcp %u udp %u", &index, &p.tcp, &p.udp) != 3 || index != board)
    return std::nullopt;
  return p;
}

TEST(LanExecutable, PrintsItsPortsServesAndStopsOnSigterm) {
  Child sim({"--boards", "2", "--port", "0", "--password", "pw"});
  const auto lines = sim.lines(2);
  ASSERT_EQ(lines.size(), 2u) << sim.output();
  const auto first = ports_of(lines[0], 0), second = ports_of(lines[1], 1);
  ASSERT_TRUE(first && second) << sim.output();
  EXPECT_EQ(first->tcp, first->udp);
  EXPECT_NE(first->tcp, second->tcp);
  Client host(static_cast<std::uint16_t>(second->tcp));
  EXPECT_EQ(log_in(host, sha256_of("pw")), (Bytes{'N', 'C', 'V', 'X', 6, 0, 0, 0}));
  host.send({0x01});
  EXPECT_EQ(host.read(1), Bytes{0x31});
  EXPECT_EQ(udp_exchange(static_cast<std::uint16_t>(first->udp), {'N', 'C', 'V', 'X', 1, 0, 0, 0}).size(), 136u);
  EXPECT_EQ(sim.stop(SIGTERM), 0);
  EXPECT_TRUE(host.closed());
}

TEST(LanExecutable, ExitsCleanlyOnSigintAndRefusesWhenAsked) {
  Child sim({"--port", "0", "--refuse"});
  const auto lines = sim.lines(1);
  ASSERT_EQ(lines.size(), 1u);
  const auto ports = ports_of(lines[0], 0);
  ASSERT_TRUE(ports);
  Client host(static_cast<std::uint16_t>(ports->tcp));
  EXPECT_EQ(log_in(host, sha256_of("kestrel")), (Bytes{'N', 'C', 'V', 'X', 7, 0, 0, 0}));
  EXPECT_EQ(sim.stop(SIGINT), 0);
}

TEST(LanExecutable, HelpListsTheOptionsAndBadArgumentsOrABusyPortFail) {
  Child help({"--help"});
  EXPECT_EQ(help.wait(), 0);
  for (const char* option :
       {"--boards",         "--config",       "--port",           "--udp-port", "--password",    "--digest",
        "--refuse",         "--mute-login",   "--mute-replies",   "--delay",    "--split",       "--close-mid-reply",
        "--discovery",      "--flash-writer", "--ask-address",    "--mac",      "--server-name", "--dhcp-offer",
        "--dhcp-server-id", "--dhcp-mask",    "network namespace"})
    EXPECT_NE(help.output().find(option), std::string::npos) << option;

  Child bad({"--port", "0", "--split", "many"});
  EXPECT_EQ(bad.wait(), 2);
  EXPECT_TRUE(bad.output().empty());

  LanServer busy({LanBoardConfig{}});
  busy.start();
  Child clash({"--port", std::to_string(busy.tcp_port(0))});
  EXPECT_EQ(clash.wait(), 1);
  EXPECT_TRUE(clash.output().empty());
}

}  // namespace
}  // namespace kestrel::sim::test
