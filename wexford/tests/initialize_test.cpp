// Both initialisations: the product check, the firmware gate and the
// board's initialised flag, command by command.
#include "support/expansion_board.h"

namespace {

using namespace wire;

// What CVX_Initialize sends: abort, initialise, both timer interrupt registers cleared.
const std::vector<Bytes> kCorvexInitialize = {{0x0C}, {0x0B}, write8(0xFFFF64, 0), write8(0xFFFF65, 0)};

class Initialize : public ExpansionBoards {
 protected:
  kestrel::sim::Board& x() { return board(0); }
};

TEST_F(Initialize, SetsUpThePortsAndTheFlag) {
  const WXF_HANDLE h = open_expansion();
  x().poke(kFlag, 0x81);
  ASSERT_EQ(WXF_Initialize(h), WXF_OK);
  EXPECT_EQ(sent(0), join({product_read(), kCorvexInitialize, port_set_up(), version_word_read(), {set_flag()}}));
  EXPECT_EQ(x().peek(kFlag), 0x91) << "only the flag bit changes";
  EXPECT_EQ(x().direction(0xFFFFD4), 0x03);
  EXPECT_EQ(x().output_pins(0xFFFFD3), 0xFF);
  EXPECT_EQ(x().output_pins(0xFFFFD9), 0xFF);
}

TEST_F(Initialize, FirmwareBefore321LeavesTheFlagByteAlone) {
  // The top byte of the version word does not count.
  for (const char* word : {"0x00030200", "0x01030200"}) {
    configure(board_text("X1", kUsbProduct, 1, std::string("version_word = ") + word + "\n"));
    const WXF_HANDLE h = open_expansion();
    x().poke(kFlag, 0x00);
    ASSERT_EQ(WXF_Initialize(h), WXF_OK) << word;
    EXPECT_EQ(sent(0), join({product_read(), kCorvexInitialize, port_set_up(), version_word_read()})) << word;
    EXPECT_EQ(x().peek(kFlag), 0x00);
  }
}

TEST_F(Initialize, AnotherProductIsRefusedBeforeAnyCommand) {
  // Another identifier; the expansion board's identifier in text byte order
  // (not the UUID layout); no record at all.
  Bytes text_order(128, 0);
  const Bytes id = {0x3a, 0xa4, 0x09, 0x6d, 0x2c, 0xc0, 0x46, 0xdd, 0x87, 0x8a, 0x88, 0x51, 0x1d, 0x75, 0xac, 0x78};
  std::copy(id.begin(), id.end(), text_order.begin() + 4);
  configure(board_text("X1", kUsbProduct, 1) + board_text("OTHER", "6b29fc40-ca47-1067-b31d-00dd010662da", 1) +
            "[board]\nserial = SWAPPED\n[board]\nserial = NONE\n");
  board(2).load_flash(7 * 4096, text_order);
  for (int i = 1; i <= 3; ++i) {
    const CVX_HANDLE h = open(board(i).config().serial.c_str());
    forget_sent();
    EXPECT_EQ(WXF_Initialize(h), WXF_NOT_EXPANSION_BOARD) << i;
    EXPECT_EQ(WXF_InitializeA(h, 0), WXF_NOT_EXPANSION_BOARD) << i;
    EXPECT_EQ(sent(i), join({product_read(), version_word_read(), product_read()})) << i;
  }
  EXPECT_EQ(WXF_Initialize(0), WXF_NOT_EXPANSION_BOARD) << "no record can be read through no handle";
  EXPECT_EQ(WXF_InitializeA(0, 0), CVX_INVALID_HANDLE);
}

TEST_F(Initialize, InitializeAKeepsAnInitialisedBoardRunning) {
  const WXF_HANDLE h = open_expansion();
  const std::vector<Bytes> checks = join({version_word_read(), product_read(), {read16(kFlag)}});
  x().poke(kFlag, 0x10);
  x().poke(kFlag + 1, 0x00);
  ASSERT_EQ(WXF_InitializeA(h, 0x1235), WXF_OK);
  EXPECT_EQ(sent(0), join({checks, {{0x0C}, {0x3C, 0x00, 0x00, 0x12, 0x34}, set_flag()}})) << "bit 0 cleared";
  EXPECT_EQ(x().initialize_value(), 0x1234u);
  EXPECT_EQ(x().direction(0xFFFFD3), 0x00) << "ports untouched";
}

TEST_F(Initialize, InitializeASetsUpAFreshBoardOrOnRequest) {
  const WXF_HANDLE h = open_expansion();
  const std::vector<Bytes> checks = join({version_word_read(), product_read(), {read16(kFlag)}});
  const std::vector<Bytes> full = {{0x0C}, {0x3C, 0xFF, 0xFF, 0xFF, 0xFF}};
  // Flag clear: the byte after it has bit 4 set, which must not count.
  x().poke(kFlag, 0xEF);
  x().poke(kFlag + 1, 0x10);
  ASSERT_EQ(WXF_InitializeA(h, 0x1234), WXF_OK);
  EXPECT_EQ(sent(0), join({checks, full, port_set_up(), {set_flag()}}));
  EXPECT_EQ(x().peek(kFlag), 0xFF);
  EXPECT_EQ(x().direction(0xFFFFD4), 0x03);

  // Flag set, but -1 asks for the whole set-up.
  forget_sent();
  ASSERT_EQ(WXF_InitializeA(h, -1), WXF_OK);
  EXPECT_EQ(sent(0), join({checks, full, port_set_up(), {set_flag()}}));
  EXPECT_EQ(x().initialize_value(), 0xFFFFFFFFu);
}

TEST_F(Initialize, InitializeANeedsFirmware321) {
  configure(board_text("X1", kUsbProduct, 1, "version_word = 0x00030200\n"));
  const WXF_HANDLE h = open_expansion();
  EXPECT_EQ(WXF_InitializeA(h, 0), WXF_NOT_SUPPORTED);
  EXPECT_EQ(sent(0), version_word_read()) << "nothing after the version";
}

}  // namespace
