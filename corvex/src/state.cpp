#include "state.h"

#include <atomic>
#include <stdexcept>

#include "io.h"
#include "platform.h"

namespace corvex {

State::State() {
  driver.load();
  settings = load_settings();
  if (!network_startup()) throw std::runtime_error("socket library 2.2 not available");
}

void State::shut_down() {
  // Every open entry is closed; one failing close does not stop the rest.
  table.for_each_open([](DeviceEntry& entry) { close_entry(entry, CloseWait::No); });
  driver.unload();
  network_cleanup();
}

namespace {
std::atomic<State*> created{nullptr};
}  // namespace

void unload() {
  if (State* s = created.load()) s->shut_down();
}

State& state() {
  // Never destroyed: static destruction order must not decide whether a late
  // call finds the table.
  static State* instance = [] {
    auto* s = new State();
    created.store(s);
    return s;
  }();
  return *instance;
}

}  // namespace corvex
