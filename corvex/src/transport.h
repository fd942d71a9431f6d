// A byte channel to one board. Counts report what actually moved.
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
  virtual CVX_STATUS set_timeouts(std::uint32_t read_ms, std::uint32_t write_ms) = 0;
  virtual CVX_STATUS close() = 0;
};

// Whole-length transfers: a short count becomes CVX_TIMEOUT, with the count kept.
CVX_STATUS send_all(Transport& t, const std::uint8_t* data, std::uint32_t length, std::uint32_t* sent);
CVX_STATUS receive_all(Transport& t, std::uint8_t* data, std::uint32_t length, std::uint32_t* received);

}  // namespace corvex
