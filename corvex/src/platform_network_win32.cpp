// The host's addresses and broadcasts on Windows.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <memory>
#include <new>

#include "local_network.h"

namespace corvex {

CVX_STATUS local_addresses(std::vector<LocalAddress>& out) {
  ULONG size = 0;
  if (::GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER) return CVX_FAILED;
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[size]);
  if (!buffer) return CVX_NO_MEMORY;
  auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.get());
  if (::GetIpAddrTable(table, &size, FALSE) != NO_ERROR) return CVX_FAILED;
  for (DWORD i = 0; i < table->dwNumEntries; ++i)
    out.push_back({table->table[i].dwAddr, table->table[i].dwMask, {}});
  return CVX_OK;
}

// Windows hands a broadcast to a socket bound to the device's own address.
bool bind_for_broadcasts(socket_t s, const LocalAddress& local, std::uint16_t port) {
  const sockaddr_in a = ipv4_address(local.address, port);
  return ::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

// Windows sends the limited broadcast out of every device itself.
std::vector<BroadcastTarget> broadcast_targets() {
  BroadcastTarget all;
  all.to = htonl(INADDR_BROADCAST);
  return {all};
}

bool send_broadcast(socket_t s, const BroadcastTarget& target, std::uint16_t port, const std::uint8_t* data,
                    std::size_t n) {
  const sockaddr_in to = ipv4_address(target.to, port);
  return ::sendto(s, reinterpret_cast<const char*>(data), static_cast<int>(n), 0,
                  reinterpret_cast<const sockaddr*>(&to), sizeof to) == static_cast<int>(n);
}

}  // namespace corvex
