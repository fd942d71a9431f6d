#include "sessions/Schedule.h"

#include "core/ChannelEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace kestrel {

namespace {

// The channel a text names, if it is a number within the table.
std::optional<std::size_t> channelOf(const QString& text, const ScheduleTable& table) {
  const std::optional<double> value = integerValue(text);
  if (!value || *value < 1 || *value >= double(table.size())) return std::nullopt;
  return std::size_t(*value);
}

QString cp932(const QByteArray& bytes, bool* ok) {
  QStringDecoder decoder("windows-31j");
  const QString text = decoder.decode(bytes);
  if (decoder.hasError()) *ok = false;
  return text;
}

}  // namespace

bool isScheduleFile(const QString& path) {
  return !path.isEmpty() && path.contains(u"wmj") && QFileInfo(path).isFile();
}

bool readScheduleFile(const QString& path, ScheduleTable& table) {
  QFile file(path);
  // A schedule is a few kilobytes; a file far beyond that is not one.
  constexpr qint64 kMaxScheduleBytes = 16 * 1024 * 1024;
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxScheduleBytes) return false;
  return readSchedule(file.readAll(), table);
}

QString withPath(const QString& message, const QString& path) {
  return path.isEmpty() ? message : message + QStringLiteral("\r\n") + QDir::toNativeSeparators(path);
}

bool readSchedule(const QByteArray& file, ScheduleTable& table) {
  bool ok = true;
  const QString text = cp932(file, &ok);
  if (!ok) return false;
  QStringList lines = text.split(u'\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();  // the last line's own ending
  ScheduleTable read = emptySchedule(int(table.size()) - 1);
  int section = -1;
  for (QString line : lines) {
    if (line.endsWith(u'\r')) line.chop(1);
    if (line.size() == 2 && line[0] == u'#' && line[1] >= u'0' && line[1] <= u'3') {
      section = line[1].digitValue();
      continue;
    }
    if (section == 2) {
      const QStringList parts = line.split(u',');
      if (parts.size() < 6) return false;
      const std::optional<std::size_t> channel = channelOf(parts[0], read);
      if (!channel) return false;
      for (int f = 1; f <= 4; ++f) read[*channel].Field[std::size_t(f)] = parts[f];
      read[*channel].Field[5] = parts.mid(5).join(u',');
    } else if (section == 3) {
      const qsizetype comma = line.indexOf(u',');
      if (comma < 0) return false;
      const std::optional<std::size_t> channel = channelOf(line.left(comma), read);
      if (!channel) return false;
      read[*channel].Field[6] = line.mid(comma + 1);
    }
  }
  table = std::move(read);
  return true;
}

bool parseReply(const QByteArray& buffer, ScheduleTable& table) {
  // Indices into the one buffer: a copy of the rest at every token made a
  // long reply cost its length squared.
  const QByteArrayView text(buffer);
  // One converter, reset for each field as a new one would be: opening one
  // per field cost more than the fields.
  QStringDecoder decoder("windows-31j");
  const auto field = [&](qsizetype from, qsizetype to) -> QString {
    decoder.resetState();
    return decoder.decode(text.sliced(from, to - from));
  };
  qsizetype at = 0;
  while (at >= text.size() || text[at] != '*') {
    const qsizetype comma = buffer.indexOf(',', at);
    if (comma < 0) return false;
    const QString first = field(at, comma);
    at = comma + 1;
    if (!isNumeric(first)) continue;
    const std::optional<std::size_t> channel = channelOf(first, table);
    if (!channel) return false;
    ScheduleRecord record;
    record.Field[0] = first;
    for (int f = 1; f <= 5; ++f) {
      const qsizetype end = buffer.indexOf(',', at);
      if (end < 0) return false;
      record.Field[std::size_t(f)] = field(at, end);
      at = end + 1;
    }
    table[*channel] = record;
  }
  return true;
}

}  // namespace kestrel
