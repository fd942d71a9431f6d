// The host's own IPv4 addresses, and how a broadcast reaches or leaves each
// of them: the system's part of address assignment and LAN discovery
// (platform_network_posix.cpp, platform_network_win32.cpp). Addresses are
// their four bytes in network order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "corvex.h"
#include "sockets.h"

namespace corvex {

// A local IPv4 address, its mask and the device that carries it.
struct LocalAddress {
  std::uint32_t address = 0;
  std::uint32_t mask = 0;
  std::string device;
};

// Appends the host's IPv4 addresses; 0xFFFF0003 when the system is out of memory.
CVX_STATUS local_addresses(std::vector<LocalAddress>& out);

// Binds s to port so that it receives the broadcasts that reach local.
bool bind_for_broadcasts(socket_t s, const LocalAddress& local, std::uint16_t port);

// Where one broadcast request goes: an address, and for the limited broadcast
// on a link of its own, the device it leaves by and the source it carries.
struct BroadcastTarget {
  std::uint32_t to = 0;
  unsigned device_index = 0;  // 0: wherever the routing sends it
  std::uint32_t source = 0;
};

// One target per network the request must reach.
std::vector<BroadcastTarget> broadcast_targets();

// True when all n bytes went out.
bool send_broadcast(socket_t s, const BroadcastTarget& target, std::uint16_t port, const std::uint8_t* data,
                    std::size_t n);

}  // namespace corvex
