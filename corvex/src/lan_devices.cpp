// Opening boards on the LAN, and the LAN settings a caller can change.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "address_assignment.h"
#include "dhcp_client.h"
#include "flash_writer.h"
#include "guard.h"
#include "io.h"
#include "lan_devices.h"
#include "lan_discovery.h"
#include "lan_state.h"
#include "lan_transport.h"
#include "product_record.h"
#include "sockets.h"

using namespace corvex;

namespace {

constexpr std::size_t kNameLimit = 15;
constexpr std::size_t kPasswordLimit = 256;

}  // namespace

namespace corvex {

namespace {

constexpr std::uint32_t kEchoTimeoutMs = 1000;

// A board in its flash writer gets its address first, then must answer the echo.
CVX_STATUS writer_open(const char* name, CVX_HANDLE* handle) {
  CVX_LEASE lease{};
  // Not a dotted address: no board address, as an unreadable one reads.
  if (name && *name && ::inet_pton(AF_INET, name, &lease.board) != 1) lease.board = 0;
  Report report(nullptr);
  if (CVX_STATUS s = flash_open_lan(handle, lease, report); s != CVX_OK) return s;
  CVX_SetTimeouts(*handle, kEchoTimeoutMs, kEchoTimeoutMs);
  const CVX_STATUS echo = on_channel(*handle, [](Transport& t) { return writer_echo(t); });
  if (echo != CVX_OK) {
    CVX_Close(*handle);
    *handle = 0;
    return CVX_FAILED;
  }
  CVX_SetTimeouts(*handle, kDefaultTimeoutMs, kDefaultTimeoutMs);
  if (lease.server != 0) {
    State& s = state();
    std::lock_guard lock(s.table.lock());
    const std::shared_ptr<Transport> transport = s.table.row(*handle)->transport();
    if (auto* lan = dynamic_cast<LanTransport*>(transport.get())) lan->keep_lease(lease);
  }
  return CVX_OK;
}

// Names to try, with the port and digest of this moment, read under the table
// lock; the connecting happens outside it (a silent board must not stall others).
struct Candidates {
  std::int32_t port = 0;
  Digest digest{};
  std::vector<std::string> names;
};

template <typename Pick>
Candidates candidates(std::uint32_t flags, Pick&& pick) {
  LanState& lan = lan_state();
  Candidates c;
  std::lock_guard lock(state().table.lock());
  // A failed discovery still leaves the list to try.
  if (flags & CVX_OPEN_DISCOVER) lan_discover(lan.discovery, lan.network_port);
  c.port = lan.network_port;
  c.digest = lan.password;
  pick(lan.discovery, c.names);
  return c;
}

// Connects and logs in to each name in turn; the first that accepts gets a row.
// The status of the last attempt when none does.
CVX_STATUS connect_first(const Candidates& c, CVX_HANDLE* handle) {
  State& s = state();
  std::shared_ptr<LanSocket> link;
  CVX_STATUS status = CVX_DEVICE_NOT_FOUND;
  for (const std::string& n : c.names) {
    status = lan_connect(n.c_str(), c.port, &link);
    if (status == CVX_OK) status = lan_login(*link, c.digest, s.max_send_size());
    if (status == CVX_OK) break;
    link.reset();
  }
  if (!link) return status;
  *handle = take_lan_row(std::move(link), CVX_IF_LAN);
  return *handle ? CVX_OK : CVX_TABLE_FULL;
}

}  // namespace

CVX_STATUS lan_open(const char* name, std::uint32_t flags, CVX_HANDLE* handle) {
  if (flags & CVX_IF_FLASH_WRITER) return writer_open(name, handle);
  const bool named = name && *name;
  const Candidates c = candidates(flags, [&](const DiscoveryList& list, std::vector<std::string>& names) {
    if (named)
      names.emplace_back(name);
    else
      for (std::size_t i = 0; i < discovered(list); ++i) names.push_back(discovered_address(list[i]));
  });
  if (c.names.empty() || (named && c.names.front().size() > kNameLimit)) return CVX_DEVICE_NOT_FOUND;
  const CVX_STATUS status = connect_first(c, handle);
  // A listed board that refuses means no board, not a password error.
  return status == CVX_OK || status == CVX_TABLE_FULL || named ? status : CVX_DEVICE_NOT_FOUND;
}

CVX_STATUS lan_open_product(const ProductWanted& wanted, std::uint32_t flags, CVX_HANDLE* handle) {
  const Candidates c = candidates(flags, [&](const DiscoveryList& list, std::vector<std::string>& names) {
    for (std::size_t i = 0; i < discovered(list) && names.empty(); ++i)
      if (wanted.matches(list[i].data() + kDiscoveryHeader)) names.push_back(discovered_address(list[i]));
  });
  if (c.names.empty()) return CVX_DEVICE_NOT_FOUND;
  return connect_first(c, handle);
}

CVX_STATUS lan_list(std::int32_t* count, char* text, std::int32_t* size, std::uint32_t flags) {
  LanState& lan = lan_state();
  std::lock_guard lock(state().table.lock());
  if (flags & CVX_OPEN_DISCOVER) {
    if (CVX_STATUS st = lan_discover(lan.discovery, lan.network_port); st != CVX_OK) return st;
  }
  const std::size_t found = discovered(lan.discovery);
  const auto needed = static_cast<std::int32_t>(found * kAddressText);
  if (count) *count = static_cast<std::int32_t>(found);
  std::string joined;
  for (std::size_t i = 0; text && i < found; ++i) {
    joined += discovered_address(lan.discovery[i]);
    joined += '\0';
  }
  write_listing(std::move(joined), text, size, needed);
  return CVX_OK;
}

}  // namespace corvex

extern "C" {

CVX_EXPORT CVX_STATUS CVX_API CVX_SetPassword(const char* text) {
  return guarded([&] {
    const std::size_t length = text ? strnlen(text, kPasswordLimit) : 0;
    if (length >= kPasswordLimit) return CVX_INVALID_ARGUMENT;
    LanState& lan = lan_state();
    const Digest digest = length ? password_digest({text, length}) : lan.default_digest;
    std::lock_guard lock(state().table.lock());
    lan.password = digest;
    return CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_FlshOpenLan(CVX_HANDLE* handle, CVX_LEASE* lease, uint32_t, char* text) {
  return guarded([&] {
    Report report(text);
    if (!handle || !lease) return CVX_INVALID_ARGUMENT;
    return flash_open_lan(handle, *lease, report);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_FlshCloseLan(CVX_HANDLE handle, const CVX_LEASE* lease) {
  return guarded([&] {
    CVX_Close(handle);
    if (lease && lease->server != 0) release_address(*lease);
    return CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_SetNetworkPort(uint32_t port) {
  return guarded([&] {
    State& s = state();
    std::lock_guard lock(s.table.lock());
    lan_state().network_port = port ? static_cast<std::int32_t>(port) : s.settings.port_number;
    return CVX_OK;
  });
}

}  // extern "C"
