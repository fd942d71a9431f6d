#pragma once
// What the menu and its dialogs share while the program runs; nothing here
// is persisted. The start-up owns one and hands it down; a test window gets
// what it needs of it in its WindowContext.

#include <QString>
#include <QtGlobal>

namespace kestrel {

struct BenchState {
  QString AppFolder;         // the executable's folder, no trailing separator
  qint16 Pass01Granted = 0;  // -1 once the first access code was accepted
  qint16 Pass02Granted = 0;  // -1 once the second access code was accepted
  qint16 ComPortNumber = 1;  // COM1..COM8 for every serial window
};

}  // namespace kestrel
