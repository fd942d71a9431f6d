#include <gtest/gtest.h>

#include "board.h"

using namespace kestrel::sim;

namespace {

Bytes reply_of(Board& b) {
  Bytes out(b.reply_waiting());
  b.take_reply(out.data(), out.size());
  return out;
}

}  // namespace

TEST(BoardMonitor, CommandsSplitAcrossWritesRunOnceComplete) {
  Board b;
  b.receive(Bytes{0x02, 0x00});
  b.receive(Bytes{0x11, 0x00});
  EXPECT_TRUE(b.executed().empty());
  b.receive(Bytes{0x00, 0x7E, 0x03, 0x00, 0x11});
  ASSERT_EQ(b.executed().size(), 1u);
  EXPECT_EQ(b.executed()[0].bytes, (Bytes{0x02, 0x00, 0x11, 0x00, 0x00, 0x7E}));
  b.receive(Bytes{0x00, 0x00});
  EXPECT_EQ(reply_of(b), (Bytes{0x7E}));
  // A block write's data may arrive a byte at a time.
  const Bytes header{0x06, 0x00, 0x11, 0x00, 0x10, 0x00, 0x03, 0x01, 0x00};
  b.receive(header);
  for (std::uint8_t v : {0xA1, 0xA2, 0xA3}) b.receive(&v, 1);
  EXPECT_EQ(b.peek(0x110012), 0xA3);
  EXPECT_EQ(b.executed().back().bytes.size(), 12u);
}

