#pragma once
// What the simulated LAN board's sockets share: a failed call throws with
// its errno, and a descriptor is closed once.

#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace kestrel::sim {

[[noreturn]] inline void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

inline void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace kestrel::sim
