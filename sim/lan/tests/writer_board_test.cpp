#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <thread>

#include "support/lan_client.h"
#include "dhcp_server.h"
#include "lan_board.h"

namespace kestrel::sim::test {
namespace {

using Clock = std::chrono::steady_clock;

// A UDP socket on loopback standing in for the other end: the BOOTP server
// a board asks, or the client a DHCP server answers.
class Peer {
 public:
  Peer() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in a = to(0);
    ::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.sin_port);
  }
  ~Peer() { ::close(fd_); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  std::uint16_t port() const { return port_; }
  void send(std::uint16_t port, const Bytes& bytes) {
    const sockaddr_in a = to(port);
    ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  }
  // The next datagram, or nullopt when none comes in time.
  std::optional<Bytes> receive(std::chrono::milliseconds timeout = 1000ms) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1) return std::nullopt;
    Bytes out(65536);
    const ssize_t n = ::recv(fd_, out.data(), out.size(), 0);
    if (n < 0) return std::nullopt;
    out.resize(static_cast<std::size_t>(n));
    return out;
  }

 private:
  static sockaddr_in to(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
  }
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

const std::array<std::uint8_t, 6> kMac{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

Bytes bootp_reply(const Bytes& request, std::array<std::uint8_t, 4> yiaddr) {
  Bytes out(300, 0);
  out[0] = 2;
  out[1] = 1;
  out[2] = 6;
  std::copy_n(request.begin() + 4, 4, out.begin() + 4);
  std::copy(yiaddr.begin(), yiaddr.end(), out.begin() + 16);
  std::copy_n(request.begin() + 28, 6, out.begin() + 28);
  out[299] = 0x77;  // the answer is kept as received, tail and all
  return out;
}

template <typename F>
bool eventually(F&& done, std::chrono::milliseconds timeout = 2000ms) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

TEST(WriterBoard, AsksForItsAddressAndServesOnlyOnceAnswered) {
  Peer bootp;
  AddressRequest ask;
  ask.mac = kMac;
  ask.server_name = std::string(70, 'q');  // cut to 63 and terminated
  ask.bind_address = "127.0.0.1";
  ask.own_port = 0;
  ask.target = "127.0.0.1";
  ask.target_port = bootp.port();
  ask.interval = 120ms;
  LanBoardConfig c;
  c.board.flash_writer = true;
  c.ask_address = ask;
  LanServer server({c});
  server.start();
  ASSERT_NE(server.address_port(0), 0);

  Client early(server.tcp_port(0));
  ASSERT_TRUE(early.connected());
  early.send({0xEE});

  std::vector<Bytes> requests;
  std::vector<Clock::time_point> times;
  for (int i = 0; i < 5; ++i) {
    auto r = bootp.receive();
    ASSERT_TRUE(r) << "request " << i;
    requests.push_back(*r);
    times.push_back(Clock::now());
  }
  const Bytes& first = requests[0];
  ASSERT_EQ(first.size(), 300u);
  Bytes expected(300, 0);
  expected[0] = 1;
  expected[1] = 1;
  expected[2] = 6;
  std::copy_n(first.begin() + 4, 4, expected.begin() + 4);
  expected[10] = 0x80;
  std::copy(kMac.begin(), kMac.end(), expected.begin() + 28);
  std::fill_n(expected.begin() + 44, 63, 'q');
  for (std::uint8_t i = 0; i < 5; ++i) expected[236 + i] = std::array<std::uint8_t, 5>{99, 130, 83, 99, 255}[i];
  EXPECT_EQ(first, expected);
  for (const Bytes& r : requests) EXPECT_EQ(r, first);  // the same transaction ID every time
  for (std::size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 60ms) << i;
  // The first request may have waited in the socket while the host
  // connected; for the others the test was already waiting.
  EXPECT_GE(times.back() - times[1], 3 * 120ms - 30ms);
  EXPECT_LE(times.back() - times.front(), 4 * 120ms + 250ms);

  // Nothing is served before the answer.
  EXPECT_TRUE(early.read(1, 100ms).empty());
  EXPECT_FALSE(server.address_answer(0));
  EXPECT_FALSE(server.assigned_address(0));

  const std::uint16_t board = server.address_port(0);
  Bytes wrong_xid = bootp_reply(first, {10, 77, 0, 61});
  wrong_xid[7] ^= 1;
  Bytes wrong_mac = bootp_reply(first, {10, 77, 0, 61});
  wrong_mac[33] ^= 1;
  Bytes request_echo = first;  // its own request heard back
  bootp.send(board, wrong_xid);
  bootp.send(board, wrong_mac);
  bootp.send(board, request_echo);
  bootp.send(board, Bytes(first.begin(), first.begin() + 20));
  while (bootp.receive(0ms)) {
  }
  EXPECT_TRUE(bootp.receive());  // still asking
  EXPECT_FALSE(server.address_answer(0));
  EXPECT_TRUE(early.read(1, 50ms).empty());

  const Bytes right = bootp_reply(first, {10, 77, 0, 61});
  bootp.send(board, right);
  ASSERT_TRUE(eventually([&] { return server.address_answer(0).has_value(); }));
  EXPECT_EQ(server.address_answer(0), right);
  EXPECT_EQ(server.assigned_address(0), "10.77.0.61");
  // Requests sent before the answer was taken are queued already.
  while (bootp.receive(0ms)) {
  }
  const unsigned sent = server.stats(0).address_requests;
  EXPECT_GE(sent, 6u);
  EXPECT_FALSE(bootp.receive(400ms));
  EXPECT_EQ(server.stats(0).address_requests, sent);

  // The byte sent while waiting reaches the flash writer now, with no login.
  EXPECT_EQ(early.read(1), Bytes{0xEE});
  early.send({0x3A});
  EXPECT_EQ(early.read(4), (Bytes{0x00, 0x01, 0x00, 0x01}));
  server.with_board(0, [](Board& b) {
    ASSERT_EQ(b.executed().size(), 2u);
    EXPECT_EQ(b.executed()[0].bytes, Bytes{0xEE});
  });
  EXPECT_EQ(server.stats(0).logins, 0u);
}

TEST(WriterBoard, NoLoginWithFaultsAStopWhileAskingAndABadTarget) {
  LanBoardConfig writer;
  writer.board.flash_writer = true;
  writer.board.writer_echo = 0x5C;
  writer.faults.split = 2;
  writer.faults.split_gap = 60ms;
  LanBoardConfig monitor;  // beside it, a board that still wants the login
  LanServer server({writer, monitor});
  server.start();
  EXPECT_EQ(server.address_port(0), 0);
  Client host(server.tcp_port(0));
  host.send({0xEE});
  EXPECT_EQ(host.read(1), Bytes{0x5C});
  host.send({0x3A});
  EXPECT_EQ(host.read_once(), (Bytes{0x00, 0x01}));
  EXPECT_EQ(host.read_once(), (Bytes{0x00, 0x01}));
  Client other(server.tcp_port(1));
  other.send({0xEE, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_TRUE(other.closed());
  server.with_board(1, [](Board& b) { EXPECT_TRUE(b.executed().empty()); });

  // A board that is still asking stops at once with the server.
  Peer bootp;
  AddressRequest ask;
  ask.bind_address = "127.0.0.1";
  ask.own_port = 0;
  ask.target = "127.0.0.1";
  ask.target_port = bootp.port();
  ask.interval = 10s;
  ask.length = 10;  // below the least a request can be
  LanBoardConfig asking;
  asking.ask_address = ask;
  auto slow = std::make_unique<LanServer>(std::vector<LanBoardConfig>{asking});
  slow->start();
  const auto request = bootp.receive();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->size(), kAddressRequestMinimum);
  EXPECT_EQ(Bytes(request->begin() + 44, request->begin() + 55),
            Bytes({'Q', 'u', 'i', 'l', 'l', 'm', 'a', 'r', 's', 'h', 0}));
  EXPECT_EQ(request->back(), 255);
  const auto before = Clock::now();
  slow.reset();
  EXPECT_LT(Clock::now() - before, 1s);

  ask.target = "no.such.host";
  asking.ask_address = ask;
  LanServer bad({asking});
  EXPECT_THROW(bad.start(), std::system_error);
}

// A client message: header, chaddr 30..3F, the cookie and the options given.
Bytes client_message(std::uint32_t xid, const Bytes& options) {
  Bytes out(240, 0);
  out[0] = 1;
  out[1] = 1;
  out[2] = 6;
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<std::uint8_t>(xid >> (24 - 8 * i));
  out[10] = 0x80;
  for (std::uint8_t i = 0; i < 16; ++i) out[28 + i] = static_cast<std::uint8_t>(0x30 + i);
  const std::uint8_t cookie[4] = {99, 130, 83, 99};
  std::copy(std::begin(cookie), std::end(cookie), out.begin() + 236);
  out.insert(out.end(), options.begin(), options.end());
  return out;
}

// What the server should answer, before its options: the header and the cookie.
Bytes answer_head(std::uint32_t xid, std::array<std::uint8_t, 4> yiaddr) {
  Bytes out = client_message(xid, {});
  out[0] = 2;
  std::copy(yiaddr.begin(), yiaddr.end(), out.begin() + 16);
  const std::uint8_t server[4] = {10, 77, 0, 2};
  std::copy(std::begin(server), std::end(server), out.begin() + 20);
  return out;
}

Bytes finished(Bytes head, const Bytes& options) {
  head.insert(head.end(), options.begin(), options.end());
  head.resize(300, 0);
  return head;
}

const Bytes kUsual{54, 4, 10, 77, 0, 2, 51, 4, 0, 0, 0x1C, 0x20, 1, 4, 255, 255, 255, 0, 255};

DhcpConfig loopback_config(std::uint16_t reply_port, const DhcpFaults& faults = {}) {
  DhcpConfig c;
  c.bind_address = "127.0.0.1";
  c.port = 0;
  c.reply_target = "127.0.0.1";
  c.reply_port = reply_port;
  c.lease_seconds = 7200;
  c.faults = faults;
  return c;
}

Bytes with_type(std::uint8_t type, const Bytes& rest = kUsual) {
  Bytes out{53, 1, type};
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

TEST(DhcpServer, OffersAcksRecordsAndIgnoresWhatIsNotAClientMessage) {
  Peer client;
  DhcpServer server(loopback_config(client.port()));
  server.start();
  ASSERT_NE(server.port(), 0);

  const Bytes discover = client_message(0x12345678, {53, 1, 1, 0, 55, 3, 1, 3, 51, 255});
  client.send(server.port(), discover);
  EXPECT_EQ(client.receive(), finished(answer_head(0x12345678, {10, 77, 0, 50}), with_type(2)));
  const Bytes request = client_message(0x12345678, {53, 1, 3, 50, 4, 10, 77, 0, 50, 54, 4, 10, 77, 0, 2, 255});
  client.send(server.port(), request);
  EXPECT_EQ(client.receive(), finished(answer_head(0x12345678, {10, 77, 0, 50}), with_type(5)));
  const Bytes release = client_message(0x0BADF00D, {53, 1, 7, 255});
  client.send(server.port(), release);
  EXPECT_FALSE(client.receive(300ms));

  const Bytes bootp = client_message(1, {255});  // no option 53, as a board asks
  Bytes reply = discover;
  reply[0] = 2;
  Bytes bad_cookie = discover;
  bad_cookie[239] = 0;
  const Bytes short_header(discover.begin(), discover.begin() + 239);
  const Bytes overrun = client_message(2, {53, 1, 1, 12, 40, 'b', 'o', 'a', 'r', 'd'});
  const Bytes no_length = client_message(3, {0, 0, 53});
  const Bytes empty_type = client_message(4, {53, 0, 255});
  for (const Bytes* d : std::initializer_list<const Bytes*>{&bootp, &reply, &bad_cookie, &short_header, &overrun,
                                                            &no_length, &empty_type})
    client.send(server.port(), *d);
  EXPECT_FALSE(client.receive(300ms));

  // Still serving, and the list ends at the datagram's end without 255.
  client.send(server.port(), client_message(5, {53, 1, 1}));
  EXPECT_EQ(client.receive(), finished(answer_head(5, {10, 77, 0, 50}), with_type(2)));

  const auto seen = server.seen();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].type, 1);
  EXPECT_EQ(seen[0].bytes, discover);
  EXPECT_EQ(seen[1].type, 3);
  EXPECT_EQ(seen[1].bytes, request);
  EXPECT_EQ(seen[2].type, 7);
  EXPECT_EQ(seen[2].bytes, release);
  EXPECT_EQ(seen[3].type, 1);
  for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i - 1].at, seen[i].at);

  server.stop();
  server.stop();
  client.send(server.port(), discover);
  EXPECT_FALSE(client.receive(200ms));

  DhcpConfig bad = loopback_config(client.port());
  bad.offer = "10.77.0";
  DhcpServer refused(bad);
  EXPECT_THROW(refused.start(), std::system_error);
}

