// Nothing thrown inside may cross the C boundary.
#pragma once

#include <new>

#include "corvex.h"

namespace corvex {

template <typename F>
CVX_STATUS guarded(F&& f) noexcept {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return CVX_NO_MEMORY;
  } catch (...) {
    return CVX_FAILED;
  }
}

// For functions that return a value rather than a status: failure gives fallback.
template <typename R, typename F>
R guarded_value(R fallback, F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    return fallback;
  }
}

}  // namespace corvex
