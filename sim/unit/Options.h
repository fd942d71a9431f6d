#pragma once
// How a simulated unit behaves, and the command line that sets it.

#include "unit/Protocol.h"
#include "unit/Schedule.h"

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
  // How long a channel command plays before what the unit sends once played
  // (mode1: its second ACK); with 0 that goes in the same write as the answer.
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
  // Everything the unit sends goes one byte per write, this long apart; with
  // 0 each answer is one write.
  std::chrono::milliseconds byteGap{0};
  // Every k-th message sent that ends in a check byte goes with it wrong; 0
  // never.
  unsigned badCheckEvery = 0;
  // hs4142: report each channel of a frame once the frame has played.
  bool report = false;
  // hs4142: report them with a wrong check byte; implies report.
  bool badReport = false;
  // plx6: "Trap " in place of "Ready" after the k-th channel frame; 0 never.
  unsigned trapAfter = 0;
  // fenwick: the schedule file the unit holds; "" holds nothing.
  std::string schedule{};
  // fenwick: every schedule answer with a wrong check byte.
  bool corruptCheck = false;
  // fenwick: every schedule answer without its STX.
  bool dropStx = false;
  // fenwick: a record with empty fields for this channel in every schedule
  // answer; 0 none.
  unsigned extraChannel = 0;
  // fenwick: fields sent other than the schedule has them.
  std::vector<FieldChange> changeFields{};
};

struct CommandLine {
  Options options;
  bool help = false;
  std::string error;  // empty when the arguments made sense
};

CommandLine parseCommandLine(const std::vector<std::string_view>& args);
std::string usage(std::string_view program);

}  // namespace kestrel::sim
