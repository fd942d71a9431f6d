#include "core/ModString.h"

#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>

namespace kestrel {
namespace {

constexpr const char* kCp932 = "windows-31j";

// CP932 bytes of one code point; '?' when CP932 has no such character.
QByteArray encodeOne(char32_t codePoint) {
  if (codePoint < 0x80) return QByteArray(1, char(codePoint));
  QStringEncoder encoder(kCp932);
  const QByteArray bytes = encoder.encode(QString::fromUcs4(&codePoint, 1));
  if (encoder.hasError() || bytes.isEmpty()) return QByteArray(1, '?');
  return bytes;
}

struct Piece {
  qsizetype begin;  // index of the character in the QString
  qsizetype size;   // its UTF-16 length
  QByteArray bytes;
};

QList<Piece> pieces(const QString& text) {
  QList<Piece> out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size();) {
    const qsizetype width = (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2 : 1;
    const char32_t cp = width == 2 ? QChar::surrogateToUcs4(text[i], text[i + 1]) : text[i].unicode();
    out.append({i, width, encodeOne(cp)});
    i += width;
  }
  return out;
}

}  // namespace

QByteArray toCp932(const QString& text) {
  QByteArray out;
  for (const Piece& p : pieces(text)) out += p.bytes;
  return out;
}

QString fromCp932(const QByteArray& bytes) {
  QStringDecoder decoder(kCp932);
  return decoder.decode(bytes);
}

int ByteLen(const QString& text) {
  int n = 0;
  for (const Piece& p : pieces(text)) n += int(p.bytes.size());
  return n;
}

QString LeftBytes(const QString& text, int n) {
  if (n <= 0) return {};
  int taken = 0;
  for (const Piece& p : pieces(text)) {
    const int len = int(p.bytes.size());
    if (taken + len > n) return text.left(p.begin) + fromCp932(p.bytes.left(n - taken));
    taken += len;
  }
  return text;
}

QString RightBytes(const QString& text, int n) {
  if (n <= 0) return {};
  const QList<Piece> all = pieces(text);
  int taken = 0;
  for (qsizetype i = all.size() - 1; i >= 0; --i) {
    const Piece& p = all[i];
    const int len = int(p.bytes.size());
    if (taken + len > n) return fromCp932(p.bytes.right(n - taken)) + text.mid(p.begin + p.size);
    taken += len;
  }
  return text;
}

QString TrimAtNul(const QString& text) {
  const qsizetype nul = text.indexOf(QChar(0));
  return nul < 0 ? text : text.left(nul);
}

int InStrNoCase(const QString& text, const QString& sought) { return InStrNoCase(1, text, sought); }

int InStrNoCase(int start, const QString& text, const QString& sought, std::optional<int> compare) {
  if (start < 1 || start > text.size() + 1) return 0;
  const bool exact = compare.has_value() && *compare == 0;
  const qsizetype at = exact ? text.indexOf(sought, start - 1) : text.toUpper().indexOf(sought.toUpper(), start - 1);
  return at < 0 ? 0 : int(at + 1);
}

QString TrimSpaces(const QString& text) {
  qsizetype begin = 0, end = text.size();
  while (begin < end && text[begin] == u' ') ++begin;
  while (end > begin && text[end - 1] == u' ') --end;
  return text.mid(begin, end - begin);
}

}  // namespace kestrel
