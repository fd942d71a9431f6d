// Process-wide library state: created when the library is loaded, shut down
// when it is unloaded.
#pragma once

#include <algorithm>

#include "device_table.h"
#include "driver.h"
#include "settings.h"

namespace corvex {

struct State {
  State();
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  // Closes every open entry and releases the driver. The object itself stays,
  // so a call that still arrives (a caller's own clean-up at process exit)
  // finds free rows and no driver, and gets a status rather than a crash.
  void shut_down();

  DeviceTable table;
  Driver driver;
  Settings settings;

  // Largest piece handed to one socket send.
  std::uint32_t max_send_size() const { return static_cast<std::uint32_t>(std::max(settings.max_data_size, 1)); }
};

State& state();
// The library is being unloaded: shut the state down if it was ever created.
void unload();

}  // namespace corvex
