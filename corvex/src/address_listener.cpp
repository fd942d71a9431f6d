#include "address_listener.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "address_packets.h"
#include "dhcp_client.h"
#include "local_network.h"
#include "udp_socket.h"

namespace corvex {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kMostAddresses = 16;
constexpr auto kRequestWait = 3000ms;
constexpr std::uint32_t kLoopback = 0x0100007F;  // 127.0.0.1 in network order

bool same_subnet(std::uint32_t a, std::uint32_t b, std::uint32_t mask) { return (a & mask) == (b & mask); }

// Sockets on port 67, one per local address, each with the address it stands for.
struct Listener {
  UdpSocket udp;
  LocalAddress local;
};

// Waits for the board's request; its listener, or null with the status.
Listener* await_request(std::vector<Listener>& listeners, dhcp::Request& request, CVX_STATUS& status,
                        Report& report) {
  const auto deadline = Clock::now() + kRequestWait;
  std::vector<PollEntry> fds;
  for (const Listener& l : listeners) fds.push_back({l.udp.get(), kReadable, 0});
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

}  // namespace

// Everything up to the board having its address; the sockets close on return.
CVX_STATUS assign_address(CVX_LEASE& lease, Report& report) {
  std::vector<LocalAddress> found;
  if (CVX_STATUS s = local_addresses(found); s != CVX_OK) return s;
  std::vector<Listener> listeners;
  for (const LocalAddress& l : found) {
    if (listeners.size() == kMostAddresses) break;
    if (l.address == 0 || l.address == kLoopback) continue;
    if (lease.board != 0 && !same_subnet(l.address, lease.board, l.mask)) continue;
    listeners.push_back({UdpSocket{}, l});
  }
  if (listeners.empty()) {
    report.add("エラー : 接続可能なネットワークが見つかりませんでした\n");
    return CVX_FAILED;
  }
  long bind_error = 0;
  std::vector<Listener> bound;
  for (Listener& l : listeners) {
    if (!l.udp.open()) break;
    if (!bind_for_broadcasts(l.udp.get(), l.local, dhcp::kServerPort)) {
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
  const long n = asked->udp.send_to(reply.data(), reply.size(), kEveryone, dhcp::kClientPort);
  if (n != static_cast<long>(reply.size())) {
    report.addf("エラー : 送信に失敗しました status=%ld, err=%ld\n", n, last_error());
    return CVX_SOCKET_ERROR;
  }
  return CVX_OK;
}

}  // namespace corvex
