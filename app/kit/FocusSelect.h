#pragma once

class QLineEdit;

namespace kestrel {

// Selects the whole text of the focused entry control.
void SelectAllText();

// The box selects its whole text whenever it takes the focus, so that typing
// replaces the old entry.
void selectAllOnFocus(QLineEdit* box);

}  // namespace kestrel
