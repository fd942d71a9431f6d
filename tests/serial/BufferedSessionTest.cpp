#include "sessions/BufferedSession.h"
#include "link/SerialLink.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <random>

using namespace kestrel;
using namespace kestrel::test;

namespace {

constexpr char kAck = 0x06, kNak = 0x15;

QList<qint64> autoList(int max) {
  QList<qint64> list;
  for (int i = 1; i <= max; ++i) list.append(i);
  return list;
}

class Buffered : public ::testing::Test {
 protected:
  void make(int subMode) { session = std::make_unique<BufferedSession>(subMode, link, log, pause); }
  void receive(char byte) {
    link.incoming.append(byte);
    session->OnComm(SerialLink::kEventReceive);
  }
  FakeLink link;
  FakeLog log;
  VirtualPause pause;
  std::unique_ptr<BufferedSession> session;
};

}  // namespace

TEST_F(Buffered, ManualExampleFrameBytesAndLog) {
  make(0);
  session->ManualMode = true;
  session->Play({1, 15, 145}, 8);
  EXPECT_EQ(link.take(), QByteArray("\x05"));
  EXPECT_EQ(log.take(), QStringList{"[送信]：ENQ(05h)"});
  receive(kAck);
  EXPECT_EQ(link.take(), QByteArray("\x02"
                                    "001015145"
                                    "\x03"
                                    "\x36"));
  EXPECT_EQ(log.take(), (QStringList{"[受信]：ACK(06h)", "[送信]：STX(02h)", "[送信]：001,015,145", "[送信]：ETX(03h)",
                                     "[送信]：BCC(36h)"}));
  EXPECT_EQ(pause.sleeps, (std::vector<int>{20, 3, 3, 3, 3}));
  EXPECT_TRUE(session->FramePending);
  receive(kAck);  // list done: nothing more
  EXPECT_TRUE(link.take().isEmpty());
  EXPECT_FALSE(session->FramePending);
}

TEST_F(Buffered, Automatic255ChannelsInUnitsOfEightIs32Frames) {
  make(0);
  session->Play(autoList(255), 8);
  ASSERT_EQ(link.take(), QByteArray("\x05"));
  std::vector<QByteArray> frames;
  for (int i = 0; i < 40; ++i) {
    receive(kAck);
    const QByteArray sent = link.take();
    if (sent.isEmpty()) break;
    frames.push_back(sent);
  }
  ASSERT_EQ(frames.size(), 32u);
  for (int f = 0; f < 31; ++f) {
    QByteArray digits;
    for (int c = 1; c <= 8; ++c) digits += QByteArray::number(f * 8 + c).rightJustified(3, '0');
    EXPECT_EQ(frames[std::size_t(f)], expectedFrame(digits)) << f;
  }
  EXPECT_EQ(frames.back(), expectedFrame("249250251252253254255"));
  EXPECT_TRUE(log.lines.contains("[送信]：249,250,251,252,253,254,255"));
  EXPECT_EQ(session->ListRemain, 0);
  EXPECT_EQ(session->ListPos, 255);
}

TEST_F(Buffered, UnitLargerThanListSendsOneFrameWithoutTrailingComma) {
  make(0);
  session->Play({7, 8}, 99);
  receive(kAck);
  EXPECT_EQ(link.take(), QByteArray("\x05") + expectedFrame("007008"));
  EXPECT_TRUE(log.lines.contains("[送信]：007,008"));
  EXPECT_EQ(session->FrameCount, 2);
}

TEST_F(Buffered, NakAfterFrameResendsTheSameFrameAtTheNextAck) {
  for (bool manual : {false, true}) {
    make(0);
    link.take();
    session->ManualMode = manual;
    session->Play(autoList(20), 8);
    receive(kAck);
    link.take();
    receive(kAck);
    const QByteArray second = link.take();
    ASSERT_EQ(second, expectedFrame("009010011012013014015016"));
    log.take();
    receive(kNak);
    EXPECT_TRUE(link.take().isEmpty());
    EXPECT_EQ(log.take(), QStringList{"[受信]：NAK(15h)"});
    EXPECT_EQ(session->ListPos, 8);
    EXPECT_EQ(session->ListRemain, 12);
    EXPECT_EQ(session->LinkUp, !manual);
    receive(kAck);
    EXPECT_EQ(link.take(), second) << manual;
  }
}

