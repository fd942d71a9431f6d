#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/lan_client.h"

extern char** environ;

namespace kestrel::sim::test {
namespace {

namespace fs = std::filesystem;

// The program started as a script starts it in the background: no standard
// input, standard output into a file.
class Child {
 public:
  explicit Child(std::vector<std::string> args)
      : out_(fs::temp_directory_path() /
             ("kestrel-lan-board-" + std::to_string(::getpid()) + "-" + std::to_string(++count_) + ".out")) {
    args.insert(args.begin(), KESTREL_LAN_BOARD);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, KESTREL_LAN_BOARD, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    fs::remove(out_);
  }

  std::string output() const {
    std::ifstream in(out_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The first `count` lines, or fewer when they did not come in time.
  std::vector<std::string> lines(std::size_t count, std::chrono::milliseconds timeout = 3000ms) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<std::string> out;
    while (std::chrono::steady_clock::now() < deadline) {
      std::istringstream text(output());
      out.clear();
      for (std::string line; out.size() < count && std::getline(text, line);)
        if (!text.eof()) out.push_back(line);
      if (out.size() == count) break;
      std::this_thread::sleep_for(10ms);
    }
    return out;
  }

  // The exit code, or -1 when it did not exit normally in time.
  int wait(std::chrono::milliseconds timeout = 3000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }

  int stop(int signal) {
    ::kill(pid_, signal);
    return wait();
  }

 private:
  static inline int count_ = 0;
  fs::path out_;
  pid_t pid_ = -1;
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
