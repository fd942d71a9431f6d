// What the LAN side keeps for the process: the port, the password digests and
// the list the last discovery left.
#pragma once

#include <cstdint>

#include "lan_discovery.h"
#include "password.h"
#include "settings.h"

namespace corvex {

struct LanState {
  explicit LanState(const Settings& settings);

  // These three change under the table lock; LAN opens copy them under it.
  std::int32_t network_port = 0;
  Digest default_digest{};
  Digest password{};
  // Written by each discovery, read by listings and opens; under the table lock.
  DiscoveryList discovery{};
};

// Made from the library's settings on first use, never destroyed.
LanState& lan_state();

}  // namespace corvex
