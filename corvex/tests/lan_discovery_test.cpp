// LAN discovery against a simulated board. Broadcasts never leave this test's
// own network namespace: each test re-runs itself under unshare, with a veth
// pair from the library's side (10.77.0.1/24) to a board in a namespace of
// its own (10.77.0.2/24), as a board on the wire would be.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "corvex.h"
#include "lan_board.h"
#include "lan_discovery.h"
#include "state.h"

namespace sim = kestrel::sim;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kInside = "CORVEX_NETNS_INSIDE";
constexpr const char* kBoardAddress = "10.77.0.2";

// The unshare command line that gives a namespace in which a veth pair can
// be made; empty when this machine allows neither.
const std::string& namespace_command() {
  static const std::string command = [] {
    for (const char* c : {"unshare --net", "unshare --user --net --map-root-user"}) {
      const std::string probe = std::string(c) + " sh -c 'ip link add cvx0 type veth peer name cvx1' >/dev/null 2>&1";
      if (std::system(probe.c_str()) == 0) return std::string(c);
    }
    return std::string();
  }();
  return command;
}

// Outside: runs this test again in a fresh namespace; false when none can
// be made. Its result is the child's.
bool run_in_namespace() {
  if (namespace_command().empty()) return false;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string run = std::string(kInside) + "=1 XDG_CONFIG_HOME=/nonexistent " + namespace_command() + " '" +
                          self + "' --gtest_filter=" + info->test_suite_name() + "." + info->name();
  EXPECT_EQ(std::system(run.c_str()), 0) << run;
  return true;
}

// Inside: refuses to go on unless loopback is the only interface, so that a
// namespace that did not take never lets a broadcast out.
void make_pair() {
  struct if_nameindex* names = ::if_nameindex();
  ASSERT_NE(names, nullptr);
  std::vector<std::string> found;
  for (struct if_nameindex* n = names; n->if_index != 0; ++n) found.emplace_back(n->if_name);
  ::if_freenameindex(names);
  ASSERT_EQ(found, std::vector<std::string>{"lo"}) << "not in a fresh network namespace";
  ASSERT_EQ(std::system("ip link set lo up && ip link add cvx0 type veth peer name cvx1 && "
                        "ip addr add 10.77.0.1/24 brd + dev cvx0 && ip link set cvx0 up"),
            0);
}

// Starts the server in a network namespace of its own holding the pair's far
// end. A namespace belongs to a thread, and the server's sockets and threads
// keep the one they were made in.
std::unique_ptr<sim::LanServer> start_behind_pair(sim::LanBoardConfig c) {
  // Wildcard, so the broadcast reaches the board's socket.
  c.address = "0.0.0.0";
  std::promise<pid_t> own;
  std::promise<bool> moved;
  std::unique_ptr<sim::LanServer> server;
  std::string failure;
  std::thread board([&] {
    if (::unshare(CLONE_NEWNET) != 0) {
      failure = "unshare";
      own.set_value(0);
      return;
    }
    own.set_value(static_cast<pid_t>(::syscall(SYS_gettid)));
    if (!moved.get_future().get()) return;
    if (std::system("ip link set lo up && ip addr add 10.77.0.2/24 brd + dev cvx1 && ip link set cvx1 up") != 0) {
      failure = "board side of the pair";
      return;
    }
    server = std::make_unique<sim::LanServer>(std::vector<sim::LanBoardConfig>{std::move(c)});
    server->start();
  });
  const pid_t tid = own.get_future().get();
  moved.set_value(tid != 0 && std::system(("ip link set cvx1 netns " + std::to_string(tid)).c_str()) == 0);
  board.join();
  EXPECT_EQ(failure, "");
  EXPECT_NE(server, nullptr);
  return server;
}

#define IN_NAMESPACE()                                                      \
  if (!std::getenv(kInside)) {                                              \
    if (!run_in_namespace())                                                \
      GTEST_SKIP() << "no network namespace with a veth pair available "    \
                      "(unshare --net or --user --net): discovery not run"; \
    return;                                                                 \
  }                                                                         \
  ASSERT_NO_FATAL_FAILURE(make_pair())

class Discovery : public ::testing::Test {
 protected:
  void TearDown() override {
    for (CVX_HANDLE h : opened_) CVX_Close(h);
    CVX_SetNetworkPort(0);
    server_.reset();
  }

  void serve(sim::LanBoardConfig c) {
    server_ = start_behind_pair(std::move(c));
    ASSERT_NE(server_, nullptr);
    ASSERT_EQ(server_->udp_port(0), server_->tcp_port(0));
    CVX_SetNetworkPort(server_->tcp_port(0));
  }

  static Bytes entry(std::size_t i) {
    std::lock_guard lock(corvex::state().table.lock());
    const auto& e = corvex::state().discovery.at(i);
    return Bytes(e.begin(), e.end());
  }

