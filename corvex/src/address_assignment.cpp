#include "address_assignment.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "address_packets.h"
#include "lan_state.h"
#include "lan_transport.h"
#include "local_network.h"
#include "sockets.h"
#include "state.h"

namespace corvex {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint16_t kServerPort = 67;
constexpr std::uint16_t kClientPort = 68;
constexpr std::size_t kMostAddresses = 16;
constexpr auto kRequestWait = 3000ms;
constexpr auto kReplyWait = 5000ms;
constexpr auto kBoardSettles = 300ms;
constexpr std::uint32_t kLoopback = 0x0100007F;  // 127.0.0.1 in network order

struct Udp {
  socket_t s = kNoSocket;
  Udp() = default;
  explicit Udp(socket_t socket) : s(socket) {}
  Udp(Udp&& o) noexcept : s(std::exchange(o.s, kNoSocket)) {}
  Udp& operator=(Udp&&) = delete;
  ~Udp() {
    if (s != kNoSocket) close_socket(s);
  }
  bool open() { return (s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)) != kNoSocket; }
  bool broadcast() {
    const int one = 1;
    return ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&one), sizeof one) == 0;
  }
  long send_to(const std::uint8_t* data, std::size_t length, std::uint32_t address, std::uint16_t port) {
    const sockaddr_in to = ipv4_address(address, port);
    return ::sendto(s, reinterpret_cast<const char*>(data), static_cast<int>(length), 0,
                    reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
  // A datagram longer than the buffer is cut to it, which is no failure.
  long receive(std::uint8_t* data, std::size_t length) {
    return receive_datagram(s, data, length);
  }
};

constexpr std::uint32_t kEveryone = 0xFFFFFFFF;

std::uint32_t tick_count() {
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

int ms_left(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::max<long long>(left, 0));
}

bool same_subnet(std::uint32_t a, std::uint32_t b, std::uint32_t mask) { return (a & mask) == (b & mask); }

// Waits for the server's reply to transaction xid. length gets its size.
CVX_STATUS await_reply(Udp& udp, std::uint32_t xid, dhcp::Packet& packet, std::size_t& length, Report& report) {
  const auto deadline = Clock::now() + kReplyWait;
  for (;;) {
    const int ready = poll_one(udp.s, kReadable, ms_left(deadline));
    if (ready < 0 && interrupted()) continue;
    if (ready < 0) {
      report.addf("エラー : 受信バイト数の確認に失敗しました status=%ld, err=%ld\n", ready, last_error());
      return CVX_SOCKET_ERROR;
    }
    if (ready == 0) {
      report.add("エラー : 受信待ち中にタイムアウトしました\n");
      return CVX_TIMEOUT;
    }
    packet.fill(0);
    const long n = udp.receive(packet.data(), packet.size());
    if (n < 0 && interrupted()) continue;
    if (n < 0) {
      report.addf("エラー : 受信に失敗しました status=%ld, err=%ld\n", n, last_error());
      return CVX_SOCKET_ERROR;
    }
    length = static_cast<std::size_t>(n);
    if (!dhcp::is_reply(packet.data(), length)) continue;
    if (dhcp::same_transaction(packet.data(), length, xid)) return CVX_OK;
    report.add("トランザクションIDが一致しないのでパケットを破棄します\n");
  }
}

CVX_STATUS send_packet(Udp& udp, const dhcp::Packet& packet, const char* sent, Report& report) {
  const long n = udp.send_to(packet.data(), packet.size(), kEveryone, kServerPort);
  if (n != static_cast<long>(packet.size())) {
    report.addf("エラー : 送信に失敗しました status=%ld, err=%ld\n", n, last_error());
    return CVX_SOCKET_ERROR;
  }
  report.add(sent);
  report.add(dhcp::dump(packet));
  return CVX_OK;
}

// Obtains an address for the lease's MAC from the DHCP server on local's network.
CVX_STATUS dhcp_exchange(CVX_LEASE& lease, const LocalAddress& local, Report& report) {
  report.add("\n***** DHCPサーバーとの通信を開始します *****\n");
  Udp udp;
  if (!udp.open()) {
    report.add("エラー : ソケットの作成に失敗しました\n");
    return CVX_SOCKET_ERROR;
  }
  report.add("ソケットを作成しました\n");
  if (!bind_for_broadcasts(udp.s, local, kClientPort)) {
    report.addf("エラー : bind() に失敗しました status=%ld, err=%ld\n", -1, last_error());
    return CVX_SOCKET_ERROR;
  }
  report.add("ソケットにポート番号を割り当てました\n");
  sockaddr_in bound{};
  address_length_t bound_length = sizeof bound;
  ::getsockname(udp.s, reinterpret_cast<sockaddr*>(&bound), &bound_length);
  char line[64];
  std::snprintf(line, sizeof line, "ポート番号 : %d\n", ntohs(bound.sin_port));
  report.add(line);
  // The address the socket stands for (bound to its interface, not to it, here).
  report.add("IPアドレス : " + dhcp::dotted(local.address) + "\n");
  if (!udp.broadcast()) return CVX_SOCKET_ERROR;

  const std::uint32_t xid = tick_count();
  dhcp::Packet packet = dhcp::discover(xid, lease.mac);
  if (CVX_STATUS s = send_packet(udp, packet, "DHCPDISCOVERパケットを送信しました\n", report); s != CVX_OK) return s;
  dhcp::Packet reply{};
  std::size_t length = 0;
  if (CVX_STATUS s = await_reply(udp, xid, reply, length, report); s != CVX_OK) return s;
  report.add("DHCPOFFERパケットを受信しました\n");
  report.add(dhcp::dump(reply));
  if (dhcp::take_offer(reply.data(), length, lease) != CVX_OK) {
    report.add("エラー : DHCPオプションの内容が不正です\n");
    return CVX_FAILED;
  }

  dhcp::to_request(packet, lease.board, lease.server);
  if (CVX_STATUS s = send_packet(udp, packet, "DHCPREQUESTパケットを送信しました\n", report); s != CVX_OK) return s;
  if (CVX_STATUS s = await_reply(udp, xid, reply, length, report); s != CVX_OK) return s;
  report.add("DHCPACKパケットを受信しました\n");
  report.add(dhcp::dump(reply));
  if (dhcp::take_ack(reply.data(), length, lease) != CVX_OK) {
    report.add("エラー : リクエストが失敗しました\n");
    return CVX_FAILED;
  }

  const std::uint8_t* m = lease.mac;
  std::snprintf(line, sizeof line, "MACアドレス : %02X-%02X-%02X-%02X-%02X-%02X\n", m[0], m[1], m[2], m[3], m[4],
                m[5]);
  report.add(line);
  report.add("取得したIP : " + dhcp::dotted(lease.board) + "\n");
  report.add("サーバーIP : " + dhcp::dotted(lease.server) + "\n");
  report.add("サブネットマスク : " + dhcp::dotted(lease.mask) + "\n");
  report.add("***** DHCPリクエストは正常に終了しました *****\n\n");
  return CVX_OK;
}

// Sockets on port 67, one per local address, each with the address it stands for.
struct Listener {
  Udp udp;
  LocalAddress local;
};

// Waits for the board's request; its listener, or null with the status.
Listener* await_request(std::vector<Listener>& listeners, dhcp::Request& request, CVX_STATUS& status,
                        Report& report) {
  const auto deadline = Clock::now() + kRequestWait;
  std::vector<PollEntry> fds;
  for (const Listener& l : listeners) fds.push_back({l.udp.s, kReadable, 0});
  while (Clock::now() < deadline) {
    for (auto& fd : fds) fd.revents = 0;
    const int ready = poll_sockets(fds.data(), fds.size(), ms_left(deadline));
    if (ready < 0 && interrupted()) continue;
    if (ready < 0) {
      // Counted as nothing waiting; the pause keeps a lasting fault from filling the report.
      report.addf("エラー : 受信バイト数の確認に失敗しました status=%ld, err=%ld\n", ready, last_error());
      std::this_thread::sleep_for(10ms);
      continue;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (!(fds[i].revents & kReadable)) continue;
      request.fill(0);
      const long n = listeners[i].udp.receive(request.data(), request.size());
      if (n < 0 && interrupted()) continue;
      if (n < 0) {
        report.addf("エラー : 受信に失敗しました status=%ld, err=%ld\n", n, last_error());
        status = CVX_SOCKET_ERROR;
        return nullptr;
      }
      switch (dhcp::classify(request)) {
        case dhcp::Asked::nothing:
          break;
        case dhcp::Asked::other_server:
          report.add("サーバーのホストネームが一致しないのでパケットを破棄します\n");
          break;
        case dhcp::Asked::us:
          return &listeners[i];
      }
    }
  }
  report.add("エラー : 受信待ち中にタイムアウトしました\n");
  status = CVX_TIMEOUT;
  return nullptr;
}

// Everything up to the board having its address; the sockets close on return.
CVX_STATUS assign_address(CVX_LEASE& lease, Report& report) {
  std::vector<LocalAddress> found;
  if (CVX_STATUS s = local_addresses(found); s != CVX_OK) return s;
  std::vector<Listener> listeners;
  for (const LocalAddress& l : found) {
    if (listeners.size() == kMostAddresses) break;
    if (l.address == 0 || l.address == kLoopback) continue;
    if (lease.board != 0 && !same_subnet(l.address, lease.board, l.mask)) continue;
    listeners.push_back({Udp{}, l});
  }
  if (listeners.empty()) {
    report.add("エラー : 接続可能なネットワークが見つかりませんでした\n");
    return CVX_FAILED;
  }
  long bind_error = 0;
  std::vector<Listener> bound;
  for (Listener& l : listeners) {
    if (!l.udp.open()) break;
    if (!bind_for_broadcasts(l.udp.s, l.local, kServerPort)) {
      bind_error = last_error();
      continue;
    }
    l.udp.broadcast();
    bound.push_back(std::move(l));
  }
  if (bound.empty()) {
    report.addf("エラー : bind() に失敗しました status=%ld, err=%ld\n", -1, bind_error);
    return CVX_SOCKET_ERROR;
  }

  dhcp::Request request{};
  CVX_STATUS status = CVX_OK;
  Listener* asked = await_request(bound, request, status, report);
  if (!asked) return status;
  if (lease.board == 0) {
    std::memcpy(lease.mac, request.data() + 28, sizeof lease.mac);
    lease.board = asked->local.address;
    if (CVX_STATUS s = dhcp_exchange(lease, asked->local, report); s != CVX_OK) return s;
  }
  const dhcp::Request reply = dhcp::answer(request, lease);
  const long n = asked->udp.send_to(reply.data(), reply.size(), kEveryone, kClientPort);
  if (n != static_cast<long>(reply.size())) {
    report.addf("エラー : 送信に失敗しました status=%ld, err=%ld\n", n, last_error());
    return CVX_SOCKET_ERROR;
  }
  return CVX_OK;
}

}  // namespace

