// Walking the USB devices and telling the boards among them.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>

#include "driver.h"

namespace corvex {

inline constexpr std::uint16_t kBoardVendor = 0x1237;
inline constexpr std::uint16_t kBoardProducts[] = {0xF001, 0xF002};

struct Identity {
  bool fixed = true;  // the boards' own vendor and product IDs
  std::uint32_t vendor = 0, product = 0;

  bool matches(std::uint16_t vid, std::uint16_t pid) const {
    if (!fixed) return vid == static_cast<std::uint16_t>(vendor) && pid == static_cast<std::uint16_t>(product);
    return vid == kBoardVendor &&
           std::find(std::begin(kBoardProducts), std::end(kBoardProducts), pid) != std::end(kBoardProducts);
  }
};

struct Found {
  FT_HANDLE handle;
  std::array<char, 16> serial;
};

// Reads an open device's EEPROM: true when it is one of the identity's devices.
bool has_identity(const Driver& drv, const Identity& identity, Found& found);

// Opens each device in turn and hands the matching ones to keep(); the first it
// keeps stays open and ends the walk, every other device is closed again.
// Returns the driver's status of the device count (0 when the walk ran).
template <typename Keep>
FT_STATUS enumerate(const Driver& drv, const Identity& identity, Keep&& keep) {
  std::uint32_t count = 0;
  if (FT_STATUS s = drv.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY); s != FT_OK) return s;
  for (std::uint32_t index = 0; index < count; ++index) {
    Found found{nullptr, {}};
    if (drv.Open(static_cast<int>(index), &found.handle) != FT_OK) continue;
    if (has_identity(drv, identity, found) && keep(found)) return FT_OK;
    drv.Close(found.handle);
  }
  return FT_OK;
}

}  // namespace corvex
