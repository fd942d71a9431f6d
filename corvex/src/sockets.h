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
#include <netinet/in.h>
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

}  // namespace corvex
