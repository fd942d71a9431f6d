#pragma once
// Where a session writes its log lines, and the kinds of line.

#include <QString>
#include <cstddef>

namespace kestrel {

// Notes are the tester's own remarks; Fault is its line for a port or board
// that failed. Info and Error are the blue and red lines of the customer
// windows, Judged and JudgedNg their channel lines read back against the file.
// A kind says what a line is; a window's style gives each kind its colours.
enum class LineKind { Sent, Received, Note, Info, Error, Judged, JudgedNg, Fault };
constexpr std::size_t kLineKinds = 8;

class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void AddLog(const QString& text, LineKind kind = LineKind::Sent) = 0;
};

}  // namespace kestrel
