#pragma once
// A port and a log in memory, for driving protocol sessions.

#include "kit/LogGrid.h"
#include "link/SerialLink.h"
#include "support/SessionFakes.h"

#include <QByteArray>
#include <QStringList>

namespace kestrel::test {

// A channel frame as the unit must see it, folded here independently of the code.
inline QByteArray expectedFrame(const QByteArray& digits) {
  char bcc = 0x03;
  for (char c : digits) bcc ^= c;
  return QByteArray("\x02") + digits + QByteArray("\x03") + QByteArray(1, bcc);
}

// Points COM<n> at a device and makes it the port windows open, for one test.
class ComPortOverride {
 public:
  ComPortOverride(int number, const QString& device)
      : variable_(QByteArray("KESTREL_COM") + QByteArray::number(number)) {
    point(device);
  }
  ~ComPortOverride() { qunsetenv(variable_.constData()); }
  ComPortOverride(const ComPortOverride&) = delete;
  ComPortOverride& operator=(const ComPortOverride&) = delete;
  void point(const QString& device) { qputenv(variable_.constData(), device.toLocal8Bit()); }

 private:
  QByteArray variable_;
};

}  // namespace kestrel::test
