#include "core/LogJournal.h"

#include "core/StoredSetting.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

namespace kestrel {

namespace {

// Written out once this much is waiting, or when the window's clock ticks.
constexpr qsizetype kFlushBytes = 64 * 1024;

// Journals of one window opened in the same second are told apart by "-1"
// to "-99".
constexpr int kMaxSameSecond = 100;

const QString kLogSection = QStringLiteral("Log");
const QString kFormatValue = QStringLiteral("Format");
const QString kUtf8Lf = QStringLiteral("UTF-8/LF");
const QString kCp932Crlf = QStringLiteral("CP932/CRLF");

}  // namespace

LogTextFormat logTextFormat() {
  return readStoredSetting(kLogSection, kFormatValue) == kUtf8Lf ? LogTextFormat::Utf8Lf : LogTextFormat::Cp932Crlf;
}

bool setLogTextFormat(LogTextFormat format) {
  return writeStoredSetting(kLogSection, kFormatValue, format == LogTextFormat::Utf8Lf ? kUtf8Lf : kCp932Crlf);
}

QByteArray logFileHeader(const QDateTime& now, LogTextFormat format) {
  return QStringLiteral("****** KestrelTester2J %1 %2 ******%3")
      .arg(now.toString(QStringLiteral("yyyy/MM/dd")), now.toString(QStringLiteral("HH:mm:ss")),
           format == LogTextFormat::Utf8Lf ? QStringLiteral("\n") : QStringLiteral("\r\n"))
      .toLatin1();
}

QString stampedLine(qint64 stampMs, const QString& text) {
  // Local time is worked out once a second: a run logs hundreds of lines in one.
  thread_local qint64 second = -1;
  thread_local QString prefix;
  const qint64 s = stampMs / 1000;
  if (s != second) {
    second = s;
    prefix = QDateTime::fromMSecsSinceEpoch(s * 1000).toString(QStringLiteral("yyyy/MM/dd HH:mm:ss."));
  }
  const int ms = int(stampMs % 1000);
  const char digits[] = {char('0' + ms / 100), char('0' + ms / 10 % 10), char('0' + ms % 10), ' '};
  QString line;
  line.reserve(prefix.size() + 4 + text.size());
  return line.append(prefix).append(QLatin1String(digits, 4)).append(text);
}

QByteArray savedLine(QStringEncoder& cp932, qint64 stampMs, const QString& text) {
  QByteArray bytes = cp932.encode(stampedLine(stampMs, text));
  return bytes.append("\r\n");
}

LogLineEncoder::LogLineEncoder(LogTextFormat format)
    : format_(format), encoder_(format == LogTextFormat::Utf8Lf ? "UTF-8" : "windows-31j") {}

QByteArray LogLineEncoder::line(qint64 stampMs, const QString& text) {
  if (format_ == LogTextFormat::Cp932Crlf) return savedLine(encoder_, stampMs, text);
  QByteArray bytes = encoder_.encode(stampedLine(stampMs, text));
  return bytes.append('\n');
}

QString LogJournal::folder() {
  const QString given = qEnvironmentVariable("KESTREL_LOG_DIR");
  if (!given.isEmpty()) return given;
  return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QStringLiteral("/logs");
}

bool LogJournal::isJournalName(const QString& fileName) {
  static const QRegularExpression name(
      QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*-[0-9]{8}-[0-9]{6}(-[1-9][0-9]?)?\\.log$"));
  return name.match(fileName).hasMatch();
}

std::unique_ptr<LogJournal> LogJournal::open(const QString& window, LogTextFormat format) {
  QDir dir(folder());
  if (!dir.mkpath(QStringLiteral("."))) return nullptr;
  const QDateTime now = QDateTime::currentDateTime();
  // The folder may be one the operator keeps logs of his own in: only
  // journals go.
  for (const QFileInfo& old : dir.entryInfoList({QStringLiteral("*.log")}, QDir::Files))
    if (isJournalName(old.fileName()) && old.lastModified().daysTo(now) > kKeepDays) QFile::remove(old.filePath());

  const QString stem = window + now.toString(QStringLiteral("-yyyyMMdd-HHmmss"));
  for (int n = 0; n < kMaxSameSecond; ++n) {
    const QString name = n == 0 ? stem : stem + QStringLiteral("-%1").arg(n);
    std::unique_ptr<LogJournal> journal(new LogJournal(dir.filePath(name + QStringLiteral(".log")), format));
    // NewOnly: two windows opened in the same second get a file each.
    if (journal->file_.open(QIODevice::ReadWrite | QIODevice::NewOnly)) return journal;
  }
  return nullptr;
}

void LogJournal::append(qint64 stampMs, const QString& text) {
  if (failed_) return;
  pending_ += encoder_.line(stampMs, text);
  if (pending_.size() >= kFlushBytes) flush();
}

bool LogJournal::flush() {
  if (failed_) return false;
  if (!pending_.isEmpty()) {
    failed_ = file_.write(pending_) != pending_.size() || !file_.flush();
    pending_.clear();
  }
  return !failed_;
}

void LogJournal::markClear() {
  flush();
  clearAt_ = file_.size();
}

bool LogJournal::copySinceClear(QIODevice& out) {
  if (!flush()) return false;
  QFile in(file_.fileName());
  if (!in.open(QIODevice::ReadOnly) || !in.seek(clearAt_)) return false;
  QByteArray chunk;
  while (!(chunk = in.read(1 << 20)).isEmpty())
    if (out.write(chunk) != chunk.size()) return false;
  return in.error() == QFileDevice::NoError;
}

}  // namespace kestrel
