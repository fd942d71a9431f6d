#include "sessions/FenwickSession.h"
#include "sessions/Schedule.h"
#include "core/ChannelEntry.h"
#include "core/ModString.h"
#include "support/EventLog.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
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
  WindowPrompter boxes;
  FenwickSession session{kFenwick, timer, boxes, link, log, pause};
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

namespace {

// The reply parse as it was first written, a copy of the rest at every
// token: slow, but the results the one-pass parse must give.
bool referenceParse(const QByteArray& buffer, ScheduleTable& table) {
  qsizetype at = 0;
  while (!buffer.mid(at).startsWith('*')) {
    const qsizetype comma = buffer.indexOf(',', at);
    if (comma < 0) return false;
    const QString first = fromCp932(buffer.mid(at, comma - at));
    at = comma + 1;
    if (!isNumeric(first)) continue;
    const std::optional<double> value = integerValue(first);
    if (!value || *value < 1 || *value >= double(table.size())) return false;
    ScheduleRecord record;
    record.Field[0] = first;
    for (int f = 1; f <= 5; ++f) {
      const qsizetype end = buffer.indexOf(',', at);
      if (end < 0) return false;
      record.Field[std::size_t(f)] = fromCp932(buffer.mid(at, end - at));
      at = end + 1;
    }
    table[std::size_t(*value)] = record;
  }
  return true;
}

// Record i of a long reply: a channel that comes round again, fields that
// differ each time (the last one wins), Japanese text, and before it empty
// tokens that are skipped, each a step of the parse.
QByteArray replyRecord(int i) {
  return toCp932(QStringLiteral(",,,,,,,,,,,,,,,,x%1,%2,駅%1,b,c,d,e%1,").arg(i).arg(1 + i % 255));
}

}  // namespace

TEST(Schedule, ReplyParseGivesWhatTheFirstParseGave) {
  // Short texts from the bytes that matter: digits, signs, commas, the end
  // mark, blanks and the bytes of a double-byte character, together or alone.
  static constexpr char kBytes[] = "0123456789,,,,*+-. ea\x82\xa0";
  QRandomGenerator random(7);
  for (int i = 0; i < 5000; ++i) {
    QByteArray text;
    const int size = random.bounded(48);
    for (int j = 0; j < size; ++j) text += kBytes[random.bounded(int(sizeof kBytes) - 1)];
    if (random.bounded(2)) text += '*';
    ScheduleTable expected = emptySchedule(255), got = emptySchedule(255);
    const bool ok = referenceParse(text, expected);
    ASSERT_EQ(parseReply(text, got), ok) << text.toHex().constData();
    for (std::size_t c = 0; c < got.size(); ++c)
      ASSERT_EQ(got[c].Field, expected[c].Field) << text.toHex().constData() << " channel " << c;
  }
}

TEST(Schedule, MegabyteReplyParsesPromptlyAndAsItsPieces) {
  QByteArray text;
  QList<qsizetype> starts;
  for (int i = 0; text.size() < (1 << 20); ++i) {
    starts.append(text.size());
    text += replyRecord(i);
  }
  ScheduleTable whole = emptySchedule(255);
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(parseReply(text + '*', whole));
  // The parse runs on the window's thread: with a copy of the rest per token
  // this reply took over 6 s.
  EXPECT_LT(clock.elapsed(), 2000);
  const int records = int(starts.size());
  EXPECT_EQ(whole[255].Field[5], QStringLiteral("e%1").arg(records - 1 - (records - 255) % 255));
  EXPECT_EQ(whole[1].Field[1], QStringLiteral("駅%1").arg(((records - 1) / 255) * 255));

  // The same records parsed a few at a time, in order, end the same.
  ScheduleTable pieces = emptySchedule(255);
  for (int from = 0; from < records; from += 997) {
    const qsizetype begin = starts[from];
    const qsizetype end = from + 997 < records ? starts[from + 997] : text.size();
    ASSERT_TRUE(parseReply(text.mid(begin, end - begin) + '*', pieces));
  }
  for (std::size_t c = 0; c < whole.size(); ++c) EXPECT_EQ(pieces[c].Field, whole[c].Field) << c;
}

