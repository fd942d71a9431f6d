#include "sessions/FenwickSession.h"

#include "core/Bcc.h"
#include "core/ChannelEntry.h"
#include "core/LinkPort.h"
#include "core/SessionEvents.h"
#include "core/Prompter.h"
#include "core/Pause.h"

#include <QFile>

namespace kestrel {

const FenwickVariant kFenwick{QStringLiteral("交通局向け自動放送用シリアル通信"), 255, false,
                              QStringLiteral("ＣＨ番号は１～２５５までの数値を入力して下さい。")};
const FenwickVariant kFenwick1000{QStringLiteral("交通局向け(1000CH)自動放送用シリアル通信"), 1000, true,
                                  QStringLiteral("ＣＨ番号は1～1000までの数値を入力して下さい。")};

FenwickSession::FenwickSession(const FenwickVariant& variant, SessionTimer& timer, Prompter& prompter, LinkPort& link,
                               SessionEvents& log, Pause& pause)
    : SerialSession(link, log, pause), variant_(variant), timer_(timer), prompter_(prompter) {
  InitForm();
}

void FenwickSession::InitForm() {
  FileTable = emptySchedule(variant_.maxChannel);
  UnitTable = emptySchedule(variant_.maxChannel);
  ExchangeState = Idle;
}

QByteArray FenwickSession::requestFrame(const Request& request) const {
  const QByteArray digits = variant_.range
                                ? zeroPadded(request.first, 4).toLatin1() + zeroPadded(request.last, 4).toLatin1()
                                : zeroPadded(request.all ? 0 : request.first, 3).toLatin1();
  char bcc = 0x20 ^ 0x03;
  for (const char c : digits) bcc ^= c;
  return "\x02\x20" + digits + '\x03' + bcc;
}

bool FenwickSession::Start(const QString& scheduleFile, const Request& request) {
  FileTable = emptySchedule(variant_.maxChannel);
  UnitTable = emptySchedule(variant_.maxChannel);
  if (!readScheduleFile(scheduleFile, FileTable)) {
    prompter_.ask(QStringLiteral("スケジュールファイルの取得に失敗しました。"), MsgIcon::Critical);
    return false;
  }
  Asked = request;
  ReplyBuffer.clear();
  RunningCheck = 0;
  runStarted({});
  if (sendFrame(QByteArray(1, char(kEnq)), QStringLiteral("【送信】：応答要求(05h)"))) ExchangeState = AwaitAck;
  return true;
}

void FenwickSession::OnComm(int event) {
  if (event != LinkPort::kEventReceive) return;
  const std::optional<quint8> read = readOne();
  if (!read) return;
  const quint8 b = *read;
  if (b == kAck && ExchangeState == AwaitAck) {
    onAck();
  } else if (b == kNak && ExchangeState != AwaitCheck) {
    const QString line = QStringLiteral("【受信】：NAK(15h)");
    log_.AddLog(line, LineKind::Received);
    answered(AnswerKind::Nak, QByteArray(1, char(b)));
    refused(line);
    log_.AddLog(QString());
    endExchange();
    ExchangeState = Idle;
    finished(RunOutcome::Refused, line);
  } else if (ExchangeState == AwaitStx) {
    if (b != kStx) return;
    log_.AddLog(QStringLiteral("【情報】：データ受信中 >>>>>>"), LineKind::Info);
    ExchangeState = Receiving;
    timer_.start(kReplyTimeoutMs);
  } else if (ExchangeState == Receiving) {
    RunningCheck ^= b;
    if (b == kEtx) {
      ReplyBuffer += '*';
      ExchangeState = AwaitCheck;
    } else {
      ReplyBuffer += char(b);
    }
  } else if (ExchangeState == AwaitCheck) {
    onCheckByte(b);
  }
}

void FenwickSession::onAck() {
  busy(true);
  log_.AddLog(QStringLiteral("【受信】：正常応答(06h) "), LineKind::Received);
  answered(AnswerKind::Ack, QByteArray(1, char(kAck)));
  const QByteArray frame = requestFrame(Asked);
  const QByteArray digits = frame.mid(2, frame.size() - 4);
  const quint8 bcc = quint8(frame.back());
  const bool sent = send(QByteArray(1, char(kStx)), QStringLiteral("【送信】：STX(02h)")) &&
                    send(QByteArray(1, '\x20'), QStringLiteral("【送信】：CMD(20h)")) &&
                    send(digits, QStringLiteral("【送信】：") + QString::fromLatin1(digits)) &&
                    send(QByteArray(1, char(kEtx)), QStringLiteral("【送信】：ETX(03h)")) &&
                    send(QByteArray(1, char(bcc)), QStringLiteral("【送信】：BCC(%1h)").arg(hexText(bcc)));
  if (!sent) {
    // Nothing will answer a request that did not go out.
    endExchange();
    ExchangeState = Idle;
    return;
  }
  frameSent(frame);
  ExchangeState = AwaitStx;
  timer_.start(kReplyTimeoutMs);
}

void FenwickSession::onCheckByte(quint8 b) {
  ReceivedCheck = b;
  timer_.stop();
  log_.AddLog(QStringLiteral("【情報】：受信を完了しました。受信データの解析を開始します >>>>>>"), LineKind::Info);
  ExchangeState = Evaluating;
  pause_.doEvents();
  pause_.sleep(kSettleMs);
  answered(AnswerKind::Report, ReplyBuffer);
  if (ReceivedCheck != RunningCheck) {
    const QString line = QStringLiteral("【情報】：ＢＣＣチェックエラー　確認して下さい >>>>>>");
    log_.AddLog(line, LineKind::Error);
    finished(RunOutcome::BadReply, line);
  } else if (!parseReply(ReplyBuffer, UnitTable)) {
    const QString message = QStringLiteral("解析に失敗しました。受信データが不正です。");
    prompter_.ask(message, MsgIcon::Critical);
    finished(RunOutcome::BadReply, message);
  } else {
    judge();
  }
  endExchange();
}

void FenwickSession::judge() {
  const int first = Asked.all ? 1 : Asked.first;
  const int last = Asked.all ? variant_.maxChannel : Asked.last;
  bool allOk = true;
  for (int channel = first; channel <= last; ++channel) {
    const ScheduleRecord& unit = UnitTable[std::size_t(channel)];
    const ScheduleRecord& file = FileTable[std::size_t(channel)];
    QString line;
    if (!unit.Field[0].isEmpty()) {
      line = zeroPadded(qint64(integerValue(unit.Field[0]).value_or(0)), 3);
      for (int f = 1; f <= 5; ++f) line += u',' + unit.Field[std::size_t(f)];
    } else {
      line = QStringLiteral("CH番号 ") + zeroPadded(channel, 3) + QStringLiteral(" 取得できませんでした。");
    }
    bool same = true;
    for (int f = 1; f <= 5; ++f) same = same && unit.Field[std::size_t(f)] == file.Field[std::size_t(f)];
    allOk = allOk && same;
    if (same)
      log_.AddLog(QStringLiteral("【OK】：") + line, LineKind::Judged);
    else
      log_.AddLog(QStringLiteral("【NG】：") + line, LineKind::JudgedNg);
    log_.channelVerdict({channel, same});
  }
  busy(false);
  if (allOk) {
    log_.AddLog(QStringLiteral("【判定】：正常にデータを受信しました ******"), LineKind::Info);
    log_.AddLog(QString());
    prompter_.ask(QStringLiteral("正常にデータを受信しました。"), MsgIcon::Information);
  } else {
    log_.AddLog(QStringLiteral("【判定】：受信データに異常があります。確認して下さい ******"), LineKind::Error);
    log_.AddLog(QString());
    prompter_.ask(QStringLiteral("受信データに異常があります。確認して下さい。"), MsgIcon::Critical);
  }
  finished(RunOutcome::Complete);
}

void FenwickSession::endExchange() {
  timer_.stop();
  busy(false);
}

void FenwickSession::Timer1_Timer() {
  timer_.stop();
  if (ExchangeState < AwaitStx || ExchangeState > AwaitCheck) return;
  busy(false);
  const QString line = QStringLiteral("【情報】：タイムアウトエラー　通信が完了できませんでした。 >>>>>>");
  log_.AddLog(line, LineKind::Error);
  ExchangeState = Idle;
  finished(RunOutcome::NoAnswer, line);
}

}  // namespace kestrel
