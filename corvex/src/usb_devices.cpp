// Finding, listing and opening boards on USB.
#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "automation.h"
#include "flash_writer.h"
#include "guard.h"
#include "io.h"
#include "open_check.h"
#include "usb_devices.h"
#include "usb_search.h"
#include "usb_transport.h"

using namespace corvex;

namespace corvex {

bool has_identity(const Driver& drv, const Identity& identity, Found& found) {
  char manufacturer[32] = {}, manufacturer_id[16] = {}, description[64] = {};
  FT_PROGRAM_DATA data{};
  data.Signature1 = 0x00000000;
  data.Signature2 = 0xFFFFFFFF;
  data.Version = FT_PROGRAM_DATA_VERSION;
  data.Manufacturer = manufacturer;
  data.ManufacturerId = manufacturer_id;
  data.Description = description;
  data.SerialNumber = found.serial.data();
  if (drv.EE_Read(found.handle, &data) != FT_OK || !identity.matches(data.VendorId, data.ProductId)) return false;
  found.serial.back() = '\0';
  return true;
}

}  // namespace corvex

namespace {

constexpr std::size_t kRecord = 9;
constexpr std::size_t kMaxTextRecords = 128;
constexpr std::size_t kSerialLimit = 15;
constexpr std::size_t kUserAreaLimit = 128;
constexpr uint32_t kWriterTimeoutMs = 1000;

std::vector<std::array<char, kRecord>> board_records(const Driver& drv, const Identity& identity) {
  std::vector<std::array<char, kRecord>> records;
  if (!drv.present()) return records;
  enumerate(drv, identity, [&](const Found& found) {
    std::array<char, kRecord> record{};
    std::memcpy(record.data(), found.serial.data(), kRecord);
    records.push_back(record);
    return false;
  });
  return records;
}

int32_t list_into(const Identity& identity, char* records, int32_t max) {
  State& s = state();
  std::lock_guard lock(s.table.lock());
  const auto found = board_records(s.driver, identity);
  for (std::size_t i = 0; records && i < found.size() && static_cast<int64_t>(i) < max; ++i)
    std::memcpy(records + i * kRecord, found[i].data(), kRecord);
  return static_cast<int32_t>(found.size());
}

int32_t list_into_array(const Identity& identity, SAFEARRAY* array) {
  int32_t lower = 0, upper = -1;
  if (!automation::string_bounds(array, lower, upper)) return 0;
  State& s = state();
  std::lock_guard lock(s.table.lock());
  int32_t stored = 0;
  for (const auto& record : board_records(s.driver, identity)) {
    const int64_t index = static_cast<int64_t>(lower) + stored;
    if (index > upper ||
        !automation::store_string(array, static_cast<int32_t>(index), record.data(), strnlen(record.data(), 8)))
      break;
    ++stored;
  }
  return stored;
}

bool serial_matches(const Found& found, const char* name) {
  if (!name || !*name) return true;
  return std::strlen(name) <= kSerialLimit && std::strcmp(found.serial.data(), name) == 0;
}

// Time-outs, latency and reset, then a table row; a full table closes the device.
CVX_STATUS take_channel(const Driver& drv, FT_HANDLE device, CVX_HANDLE* handle) {
  drv.SetTimeouts(device, kDefaultTimeoutMs, kDefaultTimeoutMs);
  drv.SetLatencyTimer(device, 3);
  drv.ResetDevice(device);
  *handle = take_usb_row(state().table, drv, device);
  if (*handle) return CVX_OK;
  drv.Close(device);
  return CVX_TABLE_FULL;
}

// One USB board found by a search: opened, set up, then the check that the open asks for.
template <typename Matches, typename Check>
CVX_STATUS open_first(const Identity& identity, Matches&& matches, Check&& check, CVX_HANDLE* handle) {
  const Driver& drv = state().driver;
  if (!drv.present()) return CVX_DEVICE_NOT_FOUND;
  FT_HANDLE device = nullptr;
  const FT_STATUS listed = enumerate(drv, identity, [&](const Found& found) {
    if (!matches(found)) return false;
    device = found.handle;
    return true;
  });
  if (listed != FT_OK) return listed;
  if (!device) return CVX_DEVICE_NOT_FOUND;
  if (CVX_STATUS s = take_channel(drv, device, handle); s != CVX_OK) return s;
  const CVX_STATUS checked = check(*handle);
  if (checked != CVX_OK) {
    CVX_Close(*handle);
    *handle = 0;
  }
  return checked;
}

CVX_STATUS enter_writer_mode(CVX_HANDLE handle) {
  CVX_SetTimeouts(handle, kWriterTimeoutMs, kWriterTimeoutMs);
  if (on_channel(handle, [](Transport& t) { return writer_echo(t); }) != CVX_OK) return CVX_DEVICE_NOT_FOUND;
  CVX_SetTimeouts(handle, kDefaultTimeoutMs, kDefaultTimeoutMs);
  state().table.row(handle)->if_type.fetch_or(CVX_IF_FLASH_WRITER);
  return CVX_OK;
}

CVX_STATUS no_check(CVX_HANDLE) { return CVX_OK; }

}  // namespace

