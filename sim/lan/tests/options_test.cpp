#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "support/lan_client.h"
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

TEST(LanOptions, WriterBoardsAskingForAnAddressAndTheDhcpServer) {
  const auto plain = parse({});
  EXPECT_FALSE(plain.boards[0].board.flash_writer);
  EXPECT_FALSE(plain.boards[0].ask_address);
  EXPECT_FALSE(plain.dhcp);

  const auto cl = parse({"--boards", "2", "--flash-writer", "--ask-address", "--mac", "02:00:00:00:01:ff",
                         "--server-name", "bench", "--dhcp-offer", "10.1.2.3", "--dhcp-mask", "255.255.0.0"});
  ASSERT_TRUE(cl.error.empty()) << cl.error;
  ASSERT_EQ(cl.boards.size(), 2u);
  for (const auto& b : cl.boards) {
    EXPECT_TRUE(b.board.flash_writer);
    ASSERT_TRUE(b.ask_address);
    EXPECT_EQ(b.ask_address->server_name, "bench");
    EXPECT_EQ(b.ask_address->target, "255.255.255.255");
    EXPECT_EQ(b.ask_address->own_port, 68);
  }
  EXPECT_EQ(cl.boards[0].ask_address->mac, (std::array<std::uint8_t, 6>{0x02, 0, 0, 0, 0x01, 0xFF}));
  EXPECT_EQ(cl.boards[1].ask_address->mac, (std::array<std::uint8_t, 6>{0x02, 0, 0, 0, 0x02, 0x00}));
  ASSERT_TRUE(cl.dhcp);
  EXPECT_EQ(cl.dhcp->offer, "10.1.2.3");
  EXPECT_EQ(cl.dhcp->mask, "255.255.0.0");
  EXPECT_EQ(cl.dhcp->server_id, "10.77.0.2");
  EXPECT_EQ(cl.dhcp->port, 67);

  const auto defaults = parse({"--ask-address", "--dhcp-server-id", "10.9.9.9"});
  ASSERT_TRUE(defaults.error.empty()) << defaults.error;
  EXPECT_EQ(defaults.boards[0].ask_address->mac, (AddressRequest{}.mac));
  EXPECT_EQ(defaults.dhcp->server_id, "10.9.9.9");
  EXPECT_EQ(defaults.dhcp->offer, "10.77.0.50");

  EXPECT_NE(parse({"--ask-address", "--mac", "02:00:00:00:01"}).error.find("--mac"), std::string::npos);
  EXPECT_NE(parse({"--ask-address", "--mac", "02-00-00-00-01-02"}).error.find("--mac"), std::string::npos);
  EXPECT_NE(parse({"--ask-address", "--mac", "02:00:00:00:01:g2"}).error.find("--mac"), std::string::npos);
  EXPECT_NE(parse({"--mac", "02:00:00:00:01:02"}).error.find("--ask-address"), std::string::npos);
  EXPECT_NE(parse({"--dhcp-offer", "10.1.2"}).error.find("--dhcp-offer"), std::string::npos);
  EXPECT_NE(parse({"--dhcp-mask"}).error.find("--dhcp-mask"), std::string::npos);
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

TEST(LanOptions, ExpansionBoardsWithABinaryUnit) {
  const auto plain = parse({});
  EXPECT_FALSE(plain.boards[0].board.binary_unit);
  EXPECT_FALSE(plain.boards[0].board.product);

  const auto cl = parse(
      {"--boards", "2", "--binary-play-ms", "40", "--expansion", "--binary-unit", "C", "--binary-logic", "positive"});
  ASSERT_TRUE(cl.error.empty()) << cl.error;
  for (std::size_t i = 0; i < 2; ++i) {
    const BoardConfig& b = cl.boards[i].board;
    ASSERT_TRUE(b.binary_unit);
    EXPECT_EQ(b.binary_unit->protocol, BinaryProtocol::C);
    EXPECT_TRUE(b.binary_unit->positive_logic);
    EXPECT_EQ(b.binary_unit->playback, 40ms);
    ASSERT_TRUE(b.product);
    EXPECT_EQ(b.product->uuid, parse_uuid("787c7eb3-31ac-4be1-bd0a-c07563d39179"));
    EXPECT_EQ(b.product->unit, i + 1);
    EXPECT_GE(b.version_word, 0x030201u);
  }
  const auto defaults = parse({"--binary-unit", "A"});
  ASSERT_TRUE(defaults.boards[0].board.binary_unit);
  EXPECT_FALSE(defaults.boards[0].board.binary_unit->positive_logic);
  EXPECT_EQ(defaults.boards[0].board.binary_unit->playback, BinaryUnitConfig{}.playback);

  EXPECT_NE(parse({"--binary-unit", "D"}).error.find("--binary-unit"), std::string::npos);
  EXPECT_NE(parse({"--binary-unit"}).error.find("--binary-unit"), std::string::npos);
  EXPECT_NE(parse({"--binary-unit", "B", "--binary-logic", "high"}).error.find("--binary-logic"), std::string::npos);
  EXPECT_NE(parse({"--binary-logic", "positive"}).error.find("--binary-unit"), std::string::npos);
  EXPECT_NE(parse({"--binary-play-ms", "-1"}).error.find("--binary-play-ms"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::sim::test
