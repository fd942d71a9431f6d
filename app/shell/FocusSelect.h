#pragma once

class QLineEdit;

namespace kestrel {

// The box selects its whole text whenever it takes the focus, so that typing
// replaces the old entry.
void selectAllOnFocus(QLineEdit* box);

}  // namespace kestrel
