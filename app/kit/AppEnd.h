#pragma once
// Ending the whole application from anywhere (a window's load included).

#include <functional>

namespace kestrel {

// Hides every window and leaves every running event loop; later modal
// loops return at once.
void EndApplication();
// Replaces what EndApplication does; an empty function restores it.
void installApplicationEnd(std::function<void()> handler);

}  // namespace kestrel
