#include "sessions/DataFile.h"

#include "core/ChannelEntry.h"

#include <QBuffer>
#include <QStringList>
#include <cstring>

namespace kestrel {

namespace {

constexpr qint64 kChunkBytes = 64 * 1024;
// Far beyond "16,9999" with any padding an editor adds.
constexpr qsizetype kMaxLineBytes = 64 * 1024;

// What QString::trimmed() takes away from a Latin-1 text.
bool isBlank(const char* from, const char* to) {
  for (; from != to; ++from) {
    const auto c = static_cast<unsigned char>(*from);
    if (c != 0x20 && (c < 0x09 || c > 0x0D) && c != 0x85 && c != 0xA0) return false;
  }
  return true;
}

class Lines {
 public:
  Lines(DataFileContents& out, int maxFrames) : out_(out), maxFrames_(maxFrames) {}

  void append(const char* from, const char* to) {
    if (!overlong_ && line_.size() + (to - from) <= kMaxLineBytes) {
      line_.append(from, to - from);
      return;
    }
    if (!overlong_) {
      overlong_ = true;
      overlongBlank_ = isBlank(line_.cbegin(), line_.cend());
      line_.clear();
    }
    overlongBlank_ = overlongBlank_ && isBlank(from, to);
  }

  void end() {
    ++number_;
    if (overlong_) {
      if (!overlongBlank_) refuse();
    } else {
      judge();
    }
    line_.clear();
    overlong_ = false;
  }

 private:
  void refuse() {
    ++out_.refusedCount;
    if (out_.refused.size() < DataFileContents::kNamedRefused) out_.refused.append(number_);
  }

  void judge() {
    const QString text = QString::fromLatin1(line_).trimmed();
    if (text.isEmpty()) return;
    const QStringList fields = text.split(u',');
    const std::optional<double> event = integerValue(fields[0]);
    const bool hasUnit = fields.size() == 2;
    bool whole = event.has_value() && fields.size() <= 2;
    double unit = 0;
    if (whole && hasUnit) {
      const std::optional<double> value = integerValue(fields[1]);
      whole = value.has_value();
      unit = value.value_or(0);
    }
    // Beyond 16 bits a number is no frame of this table; reading it would overflow.
    const auto fits = [](double v) { return v >= -32768 && v <= 32767; };
    if (!whole || !fits(event.value_or(0)) || !fits(unit) || out_.frames.size() == maxFrames_) {
      refuse();
      return;
    }
    DataFrame frame{qint64(event.value_or(0)), std::nullopt};
    if (hasUnit) frame.unit = qint64(unit);
    out_.frames.append(frame);
  }

  DataFileContents& out_;
  const int maxFrames_;
  QByteArray line_;
  qint64 number_ = 0;
  bool overlong_ = false;
  bool overlongBlank_ = true;
};

}  // namespace

DataFileContents parseDataFile(QIODevice& in, int maxFrames) {
  DataFileContents out;
  Lines lines(out, maxFrames);
  QByteArray chunk(kChunkBytes, Qt::Uninitialized);
  for (;;) {
    const qint64 got = in.read(chunk.data(), kChunkBytes);
    if (got < 0) {
      out.readFailed = true;
      return out;
    }
    if (got == 0) break;
    const char* from = chunk.constData();
    const char* const end = from + got;
    while (from != end) {
      const auto* newline = static_cast<const char*>(std::memchr(from, '\n', std::size_t(end - from)));
      lines.append(from, newline ? newline : end);
      if (!newline) break;
      lines.end();
      from = newline + 1;
    }
  }
  lines.end();  // what follows the last line break, maybe nothing
  return out;
}

DataFileContents parseDataFile(const QByteArray& bytes, int maxFrames) {
  QBuffer buffer;
  buffer.setData(bytes);
  buffer.open(QIODevice::ReadOnly);
  return parseDataFile(buffer, maxFrames);
}

}  // namespace kestrel
