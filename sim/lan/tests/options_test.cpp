#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "client.h"
#include "options.h"

namespace kestrel::sim::test {
namespace {

LanCommandLine parse(std::vector<std::string_view> args) { return parse_lan_command_line(args); }

TEST(LanOptions, DefaultsToOneBoardOnTheLibrarysPort) {
  const auto cl = parse({});
  ASSERT_TRUE(cl.error.empty());
  ASSERT_EQ(cl.boards.size(), 1u);
  EXPECT_EQ(cl.boards[0].tcp_port, kDefaultLanPort);
  EXPECT_FALSE(cl.boards[0].udp_port.has_value());
  EXPECT_EQ(cl.boards[0].address, "127.0.0.1");
  EXPECT_EQ(cl.boards[0].digest, sha256_of("kestrel"));
}

TEST(LanOptions, PortsCountUpAndFaultsApplyToEveryBoard) {
  const auto cl = parse({"--boards",    "3",           "--port",
                         "5000",        "--udp-port",  "6000",
                         "--password",  "pw",          "--split",
                         "2",           "--split-gap", "7",
                         "--delay",     "9",           "--close-mid-reply",
                         "4",           "--refuse",    "--mute-replies",
                         "--discovery", "header"});
  ASSERT_TRUE(cl.error.empty()) << cl.error;
  ASSERT_EQ(cl.boards.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const LanBoardConfig& b = cl.boards[i];
    EXPECT_EQ(b.tcp_port, 5000 + i);
    EXPECT_EQ(b.udp_port, 6000 + i);
    EXPECT_EQ(b.digest, sha256_of("pw"));
    EXPECT_EQ(b.faults.split, 2u);
    EXPECT_EQ(b.faults.split_gap, 7ms);
    EXPECT_EQ(b.faults.delay, 9ms);
    EXPECT_EQ(b.faults.close_mid_reply, 4u);
    EXPECT_TRUE(b.faults.refuse_login);
    EXPECT_TRUE(b.faults.mute_replies);
    EXPECT_FALSE(b.faults.mute_login);
    EXPECT_EQ(b.discovery, DiscoveryAnswer::header_only);
  }
  const auto any = parse({"--boards", "2", "--port", "0"});
  EXPECT_EQ(any.boards[1].tcp_port, 0);
}

TEST(LanOptions, DigestChallengeAndConfigFile) {
  const std::string hex(64, 'a');
  const auto cl = parse({"--digest", hex, "--challenge", "000102030405060708090a0b0c0d0e0f10111213"});
  ASSERT_TRUE(cl.error.empty()) << cl.error;
  Digest all_aa{};
  all_aa.fill(0xAA);
  EXPECT_EQ(cl.boards[0].digest, all_aa);
  Challenge expected{};
  for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(cl.boards[0].challenge, expected);

  const auto path = std::filesystem::temp_directory_path() / ("kestrel-lan-" + std::to_string(::getpid()) + ".ini");
  std::ofstream(path) << "[board]\nversion = 0x22\n[board]\nserial = B\nrepeat = 2\n";
  const auto described = parse({"--config", path.string()});
  std::filesystem::remove(path);
  ASSERT_TRUE(described.error.empty()) << described.error;
  ASSERT_EQ(described.boards.size(), 3u);
  EXPECT_EQ(described.boards[0].board.version, 0x22);
  EXPECT_EQ(described.boards[2].board.serial, "B0000001");
}

TEST(LanOptions, BadArgumentsSayWhat) {
  EXPECT_NE(parse({"--digest", "abc"}).error.find("--digest"), std::string::npos);
  EXPECT_NE(parse({"--challenge", "00"}).error.find("--challenge"), std::string::npos);
  EXPECT_NE(parse({"--port", "70000"}).error.find("--port"), std::string::npos);
  EXPECT_NE(parse({"--port", "65535", "--boards", "2"}).error.find("--port"), std::string::npos);
  EXPECT_NE(parse({"--boards", "0"}).error.find("--boards"), std::string::npos);
  EXPECT_NE(parse({"--discovery", "loud"}).error.find("--discovery"), std::string::npos);
  EXPECT_NE(parse({"--config", "/nonexistent/boards.ini"}).error.find("--config"), std::string::npos);
  EXPECT_NE(parse({"--delay"}).error.find("--delay"), std::string::npos);
  EXPECT_NE(parse({"--loud"}).error.find("--loud"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::sim::test
