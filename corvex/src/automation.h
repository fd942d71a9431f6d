// Automation arrays and strings handed in by callers: the system's own on
// Windows, the stand-in of corvex.h elsewhere (automation_win32.cpp,
// automation_posix.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "corvex.h"

namespace corvex::automation {

// Holds the array locked for its lifetime and exposes its data.
class LockedArray {
 public:
  explicit LockedArray(SAFEARRAY* array);
  ~LockedArray();
  LockedArray(const LockedArray&) = delete;
  LockedArray& operator=(const LockedArray&) = delete;

  bool ok() const { return array_ != nullptr; }
  std::uint8_t* data() const { return data_; }
  std::size_t bytes() const { return bytes_; }

 private:
  SAFEARRAY* array_ = nullptr;
  std::uint8_t* data_ = nullptr;
  std::size_t bytes_ = 0;
};

// Lower and upper bound of a one-dimensional array of strings; false for anything else.
bool string_bounds(SAFEARRAY* array, std::int32_t& lower, std::int32_t& upper);

// Replaces element index (absolute, within the bounds) with a copy of length bytes of text.
bool store_string(SAFEARRAY* array, std::int32_t index, const char* text, std::size_t length);

// The bytes a string holds: UTF-16 on Windows, the stand-in's text elsewhere.
std::size_t string_bytes(BSTR text);

// Runs use(data) on the locked array's data; a missing array, or a length
// beyond the array (it would run past the caller's memory), gives 16.
template <typename Use>
CVX_STATUS with_array_bytes(SAFEARRAY* array, std::uint32_t length, Use&& use) {
  if (!array) return CVX_INVALID_ARGUMENT;
  LockedArray locked(array);
  if (!locked.ok() || length > locked.bytes()) return CVX_INVALID_ARGUMENT;
  return use(locked.data());
}

}  // namespace corvex::automation
