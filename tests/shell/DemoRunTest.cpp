// The headless demo's run, through the real menu and window against the
// simulated unit on a pseudo-terminal.
#include "sessions/WexfordBinding.h"
#include "menu/DemoRun.h"
#include "menu/BenchState.h"
#include "menu/FrmMenu.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"
#include "menu/TestWindowList.h"
#include "unit/UnitSimulator.h"

#include <QElapsedTimer>
#include <algorithm>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <optional>
#include <string>

using namespace kestrel;
using namespace kestrel::test;
using namespace std::chrono_literals;

namespace {

// ENQ, channels 1 to 255 eight a frame, then the stop of 終了.
QByteArray wholeAutomaticRun() {
  QByteArray out(1, '\x05');
  for (int first = 1; first <= 255; first += 8) {
    QByteArray payload;
    for (int ch = first; ch < first + 8 && ch <= 255; ++ch) payload += QByteArray::number(ch).rightJustified(3, '0');
    char bcc = '\x03';
    for (char c : payload) bcc ^= c;
    out += '\x02' + payload + '\x03' + bcc;
  }
  return out + '\xFF';
}

// Starts the demo's run and waits, at most 30 s, until it has finished and
// no box is left open: what it said, if it finished.
std::optional<std::pair<bool, QString>> runToTheEnd(DemoRun& run) {
  std::optional<std::pair<bool, QString>> outcome;
  QObject::connect(&run, &DemoRun::finished, [&](bool ok, const QString& message) { outcome.emplace(ok, message); });
  run.start();
  QElapsedTimer clock;
  clock.start();
  while ((!outcome || QApplication::activeModalWidget()) && clock.elapsed() < 30000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return outcome;
}

}  // namespace

TEST(DemoRun, PlaysTheWholeAutomaticRunFromTheMenuAndSavesTheWindow) {
  RecordingPrompt prompt;
  registerTestWindows();  // the menu's tests leave stand-ins in their place
  sim::UnitSimulator unit({.answerDelay = 0ms});
  unit.start();
  ComPortOverride com1(1, QString::fromStdString(unit.slavePath()));
  Wexford board(QStringLiteral(FAKE_WEXFORD));
  BenchState bench;
  FrmMenu menu(bench, board);
  menu.show();
  QTemporaryDir dir;
  const QString picture = dir.filePath(QStringLiteral("run.png"));

  DemoRun run(menu, picture, 20000);
  const std::optional<std::pair<bool, QString>> outcome = runToTheEnd(run);

  ASSERT_TRUE(outcome);
  EXPECT_TRUE(outcome->first) << outcome->second.toStdString();
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(prompt.messages.empty());
  const QByteArray expected = wholeAutomaticRun();
  ASSERT_TRUE(unit.waitForBytes(std::size_t(expected.size()), 2000ms));
  const sim::Bytes bytes = unit.received();
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())), expected);
  const QImage image(picture);
  ASSERT_FALSE(image.isNull());
  EXPECT_GT(image.width(), 300);
  EXPECT_GT(image.height(), 300);
}

// Every unit the test can answer on a pseudo-terminal, each in its own
// window from its own menu entry, started as the operator starts it; the
// access gates get their codes typed into the menu's dialog.
class DemoRunEveryUnit : public testing::TestWithParam<std::string> {};

