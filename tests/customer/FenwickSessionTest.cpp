#include "customer/FenwickSession.h"
#include "customer/Schedule.h"
#include "shell/ModString.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

class FakeTimer : public SessionTimer {
 public:
  void start(int ms) override { running = ms; }
  void stop() override { running = 0; }
  int running = 0;  // the interval while running
};

// A reply frame: STX, the text, ETX, the check byte over text and ETX.
QByteArray reply(const QByteArray& text) {
  char bcc = 0x03;
  for (char c : text) bcc ^= c;
  return "\x02" + text + "\x03" + bcc;
}

const QByteArray kSchedule =
    toCp932(QStringLiteral("ignored,line\r\n#0\r\n1,x\r\n#2\r\n"
                           "1,あ,b,c,d,e\r\n"
                           "7,f1,f2,f3,f4,five,with,commas\r\n"
                           "#3\r\n1,案内\r\n"));

class Fenwick : public ::testing::Test {
 protected:
  Fenwick() {
    QFile file(path());
    file.open(QIODevice::WriteOnly);
    file.write(kSchedule);
  }
  QString path() const { return dir.filePath(QStringLiteral("card.wmj")); }
  // Runs one exchange: the unit's ACK, then `answer` byte by byte.
  void exchange(const FenwickSession::Request& request, const QByteArray& answer) {
    ASSERT_TRUE(session.Start(path(), request));
    for (const char b : QByteArray("\x06") + answer) {
      link.incoming.append(b);
      session.OnComm(LinkPort::kEventReceive);
    }
  }
  QTemporaryDir dir;
  FakeLink link;
  FakeLog log;
  VirtualPause pause;
  FakeTimer timer;
  RecordingPrompt prompt;
  FenwickSession session{kFenwick, timer, link, log, pause};
};

}  // namespace

TEST(Schedule, FileSectionsAndReplyRecords) {
  ScheduleTable table = emptySchedule(255);
  ASSERT_TRUE(readSchedule(kSchedule, table));
  EXPECT_EQ(table[1].Field[1], QStringLiteral("あ"));
  EXPECT_EQ(table[7].Field[5], QStringLiteral("five,with,commas"));  // field 5 keeps its commas
  EXPECT_EQ(table[1].Field[6], QStringLiteral("案内"));
  for (const char* bad : {"#2\r\n1,a,b,c,d\r\n", "#2\r\n256,a,b,c,d,e\r\n", "#2\r\nx,a,b,c,d,e\r\n", "#3\r\n9\r\n",
                          "#2\r\n1,a,b,c,d,e\r\n\r\n", "#2\r\n1,\x82,b,c,d,e\r\n"}) {
    ScheduleTable kept = table;
    EXPECT_FALSE(readSchedule(QByteArray(bad), kept)) << bad;
    EXPECT_EQ(kept[7].Field[5], QStringLiteral("five,with,commas"));  // a failed read changes nothing
  }

  ScheduleTable unit = emptySchedule(255);
  EXPECT_TRUE(parseReply("junk,7,a,b,c,d,e,*", unit));
  EXPECT_EQ(unit[7].Field[0], QStringLiteral("7"));
  EXPECT_EQ(unit[7].Field[5], QStringLiteral("e"));
  EXPECT_TRUE(parseReply("*", unit));
  EXPECT_FALSE(parseReply("256,a,b,c,d,e,*", unit));  // above the table
  EXPECT_FALSE(parseReply("1,a,b*", unit));
  EXPECT_FALSE(parseReply("1,a,b,c,d,e,", unit));  // no end
}

TEST_F(Fenwick, RequestFrames) {
  EXPECT_EQ(session.requestFrame({}), QByteArray("\x02\x20\x30\x30\x30\x03\x13"));
  EXPECT_EQ(session.requestFrame({12, 12, false}), QByteArray("\x02\x20\x30\x31\x32\x03\x10"));
  FenwickSession wide(kFenwick1000, timer, link, log, pause);
  EXPECT_EQ(wide.requestFrame({1, 20, false}), QByteArray("\x02\x20\x30\x30\x30\x31\x30\x30\x32\x30\x03\x20"));
}

