#pragma once
// A voice unit on a pseudo-terminal, run on its own thread: the tester opens
// slavePath() as its serial port and talks to it.

#include "unit/Options.h"
#include "unit/Protocol.h"
#include "unit/Pty.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::sim {

// One read from the line, stamped when it was read.
struct Arrival {
  std::chrono::steady_clock::time_point at;
  Bytes bytes;
};

// A message the unit sent of its own accord once channels had played.
struct Notice {
  Bytes message;  // as sent, stray bytes aside
  // The tester's ACK or NAK that came while it was the latest notice, for
  // protocols that expect one.
  std::optional<Bytes> answer;

  bool operator==(const Notice&) const = default;
};

class UnitSimulator {
 public:
  // Throws std::invalid_argument for an unknown protocol, and what
  // readSchedule() throws for a schedule file it cannot use.
  explicit UnitSimulator(Options options = {});
  ~UnitSimulator();
  UnitSimulator(const UnitSimulator&) = delete;
  UnitSimulator& operator=(const UnitSimulator&) = delete;

  // Opens the terminal and the recording, then starts answering.
  // Throws std::system_error when either cannot be opened.
  void start();
  // Idempotent; the destructor calls it.
  void stop();

  // Empty before start().
  const std::string& slavePath() const;
  // Every byte received so far, in order.
  Bytes received() const;
  // The same bytes as they were read, in order. Input that waited behind an
  // answer's delay or a playing line is stamped when the unit got to it.
  std::vector<Arrival> arrivals() const;
  // True once at least `count` bytes have been received in all.
  bool waitForBytes(std::size_t count, std::chrono::milliseconds timeout) const;
  // Sends bytes to the tester as they are, outside the protocol.
  void send(std::span<const std::uint8_t> bytes);
  // What the unit has sent once channels played, in order.
  std::vector<Notice> notices() const;

 private:
  // Channels playing in the background; what to send once they have.
  struct Playback {
    std::chrono::steady_clock::time_point end;
    std::vector<Bytes> then;
    std::string note;
  };

  void run();
  void take(std::span<const std::uint8_t> bytes);
  void answer(const Item& item);
  std::string acknowledge(const Item& answer);
  void finishPlayed();
  Bytes outgoing(const std::vector<Bytes>& messages, bool played);
  Bytes withStray(const Bytes& message);
  bool pause(std::chrono::milliseconds duration);
  bool transmit(std::span<const std::uint8_t> bytes);
  void write(std::span<const std::uint8_t> bytes);

  const Options options_;
  std::unique_ptr<Protocol> protocol_;
  std::optional<Pty> pty_;
  std::string slavePath_;
  Fd wakeRead_, wakeWrite_;
  std::FILE* record_ = nullptr;
  std::thread thread_;

  unsigned frames_ = 0;   // frames seen, for nakEvery
  unsigned answers_ = 0;  // messages sent, for the stray bytes
  unsigned checks_ = 0;   // messages sent with a check byte, for badCheckEvery
  std::deque<Playback> playing_;

  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  Bytes received_;
  std::vector<Arrival> arrivals_;
  std::vector<Notice> notices_;
  std::mutex writeMutex_;
};

}  // namespace kestrel::sim