TEST_P(DemoRunEveryUnit, RunsTheWholeRunFromTheMenuAndSavesTheWindow) {
  const QString protocol = QString::fromStdString(GetParam());
  const DemoPlan* plan = demoPlan(protocol);
  ASSERT_NE(plan, nullptr);
  RecordingPrompt prompt;
  registerTestWindows();
  const QString schedule = QStringLiteral(KESTREL_EXAMPLES_DIR "/card/route.wmj");
  sim::UnitSimulator unit({.protocol = GetParam(),
                           .answerDelay = 0ms,
                           .schedule = protocol == QStringLiteral("fenwick") ? schedule.toStdString() : std::string()});
  unit.start();
  ComPortOverride com1(1, QString::fromStdString(unit.slavePath()));
  Wexford board(QStringLiteral(FAKE_WEXFORD));
  QTemporaryDir dir;
  ASSERT_TRUE(QFile::copy(QStringLiteral(KESTREL_EXAMPLES_DIR "/frames/data.dat"), dir.filePath(QStringLiteral("data.dat"))));
  BenchState bench;
  bench.AppFolder = dir.path();
  FrmMenu menu(bench, board);
  menu.show();
  const QString picture = dir.filePath(QStringLiteral("run.png"));

  DemoRun run(menu, *plan, picture, 20000);
  run.setScheduleFile(schedule);
  const std::optional<std::pair<bool, QString>> outcome = runToTheEnd(run);

  ASSERT_TRUE(outcome);
  EXPECT_TRUE(outcome->first) << outcome->second.toStdString();
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  // The schedule window and the frame editor tell of a run that went well in a box.
  const std::vector<QString> notices =
      plan->start == DemoStart::Schedule ? std::vector{QStringLiteral("正常にデータを受信しました。")}
      : plan->start == DemoStart::Frames ? std::vector{QStringLiteral("4フレーム分送信完了しました　 ")}
                                         : std::vector<QString>{};
  EXPECT_EQ(prompt.texts(), notices);
  if (plan->start == DemoStart::Frames) {
    // The editor's session reports no runs: the sample's four frames, whole.
    ASSERT_TRUE(unit.waitForBytes(4, 2000ms));
    const sim::Bytes bytes = unit.received();
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), std::uint8_t('@')), 4);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), std::uint8_t('\r')), 4);
  } else if (plan->start == DemoStart::Schedule) {
    ASSERT_TRUE(run.verdict());
    EXPECT_TRUE(run.verdict()->pass());
  } else {
    EXPECT_EQ(run.runOutcome(), RunOutcome::Complete);
    ASSERT_TRUE(run.verdict());
    EXPECT_TRUE(run.verdict()->pass());
  }
  const QImage image(picture);
  ASSERT_FALSE(image.isNull());
  EXPECT_GT(image.width(), 300);
  EXPECT_GT(image.height(), 300);
}

INSTANTIATE_TEST_SUITE_P(Units, DemoRunEveryUnit,
                         testing::Values("buffered", "mode1", "buffered1000", "customer", "hs4142", "plx6", "fenwick",
                                         "brisk"));

// The frame editor as the program shows it, its notices in real boxes:
// the demo acknowledges the notice of frames sent, and ends on any other box
// (data.dat missing) rather than waiting behind it.
class DemoRunFrameEditorBoxes : public testing::TestWithParam<bool> {};

TEST_P(DemoRunFrameEditorBoxes, EndsTheRunThroughTheBoxesItShows) {
  const bool withData = GetParam();
  registerTestWindows();
  sim::UnitSimulator unit({.protocol = "brisk", .answerDelay = 0ms});
  unit.start();
  ComPortOverride com1(1, QString::fromStdString(unit.slavePath()));
  Wexford board(QStringLiteral(FAKE_WEXFORD));
  QTemporaryDir dir;
  if (withData) {
    ASSERT_TRUE(QFile::copy(QStringLiteral(KESTREL_EXAMPLES_DIR "/frames/data.dat"), dir.filePath(QStringLiteral("data.dat"))));
  }
  BenchState bench;
  bench.AppFolder = dir.path();
  FrmMenu menu(bench, board);
  menu.show();
  // Should the demo never see a box, the test ends it: the boxes go, the
  // windows' event loops return.
  QTimer watchdog;
  QObject::connect(&watchdog, &QTimer::timeout, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
  QTimer::singleShot(15000, &watchdog, [&watchdog] { watchdog.start(200); });

  DemoRun run(menu, *demoPlan(QStringLiteral("brisk")), dir.filePath(QStringLiteral("run.png")), 10000);
  const std::optional<std::pair<bool, QString>> outcome = runToTheEnd(run);

  ASSERT_TRUE(outcome) << "the demo did not end";
  EXPECT_FALSE(watchdog.isActive()) << "the demo was stuck behind a box";
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  if (withData) {
    EXPECT_TRUE(outcome->first) << outcome->second.toStdString();
    EXPECT_EQ(run.notices(), QStringList{QStringLiteral("4フレーム分送信完了しました　 ")});
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("run.png"))));
  } else {
    EXPECT_FALSE(outcome->first);
    EXPECT_EQ(outcome->second, QStringLiteral("the run stopped with a message: 読込むファイルが見つかりませんでした  "));
    EXPECT_TRUE(run.notices().isEmpty());
  }
}

INSTANTIATE_TEST_SUITE_P(DataFile, DemoRunFrameEditorBoxes, testing::Bool());