TEST_F(Buffered, SecondNakDoesNotReachBackIntoEarlierFrames) {
  make(0);
  session->Play(autoList(24), 8);
  receive(kAck);
  receive(kAck);
  link.take();
  receive(kNak);
  receive(kNak);
  EXPECT_EQ(session->ListPos, 8);
  receive(kAck);
  EXPECT_EQ(link.take(), expectedFrame("009010011012013014015016"));
}

TEST_F(Buffered, VolumeDuringPlaybackTakesTheNextAckThenResumes) {
  make(1);
  session->Play(autoList(250), 8);
  receive(kAck);
  link.take();
  session->SendVolume(BufferedSession::Volume14dB);
  EXPECT_EQ(link.take(), QByteArray("\x05"));
  receive(kAck);  // answer to frame 1: the volume frame goes instead of frame 2
  EXPECT_EQ(link.take(), QByteArray("\x02\x32\x35\x32\x03\x36", 6));
  EXPECT_EQ(log.lines.last(), QStringLiteral("[送信]：音量減衰(-14dB)"));
  EXPECT_EQ(session->VolumeCmd, BufferedSession::VolumeSent);
  receive(kAck);  // answer to ENQ: nothing
  EXPECT_TRUE(link.take().isEmpty());
  EXPECT_EQ(session->VolumeCmd, BufferedSession::VolumeNone);
  receive(kAck);  // answer to the volume frame: frame 2
  EXPECT_EQ(link.take(), expectedFrame("009010011012013014015016"));
}

TEST_F(Buffered, VolumeFramesAndTheirLogLines) {
  make(1);
  const std::pair<BufferedSession::Volume, QByteArray> cases[] = {
      {BufferedSession::Volume6dB, QByteArray("\x02\x32\x35\x31\x03\x35", 6)},
      {BufferedSession::Volume14dB, QByteArray("\x02\x32\x35\x32\x03\x36", 6)},
      {BufferedSession::VolumeDefault, QByteArray("\x02\x32\x35\x33\x03\x37", 6)}};
  for (const auto& [command, bytes] : cases) {
    session->SendVolume(command);
    receive(kAck);
    receive(kAck);
    EXPECT_EQ(link.take(), QByteArray("\x05") + bytes);
    EXPECT_EQ(bytes, expectedFrame(bytes.mid(1, 3)));
  }
  EXPECT_EQ(log.lines.filter(QStringLiteral("音量")),
            (QStringList{"[送信]：音量減衰(-6dB)", "[送信]：音量減衰(-14dB)", "[送信]：音量減衰(ﾃﾞﾌｫﾙﾄ)"}));
}

TEST_F(Buffered, StopWritesTheSubModesCommandAndTheNextAckOnlyClearsIt) {
  make(2);
  session->Play(autoList(255), 8);
  receive(kAck);
  link.take();
  log.take();
  session->Stop();
  EXPECT_EQ(link.take(), QByteArray("\x02\xFF\x03\xFC", 4));
  EXPECT_EQ(log.take(), QStringList{"[送信]：STOP(02hFFh03hFCh)"});
  EXPECT_EQ(session->ListPos, 8);
  receive(kAck);
  EXPECT_TRUE(link.take().isEmpty());
  EXPECT_FALSE(session->StopRequest);

  make(0);
  log.take();
  session->Stop();
  EXPECT_EQ(link.take(), QByteArray("\xFF", 1));
  EXPECT_EQ(log.take(), QStringList{"[送信]：STOP(FFh)"});
}

