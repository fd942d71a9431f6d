// 結果一覧, the menu's recorder and the settings screen's results location,
// over SQLite files in temporary folders.
#include "core/LogJournal.h"
#include "core/ModString.h"
#include "kit/AppEnd.h"
#include "kit/RunRecords.h"
#include "menu/BenchState.h"
#include "menu/FrmMenu.h"
#include "menu/FrmResults.h"
#include "menu/FrmSettei.h"
#include "results/ResultRecorder.h"
#include "results/ResultStore.h"
#include "sessions/WexfordBinding.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;
using namespace std::chrono_literals;

namespace {

// KESTREL_RESULTS unset while a test runs: the settings decide.
class NoResultsVariable {
 public:
  NoResultsVariable() : kept_(qgetenv("KESTREL_RESULTS")), had_(qEnvironmentVariableIsSet("KESTREL_RESULTS")) {
    qunsetenv("KESTREL_RESULTS");
  }
  ~NoResultsVariable() {
    if (had_) qputenv("KESTREL_RESULTS", kept_);
  }

 private:
  QByteArray kept_;
  bool had_;
};

results::Record makeRecord(const QString& dut, int mode, bool pass, const QString& started) {
  results::Record r;
  r.id = results::newRecordId();
  r.station = QStringLiteral("bench-3");
  r.dut = dut;
  r.mode = mode;
  r.port = QStringLiteral("COM1");
  r.started = QDateTime::fromString(started, Qt::ISODateWithMs);
  r.ended = r.started.addSecs(30);
  r.pass = pass;
  r.failure = pass ? Failure::None : Failure::Refused;
  r.reason = pass ? QString() : QStringLiteral("refused by the unit: [受信]：NAK(15h)");
  r.measured.frames = 3;
  r.measured.acks = 3;
  r.measured.answerMs = {10.0, 20.0, 30.0};
  return r;
}

class Results : public ::testing::Test {
 protected:
  Results() {
    QString error;
    store = results::Store::open(results::Location::parse(file, &error), &error);
    EXPECT_NE(store, nullptr) << error.toStdString();
  }
  void insert(const results::Record& r) {
    QString error;
    ASSERT_TRUE(store->insert(r, &error)) << error.toStdString();
  }
  static QStringList row(const FrmResults& w, int at) {
    QStringList cells;
    for (int c = 0; c < w.GrdRuns->columnCount(); ++c) cells << w.GrdRuns->item(at, c)->text();
    return cells;
  }
  static QStringList duts(const FrmResults& w) {
    QStringList tags;
    for (int r = 0; r < w.GrdRuns->rowCount(); ++r) tags << w.GrdRuns->item(r, 2)->text();
    return tags;
  }

  NoResultsVariable noVariable;
  TempRegistry settingsStore;
  QTemporaryDir dir;
  QString file = dir.filePath(QStringLiteral("store/results.sqlite"));
  std::unique_ptr<results::Store> store;
};

}  // namespace

TEST_F(Results, ListsNewestFirstAndFilters) {
  insert(makeRecord("A1", 1, true, "2026-01-10T08:00:00.000Z"));
  insert(makeRecord("B2", 13, false, "2026-03-01T09:30:00.000Z"));
  insert(makeRecord("A1", 1, false, "2026-02-15T12:00:00.000Z"));
  FrmResults w(file);
  EXPECT_EQ(w.GrdRuns->columnCount(), 6);
  QStringList headers;
  for (int c = 0; c < 6; ++c) headers << w.GrdRuns->horizontalHeaderItem(c)->text();
  EXPECT_EQ(headers, (QStringList{"開始", "ステーション", "DUT", "モード", "判定", "理由"}));
  ASSERT_EQ(w.GrdRuns->rowCount(), 3);
  EXPECT_EQ(duts(w), (QStringList{"B2", "A1", "A1"}));
  const QDateTime started = QDateTime::fromString("2026-03-01T09:30:00.000Z", Qt::ISODateWithMs);
  EXPECT_EQ(row(w, 0), (QStringList{started.toLocalTime().toString("yyyy/MM/dd HH:mm:ss"), "bench-3", "B2", "13",
                                    "不合格", "refused by the unit: [受信]：NAK(15h)"}));
  EXPECT_EQ(row(w, 2)[4], QStringLiteral("合格"));
  EXPECT_TRUE(w.LblStatus->text().endsWith(QStringLiteral("：3 件"))) << w.LblStatus->text().toStdString();

  w.TxtDut->setText(QStringLiteral("A1"));
  w.CmdRefresh->click();
  EXPECT_EQ(w.GrdRuns->rowCount(), 2);
  w.CboVerdict->setCurrentIndex(1);  // 合格
  w.CmdRefresh->click();
  ASSERT_EQ(w.GrdRuns->rowCount(), 1);
  EXPECT_EQ(w.shown()[0].started, QDateTime::fromString("2026-01-10T08:00:00.000Z", Qt::ISODateWithMs));

  w.TxtDut->clear();
  w.CboVerdict->setCurrentIndex(0);
  w.CboMode->setCurrentIndex(w.CboMode->findData(13));
  w.CmdRefresh->click();
  EXPECT_EQ(duts(w), QStringList{"B2"});

  w.CboMode->setCurrentIndex(0);
  w.chk_Since->setChecked(true);
  w.DateSince->setDate(QDate(2026, 2, 10));
  w.CmdRefresh->click();
  EXPECT_EQ(duts(w), (QStringList{"B2", "A1"}));
}

