// The binary windows against a board that records every call, in virtual time.
#include "windows/binary/BinaryForms.h"
#include "kit/AppEnd.h"
#include "sessions/ModeCatalogue.h"
#include "core/TimedThread.h"
#include "support/MenuContext.h"
#include "support/RecordingSink.h"
#include "support/EventLog.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QLibrary>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <set>
#include <stdexcept>
#include <thread>

namespace kestrel::test {
namespace {

// The expansion board as the windows see it: each call is one line of `calls`,
// the waits between them too; the busy line answers from `busy` in turn.
// Unplugged from the failWritesFrom-th port write or the failReadsFrom-th
// port read on (counted from 1), every such call fails with status 4.
class FakeBoard : public WexfordApi, public Pause {
 public:
  std::int32_t WXF_Open(WxfHandle* handle, std::int32_t, std::uint32_t types) override {
    if (missing) throw WexfordUnavailable("no library");
    calls << QStringLiteral("open %1").arg(types, 0, 16);
    *handle = openHandle;
    return openHandle ? 0 : 2;
  }
  std::int32_t WXF_Initialize(WxfHandle h) override { return note(QStringLiteral("init %1").arg(h)); }
  std::int32_t WXF_PortWrite(WxfHandle, std::uint32_t port, std::uint8_t data, std::uint8_t mask) override {
    if (lacks(u"WXF_PortWrite")) throw WexfordUnavailable("entry point not found: WXF_PortWrite");
    note(QStringLiteral("%1=%2/%3").arg(port & 0xFF, 2, 16).arg(data, 2, 16, QChar(u'0')).arg(mask, 0, 16).toUpper());
    return ++writes >= failWritesFrom && failWritesFrom > 0 ? 4 : 0;
  }
  std::int32_t WXF_PortRead(WxfHandle, std::uint32_t port, std::uint8_t* value) override {
    note(QStringLiteral("read ") + QString::number(port, 16).toUpper());
    if (++reads >= failReadsFrom && failReadsFrom > 0) return 4;
    *value = busy.empty() ? 0 : busy.takeFirst();
    return 0;
  }
  std::int32_t WXF_Close(WxfHandle h) override { return note(QStringLiteral("close %1").arg(h)); }
  void sleep(int ms) override { calls << QStringLiteral("wait %1").arg(ms); }
  void doEvents() override {}

  QStringList take() {
    const QStringList out = calls;
    calls.clear();
    return out;
  }
  // The data byte of each write to 0xFFFFD3.
  QStringList dataBytes() const {
    QStringList out;
    for (const QString& c : calls)
      if (c.startsWith(u"D3=")) out << c.mid(3, 2);
    return out;
  }

  WxfHandle openHandle = 7;
  bool missing = false;
  QStringList lacking;  // entry points the library lacks
  QList<std::uint8_t> busy;
  QStringList calls;
  int writes = 0;
  int reads = 0;
  int failWritesFrom = 0;
  int failReadsFrom = 0;

