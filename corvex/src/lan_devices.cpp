// Opening boards on the LAN, and the LAN settings a caller can change.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "guard.h"
#include "io.h"
#include "lan_discovery.h"
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
  State& s = state();
  std::int32_t port = 0;
  Digest digest{};
  std::vector<std::string> names;
  {
    std::lock_guard lock(s.table.lock());
    // A failed discovery still leaves the list to try.
    if (flags & CVX_OPEN_DISCOVER) lan_discover(s.discovery, s.network_port);
    port = s.network_port;
    digest = s.password;
    if (name && *name) {
      names.emplace_back(name);
    } else {
      for (std::size_t i = 0; i < discovered(s.discovery); ++i) names.push_back(discovered_address(s.discovery[i]));
    }
  }
  if (names.empty()) return CVX_DEVICE_NOT_FOUND;
  if (name && *name && names.front().size() > kNameLimit) return CVX_DEVICE_NOT_FOUND;
  std::shared_ptr<LanSocket> link;
  CVX_STATUS status = CVX_DEVICE_NOT_FOUND;
  for (const std::string& n : names) {
    status = lan_connect(n.c_str(), port, &link);
    if (status == CVX_OK) status = lan_login(*link, digest, s.max_send_size());
    if (status == CVX_OK) break;
    link.reset();
  }
  // A listed board that refuses means no board, not a password error.
  if (!link) return (name && *name) ? status : CVX_DEVICE_NOT_FOUND;
  // The channel word only marks the row as used; the row keeps the socket itself.
  const auto marker = reinterpret_cast<std::uintptr_t>(link.get());
  *handle = s.table.take(marker, CVX_IF_LAN, std::move(link));
  return *handle ? CVX_OK : CVX_TABLE_FULL;
}

CVX_STATUS lan_list(std::int32_t* count, char* text, std::int32_t* size, std::uint32_t flags) {
  State& s = state();
  std::lock_guard lock(s.table.lock());
  if (flags & CVX_OPEN_DISCOVER) {
    if (CVX_STATUS st = lan_discover(s.discovery, s.network_port); st != CVX_OK) return st;
  }
  const std::size_t found = discovered(s.discovery);
  const auto needed = static_cast<std::int32_t>(found * kAddressText);
  if (count) *count = static_cast<std::int32_t>(found);
  if (text && size && *size > 0) {
    std::string joined;
    for (std::size_t i = 0; i < found; ++i) {
      joined += discovered_address(s.discovery[i]);
      joined += '\0';
    }
    const std::size_t written = std::min(joined.size(), static_cast<std::size_t>(*size));
    // Zeros between the addresses become spaces; the last byte written stays as it is.
    for (std::size_t i = 0; i + 1 < written; ++i)
      if (joined[i] == '\0') joined[i] = ' ';
    std::memcpy(text, joined.data(), written);
    *size = joined.size() <= static_cast<std::size_t>(*size) ? static_cast<std::int32_t>(written) : needed;
  } else if (size) {
    *size = needed;
  }
  return CVX_OK;
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
