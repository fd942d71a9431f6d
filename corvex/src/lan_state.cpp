#include "lan_state.h"

#include "state.h"

namespace corvex {

LanState::LanState(const Settings& settings)
    : network_port(settings.port_number),
      default_digest(settings.default_digest.value_or(builtin_default_digest())),
      password(default_digest) {}

LanState& lan_state() {
  static LanState* instance = new LanState(state().settings);
  return *instance;
}

}  // namespace corvex
