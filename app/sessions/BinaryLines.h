#pragma once
// The expansion board's lines as the binary windows drive them: the board's
// open and close, the busy line, the strobe and stop pulses and the three
// ways a channel number goes onto the data lines.

#include "sessions/WexfordBinding.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <cstdint>

namespace kestrel {

class LogSink;
class Pause;

// What the board made of a call, or of the calls of one step.
enum class BoardFault {
  None,
  Failed,       // the library returned a status other than 0: the board is gone or refused
  Unavailable,  // the library cannot be loaded, or lacks the entry point
};

struct BoardResult {
  BoardFault fault = BoardFault::None;
  std::int32_t status = 0;  // of the failed call
  QString detail;           // which call, and why, for a reason line
  bool ok() const { return fault == BoardFault::None; }
};

class BinaryLines {
 public:
  static constexpr std::uint32_t kBusyPort = 0xFFFFD0;
  static constexpr std::uint32_t kDataPort = 0xFFFFD3;     // D0-D7
  static constexpr std::uint32_t kControlPort = 0xFFFFD9;  // D8, D9, strobe, stop
  static constexpr std::uint8_t kHighBits = 0x03;
  static constexpr std::uint8_t kStrobe = 0x04;
  static constexpr std::uint8_t kStop = 0x08;
  static constexpr int kSettleMs = 20;
  static constexpr int kPulseMs = 50;

  // What protocol B puts on the lines, after the logic inversion.
  struct Parallel {
    std::uint8_t high;
    std::uint8_t low;
  };
  static Parallel tenBits(qint64 n, bool positiveLogic);
  // The data port's values for protocol A (four transfers) and C (one).
  static QByteArray pairs(qint64 n);
  static std::uint8_t eightBits(qint64 n, bool positiveLogic);

  BinaryLines(WexfordApi& board, Pause& pause) : board_(board), pause_(pause) {}

  // Opens any expansion board and initialises it. Anything short of both
  // leaves the handle 0: Failed when no board opened or it refused its
  // initialisation, Unavailable when the library cannot be used.
  [[nodiscard]] BoardResult open();
  [[nodiscard]] BoardResult close();
  WxfHandle handle() const { return handle_; }

  // When timed sequences run without real-time scheduling (or without
  // locked memory), the line that says so; empty otherwise.
  QString timingNote() const;

  // Each call below stops at the first call that fails and returns it. The
  // strobes and the transfers run on the pause's timed thread where it has
  // one, the caller waiting: a unit reads a strobe by its width.
  [[nodiscard]] BoardResult readBusy(bool& busy);
  [[nodiscard]] BoardResult strobe(int widthMs);
  // The stop line alone, logged once the line is down; on the caller, for
  // the log line falls inside the pulse.
  [[nodiscard]] BoardResult stopPulse(LogSink& log);
  // The stop line with the strobe, logged first.
  [[nodiscard]] BoardResult stopPulseWithStrobe(LogSink& log);

  // Protocol A: four 2-bit transfers, most significant pair first, inverted.
  [[nodiscard]] BoardResult sendPairs(qint64 n, int widthMs);
  // Protocol B: ten parallel bits, inverted in positive logic (tenBits).
  [[nodiscard]] BoardResult sendTenBits(qint64 n, bool positiveLogic, int widthMs);
  // Protocol C: eight parallel bits with the fixed settle and strobe times.
  [[nodiscard]] BoardResult sendEightBits(qint64 n, bool positiveLogic);

 private:
  template <class Call>
  BoardResult call(const char* name, Call&& c);
  // Runs `sequence` where the pause times sequences.
  template <class Sequence>
  BoardResult timed(Sequence&& sequence);
  BoardResult write(std::uint32_t port, std::uint8_t data, std::uint8_t mask);
  // The write `ms` after the last write was called (not after it returned,
  // which may be later: a unit times the gap between their arrivals).
  BoardResult writeAfter(int ms, std::uint32_t port, std::uint8_t data, std::uint8_t mask);
  BoardResult pulseStrobe(int widthMs);

  WexfordApi& board_;
  Pause& pause_;
  WxfHandle handle_ = 0;
  std::chrono::steady_clock::time_point lastWrite_;
};

inline const QString kStopSignalLog = QStringLiteral("[送信]：STOP信号");
inline const QString kBoardOpenFailed = QStringLiteral("デバイスへの接続に失敗しました。");

// The board failure's message, with a second line naming the driver library
// CORVEX_FTD2XX points at when that library cannot be loaded.
QString withDriverProblem(const QString& message);

}  // namespace kestrel