void Report::add(std::string_view line) {
  if (!text_ || full_) return;
  if (used_ + line.size() + 1 > CVX_FLSH_REPORT_SIZE) {
    full_ = true;
    return;
  }
  std::memcpy(text_ + used_, line.data(), line.size());
  used_ += line.size();
  text_[used_] = '\0';
}

void Report::addf(const char* format, long status, long error) {
  char line[160];
  std::snprintf(line, sizeof line, format, status, error);
  add(line);
}

CVX_STATUS flash_open_lan(CVX_HANDLE* handle, CVX_LEASE& lease, Report& report) {
  *handle = 0;
  report.add("\n***** デバイスへのアドレス割り当てを開始します *****\n");
  if (lease.board == kEveryone) lease.board = 0;
  if (CVX_STATUS s = assign_address(lease, report); s != CVX_OK) return s;
  report.add("\n***** デバイスへのアドレス割り当てが正常に終了しました *****\n");
  std::this_thread::sleep_for(kBoardSettles);
  report.add("\n***** デバイスへの接続をおこないます *****\n");

  State& s = state();
  std::int32_t port = 0;
  {
    std::lock_guard lock(s.table.lock());
    port = lan_state().network_port;
  }
  std::shared_ptr<LanSocket> link;
  if (CVX_STATUS st = lan_connect(dhcp::dotted(lease.board).c_str(), port, &link); st != CVX_OK) {
    report.add("エラー : デバイスへの接続に失敗しました\n");
    return st;
  }
  *handle = take_lan_row(std::move(link), CVX_IF_LAN | CVX_IF_FLASH_WRITER);
  if (!*handle) {
    report.add("エラー : ソケットの登録に失敗しました\n");
    return CVX_TABLE_FULL;
  }
  report.add("\n***** デバイスへの接続を正常に行いました *****\n");
  return CVX_OK;
}

CVX_STATUS release_address(const CVX_LEASE& lease) {
  if (lease.board == 0 || lease.server == 0) return CVX_INVALID_ARGUMENT;
  Udp udp;
  if (!udp.open()) return CVX_SOCKET_ERROR;
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(kClientPort);
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  const int one = 1;
  ::setsockopt(udp.s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
  if (::bind(udp.s, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) return CVX_SOCKET_ERROR;
  const dhcp::Packet packet = dhcp::release(tick_count(), lease);
  const long n = udp.send_to(packet.data(), packet.size(), lease.server, kServerPort);
  return n == static_cast<long>(packet.size()) ? CVX_OK : CVX_SOCKET_ERROR;
}

}  // namespace corvex
