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

// The first line of a saved log, CRLF included.
QByteArray logFileHeader(const QDateTime& now);
// "yyyy/MM/dd HH:mm:ss.zzz " + the text: a line of a saved log, without its CRLF.
QString stampedLine(qint64 stampMs, const QString& text);
// The same line as a saved log holds it: CP932, CRLF.
QByteArray savedLine(QStringEncoder& cp932, qint64 stampMs, const QString& text);

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
  static std::unique_ptr<LogJournal> open(const QString& window);

  void append(qint64 stampMs, const QString& text);
  // An operator's clear: a saved log starts after it.
  void markClear();
  // Writes out what is buffered; false when the file took an error.
  bool flush();
  // The lines since the last clear, in the saved form.
  bool copySinceClear(QIODevice& out);
  QString path() const { return file_.fileName(); }
  bool failed() const { return failed_; }

 private:
  explicit LogJournal(const QString& path) : file_(path) {}

  QFile file_;
  QStringEncoder cp932_{"windows-31j"};
  QByteArray pending_;
  qint64 clearAt_ = 0;  // file offset of the first line after the last clear
  bool failed_ = false;
};

}  // namespace kestrel
