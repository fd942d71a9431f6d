// What the library needs from the operating system beyond the C++ library.
#pragma once

namespace corvex {

// Socket library set-up, once per process (Windows only).
bool network_startup();
void network_cleanup();

}  // namespace corvex
