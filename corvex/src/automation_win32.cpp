// Automation arrays and strings on Windows: the system's own.
#include "automation.h"

#include <oleauto.h>

namespace corvex::automation {

LockedArray::LockedArray(SAFEARRAY* array) {
  long lower = 0, upper = -1;
  if (!array || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
      FAILED(SafeArrayGetUBound(array, 1, &upper)) || FAILED(SafeArrayLock(array)))
    return;
  array_ = array;
  data_ = static_cast<std::uint8_t*>(array->pvData);
  bytes_ = upper >= lower ? static_cast<std::size_t>(upper - lower + 1) * SafeArrayGetElemsize(array) : 0;
}

LockedArray::~LockedArray() {
  if (array_) SafeArrayUnlock(array_);
}

bool string_bounds(SAFEARRAY* array, std::int32_t& lower, std::int32_t& upper) {
  VARTYPE vt = VT_EMPTY;
  long lo = 0, hi = -1;
  if (!array || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetVartype(array, &vt)) || vt != VT_BSTR ||
      FAILED(SafeArrayGetLBound(array, 1, &lo)) || FAILED(SafeArrayGetUBound(array, 1, &hi)))
    return false;
  lower = lo;
  upper = hi;
  return true;
}

bool store_string(SAFEARRAY* array, std::int32_t index, const char* text, std::size_t length) {
  BSTR value = SysAllocStringByteLen(text, static_cast<UINT>(length));
  if (!value) return false;
  long i = index;
  const bool ok = SUCCEEDED(SafeArrayPutElement(array, &i, value));
  SysFreeString(value);
  return ok;
}

std::size_t string_bytes(BSTR text) { return text ? SysStringByteLen(text) : 0; }

}  // namespace corvex::automation
