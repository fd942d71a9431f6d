// Board-level steps shared by several function families.
#pragma once

#include "corvex.h"

namespace corvex {

// Resync byte, then the version command; a flash writer's answer fails with CVX_NOT_MONITOR.
CVX_STATUS open_check(CVX_HANDLE handle);

}  // namespace corvex
