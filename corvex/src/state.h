// Process-wide library state, set up at the first call from any thread.
#pragma once

#include "device_table.h"
#include "driver.h"
#include "settings.h"

namespace corvex {

struct State {
  State();
  ~State();
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  DeviceTable table;
  Driver driver;
  Settings settings;
  std::int32_t network_port = 0;
};

// Thread-safe first-use construction; torn down when the library unloads.
State& state();

}  // namespace corvex
