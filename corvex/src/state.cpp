#include "state.h"

#include <atomic>
#include <stdexcept>

#include "io.h"
#include "platform.h"

#ifdef _WIN32
#include <windows.h>
#endif


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

#ifdef _WIN32
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  // Loading the driver is left to the first call: no library loads under the loader lock.
  if (reason == DLL_PROCESS_DETACH) corvex::unload();
  return TRUE;
}
#else
namespace {
__attribute__((constructor)) void corvex_load() { corvex::state(); }
__attribute__((destructor)) void corvex_unload() { corvex::unload(); }
}  // namespace
#endif
