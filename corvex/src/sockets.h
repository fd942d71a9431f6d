// The little that differs between the two socket libraries.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace corvex {

#ifdef _WIN32
using socket_t = std::uintptr_t;
using address_length_t = int;
using PollEntry = WSAPOLLFD;
constexpr socket_t kNoSocket = INVALID_SOCKET;
constexpr short kReadable = POLLRDNORM;
constexpr short kWritable = POLLWRNORM;
inline void close_socket(socket_t s) { ::closesocket(s); }
inline long last_error() { return ::WSAGetLastError(); }
inline bool interrupted() { return ::WSAGetLastError() == WSAEINTR; }
inline int poll_sockets(PollEntry* fds, std::size_t n, int ms) { return ::WSAPoll(fds, static_cast<ULONG>(n), ms); }
#else
using socket_t = int;
using address_length_t = socklen_t;
using PollEntry = pollfd;
constexpr socket_t kNoSocket = -1;
constexpr short kReadable = POLLIN;
constexpr short kWritable = POLLOUT;
inline void close_socket(socket_t s) { ::close(s); }
inline long last_error() { return errno; }
inline bool interrupted() { return errno == EINTR; }
inline int poll_sockets(PollEntry* fds, std::size_t n, int ms) { return ::poll(fds, n, ms); }
#endif

inline int poll_one(socket_t s, short events, int ms) {
  PollEntry fd{s, events, 0};
  return poll_sockets(&fd, 1, ms);
}

// What the stream transfers need beyond these (platform_posix.cpp, platform_win32.cpp).
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

}  // namespace corvex
