// Opening boards on the LAN, and the LAN settings a caller can change.
#include <cstring>
#include <mutex>

#include "guard.h"
#include "io.h"
#include "lan_transport.h"

using namespace corvex;

namespace {

constexpr std::size_t kNameLimit = 15;
constexpr std::size_t kPasswordLimit = 256;

}  // namespace

namespace corvex {

CVX_STATUS lan_open(const char* name, std::uint32_t flags, CVX_HANDLE* handle) {
  // Flash-writer boards on the LAN need address assignment first, which this
  // library does not do yet.
  if (flags & CVX_IF_FLASH_WRITER) return CVX_NOT_SUPPORTED;
  // Without a name the boards come from a discovery list; there is no discovery
  // yet, so that list is always empty and nothing is ever broadcast.
  if (!name || !*name || std::strlen(name) > kNameLimit) return CVX_DEVICE_NOT_FOUND;
  State& s = state();
  std::int32_t port = 0;
  Digest digest{};
  {
    std::lock_guard lock(s.table.lock());
    port = s.network_port;
    digest = s.password;
  }
  std::shared_ptr<LanSocket> link;
  if (CVX_STATUS st = lan_connect(name, port, &link); st != CVX_OK) return st;
  if (CVX_STATUS st = lan_login(*link, digest, s.max_send_size()); st != CVX_OK) return st;
  // The channel word only marks the row as used; the row keeps the socket itself.
  const auto marker = reinterpret_cast<std::uintptr_t>(link.get());
  *handle = s.table.take(marker, CVX_IF_LAN, std::move(link));
  return *handle ? CVX_OK : CVX_TABLE_FULL;
}

}  // namespace corvex

extern "C" {

CVX_EXPORT CVX_STATUS CVX_API CVX_SetPassword(const char* text) {
  return guarded([&] {
    const std::size_t length = text ? strnlen(text, kPasswordLimit) : 0;
    if (length >= kPasswordLimit) return CVX_INVALID_ARGUMENT;
    State& s = state();
    const Digest digest = length ? password_digest({text, length}) : s.default_digest;
    std::lock_guard lock(s.table.lock());
    s.password = digest;
    return CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_SetNetworkPort(uint32_t port) {
  return guarded([&] {
    State& s = state();
    std::lock_guard lock(s.table.lock());
    s.network_port = port ? static_cast<std::int32_t>(port) : s.settings.port_number;
    return CVX_OK;
  });
}

}  // extern "C"
