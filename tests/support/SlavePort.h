#pragma once
// The tester's end of the simulated line: the slave opened raw, as a serial
// port library would.

#include "unit/Protocol.h"
#include "unit/Pty.h"

#include <chrono>
#include <ostream>
#include <string>

namespace kestrel::sim {
// Failures show items as the hex lines the simulator prints, with the answers
// a healthy unit gives.
void PrintTo(const Item& item, std::ostream* out);
}  // namespace kestrel::sim

namespace kestrel::sim::test {

using namespace std::chrono_literals;

class SlavePort {
 public:
  // `raw` false leaves the line as the simulator set it.
  explicit SlavePort(const std::string& path, bool raw = true);

  void write(const Bytes& bytes);
  // Whatever arrives until `count` bytes are in or `timeout` passes.
  Bytes read(std::size_t count, std::chrono::milliseconds timeout = 2000ms);
  // Whatever arrives within `window`, for checking that nothing does.
  Bytes drain(std::chrono::milliseconds window = 150ms);
  void close() { fd_ = Fd(); }

 private:
  Fd fd_;
};

Bytes ascii(std::string_view text);

}  // namespace kestrel::sim::test
