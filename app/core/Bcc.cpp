#include "core/Bcc.h"

namespace kestrel {

quint8 CalcBCC(const QByteArray& payload) {
  quint8 bcc = 0;
  for (const char c : payload) bcc ^= quint8(c);
  return bcc ^ 0x03;
}

std::array<QByteArray, 4> stxFrameParts(const QByteArray& payload) {
  return {QByteArray(1, '\x02'), payload, QByteArray(1, '\x03'), QByteArray(1, char(CalcBCC(payload)))};
}

QByteArray stxFrame(const QByteArray& payload) {
  const std::array<QByteArray, 4> parts = stxFrameParts(payload);
  return parts[0] + parts[1] + parts[2] + parts[3];
}

QString hexText(unsigned value) { return QString::number(value, 16).toUpper(); }

QString hexDump(const QByteArray& bytes) {
  static constexpr char digits[] = "0123456789ABCDEF";
  QString text;
  text.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    const auto b = quint8(c);
    text += QLatin1Char(digits[b >> 4]);
    text += QLatin1Char(digits[b & 0x0F]);
    text += u'h';
  }
  return text;
}

}  // namespace kestrel