// The unit answers the outstanding frame and then the stop (and may answer
// more): none of those answers releases a frame; 再生 starts the list over.
TEST_F(Buffered, AfterStopNothingGoesOutUntilPlay) {
  for (const BufferedVariant* variant :
       {&bufferedVariant(0), &bufferedVariant(1), &bufferedVariant(2), &kBuffered1000, &kBufferedTarn4Lan}) {
    SCOPED_TRACE(variant->caption.toStdString());
    session = std::make_unique<BufferedSession>(*variant, link, log, pause);
    const QList<qint64> list = autoList(20);
    session->Play(list, 2);
    receive(kAck);
    const QByteArray firstFrame = link.take().mid(1);
    session->Stop();
    link.take();
    for (char answer : {kAck, kAck, kNak, kAck}) receive(answer);
    EXPECT_TRUE(link.take().isEmpty());
    EXPECT_EQ(session->ListPos, 2);

    session->Play(list, 2);
    EXPECT_EQ(link.take(), QByteArray("\x05"));
    receive(kAck);
    EXPECT_EQ(link.take(), firstFrame);
  }
}

TEST_F(Buffered, RepeatRestartsOnlyManualLists) {
  make(0);
  session->RepeatOn = 1;
  session->Play({1, 2, 3}, 2);
  receive(kAck);
  receive(kAck);
  receive(kAck);
  EXPECT_EQ(link.take(), QByteArray("\x05") + expectedFrame("001002") + expectedFrame("003") + expectedFrame("001002"));

  make(0);
  session->RepeatOn = 1;
  session->Play(autoList(255), 255);
  receive(kAck);
  receive(kAck);
  link.take();
  EXPECT_EQ(session->ListRemain, 0);
  receive(kAck);
  EXPECT_TRUE(link.take().isEmpty());
}

TEST_F(Buffered, UnexpectedByteIsLoggedAndChangesNothing) {
  make(0);
  session->Play({1}, 8);
  log.take();
  link.take();
  receive(0x41);
  receive(0x0A);
  receive(0x00);
  EXPECT_EQ(log.take(), (QStringList{"[受信]：(41h)", "[受信]：(Ah)", "[受信]：(0h)"}));
  EXPECT_TRUE(link.take().isEmpty());
  EXPECT_FALSE(session->LinkUp);
  EXPECT_EQ(session->ListRemain, 1);
}

TEST_F(Buffered, OneByteIsHandledPerEvent) {
  make(0);
  session->Play({1, 2}, 1);
  link.incoming = QByteArray("\x06\x41", 2);
  session->OnComm(SerialLink::kEventReceive);
  EXPECT_EQ(link.incoming, QByteArray("\x41"));
  EXPECT_EQ(log.lines.last(), QStringLiteral("[送信]：BCC(32h)"));
  session->OnComm(3);  // not a receive event
  session->OnComm(SerialLink::kEventReceive);
  EXPECT_EQ(log.lines.last(), QStringLiteral("[受信]：(41h)"));
  const std::size_t sleeps = pause.sleeps.size();
  session->OnComm(SerialLink::kEventReceive);  // nothing waiting
  EXPECT_EQ(pause.sleeps.size(), sleeps + 1);
  EXPECT_EQ(log.lines.last(), QStringLiteral("[受信]：(41h)"));
}

TEST_F(Buffered, AckBeforeAnyPlaybackSendsNothing) {
  make(0);
  EXPECT_EQ(session->ListRemain, 255);
  receive(kAck);
  receive(kAck);
  EXPECT_TRUE(link.take().isEmpty());
  EXPECT_EQ(log.lines, (QStringList{"[受信]：ACK(06h)", "[受信]：ACK(06h)"}));
  EXPECT_TRUE(session->LinkUp);
}

TEST_F(Buffered, UnloadWritesFFWithoutALogLine) {
  make(1);
  session->Unload();
  EXPECT_EQ(link.take(), QByteArray("\xFF", 1));
  EXPECT_TRUE(log.lines.isEmpty());
  EXPECT_TRUE(session->StopRequest);
}