namespace corvex {

CVX_STATUS usb_list(int32_t* count, char* text, int32_t* size) {
  State& s = state();
  std::lock_guard lock(s.table.lock());
  const auto found = board_records(s.driver, Identity{});
  const auto needed = static_cast<int32_t>(found.size() * kRecord);
  if (count) *count = static_cast<int32_t>(found.size());
  std::string joined;
  for (std::size_t i = 0; text && i < std::min(found.size(), kMaxTextRecords); ++i)
    joined.append(found[i].data(), kRecord);
  write_listing(std::move(joined), text, size, needed);
  return CVX_OK;
}

CVX_STATUS usb_open(const char* name, uint32_t flags, CVX_HANDLE* handle) {
  std::lock_guard lock(state().table.lock());
  const bool writer = (flags & CVX_IF_FLASH_WRITER) != 0;
  return open_first(
      Identity{}, [&](const Found& found) { return serial_matches(found, name); },
      writer ? enter_writer_mode : open_check, handle);
}

}  // namespace corvex

extern "C" {

CVX_EXPORT int32_t CVX_API CVX_ListDevices(char* records, int32_t max) {
  return guarded_value<int32_t>(0, [&] { return list_into(Identity{}, records, max); });
}

CVX_EXPORT int32_t CVX_API CVX_ListDevicesByID(uint32_t vendor_id, uint32_t product_id, char* records, int32_t max) {
  return guarded_value<int32_t>(0, [&] { return list_into(Identity{false, vendor_id, product_id}, records, max); });
}

CVX_EXPORT int32_t CVX_API CVX_ListDevices2(SAFEARRAY* array) {
  return guarded_value<int32_t>(0, [&] { return list_into_array(Identity{}, array); });
}

CVX_EXPORT int32_t CVX_API CVX_ListDevicesByID2(uint32_t vendor_id, uint32_t product_id, SAFEARRAY* array) {
  return guarded_value<int32_t>(0, [&] { return list_into_array(Identity{false, vendor_id, product_id}, array); });
}

CVX_EXPORT CVX_HANDLE CVX_API CVX_OpenByID(uint32_t vendor_id, uint32_t product_id, const char* serial) {
  return guarded_value<CVX_HANDLE>(0, [&] {
    std::lock_guard lock(state().table.lock());
    CVX_HANDLE handle = 0;
    open_first(
        Identity{false, vendor_id, product_id}, [&](const Found& found) { return serial_matches(found, serial); },
        no_check, &handle);
    return handle;
  });
}

CVX_EXPORT CVX_HANDLE CVX_API CVX_OpenByUA(const uint8_t* user_bytes, uint32_t length) {
  return guarded_value<CVX_HANDLE>(0, [&]() -> CVX_HANDLE {
    if (!user_bytes || length > kUserAreaLimit) return 0;
    std::array<uint8_t, kUserAreaLimit> wanted{};
    for (uint32_t i = 0; i < length && user_bytes[i] != 0; ++i) wanted[i] = user_bytes[i];
    State& s = state();
    std::lock_guard lock(s.table.lock());
    const Driver& drv = s.driver;
    CVX_HANDLE handle = 0;
    open_first(
        Identity{},
        [&](const Found& found) {
          uint32_t size = 0, got = 0;
          std::array<uint8_t, kUserAreaLimit> area{};
          if (drv.EE_UASize(found.handle, &size) != FT_OK) return false;
          size = std::min<uint32_t>(size, kUserAreaLimit);
          if (drv.EE_UARead(found.handle, area.data(), size, &got) != FT_OK) return false;
          return std::memcmp(area.data(), wanted.data(), length) == 0;
        },
        open_check, &handle);
    return handle;
  });
}

}  // extern "C"
