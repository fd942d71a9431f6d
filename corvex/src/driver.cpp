#include "driver.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace corvex {
namespace {

#ifdef _WIN32
constexpr const char* kLibraryName = "FTD2XX.DLL";
void* open_module(const char* name) { return reinterpret_cast<void*>(LoadLibraryA(name)); }
void* symbol(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}
void close_module(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }
#else
constexpr const char* kLibraryName = "libftd2xx.so";
void* open_module(const char* name) { return dlopen(name, RTLD_NOW | RTLD_LOCAL); }
void* symbol(void* module, const char* name) { return dlsym(module, name); }
void close_module(void* module) { dlclose(module); }
#endif

template <typename F>
bool bind(void* module, const char* name, F& slot) {
  slot = reinterpret_cast<F>(symbol(module, name));
  return slot != nullptr;
}

}  // namespace

void Driver::load() {
  const char* override_path = std::getenv("CORVEX_FTD2XX");
  void* module = open_module(override_path && *override_path ? override_path : kLibraryName);
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
    close_module(module);
    *this = Driver{};
    return;
  }
  module_ = module;
}

void Driver::unload() {
  if (module_) close_module(module_);
  *this = Driver{};
}

}  // namespace corvex
