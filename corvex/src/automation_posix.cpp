// Automation arrays and strings elsewhere: the stand-in declared in corvex.h.
#include "automation.h"

#include <cstdlib>
#include <cstring>

namespace corvex::automation {

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

std::size_t string_bytes(BSTR text) { return text ? std::strlen(text) : 0; }

}  // namespace corvex::automation
