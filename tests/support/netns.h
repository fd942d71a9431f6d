// Tests that broadcast keep to network namespaces of their own: each test
// re-runs itself under unshare, with a veth pair from the library's side
// (10.77.0.1/24) to the boards in a namespace of their own (10.77.0.2/24), as
// boards on the wire would be.
#pragma once

#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace netns {

inline constexpr const char* kInside = "CORVEX_NETNS_INSIDE";
inline constexpr const char* kHostAddress = "10.77.0.1";
inline constexpr const char* kBoardAddress = "10.77.0.2";

// The unshare command line that gives a namespace in which a veth pair can
// be made; empty when this machine allows neither.
inline const std::string& namespace_command() {
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
inline bool run_in_namespace() {
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
inline void make_pair() {
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

// Runs start on a thread in a network namespace of its own that holds the
// pair's far end (10.77.0.2/24, then `more` as shell commands). A namespace
// belongs to a thread; the sockets and threads start makes keep it.
inline void on_board_side(const std::function<void()>& start, const std::string& more = "") {
  std::promise<pid_t> own;
  std::promise<bool> moved;
  std::string failure;
  std::thread board([&] {
    if (::unshare(CLONE_NEWNET) != 0) {
      failure = "unshare";
      own.set_value(0);
      return;
    }
    own.set_value(static_cast<pid_t>(::syscall(SYS_gettid)));
    if (!moved.get_future().get()) return;
    std::string setup = "ip link set lo up && ip addr add 10.77.0.2/24 brd + dev cvx1 && ip link set cvx1 up";
    if (!more.empty()) setup += " && " + more;
    if (std::system(setup.c_str()) != 0) {
      failure = "board side of the pair";
      return;
    }
    start();
  });
  const pid_t tid = own.get_future().get();
  moved.set_value(tid != 0 && std::system(("ip link set cvx1 netns " + std::to_string(tid)).c_str()) == 0);
  board.join();
  EXPECT_EQ(failure, "");
  // A veth end has its carrier only once both ends are up: a broadcast sent
  // before that is lost, and discovery sends its request once.
  bool up = false;
  for (int i = 0; i < 300 && !(up = std::system("ip -o link show cvx0 | grep -q 'state UP'") == 0); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(up) << "the pair never came up";
}

}  // namespace netns

#define IN_NAMESPACE()                                                   \
  if (!std::getenv(netns::kInside)) {                                    \
    if (!netns::run_in_namespace())                                      \
      GTEST_SKIP() << "no network namespace with a veth pair available " \
                      "(unshare --net or --user --net): not run";        \
    return;                                                              \
  }                                                                      \
  ASSERT_NO_FATAL_FAILURE(netns::make_pair())
