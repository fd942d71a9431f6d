// A byte channel to one board, made when the board is opened and held by its
// row until the close. Counts report what actually moved.
#pragma once

#include <cstdint>

#include "corvex.h"

namespace corvex {

class Transport {
 public:
  virtual ~Transport() = default;
  virtual CVX_STATUS send(const std::uint8_t* data, std::uint32_t length, std::uint32_t* sent) = 0;
  virtual CVX_STATUS receive(std::uint8_t* data, std::uint32_t length, std::uint32_t* received) = 0;
  virtual CVX_STATUS waiting(std::uint32_t* count) = 0;
  virtual CVX_STATUS purge(std::uint32_t mask) = 0;
  // Also keeps the values in force in the row.
  virtual CVX_STATUS set_timeouts(std::uint32_t read_ms, std::uint32_t write_ms) = 0;
  // Makes a transfer that waits on the board return soon; any thread may call
  // it. Nothing to do for a channel whose transfers never wait.
  virtual void cut_short() {}
  // Ends the channel. Called once, when no call uses it any more (or at unload).
  virtual CVX_STATUS close() = 0;
};

// Whole-length transfers: a short count becomes CVX_TIMEOUT, with the count kept.
CVX_STATUS send_all(Transport& t, const std::uint8_t* data, std::uint32_t length, std::uint32_t* sent);
CVX_STATUS receive_all(Transport& t, std::uint8_t* data, std::uint32_t length, std::uint32_t* received);

}  // namespace corvex
