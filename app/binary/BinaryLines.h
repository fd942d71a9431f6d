#pragma once
// The expansion board's lines as the binary windows drive them: the board's
// open and close, the busy line, the strobe and stop pulses and the three
// ways a channel number goes onto the data lines.

#include "WexfordBinding.h"

#include <QString>
#include <cstdint>

namespace kestrel {

class LogSink;
class Pause;

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

  // What protocol B put on the lines, after the logic inversion.
  struct Parallel {
    std::uint8_t high;
    std::uint8_t low;
  };

  BinaryLines(WexfordApi& board, Pause& pause) : board_(board), pause_(pause) {}

  // Opens any expansion board and initialises it; false leaves the handle 0.
  // WexfordUnavailable when the library cannot be loaded.
  bool open();
  void close();
  WxfHandle handle() const { return handle_; }

  bool busy();
  void strobe(int widthMs);
  // The stop line alone, logged.
  void stopPulse(LogSink& log);
  // The stop line with the strobe, logged first.
  void stopPulseWithStrobe(LogSink& log);

  // Protocol A: four 2-bit transfers, most significant pair first, inverted.
  void sendPairs(qint64 n, int widthMs);
  // Protocol B: ten parallel bits, inverted in positive logic.
  Parallel sendTenBits(qint64 n, bool positiveLogic, int widthMs);
  // Protocol C: eight parallel bits with the fixed settle and strobe times.
  void sendEightBits(qint64 n, bool positiveLogic);

 private:
  void write(std::uint32_t port, std::uint8_t data, std::uint8_t mask);

  WexfordApi& board_;
  Pause& pause_;
  WxfHandle handle_ = 0;
};

inline const QString kStopSignalLog = QStringLiteral("[送信]：STOP信号");
inline const QString kBoardOpenFailed = QStringLiteral("デバイスへの接続に失敗しました。");

}  // namespace kestrel
