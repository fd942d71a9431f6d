// The recorder in this process: its thread, the local queue and, where a
// server can be started, the forwarding to it.
#include "results/ResultRecorder.h"
#include "support/PgServer.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>

namespace {

using namespace kestrel;
using namespace kestrel::results;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Record sample(int n, const QString& dut = QStringLiteral("SN42")) {
  Record r;
  r.id = newRecordId();
  r.station = QStringLiteral("bench-7");
  r.dut = dut;
  r.mode = 1;
  r.port = QStringLiteral("COM1");
  r.options = QJsonObject{{"channels", "auto"}, {"n", n}};
  r.started = QDateTime::fromMSecsSinceEpoch(1'800'000'000'000 + n * 1000, Qt::UTC);
  r.ended = r.started.addMSecs(250);
  r.pass = n % 2 == 0;
  r.failure = r.pass ? Failure::None : Failure::NgChannels;
  r.reason = r.pass ? QString() : QStringLiteral("NG channels: 3");
  r.measured.frames = n;
  r.measured.answerMs = {1.5, 2.5};
  r.channels = {{3, false}, {4, true}};
  return r;
}

Location fileAt(const QString& path) {
  Location l;
  l.kind = Location::Kind::File;
  l.file = path;
  return l;
}

QStringList storedIds(const Location& where) {
  QString error;
  const auto store = Store::open(where, &error);
  EXPECT_TRUE(store) << error.toStdString();
  if (!store) return {};
  QStringList ids;
  for (const Record& r : store->list({}, &error)) ids.append(r.id);
  EXPECT_EQ(error, QString());
  ids.sort();
  return ids;
}

QStringList idsOf(const std::vector<Record>& records) {
  QStringList ids;
  for (const Record& r : records) ids.append(r.id);
  ids.sort();
  return ids;
}

class RecorderFile : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  Location where = fileAt(dir.filePath(QStringLiteral("results.sqlite")));
};

TEST_F(RecorderFile, EveryRecordStoredOnceAndFlushWaitsForThem) {
  std::vector<Record> records;
  for (int n = 0; n < 25; ++n) records.push_back(sample(n));
  {
    Recorder recorder(where, dir.filePath(QStringLiteral("unused.sqlite")));
    for (const Record& r : records) recorder.record(r);
    ASSERT_TRUE(recorder.flush(20s));
    const RecorderStatus s = recorder.status();
    EXPECT_EQ(s.queued, 25);
    EXPECT_EQ(s.pending, 0);
    EXPECT_FALSE(s.lost);
    EXPECT_EQ(s.lastError, QString());
    EXPECT_EQ(recorder.state(records.front().id), RecordState::Queued);
    EXPECT_EQ(recorder.state(QStringLiteral("not-handed")), RecordState::Waiting);
    EXPECT_EQ(storedIds(where), idsOf(records));
  }
  // A file target is the store: nothing went to the other file.
  EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("unused.sqlite"))));
  // A second recorder handed the same records keeps one copy of each.
  Recorder again(where);
  for (const Record& r : records) again.record(r);
  ASSERT_TRUE(again.flush(20s));
  EXPECT_EQ(storedIds(where), idsOf(records));
}

TEST_F(RecorderFile, RecordDoesNotWaitWhileAnotherHoldsTheFile) {
  ASSERT_EQ(storedIds(where), QStringList());  // made, at the current schema
  const QString name = QUuid::createUuid().toString();
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(where.file);
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    ASSERT_TRUE(q.exec(QStringLiteral("BEGIN EXCLUSIVE")));
    Recorder recorder(where);
    std::vector<Record> records;
    for (int n = 0; n < 3; ++n) {
      records.push_back(sample(n));
      const auto before = Clock::now();
      recorder.record(records.back());
      EXPECT_LT(Clock::now() - before, 50ms);
    }
    EXPECT_FALSE(recorder.flush(300ms));
    EXPECT_EQ(recorder.state(records.front().id), RecordState::Waiting);
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT COUNT(*) FROM runs")) && q.next());
    EXPECT_EQ(q.value(0).toInt(), 0);
    ASSERT_TRUE(q.exec(QStringLiteral("COMMIT")));
    q.finish();
    ASSERT_TRUE(recorder.flush(20s)) << recorder.status().lastError.toStdString();
    EXPECT_EQ(recorder.status().queued, 3);
    EXPECT_FALSE(recorder.status().lost);
    EXPECT_EQ(storedIds(where), idsOf(records));
    db.close();
  }
  QSqlDatabase::removeDatabase(name);
}