  static Bytes expected_entry(const Bytes& answer) {
    Bytes e = answer;
    e.resize(corvex::kDiscoveryAnswer);
    e.insert(e.end(), kBoardAddress, kBoardAddress + std::strlen(kBoardAddress));
    e.resize(corvex::kDiscoveryEntry);
    return e;
  }

  std::unique_ptr<sim::LanServer> server_;
  std::vector<CVX_HANDLE> opened_;
};

TEST_F(Discovery, ListsTheBoardWithItsWholeAnswer) {
  IN_NAMESPACE();
  // A product record in the board's first slot: two zero bytes mark it current.
  Bytes record(128);
  for (std::size_t i = 2; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(i * 7 + 3);
  sim::LanBoardConfig c;
  serve(c);
  server_->with_board(0, [&](sim::Board& b) { b.load_flash(7 * 4096, record); });

  std::int32_t count = -1, size = 64;
  char text[64];
  std::memset(text, 'x', sizeof text);
  const auto start = Clock::now();
  ASSERT_EQ(CVX_ListDevicesA(&count, text, &size, CVX_IF_LAN | CVX_OPEN_DISCOVER), CVX_OK);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1500)) << "the whole window is waited";
  EXPECT_EQ(count, 1);
  EXPECT_EQ(size, 10);
  EXPECT_EQ(std::string(text, 11), std::string("10.77.0.2\0x", 11));
  EXPECT_EQ(server_->stats(0).discovery_requests, 1u) << "one request per subnet";

  Bytes answer = record;
  const std::uint8_t header[] = {'N', 'C', 'V', 'X', 2, 0, 0, 0};
  answer.insert(answer.begin(), std::begin(header), std::end(header));
  EXPECT_EQ(entry(0), expected_entry(answer));
  EXPECT_EQ(entry(1)[0], 0);

  // Without the discover flag the list is read as it stands.
  size = 4;
  ASSERT_EQ(CVX_ListDevicesA(&count, text, &size, CVX_IF_LAN), CVX_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(size, 16) << "too small: the size needed";
  EXPECT_EQ(std::string(text, 4), "10.7");
  ASSERT_EQ(CVX_ListDevicesA(nullptr, nullptr, &size, CVX_IF_LAN), CVX_OK);
  EXPECT_EQ(size, 16);
  EXPECT_EQ(server_->stats(0).discovery_requests, 1u);
}

TEST_F(Discovery, ShortAnswerKeepsOnlyItsHeader) {
  IN_NAMESPACE();
  sim::LanBoardConfig c;
  c.discovery = sim::DiscoveryAnswer::header_only;
  serve(c);
  {
    // What an earlier discovery left must not show through.
    std::lock_guard lock(corvex::state().table.lock());
    for (auto& e : corvex::state().discovery) e.fill(0xAA);
  }
  std::int32_t count = -1;
  ASSERT_EQ(CVX_ListDevicesA(&count, nullptr, nullptr, CVX_IF_LAN | CVX_OPEN_DISCOVER), CVX_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(entry(0), expected_entry({'N', 'C', 'V', 'X', 2, 0, 0, 0}));
  EXPECT_EQ(entry(1)[0], 0);
}

TEST_F(Discovery, OpenWithoutANameTakesTheBoardFound) {
  IN_NAMESPACE();
  serve({});
  CVX_HANDLE h = 7;
  ASSERT_EQ(CVX_OpenA(&h, nullptr, CVX_IF_LAN | CVX_OPEN_DISCOVER), CVX_OK);
  opened_.push_back(h);
  EXPECT_EQ(CVX_GetIFType(h), CVX_IF_LAN);
  EXPECT_EQ(server_->stats(0).discovery_requests, 1u);
  EXPECT_EQ(server_->stats(0).logins, 1u);
  ASSERT_EQ(CVX_Close(h), CVX_OK);
  opened_.clear();

  // The search flag is on by default: an open with no name looks on the LAN.
  h = CVX_Open(nullptr);
  ASSERT_NE(h, 0u);
  opened_.push_back(h);
  EXPECT_EQ(server_->stats(0).discovery_requests, 2u);
  EXPECT_EQ(server_->stats(0).logins, 2u);
}

TEST_F(Discovery, ListedBoardThatRefusesTheLoginIsNoBoard) {
  IN_NAMESPACE();
  sim::LanBoardConfig c;
  c.faults.refuse_login = true;
  serve(c);
  CVX_HANDLE h = 7;
  EXPECT_EQ(CVX_OpenA(&h, nullptr, CVX_IF_LAN | CVX_OPEN_DISCOVER), CVX_DEVICE_NOT_FOUND);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(server_->stats(0).refusals, 1u);
}

}  // namespace