TEST_F(Fenwick, RequestFrames) {
  EXPECT_EQ(session.requestFrame({}), QByteArray("\x02\x20\x30\x30\x30\x03\x13"));
  EXPECT_EQ(session.requestFrame({12, 12, false}), QByteArray("\x02\x20\x30\x31\x32\x03\x10"));
  FenwickSession wide(kFenwick1000, timer, boxes, link, log, pause);
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
  EXPECT_EQ(log.kinds[9], LineKind::JudgedNg);
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
  FenwickSession wide(kFenwick1000, timer, boxes, link, log, pause);
  EXPECT_FALSE(wide.Start(dir.filePath(QStringLiteral("none.wmj")), {}));
}

TEST_F(Fenwick, StartAboveEndJudgesNothingAndSucceeds) {
  FenwickSession wide(kFenwick1000, timer, boxes, link, log, pause);
  ASSERT_TRUE(wide.Start(path(), {5, 2, false}));
  for (const char b : QByteArray("\x06") + reply("")) {
    link.incoming.append(b);
    wide.OnComm(LinkPort::kEventReceive);
  }
  EXPECT_TRUE(log.lines.filter(QRegularExpression(QStringLiteral("^【(OK|NG)】"))).isEmpty());
  EXPECT_EQ(prompt.texts(), std::vector<QString>{"正常にデータを受信しました。"});
}

// The run's end and each channel's verdict as events, beside the lines.
TEST_F(Fenwick, EventsGiveEachChannelsVerdictAndTheEnd) {
  EventLog events;
  FenwickSession s(kFenwick, timer, boxes, link, events, pause);
  const auto feed = [&](const QByteArray& bytes) {
    for (const char b : bytes) {
      link.incoming.append(b);
      s.OnComm(LinkPort::kEventReceive);
    }
  };
  ASSERT_TRUE(s.Start(path(), {}));
  feed("\x06" + reply(toCp932(QStringLiteral("1,あ,b,c,d,e,7,f1,f2,f3,f4,five,"))));
  const QStringList all = events.takeEvents();
  EXPECT_EQ(all.mid(0, 4), (QStringList{"started  of 0", "frame [] 05", "answer Ack 06",
                                        "frame [] 02 20 30 30 30 03 13"}));
  EXPECT_EQ(all.filter(QStringLiteral("verdict")).size(), 255);
  EXPECT_EQ(all.filter(QStringLiteral(" NG")), QStringList{"verdict 7 NG"});
  EXPECT_TRUE(all.contains("verdict 1 OK"));
  EXPECT_EQ(all.back(), "finished Complete");

  ASSERT_TRUE(s.Start(path(), {}));
  feed("\x15");
  EXPECT_EQ(events.takeEvents(), (QStringList{"started  of 0", "frame [] 05", "answer Nak 15",
                                              "refusal 【受信】：NAK(15h)", "finished Refused 【受信】：NAK(15h)"}));
  EXPECT_EQ(events.kinds[std::size_t(events.lines.indexOf("【受信】：NAK(15h)"))], LineKind::Received);

  ASSERT_TRUE(s.Start(path(), {}));
  feed("\x06\x02");
  s.Timer1_Timer();
  EXPECT_EQ(events.takeEvents().back(),
            "finished NoAnswer 【情報】：タイムアウトエラー　通信が完了できませんでした。 >>>>>>");

  ASSERT_TRUE(s.Start(path(), {}));
  feed(QByteArray("\x06\x02*\x03\x00", 5));  // a check byte that does not add up
  EXPECT_EQ(events.takeEvents().back(), "finished BadReply 【情報】：ＢＣＣチェックエラー　確認して下さい >>>>>>");
}