TEST(BoardMonitor, ReplyLengthsFollowTheCommand) {
  BoardConfig c;
  c.version = 0x21;
  c.version_word = 0x00030201;
  c.status_word = 0xBEEF;
  Board b(c);
  const std::pair<Bytes, std::size_t> cases[] = {{{0x01}, 1},
                                                 {{0x03, 0, 0, 0, 1}, 1},
                                                 {{0x05, 0, 0, 0, 1}, 2},
                                                 {{0x07, 0, 0, 0, 0, 0, 5, 1, 0, 0, 0}, 5},
                                                 {{0x0A}, 2},
                                                 {{0x11}, 1},
                                                 {{0x12, 0x13}, 8},
                                                 {{0x14, 3}, 3},
                                                 {{0x15}, 2},
                                                 {{0x1A, 0x40, 0, 0, 0, 3, 0, 0}, 6},
                                                 {{0x31, 2}, 4},
                                                 {{0x3A}, 4},
                                                 {{0x02, 0, 0, 0, 1, 9}, 0},
                                                 {{0x0B}, 0},
                                                 {{0x0C}, 0},
                                                 {{0xFF}, 0},
                                                 {{0x3C, 1, 2, 3, 4}, 0},
                                                 {{0x60, 1}, 0},
                                                 {{0x13, 2, 'o', 'k'}, 0},
                                                 {{0x1B, 0, 0, 0, 0, 0, 0, 0, 0}, 0}};
  for (const auto& [request, length] : cases) {
    b.receive(request);
    EXPECT_EQ(b.reply_waiting(), length) << int(request[0]);
    b.drop_replies();
  }
  b.receive(Bytes{0x0A});
  EXPECT_EQ(reply_of(b), (Bytes{0xBE, 0xEF}));
  b.receive(Bytes{0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(b.reply_waiting(), 65536u);
  EXPECT_EQ(b.serial_output(), (Bytes{'o', 'k'}));
}

TEST(BoardMonitor, PortsDriveOutputsAndReadInputsByDirection) {
  Board b;
  b.set_input_pins(0xFFFFD0, 0b1010'0101);
  b.receive(Bytes{0x02, 0, 0xFE, 0xE0, 0x00, 0x0F});  // low nibble output
  b.receive(Bytes{0x02, 0, 0xFF, 0xFF, 0xD0, 0x3C});
  EXPECT_EQ(b.direction(0xFFFFD0), 0x0F);
  EXPECT_EQ(b.output_pins(0xFFFFD0), 0x0C);
  b.receive(Bytes{0x03, 0, 0xFF, 0xFF, 0xD0});
  EXPECT_EQ(reply_of(b), (Bytes{0xAC}));
}

TEST(BoardMonitor, ShortFormsUseTheLastAddressAndMasksKeepOtherBits) {
  Board b;
  b.receive(Bytes{0x02, 0, 0x20, 0, 0, 0xF0});
  b.receive(Bytes{0x1D, 0x05, 0x0F});
  EXPECT_EQ(b.peek(0x200000), 0xF5);
  b.receive(Bytes{0x1C, 0, 0x20, 0, 1, 0xFF, 0x81});
  EXPECT_EQ(b.peek(0x200001), 0x81);
  b.receive(Bytes{0x10, 0x42});
  EXPECT_EQ(b.peek(0x200001), 0x42);
  b.receive(Bytes{0x11});
  EXPECT_EQ(reply_of(b), (Bytes{0x42}));
}

TEST(BoardMonitor, CountersConvertersAndCopies) {
  Board b;
  b.set_ad_word(0, 0x0123);
  b.set_ad_word(3, 0x0FFF);
  b.receive(Bytes{0x12, 0x13});
  EXPECT_EQ(reply_of(b), (Bytes{0x01, 0x23, 0, 0, 0, 0, 0x0F, 0xFF}));
  b.receive(Bytes{0x30, 2, 0x01, 0x02, 0x03, 0x04});
  EXPECT_EQ(b.counter(2), 0x01020304u);
  b.receive(Bytes{0x31, 0, 0x31, 1, 0x31, 2, 0x31, 3});
  EXPECT_EQ(reply_of(b), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 0, 0, 0, 0}));
  b.poke(0x300000, 0x11);
  b.poke(0x300001, 0x22);
  b.receive(Bytes{0x0F, 0, 0x30, 0, 0, 0, 0x30, 0, 0x10});
  EXPECT_EQ(b.peek(0x300011), 0x22);
  b.receive(Bytes{0x0D, 0, 0x30, 0, 0, 0, 0x31, 0, 0, 0, 2, 0, 0, 0, 0});
  EXPECT_EQ(b.peek(0x310001), 0x22);
  b.receive(Bytes{0x3C, 0xFF, 0xFF, 0xFF, 0xFE});
  EXPECT_EQ(b.initialize_value(), 0xFFFFFFFEu);
}

TEST(BoardMonitor, CountersCountWhenEnabledAndConditionedThenDriveTheirOutput) {
  Board b;
  const std::uint32_t block = Board::kCounterBlocks + 28 * 3;
  b.receive(Bytes{0x06, 0x0F, 0xFF, 0xE7, 0x78, 0x00, 0x14, 0x01, 0x00,  // compare 2, output 0x200000,
                  0,    0,    0,    2,    0,    0x20, 0,    0,    0,     // condition 0x200001 bit 0x80,
                  0x20, 0,    1,    0,    0,    0,    0,    0x0F, 0x80,  // value 0x0F under mask 0x3C
                  0,    0x3C});
  EXPECT_EQ(b.counter_block(3).compare_out_mask, 0x3C);
  b.poke(0x200000, 0xC3);
  b.pulse(3);
  EXPECT_EQ(b.counter(3), 0u);  // not enabled
  b.receive(Bytes{0x02, 0, 0xFE, 0xE0, 0x15, 0x04});
  b.pulse(3, 2);
  EXPECT_EQ(b.counter(3), 0u);  // condition bit clear
  b.poke(0x200001, 0x80);
  b.pulse(3);
  EXPECT_EQ(b.peek(0x200000), 0xC3);
  b.pulse(3);
  EXPECT_EQ(b.counter(3), 2u);
  EXPECT_EQ(b.peek(0x200000), 0xCF);
  EXPECT_EQ(b.peek(Board::kCounterPending), 0x04);
  b.poke(Board::kCounterPending, 0x36);
  b.receive(Bytes{0x02, 0, 0xFE, 0xE0, 0x16, 0xFB});  // a written zero clears only that flag
  EXPECT_EQ(b.peek(Board::kCounterPending), 0x32);
  EXPECT_EQ(b.peek(block + 19), 0x3C);
}

TEST(BoardMonitor, TimedCopyMovesOneBytePerTickAndStopsOrRepeats) {
  Board b;
  for (std::uint32_t i = 0; i < 3; ++i) b.poke(0x300000 + i, static_cast<std::uint8_t>(0x61 + i));
  const Bytes params{0, 0x30, 0, 0, 0, 0x31, 0, 0, 0, 0x30, 0, 0, 0, 0x31, 0, 0, 0, 0, 0, 2, 0, 0, 0};
  Bytes once{0x06, 0x0F, 0xFF, 0xE7, 0x9C, 0x00, 0x17, 0x01, 0x00};
  once.insert(once.end(), params.begin(), params.end());
  b.receive(once);
  b.copy_clock(0, 4);
  EXPECT_FALSE(b.copy_running(0));
  EXPECT_EQ(b.peek(0x310000), 0);  // not started
  b.receive(Bytes{0x60, 0});
  EXPECT_TRUE(b.copy_running(0));
  b.copy_clock(0, 4);
  EXPECT_FALSE(b.copy_running(0));
  EXPECT_EQ(b.peek(0x310001), 0x62);
  EXPECT_EQ(b.peek(0x310002), 0);

  Bytes repeat = once;
  repeat[0x9C - 0x9C + 9 + 22] = 1;
  repeat[4] = 0xB8;  // channel 1
  b.receive(repeat);
  b.receive(Bytes{0x60, 1});
  b.copy_clock(1, 3);
  EXPECT_TRUE(b.copy_running(1));
  EXPECT_EQ(b.peek(Board::kCopyBlocks + 28 + 11), 0x01);  // current source back at the start, plus one
  EXPECT_EQ(b.peek(Board::kCopyBlocks + 28 + 17), 1);
}

TEST(BoardMonitor, SerialLoopbackAndWriteNumbers) {
  BoardConfig c;
  c.sci_loopback = true;
  Board b(c);
  b.receive(Bytes{0x13, 2, 'o', 'k', 0x15});
  EXPECT_EQ(b.serial_output(), (Bytes{'o', 'k'}));
  EXPECT_EQ(reply_of(b), (Bytes{0, 2}));
  b.receive(Bytes{0x14, 3});
  EXPECT_EQ(reply_of(b), (Bytes{'o', 'k', 0}));
  ASSERT_EQ(b.executed().size(), 3u);
  EXPECT_EQ(b.executed()[0].write, b.executed()[1].write);
  EXPECT_EQ(b.executed()[1].write + 1, b.executed()[2].write);
  EXPECT_TRUE(parse_config("[board]\nsci_loopback = 1\n")->boards[0].sci_loopback);
  EXPECT_FALSE(Board().config().sci_loopback);
}

TEST(BoardMonitor, CommandRecordKeepsTheLatest) {
  Board b;
  for (std::size_t i = 0; i < Board::kExecutedKept + 2; ++i) b.receive(Bytes{0x10, static_cast<std::uint8_t>(i)});
  ASSERT_EQ(b.executed().size(), Board::kExecutedKept);
  EXPECT_EQ(b.executed().front().bytes[1], 2);
  EXPECT_EQ(b.executed().back().bytes[1], static_cast<std::uint8_t>(Board::kExecutedKept + 1));
}

TEST(BoardMonitor, LoneAbortAbandonsAnIncompleteCommand) {
  Board b;
  b.receive(Bytes{0x06, 0, 0x20, 0, 0, 0x01, 0x00, 1, 0, 0xAA});  // expects 256 data bytes
  b.receive(Bytes{0x0C});
  b.receive(Bytes{0x02, 0, 0x20, 0, 0, 0x77});
  EXPECT_EQ(b.peek(0x200000), 0x77);
  ASSERT_EQ(b.executed().size(), 2u);
  EXPECT_EQ(b.executed()[0].bytes, (Bytes{0x0C}));
}

TEST(BoardFlash, EraseBlocksAndWriterCommands) {
  EXPECT_EQ(Board::erase_block_range(0), (std::pair<std::uint32_t, std::uint32_t>{0, 0x1000}));
  EXPECT_EQ(Board::erase_block_range(7), (std::pair<std::uint32_t, std::uint32_t>{0x7000, 0x1000}));
  EXPECT_EQ(Board::erase_block_range(8), (std::pair<std::uint32_t, std::uint32_t>{0x8000, 0x8000}));
  EXPECT_EQ(Board::erase_block_range(9), (std::pair<std::uint32_t, std::uint32_t>{0x10000, 0x10000}));
  EXPECT_EQ(Board::erase_block_range(15), (std::pair<std::uint32_t, std::uint32_t>{0x70000, 0x10000}));

  BoardConfig c;
  c.flash_writer = true;
  c.writer_echo = 0xED;
  c.hardware_version = 0x00010203;
  Board b(c);
  b.load_flash(0x1000, Bytes(0x1000, 0x00));
  b.receive(Bytes{0xEE});
  b.receive(Bytes{0x3A});
  EXPECT_EQ(reply_of(b), (Bytes{0xED, 0x00, 0x01, 0x02, 0x03}));
  b.receive(Bytes{0xA5, 0x02, 0x00});  // block 1
  EXPECT_EQ(reply_of(b), (Bytes{0x00}));
  EXPECT_EQ(b.flash(0x1FFF), 0xFF);
  Bytes block{0x5B, 0x80, 0x10, 0, 0};
  for (int i = 0; i < 128; ++i) block.push_back(static_cast<std::uint8_t>(i));
  block.push_back(0x00);  // wrong check sum
  block.push_back(0x00);
  b.receive(block);
  EXPECT_EQ(reply_of(b), (Bytes{0x06}));
  block[133] = 0xC0;  // 0..127 sums to 0x1FC0
  block[134] = 0x1F;
  b.receive(block);
  EXPECT_EQ(reply_of(b), (Bytes{0x00}));
  b.receive(Bytes{0x11, 0x80, 0x10, 0, 0});
  const Bytes read = reply_of(b);
  ASSERT_EQ(read.size(), 128u);
  EXPECT_EQ(read[127], 127);
  b.receive(Bytes{0x01});  // not a writer command
  EXPECT_EQ(reply_of(b), (Bytes{0xFF}));
}

TEST(BoardFlash, ProductRecordLivesInAreaSeven) {
  BoardConfig c;
  c.product = ProductRecord{*parse_uuid("01234567-89ab-cdef-0123-456789abcdef"), 0x0A0B0C0D};
  Board b(c);
  b.receive(Bytes{0x07, 0, 0, 0x70, 0, 0, 24, 1, 0, 0, 0});
  const Bytes r = reply_of(b);
  EXPECT_EQ(r, (Bytes{0,    0,    0,    0,    0x67, 0x45, 0x23, 0x01, 0xAB, 0x89, 0xEF, 0xCD,
                      0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x0D, 0x0C, 0x0B, 0x0A}));
  EXPECT_EQ(b.flash(7 * 4096 + 128), 0xFF);
}

TEST(BoardConfigText, SectionsRepeatsAndErrors) {
  const auto config = parse_config(
      "# two kinds\n[board]\nserial = A1234567\nuser_area = KESTREL\n"
      "version = 0x21\nmode = writer\n\n[driver]\nlist_status = 4\n"
      "[board]\nserial = T\nrepeat = 3\n"
      "pid = 0xF002\nheld = 1\nuser_area_hex = 01 0a ff\neeprom = 0\n");
  ASSERT_TRUE(config);
  EXPECT_EQ(config->list_status, 4u);
  const auto* boards = &config->boards;
  ASSERT_EQ(boards->size(), 4u);
  EXPECT_EQ((*boards)[0].serial, "A1234567");
  EXPECT_EQ((*boards)[0].user_area, (Bytes{'K', 'E', 'S', 'T', 'R', 'E', 'L'}));
  EXPECT_EQ((*boards)[0].version, 0x21);
  EXPECT_TRUE((*boards)[0].flash_writer);
  EXPECT_EQ((*boards)[1].serial, "T0000000");
  EXPECT_EQ((*boards)[3].serial, "T0000002");
  EXPECT_EQ((*boards)[3].product_id, 0xF002);
  EXPECT_TRUE((*boards)[3].held);
  EXPECT_EQ((*boards)[3].user_area, (Bytes{0x01, 0x0A, 0xFF}));
  EXPECT_FALSE((*boards)[3].eeprom_readable);
  EXPECT_TRUE((*boards)[0].eeprom_readable);
  EXPECT_EQ((*boards)[0].link_bytes_per_second, 0u) << "at memory speed unless asked";
  const auto link = parse_config("[board]\nlink_bytes_per_second = 1000000\nlink_transfer_us = 1000\n");
  ASSERT_TRUE(link);
  EXPECT_EQ(link->boards[0].link_bytes_per_second, 1000000u);
  EXPECT_EQ(link->boards[0].link_transfer_us, 1000u);
  EXPECT_FALSE(parse_config("[board]\nversion = high\n"));
  EXPECT_FALSE(parse_config("serial = before any section\n"));
  EXPECT_FALSE(parse_config("[board]\nunknown = 1\n"));
  EXPECT_FALSE(parse_config("[driver]\nserial = A\n"));
  EXPECT_FALSE(parse_uuid("01234567-89ab-cdef-0123-456789abcdeg"));
}
