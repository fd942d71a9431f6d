// The little that differs between the two socket libraries, as calls
// (platform_posix.cpp, platform_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform_sockets.h"

namespace corvex {

void close_socket(socket_t s);
long last_error();
// The last call was interrupted by a signal.
bool interrupted();
int poll_sockets(PollEntry* fds, std::size_t n, int ms);

// An IPv4 socket address: address in network order, port in host order.
inline sockaddr_in ipv4_address(std::uint32_t address, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = address;
  return a;
}

inline int poll_one(socket_t s, short events, int ms) {
  PollEntry fd{s, events, 0};
  return poll_sockets(&fd, 1, ms);
}

// What the stream transfers need beyond these.
bool set_non_blocking(socket_t s);
long send_some(socket_t s, const std::uint8_t* p, std::uint32_t n);
long receive_some(socket_t s, std::uint8_t* p, std::uint32_t n);
// The last call failed only because it would have had to wait.
bool would_block();
bool bytes_waiting(socket_t s, std::uint32_t* count);
void shut_down(socket_t s);
// The last connect goes on in the background.
bool connect_pending();
// Waits at most ms for a connect to finish either way: > 0 done, 0 time-out, < 0 error.
int wait_connected(socket_t s, int ms);

// One datagram; one longer than the buffer is cut to it, which is no failure.
long receive_datagram(socket_t s, std::uint8_t* p, std::size_t n);

}  // namespace corvex