TEST_F(Buffered, ClosedPortIsSaidInTheLogNotReportedAsSent) {
  make(0);
  link.open = false;
  session->Play({1}, 8);
  session->Stop();
  EXPECT_EQ(log.lines, (QStringList{kPortNotOpenLog, kPortNotOpenLog}));
}

TEST_F(Buffered, StopNobodyAnsweredDoesNotSwallowTheNextPlay) {
  make(0);
  session->Stop();  // the unit never answers a lone FFh
  session->Play({1}, 8);
  link.take();
  receive(kAck);
  EXPECT_EQ(link.take(), expectedFrame("001"));
}

TEST_F(Buffered, FailedWriteOnAnOpenPortIsLoggedAndItsChannelsStayUnsent) {
  make(0);
  session->Play({1, 2, 3}, 2);
  link.take();
  log.take();
  link.failWrites = true;
  receive(kAck);
  EXPECT_EQ(log.take(), (QStringList{"[受信]：ACK(06h)", kWriteFailedLog}));
  EXPECT_EQ(session->ListPos, 0);
  EXPECT_EQ(session->ListRemain, 3);
  EXPECT_FALSE(session->FramePending);
  link.failWrites = false;
  receive(kAck);
  EXPECT_EQ(link.take(), expectedFrame("001002"));
}

TEST_F(Buffered, ThousandChannelFramesAndTheirStops) {
  session = std::make_unique<BufferedSession>(kBuffered1000, link, log, pause);
  session->Play({1, 1000}, 10);
  link.take();
  log.take();
  receive(kAck);
  EXPECT_EQ(link.take(), QByteArray("\x02"
                                    "00011000"
                                    "\x03\x03"));
  EXPECT_EQ(log.take(), (QStringList{"[受信]：ACK(06h)", "[送信]：STX(02h)", "[送信]：0001,1000", "[送信]：ETX(03h)",
                                     "[送信]：BCC(3h)"}));
  session->Stop();
  EXPECT_EQ(link.take(), QByteArray("\x02\xFF\x03\xFC", 4));
  EXPECT_EQ(log.take(), QStringList{"[送信]：STOP(02hFFh03hFCh)"});

  session = std::make_unique<BufferedSession>(kBufferedTarn4Lan, link, log, pause);
  session->Stop();
  EXPECT_EQ(link.take(), QByteArray("\xFF", 1));
  EXPECT_EQ(log.take(), QStringList{"[送信]：STOP(FFh)"});
}

TEST_F(Buffered, LinePrefixIsReadAnewForEveryFrame) {
  session = std::make_unique<BufferedSession>(kBufferedTarn4Lan, link, log, pause);
  int line = 1;
  session->selectedLine = [&] { return line; };
  session->Play({5, 6, 7, 8}, 2);
  link.take();
  receive(kAck);
  EXPECT_EQ(link.take(), expectedFrame("#00100050006"));
  EXPECT_TRUE(log.lines.contains(QStringLiteral("[送信]：#001,0005,0006")));
  line = 9;
  receive(kAck);
  EXPECT_EQ(link.take(), expectedFrame("#00900070008"));
  line = 0;  // none selected: the last number stays
  session->Play({1}, 2);
  link.take();
  receive(kAck);
  EXPECT_EQ(link.take(), expectedFrame("#0090001"));
  EXPECT_EQ(session->LineNo, 9);
}

TEST_F(Buffered, NakOfAShortLastFrameSendsTheWholeFrameAgain) {
  session = std::make_unique<BufferedSession>(kBuffered1000, link, log, pause);
  QList<qint64> channels;
  for (int c = 1; c <= 11; ++c) channels.append(c);
  session->Play(channels, 8);
  receive(kAck);
  receive(kAck);
  link.take();
  receive(kNak);
  receive(kAck);
  EXPECT_EQ(link.take(), expectedFrame("000900100011"));
  EXPECT_EQ(session->ListRemain, 0);
}

