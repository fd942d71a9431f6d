#include "lan_discovery.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#ifndef _WIN32
#include <ifaddrs.h>
#include <net/if.h>
#endif

#include "sockets.h"
#include "state.h"

namespace corvex {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kWindow = std::chrono::milliseconds(1500);
constexpr std::uint8_t kRequestType = 1;
constexpr std::uint8_t kAnswerType = 2;
constexpr std::size_t kHeader = 8;

// Where one request goes: an address, and for the limited broadcast on a
// link of its own, the interface it leaves by and the source it carries.
struct Target {
  in_addr to{};
  unsigned if_index = 0;  // 0: wherever the routing sends it
  in_addr source{};
};

#ifdef _WIN32
// Windows sends the limited broadcast out of every interface itself.
std::vector<Target> broadcast_targets() {
  Target all;
  all.to.s_addr = htonl(INADDR_BROADCAST);
  return {all};
}

bool send_request(socket_t s, const Target& t, std::uint16_t port, const std::uint8_t* request, std::size_t n) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr = t.to;
  return ::sendto(s, reinterpret_cast<const char*>(request), static_cast<int>(n), 0,
                  reinterpret_cast<const sockaddr*>(&to), sizeof to) == static_cast<int>(n);
}
#else
// Linux sends 255.255.255.255 out of one interface only, so each IPv4
// interface gets the request on its own broadcast address.
std::vector<Target> broadcast_targets() {
  std::vector<Target> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (const ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_broadaddr) continue;
    if ((i->ifa_flags & IFF_LOOPBACK) || !(i->ifa_flags & IFF_BROADCAST) || !(i->ifa_flags & IFF_UP)) continue;
    Target t;
    t.to = reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr)->sin_addr;
    t.source = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr;
    // An address added without a broadcast address reports none, or its own:
    // sent there, the request would only reach this host. The limited
    // broadcast out of that interface reaches the boards on its link.
    if (t.to.s_addr == 0 || t.to.s_addr == t.source.s_addr) {
      t.to.s_addr = htonl(INADDR_BROADCAST);
      t.if_index = ::if_nametoindex(i->ifa_name);
      if (t.if_index == 0) continue;
    }
    // Two addresses on one subnet (or link) would otherwise ask, and list, every board twice.
    if (std::none_of(out.begin(), out.end(), [&](const Target& o) {
          return o.to.s_addr == t.to.s_addr && o.if_index == t.if_index;
        }))
      out.push_back(t);
  }
  ::freeifaddrs(list);
  return out;
}

bool send_request(socket_t s, const Target& t, std::uint16_t port, const std::uint8_t* request, std::size_t n) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr = t.to;
  iovec data{const_cast<std::uint8_t*>(request), n};
  msghdr message{};
  message.msg_name = &to;
  message.msg_namelen = sizeof to;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  if (t.if_index != 0) {
    // The interface to leave by, and its address as the source the boards answer to.
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = static_cast<int>(t.if_index);
    info.ipi_spec_dst = t.source;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
  }
  return ::sendmsg(s, &message, 0) == static_cast<ssize_t>(n);
}
#endif

struct Socket {
  socket_t s;
  ~Socket() {
    if (s != kNoSocket) close_socket(s);
  }
};

}  // namespace

CVX_STATUS lan_discover(DiscoveryList& list, std::int32_t port) {
  Socket udp{::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)};
  if (udp.s == kNoSocket) return CVX_SOCKET_ERROR;
  int one = 1;
  // Bound to the wildcard address: answers come back to this port on
  // whichever interface the board sits behind.
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::setsockopt(udp.s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&one), sizeof one) != 0 ||
      ::bind(udp.s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
    return CVX_SOCKET_ERROR;
  const std::uint8_t request[kHeader] = {'N', 'C', 'V', 'X', kRequestType, 0, 0, 0};
  bool sent = false;
  for (const Target& t : broadcast_targets())
    sent |= send_request(udp.s, t, static_cast<std::uint16_t>(port), request, sizeof request);
  // One interface that is down must not hide the boards on the others.
  if (!sent) return CVX_SOCKET_ERROR;

  // A monotonic clock does not wrap, so the window needs no wrap-around wait.
  const auto end = Clock::now() + kWindow;
  std::size_t stored = 0;
  while (stored < list.size()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left < 0) break;
    const int ready = poll_one(udp.s, kReadable, static_cast<int>(left));
    if (ready < 0 && interrupted()) continue;
    if (ready < 0) return CVX_SOCKET_ERROR;
    if (ready == 0) continue;
    std::uint8_t buffer[kDiscoveryEntry] = {};
    sockaddr_in from{};
    address_length_t from_length = sizeof from;
    const long n = ::recvfrom(udp.s, reinterpret_cast<char*>(buffer), sizeof buffer, 0,
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