 private:
  bool lacks(QStringView entry) const { return lacking.contains(entry); }
  std::int32_t note(const QString& call) {
    calls << call;
    return 0;
  }
};

class ManualTimer : public SessionTimer {
 public:
  void start(int ms) override { interval = ms; }
  void stop() override { interval = 0; }
  int interval = 0;
};

TEST(BinaryLines, TheThreeProtocolsOnTheWire) {
  FakeBoard board;
  BinaryLines lines(board, board);
  ASSERT_TRUE(lines.open().ok());
  EXPECT_EQ(board.take(), (QStringList{"open ffffff00", "init 7"}));

  EXPECT_TRUE(lines.sendPairs(0, 50).ok());
  EXPECT_EQ(board.dataBytes(), (QStringList{"FB", "FF", "FF", "FF"}));
  EXPECT_EQ(board.calls.mid(0, 6), (QStringList{"D3=FB/FF", "D9=00/4", "wait 50", "D9=FF/4", "wait 50", "D3=FF/FF"}));
  board.take();
  EXPECT_TRUE(lines.sendPairs(255, 50).ok());
  EXPECT_EQ(board.dataBytes(), (QStringList{"F8", "FC", "FC", "FC"}));
  board.take();

  EXPECT_EQ(BinaryLines::tenBits(1000, false).low, 0xE8);
  EXPECT_TRUE(lines.sendTenBits(1000, false, 0).ok());
  EXPECT_EQ(board.take(), (QStringList{"D3=E8/FF", "D9=03/3", "D9=00/4", "wait 0", "D9=FF/4", "wait 0"}));
  EXPECT_EQ(BinaryLines::tenBits(1000, true).high, 0xFC);
  EXPECT_TRUE(lines.sendTenBits(1000, true, 0).ok());
  EXPECT_EQ(board.take().mid(0, 2), (QStringList{"D3=17/FF", "D9=FC/3"}));

  EXPECT_TRUE(lines.sendEightBits(251, false).ok());
  EXPECT_EQ(board.take(), (QStringList{"D3=04/FF", "wait 20", "D9=00/4", "wait 50", "D9=FF/4"}));
  EXPECT_TRUE(lines.sendEightBits(251, true).ok());
  EXPECT_EQ(board.take().first(), "D3=FB/FF");

  FakeLog log;
  EXPECT_TRUE(lines.stopPulse(log).ok());
  EXPECT_EQ(board.take(), (QStringList{"D9=00/8", "wait 50", "D9=FF/8"}));
  EXPECT_TRUE(lines.stopPulseWithStrobe(log).ok());
  EXPECT_EQ(board.take(), (QStringList{"D9=00/8", "D9=00/4", "wait 50", "D9=FF/4", "D9=FF/8"}));
  EXPECT_EQ(log.lines, (QStringList{"[送信]：STOP信号", "[送信]：STOP信号"}));
}

TEST(BinarySessions, LumoWaitsForTheUnitAndPulsesStopOnlyToAPlayingOne) {
  FakeBoard board;
  ManualTimer timer;
  FakeLog log;
  BufferedBinarySession s(kLumo7Q, board, timer, log, board);
  ASSERT_TRUE(s.Load().ok());
  board.take();
  s.Play({1, 2}, false, 5);
  EXPECT_EQ(timer.interval, kBinaryTickMs);
  board.busy = {1};
  s.Time1_Timer();
  EXPECT_EQ(board.take(), QStringList{"read FFFFD0"}) << "a busy unit: nothing sent";
  s.Time1_Timer();
  EXPECT_EQ(log.take(), QStringList{"[送信]：001"});
  EXPECT_EQ(board.take().size(), 1 + 4 * 5);

  board.busy = {0};
  s.Stop();
  EXPECT_EQ(timer.interval, 0) << "an idle unit: no pulse, but the list stops";
  EXPECT_FALSE(s.Playing);
  EXPECT_EQ(board.take(), QStringList{"read FFFFD0"});
  s.Play({1, 2}, false, 5);
  board.busy = {1};
  s.Stop();
  EXPECT_EQ(timer.interval, 0);
  EXPECT_FALSE(s.Playing);
  EXPECT_EQ(log.take(), QStringList{"[送信]：STOP信号"});

  board.take();
  s.Unload();
  EXPECT_EQ(board.take(), (QStringList{"D9=00/8", "wait 50", "D9=FF/8", "close 7"}));
  EXPECT_FALSE(s.BoardOpen);
}

TEST(BinarySessions, TenBitsLogWhatWentOnTheLines) {
  FakeBoard board;
  ManualTimer timer;
  FakeLog log;
  BufferedBinarySession s(kTarn2G1M, board, timer, log, board);
  ASSERT_TRUE(s.Load().ok());
  board.take();
  s.Play({300, 1000}, true, 100);
  board.busy = {1, 1};
  s.Time1_Timer();
  s.Time1_Timer();
  EXPECT_EQ(log.take(), (QStringList{"[送信]：0300[1 2C]", "[送信]：1000[3 E8]"})) << "manual runs do not wait";
  EXPECT_FALSE(board.calls.contains("read FFFFD0"));
  s.Time1_Timer();
  EXPECT_EQ(timer.interval, 0);
  EXPECT_FALSE(s.Playing);

  s.PositiveLogic = 1;
  board.busy.clear();
  s.Play({300}, false, 100);
  board.take();
  s.Time1_Timer();
  EXPECT_EQ(board.take().first(), "read FFFFD0") << "automatic runs do";
  EXPECT_EQ(log.take(), QStringList{"[送信]：0300[FE D3]"});
  s.Stop();
  EXPECT_EQ(log.take(), QStringList{"[停止]"});
  EXPECT_TRUE(board.take().isEmpty()) << "no line touched";
  s.Unload();
  EXPECT_EQ(board.take(), QStringList{"close 7"});
}

TEST(BinarySessions, Mode2RepeatsManualListsButNeverACode) {
  FakeBoard board;
  ManualTimer timer;
  FakeLog log;
  BinaryMode2Session s(board, timer, log, board);
  s.SubMode = 1;
  s.PositiveLogic = 1;
  EXPECT_EQ(s.caption(), "Kestrel Tester - バッファリング機能付バイナリ制御モード（正論理250CH）");
  s.Maximum = 250;
  ASSERT_TRUE(s.Load().ok());
  s.Repeat = 1;
  s.Play({12, 34});
  for (int i = 0; i < 3; ++i) s.Time1_Timer();
  EXPECT_EQ(log.take(), (QStringList{"[送信]：012 + OP信号", "[送信]：034 + OP信号", "[送信]：012 + OP信号"}));
  EXPECT_EQ(timer.interval, kBinaryTickMs);

  s.SendCode(251);
  s.Time1_Timer();
  s.Time1_Timer();
  EXPECT_EQ(log.take(), QStringList{"[送信]：251 + OP信号"});
  EXPECT_EQ(timer.interval, 0);
  board.take();
  s.Stop();
  EXPECT_EQ(board.take(), (QStringList{"D9=00/8", "wait 50", "D9=FF/8"}));
  s.SubMode = 0;
  EXPECT_EQ(s.caption(), "Kestrel Tester - バッファリング機能付バイナリ制御モード２（255CH）");
}

// The lines timed on a thread of their own, as far as the system grants it
// (the scheduling calls stand in for it): the board sees the calls it sees
// inline, the log gets the same lines, and one note when timing is not
// real-time.
class TimedBoard : public FakeBoard {
 public:
  explicit TimedBoard(RealTimeCalls calls) : thread(std::move(calls)) {}
  std::int32_t WXF_PortWrite(WxfHandle h, std::uint32_t port, std::uint8_t data, std::uint8_t mask) override {
    if (mask == kStrobeMask && data == 0) strobedOn.insert(std::this_thread::get_id());
    return FakeBoard::WXF_PortWrite(h, port, data, mask);
  }
  TimedThread* timedThread() override { return &thread; }

