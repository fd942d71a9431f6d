// Product records: which product a board is and its unit number.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "corvex.h"

namespace corvex {

// The Windows UUID type's bytes: the 32-, 16- and 16-bit fields least
// significant byte first, then the last eight bytes in order.
using Uuid = std::array<std::uint8_t, 16>;

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", hexadecimal digits of either case.
std::optional<Uuid> parse_uuid(std::string_view text);

// What a product search asks for: a product (any when empty) and a unit (any when 0).
struct ProductWanted {
  std::optional<Uuid> product;
  std::uint32_t unit = 0;
  bool any() const { return !product && unit == 0; }
  // record: the 128-byte product record, or a discovery entry's copy of it at offset 8.
  bool matches(const std::uint8_t* record) const;
};

// The LAN side of CVX_OpenByPI: the first listed board that matches is
// connected and logged in; its failure ends the search.
CVX_STATUS lan_open_product(const ProductWanted& wanted, std::uint32_t flags, CVX_HANDLE* handle);

}  // namespace corvex
