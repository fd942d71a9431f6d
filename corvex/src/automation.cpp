#include "automation.h"

#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <oleauto.h>
#endif

namespace corvex::automation {

#ifdef _WIN32

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

#else

LockedArray::LockedArray(SAFEARRAY* array) {
  if (!array || array->cDims != 1 || (!array->pvData && array->rgsabound[0].cElements != 0)) return;
  ++array->cLocks;
  array_ = array;
  data_ = static_cast<std::uint8_t*>(array->pvData);
  bytes_ = static_cast<std::size_t>(array->rgsabound[0].cElements) * array->cbElements;
}

LockedArray::~LockedArray() {
  if (array_) --array_->cLocks;
}

bool string_bounds(SAFEARRAY* array, std::int32_t& lower, std::int32_t& upper) {
  if (!array || array->cDims != 1 || !(array->fFeatures & FADF_BSTR) || array->cbElements != sizeof(BSTR) ||
      (!array->pvData && array->rgsabound[0].cElements != 0))
    return false;
  lower = array->rgsabound[0].lLbound;
  upper = static_cast<std::int32_t>(static_cast<std::int64_t>(lower) + array->rgsabound[0].cElements - 1);
  return true;
}

bool store_string(SAFEARRAY* array, std::int32_t index, const char* text, std::size_t length) {
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (!copy) return false;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  BSTR& slot = static_cast<BSTR*>(array->pvData)[static_cast<std::int64_t>(index) - array->rgsabound[0].lLbound];
  std::free(slot);
  slot = copy;
  return true;
}

#endif

}  // namespace corvex::automation
