// The real windows and port against the simulated unit on a pseudo-terminal.
#include "serial/BufferedForms.h"
#include "serial/EntryPanel.h"
#include "serial/FrmRS232CMode1.h"
#include "serial/LogGrid.h"
#include "serial/SerialLink.h"
#include "shell/FrmMenu.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"
#include "unit/UnitSimulator.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;
using namespace std::chrono_literals;

namespace {

QString bccLine(char bcc) {
  return QStringLiteral("[送信]：BCC(") + QString::number(quint8(bcc), 16).toUpper() + QStringLiteral("h)");
}

QByteArray received(const sim::UnitSimulator& unit) {
  const sim::Bytes bytes = unit.received();
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// Runs the event loop until `done` holds or the time is up.
bool runUntil(const std::function<bool()>& done, int ms = 15000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}

class EndToEnd : public ::testing::Test {
 protected:
  template <class Form = FrmRS232CMode2>
  Form* openWindow(sim::Options options, int subMode = 0) {
    unit = std::make_unique<sim::UnitSimulator>(options);
    unit->start();
    com1 = std::make_unique<ComPortOverride>(1, QString::fromStdString(unit->slavePath()));
    FrmMenu::SubMode = qint16(subMode);
    auto* window = new Form();
    form.reset(window);
    form->show();
    EXPECT_TRUE(form->PDQ_COM->isOpen());
    return window;
  }
  int count(const QString& line) const { return int(form->log->lines().count(line)); }
  // Closes the window, and checks that the unit was told to stop.
  void closeAndExpectLast(const QByteArray& stop) {
    const std::size_t before = unit->received().size();
    form->CmdAction[6]->click();
    ASSERT_TRUE(unit->waitForBytes(before + std::size_t(stop.size()), 2000ms));
    EXPECT_EQ(received(*unit).right(stop.size()), stop);
    EXPECT_TRUE(prompt.messages.empty());
  }

  RecordingPrompt prompt;
  std::unique_ptr<sim::UnitSimulator> unit;
  std::unique_ptr<ComPortOverride> com1;
  std::unique_ptr<SerialTestForm> form;
};

}  // namespace

TEST_F(EndToEnd, AutomaticPlaybackOf255ChannelsReachesTheUnitByteForByte) {
  openWindow({.answerDelay = 0ms}, 0);
  form->CmdAction[0]->click();

  QByteArray expected("\x05");
  for (int first = 1; first <= 255; first += 8) {
    QByteArray digits;
    for (int c = first; c < first + 8 && c <= 255; ++c) digits += QByteArray::number(c).rightJustified(3, '0');
    expected += expectedFrame(digits);
  }
  ASSERT_TRUE(runUntil([&] { return count("[受信]：ACK(06h)") == 33; }));
  EXPECT_EQ(received(*unit), expected);

  const QStringList lines = form->log->lines();
  ASSERT_EQ(lines.size(), 1 + 32 * 5 + 1);
  EXPECT_EQ(lines.mid(0, 6),
            (QStringList{"[送信]：ENQ(05h)", "[受信]：ACK(06h)", "[送信]：STX(02h)",
                         "[送信]：001,002,003,004,005,006,007,008", "[送信]：ETX(03h)", bccLine(expected[27])}));
  EXPECT_EQ(lines.mid(lines.size() - 5),
            (QStringList{"[送信]：STX(02h)", "[送信]：249,250,251,252,253,254,255", "[送信]：ETX(03h)",
                         bccLine(expected.back()), "[受信]：ACK(06h)"}));
  EXPECT_EQ(form->log->Rows(), lines.size() + 3);
  closeAndExpectLast(QByteArray("\xFF", 1));
}

// An answer and a stray byte in one arrival: each is handled by its own event.
TEST_F(EndToEnd, StrayByteBesideAnAnswerDoesNotStallTheRun) {
  openWindow({.answerDelay = 0ms, .strayBytes = {0x41}, .strayOnce = true});
  form->CmdAction[0]->click();
  ASSERT_TRUE(runUntil([&] { return count("[受信]：ACK(06h)") == 33; }));
  EXPECT_EQ(count("[受信]：(41h)"), 1);
}

TEST_F(EndToEnd, ModeOneAutomaticRunPacedByTwoAcksPerLine) {
  openWindow<FrmRS232CMode1>({.protocol = "mode1", .answerDelay = 0ms});
  form->CmdAction[0]->click();

  QByteArray expected("sts\r");
  QStringList log{"[送信]：STS(53h54h53h) + CR(0Dh)", "[受信]：ACK(06h)"};
  for (int first = 1; first <= 255; first += 8) {
    QStringList channels;
    for (int c = first; c < first + 8 && c <= 255; ++c) channels.append(QString::number(c).rightJustified(3, u'0'));
    expected += channels.join(u',').toLatin1() + "\r";
    log << "[送信]：" + channels.join(u',') + " + CR(0Dh)"
        << "[受信]：ACK(06h)"
        << "[受信]：ACK(06h)";
  }
  // Both ACKs of a line arrive in one write.
  ASSERT_TRUE(runUntil([&] { return count("[受信]：ACK(06h)") == 1 + 2 * 32; }));
  runUntil([] { return false; }, 100);
  EXPECT_EQ(received(*unit), expected);
  EXPECT_EQ(form->log->lines(), log);
  EXPECT_EQ(form->log->TextMatrix(1), log[0]);  // row LogRow + 1 from a fresh window
  closeAndExpectLast("000\r");
}

TEST_F(EndToEnd, ThousandChannelAutomaticRunInFramesOfTen) {
  openWindow<FrmRS232CMode2_1000CH>({.protocol = "buffered1000", .answerDelay = 0ms});
  form->CmdAction[0]->click();
  QByteArray expected("\x05");
  for (int first = 1; first <= 1000; first += 10) {
    QByteArray digits;
    for (int c = first; c < first + 10; ++c) digits += QByteArray::number(c).rightJustified(4, '0');
    expected += expectedFrame(digits);
  }
  ASSERT_TRUE(runUntil([&] { return count("[受信]：ACK(06h)") == 101; }, 30000));
  EXPECT_EQ(count("[受信]：NAK(15h)"), 0);
  EXPECT_EQ(received(*unit), expected);
  const QStringList lines = form->log->lines();
  ASSERT_EQ(lines.size(), 1 + 100 * 5 + 1);
  EXPECT_EQ(lines.mid(lines.size() - 5, 4),
            (QStringList{"[送信]：STX(02h)", "[送信]：0991,0992,0993,0994,0995,0996,0997,0998,0999,1000",
                         "[送信]：ETX(03h)", bccLine(expected.back())}));
  closeAndExpectLast(QByteArray("\xFF", 1));
}

TEST_F(EndToEnd, LanModelRunCarriesTheChosenLineNumber) {
  auto* window = openWindow<FrmTARN4RS1000CH>({.protocol = "buffered1000", .answerDelay = 0ms});
  window->OptSp[2]->setChecked(true);
  form->CmdAction[0]->click();
  QByteArray expected("\x05");
  for (int first = 1; first <= 1000; first += 8) {
    QByteArray payload("#003");
    for (int c = first; c < first + 8; ++c) payload += QByteArray::number(c).rightJustified(4, '0');
    expected += expectedFrame(payload);
  }
  ASSERT_TRUE(runUntil([&] { return count("[受信]：ACK(06h)") == 126; }, 30000));
  EXPECT_EQ(count("[受信]：NAK(15h)"), 0);
  EXPECT_EQ(received(*unit), expected);
  EXPECT_EQ(form->log->lines()[3], QStringLiteral("[送信]：#003,0001,0002,0003,0004,0005,0006,0007,0008"));
  closeAndExpectLast(QByteArray("\xFF", 1));
}

TEST_F(EndToEnd, RefusedFrameIsSentAgainAtTheNextAck) {
  openWindow({.answerDelay = 0ms, .nakEvery = 2}, 1);
  form->panel->OptMode[1]->click();
  for (int i = 0; i < 5; ++i) form->panel->TxtNo[i]->setText(QString::number(246 + i));
  form->panel->TxtCh->setText("2");
  form->CmdAction[0]->click();
  ASSERT_TRUE(runUntil([&] { return count("[受信]：NAK(15h)") == 1; }));
  // The unit is ready again.
  unit->send(std::array<std::uint8_t, 1>{0x06});
  ASSERT_TRUE(runUntil([&] { return count("[受信]：ACK(06h)") == 4; }));
  runUntil([] { return false; }, 100);
  EXPECT_EQ(received(*unit), "\x05" + expectedFrame("246247") + expectedFrame("248249") + expectedFrame("248249") +
                                 expectedFrame("250"));
}

TEST_F(EndToEnd, UnitThatGoesAwayIsLoggedAndNothingMoreIsWritten) {
  openWindow({.answerDelay = 0ms}, 0);
  unit.reset();  // the far end of the line disappears
  ASSERT_TRUE(runUntil([&] { return !form->PDQ_COM->isOpen(); }, 3000));
  ASSERT_EQ(form->log->lines().size(), 1);
  EXPECT_TRUE(form->log->lines()[0].startsWith(QStringLiteral("[エラー]：通信ポートが切断されました")));
  form->CmdAction[0]->click();
  EXPECT_EQ(form->log->lines().last(), kPortNotOpenLog);
}
