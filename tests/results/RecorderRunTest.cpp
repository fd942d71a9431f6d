// kestrel-run keeping its records: where they go, what it says of them, and
// several runs at once against a line's server that stops and starts again.
#include "results/ResultStore.h"
#include "run/RunTool.h"
#include "support/PgServer.h"
#include "unit/UnitSimulator.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

namespace sim = kestrel::sim;
using namespace kestrel;
using namespace kestrel::results;
using namespace std::chrono_literals;
using kestrel::test::RunResult;

// A simulated buffered unit on a pseudo-terminal, answering at once.
std::unique_ptr<sim::UnitSimulator> startUnit() {
  sim::Options options;
  options.answerDelay = 0ms;
  auto unit = std::make_unique<sim::UnitSimulator>(options);
  unit->start();
  return unit;
}

QStringList runArgs(const sim::UnitSimulator& unit, const QString& dut) {
  return {"--mode", "1", "--port", QString::fromStdString(unit.slavePath()), "--channels", "1,15,145",
          "--dut", dut, "--json"};
}

QProcessEnvironment envWith(const QString& dataHome, const QString& results = {}) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_DATA_HOME", dataHome);
  env.insert("KESTREL_STATION", "bench-3");
  if (results.isEmpty())
    env.remove("KESTREL_RESULTS");
  else
    env.insert("KESTREL_RESULTS", results);
  return env;
}

RunResult run(const QStringList& args, const QProcessEnvironment& env) {
  return kestrel::test::runTool(QStringLiteral(KESTREL_RUN), args, env);
}

// What became of the run's record: the line before the run's result, which ends stdout.
QJsonObject storedOf(const QStringList& out) {
  if (out.size() < 2) return {};
  EXPECT_EQ(QJsonDocument::fromJson(out.back().toUtf8()).object().value("kind").toString(), "result");
  const QJsonObject o = QJsonDocument::fromJson(out[out.size() - 2].toUtf8()).object();
  EXPECT_EQ(o.value("kind").toString(), "stored") << out.join(u'\n').toStdString();
  return o;
}
QJsonObject storedOf(const RunResult& r) { return storedOf(r.out); }

QString queueOf(const QString& dataHome) { return dataHome + QStringLiteral("/KestrelTester/results.sqlite"); }

Location locationOf(const QString& text) {
  QString error;
  const Location l = Location::parse(text, &error);
  EXPECT_EQ(error, QString());
  return l;
}

std::vector<Record> everything(const QString& where) {
  QString error;
  const auto store = Store::open(locationOf(where), &error);
  EXPECT_TRUE(store) << error.toStdString();
  if (!store) return {};
  std::vector<Record> all = store->list({}, &error);
  EXPECT_EQ(error, QString());
  return all;
}

QStringList idsIn(const QString& where) {
  QStringList ids;
  for (const Record& r : everything(where)) ids.append(r.id);
  ids.sort();
  return ids;
}

class RunRecords : public ::testing::Test {
 protected:
  void SetUp() override { unit = startUnit(); }
  QTemporaryDir dir;
  QString data = dir.filePath(QStringLiteral("data"));
  std::unique_ptr<sim::UnitSimulator> unit;
};