TEST_F(Results, AChosenRunShowsItsMeasurementsAndJournal) {
  const QString journal = dir.filePath(QStringLiteral("FrmRS232CMode2_20260301-0930.log"));
  {
    QFile f(journal);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(toCp932(QStringLiteral("2026/03/01 09:30:00.000 [送信]：ENQ(05h)\r\n")));
  }
  results::Record kept = makeRecord("J1", 1, true, "2026-03-01T09:30:00.000Z");
  kept.journal = journal;
  results::Record gone = makeRecord("J2", 1, true, "2026-03-01T09:00:00.000Z");
  gone.journal = dir.filePath(QStringLiteral("removed.log"));
  insert(kept);
  insert(gone);
  FrmResults w(file);
  ASSERT_EQ(w.GrdRuns->rowCount(), 2);
  w.GrdRuns->setCurrentCell(0, 0);
  const QStringList lines = w.TxtMeasure->toPlainText().split(u'\n');
  ASSERT_GE(lines.size(), 2);
  EXPECT_EQ(lines[0], measurementLine(kept.measured));
  EXPECT_EQ(lines[1], QStringLiteral("応答時間：3 件　最小 10.0　中央値 20.0　95% 30.0　最大 30.0 ms"));
  EXPECT_EQ(w.TxtJournal->toPlainText(), QStringLiteral("2026/03/01 09:30:00.000 [送信]：ENQ(05h)\n"));
  EXPECT_TRUE(w.TxtJournal->isReadOnly());
  w.GrdRuns->setCurrentCell(1, 0);
  EXPECT_EQ(w.TxtJournal->toPlainText(), QStringLiteral("journal not found"));
}

// Only the tail of a long journal, from a whole line, in the log setting's code page.
TEST_F(Results, JournalTailIsBoundedAndDecodedAsTheLogSettingSays) {
  const QString path = dir.filePath(QStringLiteral("j.log"));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(toCp932(QStringLiteral("一行目\r\n二行目\r\n三行目\r\n")));
  f.close();
  EXPECT_EQ(journalTail(path, 1000), QStringLiteral("一行目\r\n二行目\r\n三行目\r\n"));
  EXPECT_EQ(journalTail(path, 11), QStringLiteral("三行目\r\n")) << "the cut falls inside 二行目";
  ASSERT_TRUE(setLogTextFormat(LogTextFormat::Utf8Lf));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QStringLiteral("応答\n").toUtf8());
  f.close();
  EXPECT_EQ(journalTail(path, 1000), QStringLiteral("応答\n"));
  EXPECT_EQ(journalTail(QString(), 1000), QStringLiteral("journal not found"));
}

struct BadLocation {
  const char* text;
  const char* shown;  // how the window's status starts
};

class ResultsBadLocation : public Results, public ::testing::WithParamInterface<BadLocation> {};

