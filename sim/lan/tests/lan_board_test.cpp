#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "support/lan_client.h"
#include "lan_board.h"

namespace kestrel::sim::test {
namespace {

const Bytes kRequest{'N', 'C', 'V', 'X', 3, 0, 0, 0};
const Bytes kAccepted{'N', 'C', 'V', 'X', 6, 0, 0, 0};
const Bytes kRefused{'N', 'C', 'V', 'X', 7, 0, 0, 0};

Challenge counting_challenge() {
  Challenge c{};
  for (std::size_t i = 0; i < c.size(); ++i) c[i] = static_cast<std::uint8_t>(0xA0 + i);
  return c;
}

LanBoardConfig config_with(const LanFaults& faults = {}) {
  LanBoardConfig c;
  c.digest = sha256_of("secret");
  c.faults = faults;
  return c;
}

struct Served {
  explicit Served(LanBoardConfig config) : server({std::move(config)}) { server.start(); }
  LanServer server;
  std::uint16_t port() const { return server.tcp_port(0); }
};

TEST(LanDigest, PasswordDigestIsSha256OfTheText) {
  EXPECT_EQ(password_digest("abc"),
            parse_digest("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad").value());
  EXPECT_EQ(password_digest(""),
            parse_digest("E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855").value());
  EXPECT_FALSE(parse_digest("ba7816bf").has_value());
  EXPECT_FALSE(parse_digest(std::string(63, '0') + "g").has_value());
}

TEST(LanLogin, RightPasswordExactBytesThenCommandsReachTheModel) {
  LanBoardConfig c = config_with();
  c.challenge = counting_challenge();
  Served s(c);
  Client host(s.port());
  ASSERT_TRUE(host.connected());
  host.send(kRequest);
  const Bytes challenge = host.read(28);
  Bytes expected{'N', 'C', 'V', 'X', 4, 0, 0, 1};
  expected.insert(expected.end(), c.challenge->begin(), c.challenge->end());
  ASSERT_EQ(challenge, expected);

  Bytes response{'N', 'C', 'V', 'X', 5, 0, 0, 1};
  const auto proof = sha1_of(Bytes(c.challenge->begin(), c.challenge->end()), sha256_of("secret"));
  response.insert(response.end(), proof.begin(), proof.end());
  host.send(response);
  EXPECT_EQ(host.read(8), kAccepted);

  // The open check, a port write and a read back, the write split over two sends.
  host.send({0xFF});
  host.send({0x01});
  EXPECT_EQ(host.read(1), Bytes{0x31});
  host.send({0x02, 0x00, 0x11});
  std::this_thread::sleep_for(20ms);
  host.send({0x00, 0x00, 0x5A, 0x03, 0x00, 0x11, 0x00, 0x00});
  EXPECT_EQ(host.read(1), Bytes{0x5A});
  s.server.with_board(0, [](Board& b) {
    EXPECT_EQ(b.peek(0x110000), 0x5A);
    ASSERT_EQ(b.executed().size(), 4u);
    EXPECT_EQ(b.executed()[2].bytes, (Bytes{0x02, 0x00, 0x11, 0x00, 0x00, 0x5A}));
  });
  EXPECT_EQ(s.server.stats(0).logins, 1u);
}

TEST(LanLogin, SessionBytesNumberTheConnectionsAndMustBeCopied) {
  Served s(config_with());
  {
    Client host(s.port());
    EXPECT_EQ(log_in(host, sha256_of("secret")), kAccepted);
    host.send({0x01});
    EXPECT_EQ(host.read(1), Bytes{0x31});
  }
  Client host(s.port());
  host.send(kRequest);
  const Bytes challenge = host.read(28);
  ASSERT_EQ(challenge.size(), 28u);
  EXPECT_EQ(Bytes(challenge.begin(), challenge.begin() + 8), (Bytes{'N', 'C', 'V', 'X', 4, 0, 0, 2}));
  EXPECT_NE(std::count(challenge.begin() + 8, challenge.end(), challenge[8]), 20);  // drawn, not fixed
  // The right digest under a header that was not copied from the challenge.
  Bytes response{'N', 'C', 'V', 'X', 5, 0, 0, 0};
  const auto proof = sha1_of(Bytes(challenge.begin() + 8, challenge.end()), sha256_of("secret"));
  response.insert(response.end(), proof.begin(), proof.end());
  host.send(response);
  EXPECT_EQ(host.read(8), kRefused);
  EXPECT_TRUE(host.closed());
  EXPECT_EQ(s.server.stats(0).logins, 1u);
  EXPECT_EQ(s.server.stats(0).refusals, 1u);
}

TEST(LanLogin, WrongPasswordIsRefusedAndTheConnectionClosed) {
  Served s(config_with());
  Client host(s.port());
  EXPECT_EQ(log_in(host, sha256_of("Secret")), kRefused);
  host.send({0x01});
  EXPECT_TRUE(host.closed());
  s.server.with_board(0, [](Board& b) { EXPECT_TRUE(b.executed().empty()); });
  EXPECT_EQ(s.server.stats(0).refusals, 1u);
}

TEST(LanLogin, ARequestOtherThanLoginEndsTheConnection) {
  Served s(config_with());
  Client host(s.port());
  host.send({0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  EXPECT_TRUE(host.closed());
  s.server.with_board(0, [](Board& b) { EXPECT_TRUE(b.executed().empty()); });
}

TEST(LanLogin, DigestGivenDirectlyAndTheNextHostWaitsForTheFirst) {
  LanBoardConfig c;
  c.digest = *parse_digest("2bb80d537b1da3e38bd30361aa855686bde0eacd7162fef6a25fe97bf527a25b");  // "secret"
  Served s(c);
  std::optional<Client> first(std::in_place, s.port());
  EXPECT_EQ(log_in(*first, sha256_of("secret")), kAccepted);
  Client second(s.port());
  ASSERT_TRUE(second.connected());
  second.send(kRequest);
  EXPECT_TRUE(second.read(28, 200ms).empty());
  first->send({0x0A});
  EXPECT_EQ(first->read(2), (Bytes{0x00, 0x00}));
  first.reset();
  EXPECT_EQ(second.read(28).size(), 28u);
}

TEST(LanFaults, RefuseAnswersTheRightPasswordWithARefusal) {
  LanFaults f;
  f.refuse_login = true;
  Served s(config_with(f));
  Client host(s.port());
  EXPECT_EQ(log_in(host, sha256_of("secret")), kRefused);
  EXPECT_TRUE(host.closed());
}

TEST(LanFaults, MuteLoginNeverSendsTheChallenge) {
  LanFaults f;
  f.mute_login = true;
  Served s(config_with(f));
  Client host(s.port());
  host.send(kRequest);
  EXPECT_TRUE(host.read(1, 300ms).empty());
  EXPECT_FALSE(host.closed(50ms));
}

TEST(LanFaults, MuteRepliesRunsCommandsButSendsNothing) {
  LanFaults f;
  f.mute_replies = true;
  Served s(config_with(f));
  Client host(s.port());
  ASSERT_EQ(log_in(host, sha256_of("secret")), kAccepted);
  host.send({0x01});
  EXPECT_TRUE(host.read(1, 300ms).empty());
  s.server.with_board(0, [](Board& b) {
    ASSERT_EQ(b.executed().size(), 1u);
    EXPECT_EQ(b.executed()[0].bytes, Bytes{0x01});
  });
}

TEST(LanFaults, DelayHoldsBackEveryAnswer) {
  LanFaults f;
  f.delay = 150ms;
  Served s(config_with(f));
  Client host(s.port());
  ASSERT_EQ(log_in(host, sha256_of("secret")), kAccepted);
  const auto sent = std::chrono::steady_clock::now();
  host.send({0x01});
  EXPECT_TRUE(host.read(1, 100ms).empty());
  EXPECT_EQ(host.read(1), Bytes{0x31});
  EXPECT_GE(std::chrono::steady_clock::now() - sent, 150ms);
}

TEST(LanFaults, SplitSendsEachReplyInPieces) {
  LanFaults f;
  f.split = 3;
  f.split_gap = 100ms;
  Served s(config_with(f));
  s.server.with_board(0, [](Board& b) {
    for (std::uint32_t i = 0; i < 8; ++i) b.poke(0x110000 + i, static_cast<std::uint8_t>(0x10 + i));
  });
  Client host(s.port());
  ASSERT_EQ(log_in(host, sha256_of("secret")), kAccepted);
  host.send({0x07, 0x00, 0x11, 0x00, 0x00, 0x00, 0x08, 0x01, 0x00, 0x00, 0x00});
  EXPECT_EQ(host.read_once(), (Bytes{0x10, 0x11, 0x12}));
  EXPECT_EQ(host.read_once(), (Bytes{0x13, 0x14, 0x15}));
  EXPECT_EQ(host.read_once(), (Bytes{0x16, 0x17}));
}

TEST(LanFaults, CloseMidReplyCutsTheChosenReply) {
  LanFaults f;
  f.close_mid_reply = 2;
  Served s(config_with(f));
  Client host(s.port());
  ASSERT_EQ(log_in(host, sha256_of("secret")), kAccepted);
  host.send({0x01});
  EXPECT_EQ(host.read(1), Bytes{0x31});
  host.send({0x3A});
  EXPECT_EQ(host.read(4), (Bytes{0x00, 0x03}));
  EXPECT_TRUE(host.closed());
  // The next host starts counting afresh.
  Client next(s.port());
  ASSERT_EQ(log_in(next, sha256_of("secret")), kAccepted);
  next.send({0x3A});
  EXPECT_EQ(next.read(4), (Bytes{0x00, 0x03, 0x02, 0x01}));
}

TEST(LanDiscovery, AnswersWithTheProductRecord) {
  LanBoardConfig c;
  c.board.product = ProductRecord{*parse_uuid("01234567-89ab-cdef-0123-456789abcdef"), 0x01020304};
  Served s(c);
  const Bytes answer = udp_exchange(s.server.udp_port(0), {'N', 'C', 'V', 'X', 1, 0, 0, 0});
  Bytes expected{'N', 'C', 'V', 'X', 2, 0, 0, 0, 0, 0, 0, 0};
  for (std::uint8_t b :
       {0x67, 0x45, 0x23, 0x01, 0xab, 0x89, 0xef, 0xcd, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef})
    expected.push_back(b);
  for (std::uint8_t b : {0x04, 0x03, 0x02, 0x01}) expected.push_back(b);
  expected.resize(136, 0);
  EXPECT_EQ(answer, expected);
  EXPECT_EQ(s.server.stats(0).discovery_requests, 1u);
}

TEST(LanDiscovery, UsesTheTcpPortNumberAndIgnoresOtherDatagrams) {
  Served s(LanBoardConfig{});
  EXPECT_EQ(s.server.udp_port(0), s.port());
  EXPECT_TRUE(udp_exchange(s.server.udp_port(0), {'N', 'C', 'V', 'X', 3, 0, 0, 0}, 200ms).empty());
  EXPECT_TRUE(udp_exchange(s.server.udp_port(0), {'N', 'C', 'V', 'Y', 1, 0, 0, 0}, 200ms).empty());
  EXPECT_TRUE(udp_exchange(s.server.udp_port(0), {'N', 'C', 'V', 'X', 1}, 200ms).empty());
  // A board without a product record sends its blank area.
  const Bytes answer = udp_exchange(s.server.udp_port(0), {'N', 'C', 'V', 'X', 1, 0, 0, 0});
  ASSERT_EQ(answer.size(), 136u);
  EXPECT_EQ(Bytes(answer.begin() + 8, answer.end()), Bytes(128, 0xFF));
}

TEST(LanDiscovery, HeaderOnlyAndNone) {
  LanBoardConfig short_answer, silent;
  short_answer.discovery = DiscoveryAnswer::header_only;
  silent.discovery = DiscoveryAnswer::none;
  LanServer server({short_answer, silent});
  server.start();
  const Bytes request{'N', 'C', 'V', 'X', 1, 0, 0, 0};
  EXPECT_EQ(udp_exchange(server.udp_port(0), request), (Bytes{'N', 'C', 'V', 'X', 2, 0, 0, 0}));
  EXPECT_TRUE(udp_exchange(server.udp_port(1), request, 200ms).empty());
  EXPECT_EQ(server.stats(1).discovery_requests, 1u);
}

TEST(LanServer, BoardsHaveTheirOwnPortsAndModelsAndStopClosesThem) {
  LanBoardConfig a, b;
  a.board.version = 0x21;
  b.board.version = 0x35;
  b.udp_port = 0;
  LanServer server({a, b});
  server.start();
  EXPECT_NE(server.tcp_port(0), server.tcp_port(1));
  const Digest digest = sha256_of(default_lan_password());
  Client first(server.tcp_port(0)), second(server.tcp_port(1));
  ASSERT_EQ(log_in(first, digest), kAccepted);
  ASSERT_EQ(log_in(second, digest), kAccepted);
  first.send({0x01});
  second.send({0x01});
  EXPECT_EQ(first.read(1), Bytes{0x21});
  EXPECT_EQ(second.read(1), Bytes{0x35});
  const std::uint16_t port = server.tcp_port(0);
  server.stop();
  EXPECT_TRUE(first.closed());
  EXPECT_FALSE(Client(port).connected());
}

TEST(LanServer, APortInUseFailsTheStart) {
  Served busy(LanBoardConfig{});
  LanBoardConfig c;
  c.tcp_port = busy.port();
  LanServer server({c});
  EXPECT_THROW(server.start(), std::system_error);
}

// The SCHED_FIFO priorities of this process's threads that have one.
std::vector<int> fifo_threads() {
  std::vector<int> out;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream in(task.path() / "stat");
    std::string line;
    std::getline(in, line);
    // Fields after the name, which ends at the last ')': state is field 3,
    // rt_priority 40 and policy 41.
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::vector<std::string> fields{"", "", ""};
    for (std::string f; rest >> f;) fields.push_back(f);
    if (fields.size() > 41 && fields[41] == std::to_string(SCHED_FIFO)) out.push_back(std::stoi(fields[40]));
  }
  return out;
}

// 0 when this process may run a thread under SCHED_FIFO at `priority`, else why not.
int fifo_refusal(int priority) {
  int error = 0;
  std::thread([&] {
    sched_param p{};
    p.sched_priority = priority;
    error = ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &p);
  }).join();
  return error;
}

TEST(LanServer, BoardThreadRunsAtTheRealTimePriorityAskedWhereAllowed) {
  LanBoardConfig c = config_with();
  c.fifo_priority = 11;
  ASSERT_EQ(fifo_threads(), std::vector<int>{}) << "none before the board's";
  Served asked(c);
  if (const int error = fifo_refusal(11); error != 0) {
    EXPECT_EQ(asked.server.scheduling(0), std::string("normal: SCHED_FIFO 11 refused: ") + std::strerror(error));
    EXPECT_EQ(fifo_threads(), std::vector<int>{});
  } else {
    EXPECT_EQ(asked.server.scheduling(0), "SCHED_FIFO 11");
    EXPECT_EQ(fifo_threads(), std::vector<int>{11});
  }
  // It serves as before.
  Client client(asked.port());
  ASSERT_EQ(log_in(client, sha256_of("secret")), kAccepted);
  asked.server.stop();
  EXPECT_EQ(fifo_threads(), std::vector<int>{});

  Served plain(config_with());
  EXPECT_EQ(plain.server.scheduling(0), "normal");
  EXPECT_EQ(fifo_threads(), std::vector<int>{});
}

// When the model timed a memory write sent while its thread was held for
// 50 ms, from when it was sent. (Two writes sent while it is held may reach
// it in one read, with one stamp: a stream has no record of where each began.)
std::chrono::steady_clock::duration stamp_after_send(bool on_receipt) {
  LanBoardConfig c = config_with();
  c.stamp_on_receipt = on_receipt;
  Served served(c);
  Client host(served.port());
  EXPECT_EQ(log_in(host, sha256_of("secret")), kAccepted);
  std::chrono::steady_clock::time_point sent;
  served.server.with_board(0, [&](Board&) {
    host.send({0x02, 0x00, 0x11, 0x00, 0x00, 0x5A});
    sent = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(50ms);
  });
  host.send({0x01});  // answered once the write has run
  EXPECT_EQ(host.read(1).size(), 1u);
  return served.server.with_board(0, [&](Board& b) {
    const auto& done = b.executed();
    EXPECT_GE(done.size(), 2u);
    return done.size() < 2 ? std::chrono::steady_clock::duration{} : done[done.size() - 2].at - sent;
  });
}

TEST(LanServer, StampOnReceiptTimesCommandsByTheirArrivalNotByTheThread) {
  const auto on_receipt = stamp_after_send(true);
  EXPECT_LT(on_receipt, 10ms);
  EXPECT_GT(on_receipt, -10ms);
  EXPECT_GE(stamp_after_send(false), 45ms) << "without it, by when the thread got to it";
}

}  // namespace
}  // namespace kestrel::sim::test