TEST_F(RunRecords, ThePassingRunsRecordAsStored) {
  const QString file = dir.filePath(QStringLiteral("line.sqlite"));
  const RunResult r = run(runArgs(*unit, "SN42") + QStringList{"--results", file, "--limit", "naks=0"}, envWith(data));
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const QJsonObject stored = storedOf(r);
  EXPECT_EQ(stored.value("store").toString(), file);
  EXPECT_TRUE(stored.value("queued").toBool());
  EXPECT_FALSE(stored.value("forwarded").toBool());
  const std::vector<Record> all = everything(file);
  ASSERT_EQ(all.size(), 1u);
  const Record& rec = all.front();
  EXPECT_EQ(rec.id, stored.value("id").toString());
  EXPECT_EQ(rec.station, "bench-3");
  EXPECT_EQ(rec.dut, "SN42");
  EXPECT_EQ(rec.mode, 1);
  EXPECT_EQ(rec.port, QString::fromStdString(unit->slavePath()));
  EXPECT_EQ(rec.options.value("channels").toArray(), QJsonArray({"1", "15", "145"}));
  EXPECT_EQ(rec.options.value("limits").toObject(), QJsonObject({{"naks", 0}}));
  EXPECT_TRUE(rec.pass);
  EXPECT_EQ(rec.failure, Failure::None);
  EXPECT_EQ(rec.reason, QString());
  // The measurements the result record gave.
  const QJsonObject result = QJsonDocument::fromJson(r.out.last().toUtf8()).object();
  EXPECT_EQ(result.value("kind").toString(), "result");
  EXPECT_EQ(rec.measured.frames, result.value("frames").toInt(-1));
  EXPECT_EQ(rec.measured.acks, result.value("acks").toInt(-1));
  EXPECT_EQ(rec.measured.answerMs.size(), 2u);
  EXPECT_LE(rec.started, rec.ended);
  EXPECT_EQ(rec.started.timeSpec(), Qt::UTC);
  EXPECT_EQ(rec.journal, QString());
  // Nothing in the local queue: the file was the store.
  EXPECT_FALSE(QFile::exists(queueOf(data)));
}

// --results, else KESTREL_RESULTS, else the user's data folder.
TEST_F(RunRecords, StoreFromTheCommandLineTheEnvironmentOrTheDataFolder) {
  const QString given = dir.filePath(QStringLiteral("given.sqlite"));
  const QString fromEnv = dir.filePath(QStringLiteral("env.sqlite"));
  const struct {
    QStringList extra;
    QString env;
    QString expected;
  } cases[] = {{{"--results", given}, fromEnv, given}, {{}, fromEnv, fromEnv}, {{}, {}, queueOf(data)}};
  for (const auto& c : cases) {
    const RunResult r = run(runArgs(*unit, "SN7") + c.extra, envWith(data, c.env));
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(storedOf(r).value("store").toString(), c.expected);
    EXPECT_EQ(idsIn(c.expected), QStringList{storedOf(r).value("id").toString()});
    QFile::remove(c.expected);
  }
  const RunResult bad = run(runArgs(*unit, "SN7") + QStringList{"--results", "mysql://host/db"}, envWith(data));
  EXPECT_EQ(bad.code, 2);
  EXPECT_TRUE(bad.err.startsWith("kestrel-run: --results: ")) << bad.err.toStdString();
  EXPECT_EQ(bad.out, QStringList());  // refused before the run
}

// A record not even queued: said on stderr, and a passing run does not exit 0.
TEST_F(RunRecords, ALostRecordFailsARunThatPassed) {
  QFile blocker(dir.filePath(QStringLiteral("plain")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const QString file = dir.filePath(QStringLiteral("plain/results.sqlite"));
  const RunResult r = run(runArgs(*unit, "SN42") + QStringList{"--results", file}, envWith(data));
  EXPECT_EQ(r.code, 10);
  const QStringList lines = r.err.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_FALSE(lines.isEmpty());
  const QString id = storedOf(r).value("id").toString();
  EXPECT_TRUE(lines.back().startsWith(
      QStringLiteral("kestrel-run: results: 1 of 1 records lost: record %1 not stored in %2: ").arg(id, file)))
      << r.err.toStdString();
  EXPECT_EQ(lines.filter(QRegularExpression("^kestrel-run: PASS mode 1 dut SN42: ")).size(), 1);
  const QJsonObject stored = storedOf(r);
  EXPECT_FALSE(stored.value("queued").toBool(true));
  EXPECT_FALSE(stored.value("forwarded").toBool(true));
}

class RunRecordsServer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pg.start()) GTEST_SKIP() << pg.reason().toStdString();
    ASSERT_TRUE(pg.createDatabase(QStringLiteral("line"))) << pg.reason().toStdString();
    url = pg.url(QStringLiteral("line"));
  }
  kestrel::test::PgServer pg;
  QString url;
  QTemporaryDir dir;
  QString data = dir.filePath(QStringLiteral("data"));
};

