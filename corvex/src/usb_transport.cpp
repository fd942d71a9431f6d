#include "usb_transport.h"

namespace corvex {

CVX_STATUS send_all(Transport& t, const std::uint8_t* data, std::uint32_t length, std::uint32_t* sent) {
  *sent = 0;
  const CVX_STATUS status = t.send(data, length, sent);
  if (status != CVX_OK) return status;
  return *sent < length ? CVX_TIMEOUT : CVX_OK;
}

CVX_STATUS receive_all(Transport& t, std::uint8_t* data, std::uint32_t length, std::uint32_t* received) {
  *received = 0;
  const CVX_STATUS status = t.receive(data, length, received);
  if (status != CVX_OK) return status;
  return *received < length ? CVX_TIMEOUT : CVX_OK;
}

CVX_STATUS UsbTransport::send(const std::uint8_t* data, std::uint32_t length, std::uint32_t* sent) {
  return driver_.Write(handle_, const_cast<std::uint8_t*>(data), length, sent);
}

CVX_STATUS UsbTransport::receive(std::uint8_t* data, std::uint32_t length, std::uint32_t* received) {
  return driver_.Read(handle_, data, length, received);
}

CVX_STATUS UsbTransport::waiting(std::uint32_t* count) { return driver_.GetQueueStatus(handle_, count); }

CVX_STATUS UsbTransport::purge(std::uint32_t mask) { return driver_.Purge(handle_, mask); }

CVX_STATUS UsbTransport::set_timeouts(std::uint32_t read_ms, std::uint32_t write_ms) {
  const CVX_STATUS status = driver_.SetTimeouts(handle_, read_ms, write_ms);
  // The driver keeps its own; the row's copy bounds the wait for a late reply.
  if (status == CVX_OK) {
    entry_.read_timeout.store(read_ms, std::memory_order_relaxed);
    entry_.write_timeout.store(write_ms, std::memory_order_relaxed);
  }
  return status;
}

void UsbTransport::cut_short() { driver_.Purge(handle_, CVX_PURGE_RX); }

CVX_STATUS UsbTransport::close() { return driver_.Close(handle_); }

CVX_HANDLE take_usb_row(DeviceTable& table, const Driver& driver, FT_HANDLE device) {
  return table.take(reinterpret_cast<std::uintptr_t>(device), CVX_IF_USB, [&](DeviceEntry& entry) {
    return std::make_shared<UsbTransport>(driver, device, entry);
  });
}

}  // namespace corvex
