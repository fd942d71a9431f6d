#include <gtest/gtest.h>

#include "support/board_transport.h"
#include "flash_writer.h"
#include "protocol.h"

using namespace corvex::protocol;
using kestrel::sim::Board;
using kestrel::sim::BoardConfig;

// Single transfers, big blocks and copies are checked byte for byte through the library.
TEST(MonitorEncoding, BlockFlagsOptionsAndWordCopies) {
  const std::uint8_t data[] = {0x5C, 0x5D, 0x5E};
  EXPECT_EQ(block_write(0x10, data, 3, 7, 0x1FE),
            (Bytes{0x06, 0, 0, 0, 0x10, 0x00, 0x03, 0x01, 0xFE, 0x5C, 0x5D, 0x5E}));
  EXPECT_EQ(block_read(0x7000, 0x1234, 0, 0x102), (Bytes{0x07, 0, 0, 0x70, 0, 0x12, 0x34, 0, 2, 0, 0}));
  EXPECT_EQ(copy16(0x01020304, 0x05060708), (Bytes{0x0F, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(MonitorEncoding, PeripheralAndControlCommands) {
  EXPECT_EQ(read_version(), (Bytes{0x01}));
  EXPECT_EQ(read_status(), (Bytes{0x0A}));
  EXPECT_EQ(initialize(), (Bytes{0x0B}));
  EXPECT_EQ(corvex::protocol::abort(), (Bytes{0x0C}));
  EXPECT_EQ(ad_read(0x13), (Bytes{0x12, 0x13}));
  const std::uint8_t text[] = {'a', 'b', 'c'};
  EXPECT_EQ(sci_write(text, 3), (Bytes{0x13, 3, 'a', 'b', 'c'}));
  EXPECT_EQ(sci_read(200), (Bytes{0x14, 200}));
  EXPECT_EQ(sci_status(), (Bytes{0x15}));
  EXPECT_EQ(ad_block_read(0x40, 0x01020304), (Bytes{0x1A, 0x40, 1, 2, 3, 4, 0, 0}));
  EXPECT_EQ(ad_start(0x11, kNoAddress, 7, 0), (Bytes{0x1B, 0x11, 0xFF, 0xFF, 0xFF, 0xFF, 7, 1, 1}));
  EXPECT_EQ(ad_start(0x02, 0x2000, 7, 5), (Bytes{0x1B, 0x02, 0, 0, 0x20, 0, 7, 0, 0}));
  EXPECT_EQ(counter_set(2, 0xDEADBEEF), (Bytes{0x30, 2, 0xDE, 0xAD, 0xBE, 0xEF}));
  EXPECT_EQ(counter_read(3), (Bytes{0x31, 3}));
  EXPECT_EQ(counter_read_all(), (Bytes{0x31, 0, 0x31, 1, 0x31, 2, 0x31, 3}));
  EXPECT_EQ(da_set_parm(5, 0x123456, 0x789A, 0x1BC), (Bytes{0x38, 1, 0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}));
  std::array<std::uint8_t, 18> parameters{};
  parameters[0] = 9;
  parameters[17] = 8;
  const Bytes copy = ad_copy(parameters);
  ASSERT_EQ(copy.size(), 19u);
  EXPECT_EQ(copy[0], 0x39);
  EXPECT_EQ(copy[1], 9);
  EXPECT_EQ(copy[18], 8);
  EXPECT_EQ(read_version_word(), (Bytes{0x3A}));
  const std::uint8_t payload[] = {0xAA, 0xBB};
  EXPECT_EQ(user_command(0x12345, 0x01020304, 0x05060708, payload, 2),
            (Bytes{0x3B, 0x23, 0x45, 1, 2, 3, 4, 5, 6, 7, 8, 0xAA, 0xBB}));
  EXPECT_EQ(user_command(1, 0, 0, nullptr, 0).size(), 11u);
  EXPECT_EQ(initialize_a(0xFFFFFFFE), (Bytes{0x3C, 0xFF, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(timed_copy_start(3), (Bytes{0x60, 3}));
  EXPECT_EQ(resync(), (Bytes{0xFF}));
}

TEST(WriterEncoding, FieldsAreLeastSignificantFirstAndSeparatePieces) {
  EXPECT_EQ(writer_echo(), (Pieces{{0xEE}}));
  EXPECT_EQ(writer_version(), (Pieces{{0x3A}}));
  EXPECT_EQ(writer_read(0x00071080), (Pieces{{0x11}, {0x80, 0x10, 0x07, 0x00}}));
  EXPECT_EQ(writer_erase(0x8102), (Pieces{{0xA5}, {0x02, 0x81}}));
  EXPECT_EQ(writer_begin(), (Pieces{{0x5A}}));
  EXPECT_EQ(writer_finish(), (Pieces{{0x5C}}));
  const Bytes block(128, 0xFF);
  const Pieces p = writer_block(0x1080, block.data());
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p[0], (Bytes{0x5B}));
  EXPECT_EQ(p[1], (Bytes{0x80, 0x10, 0x00, 0x00}));
  EXPECT_EQ(p[2], block);
  EXPECT_EQ(p[3], (Bytes{0x80, 0x7F}));  // 128 x 0xFF = 0x7F80
}

TEST(VersionEncoding, BcdNumbersAndWords) {
  EXPECT_EQ(version_number(0x21), 21u);
  EXPECT_EQ(version_number(0x31), 31u);
  EXPECT_EQ(version_number(0xFF), 165u);
  EXPECT_FALSE(needs_version_word(29));
  EXPECT_TRUE(needs_version_word(30));
  EXPECT_EQ(synthesized_version_word(0x21), 0x00020100u);
  EXPECT_EQ(synthesized_version_word(0x29), 0x00020900u);
  EXPECT_EQ(synthesized_version_word(0x0A), 0x00000A00u);  // digits as they stand
  EXPECT_EQ(synthesized_version_word(0x1F), 0x00010F00u);
  EXPECT_FALSE(is_monitor_version(5));
  EXPECT_FALSE(is_monitor_version(165));
  EXPECT_TRUE(is_monitor_version(21));
}

class FlashProgramming : public ::testing::Test {
 protected:
  FlashProgramming() {
    BoardConfig config;
    config.flash_writer = true;
    board = std::make_unique<Board>(config);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  }
  std::vector<Bytes> codes() const {
    std::vector<Bytes> out;
    for (const auto& e : board->executed()) out.push_back(Bytes{e.bytes[0]});
    return out;
  }
  std::unique_ptr<Board> board;
  Bytes data = Bytes(256);
};

TEST_F(FlashProgramming, WritesEveryBlockThenFinishes) {
  BoardTransport t(*board);
  EXPECT_EQ(corvex::program_flash_blocks(t, 0x1000, data.data(), 256), CVX_OK);
  EXPECT_EQ(codes(), (std::vector<Bytes>{{0x5A}, {0x5B}, {0x5B}, {0x5C}}));
  // Command, address, data and check sum travel as separate writes.
  EXPECT_EQ(t.writes, 1u + 2 * 4 + 1);
  for (std::uint32_t i = 0; i < 256; ++i) ASSERT_EQ(board->flash(0x1000 + i), data[i]) << i;
  EXPECT_EQ(board->executed()[2].bytes[1], 0x80);  // second block at 0x1080
  EXPECT_EQ(board->executed()[2].bytes[2], 0x10);
}

TEST_F(FlashProgramming, ResendsABlockFourTimesAndGivesUpOnTheFifthSix) {
  BoardTransport t(*board);
  board->answer_blocks_again(5);
  EXPECT_EQ(corvex::program_flash_blocks(t, 0x1000, data.data(), 256), CVX_FLASH_RETRIES);
  EXPECT_EQ(codes(), (std::vector<Bytes>{{0x5A}, {0x5B}, {0x5B}, {0x5B}, {0x5B}, {0x5B}, {0x5C}}));
  EXPECT_EQ(board->flash(0x1000), 0xFF);
}

TEST_F(FlashProgramming, FinishingAnswerReplacesTheRetryStatus) {
  BoardTransport t(*board);
  board->answer_blocks_again(5);
  board->set_finish_answer(0x09);
  EXPECT_EQ(corvex::program_flash_blocks(t, 0x1000, data.data(), 128), CVX_FLASH_ERROR_BASE + 0x09);
}

TEST_F(FlashProgramming, FourSixesThenSuccessGoesOn) {
  BoardTransport t(*board);
  board->answer_blocks_again(4);
  EXPECT_EQ(corvex::program_flash_blocks(t, 0x1000, data.data(), 256), CVX_OK);
  EXPECT_EQ(codes().size(), 1u + 5 + 1 + 1);
  EXPECT_EQ(board->flash(0x10FF), data[255]);
}

TEST_F(FlashProgramming, OtherErrorByteEndsAtOnceWithoutFinishing) {
  BoardTransport t(*board);
  // Address beyond the flash: the model answers error 0x11.
  EXPECT_EQ(corvex::program_flash_blocks(t, 0x80000, data.data(), 128), CVX_FLASH_ERROR_BASE + 0x11);
  EXPECT_EQ(codes(), (std::vector<Bytes>{{0x5A}, {0x5B}}));
}

TEST_F(FlashProgramming, MissingAnswerIsReportedAsFailed) {
  Board monitor{BoardConfig{}};  // the monitor firmware never answers 5A
  BoardTransport t(monitor);
  EXPECT_EQ(corvex::program_flash_blocks(t, 0x1000, data.data(), 128), CVX_FAILED);
  EXPECT_EQ(corvex::writer_echo(t), CVX_FAILED);
}

TEST_F(FlashProgramming, EchoAcceptsBothWriterAnswers) {
  BoardTransport t(*board);
  EXPECT_EQ(corvex::writer_echo(t), CVX_OK);
  BoardConfig other;
  other.flash_writer = true;
  other.writer_echo = 0xED;
  Board second(other);
  BoardTransport t2(second);
  EXPECT_EQ(corvex::writer_echo(t2), CVX_OK);
  other.writer_echo = 0xEC;
  Board third(other);
  BoardTransport t3(third);
  EXPECT_EQ(corvex::writer_echo(t3), CVX_FAILED);
}
