#include "RunRows.h"

#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>

namespace kestrel::results::tool {

namespace {

// Rows read per query: a page's samples are gone before the next is read.
constexpr int kPage = 256;

// Times are stored as fixed-width UTC text, so text order is time order.
QString storedTime(const QDateTime& t) { return t.toUTC().toString(Qt::ISODateWithMs); }

QDateTime timeFrom(const QVariant& v) {
  QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
  if (!t.isValid()) return {};
  return t.toUTC();
}

QString failed(const QSqlQuery& q, const char* what) {
  return QStringLiteral("%1 failed: %2").arg(QLatin1String(what), q.lastError().text());
}

}  // namespace

double RunRow::seconds() const {
  if (!started.isValid() || !ended.isValid()) return 0;
  const qint64 ms = started.msecsTo(ended);
  return ms > 0 ? double(ms) / 1000.0 : 0;
}

bool forEachRun(const Store& store, const Filter& f, const RowVisitor& visit, QString* error, bool measured) {
  QString where = QStringLiteral(" WHERE 1 = 1");
  if (!f.dut.isEmpty()) where += QStringLiteral(" AND dut = :dut");
  if (f.since.isValid()) where += QStringLiteral(" AND started >= :since");
  if (f.mode) where += QStringLiteral(" AND mode = :mode");
  if (f.pass) where += QStringLiteral(" AND pass = :pass");

  QSqlDatabase db = store.database();
  int seen = 0;
  bool first = true;
  QString lastStarted, lastId;
  for (;;) {
    int page = kPage;
    if (f.limit > 0) page = std::min(page, f.limit - seen);
    if (page <= 0) return true;
    QString sql = QStringLiteral(
                      "SELECT id, station, dut, mode, port, started, ended, pass, failure, reason, %1, "
                      "journal FROM runs")
                      .arg(measured ? QStringLiteral("measurements") : QStringLiteral("NULL")) +
                  where;
    // The next page starts past the last row of this one (the ID breaks ties).
    // Written so that the engine walks the index on started: an OR of the
    // two cases makes SQLite sort every older run again for each page.
    if (!first) sql += QStringLiteral(" AND started <= :last_started AND (started < :last_started2 OR id < :last_id)");
    sql += QStringLiteral(" ORDER BY started DESC, id DESC LIMIT %1").arg(page);

    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql)) {
      *error = failed(q, "preparing the runs query");
      return false;
    }
    if (!f.dut.isEmpty()) q.bindValue(QStringLiteral(":dut"), f.dut);
    if (f.since.isValid()) q.bindValue(QStringLiteral(":since"), storedTime(f.since));
    if (f.mode) q.bindValue(QStringLiteral(":mode"), *f.mode);
    if (f.pass) q.bindValue(QStringLiteral(":pass"), *f.pass ? 1 : 0);
    if (!first) {
      q.bindValue(QStringLiteral(":last_started"), lastStarted);
      q.bindValue(QStringLiteral(":last_started2"), lastStarted);
      q.bindValue(QStringLiteral(":last_id"), lastId);
    }
    if (!q.exec()) {
      *error = failed(q, "reading the runs");
      return false;
    }
    first = false;
    int rows = 0;
    while (q.next()) {
      ++rows;
      ++seen;
      RunRow r;
      r.id = q.value(0).toString();
      r.station = q.value(1).toString();
      r.dut = q.value(2).toString();
      bool ok = false;
      r.mode = q.value(3).toInt(&ok);
      if (!ok) r.mode = -1;
      r.port = q.value(4).toString();
      lastStarted = q.value(5).toString();
      lastId = r.id;
      r.started = timeFrom(q.value(5));
      r.ended = timeFrom(q.value(6));
      r.pass = q.value(7).toInt() != 0;
      r.failure = q.value(8).toString();
      r.reason = q.value(9).toString();
      // A row whose measurements do not parse counts as having measured nothing.
      Measurements m;
      if (measured) m = measurementsFromJson(QJsonDocument::fromJson(q.value(10).toByteArray()).object());
      r.journal = q.value(11).toString();
      r.answers = m.answers();
      if (!visit(r, m)) return true;
    }
    if (q.lastError().isValid()) {
      *error = failed(q, "reading the runs");
      return false;
    }
    if (rows < page) return true;
  }
}

bool resolveId(const Store& store, const QString& idOrPrefix, QString* id, int* matches, QString* error) {
  id->clear();
  *matches = 0;
  QSqlQuery q(store.database());
  q.setForwardOnly(true);
  // substr rather than LIKE: a prefix's '%' or '_' is a character like any other.
  if (!q.prepare(QStringLiteral("SELECT id FROM runs WHERE substr(id, 1, %1) = :prefix ORDER BY id LIMIT 2")
                     .arg(idOrPrefix.size()))) {
    *error = failed(q, "preparing the ID query");
    return false;
  }
  q.bindValue(QStringLiteral(":prefix"), idOrPrefix);
  if (!q.exec()) {
    *error = failed(q, "looking up the ID");
    return false;
  }
  while (q.next()) {
    if (++*matches == 1) *id = q.value(0).toString();
  }
  if (q.lastError().isValid()) {
    *error = failed(q, "looking up the ID");
    return false;
  }
  if (*matches != 1) id->clear();
  return true;
}

}  // namespace kestrel::results::tool
