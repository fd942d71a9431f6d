#include "results/ResultStore.h"

#include <QAtomicInt>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QUrlQuery>
#include <QVariant>
#include <algorithm>

namespace kestrel::results {

namespace {

constexpr int kBusyTimeoutMs = 5000;
// Past this a server statement is taken as hung: it covers waiting on another
// bench's migration of a large store.
constexpr int kStatementTimeoutMs = 120000;
// Migrations of one server database take turns on this lock.
constexpr qint64 kMigrationLock = 0x4b5452534c54;
// A stored JSON text larger than a run ever writes is a bad row.
constexpr qsizetype kMaxJsonBytes = qsizetype(128) << 20;
constexpr int kFillBatch = 200;

const QString kColumns = QStringLiteral(
    "id, station, dut, mode, port, options, started, ended, pass, failure, reason, measurements, journal");

bool fail(QString* error, const QString& what) {
  if (error) *error = what;
  return false;
}

QString dbText(const QSqlError& e) {
  const QString text = e.text().trimmed();
  return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

bool isServer(const QSqlDatabase& db) { return db.driverName() == QLatin1String("QPSQL"); }

bool exec(QSqlDatabase& db, const QString& sql, const QString& what, QString* error) {
  QSqlQuery q(db);
  if (!q.exec(sql)) return fail(error, QStringLiteral("cannot %1: %2").arg(what, dbText(q.lastError())));
  return true;
}

bool prepare(QSqlQuery& q, const QString& sql, const QString& what, QString* error) {
  if (!q.prepare(sql)) return fail(error, QStringLiteral("cannot %1: %2").arg(what, dbText(q.lastError())));
  return true;
}

bool run(QSqlQuery& q, const QString& what, QString* error) {
  if (!q.exec()) return fail(error, QStringLiteral("cannot %1: %2").arg(what, dbText(q.lastError())));
  return true;
}

// After a loop over next(): it also stops on a failure, which must not pass
// for the end of the rows.
bool stepped(const QSqlQuery& q, const QString& what, QString* error) {
  if (q.lastError().type() != QSqlError::NoError)
    return fail(error, QStringLiteral("cannot %1: %2").arg(what, dbText(q.lastError())));
  return true;
}

// A write transaction. SQLite takes the write lock at the start (waiting out
// the busy time-out) so two writers never deadlock upgrading a read lock.
class WriteTransaction {
 public:
  explicit WriteTransaction(QSqlDatabase& db) : db_(db) {}
  ~WriteTransaction() {
    if (open_) {
      QSqlQuery q(db_);
      q.exec(QStringLiteral("ROLLBACK"));  // the failure that got us here is the one reported
    }
  }
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;

  bool begin(QString* error) {
    open_ = exec(db_, isServer(db_) ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"),
                 QStringLiteral("begin a transaction"), error);
    return open_;
  }
  bool commit(QString* error) {
    if (!exec(db_, QStringLiteral("COMMIT"), QStringLiteral("commit"), error)) return false;
    open_ = false;
    return true;
  }

 private:
  QSqlDatabase& db_;
  bool open_ = false;
};

// Column types differ only where the engines do: PostgreSQL compares text
// by its locale unless told otherwise, and times must sort as bytes.
QString ddl(const QSqlDatabase& db, QString sql) {
  return sql.replace(QStringLiteral("%SORTED%"),
                     isServer(db) ? QStringLiteral("TEXT COLLATE \"C\"") : QStringLiteral("TEXT"));
}

// The stored version; 0 when the store has no schema yet.
bool storedVersion(QSqlDatabase& db, int* version, QString* error) {
  QSqlQuery q(db);
  const QString exists =
      isServer(db)
          ? QStringLiteral(
                "SELECT COUNT(*) FROM information_schema.tables "
                "WHERE table_schema = current_schema() AND table_name = 'schema_version'")
          : QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = 'schema_version'");
  if (!q.exec(exists) || !q.next())
    return fail(error, QStringLiteral("cannot read the schema version: %1").arg(dbText(q.lastError())));
  if (q.value(0).toInt() == 0) {
    *version = 0;
    return true;
  }
  if (!q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !q.next())
    return fail(error, QStringLiteral("cannot read the schema version: %1").arg(dbText(q.lastError())));
  *version = q.value(0).isNull() ? 0 : q.value(0).toInt();
  return true;
}

bool createVersion1(QSqlDatabase& db, QString* error) {
  const QString what = QStringLiteral("create the results tables");
  const QStringList statements{
      QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"),
      ddl(db, QStringLiteral("CREATE TABLE IF NOT EXISTS runs ("
                             "id %SORTED% PRIMARY KEY, station TEXT NOT NULL, dut TEXT NOT NULL, "
                             "mode INTEGER NOT NULL, port TEXT NOT NULL, options TEXT NOT NULL, "
                             "started %SORTED% NOT NULL, ended %SORTED% NOT NULL, pass INTEGER NOT NULL, "
                             "failure TEXT NOT NULL, reason TEXT NOT NULL, measurements TEXT NOT NULL, "
                             "journal TEXT NOT NULL)")),
      ddl(db, QStringLiteral("CREATE TABLE IF NOT EXISTS channels ("
                             "run_id %SORTED% NOT NULL REFERENCES runs (id) ON DELETE CASCADE, "
                             "channel INTEGER NOT NULL, ok INTEGER NOT NULL, PRIMARY KEY (run_id, channel))")),
      QStringLiteral("CREATE INDEX IF NOT EXISTS runs_started ON runs (started)"),
      QStringLiteral("CREATE INDEX IF NOT EXISTS runs_mode ON runs (mode)"),
  };
  for (const QString& sql : statements)
    if (!exec(db, sql, what, error)) return false;
  return true;
}

// Fills the answer columns from each row's measurements, a batch at a time
// so a large store is never read whole.
bool fillAnswerColumns(QSqlDatabase& db, QString* error) {
  const QString what = QStringLiteral("fill the answer times of stored runs");
  QSqlQuery read(db);
  QSqlQuery write(db);
  if (!prepare(read,
               QStringLiteral("SELECT id, measurements FROM runs WHERE id > ? ORDER BY id LIMIT %1").arg(kFillBatch),
               what, error) ||
      !prepare(write, QStringLiteral("UPDATE runs SET answer_median_ms = ?, answer_max_ms = ? WHERE id = ?"), what,
               error))
    return false;
  QString after = QStringLiteral("");  // not null: NULL compares as nothing
  for (;;) {
    read.addBindValue(after);
    if (!run(read, what, error)) return false;
    std::vector<std::pair<QString, Spread>> batch;
    while (read.next()) {
      const QByteArray text = read.value(1).toByteArray();
      Spread s;
      if (text.size() <= kMaxJsonBytes) s = measurementsFromJson(QJsonDocument::fromJson(text).object()).answers();
      batch.emplace_back(read.value(0).toString(), s);
    }
    if (!stepped(read, what, error)) return false;
    read.finish();
    if (batch.empty()) return true;
    for (const auto& [id, s] : batch) {
      const QVariant none(QMetaType::fromType<double>());
      write.addBindValue(s.count > 0 ? QVariant(s.median) : none);
      write.addBindValue(s.count > 0 ? QVariant(s.max) : none);
      write.addBindValue(id);
      if (!run(write, what, error)) return false;
    }
    after = batch.back().first;
  }
}

bool upgradeTo2(QSqlDatabase& db, QString* error) {
  const QString what = QStringLiteral("upgrade the results tables");
  const QStringList statements{
      QStringLiteral("ALTER TABLE runs ADD COLUMN forwarded INTEGER NOT NULL DEFAULT 0"),
      QStringLiteral("ALTER TABLE runs ADD COLUMN answer_median_ms DOUBLE PRECISION"),
      QStringLiteral("ALTER TABLE runs ADD COLUMN answer_max_ms DOUBLE PRECISION"),
      QStringLiteral("CREATE INDEX IF NOT EXISTS runs_dut ON runs (dut)"),
  };
  for (const QString& sql : statements)
    if (!exec(db, sql, what, error)) return false;
  return fillAnswerColumns(db, error);
}

bool setVersion(QSqlDatabase& db, int version, QString* error) {
  const QString what = QStringLiteral("record the schema version");
  if (!exec(db, QStringLiteral("DELETE FROM schema_version"), what, error)) return false;
  QSqlQuery q(db);
  if (!prepare(q, QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"), what, error)) return false;
  q.addBindValue(version);
  return run(q, what, error);
}

QString isoTime(const QDateTime& t) { return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString(); }

QDateTime fromIso(const QString& text) {
  QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
  return t.isValid() ? t.toUTC() : QDateTime();
}

// Qt binds a null QString as NULL; an empty text is stored as one.
QString text(const QString& s) { return s.isNull() ? QStringLiteral("") : s; }

QByteArray compact(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

QJsonObject objectFrom(const QVariant& v) {
  const QByteArray text = v.toByteArray();
  if (text.size() > kMaxJsonBytes) return {};
  return QJsonDocument::fromJson(text).object();
}

// One run row, in kColumns' order; its channels come from `channels`, a
// prepared query with the run's ID to bind.
std::optional<Record> readRecord(const QSqlQuery& q, QSqlQuery& channels, QString* error) {
  Record r;
  r.id = q.value(0).toString();
  r.station = q.value(1).toString();
  r.dut = q.value(2).toString();
  r.mode = q.value(3).toInt();
  r.port = q.value(4).toString();
  r.options = objectFrom(q.value(5));
  r.started = fromIso(q.value(6).toString());
  r.ended = fromIso(q.value(7).toString());
  r.pass = q.value(8).toInt() != 0;
  r.failure = failureFromName(q.value(9).toString());
  r.reason = q.value(10).toString();
  r.measured = measurementsFromJson(objectFrom(q.value(11)));
  r.journal = q.value(12).toString();
  channels.addBindValue(r.id);
  if (!run(channels, QStringLiteral("read a run's channels"), error)) return std::nullopt;
  while (channels.next()) r.channels.append({channels.value(0).toInt(), channels.value(1).toInt() != 0});
  if (!stepped(channels, QStringLiteral("read a run's channels"), error)) return std::nullopt;
  channels.finish();
  return r;
}

bool prepareChannels(QSqlQuery& channels, QString* error) {
  return prepare(channels, QStringLiteral("SELECT channel, ok FROM channels WHERE run_id = ? ORDER BY channel"),
                 QStringLiteral("read a run's channels"), error);
}

// Every row `q` (already run) gives, as records.
bool readAll(QSqlQuery& q, QSqlDatabase db, std::vector<Record>* out, QString* error) {
  QSqlQuery channels(db);
  if (!prepareChannels(channels, error)) return false;
  while (q.next()) {
    std::optional<Record> r = readRecord(q, channels, error);
    if (!r) return false;
    out->push_back(std::move(*r));
  }
  return stepped(q, QStringLiteral("read the stored runs"), error);
}

struct ServerParts {
  QString host;
  int port = 5432;
  QString user, password, database;
};

ServerParts serverParts(const QUrl& url) {
  const QUrlQuery query(url);
  ServerParts p;
  p.host = query.hasQueryItem(QStringLiteral("host")) ? query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded)
                                                      : url.host();
  const int port =
      query.hasQueryItem(QStringLiteral("port")) ? query.queryItemValue(QStringLiteral("port")).toInt() : url.port();
  if (port > 0) p.port = port;
  p.user = url.userName(QUrl::FullyDecoded);
  p.password = url.password(QUrl::FullyDecoded);
  p.database = url.path(QUrl::FullyDecoded).mid(1);
  return p;
}

Location parseServer(const QString& text, QString* error) {
  Location l;
  l.kind = Location::Kind::Server;
  const auto bad = [&](const QString& why) {
    // Messages get shown and logged: never with the password.
    QString shown = text;
    shown.replace(QRegularExpression(QStringLiteral("^([^:/]+://[^:@/?]*):[^@/?]*@")), QStringLiteral("\\1@"));
    *error = QStringLiteral("results store %1: %2").arg(shown, why);
    return l;
  };
  // A socket folder may be written as the host, percent-encoded; QUrl takes
  // no slash in a host, so it moves to the query.
  QString rewritten = text;
  const qsizetype from = text.indexOf(QLatin1String("://")) + 3;
  qsizetype to = from;
  while (to < text.size() && text[to] != QLatin1Char('/') && text[to] != QLatin1Char('?')) ++to;
  const QString authority = text.mid(from, to - from);
  const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
  QString host = authority.mid(at + 1);
  QString port;
  const qsizetype colon = host.lastIndexOf(QLatin1Char(':'));
  if (colon >= 0 && !host.contains(QLatin1Char(']'))) {
    port = host.mid(colon + 1);
    host.truncate(colon);
  }
  const QString decodedHost = QUrl::fromPercentEncoding(host.toUtf8());
  if (decodedHost.startsWith(QLatin1Char('/'))) {
    QString rest = text.mid(to);
    QString items = QStringLiteral("host=") + QString::fromUtf8(QUrl::toPercentEncoding(decodedHost, "/"));
    if (!port.isEmpty()) items += QStringLiteral("&port=") + port;
    rest += rest.contains(QLatin1Char('?')) ? QStringLiteral("&") + items : QStringLiteral("?") + items;
    rewritten = text.left(from) + authority.left(at + 1) + rest;
  }
  QUrl url(rewritten, QUrl::StrictMode);
  // Qt's reason ends with the whole text, password and all.
  if (!url.isValid())
    return bad(
        QStringLiteral("not a valid URL (%1)").arg(url.errorString().section(QStringLiteral("; source was"), 0, 0)));
  url.setScheme(QStringLiteral("postgresql"));
  const QUrlQuery query(url);
  for (const auto& [key, value] : query.queryItems()) {
    if (key != QLatin1String("host") && key != QLatin1String("port"))
      return bad(QStringLiteral("unknown parameter \"%1\"").arg(key));
  }
  if (query.hasQueryItem(QStringLiteral("port"))) {
    bool ok = false;
    const int port = query.queryItemValue(QStringLiteral("port")).toInt(&ok);
    if (!ok || port < 1 || port > 65535) return bad(QStringLiteral("the port must be a number from 1 to 65535"));
  }
  const ServerParts parts = serverParts(url);
  if (parts.host.isEmpty()) return bad(QStringLiteral("no server host or socket folder given"));
  if (parts.database.isEmpty() || parts.database.contains(QLatin1Char('/')))
    return bad(QStringLiteral("no database named (postgresql://user@host/database)"));
  l.url = url;
  error->clear();
  return l;
}

bool openFile(QSqlDatabase& db, const Location& where, QString* error) {
  const QFileInfo info(where.file);
  if (info.isDir()) return fail(error, QStringLiteral("results store %1 is a folder, not a file").arg(where.file));
  if (!QDir().mkpath(info.absolutePath()))
    return fail(error, QStringLiteral("cannot make the folder %1 for the results store").arg(info.absolutePath()));
  db.setDatabaseName(where.file);
  db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
  if (!db.open())
    return fail(error, QStringLiteral("cannot open the results store %1: %2").arg(where.file, dbText(db.lastError())));
  // Several benches' programs share one file: readers never block the writer.
  // SQLite answers a switch to WAL made while another program makes it with
  // "database is locked" at once, not after its busy time-out: asked again.
  QSqlQuery q(db);
  const QDeadlineTimer patience(kBusyTimeoutMs);
  while (!q.exec(QStringLiteral("PRAGMA journal_mode = WAL")) || !q.next()) {
    const QString code = q.lastError().nativeErrorCode();
    if ((code != QLatin1String("5") && code != QLatin1String("6")) || patience.hasExpired())
      return fail(error, QStringLiteral("cannot open the results store %1: %2").arg(where.file, dbText(q.lastError())));
    QThread::msleep(10);
  }
  if (q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
    return fail(error, QStringLiteral("results store %1 cannot keep a write-ahead log (journal mode %2)")
                           .arg(where.file, q.value(0).toString()));
  q.finish();
  return exec(db, QStringLiteral("PRAGMA foreign_keys = ON"),
              QStringLiteral("open the results store %1").arg(where.file), error);
}

bool openServer(QSqlDatabase& db, const Location& where, int connectTimeoutS, QString* error) {
  const ServerParts p = serverParts(where.url);
  db.setHostName(p.host);
  db.setPort(p.port);
  db.setDatabaseName(p.database);
  db.setUserName(p.user);
  db.setPassword(p.password);
  // A server that stops answering is noticed, on the way in and after.
  db.setConnectOptions(QStringLiteral("connect_timeout=%1;keepalives=1;keepalives_idle=5;keepalives_interval=2;"
                                      "keepalives_count=3;tcp_user_timeout=%2;options='-c statement_timeout=%3'")
                           .arg(std::max(1, connectTimeoutS))
                           .arg(std::max(1, connectTimeoutS) * 1000)
                           .arg(kStatementTimeoutMs));
  if (!db.open())
    return fail(error,
                QStringLiteral("cannot reach the results server %1: %2").arg(where.display(), dbText(db.lastError())));
  return true;
}

}  // namespace

Location Location::parse(const QString& text, QString* error) {
  QString ignored;
  if (!error) error = &ignored;
  error->clear();
  Location l;
  const QString t = text.trimmed();
  if (t.isEmpty()) {
    *error = QStringLiteral("no results store given");
    return l;
  }
  const qsizetype scheme = t.indexOf(QLatin1String("://"));
  if (scheme > 0) {
    const QString name = t.left(scheme).toLower();
    if (name == QLatin1String("postgresql") || name == QLatin1String("postgres")) return parseServer(t, error);
    if (name != QLatin1String("file")) {
      *error = QStringLiteral("results store %1: give a file or a postgresql:// URL").arg(t);
      return l;
    }
    l.file = QUrl(t).toLocalFile();
    if (l.file.isEmpty()) {
      *error = QStringLiteral("results store %1: names no file").arg(t);
      return l;
    }
  } else {
    l.file = t;
  }
  l.file = QDir::cleanPath(QFileInfo(l.file).absoluteFilePath());
  if (QFileInfo(l.file).isDir()) *error = QStringLiteral("results store %1 is a folder, not a file").arg(l.file);
  return l;
}

QString Location::display() const { return kind == Kind::File ? file : url.toString(QUrl::RemovePassword); }

QString defaultResultsFile() {
  // One file for every program of the bench, whatever its own name.
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/KestrelTester/results.sqlite");
}

QString chooseLocation(const QString& commandLine, const QString& settings) {
  for (const QString& given : {commandLine, qEnvironmentVariable("KESTREL_RESULTS"), settings})
    if (!given.trimmed().isEmpty()) return given.trimmed();
  return defaultResultsFile();
}

Store::Store(Location where, QString connectionName)
    : where_(std::move(where)), connection_(std::move(connectionName)) {}

Store::~Store() {
  {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    db.close();
  }
  QSqlDatabase::removeDatabase(connection_);
}

QSqlDatabase Store::database() const { return QSqlDatabase::database(connection_, false); }

std::unique_ptr<Store> Store::open(const Location& where, QString* error, int connectTimeoutS) {
  QString ignored;
  if (!error) error = &ignored;
  error->clear();
  static QAtomicInt opened;
  const QString driver = where.kind == Location::Kind::File ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
  if (!QSqlDatabase::isDriverAvailable(driver)) {
    *error =
        QStringLiteral("cannot open the results store %1: the %2 driver is not installed").arg(where.display(), driver);
    return nullptr;
  }
  std::unique_ptr<Store> store(
      new Store(where, QStringLiteral("kestrel-results-%1").arg(opened.fetchAndAddRelaxed(1))));
  const bool ok = [&] {
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, store->connection_);
    if (!(where.kind == Location::Kind::File ? openFile(db, where, error)
                                             : openServer(db, where, connectTimeoutS, error)))
      return false;
    int version = 0;
    if (!storedVersion(db, &version, error)) return false;
    if (version > kSchemaVersion)
      return fail(error, QStringLiteral("results store %1 has schema version %2; this program knows up to %3")
                             .arg(where.display(), QString::number(version), QString::number(kSchemaVersion)));
    if (!migrate(db, kSchemaVersion, error))
      return fail(error, QStringLiteral("results store %1: %2").arg(where.display(), *error));
    return true;
  }();
  if (!ok) store.reset();
  return store;
}

int Store::schemaVersion() const {
  QSqlDatabase db = database();
  int version = 0;
  return storedVersion(db, &version, nullptr) ? version : -1;
}

bool Store::insert(const Record& r, QString* error) {
  QString ignored;
  if (!error) error = &ignored;
  if (r.id.isEmpty()) return fail(error, QStringLiteral("cannot store a record without an ID"));
  QSqlDatabase db = database();
  const QString what = QStringLiteral("store record %1").arg(r.id);
  WriteTransaction t(db);
  if (!t.begin(error)) return false;
  QSqlQuery q(db);
  if (!prepare(q,
               QStringLiteral("INSERT INTO runs (%1, answer_median_ms, answer_max_ms, forwarded) "
                              "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 0) ON CONFLICT (id) DO NOTHING")
                   .arg(kColumns),
               what, error))
    return false;
  const Spread answers = r.measured.answers();
  const QVariant none(QMetaType::fromType<double>());
  q.addBindValue(r.id);
  q.addBindValue(text(r.station));
  q.addBindValue(text(r.dut));
  q.addBindValue(r.mode);
  q.addBindValue(text(r.port));
  q.addBindValue(QString::fromUtf8(compact(r.options)));
  q.addBindValue(text(isoTime(r.started)));
  q.addBindValue(text(isoTime(r.ended)));
  q.addBindValue(r.pass ? 1 : 0);
  q.addBindValue(failureName(r.failure));
  q.addBindValue(text(r.reason));
  q.addBindValue(QString::fromUtf8(compact(measurementsJson(r.measured))));
  q.addBindValue(text(r.journal));
  q.addBindValue(answers.count > 0 ? QVariant(answers.median) : none);
  q.addBindValue(answers.count > 0 ? QVariant(answers.max) : none);
  if (!run(q, what, error)) return false;
  // A record already stored stays as it was, channels and all.
  if (q.numRowsAffected() > 0 && !r.channels.isEmpty()) {
    QSqlQuery c(db);
    if (!prepare(c,
                 QStringLiteral("INSERT INTO channels (run_id, channel, ok) VALUES (?, ?, ?) "
                                "ON CONFLICT (run_id, channel) DO NOTHING"),
                 what, error))
      return false;
    for (const ChannelOutcome& ch : r.channels) {
      c.addBindValue(r.id);
      c.addBindValue(ch.channel);
      c.addBindValue(ch.ok ? 1 : 0);
      if (!run(c, what, error)) return false;
    }
  }
  return t.commit(error);
}

std::vector<Record> Store::list(const Filter& f, QString* error) const {
  QString ignored;
  if (!error) error = &ignored;
  error->clear();
  QStringList where;
  QVariantList values;
  if (!f.dut.isEmpty()) {
    where << QStringLiteral("dut = ?");
    values << f.dut;
  }
  if (f.since.isValid()) {
    where << QStringLiteral("started >= ?");
    values << isoTime(f.since);
  }
  if (f.mode) {
    where << QStringLiteral("mode = ?");
    values << *f.mode;
  }
  if (f.pass) {
    where << QStringLiteral("pass = ?");
    values << (*f.pass ? 1 : 0);
  }
  QString sql = QStringLiteral("SELECT %1 FROM runs").arg(kColumns);
  if (!where.isEmpty()) sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
  sql += QStringLiteral(" ORDER BY started DESC, id DESC");
  if (f.limit > 0) {
    sql += QStringLiteral(" LIMIT ?");
    values << f.limit;
  }
  QSqlDatabase db = database();
  QSqlQuery q(db);
  const QString what = QStringLiteral("list the stored runs");
  if (!prepare(q, sql, what, error)) return {};
  for (const QVariant& v : values) q.addBindValue(v);
  if (!run(q, what, error)) return {};
  std::vector<Record> out;
  if (!readAll(q, db, &out, error)) return {};
  return out;
}

std::optional<Record> Store::find(const QString& idOrPrefix, QString* error) const {
  QString ignored;
  if (!error) error = &ignored;
  error->clear();
  const QString key = idOrPrefix.trimmed();
  if (key.isEmpty()) {
    *error = QStringLiteral("no record ID given");
    return std::nullopt;
  }
  QSqlDatabase db = database();
  const QString what = QStringLiteral("find record %1").arg(key);
  QSqlQuery count(db);
  if (!prepare(count, QStringLiteral("SELECT COUNT(*) FROM runs WHERE id = ?"), what, error)) return std::nullopt;
  count.addBindValue(key);
  if (!run(count, what, error) || !count.next()) {
    if (error->isEmpty()) *error = QStringLiteral("cannot %1: %2").arg(what, dbText(count.lastError()));
    return std::nullopt;
  }
  const bool exact = count.value(0).toInt() > 0;
  count.finish();
  if (!exact) {
    if (!prepare(count, QStringLiteral("SELECT COUNT(*) FROM runs WHERE substr(id, 1, ?) = ?"), what, error))
      return std::nullopt;
    count.addBindValue(int(key.size()));
    count.addBindValue(key);
    if (!run(count, what, error) || !count.next()) {
      if (error->isEmpty()) *error = QStringLiteral("cannot %1: %2").arg(what, dbText(count.lastError()));
      return std::nullopt;
    }
    const int matches = count.value(0).toInt();
    count.finish();
    if (matches == 0) {
      *error = QStringLiteral("no stored run's ID starts with %1").arg(key);
      return std::nullopt;
    }
    if (matches > 1) {
      *error = QStringLiteral("%1 stored runs' IDs start with %2: give more of the ID").arg(matches).arg(key);
      return std::nullopt;
    }
  }
  QSqlQuery q(db);
  if (!prepare(q,
               exact ? QStringLiteral("SELECT %1 FROM runs WHERE id = ?").arg(kColumns)
                     : QStringLiteral("SELECT %1 FROM runs WHERE substr(id, 1, ?) = ?").arg(kColumns),
               what, error))
    return std::nullopt;
  if (!exact) q.addBindValue(int(key.size()));
  q.addBindValue(key);
  if (!run(q, what, error)) return std::nullopt;
  std::vector<Record> found;
  if (!readAll(q, db, &found, error)) return std::nullopt;
  if (found.size() != 1) {
    *error = QStringLiteral("no stored run's ID starts with %1").arg(key);
    return std::nullopt;
  }
  return std::move(found.front());
}

std::vector<Record> Store::pending(int limit, QString* error) const {
  QString ignored;
  if (!error) error = &ignored;
  error->clear();
  QSqlDatabase db = database();
  QSqlQuery q(db);
  const QString what = QStringLiteral("read the records waiting for the server");
  QString sql = QStringLiteral("SELECT %1 FROM runs WHERE forwarded = 0 ORDER BY started, id").arg(kColumns);
  if (limit > 0) sql += QStringLiteral(" LIMIT ?");
  if (!prepare(q, sql, what, error)) return {};
  if (limit > 0) q.addBindValue(limit);
  if (!run(q, what, error)) return {};
  std::vector<Record> out;
  if (!readAll(q, db, &out, error)) return {};
  return out;
}

bool Store::markForwarded(const QStringList& ids, QString* error) {
  QString ignored;
  if (!error) error = &ignored;
  if (ids.isEmpty()) return true;
  QSqlDatabase db = database();
  const QString what = QStringLiteral("mark records as on the server");
  WriteTransaction t(db);
  if (!t.begin(error)) return false;
  QSqlQuery q(db);
  if (!prepare(q, QStringLiteral("UPDATE runs SET forwarded = 1 WHERE id = ?"), what, error)) return false;
  for (const QString& id : ids) {
    q.addBindValue(id);
    if (!run(q, what, error)) return false;
  }
  return t.commit(error);
}

bool migrate(QSqlDatabase& db, int version, QString* error) {
  QString ignored;
  if (!error) error = &ignored;
  if (version < 1 || version > Store::kSchemaVersion)
    return fail(
        error,
        QStringLiteral("no schema version %1: versions run from 1 to %2").arg(version).arg(Store::kSchemaVersion));
  int current = 0;
  if (!storedVersion(db, &current, error)) return false;
  if (current >= version) return true;
  WriteTransaction t(db);
  if (!t.begin(error)) return false;
  if (isServer(db) && !exec(db, QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kMigrationLock),
                            QStringLiteral("wait for another migration"), error))
    return false;
  // Another program may have migrated while this one waited for the lock.
  if (!storedVersion(db, &current, error)) return false;
  if (current >= version) return t.commit(error);
  for (int step = current + 1; step <= version; ++step) {
    const bool ok = step == 1 ? createVersion1(db, error) : upgradeTo2(db, error);
    if (!ok) return false;
  }
  if (!setVersion(db, version, error)) return false;
  return t.commit(error);
}

}  // namespace kestrel::results
