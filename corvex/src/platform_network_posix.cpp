// The host's addresses and broadcasts on POSIX systems (Linux).
#include <ifaddrs.h>
#include <net/if.h>

#include <algorithm>
#include <cstring>

#include "local_network.h"

namespace corvex {

CVX_STATUS local_addresses(std::vector<LocalAddress>& out) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return errno == ENOMEM ? CVX_NO_MEMORY : CVX_FAILED;
  for (const ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_netmask) continue;
    out.push_back({reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr,
                   reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr, i->ifa_name});
  }
  ::freeifaddrs(list);
  return CVX_OK;
}

// Linux hands a broadcast only to a socket bound to the wildcard address, so
// each socket takes the wildcard and keeps to its device instead.
bool bind_for_broadcasts(socket_t s, const LocalAddress& local, std::uint16_t port) {
  const int one = 1;
  const sockaddr_in a = ipv4_address(htonl(INADDR_ANY), port);
  return ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
         ::setsockopt(s, SOL_SOCKET, SO_BINDTODEVICE, local.device.c_str(),
                      static_cast<socklen_t>(local.device.size() + 1)) == 0 &&
         ::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

// Linux sends 255.255.255.255 out of one device only, so each IPv4 device
// gets the request on its own broadcast address.
std::vector<BroadcastTarget> broadcast_targets() {
  std::vector<BroadcastTarget> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (const ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_broadaddr) continue;
    if ((i->ifa_flags & IFF_LOOPBACK) || !(i->ifa_flags & IFF_BROADCAST) || !(i->ifa_flags & IFF_UP)) continue;
    BroadcastTarget t;
    t.to = reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr)->sin_addr.s_addr;
    t.source = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
    // An address added without a broadcast address reports none, or its own:
    // sent there, the request would only reach this host. The limited
    // broadcast out of that device reaches the boards on its link.
    if (t.to == 0 || t.to == t.source) {
      t.to = htonl(INADDR_BROADCAST);
      t.device_index = ::if_nametoindex(i->ifa_name);
      if (t.device_index == 0) continue;
    }
    // Two addresses on one subnet (or link) would otherwise ask, and list, every board twice.
    if (std::none_of(out.begin(), out.end(), [&](const BroadcastTarget& o) {
          return o.to == t.to && o.device_index == t.device_index;
        }))
      out.push_back(t);
  }
  ::freeifaddrs(list);
  return out;
}

bool send_broadcast(socket_t s, const BroadcastTarget& target, std::uint16_t port, const std::uint8_t* data,
                    std::size_t n) {
  sockaddr_in to = ipv4_address(target.to, port);
  iovec bytes{const_cast<std::uint8_t*>(data), n};
  msghdr message{};
  message.msg_name = &to;
  message.msg_namelen = sizeof to;
  message.msg_iov = &bytes;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  if (target.device_index != 0) {
    // The device to leave by, and its address as the source the boards answer to.
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = static_cast<int>(target.device_index);
    info.ipi_spec_dst.s_addr = target.source;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
  }
  return ::sendmsg(s, &message, 0) == static_cast<ssize_t>(n);
}

}  // namespace corvex
