// Boards on USB: the Transport over a driver handle.
#pragma once

#include "device_table.h"
#include "driver.h"
#include "transport.h"

namespace corvex {

class UsbTransport final : public Transport {
 public:
  UsbTransport(const Driver& driver, FT_HANDLE handle, DeviceEntry& entry)
      : driver_(driver), handle_(handle), entry_(entry) {}
  CVX_STATUS send(const std::uint8_t* data, std::uint32_t length, std::uint32_t* sent) override;
  CVX_STATUS receive(std::uint8_t* data, std::uint32_t length, std::uint32_t* received) override;
  CVX_STATUS waiting(std::uint32_t* count) override;
  CVX_STATUS purge(std::uint32_t mask) override;
  CVX_STATUS set_timeouts(std::uint32_t read_ms, std::uint32_t write_ms) override;
  // Purging the receive side ends a read that waits on the board.
  void cut_short() override;
  CVX_STATUS close() override;

 private:
  const Driver& driver_;
  FT_HANDLE handle_;
  DeviceEntry& entry_;
};

// Takes a row for an open driver handle, with its transport; 0 when the table is full.
CVX_HANDLE take_usb_row(DeviceTable& table, const Driver& driver, FT_HANDLE device);

}  // namespace corvex
