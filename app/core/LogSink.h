#pragma once
// Where a session writes its log lines, and the kinds of line.

#include <QString>
#include <cstddef>

namespace kestrel {

// Notes are the tester's own lines (port errors); Info and Error are the
// blue and red lines of the customer windows.
enum class LineKind { Sent, Received, Note, Info, Error };
constexpr std::size_t kLineKinds = 5;

class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void AddLog(const QString& text, LineKind kind = LineKind::Sent) = 0;
};

}  // namespace kestrel
