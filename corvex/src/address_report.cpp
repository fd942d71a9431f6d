#include "address_report.h"

#include <cstdio>
#include <cstring>

namespace corvex {

void Report::add(std::string_view line) {
  if (!text_ || full_) return;
  if (used_ + line.size() + 1 > CVX_FLSH_REPORT_SIZE) {
    full_ = true;
    return;
  }
  std::memcpy(text_ + used_, line.data(), line.size());
  used_ += line.size();
  text_[used_] = '\0';
}

void Report::addf(const char* format, long status, long error) {
  char line[160];
  std::snprintf(line, sizeof line, format, status, error);
  add(line);
}

}  // namespace corvex
