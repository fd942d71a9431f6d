#include "driver.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "platform.h"

namespace corvex {
namespace {

template <typename F>
bool bind(void* module, const char* name, F& slot) {
  slot = reinterpret_cast<F>(library_symbol(module, name));
  return slot != nullptr;
}

}  // namespace

void Driver::load() {
  const char* override_path = std::getenv("CORVEX_FTD2XX");
  void* module = open_library(override_path && *override_path ? override_path : driver_library_name());
  if (!module) return;
  // Every entry is looked up, so that none is left from an earlier binding.
  const bool found[] = {bind(module, "FT_ListDevices", ListDevices), bind(module, "FT_Open", Open),
                        bind(module, "FT_Close", Close), bind(module, "FT_ResetDevice", ResetDevice),
                        bind(module, "FT_SetLatencyTimer", SetLatencyTimer),
                        bind(module, "FT_SetTimeouts", SetTimeouts), bind(module, "FT_EE_UARead", EE_UARead),
                        bind(module, "FT_EE_UASize", EE_UASize), bind(module, "FT_EE_Read", EE_Read),
                        bind(module, "FT_Write", Write), bind(module, "FT_Read", Read),
                        bind(module, "FT_GetQueueStatus", GetQueueStatus), bind(module, "FT_Purge", Purge)};
  const bool all = std::all_of(std::begin(found), std::end(found), [](bool b) { return b; });
  if (!all) {
    // A partial driver is treated as no driver: nothing may call through a null entry.
    close_library(module);
    *this = Driver{};
    return;
  }
  module_ = module;
}

void Driver::unload() {
  if (module_) close_library(module_);
  *this = Driver{};
}

}  // namespace corvex
