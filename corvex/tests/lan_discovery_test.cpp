// LAN discovery against a simulated board, in network namespaces.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "corvex.h"
#include "lan_board.h"
#include "lan_discovery.h"
#include "lan_state.h"
#include "support/netns.h"
#include "state.h"

namespace sim = kestrel::sim;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

using netns::kBoardAddress;

// The server, listening on the wildcard address so the broadcast reaches it,
// behind the pair.
std::unique_ptr<sim::LanServer> start_behind_pair(sim::LanBoardConfig c) {
  c.address = "0.0.0.0";
  std::unique_ptr<sim::LanServer> server;
  netns::on_board_side([&] {
    server = std::make_unique<sim::LanServer>(std::vector<sim::LanBoardConfig>{std::move(c)});
    server->start();
  });
  EXPECT_NE(server, nullptr);
  return server;
}

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
    const auto& e = corvex::lan_state().discovery.at(i);
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
    for (auto& e : corvex::lan_state().discovery) e.fill(0xAA);
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

// A host that answers each request many times, from one UDP socket on the
// board side of the pair.
class RepeatingAnswerer {
 public:
  // Made in the board's namespace.
  RepeatingAnswerer(std::uint16_t port, int answers) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) return;
    thread_ = std::thread([this, answers] { serve(answers); });
  }
  bool running() const { return thread_.joinable(); }
  ~RepeatingAnswerer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }

 private:
  void serve(int answers) {
    const auto end = Clock::now() + std::chrono::seconds(30);
    while (!stop_ && Clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      std::uint8_t request[64];
      sockaddr_in from{};
      socklen_t length = sizeof from;
      if (::recvfrom(fd_, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &length) < 8) continue;
      Bytes answer(corvex::kDiscoveryAnswer);
      const std::uint8_t header[] = {'N', 'C', 'V', 'X', 2, 0, 0, 0};
      std::copy(std::begin(header), std::end(header), answer.begin());
      for (int i = 0; i < answers; ++i) {
        answer[8] = static_cast<std::uint8_t>(i);
        ::sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
      }
    }
  }
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// One host answering again and again is one board: listed once, and an open
// without a name asks it once.
TEST_F(Discovery, AHostThatAnswersManyTimesIsListedOnce) {
  IN_NAMESPACE();
  // The board's TCP side refuses every login; its discovery port is elsewhere,
  // so the answers on the network port all come from the repeating host.
  sim::LanBoardConfig c;
  c.address = "0.0.0.0";
  c.faults.refuse_login = true;
  c.udp_port = 0;
  c.discovery = sim::DiscoveryAnswer::none;
  std::unique_ptr<RepeatingAnswerer> repeater;
  netns::on_board_side([&] {
    server_ = std::make_unique<sim::LanServer>(std::vector<sim::LanBoardConfig>{c});
    server_->start();
    repeater = std::make_unique<RepeatingAnswerer>(server_->tcp_port(0), 300);
  });
  ASSERT_TRUE(server_ && repeater && repeater->running());
  CVX_SetNetworkPort(server_->tcp_port(0));

  std::int32_t count = -1, size = 64;
  char text[64] = {};
  ASSERT_EQ(CVX_ListDevicesA(&count, text, &size, CVX_IF_LAN | CVX_OPEN_DISCOVER), CVX_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(std::string(text), kBoardAddress);
  EXPECT_EQ(entry(1)[0], 0);

  CVX_HANDLE h = 7;
  EXPECT_EQ(CVX_OpenA(&h, nullptr, CVX_IF_LAN | CVX_OPEN_DISCOVER), CVX_DEVICE_NOT_FOUND);
  EXPECT_EQ(server_->stats(0).refusals, 1u);
}

// An address added without a broadcast address: the system reports the
// address itself as its broadcast. The request still reaches the boards on
// that link.
TEST_F(Discovery, InterfaceWithoutABroadcastAddressStillReachesItsBoards) {
  IN_NAMESPACE();
  ASSERT_EQ(std::system("ip addr del 10.77.0.1/24 dev cvx0 && ip addr add 10.77.0.1/24 dev cvx0"), 0);
  serve({});
  std::int32_t count = -1, size = 64;
  char text[64] = {};
  ASSERT_EQ(CVX_ListDevicesA(&count, text, &size, CVX_IF_LAN | CVX_OPEN_DISCOVER), CVX_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(std::string(text), kBoardAddress);
  EXPECT_EQ(server_->stats(0).discovery_requests, 1u);
}

}  // namespace

namespace {

// The LAN product search walks the list the last discovery left: filled here
// by hand with boards on three loopback addresses sharing one port, so that
// nothing is broadcast.
TEST(LanProductSearch, TakesTheFirstListedBoardOfTheProductAndUnit) {
  const std::array<std::uint8_t, 16> x = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const std::array<std::uint8_t, 16> y = {0x67, 0x45, 0x23, 0x01, 0xAB, 0x89, 0xEF, 0xCD,
                                          0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  struct Listed {
    const char* address;
    const std::array<std::uint8_t, 16>& product;
    std::uint32_t unit;
    bool refuses;
  };
  const Listed listed[] = {{"127.0.0.1", x, 1, false}, {"127.0.0.2", x, 2, false}, {"127.0.0.3", y, 2, true}};
  std::vector<std::unique_ptr<sim::LanServer>> servers;
  std::uint16_t port = 0;
  for (const Listed& l : listed) {
    sim::LanBoardConfig c;
    c.address = l.address;
    c.tcp_port = port;
    c.udp_port = 0;
    c.faults.refuse_login = l.refuses;
    servers.push_back(std::make_unique<sim::LanServer>(std::vector<sim::LanBoardConfig>{c}));
    servers.back()->start();
    port = servers.front()->tcp_port(0);
  }
  CVX_SetNetworkPort(port);
  {
    std::lock_guard lock(corvex::state().table.lock());
    auto& list = corvex::lan_state().discovery;
    for (std::size_t i = 0; i < std::size(listed); ++i) {
      auto& e = list[i];
      e.fill(0);
      const std::uint8_t header[] = {'N', 'C', 'V', 'X', 2, 0, 0, 0};
      std::memcpy(e.data(), header, 8);
      std::memcpy(e.data() + 8 + 4, listed[i].product.data(), 16);
      for (int b = 0; b < 4; ++b) e[8 + 20 + b] = static_cast<std::uint8_t>(listed[i].unit >> (8 * b));
      std::memcpy(e.data() + corvex::kDiscoveryAnswer, listed[i].address, std::strlen(listed[i].address));
    }
    list[std::size(listed)].fill(0);
  }
  const auto logins = [&] {
    std::vector<unsigned> n;
    for (auto& s : servers) n.push_back(s->stats(0).connections);
    return n;
  };

  CVX_HANDLE h = 0;
  ASSERT_EQ(CVX_OpenByPI(&h, "04030201-0605-0807-090a-0b0c0d0e0f10", 2, CVX_IF_LAN), CVX_OK);
  EXPECT_EQ(CVX_GetIFType(h), CVX_IF_LAN);
  EXPECT_EQ(servers[1]->stats(0).logins, 1u);
  EXPECT_EQ(logins(), (std::vector<unsigned>{0, 1, 0}));
  CVX_Close(h);
  ASSERT_EQ(CVX_OpenByPI(&h, nullptr, 0, CVX_IF_LAN), CVX_OK);
  EXPECT_EQ(logins(), (std::vector<unsigned>{1, 1, 0}));
  CVX_Close(h);
  // The match that refuses ends the search with its own status.
  EXPECT_EQ(CVX_OpenByPI(&h, "01234567-89ab-cdef-0123-456789abcdef", 0, CVX_IF_LAN), CVX_PASSWORD_REFUSED);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(CVX_OpenByPI(&h, nullptr, 3, CVX_IF_LAN), CVX_DEVICE_NOT_FOUND);
  EXPECT_EQ(logins(), (std::vector<unsigned>{1, 1, 1}));
  CVX_SetNetworkPort(0);
}

}  // namespace
