#pragma once
// Who holds a serial port that would not open: the lock file another program
// left for it and the process named there, or failing that a process that
// has the device open.

#include <QString>

namespace kestrel {

struct PortHolder {
  qint64 pid = 0;    // 0: not found
  QString name;      // the process's name, "" where it cannot be read
  QString lockFile;  // "" when the holder was found without one
};

PortHolder findPortHolder(const QString& device);
// "PID 1234（hold-port）, /run/lock/LCK..ttyS0"; "" when no holder was found.
QString portHolderText(const PortHolder& holder);

}  // namespace kestrel