TEST_P(ResultsBadLocation, ShowsTheErrorAndListsNothing) {
  QString location = QString::fromUtf8(GetParam().text);
  location.replace(QStringLiteral("$DIR"), dir.path());
  QFile blocker(dir.filePath(QStringLiteral("plain")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  FrmResults w(location);
  EXPECT_EQ(w.GrdRuns->rowCount(), 0);
  EXPECT_TRUE(w.LblStatus->text().startsWith(QString::fromUtf8(GetParam().shown))) << w.LblStatus->text().toStdString();
  EXPECT_GT(w.LblStatus->text().size(), QString::fromUtf8(GetParam().shown).size()) << "and why";
  w.CmdRefresh->click();
  EXPECT_TRUE(w.LblStatus->text().startsWith(QString::fromUtf8(GetParam().shown)));
}

INSTANTIATE_TEST_SUITE_P(Locations, ResultsBadLocation,
                         ::testing::Values(BadLocation{"$DIR/plain/results.sqlite", "結果の保存先を開けません："},
                                           BadLocation{"postgresql://tester@127.0.0.1:1/results",
                                                       "結果の保存先を開けません："},
                                           BadLocation{"postgresql://", "結果の保存先が正しくありません："}));

TEST_F(Results, EveryControlIsNamedAndNoButtonIsDefault) {
  FrmResults w(file);
  for (QWidget* c : std::initializer_list<QWidget*>{w.TxtDut, w.CboMode, w.CboVerdict, w.chk_Since, w.DateSince,
                                                    w.CmdRefresh, w.LblStatus, w.GrdRuns, w.TxtMeasure, w.LblJournal,
                                                    w.TxtJournal, w.CmdClose})
    EXPECT_FALSE(c->accessibleName().isEmpty()) << c->objectName().toStdString();
  for (QPushButton* b : w.findChildren<QPushButton*>()) {
    EXPECT_FALSE(b->autoDefault()) << b->objectName().toStdString();
    EXPECT_FALSE(b->isDefault()) << b->objectName().toStdString();
  }
}

TEST_F(Results, SettingsKeepAValidLocationAndRefuseABadOne) {
  BenchState bench;
  {
    FrmSettei s(bench);
    EXPECT_EQ(s.txtResults->accessibleName(), QStringLiteral("結果の保存先"));
    EXPECT_TRUE(s.LblResultsError->isHidden());
    s.txtResults->setText(QStringLiteral("postgresql://"));
    s.CmdOk->click();
    EXPECT_NE(s.result(), QDialog::Accepted);
    EXPECT_FALSE(s.LblResultsError->isHidden());
    QString error;
    results::Location::parse(QStringLiteral("postgresql://"), &error);
    EXPECT_EQ(s.LblResultsError->text(), QStringLiteral("結果の保存先が正しくありません：") + error);
    EXPECT_EQ(storedResultsLocation(), QString());

    s.txtResults->setText(QStringLiteral(" %1 ").arg(file));
    s.CmdOk->click();
    EXPECT_EQ(s.result(), QDialog::Accepted);
    EXPECT_TRUE(s.LblResultsError->isHidden());
  }
  EXPECT_EQ(storedResultsLocation(), file);
  FrmSettei again(bench);
  EXPECT_EQ(again.txtResults->text(), file);
  EXPECT_TRUE(again.LblResultsSource->text().contains(file)) << again.LblResultsSource->text().toStdString();
}

// The menu records through the settings' store, says when a record is lost,
// and 結果一覧 lists what was recorded.
class MenuResults : public Results {
 protected:
  MenuResults() { installApplicationEnd([] {}); }
  ~MenuResults() override { installApplicationEnd({}); }
  RecordingPrompt prompt;
  BenchState bench;
  Wexford board{QStringLiteral(FAKE_WEXFORD)};
};

TEST_F(MenuResults, RunsAreRecordedToTheChosenStoreAndListed) {
  ASSERT_TRUE(storeResultsLocation(file));
  store.reset();
  {
    FrmMenu menu(bench, board);
    EXPECT_EQ(menu.resultsLocation(), file);
    ASSERT_NE(menu.recorder(), nullptr);
    ASSERT_NE(runRecordSink(), nullptr);
    EXPECT_EQ(menu.CmdResults->text(), QStringLiteral("結果一覧"));
    runRecordSink()->record(makeRecord("M1", 3, true, "2026-04-01T10:00:00.000Z"));
    ASSERT_TRUE(menu.recorder()->flush(5000ms)) << menu.recorder()->status().lastError.toStdString();
    menu.showRecorderStatus();
    EXPECT_TRUE(menu.ResultsStatus->isHidden()) << menu.ResultsStatus->text().toStdString();

    QStringList listed;
    ModalDriver look([&](QWidget* w) {
      if (auto* results = qobject_cast<FrmResults*>(w)) {
        listed = duts(*results);
        results->CmdClose->click();
      }
    });
    menu.CmdResults->click();
    EXPECT_EQ(listed, QStringList{"M1"});
  }
  EXPECT_EQ(runRecordSink(), nullptr) << "the menu's recorder is gone with it";
}

TEST_F(MenuResults, ABadOrLostLocationIsShownInTheMenu) {
  ASSERT_TRUE(storeResultsLocation(QStringLiteral("postgresql://")));
  FrmMenu menu(bench, board);
  EXPECT_EQ(menu.recorder(), nullptr);
  EXPECT_EQ(runRecordSink(), nullptr);
  EXPECT_FALSE(menu.ResultsStatus->isHidden());
  EXPECT_TRUE(menu.ResultsStatus->text().startsWith(QStringLiteral("結果の保存先が正しくありません：")));

  // A location that cannot even be made: the record is lost, and said so.
  QFile blocker(dir.filePath(QStringLiteral("plain")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  ASSERT_TRUE(storeResultsLocation(dir.filePath(QStringLiteral("plain/results.sqlite"))));
  menu.startRecorder();
  ASSERT_NE(menu.recorder(), nullptr);
  ASSERT_NE(runRecordSink(), nullptr);
  runRecordSink()->record(makeRecord("L1", 1, true, "2026-04-01T10:00:00.000Z"));
  EXPECT_FALSE(menu.recorder()->flush(5000ms));
  menu.showRecorderStatus();
  EXPECT_FALSE(menu.ResultsStatus->isHidden());
  EXPECT_TRUE(menu.ResultsStatus->text().startsWith(QStringLiteral("結果を記録できませんでした："))) 
      << menu.ResultsStatus->text().toStdString();
  EXPECT_TRUE(prompt.messages.empty()) << "no message box";
}
