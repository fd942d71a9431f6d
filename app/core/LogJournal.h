#pragma once
// The whole log of a window, time-stamped, streamed to a file of its own as
// the lines come: the grid keeps only the newest lines, the journal all of
// them, and a saved log is read back from it.

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringEncoder>
#include <memory>

namespace kestrel {

// How journals and saved logs are written: CP932 with CRLF unless the
// operator chose UTF-8 with LF on the settings screen.
enum class LogTextFormat { Cp932Crlf, Utf8Lf };
LogTextFormat logTextFormat();
// False when the settings store could not be written.
bool setLogTextFormat(LogTextFormat format);

// The first line of a saved log, its line end included.
QByteArray logFileHeader(const QDateTime& now, LogTextFormat format = LogTextFormat::Cp932Crlf);
// "yyyy/MM/dd HH:mm:ss.zzz " + the text: a line of a saved log, without its CRLF.
QString stampedLine(qint64 stampMs, const QString& text);
// The same line as a saved log holds it: CP932, CRLF.
QByteArray savedLine(QStringEncoder& cp932, qint64 stampMs, const QString& text);

// Saved-log lines in one format.
class LogLineEncoder {
 public:
  explicit LogLineEncoder(LogTextFormat format);
  QByteArray line(qint64 stampMs, const QString& text);
  LogTextFormat format() const { return format_; }

 private:
  LogTextFormat format_;
  QStringEncoder encoder_;
};

class LogJournal {
 public:
  // Journals go to $KESTREL_LOG_DIR, else the user's data folder's "logs";
  // those older than kKeepDays are removed when a new one opens.
  static constexpr int kKeepDays = 30;
  static QString folder();
  // Whether a file name is one open() gives a journal: a window's object
  // name, the time it opened and maybe a number, ".log".
  static bool isJournalName(const QString& fileName);
  // A new journal for a window; nullptr when no file could be made. Only
  // journals are cleaned up, whatever else the folder holds.
  static std::unique_ptr<LogJournal> open(const QString& window, LogTextFormat format = LogTextFormat::Cp932Crlf);

  void append(qint64 stampMs, const QString& text);
  // An operator's clear: a saved log starts after it.
  void markClear();
  // Writes out what is buffered; false when the file took an error.
  bool flush();
  // The lines since the last clear, in the saved form.
  bool copySinceClear(QIODevice& out);
  QString path() const { return file_.fileName(); }
  LogTextFormat format() const { return encoder_.format(); }
  bool failed() const { return failed_; }

 private:
  LogJournal(const QString& path, LogTextFormat format) : file_(path), encoder_(format) {}

  QFile file_;
  LogLineEncoder encoder_;
  QByteArray pending_;
  qint64 clearAt_ = 0;  // file offset of the first line after the last clear
  bool failed_ = false;
};

}  // namespace kestrel