TEST_F(RecorderFile, AQueueThatCannotBeWrittenLosesTheRecordAndSaysWhy) {
  // A folder that cannot be made: its parent is a file (root may write anywhere).
  QFile blocker(dir.filePath(QStringLiteral("plain")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const Location bad = fileAt(dir.filePath(QStringLiteral("plain/results.sqlite")));
  Recorder recorder(bad);
  const Record r = sample(1);
  recorder.record(r);
  EXPECT_FALSE(recorder.flush(20s));
  const RecorderStatus s = recorder.status();
  EXPECT_TRUE(s.lost);
  EXPECT_EQ(s.queued, 0);
  EXPECT_TRUE(s.lastError.startsWith(QStringLiteral("record %1 not stored in %2: ").arg(r.id, bad.file)))
      << s.lastError.toStdString();
  EXPECT_EQ(recorder.state(r.id), RecordState::Lost);
}

// Waits up to `limit` for `done`, looking every 50 ms.
template <class Done>
bool within(std::chrono::milliseconds limit, Done&& done) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    QThread::msleep(50);
  }
  return true;
}

TEST(RecorderServer, QueuedWhileTheServerIsDownAndForwardedOnceItIsBack) {
  kestrel::test::PgServer pg;
  if (!pg.start()) GTEST_SKIP() << pg.reason().toStdString();
  ASSERT_TRUE(pg.createDatabase(QStringLiteral("line"))) << pg.reason().toStdString();
  QString error;
  const Location server = Location::parse(pg.url(QStringLiteral("line")), &error);
  ASSERT_EQ(error, QString());
  QTemporaryDir dir;
  const Location queue = fileAt(dir.filePath(QStringLiteral("queue.sqlite")));

  Recorder recorder(server, queue.file);
  const Record first = sample(1);
  recorder.record(first);
  ASSERT_TRUE(recorder.flush(30s)) << recorder.status().lastError.toStdString();
  EXPECT_EQ(recorder.state(first.id), RecordState::Forwarded);
  EXPECT_EQ(recorder.status().forwarded, 1);
  EXPECT_EQ(storedIds(server), QStringList{first.id});

  ASSERT_TRUE(pg.stop());
  std::vector<Record> records{first, sample(2), sample(3)};
  for (std::size_t n = 1; n < records.size(); ++n) {
    const auto before = Clock::now();
    recorder.record(records[n]);
    EXPECT_LT(Clock::now() - before, 50ms);
  }
  // One try after the records were queued failed: flush says so at once.
  const auto before = Clock::now();
  EXPECT_FALSE(recorder.flush(30s));
  EXPECT_LT(Clock::now() - before, 20s);
  RecorderStatus s = recorder.status();
  EXPECT_EQ(s.queued, 3);
  EXPECT_EQ(s.forwarded, 1);
  EXPECT_EQ(s.pending, 2);
  EXPECT_FALSE(s.lost);
  // The connection it had was cut, or a new one refused.
  EXPECT_TRUE(s.lastError.contains(server.display())) << s.lastError.toStdString();
  EXPECT_EQ(recorder.state(records[1].id), RecordState::Queued);
  EXPECT_EQ(storedIds(queue), idsOf(records));

  // Back: the recorder tries again on its own, with no new record.
  ASSERT_TRUE(pg.start()) << pg.reason().toStdString();
  EXPECT_TRUE(within(60s, [&] { return recorder.status().pending == 0; })) << recorder.status().lastError.toStdString();
  s = recorder.status();
  EXPECT_EQ(s.forwarded, 3);
  EXPECT_EQ(s.lastError, QString());
  EXPECT_EQ(recorder.state(records[2].id), RecordState::Forwarded);
  EXPECT_EQ(storedIds(server), idsOf(records));
  EXPECT_TRUE(recorder.flush(30s));
}

}  // namespace
