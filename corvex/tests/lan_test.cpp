// LAN boards through the shared library, against simulated boards and plain
// socket peers on 127.0.0.1.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "corvex.h"
#include "lan_board.h"

namespace sim = kestrel::sim;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

namespace {

long long ms_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class Lan : public ::testing::Test {
 protected:
  void TearDown() override {
    for (CVX_HANDLE h : opened_) CVX_Close(h);
    CVX_SetPassword(nullptr);
    CVX_SetNetworkPort(0);
    server_.reset();
  }

  void serve(std::vector<sim::LanBoardConfig> boards) {
    server_ = std::make_unique<sim::LanServer>(std::move(boards));
    server_->start();
  }

  CVX_STATUS open_board(std::size_t index, CVX_HANDLE* h) {
    CVX_SetNetworkPort(server_->tcp_port(index));
    *h = 0;
    const CVX_STATUS s = CVX_OpenA(h, "127.0.0.1", CVX_IF_LAN);
    if (*h) opened_.push_back(*h);
    return s;
  }

  CVX_HANDLE open_board(std::size_t index) {
    CVX_HANDLE h = 0;
    EXPECT_EQ(open_board(index, &h), CVX_OK);
    return h;
  }

  std::unique_ptr<sim::LanServer> server_;
  std::vector<CVX_HANDLE> opened_;
};

sim::LanBoardConfig with_faults(sim::LanFaults faults) {
  sim::LanBoardConfig c;
  c.faults = faults;
  return c;
}

TEST_F(Lan, OpensByAddressAndRunsCommands) {
  serve({sim::LanBoardConfig{}});
  const CVX_HANDLE h = open_board(0);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(CVX_GetIFType(h), CVX_IF_LAN);
  EXPECT_EQ(CVX_GetFTHandle(h), nullptr);
  EXPECT_EQ(server_->stats(0).logins, 1u);
  EXPECT_EQ(CVX_PortWrite8(h, 0x200010, 0x5A), CVX_OK);
  uint8_t back = 0;
  EXPECT_EQ(CVX_PortRead8(h, 0x200010, &back), CVX_OK);
  EXPECT_EQ(back, 0x5A);
  uint32_t version = 0;
  EXPECT_EQ(CVX_ReadVersion(h, &version), CVX_OK);
  EXPECT_EQ(version, 31u);
  uint32_t waiting = 99;
  EXPECT_EQ(CVX_GetQueueStatus(h, &waiting), CVX_OK);
  EXPECT_EQ(waiting, 0u);
  EXPECT_EQ(CVX_Close(h), CVX_OK);
  opened_.clear();
  EXPECT_EQ(CVX_PortRead8(h, 0x200010, &back), CVX_INVALID_HANDLE);
  EXPECT_EQ(CVX_Close(h), CVX_INVALID_HANDLE);
}

TEST_F(Lan, OpenThroughTheNameRuleOfOpen) {
  serve({sim::LanBoardConfig{}});
  CVX_SetNetworkPort(server_->tcp_port(0));
  const CVX_HANDLE h = CVX_Open("127.0.0.1");
  ASSERT_NE(h, 0u);
  opened_.push_back(h);
  EXPECT_EQ(CVX_GetIFType(h), CVX_IF_LAN);
}

TEST_F(Lan, WrongPasswordIsRefusedAndTheRightOneAccepted) {
  sim::LanBoardConfig other;
  other.digest = sim::password_digest("other");
  serve({other});
  CVX_HANDLE h = 0;
  EXPECT_EQ(open_board(0, &h), CVX_PASSWORD_REFUSED) << "the default digest is not this board's";
  EXPECT_EQ(h, 0u);
  ASSERT_EQ(CVX_SetPassword("othe"), CVX_OK);
  EXPECT_EQ(open_board(0, &h), CVX_PASSWORD_REFUSED);
  ASSERT_EQ(CVX_SetPassword("other"), CVX_OK);
  EXPECT_EQ(open_board(0, &h), CVX_OK);
  EXPECT_NE(h, 0u);
  EXPECT_EQ(server_->stats(0).refusals, 2u);
  EXPECT_EQ(server_->stats(0).logins, 1u);
  const std::string longest(255, 'p'), too_long(256, 'p');
  EXPECT_EQ(CVX_SetPassword(too_long.c_str()), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_SetPassword(longest.c_str()), CVX_OK);
  EXPECT_EQ(CVX_SetPassword(""), CVX_OK);
}

TEST_F(Lan, EmptyNameFlashWriterAndLongNamesOpenNothing) {
  CVX_HANDLE h = 7;
  EXPECT_EQ(CVX_OpenA(&h, nullptr, CVX_IF_LAN), CVX_DEVICE_NOT_FOUND);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(CVX_OpenA(&h, "127.000.000.0001", CVX_IF_LAN), CVX_DEVICE_NOT_FOUND);  // 16 characters
  // A flash-writer board on loopback: no network of ours to give it an address on.
  EXPECT_EQ(CVX_OpenA(&h, "127.0.0.1", CVX_IF_LAN | CVX_IF_FLASH_WRITER), CVX_FAILED);
  EXPECT_EQ(h, 0u);
}

// These tests run where a Corvex.ini switches the search flag off: a discovery
// would wait its whole 1500 ms window, so a quick answer means none was sent.
TEST_F(Lan, NoSearchOfTheLanOnTheHostNetwork) {
  const auto start = Clock::now();
  EXPECT_EQ(CVX_Open(nullptr), 0u);
  EXPECT_EQ(CVX_Open(""), 0u);
  CVX_HANDLE h = 7;
  EXPECT_EQ(CVX_OpenA(&h, nullptr, CVX_IF_LAN), CVX_DEVICE_NOT_FOUND);
  std::int32_t count = -1, size = -1;
  EXPECT_EQ(CVX_ListDevicesA(&count, nullptr, &size, CVX_IF_LAN), CVX_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(size, 0);
  EXPECT_LT(ms_since(start), 1000);
}

// A peer that plays the board's side of the login by hand and checks each byte.
class LoginPeer {
 public:
  explicit LoginPeer(std::uint8_t verdict) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &length) != 0)
      throw std::runtime_error("peer socket");
    port = ntohs(at.sin_port);
    thread_ = std::thread([this, verdict] { serve(verdict); });
  }
  ~LoginPeer() {
    thread_.join();
    ::close(listener_);
  }

  std::uint16_t port = 0;
  Bytes request, response;

 private:
  static Bytes take(int fd, std::size_t n) {
    Bytes b(n);
    std::size_t got = 0;
    while (got < n) {
      const ssize_t r = ::recv(fd, b.data() + got, n - got, 0);
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    b.resize(got);
    return b;
  }
  void serve(std::uint8_t verdict) {
    const int conn = ::accept(listener_, nullptr, nullptr);
    if (conn < 0) return;
    request = take(conn, 8);
    Bytes challenge = {'N', 'C', 'V', 'X', 9, 0xA1, 0xB2, 0xC3};
    for (std::uint8_t i = 0; i < 20; ++i) challenge.push_back(static_cast<std::uint8_t>(0x40 + i));
    ::send(conn, challenge.data(), challenge.size(), MSG_NOSIGNAL);
    response = take(conn, 28);
    const std::uint8_t answer[8] = {'N', 'C', 'V', 'X', verdict, 0, 0, 0};
    ::send(conn, answer, sizeof answer, MSG_NOSIGNAL);
    take(conn, 1);  // until the library closes
    ::close(conn);
  }
  int listener_ = -1;
  std::thread thread_;
};

