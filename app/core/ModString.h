#pragma once
// Byte-wise string helpers. Byte counts are those of the text's CP932
// (Windows Shift-JIS) form, where a Japanese character takes two bytes.

#include <QByteArray>
#include <QString>
#include <optional>

namespace kestrel {

// CP932 conversion. Characters CP932 cannot hold become '?' when encoded.
QByteArray toCp932(const QString& text);
QString fromCp932(const QByteArray& bytes);

int ByteLen(const QString& text);
// Characters that fit whole are kept as they are; a cut through a two-byte
// character yields what CP932 decoding makes of the half.
QString LeftBytes(const QString& text, int n);
QString RightBytes(const QString& text, int n);
QString TrimAtNul(const QString& text);

// 1-based position of `sought` in `text`, 0 when absent. Comparison mode 0
// is exact; anything else (or none) compares upper-cased texts.
int InStrNoCase(const QString& text, const QString& sought);
int InStrNoCase(int start, const QString& text, const QString& sought, std::optional<int> compare = std::nullopt);

// Leading and trailing ASCII spaces removed (tabs and full-width spaces stay).
QString TrimSpaces(const QString& text);

}  // namespace kestrel
