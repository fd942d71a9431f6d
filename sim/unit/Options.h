#pragma once
// How a simulated unit behaves, and the command line that sets it.

#include "unit/Protocol.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::sim {

struct Options {
  std::string protocol = "buffered";
  // Wait before each answer, as a real unit takes a moment.
  std::chrono::milliseconds answerDelay{5};
  // Refuse every k-th frame or channel line even when it is right; 0 never.
  unsigned nakEvery = 0;
  // How long a channel line plays, between its two ACKs (mode1); with 0 both
  // go out in one write.
  std::chrono::milliseconds playTime{0};
  // Receive and record, never answer.
  bool silent = false;
  // Bytes a tester must cope with arriving unasked.
  Bytes strayBytes{};
  // Sent just before every n-th answer; 0 never.
  unsigned strayEvery = 0;
  // Sent once, right after the first answer.
  bool strayOnce = false;
  // Where received bytes go: "" nowhere, "-" one hex line per item on
  // stdout, else a file the raw bytes are appended to as they come.
  std::string record{};
};

struct CommandLine {
  Options options;
  bool help = false;
  std::string error;  // empty when the arguments made sense
};

CommandLine parseCommandLine(const std::vector<std::string_view>& args);
std::string usage(std::string_view program);

}  // namespace kestrel::sim