Bytes expected_response() {
  std::uint8_t digest[32], challenge_and_digest[52];
  sha256_ctx s;
  sha256_init(&s);
  sha256_update(&s, 7, reinterpret_cast<const std::uint8_t*>("kestrel"));
  sha256_digest(&s, 32, digest);
  for (std::uint8_t i = 0; i < 20; ++i) challenge_and_digest[i] = static_cast<std::uint8_t>(0x40 + i);
  std::memcpy(challenge_and_digest + 20, digest, 32);
  Bytes out = {'N', 'C', 'V', 'X', 5, 0xA1, 0xB2, 0xC3};
  std::uint8_t sha[20];
  sha1_ctx c;
  sha1_init(&c);
  sha1_update(&c, 52, challenge_and_digest);
  sha1_digest(&c, 20, sha);
  out.insert(out.end(), sha, sha + 20);
  return out;
}

TEST(LanLogin, ExactBytesWithTheDefaultDigest) {
  CVX_HANDLE h = 0;
  {
    LoginPeer peer(6);
    CVX_SetNetworkPort(peer.port);
    EXPECT_EQ(CVX_OpenA(&h, "127.0.0.1", CVX_IF_LAN), CVX_OK);
    EXPECT_EQ(CVX_Close(h), CVX_OK);
    CVX_SetNetworkPort(0);
    const Bytes request = {'N', 'C', 'V', 'X', 3, 0, 0, 0};
    EXPECT_EQ(peer.request, request);
    EXPECT_EQ(peer.response, expected_response());
  }
  for (std::uint8_t verdict : {0, 4, 7}) {
    LoginPeer peer(verdict);
    CVX_SetNetworkPort(peer.port);
    EXPECT_EQ(CVX_OpenA(&h, "127.0.0.1", CVX_IF_LAN), CVX_PASSWORD_REFUSED) << int(verdict);
    EXPECT_EQ(h, 0u);
    CVX_SetNetworkPort(0);
  }
}

