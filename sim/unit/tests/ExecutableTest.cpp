#include "support/ChildProcess.h"
#include "support/SlavePort.h"
#include "unit/BufferedProtocol.h"
#include "unit/CustomerProtocol.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace kestrel::sim::test {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The program as a script starts it in the background.
struct Child : kestrel::test::ChildProcess {
  explicit Child(std::vector<std::string> args) : ChildProcess(KESTREL_UNIT_SIM, std::move(args)) {}
};

TEST(Executable, PrintsTheSlavePathFirstAndExitsCleanlyOnSigterm) {
  Child sim({"--delay", "0"});
  const std::string path = sim.firstLine();
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << sim.output();
  SlavePort port(path);
  port.write({0x05});
  EXPECT_EQ(port.read(1), Bytes{0x06});
  EXPECT_EQ(sim.stop(SIGTERM), 0);
}

TEST(Executable, ExitsCleanlyOnSigint) {
  Child sim({});
  ASSERT_FALSE(sim.firstLine().empty());
  EXPECT_EQ(sim.stop(SIGINT), 0);
}

TEST(Executable, OptionsShapeTheAnswers) {
  Child sim({"--delay", "0", "--nak-every", "1", "--stray", "41"});
  SlavePort port(sim.firstLine());
  port.write(BufferedProtocol::frame(ascii("001")));
  EXPECT_EQ(port.read(2), (Bytes{0x41, 0x15}));
  EXPECT_EQ(sim.stop(), 0);
}

TEST(Executable, RecordDashPrintsAHexLinePerItem) {
  Child sim({"--delay", "0", "--record", "-"});
  const std::string path = sim.firstLine();
  SlavePort port(path);
  port.write({0x05});
  EXPECT_EQ(port.read(1), Bytes{0x06});
  port.write({0x02, 0x30, 0x30, 0x31, 0x03, 0x33});
  EXPECT_EQ(port.read(1), Bytes{0x15});
  port.write({0xFF});
  EXPECT_TRUE(port.drain(100ms).empty());
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_EQ(sim.output(), path +
                              "\n"
                              "enquiry 05 -> 06\n"
                              "frame 02 30 30 31 03 33 -> 15\n"
                              "stop FF\n");
}

TEST(Executable, RecordDashShowsTheDecodeAndBothAcks) {
  Child mode1({"--protocol", "mode1", "--delay", "0", "--record", "-"});
  const std::string mode1Path = mode1.firstLine();
  SlavePort port(mode1Path);
  port.write(ascii("001,002\r"));
  EXPECT_EQ(port.read(2), (Bytes{0x06, 0x06}));
  port.write(ascii("x\r"));
  EXPECT_EQ(port.read(1), Bytes{0x15});
  EXPECT_EQ(mode1.stop(), 0);
  EXPECT_EQ(mode1.output(), mode1Path +
                                "\n"
                                "frame 30 30 31 2C 30 30 32 0D channels 001 002 -> 06 06\n"
                                "unexpected 78 0D -> 15\n");

  Child wide({"--protocol", "buffered1000", "--delay", "0", "--record", "-"});
  const std::string widePath = wide.firstLine();
  SlavePort widePort(widePath);
  widePort.write(BufferedProtocol::frame(ascii("#0010005")));
  EXPECT_EQ(widePort.read(1), Bytes{0x06});
  EXPECT_EQ(wide.stop(), 0);
  EXPECT_EQ(wide.output(), widePath + "\nframe 02 23 30 30 31 30 30 30 35 03 14 line 1 channels 0005 -> 06\n");
}

TEST(Executable, RecordDashShowsWhatFollowsPlayingAndTheTestersAnswers) {
  Child sim({"--protocol", "customer", "--delay", "0", "--play-time", "50", "--record", "-"});
  const std::string path = sim.firstLine();
  SlavePort port(path);
  const std::vector<unsigned> one{1};
  port.write(CustomerProtocol::playList(one));
  EXPECT_EQ(port.read(9), (Bytes{0x10, 0x06, 0x00, 0x10, 0x02, 0x39, 0x10, 0x03, 0x2A}));
  port.write({0x10, 0x06, 0x00, 0x10, 0x15, 0x00, 0x41});
  EXPECT_TRUE(port.drain(100ms).empty());
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_EQ(sim.output(), path +
                              "\n"
                              "frame 10 02 43 31 30 31 10 03 60 play 1 -> 10 06 00\n"
                              "played play 1 -> 10 02 39 10 03 2A\n"
                              "answer 10 06 00 end acknowledged ACK\n"
                              "answer 10 15 00 NAK unasked\n"
                              "unexpected 41\n");
}

TEST(Executable, RecordDashDescribesScheduleRequestsAndBriskFrames) {
  Child fenwick({"--protocol", "fenwick", "--delay", "0", "--record", "-"});
  const std::string fenwickPath = fenwick.firstLine();
  SlavePort port(fenwickPath);
  port.write({0x02, 0x20, 0x30, 0x31, 0x32, 0x03, 0x10});
  EXPECT_EQ(port.read(3), (Bytes{0x02, 0x03, 0x03}));
  EXPECT_EQ(fenwick.stop(), 0);
  EXPECT_EQ(fenwick.output(), fenwickPath + "\nframe 02 20 30 31 32 03 10 channel 12 -> 02 03 03\n");

  Child brisk({"--protocol", "brisk", "--delay", "0", "--record", "-"});
  const std::string briskPath = brisk.firstLine();
  SlavePort briskPort(briskPath);
  briskPort.write({0x40, 0x3A, 0x30, 0x30, 0x35, 0x0D, 0x41});
  EXPECT_TRUE(briskPort.drain(100ms).empty());
  EXPECT_EQ(brisk.stop(), 0);
  EXPECT_EQ(brisk.output(), briskPath + "\nframe 40 3A 30 30 35 0D event 11 unit 005\nunexpected 41\n");
}

TEST(Executable, UnreadableScheduleFailsToStart) {
  Child sim({"--protocol", "fenwick", "--schedule", "/nonexistent/kestrel.wmj"});
  EXPECT_EQ(sim.wait(), 1);
  EXPECT_TRUE(sim.output().empty());
}

TEST(Executable, RecordFileGetsTheRawBytesWhileRunning) {
  const fs::path file = fs::temp_directory_path() / ("kestrel-unit-sim-" + std::to_string(::getpid()) + ".rec");
  fs::remove(file);
  Child sim({"--record", file.string(), "--silent"});
  SlavePort port(sim.firstLine());
  const Bytes sent{0x05, 0x02, 0x30, 0x03, 0x33, 0xFF, 0x11, 0x13, 0x0D};
  port.write(sent);
  std::string recorded;
  for (int i = 0; i < 200 && recorded.size() < sent.size(); ++i) {
    std::this_thread::sleep_for(10ms);
    recorded = slurp(file);
  }
  EXPECT_EQ(Bytes(recorded.begin(), recorded.end()), sent);
  EXPECT_TRUE(port.drain(100ms).empty());
  EXPECT_EQ(sim.stop(), 0);
  fs::remove(file);
}

TEST(Executable, HelpPrintsUsageAndBadArgumentsFail) {
  Child help({"--help"});
  EXPECT_EQ(help.wait(), 0);
  EXPECT_NE(help.output().find("--nak-every"), std::string::npos);

  Child bad({"--nak-every", "many"});
  EXPECT_EQ(bad.wait(), 2);
  EXPECT_TRUE(bad.output().empty());
}

}  // namespace
}  // namespace kestrel::sim::test
