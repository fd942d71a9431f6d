#include "dhcp_client.h"

#include <chrono>
#include <cstdio>

#include "address_packets.h"
#include "udp_socket.h"

namespace corvex {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kReplyWait = std::chrono::milliseconds(5000);

std::uint32_t tick_count() {
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

// Waits for the server's reply to transaction xid. length gets its size.
CVX_STATUS await_reply(UdpSocket& udp, std::uint32_t xid, dhcp::Packet& packet, std::size_t& length,
                       Report& report) {
  const auto deadline = Clock::now() + kReplyWait;
  for (;;) {
    const int ready = poll_one(udp.get(), kReadable, ms_left(deadline));
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

// One step of the exchange: what the report says of it, and how the reply is read.
struct Step {
  const char* sent;
  const char* received;
  CVX_STATUS (*take)(const std::uint8_t* data, std::size_t length, CVX_LEASE& lease);
  const char* refused;
};

constexpr Step kOffer{"DHCPDISCOVERパケットを送信しました\n", "DHCPOFFERパケットを受信しました\n", dhcp::take_offer,
                      "エラー : DHCPオプションの内容が不正です\n"};
constexpr Step kAck{"DHCPREQUESTパケットを送信しました\n", "DHCPACKパケットを受信しました\n", dhcp::take_ack,
                    "エラー : リクエストが失敗しました\n"};

// Broadcasts packet, waits for the server's reply and reads it into the lease.
CVX_STATUS exchange(UdpSocket& udp, const dhcp::Packet& packet, std::uint32_t xid, const Step& step, CVX_LEASE& lease,
                    Report& report) {
  const long n = udp.send_to(packet.data(), packet.size(), kEveryone, dhcp::kServerPort);
  if (n != static_cast<long>(packet.size())) {
    report.addf("エラー : 送信に失敗しました status=%ld, err=%ld\n", n, last_error());
    return CVX_SOCKET_ERROR;
  }
  report.add(step.sent);
  report.add(dhcp::dump(packet));
  dhcp::Packet reply{};
  std::size_t length = 0;
  if (CVX_STATUS s = await_reply(udp, xid, reply, length, report); s != CVX_OK) return s;
  report.add(step.received);
  report.add(dhcp::dump(reply));
  if (step.take(reply.data(), length, lease) != CVX_OK) {
    report.add(step.refused);
    return CVX_FAILED;
  }
  return CVX_OK;
}

}  // namespace

CVX_STATUS dhcp_exchange(CVX_LEASE& lease, const LocalAddress& local, Report& report) {
  report.add("\n***** DHCPサーバーとの通信を開始します *****\n");
  UdpSocket udp;
  if (!udp.open()) {
    report.add("エラー : ソケットの作成に失敗しました\n");
    return CVX_SOCKET_ERROR;
  }
  report.add("ソケットを作成しました\n");
  if (!bind_for_broadcasts(udp.get(), local, dhcp::kClientPort)) {
    report.addf("エラー : bind() に失敗しました status=%ld, err=%ld\n", -1, last_error());
    return CVX_SOCKET_ERROR;
  }
  report.add("ソケットにポート番号を割り当てました\n");
  sockaddr_in bound{};
  address_length_t bound_length = sizeof bound;
  ::getsockname(udp.get(), reinterpret_cast<sockaddr*>(&bound), &bound_length);
  char line[64];
  std::snprintf(line, sizeof line, "ポート番号 : %d\n", ntohs(bound.sin_port));
  report.add(line);
  // The address the socket stands for (bound to its device, not to it, here).
  report.add("IPアドレス : " + dhcp::dotted(local.address) + "\n");
  if (!udp.broadcast()) return CVX_SOCKET_ERROR;

  const std::uint32_t xid = tick_count();
  dhcp::Packet packet = dhcp::discover(xid, lease.mac);
  if (CVX_STATUS s = exchange(udp, packet, xid, kOffer, lease, report); s != CVX_OK) return s;
  dhcp::to_request(packet, lease.board, lease.server);
  if (CVX_STATUS s = exchange(udp, packet, xid, kAck, lease, report); s != CVX_OK) return s;

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

CVX_STATUS release_address(const CVX_LEASE& lease) {
  if (lease.board == 0 || lease.server == 0) return CVX_INVALID_ARGUMENT;
  UdpSocket udp;
  if (!udp.open()) return CVX_SOCKET_ERROR;
  udp.reuse_address();  // without it, a port still held shows at the bind
  if (!udp.bind_any(dhcp::kClientPort)) return CVX_SOCKET_ERROR;
  const dhcp::Packet packet = dhcp::release(tick_count(), lease);
  const long n = udp.send_to(packet.data(), packet.size(), lease.server, dhcp::kServerPort);
  return n == static_cast<long>(packet.size()) ? CVX_OK : CVX_SOCKET_ERROR;
}

}  // namespace corvex
