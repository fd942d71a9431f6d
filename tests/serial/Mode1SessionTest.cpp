#include "sessions/Mode1Session.h"
#include "link/SerialLink.h"
#include "support/SerialFakes.h"
#include "support/SessionFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

constexpr char kAck = 0x06;
const QString kSts = QStringLiteral("[送信]：STS(53h54h53h) + CR(0Dh)");
const QString kAckLine = QStringLiteral("[受信]：ACK(06h)");

using Mode1 = SessionFixture<Mode1Session, false>;

}  // namespace

TEST_F(Mode1, FirstLineAtTheFirstAckThenEverySecondAck) {
  session.Play(channelsUpTo(7), 3);
  EXPECT_EQ(link.writes, (std::vector<QByteArray>{"sts", "\r"}));
  EXPECT_EQ(log.take(), QStringList{kSts});
  link.take();
  EXPECT_EQ(receive(kAck), "001,002,003\r");
  EXPECT_EQ(log.take(), (QStringList{kAckLine, "[送信]：001,002,003 + CR(0Dh)"}));
  EXPECT_EQ(receive(kAck), "");
  EXPECT_EQ(receive(kAck), "004,005,006\r");
  EXPECT_EQ(receive(kAck), "");
  EXPECT_EQ(receive(kAck), "007\r");
  EXPECT_EQ(session.ListRemain, 0);
  log.take();
  EXPECT_EQ(receive(kAck), "");  // after the last line ACKs are only logged
  EXPECT_EQ(receive(kAck), "");
  EXPECT_EQ(log.take(), (QStringList{kAckLine, kAckLine}));

  // 再生 keeps the flags; those left by the run release the first line at once.
  session.Play({7, 12}, 8);
  link.take();
  EXPECT_EQ(receive(kAck), "007,012\r");
  EXPECT_EQ(session.FirstAck, 1);
}

TEST_F(Mode1, StopIsAnsweredByOneAckThatOnlyClearsIt) {
  session.Play(channelsUpTo(9), 3);
  receive(kAck);
  link.take();
  log.take();
  session.Stop();
  EXPECT_EQ(link.take(), "000\r");
  EXPECT_EQ(log.take(), QStringList{"[送信]：STOP(00h00h00h)"});
  EXPECT_EQ(receive(kAck), "");
  EXPECT_EQ(session.StopRequest, 0);
  // Nothing more goes out until 再生, which starts its own list.
  EXPECT_EQ(receive(kAck), "");
  EXPECT_EQ(receive(kAck), "");
  EXPECT_EQ(session.ListRemain, 6);

  session.Stop();  // nobody answers this one
  session.Play({1}, 1);
  link.take();
  // The flags the stopped run left release the first line at once.
  EXPECT_EQ(receive(kAck), "001\r");
}

TEST_F(Mode1, LinesAndReceivedBytes) {
  session.Play({5, 6}, 1);
  receive(kAck);
  EXPECT_EQ(log.lines.last(), QStringLiteral("[送信]：005 + CR(0Dh)"));
  session.Play({0}, 8);
  link.take();
  receive(kAck);
  EXPECT_EQ(receive(kAck), "000\r");
  log.take();
  EXPECT_EQ(receive(0x15), "");
  EXPECT_EQ(receive(0x0F), "");
  EXPECT_EQ(log.take(), (QStringList{"[受信]：NAK(15h)", "[受信]：(Fh)"}));
  EXPECT_EQ(pause.sleeps, std::vector<int>{});  // pending events run instead of a wait
}

TEST_F(Mode1, FailedWriteKeepsTheLineUnsent) {
  session.Play({1, 2}, 1);
  link.take();
  log.take();
  link.failWrites = true;
  receive(kAck);
  EXPECT_EQ(log.take(), (QStringList{kAckLine, kWriteFailedLog}));
  EXPECT_EQ(session.ListRemain, 2);
  session.Stop();
  EXPECT_EQ(session.StopRequest, 0);  // a stop that did not go out is not waited for
  link.failWrites = false;
  session.Unload();
  EXPECT_EQ(link.take(), "000\r");
  EXPECT_EQ(log.take(), QStringList{kWriteFailedLog});  // the failed stop; closing logs nothing
  EXPECT_EQ(session.StopRequest, 1);
}
