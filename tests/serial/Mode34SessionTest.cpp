#include "sessions/Mode34Session.h"
#include "link/SerialLink.h"
#include "support/SerialFakes.h"
#include "support/SessionFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

QList<qint64> channels(int first, int last) {
  QList<qint64> list;
  for (int c = first; c <= last; ++c) list.append(c);
  return list;
}

using Mode34 = SessionFixture<Mode34Session>;

const QByteArray kAckBlock("\x06", 1);

}  // namespace

TEST_F(Mode34, AutomaticRunInThreeFrames) {
  session.Send(channels(1, 20), 8);
  EXPECT_EQ(link.take(), QByteArray("\x05"));
  EXPECT_EQ(session.CommandState, 1);
  EXPECT_EQ(receive(kAckBlock), expectedFrame("001002003004005006007008"));
  EXPECT_EQ(link.writes.size(), 5u);  // ENQ, then STX, digits, ETX and the check byte apart
  EXPECT_EQ(log.lines.last(), QStringLiteral("[送信]：STX(02h)+001,002,003,004,005,006,007,008+ETX(03h)+BCC(Bh)"));
  EXPECT_EQ(receive(kAckBlock), expectedFrame("009010011012013014015016"));
  EXPECT_EQ(log.lines.last(), QStringLiteral("[送信]：STX(02h)+009,010,011,012,013,014,015,016+ETX(03h)+BCC(Ch)"));
  EXPECT_EQ(receive(kAckBlock), expectedFrame("017018019020"));
  EXPECT_EQ(log.lines.last(), QStringLiteral("[送信]：STX(02h)+017,018,019,020+ETX(03h)+BCC(6h)"));
  EXPECT_EQ(session.CommandState, 2);
  EXPECT_EQ(receive(kAckBlock), QByteArray());
  EXPECT_EQ(session.CommandState, 0);
  EXPECT_EQ(pause.sleeps, (std::vector<int>{20, 3, 3, 3, 3, 20, 3, 3, 3, 3, 20, 3, 3, 3, 3, 20}));
}

TEST_F(Mode34, EveryReplyReleasesTheNextFrameButABadReport) {
  session.Send(channels(1, 4), 1);
  receive(kAckBlock);
  log.take();
  EXPECT_EQ(receive(QByteArray("\x02\x30\x30\x37\x03\x34", 6)), expectedFrame("002"));
  EXPECT_EQ(log.take().first(), QStringLiteral("[受信]：IN007 (02h30h30h37h03h34h)"));
  EXPECT_EQ(receive(QByteArray("\x02\x30\x30\x37\x03\x35", 6)), QByteArray());
  EXPECT_EQ(log.take(), QStringList{"[受信Error]：BCCﾁｪｯｸ"});
  EXPECT_EQ(receive(QByteArray("\x15", 1)), expectedFrame("003"));
  EXPECT_EQ(receive(QByteArray("\x0A\x41", 2)), expectedFrame("004"));
  log.take();
  EXPECT_EQ(receive(QByteArray("\x02", 1)), QByteArray());  // STX alone fails the check
  receive(QByteArray("\x02\xFF\x03\xFC", 4));
  receive(QByteArray("\x02\xFE\x03\xFD", 4));
  receive(QByteArray("\x02\x31\x03\x32", 4));  // shorter than a report: shown as it is
  EXPECT_EQ(log.take(), (QStringList{"[受信Error]：BCCﾁｪｯｸ", "[受信]：STOP(02hFFh03hFCh)",
                                     "[受信]：RESET(02hFEh03hFDh)", "[受信]：IN1 (02h31h03h32h)"}));
}

TEST_F(Mode34, SingleCommandsTheirStatesAndTheRefusal) {
  const struct {
    Mode34Session::Command command;
    QByteArray bytes;
    qint16 state;
    const char* log;
  } commands[] = {
      {Mode34Session::Stop, QByteArray("\x02\xFF\x03\xFC"), 10, "[送信]：STOP (STX+FFh+ETX+BCC)"},
      {Mode34Session::Reset, QByteArray("\x02\xFE\x03\xFD"), 20, "[送信]：RESET (STX+FEh+ETX+BCC)"},
      {Mode34Session::Vol6, QByteArray("\x02\xFB\x03\xF8"), 30, "[送信]：音量減衰-6dB (STX+FBh+ETX+BCC"},
      {Mode34Session::Vol14, QByteArray("\x02\xFC\x03\xFF"), 30, "[送信]：音量減衰-14dB (STX+FCh+ETX+BCC"},
      {Mode34Session::VolDefault, QByteArray("\x02\xFD\x03\xFE"), 30, "[送信]：音量減衰ﾃﾞﾌｫﾙﾄ (STX+FDh+ETX+BCC"},
      {Mode34Session::BareEnq, QByteArray("\x05"), 40, "[送信]：ENQ単独 (ENQ)"},
      {Mode34Session::Ch1, QByteArray("\x02\x30\x30\x31\x03\x32"), 50, "[送信]：CH1単独 (STX+30h30h31h+ETX+BCC)"},
  };
  for (const auto& c : commands) {
    session.SendCommand(c.command);
    EXPECT_EQ(link.writes.back(), c.bytes) << c.log;
    EXPECT_EQ(session.CommandState, c.state) << c.log;
    EXPECT_EQ(log.lines.last(), QString::fromUtf8(c.log));
  }
  session.SendSheetNo(15);
  EXPECT_EQ(link.writes.back(), QByteArray("\x02\xD7\x03\xD4"));
  EXPECT_EQ(log.lines.last(), QStringLiteral("[送信]：シートNo送信 16"));
  EXPECT_EQ(session.CommandState, 30);
  log.take();
  receive(QByteArray("\x21", 1));
  EXPECT_EQ(session.CommandState, 0);
  session.SendCommand(Mode34Session::Stop);
  receive(QByteArray("\x21", 1));
  EXPECT_EQ(session.CommandState, 0);
  EXPECT_EQ(log.take(), (QStringList{"[受信]：再生中コマンド無効 [！] (21h)", "[送信]：STOP (STX+FFh+ETX+BCC)",
                                     "[受信]：[！] (21h)"}));

  // A command during a run ends it.
  session.Send(channels(1, 20), 8);
  receive(kAckBlock);
  session.SendCommand(Mode34Session::Ch1);
  link.take();
  EXPECT_EQ(receive(kAckBlock), QByteArray());
  EXPECT_EQ(session.CommandState, 50);
}

TEST_F(Mode34, LineEventsAreLoggedByNumber) {
  session.OnComm(3);
  session.OnComm(1009);
  EXPECT_EQ(log.lines, (QStringList{"[受信Error <<CommEventState : 3>>", "[受信Error <<CommEventState : 1009>>"}));
  EXPECT_TRUE(pause.sleeps.empty());
}
