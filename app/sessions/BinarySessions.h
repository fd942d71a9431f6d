#pragma once
// The buffered binary windows: a 100 ms timer sends the next channel of a
// list onto the expansion board's lines whenever the unit is not busy.
// BufferedBinarySession: the LUMO7Q window (protocol A) and the TARN-2G1-M
// window (protocol B). BinaryMode2Session: eight parallel bits (protocol C),
// with repeat and the volume codes.

#include "sessions/BinaryLines.h"
#include "core/SessionEvents.h"
#include "core/SessionTimer.h"

#include <QString>
#include <QList>
#include <vector>

namespace kestrel {

class Pause;

inline constexpr int kBinaryTickMs = 100;

// What tells the LUMO7Q window from the 1000-channel one.
struct BufferedBinaryVariant {
  QString caption;
  QString autoCaption;
  QString manualCaption;
  int boxes;
  int boxLength;
  int maxChannel;     // of an automatic run
  int listWidth;      // digits of a list entry
  bool rangeChecked;  // 1 to maxChannel, or anything (the low bits go out)
  QString timingText;  // TxtIoTime as the window opens
  int timingDefault;   // when TxtIoTime is empty
  bool tenBits;        // protocol B, else A
  bool busyAlways;     // else in automatic runs only
  bool resetEnabled;
};

extern const BufferedBinaryVariant kLumo7Q;
extern const BufferedBinaryVariant kTarn2G1M;

// TxtIoTime read as a strobe width: the width, or the message that refuses it.
struct TimingCheck {
  bool ok;
  int widthMs;
  QString message;
};
TimingCheck checkTiming(const QString& text, int defaultMs);

// The fields and steps both kinds of window share.
class BinarySession {
 public:
  BinarySession(WexfordApi& board, SessionTimer& timer, SessionEvents& log, Pause& pause);
  virtual ~BinarySession() = default;

  // Opens the board; anything but ok leaves the handle 0 (BinaryLines::open).
  BoardResult Load();
  // 一覧 and the board's state as the window closes.
  virtual BoardResult Unload() = 0;
  // One step of the list. A board that fails ends the run: the timer stops
  // and the log says the board was lost.
  virtual BoardResult Time1_Timer() = 0;

  BinaryLines& lines() { return lines_; }

  // The window's fields.
  std::vector<qint64> ChannelList;  // from index 1
  qint16 NextIndex = 0;
  qint16 Remaining = 0;
  bool BoardOpen = false;

 protected:
  // Starts a list from its first entry.
  void start(const QList<qint64>& channels);
  // The entry `next` is on the lines as `values`: its line, its events.
  void sent(qint16 next, const QString& line, const QByteArray& values);
  // Once a run, as in the serial sessions; a lost board ends any.
  void finished(RunOutcome outcome, const QString& detail = {});
  qint64 entry(int index) const { return ChannelList[std::size_t(index)]; }
  // Ends the run on a failed board call: its line in the log, the failure returned.
  BoardResult lost(BoardResult failed);
  virtual void runEnded() {}
  // The busy line before the next entry, reported as read.
  BoardResult readBusy(bool& busy);
  // Before the first timed sequence: says once when its timing is not real-time.
  void noteTiming();

  BinaryLines lines_;
  SessionTimer& timer_;
  SessionEvents& log_;
  Pause& pause_;
  bool timingNoted_ = false;
  bool running_ = false;
};

class BufferedBinarySession : public BinarySession {
 public:
  BufferedBinarySession(const BufferedBinaryVariant& variant, WexfordApi& board, SessionTimer& timer, SessionEvents& log,
                        Pause& pause);

  const BufferedBinaryVariant& variant() const { return variant_; }
  // 再生, once the entries have passed their check.
  void Play(const QList<qint64>& channels, bool manual, int widthMs);
  BoardResult Stop();
  BoardResult Time1_Timer() override;
  BoardResult Unload() override;

  bool Playing = false;
  qint16 StrobeWidth = 0;
  qint16 PositiveLogic = 0;
  bool ManualMode = false;

 protected:
  void runEnded() override { Playing = false; }

 private:
  const BufferedBinaryVariant& variant_;
};

class BinaryMode2Session : public BinarySession {
 public:
  BinaryMode2Session(WexfordApi& board, SessionTimer& timer, SessionEvents& log, Pause& pause);

  // The window's caption for its sub-mode and logic.
  QString caption() const;
  void Play(const QList<qint64>& channels);
  // 251, 252 or 253.
  void SendCode(int code);
  BoardResult Stop();
  BoardResult Time1_Timer() override;
  BoardResult Unload() override;

  qint16 PositiveLogic = 0;
  qint16 SubMode = 0;
  qint16 Maximum = 255;
  qint16 ListLength = 0;
  qint16 Repeat = 0;
  bool CodePending = false;
};

}  // namespace kestrel
