#pragma once
// Test windows by name. Each window module registers its factory; the menu
// opens what is registered and nothing for a name that is not.

#include <QString>
#include <QtGlobal>
#include <functional>

class QDialog;
class QWidget;

namespace kestrel {

// What the menu hands a window as it opens it; the window reads nothing else
// of the menu's.
struct WindowContext {
  // A parent alone is the common case, so a widget converts.
  WindowContext(QWidget* parent = nullptr) : parent(parent) {}  // NOLINT(google-explicit-constructor)

  QWidget* parent;
  qint16 SubMode = 0;        // of a window shared by several entries
  qint16 PositiveLogic = 0;  // of the binary windows
  int ComPortNumber = 1;     // COM1..COM8 of the serial windows
  QString AppFolder;         // the program's folder, no trailing separator
  int Mode = -1;             // the menu entry's number; -1 when not opened from the menu
};

using WindowFactory = std::function<QDialog*(const WindowContext& context)>;

void registerTestWindow(const QString& name, WindowFactory factory);
void unregisterTestWindow(const QString& name);
WindowFactory testWindowFactory(const QString& name);

}  // namespace kestrel
