// The socket library's headers and the types that differ between systems;
// the calls themselves are in the platform files.
#pragma once

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
#else
using socket_t = int;
using address_length_t = socklen_t;
using PollEntry = pollfd;
constexpr socket_t kNoSocket = -1;
constexpr short kReadable = POLLIN;
constexpr short kWritable = POLLOUT;
#endif

}  // namespace corvex
