#pragma once
// Process-wide state shared by several windows. Everything lives until the
// process ends; nothing here is persisted.

#include <QString>
#include <QtGlobal>

namespace kestrel {

inline QString AppFolder;         // the executable's folder, no trailing separator
inline qint16 Pass01Granted = 0;  // -1 once the first access code was accepted
inline qint16 Pass02Granted = 0;  // -1 once the second access code was accepted
inline qint16 ComPortNumber = 1;  // COM1..COM8 for every serial window

}  // namespace kestrel
