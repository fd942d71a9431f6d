#include "sessions/Plx6Session.h"
#include "link/SerialLink.h"
#include "support/SerialFakes.h"
#include "support/SessionFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

// A unit's text message: STX, the text, ETX and the check byte.
QByteArray text(const QByteArray& body) {
  char bcc = 0x03;
  for (char c : body) bcc ^= c;
  return "\x02" + body + "\x03" + bcc;
}

const QByteArray kDleAck("\x10\x06", 2);
const QByteArray kReady = text("Ready");

using Plx6 = SessionFixture<Plx6Session>;

}  // namespace

TEST_F(Plx6, AutomaticRunPacedByReady) {
  EXPECT_EQ(kReady, QByteArray("\x02Ready\x03\x48"));
  session.Play(channelsUpTo(255), 8);
  EXPECT_EQ(link.take(), QByteArray("\x10\x05"));
  EXPECT_EQ(log.take(), QStringList{"[送信]：DLE(10h)+ENQ(05h)"});
  EXPECT_EQ(receive(kDleAck), QByteArray());
  EXPECT_EQ(session.CommandState, Plx6Session::AckReceived);
  EXPECT_EQ(receive(kReady), expectedFrame("0102030405060708"));
  EXPECT_EQ(link.writes.back(), expectedFrame("0102030405060708"));  // one write
  EXPECT_EQ(log.take(), (QStringList{"[受信]：DLE+ACK(10h06h)", "[受信]：STX+【Ready】+BCC(02h52h65h61h64h79h03h48h)",
                                     "[送信]：STX(02h)", "[送信]：01h,02h,03h,04h,05h,06h,07h,08h", "[送信]：ETX(03h)",
                                     "[送信]：BCC(0Bh)"}));
  EXPECT_EQ(log.kinds[1], LineKind::Received);  // after the ENQ line
  EXPECT_EQ(log.kinds[3], LineKind::Sent);
  for (int frame = 2; frame <= 31; ++frame) receive(kReady);
  EXPECT_EQ(receive(kReady), expectedFrame("F9FAFBFCFDFEFF"));
  EXPECT_EQ(session.CommandState, Plx6Session::FrameSent);
  EXPECT_EQ(receive(kReady), QByteArray());
  EXPECT_EQ(session.CommandState, Plx6Session::Idle);
}

TEST_F(Plx6, MessagesInPiecesOrTogether) {
  session.Play({1, 2}, 8);
  link.take();
  // DLE ACK and the whole Ready in one arrival: both logged, the frame goes out.
  EXPECT_EQ(receive(kDleAck + kReady), expectedFrame("0102"));
  session.Play({1}, 8);
  receive(kDleAck);
  log.take();
  link.take();
  EXPECT_EQ(receive(kReady.left(3)), QByteArray());
  EXPECT_EQ(session.RxState, 10);
  EXPECT_EQ(receive(kReady.mid(3)), expectedFrame("01"));
  EXPECT_EQ(log.take().filter(QStringLiteral("Ready")).size(), 1);
  EXPECT_EQ(session.RxState, -1);
}

TEST_F(Plx6, ReceiveErrorsDropTheRestOfTheArrival) {
  session.Play({1}, 8);
  receive(kDleAck);
  log.take();
  link.take();
  EXPECT_EQ(receive(text("Ready!") + kReady), QByteArray());
  EXPECT_EQ(log.take(), QStringList{"[受信Error]：文字制御ｺｰﾄﾞｵｰﾊﾞｰ(02h52h65h61h64h79h21h)"});
  QByteArray bad = kReady;
  bad.back() = 0x49;
  EXPECT_EQ(receive(bad), QByteArray());
  EXPECT_EQ(log.take(), QStringList{"[受信Error]：BCCﾁｪｯｸ"});
  EXPECT_EQ(session.CommandState, Plx6Session::AckReceived);  // nothing changed
  EXPECT_EQ(receive(QByteArray("\x41") + kReady), QByteArray());
  EXPECT_EQ(log.take(), QStringList{"[受信]：受信期待待ちｴﾗｰ(41h)"});
  EXPECT_EQ(receive(kReady), expectedFrame("01"));
}

TEST_F(Plx6, DleCodesTextsAndStop) {
  session.Stop();
  EXPECT_EQ(link.take(), QByteArray("\x01"));
  EXPECT_EQ(log.take(), QStringList{"[送信]：STOP(01h)"});
  EXPECT_EQ(session.CommandState, Plx6Session::StopSent);
  receive(text("Stop "));
  EXPECT_EQ(session.CommandState, Plx6Session::Idle);
  session.Play({1}, 8);
  receive(QByteArray("\x10\x43", 2));
  EXPECT_EQ(session.CommandState, Plx6Session::EnqSent);
  receive(kDleAck);
  receive(text("Hello"));
  EXPECT_EQ(session.CommandState, Plx6Session::AckReceived);
  receive(text("Trap "));
  EXPECT_EQ(session.CommandState, Plx6Session::Idle);
  session.Play({1}, 8);
  receive(QByteArray("\x10\x15", 2));
  EXPECT_EQ(session.CommandState, Plx6Session::Idle);
  session.Play({1}, 8);
  receive(QByteArray("\x10\x99", 2));
  EXPECT_EQ(session.CommandState, Plx6Session::Idle);
  EXPECT_EQ(log.lines.mid(log.lines.size() - 8),
            (QStringList{"[受信]：DLE+C(10h43h)", "[受信]：DLE+ACK(10h06h)",
                         "[受信]：STX+【Hello】+BCC(02h48h65h6Ch6Ch6Fh03h41h)",
                         "[受信]：STX+【Trap 】+BCC(02h54h72h61h70h20h03h14h)", "[送信]：DLE(10h)+ENQ(05h)",
                         "[受信]：DLE+NAK(10h15h)", "[送信]：DLE(10h)+ENQ(05h)", "[受信]：該当なし(10h99h)"}));
}

TEST_F(Plx6, FrameOfTwentyFiveItemsIsLoggedOnTwoLines) {
  EXPECT_EQ(Plx6Session::hexChannels({145, 5, 0}), (QStringList{"91", "05", "00"}));
  session.Play(channelsUpTo(25), 25);
  receive(kDleAck + kReady);
  const QStringList items = log.lines.filter(QRegularExpression(QStringLiteral("^\\[送信\\]：[0-9A-F]{2}h")));
  ASSERT_EQ(items.size(), 2);
  EXPECT_TRUE(items[0].endsWith(QStringLiteral("14h,")));
  EXPECT_EQ(items[0].count(u'h'), 20);
  EXPECT_EQ(items[1], QStringLiteral("[送信]：15h,16h,17h,18h,19h"));
}
