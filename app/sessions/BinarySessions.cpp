#include "sessions/BinarySessions.h"

#include "core/ChannelEntry.h"
#include "core/SessionEvents.h"
#include "core/Pause.h"

namespace kestrel {

const BufferedBinaryVariant kLumo7Q{
    .caption = QStringLiteral(" テスト画面[LUMO7Qモード]"),
    .autoCaption = QStringLiteral("オートモード（１～２５５まで自動再生）"),
    .manualCaption = QStringLiteral("マニュアルモード（最大２０指定）"),
    .boxes = 20,
    .boxLength = 3,
    .maxChannel = 255,
    .listWidth = 3,
    .rangeChecked = false,
    .timingText = QStringLiteral("50"),
    .timingDefault = 50,
    .tenBits = false,
    .busyAlways = true,
    .resetEnabled = false,
};

const BufferedBinaryVariant kTarn2G1M{
    .caption = QStringLiteral(" テスト画面[TARN-2G1-Mバイナリ制御モード]"),
    .autoCaption = QStringLiteral("オートモード（1～1000まで自動再生）"),
    .manualCaption = QStringLiteral("マニュアルモード（最大1000指定）"),
    .boxes = 60,
    .boxLength = 4,
    .maxChannel = 1000,
    .listWidth = 4,
    .rangeChecked = true,
    .timingText = QStringLiteral("100"),
    .timingDefault = 100,
    .tenBits = true,
    .busyAlways = false,
    .resetEnabled = true,
};

TimingCheck checkTiming(const QString& text, int defaultMs) {
  if (text.isEmpty()) return {true, defaultMs, {}};
  const std::optional<double> value = integerValue(text);
  if (!value) return {false, 0, QStringLiteral("タイミング時間の値が不正です。")};
  if (*value < 0 || *value > 500) return {false, 0, QStringLiteral("タイミング時間の値は0～500msの範囲で入力して下さい。")};
  return {true, int(*value), {}};
}

BinarySession::BinarySession(WexfordApi& board, SessionTimer& timer, SessionEvents& log, Pause& pause)
    : lines_(board, pause), timer_(timer), log_(log), pause_(pause) {}

BoardResult BinarySession::Load() {
  (void)pause_.timedThread();  // started now rather than in the first channel's tick
  const BoardResult r = lines_.open();
  BoardOpen = r.ok();
  return r;
}

BoardResult BinarySession::lost(BoardResult failed) {
  timer_.stop();
  runEnded();
  log_.AddLog(kBoardOpenFailed, LineKind::Fault);
  finished(RunOutcome::BoardLost, kBoardOpenFailed);
  return failed;
}

BoardResult BinarySession::readBusy(bool& busy) {
  const BoardResult r = lines_.readBusy(busy);
  if (r.ok()) log_.busyRead({busy, EventClock::now()});
  return r;
}

void BinarySession::noteTiming() {
  if (timingNoted_) return;
  timingNoted_ = true;
  if (const QString note = lines_.timingNote(); !note.isEmpty()) log_.AddLog(note, LineKind::Note);
}

void BinarySession::start(const QList<qint64>& channels) {
  ChannelList.assign(1, 0);
  ChannelList.insert(ChannelList.end(), channels.begin(), channels.end());
  NextIndex = 0;
  Remaining = qint16(channels.size());
  running_ = true;
  log_.runStarted({channels, int(channels.size())});
  timer_.start(kBinaryTickMs);
}

void BinarySession::sent(qint16 next, const QString& line, const QByteArray& values) {
  NextIndex = next;
  --Remaining;
  log_.AddLog(line);
  log_.frameSent({{entry(next)}, values, EventClock::now()});
  const int total = int(ChannelList.size()) - 1;
  log_.progress({NextIndex, total});
}

void BinarySession::finished(RunOutcome outcome, const QString& detail) {
  if (!running_ && outcome != RunOutcome::BoardLost) return;
  running_ = false;
  log_.runFinished({outcome, detail});
}

BufferedBinarySession::BufferedBinarySession(const BufferedBinaryVariant& variant, WexfordApi& board,
                                             SessionTimer& timer, SessionEvents& log, Pause& pause)
    : BinarySession(board, timer, log, pause), variant_(variant) {}

void BufferedBinarySession::Play(const QList<qint64>& channels, bool manual, int widthMs) {
  ManualMode = manual;
  StrobeWidth = qint16(widthMs);
  Playing = true;
  start(channels);
}

BoardResult BufferedBinarySession::Stop() {
  if (lines_.handle() == 0) return {};
  if (variant_.tenBits) {
    log_.AddLog(QStringLiteral("[停止]"));
  } else {
    // Only a unit that is playing gets the stop pulse; an idle one needs
    // none, but the list stops all the same: nothing more goes out until 再生.
    bool busy = false;
    if (BoardResult r = lines_.readBusy(busy); !r.ok()) return lost(r);
    if (busy) {
      noteTiming();
      if (BoardResult r = lines_.stopPulseWithStrobe(log_); !r.ok()) return lost(r);
    }
  }
  timer_.stop();
  Playing = false;
  finished(RunOutcome::Stopped);
  return {};
}

BoardResult BufferedBinarySession::Time1_Timer() {
  if (Remaining == 0) {
    Playing = false;
    timer_.stop();
    finished(RunOutcome::Complete);
    return {};
  }
  if (variant_.busyAlways || !ManualMode) {
    bool busy = false;
    if (BoardResult r = readBusy(busy); !r.ok()) return lost(r);
    if (busy) return {};
  }
  // A channel counts as sent once the board took every write of it.
  const qint16 next = qint16(NextIndex + 1);
  const qint64 n = entry(next);
  QString line = QStringLiteral("[送信]：") + zeroPadded(n, variant_.listWidth);
  noteTiming();
  BoardResult r;
  QByteArray values;
  if (variant_.tenBits) {
    const BinaryLines::Parallel on = BinaryLines::tenBits(n, PositiveLogic != 0);
    r = lines_.sendTenBits(n, PositiveLogic != 0, StrobeWidth);
    line += QStringLiteral("[%1 %2]").arg(QString::number(on.high, 16).toUpper(), QString::number(on.low, 16).toUpper());
    values = QByteArray(1, char(on.high)) + char(on.low);
  } else {
    r = lines_.sendPairs(n, StrobeWidth);
    values = BinaryLines::pairs(n);
  }
  if (!r.ok()) return lost(r);
  sent(next, line, values);
  return {};
}

BoardResult BufferedBinarySession::Unload() {
  pause_.doEvents();
  BoardResult r;
  if (BoardOpen) {
    if (!variant_.tenBits) r = lines_.stopPulse(log_);
    // The board is let go even when the stop did not reach it.
    const BoardResult closed = lines_.close();
    if (r.ok()) r = closed;
    BoardOpen = false;
    if (!r.ok()) lost(r);
  }
  pause_.doEvents();
  return r;
}

BinaryMode2Session::BinaryMode2Session(WexfordApi& board, SessionTimer& timer, SessionEvents& log, Pause& pause)
    : BinarySession(board, timer, log, pause) {}

QString BinaryMode2Session::caption() const {
  QString mode = QStringLiteral("バッファリング機能付バイナリ制御モード２（255CH）");
  if (SubMode == 1)
    mode = QStringLiteral("バッファリング機能付バイナリ制御モード") +
           (PositiveLogic == 1 ? QStringLiteral("（正論理250CH）") : QStringLiteral("（負論理250CH）"));
  return QStringLiteral("Kestrel Tester - ") + mode;
}

void BinaryMode2Session::Play(const QList<qint64>& channels) {
  ListLength = qint16(channels.size());
  start(channels);
}

void BinaryMode2Session::SendCode(int code) {
  CodePending = true;
  ListLength = 1;
  start({code});
}

BoardResult BinaryMode2Session::Stop() {
  if (lines_.handle() == 0) return {};
  timer_.stop();
  if (BoardResult r = lines_.stopPulse(log_); !r.ok()) return lost(r);
  finished(RunOutcome::Stopped);
  return {};
}

BoardResult BinaryMode2Session::Time1_Timer() {
  // Repeat restarts a manual list: an automatic one is the whole range, a code never repeats.
  if (Repeat == 1 && Remaining == 0 && ListLength != Maximum && !CodePending) {
    NextIndex = 0;
    Remaining = ListLength;
  }
  if (Remaining == 0) {
    timer_.stop();
    finished(RunOutcome::Complete);
    return {};
  }
  bool busy = false;
  if (BoardResult r = readBusy(busy); !r.ok()) return lost(r);
  if (busy) return {};
  const qint16 next = qint16(NextIndex + 1);
  const qint64 n = entry(next);
  noteTiming();
  if (BoardResult r = lines_.sendEightBits(n, PositiveLogic != 0); !r.ok()) return lost(r);
  sent(next, QStringLiteral("[送信]：") + zeroPadded(n, 3) + QStringLiteral(" + OP信号"),
       QByteArray(1, char(BinaryLines::eightBits(n, PositiveLogic != 0))));
  return {};
}

BoardResult BinaryMode2Session::Unload() {
  pause_.doEvents();
  BoardResult r;
  if (lines_.handle() != 0) {
    timer_.stop();
    r = lines_.stopPulse(log_);
    const BoardResult closed = lines_.close();
    if (r.ok()) r = closed;
    BoardOpen = false;
    if (!r.ok()) lost(r);
  }
  pause_.doEvents();
  return r;
}

}  // namespace kestrel
