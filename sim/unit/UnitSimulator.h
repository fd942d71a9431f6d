#pragma once
// A voice unit on a pseudo-terminal, run on its own thread: the tester opens
// slavePath() as its serial port and talks to it.

#include "unit/Options.h"
#include "unit/Protocol.h"
#include "unit/Pty.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
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

class UnitSimulator {
 public:
  // Throws std::invalid_argument for an unknown protocol.
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

 private:
  void run();
  void take(std::span<const std::uint8_t> bytes);
  void answer(const Item& item);
  Bytes withStray(std::uint8_t reply);
  bool pause(std::chrono::milliseconds duration);
  void write(std::span<const std::uint8_t> bytes);

  const Options options_;
  std::unique_ptr<Protocol> protocol_;
  std::optional<Pty> pty_;
  std::string slavePath_;
  Fd wakeRead_, wakeWrite_;
  std::FILE* record_ = nullptr;
  std::thread thread_;

  unsigned frames_ = 0;   // frames seen, for nakEvery
  unsigned answers_ = 0;  // answers given, for the stray bytes

  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  Bytes received_;
  std::vector<Arrival> arrivals_;
  std::mutex writeMutex_;
};

}  // namespace kestrel::sim
