#include "lan_discovery.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "local_network.h"
#include "sockets.h"
#include "udp_socket.h"
#include "state.h"

namespace corvex {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kWindow = std::chrono::milliseconds(1500);
constexpr std::uint8_t kRequestType = 1;
constexpr std::uint8_t kAnswerType = 2;
constexpr std::size_t kHeader = 8;

}  // namespace

CVX_STATUS lan_discover(DiscoveryList& list, std::int32_t port) {
  UdpSocket udp;
  if (!udp.open()) return CVX_SOCKET_ERROR;
  // Bound to the wildcard address: answers come back to this port on
  // whichever interface the board sits behind.
  if (!udp.broadcast() || !udp.bind_any(0)) return CVX_SOCKET_ERROR;
  const std::uint8_t request[kHeader] = {'N', 'C', 'V', 'X', kRequestType, 0, 0, 0};
  bool sent = false;
  for (const BroadcastTarget& t : broadcast_targets())
    sent |= send_broadcast(udp.get(), t, static_cast<std::uint16_t>(port), request, sizeof request);
  // One interface that is down must not hide the boards on the others.
  if (!sent) return CVX_SOCKET_ERROR;

  // A monotonic clock does not wrap, so the window needs no wrap-around wait.
  const auto end = Clock::now() + kWindow;
  std::size_t stored = 0;
  while (stored < list.size()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left < 0) break;
    const int ready = poll_one(udp.get(), kReadable, static_cast<int>(left));
    if (ready < 0 && interrupted()) continue;
    if (ready < 0) return CVX_SOCKET_ERROR;
    if (ready == 0) continue;
    std::uint8_t buffer[kDiscoveryEntry] = {};
    sockaddr_in from{};
    address_length_t from_length = sizeof from;
    const long n = ::recvfrom(udp.get(), reinterpret_cast<char*>(buffer), sizeof buffer, 0,
                              reinterpret_cast<sockaddr*>(&from), &from_length);
    if (n < 0 && interrupted()) continue;
    if (n < 0) return CVX_SOCKET_ERROR;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    if (!listed(list, stored, text) && store_answer(list[stored], buffer, static_cast<std::size_t>(n), text))
      ++stored;
  }
  if (stored < list.size()) list[stored].fill(0);
  return CVX_OK;
}

bool store_answer(DiscoveryEntry& entry, const std::uint8_t* datagram, std::size_t length, const char* sender) {
  if (length < kHeader || std::memcmp(datagram, "NCVX", 4) != 0 || datagram[4] != kAnswerType) return false;
  entry.fill(0);
  // A short answer carries no product record: only its header is kept.
  std::memcpy(entry.data(), datagram, length < kDiscoveryAnswer ? kHeader : kDiscoveryAnswer);
  std::memcpy(entry.data() + kDiscoveryAnswer, sender, strnlen(sender, kAddressText - 1));
  return true;
}

bool listed(const DiscoveryList& list, std::size_t stored, const char* sender) {
  const std::string address(sender, strnlen(sender, kAddressText - 1));
  for (std::size_t i = 0; i < std::min(stored, list.size()); ++i)
    if (discovered_address(list[i]) == address) return true;
  return false;
}

std::size_t discovered(const DiscoveryList& list) {
  std::size_t n = 0;
  while (n < list.size() && list[n][0] != 0) ++n;
  return n;
}

std::string discovered_address(const DiscoveryEntry& entry) {
  const char* text = reinterpret_cast<const char*>(entry.data() + kDiscoveryAnswer);
  return std::string(text, strnlen(text, kAddressText));
}

}  // namespace corvex
