#pragma once
// Block check character and the hex form used in log lines.

#include <QByteArray>
#include <QString>

namespace kestrel {

// XOR of every payload byte and ETX (03h); STX is not included.
quint8 CalcBCC(const QByteArray& payload);
inline quint8 CalcBCC(const QString& payload) { return CalcBCC(payload.toLatin1()); }

// Upper-case hexadecimal without leading zeros: 5 -> "5", 252 -> "FC".
QString hexText(unsigned value);

}  // namespace kestrel
