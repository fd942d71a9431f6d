#pragma once
// The one clock sessions, ports and measurements time a run by.

#include <chrono>

namespace kestrel {

using EventClock = std::chrono::steady_clock;

}  // namespace kestrel
