#include "sessions/Mode5Session.h"
#include "link/SerialLink.h"
#include "support/SerialFakes.h"
#include "support/SessionFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

const QString kSent = QStringLiteral("送信") + QString(79, u'-');
const QString kReceived = QStringLiteral("受信") + QString(82, u'-');

using Mode5 = SessionFixture<Mode5Session>;

}  // namespace

TEST_F(Mode5, PlayListBytesAndLogLines) {
  session.Send({1, 2});
  EXPECT_EQ(link.writes, std::vector<QByteArray>{QByteArray("\x10\x02\x43\x32\x30\x31\x30\x32\x10\x03\x61")});
  EXPECT_EQ(log.take(), (QStringList{kSent, "10h02h43h32h", "30h31h30h32h", "10h03h61h"}));
  EXPECT_EQ(Mode5Session::playList({10}), QByteArray("\x10\x02\x43\x31\x30\x3A\x10\x03\x6B"));
  EXPECT_EQ(Mode5Session::playList({255}).mid(4, 2), QByteArray("??"));

  link.take();
  session.Send(channelsUpTo(30));
  const QByteArray all = link.take();
  EXPECT_EQ(all[3], 'N');
  EXPECT_EQ(all.mid(4, 4), QByteArray("0102"));
  EXPECT_EQ(all.mid(all.size() - 5, 2), QByteArray("1>"));
  EXPECT_EQ(all.back(), '\x10');  // the check byte may equal DLE; it is not doubled
  const QStringList lines = log.take();
  ASSERT_EQ(lines.size(), 6);  // 60 channel bytes on three lines of 20
  EXPECT_EQ(lines[2].size(), 60);
}

TEST_F(Mode5, CountCharacters) {
  EXPECT_EQ(Mode5Session::countCharacter(1), '\x31');
  EXPECT_EQ(Mode5Session::countCharacter(15), '\x3F');
  EXPECT_EQ(Mode5Session::countCharacter(16), '\x40');
  EXPECT_EQ(Mode5Session::countCharacter(30), '\x4E');
  EXPECT_EQ(Mode5Session::countCharacter(31), '\x4F');
  EXPECT_EQ(Mode5Session::countCharacter(40), '\x4F');
}

TEST_F(Mode5, FixedMessagesWhateverTheState) {
  session.SendStop();
  session.SendAck();
  session.SendNak();
  EXPECT_EQ(link.writes, (std::vector<QByteArray>{QByteArray("\x10\x02\x44\x10\x03\x57"), QByteArray("\x10\x06\x00", 3),
                                                  QByteArray("\x10\x15\x00", 3)}));
  EXPECT_EQ(log.lines, (QStringList{kSent, "10h02h44h10h03h57h", kSent, "10h06h00h", kSent, "10h15h00h"}));
}

TEST_F(Mode5, PlaybackEndIsAnsweredAsChosen) {
  const QByteArray end("\x10\x02\x39\x10\x03\x2A");
  EXPECT_EQ(receive(end), QByteArray("\x10\x06\x00", 3));
  EXPECT_EQ(log.take(), (QStringList{kReceived, "10h02h39h10h03h2Ah", kSent, "10h06h00h"}));
  session.EndAnswer = Mode5Session::EndNak;
  EXPECT_EQ(receive(end), QByteArray("\x10\x15\x00", 3));
  session.EndAnswer = Mode5Session::EndSilent;
  log.take();
  EXPECT_EQ(receive(end), QByteArray());
  EXPECT_EQ(log.take(), (QStringList{kReceived, "10h02h39h10h03h2Ah"}));
  EXPECT_EQ(pause.sleeps.back(), 20);
}

TEST_F(Mode5, AnswersAreLoggedAndOtherDataIgnored) {
  EXPECT_EQ(receive(QByteArray("\x10\x06\x00", 3)), QByteArray());
  EXPECT_EQ(log.take(), (QStringList{kReceived, "10h06h00h"}));
  receive(QByteArray("\x10\x15\x00", 3));
  EXPECT_EQ(log.take(), (QStringList{kReceived, "10h15h00h"}));
  for (const QByteArray& noise : {QByteArray("\x41\x10\x06\x00", 4), QByteArray("\x10\x06\x01", 3),
                                  QByteArray("\x10\x43\x00", 3), QByteArray("\x06", 1)})
    receive(noise);
  EXPECT_TRUE(log.lines.isEmpty());
  const std::size_t waits = pause.sleeps.size();
  session.OnComm(SerialLink::kEventReceive);  // nothing buffered: no wait either
  session.OnComm(3);
  EXPECT_EQ(pause.sleeps.size(), waits);
}

// A message split before its third byte is still told apart, and a message
// after an answer in the same arrival is not lost.
TEST_F(Mode5, MessagesSplitOrTogether) {
  EXPECT_EQ(receive(QByteArray("\x10", 1)), QByteArray());
  EXPECT_EQ(receive(QByteArray("\x02", 1)), QByteArray());
  EXPECT_EQ(receive(QByteArray("\x39\x10\x03\x2A", 4)), QByteArray("\x10\x06\x00", 3));
  EXPECT_EQ(log.take().mid(0, 2), (QStringList{kReceived, "10h02h39h10h03h2Ah"}));
  EXPECT_EQ(receive(QByteArray("\x10\x06\x00\x10\x02\x39\x10\x03\x2A", 9)), QByteArray("\x10\x06\x00", 3));
  EXPECT_EQ(log.take().mid(0, 4), (QStringList{kReceived, "10h06h00h", kReceived, "10h02h39h10h03h2Ah"}));
}
