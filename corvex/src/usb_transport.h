#pragma once

#include "driver.h"
#include "transport.h"

namespace corvex {

class UsbTransport final : public Transport {
 public:
  UsbTransport(const Driver& driver, FT_HANDLE handle) : driver_(driver), handle_(handle) {}
  CVX_STATUS send(const std::uint8_t* data, std::uint32_t length, std::uint32_t* sent) override;
  CVX_STATUS receive(std::uint8_t* data, std::uint32_t length, std::uint32_t* received) override;
  CVX_STATUS waiting(std::uint32_t* count) override;
  CVX_STATUS purge(std::uint32_t mask) override;
  CVX_STATUS set_timeouts(std::uint32_t read_ms, std::uint32_t write_ms) override;
  CVX_STATUS close() override;

 private:
  const Driver& driver_;
  FT_HANDLE handle_;
};

}  // namespace corvex