TEST_F(Lan, LargeWritesGoThroughWhole) {
  serve({sim::LanBoardConfig{}});
  const CVX_HANDLE h = open_board(0);
  ASSERT_NE(h, 0u);
  Bytes data(5000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
  ASSERT_EQ(CVX_PortBWrite(h, 0x200000, data.data(), 5000, 0, 0), CVX_OK);
  Bytes back(5000);
  ASSERT_EQ(CVX_PortBRead(h, 0x200000, back.data(), 5000, 0, 0), CVX_OK);
  EXPECT_EQ(back, data);
}

TEST_F(Lan, SilentBoardTimesOutAfterTheReadTimeout) {
  serve({with_faults({.mute_replies = true})});
  const CVX_HANDLE h = open_board(0);
  ASSERT_NE(h, 0u);
  ASSERT_EQ(CVX_SetTimeouts(h, 400, 400), CVX_OK);
  uint8_t value = 0;
  const auto start = Clock::now();
  EXPECT_EQ(CVX_PortRead8(h, 0x200000, &value), CVX_TIMEOUT);
  const auto took = ms_since(start);
  EXPECT_GE(took, 400);
  EXPECT_LT(took, 900);
  uint32_t got = 77;
  uint8_t buffer[4];
  EXPECT_EQ(CVX_Read(h, buffer, 4, &got), CVX_TIMEOUT);
  EXPECT_EQ(got, 0u);
}

TEST_F(Lan, BoardClosingMidReplyEndsTheCallAtOnce) {
  serve({with_faults({.close_mid_reply = 1})});
  const CVX_HANDLE h = open_board(0);
  ASSERT_NE(h, 0u);
  ASSERT_EQ(CVX_SetTimeouts(h, 3000, 3000), CVX_OK);
  Bytes buffer(64);
  const auto start = Clock::now();
  EXPECT_EQ(CVX_PortBRead(h, 0x200000, buffer.data(), 64, 0, 0), CVX_SOCKET_ERROR);
  EXPECT_LT(ms_since(start), 1000) << "a closed connection must not wait out the time-out";
  uint8_t value = 0;
  EXPECT_NE(CVX_PortRead8(h, 0x200000, &value), CVX_OK);
}

TEST_F(Lan, CloseWakesATransferWaitingOnTheSameHandle) {
  serve({with_faults({.mute_replies = true})});
  const CVX_HANDLE h = open_board(0);
  ASSERT_NE(h, 0u);
  std::atomic<CVX_STATUS> status{CVX_OK};
  std::atomic<long long> took{0};
  std::thread reader([&] {
    const auto start = Clock::now();
    uint8_t value = 0;
    status = CVX_PortRead8(h, 0x200000, &value);
    took = ms_since(start);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(CVX_Close(h), CVX_OK);
  opened_.clear();
  reader.join();
  EXPECT_EQ(status.load(), CVX_SOCKET_ERROR);
  EXPECT_LT(took.load(), 1500);
}

// A reply that comes after its read's time-out, whole or in part, belongs to
// that command: the next command must not take it for its own.
TEST_F(Lan, LateReplyIsNotTakenByTheNextCommand) {
  using namespace std::chrono_literals;
  struct Case {
    const char* name;
    sim::LanFaults faults;
    bool word;           // the failed read asks for two bytes
    bool arrived_first;  // the late reply is there before the next command
  };
  const Case cases[] = {
      {"late, still on its way", {.delay = 300ms}, false, false},
      {"late, arrived meanwhile", {.delay = 300ms}, false, true},
      {"short, the rest on its way", {.split = 1, .split_gap = 300ms}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    serve({with_faults(c.faults)});
    server_->with_board(0, [](sim::Board& b) {
      b.poke(0x200010, 0x11);
      b.poke(0x200011, 0x12);
      b.poke(0x200020, 0x22);
    });
    const CVX_HANDLE h = open_board(0);
    ASSERT_NE(h, 0u);
    ASSERT_EQ(CVX_SetTimeouts(h, 150, 150), CVX_OK);
    uint8_t value = 0;
    uint16_t word = 0;
    ASSERT_EQ(c.word ? CVX_PortRead16(h, 0x200010, &word) : CVX_PortRead8(h, 0x200010, &value), CVX_TIMEOUT);
    uint32_t waiting = 0;
    for (int i = 0; c.arrived_first && waiting == 0 && i < 200; ++i) {
      std::this_thread::sleep_for(10ms);
      ASSERT_EQ(CVX_GetQueueStatus(h, &waiting), CVX_OK);
    }
    ASSERT_EQ(waiting, c.arrived_first ? 1u : 0u);
    ASSERT_EQ(CVX_SetTimeouts(h, 2000, 2000), CVX_OK);
    EXPECT_EQ(CVX_PortRead8(h, 0x200020, &value), CVX_OK);
    EXPECT_EQ(value, 0x22);
    EXPECT_EQ(CVX_GetQueueStatus(h, &waiting), CVX_OK);
    EXPECT_EQ(waiting, 0u);
    EXPECT_EQ(CVX_Close(h), CVX_OK);
    opened_.clear();
    server_.reset();
  }
}

// Replies come in small pieces with gaps, so two exchanges that overlapped on
// the wire would take each other's bytes.
TEST_F(Lan, OneExchangeAtATimePerHandle) {
  serve({with_faults({.split = 5, .split_gap = std::chrono::milliseconds(1)})});
  const CVX_HANDLE h = open_board(0);
  ASSERT_NE(h, 0u);
  const Bytes first(32, 0x11), second(32, 0x22);
  ASSERT_EQ(CVX_PortBWrite(h, 0x200000, first.data(), 32, 0, 0), CVX_OK);
  ASSERT_EQ(CVX_PortBWrite(h, 0x200100, second.data(), 32, 0, 0), CVX_OK);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (const auto& [address, wanted] : {std::pair{0x200000u, &first}, std::pair{0x200100u, &second}}) {
    threads.emplace_back([&, address, wanted] {
      for (int i = 0; i < 25; ++i) {
        Bytes got(32);
        if (CVX_PortBRead(h, address, got.data(), 32, 0, 0) != CVX_OK || got != *wanted) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

// A peer whose accept queue is full drops the connection's SYNs: left to the
// system, the connect would wait minutes. The open's time-out bounds it.
TEST(LanConnect, PeerThatNeverTakesTheConnectionFailsWithinTheOpenTimeout) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &length), 0);
  // Connections that are never accepted, until one is left hanging.
  std::vector<int> held;
  bool full = false;
  for (int i = 0; i < 16 && !full; ++i) {
    const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(c, 0);
    held.push_back(c);
    ::connect(c, reinterpret_cast<sockaddr*>(&at), sizeof at);
    pollfd p{c, POLLOUT, 0};
    full = ::poll(&p, 1, 300) == 0;
  }
  ASSERT_TRUE(full) << "the accept queue never filled";

  CVX_SetNetworkPort(ntohs(at.sin_port));
  CVX_HANDLE h = 7;
  const auto start = Clock::now();
  EXPECT_EQ(CVX_OpenA(&h, "127.0.0.1", CVX_IF_LAN), CVX_SOCKET_ERROR);
  const auto took = ms_since(start);
  EXPECT_EQ(h, 0u);
  EXPECT_GE(took, 4900);
  EXPECT_LT(took, 6500);
  CVX_SetNetworkPort(0);
  for (int c : held) ::close(c);
  ::close(listener);
}

// Board 0 never answers commands, board 1 never answers the login; meanwhile
// board 2 opens, answers and closes, and listing goes on.
TEST_F(Lan, SilentBoardsHoldUpNoOtherCaller) {
  serve({with_faults({.mute_replies = true}), with_faults({.mute_login = true}), sim::LanBoardConfig{}});
  const CVX_HANDLE silent = open_board(0);
  ASSERT_NE(silent, 0u);
  ASSERT_EQ(CVX_SetTimeouts(silent, 3000, 3000), CVX_OK);
  std::atomic<CVX_STATUS> read_status{CVX_OK}, open_status{CVX_OK};
  std::thread reader([&] {
    uint8_t value = 0;
    read_status = CVX_PortRead8(silent, 0x200000, &value);
  });
  CVX_SetNetworkPort(server_->tcp_port(1));
  std::thread opener([&] {
    CVX_HANDLE h = 0;
    open_status = CVX_OpenA(&h, "127.0.0.1", CVX_IF_LAN);
    if (h) CVX_Close(h);
  });
  // Both wait on their boards before the others start.
  const auto wait_start = Clock::now();
  while (server_->stats(1).connections == 0 && ms_since(wait_start) < 2000)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));

  const auto start = Clock::now();
  int32_t count = -1, size = 0;
  EXPECT_EQ(CVX_ListDevicesA(&count, nullptr, &size, CVX_IF_USB), CVX_OK);
  CVX_HANDLE h = 0;
  EXPECT_EQ(open_board(2, &h), CVX_OK);
  uint8_t value = 1;
  EXPECT_EQ(CVX_PortRead8(h, 0x200000, &value), CVX_OK);
  EXPECT_EQ(CVX_Close(h), CVX_OK);
  opened_.pop_back();
  EXPECT_LT(ms_since(start), 500) << "listing, opening and a command waited for a silent board";

  reader.join();
  opener.join();
  EXPECT_EQ(read_status.load(), CVX_TIMEOUT);
  EXPECT_EQ(open_status.load(), CVX_TIMEOUT) << "the login's own 5000 ms";
}

}  // namespace
