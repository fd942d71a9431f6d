// The real windows and port against the simulated unit on a pseudo-terminal.
#include "windows/serial/BufferedForms.h"
#include "kit/EntryPanel.h"
#include "windows/serial/FrmPLX6.h"
#include "windows/serial/FrmRS232CMode1.h"
#include "windows/serial/FrmRS232CMode5.h"
#include "windows/serial/Mode34Forms.h"
#include "kit/LogGrid.h"
#include "kit/VerdictPanel.h"
#include "link/SerialLink.h"
#include "sessions/ModeCatalogue.h"
#include "support/MenuContext.h"
#include "support/RecordingSink.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"
#include "unit/UnitSimulator.h"

#include <QChartView>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QLabel>
#include <QLineSeries>
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
    form.reset();
    com1.reset();  // before the next one: it unsets the variable as it goes
    unit = std::make_unique<sim::UnitSimulator>(options);
    unit->start();
    com1 = std::make_unique<ComPortOverride>(1, QString::fromStdString(unit->slavePath()));
    auto* window = new Form(menuContext(subMode));
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

// The verdict below the window: measured from the unit's answers, cleared as
// the next run starts, and a refusal named as the reason.
TEST_F(EndToEnd, VerdictAndAnswerTimesOfARun) {
  openWindow({.answerDelay = 20ms, .nakEvery = 0}, 0);
  VerdictPanel& verdict = *form->RunVerdict;
  EXPECT_TRUE(verdict.isHidden());
  form->CmdAction[0]->click();
  ASSERT_TRUE(runUntil([&] { return verdict.verdict().has_value(); }));
  EXPECT_TRUE(verdict.isVisible());
  EXPECT_EQ(verdict.VerdictText->text(), QStringLiteral("合格"));
  EXPECT_EQ(verdict.ReasonText->text(), QString());
  const Measurements& m = verdict.measurements();
  EXPECT_EQ(m.frames, 33);
  EXPECT_EQ(m.acks, 33);
  const Spread answers = m.answers();
  EXPECT_EQ(answers.count, 33);
  EXPECT_GE(answers.median, 19.0);
  EXPECT_LE(answers.median, 35.0);  // the unit's 20 ms and a loaded machine's wake-up
  EXPECT_TRUE(verdict.MeasureText->text().startsWith(QStringLiteral("frames 33 · ACK 33 NAK 0 other 0 refused 0 · answer ms min ")));

  // The chart follows the button's state, one point per answered frame.
  EXPECT_EQ(verdict.Chart, nullptr);
  verdict.ChartToggle->setChecked(true);
  ASSERT_NE(verdict.Chart, nullptr);
  EXPECT_TRUE(verdict.Chart->isVisible());
  EXPECT_EQ(verdict.answerSeries()->count(), 33);
  EXPECT_EQ(verdict.answerSeries()->at(0).y(), m.answerMs.front());
  verdict.ChartToggle->setChecked(false);
  EXPECT_FALSE(verdict.Chart->isVisible());

  // The next run clears it; a unit that refuses and a stop end it 不合格.
  unit.reset();
  com1.reset();
  openWindow({.answerDelay = 0ms, .nakEvery = 2}, 1);
  VerdictPanel& next = *form->RunVerdict;
  form->panel->OptMode[1]->click();
  for (int i = 0; i < 3; ++i) form->panel->TxtNo[i]->setText(QString::number(1 + i));
  form->panel->TxtCh->setText("2");
  form->CmdAction[0]->click();
  ASSERT_TRUE(runUntil([&] { return count("[受信]：NAK(15h)") == 1; }));
  EXPECT_TRUE(next.isHidden());
  form->CmdAction[1]->click();
  ASSERT_TRUE(next.verdict().has_value());
  EXPECT_EQ(next.VerdictText->text(), QStringLiteral("不合格"));
  EXPECT_EQ(next.ReasonText->text(), QStringLiteral("ユニットが受け付けませんでした：[受信]：NAK(15h)"));
  form->CmdAction[0]->click();
  EXPECT_FALSE(next.verdict().has_value());
  EXPECT_EQ(next.VerdictText->text(), QString());
}

