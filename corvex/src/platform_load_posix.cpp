// The library's load and unload on POSIX systems: the state is made as the
// library loads, and shut down as it unloads.
#include "state.h"

namespace {
__attribute__((constructor)) void corvex_load() { corvex::state(); }
__attribute__((destructor)) void corvex_unload() { corvex::unload(); }
}  // namespace
