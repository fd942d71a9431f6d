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
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

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
  std::optional<std::pair<bool, QString>> outcome;
  QObject::connect(&run, &DemoRun::finished, [&](bool ok, const QString& message) { outcome.emplace(ok, message); });
  run.start();
  QElapsedTimer clock;
  clock.start();
  while ((!outcome || QApplication::activeModalWidget()) && clock.elapsed() < 30000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

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