// Each run the window sees end becomes one record: the window's entry and
// port, the operator's DUT tag (kept for the next run), the verdict the
// panel shows, the measurements and the journal.
TEST_F(EndToEnd, EachFinishedRunIsRecordedOnceWithTheWindowsFacts) {
  RecordingSink sink;
  openWindow({.answerDelay = 0ms, .nakEvery = 0}, 0);
  EXPECT_EQ(form->DutTag->accessibleName(), QStringLiteral("DUT"));
  form->DutTag->setText(QStringLiteral(" SN-0042 "));
  const QDateTime before = QDateTime::currentDateTimeUtc();
  form->CmdAction[0]->click();
  ASSERT_TRUE(runUntil([&] { return form->RunVerdict->verdict().has_value(); }));
  runUntil([] { return false; }, 50);
  ASSERT_EQ(sink.records.size(), 1u);
  const results::Record r = sink.records[0];
  EXPECT_EQ(r.id.size(), 36);
  EXPECT_EQ(r.station, results::stationName());
  EXPECT_EQ(r.dut, QStringLiteral("SN-0042"));
  EXPECT_EQ(r.mode, 1) << "the standard buffered entry of the menu";
  EXPECT_EQ(r.port, QStringLiteral("COM1"));
  EXPECT_EQ(r.options.value("window").toString(), QStringLiteral("FrmRS232CMode2"));
  EXPECT_EQ(r.options.value("total").toInt(), 255);
  const QJsonArray channels = r.options.value("channels").toArray();
  ASSERT_EQ(channels.size(), 255);
  EXPECT_EQ(channels.first().toInt(), 1);
  EXPECT_EQ(channels.last().toInt(), 255);
  EXPECT_EQ(r.started.timeSpec(), Qt::UTC);
  EXPECT_GE(r.started, before);
  EXPECT_GE(r.ended, r.started);
  EXPECT_TRUE(r.pass);
  EXPECT_EQ(r.failure, Failure::None);
  EXPECT_EQ(r.reason, QString());
  EXPECT_EQ(r.measured.frames, 33);
  EXPECT_EQ(r.measured.acks, 33);
  EXPECT_EQ(r.measured.answerMs.size(), 33u);
  EXPECT_TRUE(r.channels.isEmpty());
  ASSERT_NE(form->log->journal(), nullptr);
  EXPECT_EQ(r.journal, form->log->journal()->path());
  EXPECT_GT(QFileInfo(r.journal).size(), 0) << "the run's lines are on disk when it is recorded";

  // The window keeps the tag for its next run.
  form->CmdAction[0]->click();
  ASSERT_TRUE(runUntil([&] { return sink.records.size() == 2; }));
  EXPECT_NE(sink.records[1].id, r.id);
  EXPECT_EQ(sink.records[1].dut, QStringLiteral("SN-0042"));

  // A run refused and stopped: a record that says why, once.
  unit.reset();
  com1.reset();
  openWindow({.answerDelay = 0ms, .nakEvery = 2}, 1);
  form->panel->OptMode[1]->click();
  for (int i = 0; i < 3; ++i) form->panel->TxtNo[i]->setText(QString::number(1 + i));
  form->panel->TxtCh->setText("2");
  form->CmdAction[0]->click();
  ASSERT_TRUE(runUntil([&] { return count("[受信]：NAK(15h)") == 1; }));
  form->CmdAction[1]->click();
  form->CmdAction[1]->click();  // a second stop ends no second run
  ASSERT_EQ(sink.records.size(), 3u);
  const results::Record& refused = sink.records[2];
  EXPECT_EQ(refused.dut, QString());
  EXPECT_EQ(refused.mode, 2);
  EXPECT_FALSE(refused.pass);
  EXPECT_EQ(refused.failure, Failure::Refused);
  EXPECT_EQ(refused.reason, reasonText(*form->RunVerdict->verdict()));
  EXPECT_EQ(refused.options.value("channels").toArray(), (QJsonArray{1, 2, 3}));
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

TEST_F(EndToEnd, ALostPortIsOfferedForReopeningAndReopensAsItOpened) {
  openWindow({.answerDelay = 0ms}, 0);
  EXPECT_TRUE(form->CmdReopen->isHidden());
  EXPECT_FALSE(form->CmdReopen->accessibleName().isEmpty());
  const QString gone = QString::fromStdString(unit->slavePath());
  unit.reset();
  ASSERT_TRUE(runUntil([&] { return !form->PDQ_COM->isOpen(); }, 3000));
  EXPECT_FALSE(form->CmdReopen->isHidden());

  form->CmdReopen->click();  // the unit is still away
  EXPECT_FALSE(form->PDQ_COM->isOpen());
  EXPECT_FALSE(form->CmdReopen->isHidden());
  EXPECT_TRUE(
      form->log->lines().last().startsWith(QStringLiteral("[エラー]：COM1（%1）を開き直せませんでした：").arg(gone)))
      << form->log->lines().last().toStdString();

  unit = std::make_unique<sim::UnitSimulator>(sim::Options{.answerDelay = 0ms});
  unit->start();
  const QString back = QString::fromStdString(unit->slavePath());
  com1->point(back);
  form->CmdReopen->click();
  ASSERT_TRUE(form->PDQ_COM->isOpen());
  EXPECT_TRUE(form->CmdReopen->isHidden());
  EXPECT_EQ(form->log->lines().last(), QStringLiteral("[情報]：COM1（%1）を開き直しました").arg(back));
  EXPECT_TRUE(prompt.messages.empty());
  form->CmdAction[0]->click();
  ASSERT_TRUE(runUntil([&] { return count("[受信]：ACK(06h)") == 33; }));
}

// The raw-profile windows, whole runs, with the unit's messages whole and
// then split at every byte boundary (each byte its own arrival).
namespace {
constexpr auto kEveryByteApart = 30ms;  // longer than the tester's 20 ms collection wait
}  // namespace

TEST_F(EndToEnd, CustomerUnitPlaysTheListAndItsEndIsAcknowledged) {
  for (const auto gap : {0ms, kEveryByteApart}) {
    openWindow<FrmRS232CMode5>({.protocol = "customer", .answerDelay = 0ms, .byteGap = gap});
    form->CmdAction[0]->click();
    ASSERT_TRUE(runUntil([&] { return unit->notices().size() == 1 && unit->notices()[0].answer; }));
    QByteArray list("\x10\x02\x43\x4E");
    for (int c = 1; c <= 30; ++c) list += char(0x30 + (c >> 4)) + QByteArray(1, char(0x30 + (c & 0x0F)));
    list += QByteArray("\x10\x03\x10");
    EXPECT_EQ(received(*unit), list + QByteArray("\x10\x06\x00", 3));
    EXPECT_EQ(unit->notices()[0].answer, (sim::Bytes{0x10, 0x06, 0x00}));
    const QStringList lines = form->log->lines();
    ASSERT_EQ(lines.size(), 6 + 2 + 2 + 2) << gap.count();
    EXPECT_EQ(lines.mid(6, 2), (QStringList{QStringLiteral("受信") + QString(82, u'-'), "10h06h00h"}));
    EXPECT_TRUE(lines[9].startsWith(QStringLiteral("10h02h39h"))) << gap.count();
    EXPECT_EQ(lines[11], QStringLiteral("10h06h00h"));
  }
}

TEST_F(EndToEnd, HsUnitTakesTheAutomaticListInThreeFrames) {
  for (const auto gap : {0ms, kEveryByteApart}) {
    openWindow<FrmRS232CMode3>({.protocol = "hs4142", .answerDelay = 0ms, .byteGap = gap});
    form->CmdAction[0]->click();
    ASSERT_TRUE(runUntil([&] { return count("[受信]：ACK(06h)") == 4; }));
    runUntil([] { return false; }, 100);
    EXPECT_EQ(received(*unit), "\x05" + expectedFrame("001002003004005006007008") +
                                   expectedFrame("009010011012013014015016") + expectedFrame("017018019020"));
    EXPECT_EQ(form->log->lines(),
              (QStringList{"[送信]：ENQ(05h)", "[受信]：ACK(06h)",
                           "[送信]：STX(02h)+001,002,003,004,005,006,007,008+ETX(03h)+BCC(Bh)", "[受信]：ACK(06h)",
                           "[送信]：STX(02h)+009,010,011,012,013,014,015,016+ETX(03h)+BCC(Ch)", "[受信]：ACK(06h)",
                           "[送信]：STX(02h)+017,018,019,020+ETX(03h)+BCC(6h)", "[受信]：ACK(06h)"}));
    EXPECT_EQ(static_cast<FrmRS232CMode3&>(*form).session().CommandState, 0);
  }
}

TEST_F(EndToEnd, HsUnitReportsAndRefusesDuringPlayback) {
  auto* window =
      openWindow<FrmRS232CMode4>({.protocol = "hs4142", .answerDelay = 0ms, .playTime = 300ms, .report = true});
  form->panel->OptMode[1]->click();
  form->panel->TxtNo[0]->setText("7");
  form->CmdAction[0]->click();
  ASSERT_TRUE(runUntil([&] { return count("[受信]：ACK(06h)") == 2; }));
  window->SheetCmd[0]->click();
  ASSERT_TRUE(runUntil([&] { return count("[受信]：IN007 (02h30h30h37h03h34h)") == 1; }));
  EXPECT_EQ(count("[受信]：再生中コマンド無効 [！] (21h)"), 1);
}

TEST_F(EndToEnd, Plx6AutomaticRunPacedByReady) {
  QByteArray expected("\x10\x05");
  for (int first = 1; first <= 255; first += 8) {
    QByteArray digits;
    for (int c = first; c < first + 8 && c <= 255; ++c)
      digits += QByteArray::number(c, 16).rightJustified(2, '0').toUpper();
    expected += expectedFrame(digits);
  }
  const QString ready = QStringLiteral("[受信]：STX+【Ready】+BCC(02h52h65h61h64h79h03h48h)");
  for (const auto gap : {0ms, kEveryByteApart}) {
    openWindow<FrmPLX6>({.protocol = "plx6", .answerDelay = 0ms, .byteGap = gap});
    form->CmdAction[0]->click();
    ASSERT_TRUE(runUntil([&] { return count(ready) == 33; }, 30000));
    EXPECT_EQ(received(*unit), expected);
    const QStringList lines = form->log->lines();
    EXPECT_EQ(lines.mid(0, 7),
              (QStringList{"[送信]：DLE(10h)+ENQ(05h)", "[受信]：DLE+ACK(10h06h)", ready, "[送信]：STX(02h)",
                           "[送信]：01h,02h,03h,04h,05h,06h,07h,08h", "[送信]：ETX(03h)", "[送信]：BCC(0Bh)"}));
    EXPECT_EQ(lines.size(), 3 + 32 * 5);
    EXPECT_EQ(static_cast<FrmPLX6&>(*form).session().CommandState, Plx6Session::Idle);
  }
}

TEST_F(EndToEnd, Plx6TrapEndsTheRun) {
  openWindow<FrmPLX6>({.protocol = "plx6", .answerDelay = 0ms, .byteGap = kEveryByteApart, .trapAfter = 3});
  form->panel->TxtCh->setText("40");
  form->CmdAction[0]->click();
  ASSERT_TRUE(runUntil([&] { return count("[受信]：STX+【Trap 】+BCC(02h54h72h61h70h20h03h14h)") == 1; }));
  EXPECT_EQ(count("[受信]：STX+【Ready】+BCC(02h52h65h61h64h79h03h48h)"), 3);
  EXPECT_EQ(form->log->lines().filter(QStringLiteral("[送信]：STX(02h)")).size(), 3);
  EXPECT_EQ(form->log->lines().filter(QStringLiteral("Error")).size(), 0);
  EXPECT_EQ(static_cast<FrmPLX6&>(*form).session().CommandState, Plx6Session::Idle);
}
