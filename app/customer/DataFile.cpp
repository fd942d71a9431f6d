#include "DataFile.h"

#include "serial/ChannelEntry.h"

#include <QStringList>

namespace kestrel {

DataFileContents parseDataFile(const QByteArray& bytes, int maxFrames) {
  DataFileContents out;
  const QList<QByteArray> lines = bytes.split('\n');
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QString text = QString::fromLatin1(lines[i]).trimmed();
    if (text.isEmpty()) continue;
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
    if (!whole || !fits(event.value_or(0)) || !fits(unit) || out.frames.size() == maxFrames) {
      out.refused.append(int(i) + 1);
      continue;
    }
    DataFrame frame{qint64(event.value_or(0)), std::nullopt};
    if (hasUnit) frame.unit = qint64(unit);
    out.frames.append(frame);
  }
  return out;
}

}  // namespace kestrel