TEST_F(Fenwick, ExchangeJudgedChannelByChannel) {
  exchange({7, 7, false}, reply("7,f1,f2,f3,f4,five,"));
  EXPECT_EQ(link.take(), QByteArray("\x05\x02\x20\x30\x30\x37\x03\x14"));
  EXPECT_EQ(log.lines.mid(0, 7),
            (QStringList{"【送信】：応答要求(05h)", "【受信】：正常応答(06h) ", "【送信】：STX(02h)",
                         "【送信】：CMD(20h)", "【送信】：007", "【送信】：ETX(03h)", "【送信】：BCC(14h)"}));
  // Field 5 stops at the sixth comma in a reply, so it never matches one with commas.
  EXPECT_EQ(log.lines.mid(9), (QStringList{"【NG】：007,f1,f2,f3,f4,five",
                                           "【判定】：受信データに異常があります。確認して下さい ******", ""}));
  EXPECT_EQ(log.kinds[9], LineKind::Error);
  EXPECT_EQ(prompt.texts(), std::vector<QString>{"受信データに異常があります。確認して下さい。"});
  EXPECT_EQ(pause.sleeps, std::vector<int>{300});
  EXPECT_EQ(timer.running, 0);

  // Channels in neither table are OK; one only the file has is not.
  log.take();
  exchange({}, reply(toCp932(QStringLiteral("1,あ,b,c,d,e,"))));
  const QStringList lines = log.lines.filter(QStringLiteral("【NG】"));
  EXPECT_EQ(lines, QStringList{"【NG】：CH番号 007 取得できませんでした。"});
  EXPECT_EQ(log.lines.filter(QStringLiteral("【OK】")).size(), 254);
}

TEST_F(Fenwick, CheckBytesThatLookLikeAnswersAndTheTimeOut) {
  // The check byte is whatever comes after ETX, 06h and 15h included.
  QByteArray answer = reply("");
  answer.back() = 0x06;
  exchange({}, answer);
  EXPECT_TRUE(log.lines.contains(QStringLiteral("【情報】：ＢＣＣチェックエラー　確認して下さい >>>>>>")));
  EXPECT_EQ(session.ExchangeState, FenwickSession::Evaluating);

  // Bytes before STX are ignored; without STX the 10 s time-out ends it.
  log.take();
  exchange({}, QByteArray("\x41\x42"));
  EXPECT_EQ(timer.running, FenwickSession::kReplyTimeoutMs);
  EXPECT_EQ(session.ExchangeState, FenwickSession::AwaitStx);
  session.Timer1_Timer();
  EXPECT_EQ(log.lines.last(), QStringLiteral("【情報】：タイムアウトエラー　通信が完了できませんでした。 >>>>>>"));
  EXPECT_EQ(session.ExchangeState, FenwickSession::Idle);

  log.take();
  ASSERT_TRUE(session.Start(path(), {}));
  link.incoming = "\x15";
  session.OnComm(LinkPort::kEventReceive);
  EXPECT_EQ(log.lines.mid(1), (QStringList{"【受信】：NAK(15h)", ""}));
}

TEST_F(Fenwick, BadRepliesAndFiles) {
  exchange({}, reply("300,a,b,c,d,e,"));
  EXPECT_EQ(prompt.texts(), std::vector<QString>{"解析に失敗しました。受信データが不正です。"});
  QFile file(path());
  file.open(QIODevice::WriteOnly);
  file.write("#2\r\n1,a\r\n");
  file.close();
  EXPECT_FALSE(session.Start(path(), {}));
  EXPECT_EQ(prompt.texts().back(), QStringLiteral("スケジュールファイルの取得に失敗しました。"));
  EXPECT_EQ(prompt.messages.back().icon, MsgIcon::Critical);
  FenwickSession wide(kFenwick1000, timer, link, log, pause);
  EXPECT_FALSE(wide.Start(dir.filePath(QStringLiteral("none.wmj")), {}));
}

TEST_F(Fenwick, StartAboveEndJudgesNothingAndSucceeds) {
  FenwickSession wide(kFenwick1000, timer, link, log, pause);
  ASSERT_TRUE(wide.Start(path(), {5, 2, false}));
  for (const char b : QByteArray("\x06") + reply("")) {
    link.incoming.append(b);
    wide.OnComm(LinkPort::kEventReceive);
  }
  EXPECT_TRUE(log.lines.filter(QRegularExpression(QStringLiteral("^【(OK|NG)】"))).isEmpty());
  EXPECT_EQ(prompt.texts(), std::vector<QString>{"正常にデータを受信しました。"});
}