// Four benches sharing one local queue, all at once: each record reaches the
// server, once, however many of them forwarded it.
TEST_F(RunRecordsServer, FourRunsAtOnceThroughOneQueue) {
  std::vector<std::unique_ptr<sim::UnitSimulator>> units;
  std::vector<std::unique_ptr<QProcess>> runs;
  for (int n = 0; n < 4; ++n) {
    units.push_back(startUnit());
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(envWith(data));
    p->start(QStringLiteral(KESTREL_RUN),
             runArgs(*units.back(), QStringLiteral("SN%1").arg(n)) + QStringList{"--results", url});
    runs.push_back(std::move(p));
  }
  QStringList ids;
  for (auto& p : runs) {
    ASSERT_TRUE(p->waitForFinished(60000));
    const QString err = QString::fromUtf8(p->readAllStandardError());
    EXPECT_EQ(p->exitCode(), 0) << err.toStdString();
    EXPECT_FALSE(err.contains("results:")) << err.toStdString();
    const QStringList out = QString::fromUtf8(p->readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    const QJsonObject stored = storedOf(out);
    EXPECT_TRUE(stored.value("queued").toBool());
    EXPECT_TRUE(stored.value("forwarded").toBool());
    EXPECT_EQ(stored.value("store").toString(), url);
    ids.append(stored.value("id").toString());
  }
  ids.sort();
  EXPECT_EQ(ids.removeDuplicates(), 0);
  EXPECT_EQ(idsIn(url), ids);
  EXPECT_EQ(idsIn(queueOf(data)), ids);  // the queue keeps them, marked forwarded
}

// Runs while the server is down pass and are queued; the next run after it is
// back forwards them with its own.
TEST_F(RunRecordsServer, RunsWhileTheServerIsDownAreForwardedByTheNext) {
  const auto unit = startUnit();
  const RunResult before = run(runArgs(*unit, "SN1") + QStringList{"--results", url}, envWith(data));
  ASSERT_EQ(before.code, 0) << before.err.toStdString();
  ASSERT_TRUE(storedOf(before).value("forwarded").toBool());

  ASSERT_TRUE(pg.stop());
  QStringList ids{storedOf(before).value("id").toString()};
  const QRegularExpression queued(
      QStringLiteral("^kestrel-run: results: the record is queued in %1, to be forwarded to %2 when it answers: .+$")
          .arg(QRegularExpression::escape(queueOf(data)), QRegularExpression::escape(url)));
  for (const char* dut : {"SN2", "SN3"}) {
    const RunResult r = run(runArgs(*unit, dut) + QStringList{"--results", url}, envWith(data));
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList lines = r.err.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(queued.match(lines.back()).hasMatch()) << r.err.toStdString();
    EXPECT_EQ(lines.filter(QStringLiteral("results:")).size(), 1);
    const QJsonObject stored = storedOf(r);
    EXPECT_TRUE(stored.value("queued").toBool());
    EXPECT_FALSE(stored.value("forwarded").toBool(true));
    ids.append(stored.value("id").toString());
  }

  ASSERT_TRUE(pg.start()) << pg.reason().toStdString();
  const RunResult after = run(runArgs(*unit, "SN4") + QStringList{"--results", url}, envWith(data));
  EXPECT_EQ(after.code, 0) << after.err.toStdString();
  EXPECT_FALSE(after.err.contains("results:")) << after.err.toStdString();
  EXPECT_TRUE(storedOf(after).value("forwarded").toBool());
  ids.append(storedOf(after).value("id").toString());
  ids.sort();
  EXPECT_EQ(idsIn(url), ids);
}

}  // namespace
