// The operating system's side of the library on POSIX systems.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>

#include <system_error>

#include "platform.h"
#include "settings.h"
#include "sockets.h"

namespace corvex {

bool network_startup() { return true; }
void network_cleanup() {}

void* open_library(const char* name) { return ::dlopen(name, RTLD_NOW | RTLD_LOCAL); }
void* library_symbol(void* library, const char* name) { return ::dlsym(library, name); }
void close_library(void* library) { ::dlclose(library); }
const char* driver_library_name() { return "libftd2xx.so"; }

std::filesystem::path executable_folder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

std::optional<std::filesystem::path> locate_settings_file() {
  return find_settings_file(settings_search_folders());
}

void close_socket(socket_t s) { ::close(s); }
long last_error() { return errno; }
bool interrupted() { return errno == EINTR; }
int poll_sockets(PollEntry* fds, std::size_t n, int ms) { return ::poll(fds, n, ms); }

bool set_non_blocking(socket_t s) {
  const int flags = ::fcntl(s, F_GETFL);
  return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0  // SO_NOSIGPIPE is set on the socket instead
#endif
long send_some(socket_t s, const std::uint8_t* p, std::uint32_t n) { return ::send(s, p, n, MSG_NOSIGNAL); }
long receive_some(socket_t s, std::uint8_t* p, std::uint32_t n) { return ::recv(s, p, n, 0); }
bool would_block() { return errno == EAGAIN || errno == EWOULDBLOCK; }

bool bytes_waiting(socket_t s, std::uint32_t* count) {
  int n = 0;
  if (::ioctl(s, FIONREAD, &n) != 0 || n < 0) return false;
  *count = static_cast<std::uint32_t>(n);
  return true;
}

void shut_down(socket_t s) { ::shutdown(s, SHUT_RDWR); }
bool connect_pending() { return errno == EINPROGRESS || errno == EINTR; }
int wait_connected(socket_t s, int ms) { return poll_one(s, kWritable, ms); }
long receive_datagram(socket_t s, std::uint8_t* p, std::size_t n) { return ::recv(s, p, n, 0); }

}  // namespace corvex
