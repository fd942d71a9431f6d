#include "Bcc.h"

namespace kestrel {

quint8 CalcBCC(const QByteArray& payload) {
  quint8 bcc = 0;
  for (const char c : payload) bcc ^= quint8(c);
  return bcc ^ 0x03;
}

QString hexText(unsigned value) { return QString::number(value, 16).toUpper(); }

}  // namespace kestrel
