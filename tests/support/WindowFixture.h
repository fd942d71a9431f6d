#pragma once
// A serial window's surroundings: COM1 on a bare pseudo-terminal, recorded
// messages, virtual time, an application end that is only counted, and a
// settings store of its own.

#include "kit/AppEnd.h"
#include "support/Pty.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kestrel::test {

class WindowFixture : public ::testing::Test {
 protected:
  WindowFixture() {
    installApplicationEnd([this] { ++ends; });
  }
  ~WindowFixture() override { installApplicationEnd({}); }
  // Lets the port deliver what the pty holds.
  void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  // Windows keep choices (the last log folder) in the settings store: never
  // in the user's own.
  TempRegistry settingsStore;
  Pty pty;
  ComPortOverride com1{1, pty.slave()};
  RecordingPrompt prompt;
  VirtualPause pause;
  int ends = 0;
};

}  // namespace kestrel::test