TEST(DhcpServer, Faults) {
  Peer client;
  const Bytes discover = client_message(0xA1B2C3D4, {53, 1, 1, 255});
  const Bytes request = client_message(0xA1B2C3D4, {53, 1, 3, 255});
  const Bytes offer = finished(answer_head(0xA1B2C3D4, {10, 77, 0, 50}), with_type(2));

  DhcpFaults f;
  f.nak = true;
  {
    DhcpServer server(loopback_config(client.port(), f));
    server.start();
    client.send(server.port(), discover);
    EXPECT_EQ(client.receive(), offer);
    client.send(server.port(), request);
    EXPECT_EQ(client.receive(), finished(answer_head(0xA1B2C3D4, {0, 0, 0, 0}), with_type(6)));
  }
  f = {};
  f.wrong_xid_first = true;
  {
    DhcpServer server(loopback_config(client.port(), f));
    server.start();
    client.send(server.port(), discover);
    const auto wrong = client.receive();
    ASSERT_TRUE(wrong);
    EXPECT_NE(Bytes(wrong->begin() + 4, wrong->begin() + 8), Bytes(offer.begin() + 4, offer.begin() + 8));
    Bytes rest = *wrong;
    std::copy_n(offer.begin() + 4, 4, rest.begin() + 4);
    EXPECT_EQ(rest, offer);
    EXPECT_EQ(client.receive(), offer);
    EXPECT_FALSE(client.receive(200ms));
  }
  f = {};
  f.no_server_id = true;
  {
    DhcpServer server(loopback_config(client.port(), f));
    server.start();
    client.send(server.port(), discover);
    EXPECT_EQ(client.receive(), finished(answer_head(0xA1B2C3D4, {10, 77, 0, 50}),
                                         with_type(2, Bytes(kUsual.begin() + 6, kUsual.end()))));
  }
  f = {};
  f.long_options = true;
  {
    DhcpServer server(loopback_config(client.port(), f));
    server.start();
    client.send(server.port(), request);
    Bytes options{15, 20};
    for (char ch : std::string("benchtop.kestrel.lan")) options.push_back(static_cast<std::uint8_t>(ch));
    for (std::uint8_t b : {1, 8, 255, 255, 255, 0, 0, 0, 0, 0}) options.push_back(b);
    const Bytes usual = with_type(5);
    options.insert(options.end(), usual.begin(), usual.end());
    EXPECT_EQ(client.receive(), finished(answer_head(0xA1B2C3D4, {10, 77, 0, 50}), options));
  }
  f = {};
  f.silent = true;
  {
    DhcpServer server(loopback_config(client.port(), f));
    server.start();
    client.send(server.port(), discover);
    EXPECT_FALSE(client.receive(300ms));
    ASSERT_EQ(server.seen().size(), 1u);
    EXPECT_EQ(server.seen()[0].type, 1);
  }
}

}  // namespace
}  // namespace kestrel::sim::test
