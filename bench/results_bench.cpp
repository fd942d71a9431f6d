// What keeping results costs. (a) Per run: whole 255-channel runs of the
// buffered session, measured and judged as kestrel-run does, every other one
// also handing its record to a recorder on a temporary SQLite file; the run
// thread only hands it over, so the ratio of the arms' median run times
// should stay within 1 %. (b) A query by the unit's tag over 100,000 records
// through the store, against a full scan of the same query.
#include "buffered_runs.h"
#include "core/RunMeter.h"
#include "results/ResultRecorder.h"
#include "sessions/BufferedSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

using namespace kestrel;
using namespace kestrel::results;

namespace {

[[noreturn]] void fail(const QString& what) {
  std::fprintf(stderr, "%s\n", qPrintable(what));
  std::exit(1);
}

// The meter and the verdict on every run; the record on those with `recorder`.
struct Recording : SessionEvents {
  void AddLog(const QString&, LineKind) override {}
  void runStarted(const RunStarted& e) override {
    started = QDateTime::currentDateTimeUtc();
    meter.runStarted(e);
  }
  void frameSent(const FrameSent& e) override { meter.frameSent(e); }
  void answer(const Answer& e) override { meter.answer(e); }
  void refusal(const Refusal& e) override { meter.refusal(e); }
  void channelVerdict(const ChannelVerdict& e) override { meter.channelVerdict(e); }
  void runFinished(const RunFinished& e) override {
    meter.runFinished(e);
    const Verdict v = judge(meter.measurements(), {});
    if (!v.pass() || meter.measurements().frames != bench::kFramesARun)
      fail(QStringLiteral("a run did not pass: %1").arg(reasonText(v)));
    if (!recorder) return;
    QElapsedTimer clock;
    clock.start();
    Record r;
    r.id = newRecordId();
    r.station = station;
    r.dut = dut;
    ++records;
    r.mode = 1;
    r.port = QStringLiteral("COM1");
    r.options = options;
    r.started = started;
    r.ended = QDateTime::currentDateTimeUtc();
    r.pass = true;
    r.failure = Failure::None;
    r.measured = meter.measurements();
    recorder->record(std::move(r));
    handOverNs.push_back(double(clock.nsecsElapsed()));
  }
  RunMeter meter;
  Recorder* recorder = nullptr;
  // What does not change from run to run, as for one bench and unit.
  const QString station = stationName();
  const QString dut = QStringLiteral("SN42");
  const QJsonObject options{{"channels", "auto"}, {"unit", "8"}};
  QDateTime started;
  int records = 0;
  std::vector<double> handOverNs;  // making each record and handing it over
};

double recordingCost(int runs, const QString& file) {
  bench::NoWait pause;
  bench::AckLink link;
  Recording arm;
  BufferedSession session(0, link, arm, pause);
  Location where;
  where.file = file;
  Recorder recorder(where);
  QList<qint64> channels;
  for (int c = 1; c <= 255; ++c) channels.append(c);
  std::vector<double> plain, recorded;
  for (int r = 0; r < runs + 2; ++r) {
    arm.recorder = r % 2 == 1 ? &recorder : nullptr;
    QElapsedTimer clock;
    clock.start();
    session.Play(channels, 8);
    while (link.InBufferCount() > 0) session.OnComm(LinkPort::kEventReceive);
    const double ns = double(clock.nsecsElapsed()) / bench::kFramesARun;
    if (r >= 2) (arm.recorder ? recorded : plain).push_back(ns);  // the first two warm up
  }
  if (!recorder.flush(std::chrono::minutes(5)) || recorder.status().queued != arm.records)
    fail(QStringLiteral("records not stored: %1").arg(recorder.status().lastError));
  const double ratio = bench::median_of(recorded) / bench::median_of(plain);
  std::printf("255-channel runs: %d runs, %.0f ns a frame plain, %.0f ns recorded, %d records stored, "
              "median %.0f ns a record made and handed over\n",
              runs, bench::median_of(plain), bench::median_of(recorded), arm.records,
              bench::median_of(arm.handOverNs));
  return ratio;
}

constexpr int kRecords = 100'000;
constexpr int kUnits = 10'000;  // ten runs a unit

QString dutOf(int n) { return QStringLiteral("SN%1").arg(n % kUnits, 5, 10, QLatin1Char('0')); }

// kRecords runs straight into the table, in one transaction.
void fill(Store& store) {
  QSqlDatabase db = store.database();
  if (!db.transaction()) fail(QStringLiteral("cannot begin: %1").arg(db.lastError().text()));
  QSqlQuery q(db);
  if (!q.prepare(QStringLiteral(
          "INSERT INTO runs (id, station, dut, mode, port, options, started, ended, pass, failure, reason, "
          "measurements, journal, answer_median_ms, answer_max_ms, forwarded) "
          "VALUES (?, 'bench-1', ?, 1, 'COM1', '{\"channels\":\"auto\"}', ?, ?, 1, 'none', '', ?, '', 2.5, 3.5, 0)")))
    fail(QStringLiteral("cannot prepare: %1").arg(q.lastError().text()));
  Measurements m;
  m.frames = 33;
  m.acks = 33;
  m.answerMs.assign(33, 2.5);
  const QString measured = QString::fromUtf8(QJsonDocument(measurementsJson(m)).toJson(QJsonDocument::Compact));
  const QDateTime first = QDateTime::fromMSecsSinceEpoch(1'800'000'000'000, Qt::UTC);
  for (int n = 0; n < kRecords; ++n) {
    const QDateTime started = first.addSecs(n * 30);
    q.addBindValue(newRecordId());
    q.addBindValue(dutOf(n));
    q.addBindValue(started.toString(Qt::ISODateWithMs));
    q.addBindValue(started.addSecs(20).toString(Qt::ISODateWithMs));
    q.addBindValue(measured);
    if (!q.exec()) fail(QStringLiteral("cannot insert: %1").arg(q.lastError().text()));
  }
  if (!db.commit()) fail(QStringLiteral("cannot commit: %1").arg(db.lastError().text()));
}

// The median time of `rounds` runs of `query`, in ms.
template <class Query>
double medianMs(int rounds, Query&& query) {
  std::vector<double> ms;
  for (int r = 0; r < rounds; ++r) {
    QElapsedTimer clock;
    clock.start();
    query();
    ms.push_back(double(clock.nsecsElapsed()) / 1e6);
  }
  return bench::median_of(ms);
}

// The unit's runs through the store, and the same rows read with no index.
void queryByDut(const QString& file, int rounds) {
  Location where;
  where.file = file;
  QString error;
  const std::unique_ptr<Store> store = Store::open(where, &error);
  if (!store) fail(error);
  QElapsedTimer clock;
  clock.start();
  fill(*store);
  std::printf("%d records in %.0f ms\n", kRecords, double(clock.elapsed()));
  int unit = 0;
  const double indexed = medianMs(rounds, [&] {
    Filter f;
    f.dut = dutOf(++unit * 7919);
    const std::vector<Record> found = store->list(f, &error);
    if (!error.isEmpty() || found.size() != std::size_t(kRecords / kUnits))
      fail(QStringLiteral("%1 runs of %2: %3").arg(found.size()).arg(f.dut, error));
  });
  QSqlQuery scan(store->database());
  if (!scan.prepare(QStringLiteral("SELECT id, station, dut, mode, port, options, started, ended, pass, failure, "
                                   "reason, measurements, journal FROM runs NOT INDEXED WHERE dut = ? "
                                   "ORDER BY started DESC, id DESC")))
    fail(scan.lastError().text());
  const double full = medianMs(rounds, [&] {
    scan.addBindValue(dutOf(++unit * 7919));
    if (!scan.exec()) fail(scan.lastError().text());
    int rows = 0;
    while (scan.next()) ++rows;
    if (rows != kRecords / kUnits) fail(QStringLiteral("%1 rows in the full scan").arg(rows));
  });
  std::printf("dut_query_ms: %.3f full_scan_ms: %.3f ratio_to_full_scan: %.4f\n", indexed, full, indexed / full);
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const bool brief = qEnvironmentVariableIsSet("KESTREL_BENCH_SHORT");
  QTemporaryDir dir;
  const double ratio = recordingCost(brief ? 200 : 4000, dir.filePath(QStringLiteral("runs.sqlite")));
  std::printf("ratio: %.4f\n", ratio);
  queryByDut(dir.filePath(QStringLiteral("query.sqlite")), brief ? 5 : 51);
  return 0;
}
