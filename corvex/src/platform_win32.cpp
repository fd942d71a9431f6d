// The operating system's side of the library on Windows.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "platform.h"
#include "settings.h"
#include "sockets.h"

namespace corvex {

bool network_startup() {
  WSADATA data{};
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  if (data.wVersion == MAKEWORD(2, 2)) return true;
  ::WSACleanup();
  return false;
}

void network_cleanup() { ::WSACleanup(); }

void* open_library(const char* name) { return reinterpret_cast<void*>(::LoadLibraryA(name)); }
void* library_symbol(void* library, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}
void close_library(void* library) { ::FreeLibrary(static_cast<HMODULE>(library)); }
const char* driver_library_name() { return "FTD2XX.DLL"; }

std::filesystem::path executable_folder() {
  char buffer[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  return n ? std::filesystem::path(std::string(buffer, n)).parent_path() : std::filesystem::path();
}

std::optional<std::filesystem::path> locate_settings_file() {
  char found[MAX_PATH];
  const DWORD n = ::SearchPathA(nullptr, "Corvex.ini", nullptr, MAX_PATH, found, nullptr);
  if (n == 0 || n >= MAX_PATH) return std::nullopt;
  return std::filesystem::path(found);
}

void close_socket(socket_t s) { ::closesocket(s); }
long last_error() { return ::WSAGetLastError(); }
bool interrupted() { return ::WSAGetLastError() == WSAEINTR; }
int poll_sockets(PollEntry* fds, std::size_t n, int ms) { return ::WSAPoll(fds, static_cast<ULONG>(n), ms); }

bool set_non_blocking(socket_t s) {
  u_long on = 1;
  return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

long send_some(socket_t s, const std::uint8_t* p, std::uint32_t n) {
  return ::send(s, reinterpret_cast<const char*>(p), static_cast<int>(n), 0);
}

long receive_some(socket_t s, std::uint8_t* p, std::uint32_t n) {
  return ::recv(s, reinterpret_cast<char*>(p), static_cast<int>(n), 0);
}

long receive_datagram(socket_t s, std::uint8_t* p, std::size_t n) {
  const long got = ::recv(s, reinterpret_cast<char*>(p), static_cast<int>(n), 0);
  if (got < 0 && ::WSAGetLastError() == WSAEMSGSIZE) return static_cast<long>(n);
  return got;
}

bool would_block() { return ::WSAGetLastError() == WSAEWOULDBLOCK; }

bool bytes_waiting(socket_t s, std::uint32_t* count) {
  u_long n = 0;
  if (::ioctlsocket(s, FIONREAD, &n) != 0) return false;
  *count = static_cast<std::uint32_t>(n);
  return true;
}

void shut_down(socket_t s) { ::shutdown(s, SD_BOTH); }
bool connect_pending() { return ::WSAGetLastError() == WSAEWOULDBLOCK; }

// WSAPoll does not report a failed connect, select does (in the except set).
int wait_connected(socket_t s, int ms) {
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval limit{ms / 1000, (ms % 1000) * 1000};
  return ::select(0, nullptr, &writable, &failed, &limit);
}

}  // namespace corvex
