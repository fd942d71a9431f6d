#pragma once
// Block check character and the hex form used in log lines.

#include <QByteArray>
#include <QString>
#include <array>

namespace kestrel {

// XOR of every payload byte and ETX (03h); STX is not included.
quint8 CalcBCC(const QByteArray& payload);
inline quint8 CalcBCC(const QString& payload) { return CalcBCC(payload.toLatin1()); }

// STX + payload + ETX + BCC: the frame of every unit that checks with CalcBCC.
QByteArray stxFrame(const QByteArray& payload);
// The same frame as the four writes of the windows that pause between them:
// STX, payload, ETX, BCC.
std::array<QByteArray, 4> stxFrameParts(const QByteArray& payload);

// Upper-case hexadecimal without leading zeros: 5 -> "5", 252 -> "FC".
QString hexText(unsigned value);

// Every byte as two upper-case hexadecimal digits and "h", no separator:
// 10h 06h 00h gives "10h06h00h".
QString hexDump(const QByteArray& bytes);

}  // namespace kestrel
