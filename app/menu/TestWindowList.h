#pragma once

namespace kestrel {

// Makes every built test window known to the menu by name.
void registerTestWindows();

}  // namespace kestrel