  static constexpr std::uint8_t kStrobeMask = 4;
  TimedThread thread;
  std::set<std::thread::id> strobedOn;
};

struct TimingCase {
  const char* name;
  int scheduled;  // what the scheduling call returns
  int locked;     // what the memory lock returns
  bool ownThread;
  QString note;  // the one note, or none
};

void PrintTo(const TimingCase& c, std::ostream* os) { *os << c.name; }

class StrobeTiming : public ::testing::TestWithParam<TimingCase> {};

// A LUMO7Q run of two channels, the stop with strobe, the window closed.
template <class Board>
void lumoRun(Board& board, FakeLog& log) {
  ManualTimer timer;
  BufferedBinarySession s(kLumo7Q, board, timer, log, board);
  ASSERT_TRUE(s.Load().ok());
  s.Play(QList<qint64>{1, 2}, false, 5);
  s.Time1_Timer();
  s.Time1_Timer();
  board.busy = {1};
  ASSERT_TRUE(s.Stop().ok());
  ASSERT_TRUE(s.Unload().ok());
}

TEST_P(StrobeTiming, SameCallsAndLinesAndOneNoteWhenNotRealTime) {
  const TimingCase& c = GetParam();
  FakeBoard inline_;
  FakeLog inlineLog;
  lumoRun(inline_, inlineLog);

  int asked = 0;
  TimedBoard board({[&] {
                      ++asked;
                      return c.scheduled;
                    },
                    [&] { return c.locked; },
                    {}});
  FakeLog log;
  lumoRun(board, log);
  EXPECT_EQ(asked, c.ownThread ? 2 : 1) << "the second runner asks for the same scheduling";
  EXPECT_EQ(board.calls, inline_.calls);
  QStringList expected = inlineLog.lines;
  if (!c.note.isEmpty()) expected.prepend(c.note);
  EXPECT_EQ(log.lines, expected);
  if (!c.note.isEmpty()) {
    EXPECT_EQ(log.kinds.front(), LineKind::Note);
  }
  EXPECT_EQ(board.thread.realTime(), c.ownThread);
  const std::set<std::thread::id> caller{std::this_thread::get_id()};
  if (c.ownThread) {
    ASSERT_FALSE(board.strobedOn.empty());
    EXPECT_EQ(board.strobedOn.count(std::this_thread::get_id()), 0u);
  } else {
    EXPECT_EQ(board.strobedOn, caller);
  }
}

INSTANTIATE_TEST_SUITE_P(
    BinaryLines, StrobeTiming,
    ::testing::Values(
        TimingCase{"Granted", 0, 0, true, {}},
        TimingCase{"Refused", EPERM, 0, false,
                   "Strobe timing: normal, on the calling thread: SCHED_FIFO refused: Operation not permitted"},
        TimingCase{"MemoryNotLocked", 0, ENOMEM, true,
                   "Strobe timing: SCHED_FIFO 10, memory not locked: Cannot allocate memory"}),
    [](const ::testing::TestParamInfo<TimingCase>& info) { return std::string(info.param.name); });

// A step is taken by whichever runner is on time, once, never early; what
// it throws on either reaches the sequence's caller.
TEST(TimedThread, TheSecondRunnerTakesAStepTheThreadIsLateFor) {
  using Clock = TimedThread::Clock;
  using namespace std::chrono_literals;
  TimedThread thread({[] { return 0; }, [] { return 0; }, {}});
  ASSERT_TRUE(thread.racing());
  std::atomic<bool> ran = false;
  thread.holdBack([&] {
    for (int i = 0; i < 500 && !ran; ++i) std::this_thread::sleep_for(10ms);
  });
  std::thread::id timed, ranOn;
  int runs = 0;
  Clock::time_point deadline, at;
  thread.run([&] {
    timed = std::this_thread::get_id();
    deadline = Clock::now() + 20ms;
    thread.at(deadline, [&] {
      at = Clock::now();
      ranOn = std::this_thread::get_id();
      ++runs;
      ran = true;
    });
  });
  EXPECT_EQ(runs, 1);
  EXPECT_NE(ranOn, timed);
  EXPECT_NE(ranOn, std::this_thread::get_id());
  EXPECT_GE(at, deadline);

  ran = false;
  EXPECT_THROW(thread.run([&] { thread.at(Clock::now(), [&] {
                                ran = true;
                                throw std::runtime_error("lost");
                              }); }),
               std::runtime_error);

  thread.holdBack({});
  int steps = 0;
  bool early = false;
  thread.run([&] {
    for (int i = 0; i < 50; ++i) {
      const Clock::time_point due = Clock::now() + 1ms;
      thread.at(due, [&] {
        ++steps;
        early = early || Clock::now() < due;
      });
    }
  });
  EXPECT_EQ(steps, 50);
  EXPECT_FALSE(early);
}

// The second runner needs the scheduling and a processor of its own.
TEST(TimedThread, WithoutASecondRunnerTheThreadTakesEachStep) {
  const TimedThread onOne({[] { return 0; }, [] { return 0; }, [](int runner) { return runner == 0 ? 0 : EINVAL; }});
  EXPECT_TRUE(onOne.realTime());
  EXPECT_FALSE(onOne.racing());
  int asked = 0;
  TimedThread thread({[&] { return asked++ == 0 ? 0 : EPERM; }, [] { return 0; }, {}});
  ASSERT_TRUE(thread.realTime());
  EXPECT_FALSE(thread.racing());
  std::thread::id timed, ranOn;
  thread.run([&] {
    timed = std::this_thread::get_id();
    thread.at(TimedThread::Clock::now(), [&] { ranOn = std::this_thread::get_id(); });
  });
  EXPECT_EQ(ranOn, timed);
}

TEST(BinaryLines, WhatATimedSequenceThrowsReachesItsCaller) {
  TimedThread thread({[] { return 0; }, [] { return 0; }, {}});
  ASSERT_TRUE(thread.realTime());
  EXPECT_THROW(thread.run([] { throw std::runtime_error("lost"); }), std::runtime_error);
  int ran = 0;
  thread.run([&] { ++ran; });
  EXPECT_EQ(ran, 1) << "the thread serves on after a throw";
}

// A board lost mid-run: the step that fails ends the run at its channel.
struct LossCase {
  const char* name;
  int window;  // 0 LUMO7Q, 1 TARN-2G1-M (automatic), 2 binary mode 2
  int failWritesFrom;
  int failReadsFrom;
  QStringList lacking;
  BoardFault fault;
  QString lastCall;  // the failed call, after which nothing reaches the board
  QStringList log;
};

void PrintTo(const LossCase& c, std::ostream* os) { *os << c.name; }

class BoardLost : public ::testing::TestWithParam<LossCase> {};

TEST_P(BoardLost, TheRunEndsAtThatChannelWithItsLine) {
  const LossCase& c = GetParam();
  FakeBoard board;
  ManualTimer timer;
  FakeLog log;
  std::unique_ptr<BinarySession> s;
  if (c.window == 2) {
    auto mode2 = std::make_unique<BinaryMode2Session>(board, timer, log, board);
    mode2->Play({1, 2, 3});
    s = std::move(mode2);
  } else {
    auto buffered = std::make_unique<BufferedBinarySession>(c.window == 0 ? kLumo7Q : kTarn2G1M, board, timer, log, board);
    buffered->Play({1, 2, 3}, false, 0);
    s = std::move(buffered);
  }
  ASSERT_TRUE(s->Load().ok());
  board.take();
  board.failWritesFrom = c.failWritesFrom;
  board.failReadsFrom = c.failReadsFrom;
  board.lacking = c.lacking;
  BoardResult failed;
  for (int tick = 0; tick < 5 && failed.ok() && timer.interval != 0; ++tick) failed = s->Time1_Timer();
  EXPECT_EQ(failed.fault, c.fault);
  if (c.fault == BoardFault::Failed) {
    EXPECT_EQ(failed.status, 4);
  }
  EXPECT_EQ(log.lines, c.log);
  EXPECT_EQ(log.kinds.back(), LineKind::Fault);
  EXPECT_EQ(timer.interval, 0) << "the run is over";
  EXPECT_EQ(s->NextIndex, 1) << "the channel that failed is not counted as sent";
  EXPECT_EQ(s->Remaining, 2);
  if (c.window != 2) {
    EXPECT_FALSE(static_cast<BufferedBinarySession&>(*s).Playing);
  }
  ASSERT_FALSE(board.calls.isEmpty());
  EXPECT_EQ(board.calls.last(), c.lastCall);
}

const QString kLost = QStringLiteral("デバイスへの接続に失敗しました。");

INSTANTIATE_TEST_SUITE_P(
    BinarySessions, BoardLost,
    ::testing::Values(
        // Protocol A: 12 writes a channel; the second channel's data write of its second transfer fails.
        LossCase{"LumoWrite", 0, 16, 0, {}, BoardFault::Failed, "D3=FF/FF", {"[送信]：001", kLost}},
        // Protocol B: 4 writes a channel; the second's strobe fails.
        LossCase{"TarnWrite", 1, 7, 0, {}, BoardFault::Failed, "D9=00/4", {"[送信]：0001[0 1]", kLost}},
        // Protocol C: 3 writes a channel; the second's first write fails.
        LossCase{"Mode2Write", 2, 4, 0, {}, BoardFault::Failed, "D3=FD/FF", {"[送信]：001 + OP信号", kLost}},
        // The busy test of the second channel fails.
        LossCase{"LumoRead", 0, 0, 2, {}, BoardFault::Failed, "read FFFFD0", {"[送信]：001", kLost}},
        LossCase{"TarnRead", 1, 0, 2, {}, BoardFault::Failed, "read FFFFD0", {"[送信]：0001[0 1]", kLost}},
        LossCase{"Mode2Read", 2, 0, 2, {}, BoardFault::Failed, "read FFFFD0", {"[送信]：001 + OP信号", kLost}}),
    [](const ::testing::TestParamInfo<LossCase>& info) { return std::string(info.param.name); });

TEST(BinarySessions, LibraryWithoutAnEntryPointEndsTheRun) {
  FakeBoard board;
  ManualTimer timer;
  FakeLog log;
  BinaryMode2Session s(board, timer, log, board);
  ASSERT_TRUE(s.Load().ok());
  s.Play({1});
  board.lacking = QStringList{"WXF_PortWrite"};
  const BoardResult r = s.Time1_Timer();
  EXPECT_EQ(r.fault, BoardFault::Unavailable);
  EXPECT_EQ(r.detail, "entry point not found: WXF_PortWrite");
  EXPECT_EQ(log.take(), QStringList{kLost});
  EXPECT_EQ(timer.interval, 0);
  // The stop at 停止 and as the window closes cannot go out either; the board is let go all the same.
  EXPECT_EQ(s.Stop().fault, BoardFault::Unavailable);
  EXPECT_EQ(s.Unload().fault, BoardFault::Unavailable);
  EXPECT_EQ(board.calls.last(), "close 7");
  EXPECT_FALSE(s.BoardOpen);
}

TEST(BinarySessions, TimingWidths) {
  EXPECT_EQ(checkTiming("", 50).widthMs, 50);
  EXPECT_TRUE(checkTiming("500", 50).ok);
  EXPECT_EQ(checkTiming("501", 50).message, "タイミング時間の値は0～500msの範囲で入力して下さい。");
  EXPECT_EQ(checkTiming("-1", 50).message, "タイミング時間の値は0～500msの範囲で入力して下さい。");
  EXPECT_EQ(checkTiming("1x", 50).message, "タイミング時間の値が不正です。");
}

class BinaryWindows : public ::testing::Test {
 protected:
  BinaryWindows() { installApplicationEnd([this] { ++ends; }); }
  ~BinaryWindows() override { installApplicationEnd({}); }
  RecordingPrompt prompt;
  FakeBoard board;
  int ends = 0;
};

TEST_F(BinaryWindows, ManualEntriesCloseUpAndAreChecked) {
  FrmBiMode7Q w(nullptr, board, board);
  w.show();
  EXPECT_EQ(w.windowTitle(), " テスト画面[LUMO7Qモード]");
  EXPECT_FALSE(w.panel->CmdCls->isEnabled());
  w.panel->OptMode[1]->setChecked(true);
  EXPECT_FALSE(w.panel->CmdCls->isEnabled()) << "not offered in manual mode either";
  w.panel->TxtNo[1]->setText("5");
  w.panel->TxtNo[3]->setText("12");
  w.TxtIoTime->setText("501");
  w.CmdAction[0]->click();
  EXPECT_EQ(prompt.texts(), std::vector<QString>{"タイミング時間の値は0～500msの範囲で入力して下さい。"});
  EXPECT_EQ(w.panel->TxtNo[0]->text(), "5");
  EXPECT_EQ(w.panel->TxtNo[1]->text(), "12");
  w.TxtIoTime->setText("");
  w.CmdAction[0]->click();
  EXPECT_TRUE(w.session().Playing);
  EXPECT_EQ(w.session().StrobeWidth, 50);
  EXPECT_EQ(w.session().ChannelList, (std::vector<qint64>{0, 5, 12}));
  EXPECT_TRUE(w.Time1.isActive());
  w.CmdAction[6]->click();
  EXPECT_FALSE(w.Time1.isActive());
  EXPECT_EQ(board.calls.last(), "close 7");

  FrmBiMode1000CH wide(nullptr, board, board);
  wide.panel->OptMode[1]->setChecked(true);
  wide.panel->TxtNo[0]->setText("1001");
  wide.panel->TxtNo[1]->setText("x");
  wide.CmdAction[0]->click();
  EXPECT_EQ(prompt.texts().back(), "チャンネル番号は１～１０００までの範囲で入力して下さい。") << "box by box";
  wide.panel->TxtNo[0]->setText("");
  wide.panel->TxtNo[1]->setText("");
  wide.CmdAction[0]->click();
  EXPECT_EQ(prompt.messages.back(), (Message{kTitle3J, "再生番号は必須入力です。", MsgIcon::Exclamation}));
}

TEST_F(BinaryWindows, WithoutABoardOrWithoutTheLibrary) {
  board.openHandle = 0;
  {
    FrmBiMode1000CH w(nullptr, board, board);
    EXPECT_EQ(prompt.messages.back(), (Message{kTitle3J, "デバイスへの接続に失敗しました。"}));
    w.close();
  }
  EXPECT_EQ(board.take(), QStringList{"open ffffff00"}) << "nothing else reaches the board";
  board.missing = true;
  FrmBiMode7Q lumo(nullptr, board, board);
  EXPECT_EQ(prompt.texts().back(), "必要なファイルが見つかりませんでした。    \r\n確認して下さい。(Wexford.dll)");
  EXPECT_EQ(ends, 1);
  FrmBinaryMode2 mode2(nullptr, board, board);
  EXPECT_EQ(prompt.texts().back(), "デバイスへの接続に失敗しました。");
}

// The box names the driver library CORVEX_FTD2XX points at when it will not
// load; one that loads leaves the documented text alone.
TEST_F(BinaryWindows, ADriverLibraryThatWillNotLoadIsNamed) {
  const QByteArray before = qgetenv("CORVEX_FTD2XX");
  QTemporaryDir dir;
  const QString notALibrary = dir.filePath(QStringLiteral("libftd2xx.so"));
  kestrel::test::writeFile(notALibrary, "not a library");
  board.openHandle = 0;
  qputenv("CORVEX_FTD2XX", notALibrary.toLocal8Bit());
  {
    FrmBiMode1000CH w(nullptr, board, board);
    const QString head =
        QStringLiteral("デバイスへの接続に失敗しました。\r\nドライバライブラリを読み込めません（CORVEX_FTD2XX）：") +
        notALibrary + QStringLiteral("\r\n");
    const QString text = prompt.texts().back();
    EXPECT_TRUE(text.startsWith(head)) << text.toStdString();
    EXPECT_GT(text.size(), head.size());  // and why, as the loader says it
  }
  qputenv("CORVEX_FTD2XX", STAND_IN_FTD2XX);
  {
    FrmBiMode1000CH w(nullptr, board, board);
    EXPECT_EQ(prompt.texts().back(), QStringLiteral("デバイスへの接続に失敗しました。"));
  }
  if (before.isNull())
    qunsetenv("CORVEX_FTD2XX");
  else
    qputenv("CORVEX_FTD2XX", before);
}

// The stand-in names a configuration it cannot use rather than quietly
// listing no boards.
TEST(StandInConfiguration, OneThatCannotBeReadIsNamedOnStderr) {
  QTemporaryDir dir;
  const QString unparsable = dir.filePath(QStringLiteral("boards.ini"));
  kestrel::test::writeFile(unparsable, "[board]\nnot a setting\n");
  for (const QString& config : {dir.filePath(QStringLiteral("missing.ini")), unparsable}) {
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FTSIM_CONFIG"), config);
    run.setProcessEnvironment(env);
    run.start(QStringLiteral(KESTREL_BIN_DIR "/stand-in-boards"), {QStringLiteral(STAND_IN_FTD2XX)});
    ASSERT_TRUE(run.waitForFinished(10000));
    EXPECT_EQ(run.exitCode(), 0);
    EXPECT_EQ(QString::fromLocal8Bit(run.readAllStandardError()),
              QStringLiteral("ftd2xx stand-in: FTSIM_CONFIG %1 could not be read or parsed; no boards\n").arg(config));
    EXPECT_EQ(run.readAllStandardOutput(), QByteArray("none\n"));
  }
  QProcess quiet;  // no configuration named: no boards, nothing to say
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove(QStringLiteral("FTSIM_CONFIG"));
  quiet.setProcessEnvironment(env);
  quiet.start(QStringLiteral(KESTREL_BIN_DIR "/stand-in-boards"), {QStringLiteral(STAND_IN_FTD2XX)});
  ASSERT_TRUE(quiet.waitForFinished(10000));
  EXPECT_TRUE(quiet.readAllStandardError().isEmpty());
}

// A board unplugged during a run: the step's line, the run and its clock end.
TEST_F(BinaryWindows, BoardLostDuringARun) {
  FrmBinaryMode2 w(nullptr, board, board);
  w.CmdAction[0]->click();
  ASSERT_TRUE(w.runProgress().running);
  board.failWritesFrom = 1;
  w.Time1_Timer();
  EXPECT_FALSE(w.Time1.isActive());
  EXPECT_EQ(w.runProgress(), (RunProgress{0, 255, false}));
  EXPECT_EQ(w.log->lines(), QStringList{"デバイスへの接続に失敗しました。"});
  EXPECT_TRUE(prompt.messages.empty()) << "the log says it";
  w.CmdAction[1]->click();
  EXPECT_EQ(w.log->lines().size(), 2) << "停止's stop pulse failed too";
}

// A binary window's record names no port; a schedule's channel outcomes are
// kept one per channel; a board lost between runs ends no run to record.
TEST_F(BinaryWindows, RunRecordsOfABinaryWindow) {
  RecordingSink sink;
  FrmBinaryMode2 w(menuContext(1, 1), board, board);
  w.DutTag->setText(QStringLiteral("B-7"));
  w.CmdAction[0]->click();
  board.failWritesFrom = 1;
  w.Time1_Timer();
  ASSERT_EQ(sink.records.size(), 1u);
  const results::Record r = sink.records[0];
  EXPECT_EQ(r.mode, 14) << "the positive-logic 250-channel entry";
  EXPECT_EQ(r.port, QString());
  EXPECT_EQ(r.dut, QStringLiteral("B-7"));
  EXPECT_EQ(r.failure, Failure::BoardLost);
  EXPECT_FALSE(r.pass);
  EXPECT_EQ(r.options.value("positiveLogic").toInt(), 1);
  EXPECT_EQ(r.options.value("total").toInt(), 250);

  // Events as a schedule check reports them.
  SessionEvents& events = w.sessionEvents();
  events.runFinished({RunOutcome::BoardLost, {}});
  EXPECT_EQ(sink.records.size(), 1u) << "no run was going on";
  events.runStarted({});
  events.channelVerdict({7, true});
  events.channelVerdict({3, false});
  events.channelVerdict({7, false});
  events.channelVerdict({9, true});
  events.runFinished({RunOutcome::Complete, {}});
  ASSERT_EQ(sink.records.size(), 2u);
  EXPECT_EQ(sink.records[1].channels,
            (QList<results::ChannelOutcome>{{3, false}, {7, false}, {9, true}}));
  EXPECT_EQ(sink.records[1].failure, Failure::NgChannels);
  EXPECT_EQ(sink.records[1].options.value("total").toInt(), 0);
}

// A library that loads but lacks entry points is as good as none: the windows
// say what they say without the library, and neither 再生 nor 終了 throws.
TEST_F(BinaryWindows, LibraryWithoutEntryPoints) {
  QLibrary fake(QStringLiteral(FAKE_WEXFORD));  // WXF_Open and WXF_Close only
  const auto reset = reinterpret_cast<void (*)(std::uintptr_t)>(fake.resolve("FakeWexford_Reset"));
  const auto calls = reinterpret_cast<void (*)(int*, int*, std::uintptr_t*, std::int32_t*, std::uint32_t*)>(
      fake.resolve("FakeWexford_Calls"));
  ASSERT_TRUE(reset && calls);
  Wexford partial{QStringLiteral(FAKE_WEXFORD)};
  const QString lost = QStringLiteral("デバイスへの接続に失敗しました。");
  const auto played = [&](auto& w) {
    EXPECT_EQ(prompt.texts().back(), lost);
    const std::size_t shown = prompt.messages.size();
    w.CmdAction[0]->click();
    ASSERT_TRUE(w.Time1.isActive());
    w.Time1_Timer();
    EXPECT_FALSE(w.Time1.isActive());
    EXPECT_EQ(w.log->lines().last(), lost);
    ASSERT_EQ(prompt.messages.size(), shown + 1);
    EXPECT_EQ(prompt.messages.back(), (Message{kTitle3J, lost}));
    w.CmdAction[6]->click();
  };
  // No board, or a board the library cannot initialise.
  for (const std::uintptr_t handle : {std::uintptr_t(0), std::uintptr_t(7)}) {
    SCOPED_TRACE(handle);
    reset(handle);
    {
      FrmBiMode1000CH w(nullptr, partial, board);
      played(w);
    }
    {
      FrmBinaryMode2 w(menuContext(1), partial, board);
      played(w);
    }
    int opens = 0, closes = 0;
    std::uintptr_t lastClosed = 0;
    std::int32_t unit = 0;
    std::uint32_t types = 0;
    calls(&opens, &closes, &lastClosed, &unit, &types);
    EXPECT_EQ(opens, 2);
    EXPECT_EQ(closes, handle ? 2 : 0) << "a handle the library gave goes back";
    EXPECT_EQ(lastClosed, handle);
  }
  reset(7);
  FrmBiMode7Q lumo(nullptr, partial, board);
  EXPECT_EQ(prompt.texts().back(), "必要なファイルが見つかりませんでした。    \r\n確認して下さい。(Wexford.dll)");
  EXPECT_EQ(ends, 1);
}

TEST_F(BinaryWindows, Mode2ChecksEveryBoxForNumbersFirst) {
  FrmBinaryMode2 w(menuContext(1), board, board);
  EXPECT_EQ(w.windowTitle(), "Kestrel Tester - バッファリング機能付バイナリ制御モード（負論理250CH）");
  EXPECT_TRUE(w.CmdAction[2]->isVisibleTo(&w));
  w.panel->OptMode[1]->setChecked(true);
  w.panel->TxtNo[0]->setText("251");
  w.panel->TxtNo[1]->setText("x");
  w.CmdAction[0]->click();
  EXPECT_EQ(prompt.texts().back(), "数値を入力してください。");
  EXPECT_EQ(prompt.messages.back().title, kTitle);
  w.panel->TxtNo[1]->setText("");
  w.CmdAction[0]->click();
  EXPECT_EQ(prompt.texts().back(), "チャンネル番号は１～２５０までの範囲で入力して下さい。");
  FrmBinaryMode2 narrow(nullptr, board, board);
  EXPECT_FALSE(narrow.CmdAction[2]->isVisibleTo(&narrow));
  narrow.CmdAction[4]->click();
  EXPECT_EQ(narrow.session().ChannelList.back(), 253);
}

// Each channel is reported with what went onto the data lines for it.
TEST(BinarySessions, EventsCarryTheChannelAndTheLines) {
  FakeBoard board;
  ManualTimer timer;
  EventLog log;
  BufferedBinarySession lumo(kLumo7Q, board, timer, log, board);
  ASSERT_TRUE(lumo.Load().ok());
  board.take();
  lumo.Play({1}, false, 5);
  board.busy = {0};
  lumo.Time1_Timer();
  EXPECT_EQ(board.dataBytes(), (QStringList{"FB", "FF", "FF", "FD"}));
  lumo.Time1_Timer();
  EXPECT_EQ(log.takeEvents(),
            (QStringList{"started 1 of 1", "frame [1] fb ff ff fd", "progress 1/1", "finished Complete"}));

  BufferedBinarySession tarn(kTarn2G1M, board, timer, log, board);
  ASSERT_TRUE(tarn.Load().ok());
  tarn.Play({300, 1000}, true, 100);
  tarn.Time1_Timer();
  tarn.Stop();
  EXPECT_EQ(log.takeEvents(),
            (QStringList{"started 300,1000 of 2", "frame [300] 01 2c", "progress 1/2", "finished Stopped"}));

  BinaryMode2Session mode2(board, timer, log, board);
  ASSERT_TRUE(mode2.Load().ok());
  board.take();
  mode2.Play({251, 2});
  board.busy = {0, 0};
  mode2.Time1_Timer();
  EXPECT_EQ(board.dataBytes(), QStringList{"04"});
  board.failWritesFrom = board.writes + 1;
  EXPECT_FALSE(mode2.Time1_Timer().ok());
  EXPECT_EQ(log.takeEvents(), (QStringList{"started 251,2 of 2", "frame [251] 04", "progress 1/2",
                                           "finished BoardLost " + kBoardOpenFailed}));
}

}  // namespace
}  // namespace kestrel::test
