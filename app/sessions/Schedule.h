#pragma once
// Schedules as the transport-bureau units hold them: seven text fields per
// channel, read from the card data's schedule file or from a unit's reply.

#include <QByteArray>
#include <QString>
#include <array>
#include <vector>

namespace kestrel {

struct ScheduleRecord {
  // 0: the channel as the unit sent it; 1-5: the schedule fields; 6: the
  // section "#3" text of the file.
  std::array<QString, 7> Field;
};

// Indexed by channel, 1 to the table's size; entry 0 is unused.
using ScheduleTable = std::vector<ScheduleRecord>;

inline ScheduleTable emptySchedule(int channels) { return ScheduleTable(std::size_t(channels) + 1); }

inline const QString kNoScheduleFile =
    QStringLiteral("スケジュールファイルの存在するカードデータフォルダを指定して下さい。");

// A path the schedule windows take: a file, "wmj" in its path.
bool isScheduleFile(const QString& path);

// A schedule file's bytes (CP932): sections "#0"-"#3"; a "#2" line is the
// channel and five fields, the fifth keeping any further commas; a "#3"
// line is the channel and the text of field 6. Any fault fails the whole
// read: false, and the table is left as it was.
bool readSchedule(const QByteArray& file, ScheduleTable& table);
// The same from a file; false when it cannot be opened or does not parse.
bool readScheduleFile(const QString& path, ScheduleTable& table);
// Ends the schedule windows' failure messages: the path on a line of its own.
QString withPath(const QString& message, const QString& path);

// A unit's reply text, ended by "*": records of six comma-terminated
// fields, the first the channel; text before a record is skipped. False
// when it does not end in "*" or names a channel outside the table.
bool parseReply(const QByteArray& buffer, ScheduleTable& table);

}  // namespace kestrel
