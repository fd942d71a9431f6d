#pragma once

#include <QPixmap>

namespace kestrel {

// The drawing of a playback unit used on the splash and the menu.
QPixmap productPicture(int width, int height);

}  // namespace kestrel
