// kestrel-run as a process: against the simulated unit on a pseudo-terminal,
// and against the binary unit behind the USB driver stand-in.
#include "RunTool.h"
#include "unit/UnitSimulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QDir>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <gtest/gtest.h>
#include <net/if.h>
#include <signal.h>

namespace {

namespace sim = kestrel::sim;
using namespace std::chrono_literals;

using Result = kestrel::test::RunResult;

Result runTool(const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
               const QString& program = QStringLiteral(KESTREL_RUN), QStringList prefix = {}) {
  return kestrel::test::runTool(program, args, env, std::move(prefix));
}

// stderr up to the summary line that ends every run that began, which must
// be there: the reason of a failed run, nothing for one that passed.
QString reasonOf(const QString& err) {
  const qsizetype cut = err.size() < 2 ? -1 : err.lastIndexOf(u'\n', err.size() - 2);
  const QString summary = err.mid(cut + 1);
  static const QRegularExpression shape("^kestrel-run: (PASS|FAIL \\(exit [1-9]\\)) mode \\d+[ :].*\n$");
  if (!shape.match(summary).hasMatch()) {
    ADD_FAILURE() << "no summary line last on stderr: " << err.toStdString();
    return err;
  }
  return err.left(cut + 1);
}

QByteArray received(const sim::UnitSimulator& unit) {
  const sim::Bytes b = unit.received();
  return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
}

QByteArray frame(const QByteArray& payload) {
  char bcc = 0x03;
  for (char c : payload) bcc ^= c;
  return "\x02" + payload + "\x03" + bcc;
}

QString bccLine(const QByteArray& payload) {
  char bcc = 0x03;
  for (char c : payload) bcc ^= c;
  return QStringLiteral("[送信]：BCC(%1h)").arg(QString::number(quint8(bcc), 16).toUpper());
}

// The log of one buffered frame as the window writes it.
QStringList frameLines(const QByteArray& payload, const QString& text) {
  return {QStringLiteral("[送信]：STX(02h)"), QStringLiteral("[送信]：") + text, QStringLiteral("[送信]：ETX(03h)"),
          bccLine(payload)};
}

const QString kEnq = QStringLiteral("[送信]：ENQ(05h)");
const QString kAck = QStringLiteral("[受信]：ACK(06h)");

class RunSerial : public ::testing::Test {
 protected:
  QString startUnit(sim::Options options) {
    options.answerDelay = 0ms;
    unit = std::make_unique<sim::UnitSimulator>(options);
    unit->start();
    return QString::fromStdString(unit->slavePath());
  }
  std::unique_ptr<sim::UnitSimulator> unit;
};

TEST_F(RunSerial, BufferedManualListCompletes) {
  const QString port = startUnit({});
  const Result r = runTool({"--mode", "1", "--port", port, "--channels", "1,15,145", "--unit", "2"});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(reasonOf(r.err), QString());
  QStringList expected{kEnq, kAck};
  expected += frameLines("001015", "001,015");
  expected += kAck;
  expected += frameLines("145", "145");
  expected += kAck;
  EXPECT_EQ(r.out, expected);
  // A completed run sends no stop: the unit plays out what it holds.
  EXPECT_EQ(received(*unit), "\x05" + frame("001015") + frame("145"));
}

TEST_F(RunSerial, RepeatPlaysTheListThatManyTimes) {
  const QString port = startUnit({});
  const Result r = runTool({"--mode", "2", "--port", port, "--channels", "1,2", "--repeat", "3"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(received(*unit), "\x05" + frame("001002").repeated(3));
  EXPECT_EQ(r.out.count(kAck), 4);
}

TEST_F(RunSerial, RepeatRefusedWhereTheWindowHasNone) {
  const Result auto1 = runTool({"--mode", "1", "--port", "/dev/null", "--channels", "auto", "--repeat", "2"});
  EXPECT_EQ(auto1.code, 2);
  EXPECT_EQ(auto1.err, "kestrel-run: --repeat: the window repeats manual lists only, not auto\n");
  const Result mode0 = runTool({"--mode", "0", "--channels", "1", "--repeat", "2"});
  EXPECT_EQ(mode0.code, 2);
  EXPECT_EQ(mode0.err, "kestrel-run: --repeat: mode 0 has no repeat\n");
}

TEST_F(RunSerial, NakIsTheUnitsRefusal) {
  const QString port = startUnit({.nakEvery = 2});
  const Result r = runTool({"--mode", "1", "--port", port, "--channels", "1,2,3", "--unit", "1"});
  EXPECT_EQ(r.code, 6);
  EXPECT_EQ(reasonOf(r.err), "kestrel-run: the unit refused: [受信]：NAK(15h)\n");
  // It ends as closing the window does: the stop goes out.
  ASSERT_TRUE(unit->waitForBytes(1 + 2 * 6 + 1, 2000ms));
  EXPECT_EQ(received(*unit).right(1), QByteArray("\xFF", 1));
}

TEST_F(RunSerial, ThousandChannelUnitAndLineNumbers) {
  const QString port = startUnit({.protocol = "buffered1000"});
  Result r = runTool({"--mode", "3", "--port", port, "--channels", "1,15,1000"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out.mid(2, 4), frameLines("000100151000", "0001,0015,1000"));

  const QString port5 = startUnit({.protocol = "buffered1000"});
  r = runTool({"--mode", "5", "--port", port5, "--channels", "7", "--line", "3"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out.mid(2, 4), frameLines("#0030007", "#003,0007"));
}

TEST_F(RunSerial, AccessCodeGuardsMode6AsTheMenuDoes) {
  const QString port = startUnit({});
  Result r = runTool({"--mode", "6", "--port", port, "--channels", "5"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "kestrel-run: --access-code: パスワードを入力して下さい。\n");
  r = runTool({"--mode", "6", "--port", port, "--channels", "5", "--access-code", "wrong"});
  EXPECT_EQ(r.err, "kestrel-run: --access-code: パスワードが違います。確認して下さい。\n");
  r = runTool({"--mode", "6", "--port", port, "--channels", "5", "--access-code", "k7mq2xw9"});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(received(*unit), "\x05" + frame("005"));
}

TEST_F(RunSerial, ModeZeroWaitsForBothAcksOfEachLine) {
  const QString port = startUnit({.protocol = "mode1"});
  const Result r = runTool({"--mode", "0", "--port", port, "--channels", "1,2,3", "--unit", "2"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, (QStringList{"[送信]：STS(53h54h53h) + CR(0Dh)", kAck, "[送信]：001,002 + CR(0Dh)", kAck, kAck,
                                "[送信]：003 + CR(0Dh)", kAck, kAck}));
  EXPECT_EQ(received(*unit), "sts\r001,002\r003\r");
}

TEST_F(RunSerial, SilentPortTimesOutQuickly) {
  const QString port = startUnit({.silent = true});
  const Result r = runTool({"--mode", "1", "--port", port, "--channels", "1", "--timeout", "0.5"});
  EXPECT_EQ(r.code, 5);
  EXPECT_EQ(reasonOf(r.err), QStringLiteral("kestrel-run: no answer from the unit on %1 within 0.5 s\n").arg(port));
  EXPECT_LT(r.ms, 5000);
  EXPECT_EQ(r.out, QStringList{kEnq});
}

TEST_F(RunSerial, BadChannelGetsTheWindowsMessage) {
  Result r = runTool({"--mode", "1", "--port", "/dev/null", "--channels", "1,300"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "kestrel-run: --channels: box 2 ('300'): チャンネル番号は１～２５５までの範囲で入力して下さい。\n");
  // Empty entries close up, as the window moves filled boxes up.
  r = runTool({"--mode", "17", "--channels", "1,,,x"});
  EXPECT_EQ(r.err, "kestrel-run: --channels: box 2 ('x'): 数値を入力してください。\n");
  r = runTool({"--mode", "2", "--channels", "5", "--unit", "0"});
  EXPECT_EQ(r.err, "kestrel-run: --unit: ﾁｬﾝﾈﾙ単位は１以上の値を指定してください。\n");
}

TEST_F(RunSerial, MissingPortAndBadArguments) {
  Result r = runTool({"--mode", "1", "--port", "/dev/kestrel-no-such-port", "--channels", "1"});
  EXPECT_EQ(r.code, 3);
  EXPECT_TRUE(r.err.startsWith("kestrel-run: cannot open /dev/kestrel-no-such-port: ")) << r.err.toStdString();
  r = runTool({"--mode", "1", "--channels", "1", "--bogus"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "kestrel-run: unknown argument: --bogus (see --help)\n");
  r = runTool({"--mode", "12", "--channels", "1"});
  EXPECT_EQ(r.code, 8);
  EXPECT_TRUE(r.err.contains("cannot run headless")) << r.err.toStdString();
}

// Until the unit has the window's closing command (FFh) last, or 5 s.
bool stoppedLast(const sim::UnitSimulator& unit) {
  QElapsedTimer clock;
  clock.start();
  while (!received(unit).endsWith('\xFF')) {
    if (clock.elapsed() > 5000) return false;
    QThread::msleep(20);
  }
  return true;
}

// A long run: 255 frames of one channel each.
const QStringList kLongRun{"--mode", "1", "--channels", "auto", "--unit", "1", "--port"};

// SIGHUP (the terminal went away) and SIGTERM end a run as SIGINT does: the
// stop goes out and the exit code is SIGINT's.
class RunSignal : public RunSerial, public ::testing::WithParamInterface<int> {};

TEST_P(RunSignal, StopsTheUnitAndExitsInterrupted) {
  const QString port = startUnit({});
  QProcess p;
  p.start(QStringLiteral(KESTREL_RUN), kLongRun + QStringList{port});
  ASSERT_TRUE(p.waitForReadyRead(10000)) << "the run did not begin";
  ASSERT_EQ(::kill(pid_t(p.processId()), GetParam()), 0);
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p.exitCode(), 9);
  EXPECT_EQ(reasonOf(QString::fromUtf8(p.readAllStandardError())), "kestrel-run: interrupted\n");
  EXPECT_TRUE(stoppedLast(*unit)) << received(*unit).toHex().toStdString();
}

INSTANTIATE_TEST_SUITE_P(RunSerial, RunSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == SIGINT ? "Int" : info.param == SIGTERM ? "Term" : "Hup");
                         });

// kestrel-run ... | head -n 1: the reader goes away, the run is interrupted.
TEST_F(RunSerial, ClosedStdoutInterruptsAsSigintDoes) {
  const QString port = startUnit({});
  QProcess run, head;
  run.setStandardOutputProcess(&head);
  head.start(QStringLiteral("head"), {"-n", "1"});
  run.start(QStringLiteral(KESTREL_RUN), kLongRun + QStringList{port});
  ASSERT_TRUE(head.waitForFinished(10000));
  EXPECT_EQ(head.readAllStandardOutput(), "[送信]：ENQ(05h)\n");
  ASSERT_TRUE(run.waitForFinished(10000));
  EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(run.exitCode(), 9);
  EXPECT_EQ(reasonOf(QString::fromUtf8(run.readAllStandardError())), "kestrel-run: interrupted: stdout was closed\n");
  EXPECT_TRUE(stoppedLast(*unit)) << received(*unit).toHex().toStdString();
}

// COMn goes through KESTREL_COMn, as in the windows.
TEST_F(RunSerial, PortHeldByAnotherProgramIsBusy) {
  const QString port = startUnit({});
  QProcess holder;
  holder.start(QStringLiteral(HOLD_PORT), {port});
  ASSERT_TRUE(holder.waitForReadyRead(5000));
  ASSERT_EQ(holder.readLine().trimmed(), QByteArray("held"));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("KESTREL_COM3", port);
  const Result r = runTool({"--mode", "1", "--port", "com3", "--channels", "1"}, env);
  EXPECT_EQ(r.code, 4);
  EXPECT_EQ(reasonOf(r.err), QStringLiteral("kestrel-run: port busy: COM3 (%1) is held by another program\n").arg(port));
  holder.closeWriteChannel();
  holder.waitForFinished();
}

TEST_F(RunSerial, JsonLinesCarryTimeKindAndText) {
  const QString port = startUnit({});
  const Result r = runTool({"--mode", "1", "--port", port, "--channels", "9", "--json"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  // The log lines, then what became of the run's record, then its result.
  ASSERT_EQ(r.out.size(), 9);
  EXPECT_EQ(QJsonDocument::fromJson(r.out[7].toUtf8()).object()["kind"].toString(), "stored");
  EXPECT_EQ(QJsonDocument::fromJson(r.out.last().toUtf8()).object()["kind"].toString(), "result");
  static const QRegularExpression stamp("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$");
  QStringList kinds, texts;
  for (const QString& line : r.out.mid(0, 7)) {
    ASSERT_TRUE(line.startsWith("{\"t\":\"")) << line.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
    EXPECT_TRUE(stamp.match(o["t"].toString()).hasMatch()) << line.toStdString();
    kinds << o["kind"].toString();
    texts << o["text"].toString();
  }
  EXPECT_EQ(kinds, (QStringList{"sent", "received", "sent", "sent", "sent", "sent", "received"}));
  EXPECT_EQ(texts[3], "[送信]：009");
}

TEST_F(RunSerial, HsModesSendAFramePerAck) {
  for (const char* mode : {"9", "10"}) {
    const QString port = startUnit({.protocol = "hs4142"});
    const Result r = runTool({"--mode", mode, "--port", port, "--channels", "1,2,20", "--unit", "2"});
    ASSERT_EQ(r.code, 0) << mode << r.err.toStdString();
    EXPECT_EQ(r.out, (QStringList{kEnq, kAck, "[送信]：STX(02h)+001,002+ETX(03h)+BCC(0h)", kAck,
                                  "[送信]：STX(02h)+020+ETX(03h)+BCC(31h)", kAck}));
    EXPECT_EQ(received(*unit), "\x05" + frame("001002") + frame("020"));
  }
  const QString port = startUnit({.protocol = "hs4142", .nakEvery = 1});
  const Result r = runTool({"--mode", "9", "--port", port, "--channels", "1"});
  EXPECT_EQ(r.code, 6);
  EXPECT_EQ(reasonOf(r.err), "kestrel-run: the unit refused: [受信]：NAK(15h)\n");
}

TEST_F(RunSerial, CustomerListIsTakenPlayedAndItsEndAcknowledged) {
  const QString port = startUnit({.protocol = "customer"});
  const Result r = runTool({"--mode", "11", "--port", port, "--channels", "1,2,20"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out.mid(1, 3), (QStringList{"10h02h43h33h", "30h31h30h32h31h34h", "10h03h65h"}));
  EXPECT_EQ(r.out.mid(4), (QStringList{QStringLiteral("受信") + QString(82, u'-'), "10h06h00h",
                                       QStringLiteral("受信") + QString(82, u'-'), "10h02h39h10h03h2Ah",
                                       QStringLiteral("送信") + QString(79, u'-'), "10h06h00h"}));
  ASSERT_TRUE(unit->waitForBytes(13 + 3, 2000ms));
  EXPECT_EQ(received(*unit).right(3), QByteArray("\x10\x06\x00", 3));

  // More than 30 channels: the window sends them, the unit refuses the list.
  const QString port2 = startUnit({.protocol = "customer"});
  QStringList many;
  for (int c = 1; c <= 31; ++c) many << QString::number(c);
  const Result refused = runTool({"--mode", "11", "--port", port2, "--channels", many.join(u',')});
  EXPECT_EQ(refused.code, 6);
  EXPECT_EQ(reasonOf(refused.err), "kestrel-run: the unit refused: 10h15h00h\n");
  EXPECT_EQ(runTool({"--mode", "11", "--channels", "1", "--unit", "2"}).err,
            "kestrel-run: --unit: mode 11 has no channel unit\n");
}

TEST_F(RunSerial, Plx6FramesPacedByReady) {
  const QString ready = "[受信]：STX+【Ready】+BCC(02h52h65h61h64h79h03h48h)";
  QString port = startUnit({.protocol = "plx6"});
  Result r = runTool({"--mode", "17", "--port", port, "--channels", "1,2,255", "--unit", "2"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, (QStringList{"[送信]：DLE(10h)+ENQ(05h)", "[受信]：DLE+ACK(10h06h)", ready, "[送信]：STX(02h)",
                                "[送信]：01h,02h", "[送信]：ETX(03h)", "[送信]：BCC(00h)", ready, "[送信]：STX(02h)",
                                "[送信]：FFh", "[送信]：ETX(03h)", "[送信]：BCC(03h)", ready}));
  port = startUnit({.protocol = "plx6", .trapAfter = 1});
  r = runTool({"--mode", "17", "--port", port, "--channels", "1,2,255", "--unit", "2"});
  EXPECT_EQ(r.code, 6);
  EXPECT_EQ(reasonOf(r.err), "kestrel-run: the unit refused: [受信]：STX+【Trap 】+BCC(02h54h72h61h70h20h03h14h)\n");
}

// Modes 4 and 7 against a unit holding a schedule, mode 8 against one that
// records the frames.
class RunCustomer : public RunSerial {
 protected:
  // Channel 1 carries a CP932 field (東京); channel 3 is in neither table.
  QString schedule(const QByteArray& lines = "1,A,B,C,D,\x93\x8c\x8b\x9e\r\n2,10,20,30,40,50\r\n") {
    const QString path = dir.filePath(QStringLiteral("route.wmj"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("#0\r\nheader\r\n#2\r\n" + lines + "#3\r\n1,note\r\n");
    return path;
  }
  QString fenwick(sim::Options options = {}) {
    options.protocol = "fenwick";
    options.schedule = schedule().toStdString();
    return startUnit(options);
  }
  QString frames(const QByteArray& lines) {
    const QString path = dir.filePath(QStringLiteral("frames.dat"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(lines);
    return path;
  }
  QTemporaryDir dir;
};

const QString kReceiving = QStringLiteral("【情報】：データ受信中 >>>>>>");
const QString kReceived = QStringLiteral("【情報】：受信を完了しました。受信データの解析を開始します >>>>>>");
const QString kAllOk = QStringLiteral("【判定】：正常にデータを受信しました ******");

QStringList requestLines(const QString& digits, const QString& bcc) {
  return {QStringLiteral("【送信】：応答要求(05h)"), QStringLiteral("【受信】：正常応答(06h) "),
          QStringLiteral("【送信】：STX(02h)"),     QStringLiteral("【送信】：CMD(20h)"),
          QStringLiteral("【送信】：") + digits,    QStringLiteral("【送信】：ETX(03h)"),
          QStringLiteral("【送信】：BCC(%1h)").arg(bcc)};
}

TEST_F(RunCustomer, ScheduleReadBackMatches) {
  QString port = fenwick();
  Result r = runTool({"--mode", "7", "--port", port, "--channels", "auto", "--schedule", schedule(),
                      "--access-code", "k7mq2xw9"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(reasonOf(r.err), QString());
  QStringList expected = requestLines("000", "13") + QStringList{kReceiving, kReceived,
                                                                 QStringLiteral("【OK】：001,A,B,C,D,東京"),
                                                                 QStringLiteral("【OK】：002,10,20,30,40,50")};
  for (int c = 3; c <= 255; ++c)
    expected << QStringLiteral("【OK】：CH番号 %1 取得できませんでした。").arg(c, 3, 10, QLatin1Char('0'));
  expected << kAllOk << QString();
  EXPECT_EQ(r.text, expected.join(u'\n') + u'\n');
  EXPECT_EQ(received(*unit), "\x05" + frame("\x20" "000"));

  // The 1000-channel window asks for a range; the blue lines are info.
  port = fenwick();
  r = runTool({"--mode", "4", "--port", port, "--channels", "2,3", "--schedule", schedule(), "--access-code",
               "k7mq2xw9", "--json"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  QStringList kinds, texts;
  const QJsonObject result = QJsonDocument::fromJson(r.out.last().toUtf8()).object();
  EXPECT_EQ(result["kind"].toString(), "result");
  EXPECT_EQ(result["judged_ok"].toInt(), 2);
  EXPECT_EQ(QJsonDocument::fromJson(r.out.value(r.out.size() - 2).toUtf8()).object()["kind"].toString(), "stored");
  for (const QString& line : r.out.mid(0, r.out.size() - 2)) {
    const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
    kinds << o["kind"].toString();
    texts << o["text"].toString();
  }
  const QStringList judged{kReceiving, kReceived, "【OK】：002,10,20,30,40,50", "【OK】：CH番号 003 取得できませんでした。",
                           kAllOk, ""};
  EXPECT_EQ(texts, requestLines("00020003", "22") + judged);
  // The judged channels are lines of their own kind, not sent ones.
  EXPECT_EQ(kinds, (QStringList{"sent", "received", "sent", "sent", "sent", "sent", "sent", "info", "info",
                                "judged-ok", "judged-ok", "info", "sent"}));
  EXPECT_EQ(received(*unit), "\x05" + frame("\x20" "00020003"));
}

TEST_F(RunCustomer, ScheduleMismatchRefusalAndSilence) {
  const QStringList args{"--channels", "1", "--schedule", schedule(), "--access-code", "k7mq2xw9", "--port"};
  Result r = runTool(QStringList{"--mode", "7"} + args + QStringList{fenwick({.changeFields = {{1, 5, "X"}}})});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(reasonOf(r.err), "kestrel-run: 受信データに異常があります。確認して下さい。 (NG 1 of 1: 001)\n");
  EXPECT_EQ(r.out.mid(9), (QStringList{"【NG】：001,A,B,C,D,X", "【判定】：受信データに異常があります。確認して下さい ******"}));

  r = runTool(QStringList{"--mode", "7"} + args + QStringList{fenwick({.nakEvery = 1})});
  EXPECT_EQ(r.code, 6);
  EXPECT_EQ(reasonOf(r.err), "kestrel-run: the unit refused: 【受信】：NAK(15h)\n");
  EXPECT_EQ(r.out.mid(7), QStringList{"【受信】：NAK(15h)"});

  // A reply without its STX: the window's own time-out line, then exit 5.
  const QString port = fenwick({.dropStx = true});
  r = runTool(QStringList{"--mode", "7", "--timeout", "0.5"} + args + QStringList{port});
  EXPECT_EQ(r.code, 5);
  EXPECT_EQ(reasonOf(r.err), QStringLiteral("kestrel-run: no answer from the unit on %1 within 0.5 s\n").arg(port));
  EXPECT_EQ(r.out.mid(7), QStringList{"【情報】：タイムアウトエラー　通信が完了できませんでした。 >>>>>>"});
}

TEST_F(RunCustomer, ScheduleAndChannelsCheckedAsTheWindowDoes) {
  const auto refusal = [](const QString& mode, const QString& channels, const QString& path) {
    const Result r = runTool({"--mode", mode, "--port", "/dev/null", "--channels", channels, "--schedule", path,
                              "--access-code", "k7mq2xw9"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.out.isEmpty());
    return r.err;
  };
  const QString path = schedule();
  EXPECT_EQ(refusal("7", "auto", dir.filePath("missing.wmj")),
            "kestrel-run: --schedule: スケジュールファイルの存在するカードデータフォルダを指定して下さい。\n");
  EXPECT_EQ(refusal("7", "256", path), "kestrel-run: ＣＨ番号は１～２５５までの数値を入力して下さい。\n");
  EXPECT_EQ(refusal("4", "5", path), "kestrel-run: 送信するＣＨ番号を指定して下さい。\n");
  EXPECT_EQ(refusal("4", "1,x", path), "kestrel-run: ＣＨ番号の値が不正です。確認して下さい。\n");
  // The window would send it and pass having judged nothing.
  EXPECT_EQ(refusal("4", "3,1", path),
            "kestrel-run: --channels: start 3 is above end 1, so no channel would be judged\n");
  // A file the window cannot read is found only as 送信 reads it.
  const QString port = fenwick();
  const Result r = runTool({"--mode", "7", "--port", port, "--channels", "auto", "--schedule",
                            schedule("1,too,few,commas\r\n"), "--access-code", "k7mq2xw9"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(reasonOf(r.err), "kestrel-run: --schedule: スケジュールファイルの取得に失敗しました。\n");
  EXPECT_TRUE(r.out.isEmpty());
}

TEST_F(RunCustomer, FrameTableSentAsTheWindowSends) {
  const QString table = frames("1,5\r\n16,123\r\n11,42\r\n");
  startUnit({.protocol = "brisk"});
  Result r = runTool({"--mode", "8", "--port", QString::fromStdString(unit->slavePath()), "--frames", table,
                      "--pause-ms", "0", "--access-code", "v4tr8"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, (QStringList{"[送信]：@0005 + CR(0Dh)", "[送信]：@?123 + CR(0Dh)", "[送信]：@:042 + CR(0Dh)",
                                "3フレーム分送信完了しました　 "}));
  ASSERT_TRUE(unit->waitForBytes(17, 2000ms));
  EXPECT_EQ(received(*unit), "@0005\r@?123\r@:042\r");

  // Chosen rows, each as １フレーム送信, four digits, the pause after each.
  startUnit({.protocol = "brisk"});
  r = runTool({"--mode", "8", "--port", QString::fromStdString(unit->slavePath()), "--frames", table, "--rows",
               "3,1", "--digits", "4", "--pause-ms", "200", "--access-code", "v4tr8"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, (QStringList{"[送信]：@:0042 + CR(0Dh)", "[送信]：@00005 + CR(0Dh)"}));
  ASSERT_TRUE(unit->waitForBytes(14, 2000ms));
  EXPECT_EQ(received(*unit), "@:0042\r@00005\r");
  const auto arrivals = unit->arrivals();
  EXPECT_GE(arrivals.back().at - arrivals.front().at, 180ms);
}

TEST_F(RunCustomer, FrameTableRefusals) {
  startUnit({.protocol = "brisk"});
  const QString port = QString::fromStdString(unit->slavePath());
  const auto run = [&](const QString& table, QStringList more = {}) {
    return runTool(QStringList{"--mode", "8", "--port", port, "--frames", table, "--access-code", "v4tr8"} + more);
  };
  const QString missing = dir.filePath("none.dat");
  Result r = run(missing);
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(reasonOf(r.err), QStringLiteral("kestrel-run: --frames %1: 読込むファイルが見つかりませんでした  \n").arg(missing));
  // Every frame is checked before the first goes out.
  const QString table = frames("1,5\r\n17,5\r\n");
  r = run(table);
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(reasonOf(r.err), "kestrel-run: row 2: イベント情報は1から16の数値を入力してください  \n");
  r = run(table, {"--rows", "3"});
  EXPECT_EQ(reasonOf(r.err), "kestrel-run: row 3: 空欄が含まれている為送信できません  \n");
  EXPECT_TRUE(r.out.isEmpty());
  EXPECT_EQ(received(*unit), QByteArray());
  // Entry 8 is behind the second access code.
  r = runTool({"--mode", "8", "--frames", table, "--access-code", "k7mq2xw9"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "kestrel-run: --access-code: パスワードが違います。確認して下さい。\n");
}

// Binary modes: the expansion board behind the USB driver stand-in.
class RunBinary : public ::testing::Test {
 protected:
  // `driver`: a [driver] section's lines for the USB driver stand-in.
  QProcessEnvironment board(const char* protocol, const char* logic, int playMs = 0, const QString& driver = {}) {
    const QString ini = dir.filePath(QStringLiteral("board.ini"));
    QFile f(ini);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QStringLiteral("[board]\nserial = EXP00001\nproduct = 3aa4096d-2cc0-46dd-878a-88511d75ac78 1\n"
                           "version_word = 0x00030201\nbinary_unit = %1\nbinary_logic = %2\nbinary_play_ms = %3\n")
                .arg(protocol, logic)
                .arg(playMs)
                .toUtf8());
    if (!driver.isEmpty()) f.write(("[driver]\n" + driver + "\n").toUtf8());
    f.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("CORVEX_FTD2XX", STAND_IN_FTD2XX);
    env.insert("FTSIM_CONFIG", ini);
    env.insert("LD_LIBRARY_PATH", QFileInfo(QStringLiteral(REAL_WEXFORD)).absolutePath());
    return env;
  }
  QTemporaryDir dir;
};

TEST_F(RunBinary, TarnManualListOverUsb) {
  const Result r = runTool({"--mode", "19", "--channels", "1,1000,300", "--strobe-ms", "0"}, board("B", "negative"));
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, (QStringList{"[送信]：0001[0 1]", "[送信]：1000[3 E8]", "[送信]：0300[1 2C]"}));
}

TEST_F(RunBinary, BufferedBinaryRepeatsThatManyTimes) {
  const Result r = runTool({"--mode", "13", "--channels", "1,2", "--repeat", "2"}, board("C", "negative"));
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const QStringList pass{"[送信]：001 + OP信号", "[送信]：002 + OP信号"};
  EXPECT_EQ(r.out, pass + pass);
}

TEST_F(RunBinary, BusyUnitTimesOutAndIsStopped) {
  const Result r = runTool({"--mode", "16", "--channels", "1,2", "--strobe-ms", "0", "--timeout", "1"},
                           board("A", "negative", 60000));
  EXPECT_EQ(r.code, 5);
  EXPECT_EQ(reasonOf(r.err), "kestrel-run: the unit stayed busy for 1 s\n");
  EXPECT_EQ(r.out, (QStringList{"[送信]：001", "[送信]：STOP信号"}));
}

// The board unplugged mid-run (every USB write failing from some point on):
// the run stops at that channel with the window's line and the board code.
struct Unplugged {
  const char* mode;
  const char* protocol;
  QStringList channels;  // the log lines of the whole list
};

class RunUnplugged : public RunBinary, public ::testing::WithParamInterface<Unplugged> {};

TEST_P(RunUnplugged, EndsWithTheBoardCode) {
  const Unplugged& c = GetParam();
  QStringList list;
  for (int n = 1; n <= c.channels.size(); ++n) list << QString::number(n);
  // Past the writes that open and initialise the board, well short of the list's.
  QStringList args{"--mode", c.mode, "--channels", list.join(u',')};
  if (QByteArray(c.protocol) != "C") args << "--strobe-ms" << "0";
  const Result r = runTool(args, board(c.protocol, "negative", 0, QStringLiteral("unplug_after_writes = 60")));
  EXPECT_EQ(r.code, 7) << r.err.toStdString();
  EXPECT_TRUE(r.err.startsWith(QStringLiteral("kestrel-run: board lost: デバイスへの接続に失敗しました。 (WXF_")))
      << r.err.toStdString();
  ASSERT_GE(r.out.size(), 2);
  EXPECT_EQ(r.out.last(), "デバイスへの接続に失敗しました。");
  const QStringList sent = r.out.mid(0, r.out.size() - 1);
  EXPECT_LT(sent.size(), c.channels.size()) << "the run stopped at the channel that failed";
  EXPECT_EQ(sent, c.channels.mid(0, sent.size()));
}

QStringList numbered(int count, const QString& pattern, int width) {
  QStringList out;
  for (int n = 1; n <= count; ++n) out << pattern.arg(n, width, 10, QLatin1Char('0'));
  return out;
}

QStringList tarnLines(int count) {
  QStringList out;
  for (int n = 1; n <= count; ++n)
    out << QStringLiteral("[送信]：%1[%2 %3]")
               .arg(n, 4, 10, QLatin1Char('0'))
               .arg(QString::number(n >> 8, 16).toUpper(), QString::number(n & 0xFF, 16).toUpper());
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    RunBinary, RunUnplugged,
    ::testing::Values(Unplugged{"13", "C", numbered(20, QStringLiteral("[送信]：%1 + OP信号"), 3)},
                      Unplugged{"16", "A", numbered(20, QStringLiteral("[送信]：%1"), 3)},
                      Unplugged{"19", "B", tarnLines(40)}),
    [](const ::testing::TestParamInfo<Unplugged>& info) { return std::string("Mode") + info.param.mode; });

TEST_F(RunBinary, StrobeWidthCheckedAsTheWindowDoes) {
  // A board is there all the same: a check that let the run through must not search the LAN.
  const Result r = runTool({"--mode", "18", "--channels", "1", "--strobe-ms", "600"}, board("B", "positive"));
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "kestrel-run: タイミング時間の値は0～500msの範囲で入力して下さい。\n");
}

// With no expansion board on USB the library searches the LAN: only ever
// where loopback is the only interface, here already or in a network
// namespace of the test's own.
QStringList isolatedNetwork() {
  QStringList interfaces;
  if (struct if_nameindex* names = ::if_nameindex()) {
    for (struct if_nameindex* n = names; n->if_index != 0; ++n) interfaces << QString::fromLocal8Bit(n->if_name);
    ::if_freenameindex(names);
  }
  if (interfaces == QStringList{"lo"}) return {};
  for (const QStringList& command : {QStringList{"unshare", "--net"},
                                     QStringList{"unshare", "--net", "--user", "--map-root-user"}}) {
    QProcess probe;
    probe.start(command.first(), command.mid(1) + QStringList{"true"});
    if (probe.waitForFinished(5000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
      return command;
  }
  return {QString()};
}

TEST_F(RunBinary, NoBoardIsReported) {
  const QStringList prefix = isolatedNetwork();
  if (prefix == QStringList{QString()}) GTEST_SKIP() << "no network namespace for the LAN search";
  QProcessEnvironment env = board("B", "negative");
  QFile f(env.value("FTSIM_CONFIG"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write("[board]\nserial = PLAIN\n");
  f.close();
  const Result r = runTool({"--mode", "18", "--channels", "1"}, env, QStringLiteral(KESTREL_RUN), prefix);
  EXPECT_EQ(r.code, 7);
  EXPECT_EQ(reasonOf(r.err), "kestrel-run: board not found: デバイスへの接続に失敗しました。\n");
  EXPECT_TRUE(r.out.isEmpty());
}

// The run's result record with --json: the last line, after the one saying
// what became of the run's record in the results store.
QJsonObject resultOf(const Result& r) {
  if (r.out.size() < 2) return {};
  EXPECT_EQ(QJsonDocument::fromJson(r.out[r.out.size() - 2].toUtf8()).object()["kind"].toString(), "stored")
      << r.out[r.out.size() - 2].toStdString();
  const QString line = r.out.last();
  const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
  EXPECT_EQ(o["kind"].toString(), "result") << line.toStdString();
  return o;
}

// The last line of stderr.
QString summaryOf(const Result& r) {
  const QStringList lines = r.err.split(u'\n', Qt::SkipEmptyParts);
  return lines.isEmpty() ? QString() : lines.last();
}

// Answer times measured from a unit that takes its time.
class RunMeasured : public RunSerial {
 protected:
  QString startTimedUnit(sim::Options options) {
    unit = std::make_unique<sim::UnitSimulator>(options);
    unit->start();
    return QString::fromStdString(unit->slavePath());
  }
};

TEST_F(RunMeasured, AnswerTimesAreTheUnitsDelayAndALimitFailsTheRun) {
  const QString port = startTimedUnit({.answerDelay = 20ms});
  const QStringList args{"--mode", "1", "--port", port, "--channels", "1,2,3", "--unit", "1", "--json", "--dut", "SN42"};
  Result r = runTool(args);
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  QJsonObject result = resultOf(r);
  const QJsonObject answers = result["answer_ms"].toObject();
  // ENQ and three frames, each answered once.
  EXPECT_EQ(answers["count"].toInt(), 4);
  EXPECT_EQ(answers["samples"].toArray().size(), 4);
  EXPECT_GE(answers["median"].toDouble(), 18);
  EXPECT_LE(answers["median"].toDouble(), 35);
  EXPECT_EQ(result["verdict"].toString(), "pass");
  EXPECT_EQ(result["exit_code"].toInt(), 0);
  EXPECT_EQ(result["dut"].toString(), "SN42");
  EXPECT_EQ(result["port"].toString(), port);
  EXPECT_EQ(result["mode"].toInt(), 1);
  EXPECT_EQ(result["frames"].toInt(), 4);
  EXPECT_EQ(result["acks"].toInt(), 4);
  EXPECT_EQ(result["sent"].toInt(), 3);
  EXPECT_TRUE(result["limits"].toObject()["answer_ms"].isNull());
  EXPECT_TRUE(summaryOf(r).startsWith("kestrel-run: PASS mode 1 dut SN42: 3 channels sent; frames 4 · ACK 4 NAK 0 "))
      << r.err.toStdString();

  r = runTool(args + QStringList{"--limit", "answer-ms=5"});
  EXPECT_EQ(r.code, 1);
  result = resultOf(r);
  const double slowest = result["answer_ms"].toObject()["max"].toDouble();
  EXPECT_GE(slowest, 18);
  const QString reason = QStringLiteral("answer time %1 ms over the limit of 5.0 ms").arg(slowest, 0, 'f', 1);
  EXPECT_EQ(reasonOf(r.err), QStringLiteral("kestrel-run: %1\n").arg(reason));
  EXPECT_EQ(result["verdict"].toString(), "fail");
  EXPECT_EQ(result["reason"].toString(), reason);
  EXPECT_EQ(result["exit_code"].toInt(), 1);
  EXPECT_EQ(result["limits"].toObject()["answer_ms"].toDouble(), 5);
  EXPECT_TRUE(summaryOf(r).startsWith("kestrel-run: FAIL (exit 1) mode 1 dut SN42: 3 channels sent;"));
}

// Every NAK of a serial unit is its refusal: the run ends refused (exit 6)
// before any limit is looked at, so a NAK limit holds only for runs with
// none, where it passes.
TEST_F(RunMeasured, NakLimitComesAfterTheRefusal) {
  QString port = startUnit({.nakEvery = 2});
  Result r = runTool({"--mode", "1", "--port", port, "--channels", "1,2,3", "--unit", "1", "--limit", "naks=0",
                      "--json"});
  EXPECT_EQ(r.code, 6);
  EXPECT_EQ(reasonOf(r.err), "kestrel-run: the unit refused: [受信]：NAK(15h)\n");
  QJsonObject result = resultOf(r);
  EXPECT_EQ(result["naks"].toInt(), 1);
  EXPECT_EQ(result["refusals"].toInt(), 1);
  EXPECT_EQ(result["reason"].toString(), "the unit refused: [受信]：NAK(15h)");
  EXPECT_EQ(result["exit_code"].toInt(), 6);

  port = startUnit({});
  r = runTool({"--mode", "1", "--port", port, "--channels", "1,2,3", "--unit", "1", "--limit", "naks=0", "--json"});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  result = resultOf(r);
  EXPECT_EQ(result["naks"].toInt(), 0);
  EXPECT_EQ(result["limits"].toObject()["naks"].toInt(), 0);
}

// A port that goes away mid-run is an error line; a judged channel is not a sent one.
TEST_F(RunMeasured, LineKindsForALostPortAndAJudgedChannel) {
  const QString port = startUnit({});
  QProcess p;
  p.start(QStringLiteral(KESTREL_RUN), QStringList{"--json"} + kLongRun + QStringList{port});
  ASSERT_TRUE(p.waitForReadyRead(10000)) << "the run did not begin";
  unit.reset();  // the far end of the line disappears
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitCode(), 3);
  const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
  // A write caught in flight as the line went may fail after it, with a line of its own.
  const auto lostLine = std::find_if(lines.begin(), lines.end(), [](const QString& line) {
    return QJsonDocument::fromJson(line.toUtf8())
        .object()["text"]
        .toString()
        .startsWith(QStringLiteral("[エラー]：通信ポートが切断されました"));
  });
  ASSERT_NE(lostLine, lines.end()) << lines.join('\n').toStdString();
  ASSERT_GE(lines.end() - lostLine, 3);
  for (auto line = lostLine; line + 2 != lines.end(); ++line)
    EXPECT_EQ(QJsonDocument::fromJson(line->toUtf8()).object()["kind"].toString(), "error") << line->toStdString();
  EXPECT_EQ(QJsonDocument::fromJson(lines[lines.size() - 2].toUtf8()).object()["kind"].toString(), "stored");
  EXPECT_EQ(QJsonDocument::fromJson(lines.back().toUtf8()).object()["kind"].toString(), "result");
}

TEST_F(RunMeasured, VersionAndBadLimits) {
  Result r = runTool({"--version"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.text, QStringLiteral("kestrel-run %1\n").arg(KESTREL_VERSION));
  EXPECT_EQ(r.err, QString());
  for (const auto& [limit, message] :
       {std::pair{"answer-ms=fast", "limit answer-ms: 'fast' is not a number of 0 or more"},
        std::pair{"naks=1.5", "limit naks: '1.5' is not a whole number"},
        std::pair{"speed=3", "unknown limit 'speed' (answer-ms, naks, busy-ms, judged)"}}) {
    r = runTool({"--mode", "1", "--channels", "1", "--limit", limit});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, QStringLiteral("kestrel-run: %1\n").arg(message));
  }
}

// Where each COM number goes and why, then the machine's ports.
TEST_F(RunMeasured, ListPortsSaysWhereEachNumberGoes) {
  QTemporaryDir config;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_CONFIG_HOME", config.path());  // nothing chosen on the settings screen
  env.remove("KESTREL_COM1");
  env.insert("KESTREL_COM3", "/dev/kestrel-test");
  const Result r = runTool({"--list-ports"}, env);
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.err, QString());
  const QStringList lines = r.text.split(u'\n');
  ASSERT_GE(lines.size(), 9);
  EXPECT_EQ(lines[0], QStringLiteral("COM1\t/dev/ttyS0\t(default)"));
  EXPECT_EQ(lines[2], QStringLiteral("COM3\t/dev/kestrel-test\t(KESTREL_COM3)"));
  for (const QString& line : lines.mid(8, lines.size() - 9)) EXPECT_TRUE(line.startsWith(u"/dev/")) << line.toStdString();
  EXPECT_EQ(lines.back(), QString());
}

TEST_F(RunBinary, BusyTimeIsTheUnitsPlaybackAndItsLimit) {
  const QStringList args{"--mode", "16", "--channels", "1,2,3", "--strobe-ms", "0", "--json"};
  Result r = runTool(args, board("A", "negative", 300));
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  QJsonObject result = resultOf(r);
  const QJsonObject busy = result["busy_ms"].toObject();
  // The run completes with the last channel strobed: it is left to play.
  EXPECT_EQ(busy["count"].toInt(), 2);
  // The window reads the busy line every 100 ms.
  EXPECT_GE(busy["min"].toDouble(), 280);
  EXPECT_LE(busy["max"].toDouble(), 700);
  EXPECT_GT(result["busy_waits"].toInt(), 0);
  EXPECT_TRUE(result["port"].isNull());

  r = runTool(args + QStringList{"--limit", "busy-ms=100"}, board("A", "negative", 300));
  EXPECT_EQ(r.code, 1);
  result = resultOf(r);
  EXPECT_EQ(reasonOf(r.err), QStringLiteral("kestrel-run: busy time %1 ms over the limit of 100.0 ms\n")
                                 .arg(result["busy_ms"].toObject()["max"].toDouble(), 0, 'f', 1));
}

// Plans: serial steps against the simulated unit, a binary one over the board.
class RunPlans : public RunBinary {
 protected:
  QString write(const QString& name, const QByteArray& text) {
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
    return path;
  }
  QString startUnit(sim::Options options = {}) {
    options.answerDelay = 0ms;
    unit = std::make_unique<sim::UnitSimulator>(options);
    unit->start();
    return QString::fromStdString(unit->slavePath());
  }
  std::unique_ptr<sim::UnitSimulator> unit;
};

std::optional<QString> schemaCheck(const QString& file) { return kestrel::test::junitSchemaProblems(file, JUNIT_XSD); }

bool haveXmllint() { return !QStandardPaths::findExecutable(QStringLiteral("xmllint")).isEmpty(); }

// Mode 1 and mode 2 on the buffered unit, mode 16 on the board between them.
const QByteArray kThreeSteps = R"(name = "bench 3"
port = "COM1"
dut = "from the plan"

[limits]
answer-ms = 1000

[[step]]
name = "buffered list"
mode = 1
channels = [1, 15, 145]
unit = 2

[[step]]
name = "binary"
mode = "LUMO7Q制御モード"
channels = [1, 2]
strobe_ms = 0

[step.limits]
busy-ms = 5000

[[step]]
name = "repeat"
mode = 2
channels = "1,2"
repeat = 2
)";

TEST_F(RunPlans, ThreeStepsPassWriteJUnitAndATightLimitFailsTheRightStep) {
  if (!haveXmllint()) GTEST_SKIP() << "xmllint is not installed: the report cannot be checked against its schema";
  const QString plan = write("bench.toml", kThreeSteps);
  const QString report = dir.filePath("report.xml");
  const QProcessEnvironment env = board("A", "negative", 300);
  QString port = startUnit();
  Result r = runTool({"--plan", plan, "--port", port, "--dut", "SN42", "--junit", report}, env);
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(received(*unit), "\x05" + frame("001015") + frame("145") + "\x05" + frame("001002").repeated(2));
  const QStringList summaries = r.err.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(summaries.size(), 4) << r.err.toStdString();
  EXPECT_TRUE(summaries[0].startsWith("kestrel-run: PASS step 'buffered list' mode 1 dut SN42: 3 channels sent;"));
  EXPECT_TRUE(summaries[1].startsWith("kestrel-run: PASS step 'binary' mode 16 dut SN42: 2 channels sent;"));
  EXPECT_EQ(summaries[3], "kestrel-run: PASS plan 'bench 3': 3 of 3 steps passed, 0 skipped");
  EXPECT_EQ(schemaCheck(report), QString());
  QFile xml(report);
  ASSERT_TRUE(xml.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(xml.readAll());
  EXPECT_TRUE(text.contains(R"(<testsuite name="bench 3" tests="3" failures="0" errors="0" skipped="0" time=")"));
  EXPECT_TRUE(text.contains(R"(<property name="dut" value="SN42"/>)"));
  EXPECT_TRUE(text.contains(QStringLiteral(R"(<property name="port" value="%1"/>)").arg(port)));
  EXPECT_TRUE(text.contains(R"(<testcase name="binary" classname="bench 3.mode16" time=")"));
  EXPECT_FALSE(text.contains("<failure"));

  // Tighter than the binary unit's playback: the second step fails, the
  // third is not run.
  port = startUnit();
  r = runTool({"--plan", plan, "--port", port, "--junit", report, "--limit", "busy-ms=100"}, env);
  EXPECT_EQ(r.code, 1);
  const QStringList lines = r.err.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 5) << r.err.toStdString();
  static const QRegularExpression over("^kestrel-run: busy time (\\d+\\.\\d) ms over the limit of 100\\.0 ms$");
  const QRegularExpressionMatch m = over.match(lines[1]);
  ASSERT_TRUE(m.hasMatch()) << lines[1].toStdString();
  EXPECT_TRUE(lines[2].startsWith("kestrel-run: FAIL (exit 1) step 'binary' mode 16 dut from the plan:"));
  EXPECT_EQ(lines[3], "kestrel-run: SKIP step 'repeat' mode 2 dut from the plan: not run, as an earlier step failed");
  EXPECT_EQ(lines[4], "kestrel-run: FAIL (exit 1) plan 'bench 3': 1 of 3 steps passed, 1 skipped");
  EXPECT_EQ(received(*unit), "\x05" + frame("001015") + frame("145"));
  EXPECT_EQ(schemaCheck(report), QString());
  xml.close();
  ASSERT_TRUE(xml.open(QIODevice::ReadOnly));
  const QString failed = QString::fromUtf8(xml.readAll());
  EXPECT_TRUE(failed.contains(R"(tests="3" failures="1" errors="0" skipped="1")")) << failed.toStdString();
  EXPECT_TRUE(failed.contains(QStringLiteral(R"(<failure message="busy time %1 ms over the limit of 100.0 ms" type="failed">)")
                                  .arg(m.captured(1))))
      << failed.toStdString();
  EXPECT_TRUE(failed.contains(R"(<skipped message="not run, as an earlier step failed"/>)"));

  // Without stop_on_fail the rest still run; the exit is the first failure's.
  const QString goOn = write("go-on.toml", "stop_on_fail = false\n" + kThreeSteps);
  port = startUnit();
  r = runTool({"--plan", goOn, "--port", port, "--limit", "busy-ms=100"}, env);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.endsWith("kestrel-run: FAIL (exit 1) plan 'bench 3': 2 of 3 steps passed, 0 skipped\n"))
      << r.err.toStdString();
  EXPECT_EQ(received(*unit), "\x05" + frame("001015") + frame("145") + "\x05" + frame("001002").repeated(2));
}

TEST_F(RunPlans, AReportThatCannotBeWrittenFailsTheRun) {
  const QString port = startUnit();
  const QString report = dir.filePath("no-such-folder/report.xml");
  const Result r = runTool({"--mode", "1", "--port", port, "--channels", "1", "--junit", report});
  EXPECT_EQ(r.code, 1);
  const QStringList lines = r.err.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 2) << r.err.toStdString();
  EXPECT_TRUE(lines[0].startsWith("kestrel-run: PASS mode 1: 1 channel sent;"));
  EXPECT_TRUE(lines[1].startsWith(QStringLiteral("kestrel-run: cannot write the JUnit report %1: ").arg(report)))
      << lines[1].toStdString();
  EXPECT_FALSE(QFileInfo::exists(report));
}

struct BadPlan {
  const char* name;
  QByteArray text;
  QString message;  // after "kestrel-run: FILE:"
};

class RunBadPlan : public RunPlans, public ::testing::WithParamInterface<BadPlan> {};

TEST_P(RunBadPlan, OneLineNamingFileLineAndKey) {
  const QString plan = write("plan.toml", GetParam().text);
  const Result r = runTool({"--plan", plan});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err.toStdString(), QStringLiteral("kestrel-run: %1:%2\n").arg(plan, GetParam().message).toStdString());
  EXPECT_TRUE(r.out.isEmpty());
}

const QByteArray kStepOne = "port = \"/dev/null\"\n[[step]]\nmode = 1\nchannels = [1]\n";

INSTANTIATE_TEST_SUITE_P(
    RunPlans, RunBadPlan,
    ::testing::Values(
        BadPlan{"WrongType", kStepOne + "[[step]]\nmode = 2\nchannels = \"1\"\nrepeat = \"3\"\n",
                "8: step 2: key 'repeat': expected a whole number"},
        BadPlan{"RefusedValue", kStepOne + "[[step]]\nmode = 2\nchannels = \"1\"\nrepeat = 0\n",
                "8: step 2: key 'repeat': --repeat wants a number of passes, 1 to 32767, not '0'"},
        BadPlan{"UnknownKey", kStepOne + "chanels = [2]\n", "5: step 1: key 'chanels': unknown key"},
        BadPlan{"UnknownTopKey", "stop_on_failure = false\n" + kStepOne, "1: key 'stop_on_failure': unknown key"},
        BadPlan{"BadLimit", "[limits]\nanswer-ms = \"fast\"\n" + kStepOne,
                "2: key 'limits.answer-ms': expected a number"},
        BadPlan{"WindowsMessage", kStepOne + "[[step]]\nmode = 1\nchannels = [1, 300]\n",
                "7: step 2: key 'channels': --channels: box 2 ('300'): チャンネル番号は１～２５５までの範囲で入力して下さい。"},
        BadPlan{"UnknownMode", "[[step]]\nmode = \"no such entry\"\nchannels = [1]\n",
                "2: step 1: key 'mode': no menu entry is captioned 'no such entry'"},
        BadPlan{"NoSteps", "port = \"/dev/null\"\n", "1: the plan has no [[step]]"},
        BadPlan{"Syntax", "port = \"/dev/null\n",
                "1: Error while parsing string: unescaped control characters other than TAB (U+0009) are explicitly "
                "prohibited"}),
    [](const ::testing::TestParamInfo<BadPlan>& info) { return std::string(info.param.name); });

TEST_F(RunPlans, PlanTooLargeOrStepOptionsBeside) {
  const QString big = write("big.toml", QByteArray(2 << 20, '#'));
  Result r = runTool({"--plan", big});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, QStringLiteral("kestrel-run: %1: a plan larger than 1048576 bytes is refused\n").arg(big));
  r = runTool({"--plan", big, "--mode", "1"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err,
            "kestrel-run: --mode: with --plan the steps set it; the command line sets only --port, --dut, --limit, "
            "--junit and --json\n");
}

// Every plan in examples/plans against the unit it is written for.
struct Example {
  const char* file;
  const char* protocol;  // the simulated serial unit; nullptr: the board's binary unit
};

class RunExamples : public RunPlans, public ::testing::WithParamInterface<Example> {};

TEST_P(RunExamples, PassAgainstTheSimulatedUnits) {
  const Example& e = GetParam();
  const QString plan = QDir(EXAMPLE_PLANS).filePath(e.file);
  const QString report = dir.filePath("report.xml");
  QStringList args{"--plan", plan, "--junit", report};
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  if (e.protocol) {
    sim::Options o{.protocol = e.protocol};
    if (o.protocol == "fenwick") o.schedule = QDir(EXAMPLE_PLANS).filePath("route.wmj").toStdString();
    args << "--port" << startUnit(o);
  } else {
    env = board("A", "negative", 50);
  }
  const Result r = runTool(args, env);
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(summaryOf(r).startsWith("kestrel-run: PASS plan ")) << r.err.toStdString();
  if (haveXmllint()) {
    EXPECT_EQ(schemaCheck(report), QString());
  }
}

const Example kExamples[] = {{"buffered.toml", "buffered"}, {"mode1.toml", "mode1"},   {"hs4142.toml", "hs4142"},
                             {"customer.toml", "customer"}, {"plx6.toml", "plx6"},     {"schedule.toml", "fenwick"},
                             {"binary.toml", nullptr}};

INSTANTIATE_TEST_SUITE_P(RunPlans, RunExamples, ::testing::ValuesIn(kExamples),
                         [](const ::testing::TestParamInfo<Example>& info) {
                           return QFileInfo(info.param.file).baseName().toStdString();
                         });

TEST(RunExampleList, EveryExamplePlanIsRun) {
  QStringList tested;
  for (const Example& e : kExamples) tested << e.file;
  tested.sort();
  EXPECT_EQ(QDir(EXAMPLE_PLANS).entryList({"*.toml"}, QDir::Files, QDir::Name), tested);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  // Every run keeps its record; the runs here keep theirs in a folder of the
  // test's own, never in the user's data folder.
  QTemporaryDir data;
  qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
  qunsetenv("KESTREL_RESULTS");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
