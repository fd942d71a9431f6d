// The LAN socket transfers against a plain peer: a packet socket keeps each
// send call as its own record, so the pieces can be seen exactly.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "io.h"
#include "lan_state.h"
#include "lan_transport.h"
#include "settings.h"

using namespace corvex;
using Clock = std::chrono::steady_clock;

namespace {

struct Pair {
  explicit Pair(int type = SOCK_SEQPACKET) {
    int fds[2];
    if (::socketpair(AF_UNIX, type, 0, fds) != 0) throw std::runtime_error("socketpair");
    ours = adopt_socket(fds[0]);
    peer = fds[1];
  }
  ~Pair() { ::close(peer); }
  std::vector<std::size_t> records() {
    std::vector<std::size_t> sizes;
    std::uint8_t buffer[65536];
    for (ssize_t n; (n = ::recv(peer, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
      sizes.push_back(static_cast<std::size_t>(n));
    return sizes;
  }
  std::shared_ptr<LanSocket> ours;
  int peer = -1;
};

long long ms_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(LanSocket, SendsInPiecesOfAtMostTheLimit) {
  Pair p;
  std::vector<std::uint8_t> data(2500, 0x3C);
  std::uint32_t sent = 0;
  ASSERT_EQ(p.ours->send(data.data(), 2500, &sent, 1000, 1024), CVX_OK);
  EXPECT_EQ(sent, 2500u);
  EXPECT_EQ(p.records(), (std::vector<std::size_t>{1024, 1024, 452}));
  EXPECT_EQ(p.ours->send(data.data(), 0, &sent, 1000, 1024), CVX_OK);
  EXPECT_EQ(sent, 0u);
  EXPECT_TRUE(p.records().empty());
}

TEST(LanSocket, WritePathUsesTheMaximumSendSizeSetting) {
  State& s = state();
  const std::int32_t before = s.settings.max_data_size;
  s.settings.max_data_size = 100;
  Pair p;
  const CVX_HANDLE h = take_lan_row(p.ours, CVX_IF_LAN);
  ASSERT_NE(h, 0u);
  std::vector<std::uint8_t> data(250, 0x11);
  std::uint32_t written = 0;
  EXPECT_EQ(CVX_Write(h, data.data(), 250, &written), CVX_OK);
  EXPECT_EQ(written, 250u);
  EXPECT_EQ(p.records(), (std::vector<std::size_t>{100, 100, 50}));
  EXPECT_EQ(CVX_Close(h), CVX_OK);
  s.settings.max_data_size = before;
}

TEST(LanSocket, SendToAPeerThatNeverReadsTimesOutWithTheCount) {
  Pair p(SOCK_STREAM);
  std::vector<std::uint8_t> data(16 << 20);
  std::uint32_t sent = 0;
  const auto start = Clock::now();
  EXPECT_EQ(p.ours->send(data.data(), static_cast<std::uint32_t>(data.size()), &sent, 300, 1 << 20), CVX_TIMEOUT);
  const auto took = ms_since(start);
  EXPECT_GT(sent, 0u);
  EXPECT_LT(sent, data.size());
  EXPECT_GE(took, 300);
  EXPECT_LT(took, 800);
}

TEST(LanSocket, ReceiveTakesWhatArrivesAndStopsAtAClose) {
  Pair p(SOCK_STREAM);
  const std::uint8_t part[3] = {1, 2, 3};
  ASSERT_EQ(::send(p.peer, part, 3, 0), 3);
  std::uint32_t waiting = 0;
  EXPECT_EQ(p.ours->waiting(&waiting), CVX_OK);
  EXPECT_EQ(waiting, 3u);
  std::uint8_t buffer[8] = {};
  std::uint32_t got = 0;
  auto start = Clock::now();
  EXPECT_EQ(p.ours->receive(buffer, 8, &got, 250), CVX_TIMEOUT);
  EXPECT_GE(ms_since(start), 250);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(buffer[2], 3);
  ASSERT_EQ(::send(p.peer, part, 2, 0), 2);
  ::shutdown(p.peer, SHUT_WR);
  start = Clock::now();
  EXPECT_EQ(p.ours->receive(buffer, 8, &got, 5000), CVX_SOCKET_ERROR);
  EXPECT_LT(ms_since(start), 500);
  EXPECT_EQ(got, 2u);
}

TEST(LanSocket, PurgeDropsWhatIsWaiting) {
  Pair p(SOCK_STREAM);
  std::vector<std::uint8_t> data(3000, 9);
  ASSERT_EQ(::send(p.peer, data.data(), data.size(), 0), 3000);
  EXPECT_EQ(p.ours->purge(CVX_PURGE_TX), CVX_OK);
  std::uint32_t waiting = 0;
  EXPECT_EQ(p.ours->waiting(&waiting), CVX_OK);
  EXPECT_EQ(waiting, 3000u);
  EXPECT_EQ(p.ours->purge(CVX_PURGE_RX), CVX_OK);
  EXPECT_EQ(p.ours->waiting(&waiting), CVX_OK);
  EXPECT_EQ(waiting, 0u);
}

TEST(LanSocket, TimeoutsAreClampedAndKeptInTheRow) {
  State& s = state();
  Pair p;
  const CVX_HANDLE h = take_lan_row(p.ours, CVX_IF_LAN);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(CVX_SetTimeouts(h, 0xFFFFFFFF, 1234), CVX_OK);
  EXPECT_EQ(s.table.row(h)->read_timeout.load(), 0xF0000000u);
  EXPECT_EQ(s.table.row(h)->write_timeout.load(), 1234u);
  EXPECT_EQ(CVX_Close(h), CVX_OK);
}

TEST(LanSettings, DefaultDigestKeyNeedsSixtyFourHexDigits) {
  const std::string hex = "00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF";
  const Settings s = apply_settings("[NetCorvex]\nDefaultPasswordDigest = " + hex + "\n", Settings{});
  ASSERT_TRUE(s.default_digest.has_value());
  EXPECT_EQ((*s.default_digest)[0], 0x00);
  EXPECT_EQ((*s.default_digest)[15], 0xFF);
  EXPECT_EQ((*s.default_digest)[31], 0xFF);
  EXPECT_FALSE(apply_settings("[NetCorvex]\nDefaultPasswordDigest = " + hex.substr(1) + "\n", Settings{})
                   .default_digest.has_value());
  EXPECT_FALSE(apply_settings("[NetCorvex]\nDefaultPasswordDigest = " + hex.substr(2) + "zz\n", Settings{})
                   .default_digest.has_value());
  EXPECT_FALSE(apply_settings("[COMMON]\nDefaultPasswordDigest = " + hex + "\n", Settings{}).default_digest);
}

TEST(LanSettings, BuiltInDefaultIsTheDigestOfKestrel) {
  // SHA-256("kestrel"), computed independently.
  const auto expected = parse_digest("07f15cde5b181425db8524becd96263d600c9652c7de5b89fe1a644f8fd0724b");
  ASSERT_TRUE(expected);
  EXPECT_EQ(builtin_default_digest(), *expected);
  EXPECT_EQ(lan_state().default_digest, builtin_default_digest()) << "no Corvex.ini replaces it here";
}

}  // namespace