TEST(BufferedVariants, CaptionsSettingsAndLimits) {
  EXPECT_EQ(bufferedVariant(0).caption, QStringLiteral("バッファ機能付RS232C制御(MAX255CH 9600,N,8,1)"));
  EXPECT_EQ(bufferedVariant(1).caption, QStringLiteral("バッファ機能付RS232C制御(MAX250CH 9600,N,8,1)"));
  EXPECT_EQ(bufferedVariant(2).caption, QStringLiteral("TARN5-KLV制御"));
  EXPECT_EQ(bufferedVariant(0).settings, QStringLiteral("9600,N,8,1"));
  EXPECT_EQ(bufferedVariant(2).settings, QStringLiteral("19200,E,8,1"));
  EXPECT_EQ(bufferedVariant(0).maxChannel, 255);
  EXPECT_EQ(bufferedVariant(1).maxChannel, 250);
  EXPECT_EQ(bufferedVariant(2).maxChannel, 255);
  EXPECT_EQ(bufferedVariant(1).autoCaption, QStringLiteral("オートモード（１～２５０まで自動再生）"));
  EXPECT_TRUE(bufferedVariant(1).volumeButtons);
  EXPECT_FALSE(bufferedVariant(0).volumeButtons || bufferedVariant(2).volumeButtons);
}

// Whatever the unit answers and whatever the operator presses, the list stays
// consistent and every frame on the line is well formed.
TEST(BufferedTraffic, RandomAnswersAndButtonsKeepTheListConsistent) {
  FakeLink link;
  FakeLog log;
  VirtualPause pause;
  BufferedSession session(1, link, log, pause);
  std::mt19937 random(20261208);
  const auto pick = [&](int n) { return int(random() % unsigned(n)); };
  bool played = false;
  for (int step = 0; step < 20000; ++step) {
    const int action = pick(100);
    if (action < 45) {
      link.incoming.append(char(0x06));
    } else if (action < 65) {
      link.incoming.append(char(0x15));
    } else if (action < 70) {
      link.incoming.append(char(pick(256)));
    } else if (action < 73) {
      QList<qint64> channels;
      const int count = pick(2) ? 250 : 1 + pick(20);
      for (int i = 0; i < count; ++i) channels.append(1 + pick(250));
      session.Play(channels, 1 + pick(99));
      played = true;
    } else if (action < 75) {
      session.Stop();
    } else if (action < 77) {
      session.SendVolume(BufferedSession::Volume(1 + pick(3)));
    } else if (action < 79) {
      session.ManualMode = !session.ManualMode;
    } else if (action < 81) {
      session.RepeatOn = qint16(1 - session.RepeatOn);
    }
    if (!link.incoming.isEmpty()) session.OnComm(SerialLink::kEventReceive);

    if (played) {
      ASSERT_GE(session.ListPos, 0) << step;
      ASSERT_LE(session.ListPos, session.ListTotal) << step;
      ASSERT_EQ(session.ListPos + session.ListRemain, session.ListTotal) << step;
    }
    // A channel frame goes out as STX, the digits, ETX and its check character.
    const std::vector<QByteArray>& w = link.writes;
    for (std::size_t i = 0; i < w.size(); ++i) {
      if (w[i] != QByteArray("\x02")) continue;
      ASSERT_LT(i + 3, w.size()) << step;
      const QByteArray& digits = w[i + 1];
      ASSERT_TRUE(!digits.isEmpty() && digits.size() % 3 == 0) << step;
      for (char c : digits) ASSERT_TRUE(c >= '0' && c <= '9') << step;
      ASSERT_EQ(w[i + 2], QByteArray("\x03")) << step;
      char bcc = 0x03;
      for (char c : digits) bcc ^= c;
      ASSERT_EQ(w[i + 3], QByteArray(1, bcc)) << step;
      i += 3;
    }
    link.writes.clear();
  }
}
