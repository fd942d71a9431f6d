// The report text of a flash-writer board's address assignment.
#pragma once

#include <cstddef>
#include <string_view>

#include "corvex.h"

namespace corvex {

// The caller's report text: emptied first, always zero-terminated, never
// longer than CVX_FLSH_REPORT_SIZE. Once a line does not fit, later lines are
// left out too, so what is there reads as a prefix of the whole report.
class Report {
 public:
  explicit Report(char* text) : text_(text) {
    if (text_) text_[0] = '\0';
  }
  void add(std::string_view line);
  // printf-style; the lines with a status and an error number.
  void addf(const char* format, long status, long error);

 private:
  char* text_;
  std::size_t used_ = 0;
  bool full_ = false;
};

}  // namespace corvex
