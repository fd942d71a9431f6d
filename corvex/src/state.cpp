#include "state.h"

namespace corvex {

State::State() {
  driver.load();
  settings = load_settings();
  network_port = settings.port_number;
}

State::~State() {
  // Every open USB entry is closed; one failing close does not stop the rest.
  table.for_each_open([this](DeviceEntry& entry) {
    if (entry.is_usb() && driver.present()) driver.Close(reinterpret_cast<FT_HANDLE>(entry.chan()));
    entry.channel.store(0);
  });
  driver.unload();
}

State& state() {
  static State instance;
  return instance;
}

}  // namespace corvex
