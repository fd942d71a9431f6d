// Ports, converters, registers and pulse counters of an open expansion board.
#include "support/expansion_board.h"

namespace {

using namespace wire;

class Io : public ExpansionBoards {
 protected:
  void SetUp() override {
    ExpansionBoards::SetUp();
    h_ = open_expansion();
  }
  kestrel::sim::Board& x() { return board(0); }
  WXF_HANDLE h_ = 0;
};

TEST_F(Io, PortsAreByteWritesMaskedWritesAndReads) {
  ASSERT_EQ(WXF_PortWrite(h_, 0xFFFFD3, 0x5A, 0xFF), WXF_OK);
  ASSERT_EQ(WXF_PortWrite(h_, 0xFFFFD9, 0x05, 0x0F), WXF_OK);
  x().set_input_pins(0xFFFFD0, 0x96);
  std::uint8_t value = 0;
  ASSERT_EQ(WXF_PortRead(h_, 0xFFFFD0, &value), WXF_OK);
  EXPECT_EQ(value, 0x96);
  EXPECT_EQ(sent(0), (std::vector<Bytes>{write8(0xFFFFD3, 0x5A), masked(0xFFFFD9, 0x05, 0x0F), read8(0xFFFFD0)}));
  EXPECT_EQ(WXF_PortRead(h_, 0xFFFFD0, nullptr), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(WXF_PortWrite(0, 0xFFFFD3, 0, 0xFF), CVX_INVALID_HANDLE);
}

TEST_F(Io, AnalogInputIsTheTopTenBitsOfOneChannel) {
  x().set_ad_word(1, 0x0040);
  x().set_ad_word(2, 0xFFC0);
  x().set_ad_word(3, 0x003F);
  std::uint32_t value = 0;
  ASSERT_EQ(WXF_ADRead(h_, 2, &value), WXF_OK);
  EXPECT_EQ(value, 1023u);
  ASSERT_EQ(WXF_ADRead(h_, 1, &value), WXF_OK);
  EXPECT_EQ(value, 1u);
  ASSERT_EQ(WXF_ADRead(h_, 3, &value), WXF_OK);
  EXPECT_EQ(value, 0u) << "the low six bits are dropped";
  EXPECT_EQ(sent(0), (std::vector<Bytes>{{0x12, 0x02}, {0x12, 0x01}, {0x12, 0x03}})) << "one channel, no scan";
  forget_sent();
  EXPECT_EQ(WXF_ADRead(h_, 2, nullptr), WXF_INVALID_ARGUMENT);
  EXPECT_EQ(sent(0), std::vector<Bytes>{});
}

TEST_F(Io, AnalogOutputAndRegisters) {
  for (std::uint32_t channel : {0u, 1u, 7u}) ASSERT_EQ(WXF_DAWrite(h_, channel, 0x80 + channel), WXF_OK);
  x().poke(0x110000, 0x3C);
  x().poke(0x120000, 0xC3);
  std::uint8_t counter_mode = 0, analog = 0;
  ASSERT_EQ(WXF_PCReadReg(h_, &counter_mode), WXF_OK);
  ASSERT_EQ(WXF_AnalogReadReg(h_, &analog), WXF_OK);
  EXPECT_EQ(counter_mode, 0x3C);
  EXPECT_EQ(analog, 0xC3);
  ASSERT_EQ(WXF_PCWriteReg(h_, 0x15A), WXF_OK);
  ASSERT_EQ(WXF_AnalogWriteReg(h_, 0xA5), WXF_OK);
  EXPECT_EQ(sent(0),
            (std::vector<Bytes>{write8(0xFFFF9C, 0x80), write8(0xFFFF9D, 0x81), write8(0xFFFF9D, 0x87), read8(0x110000),
                                read8(0x120000), write8(0x110000, 0x5A), write8(0x120000, 0xA5)}));
}

TEST_F(Io, CounterModes) {
  // Mode 0: counts, then control bytes, of all four; the mode register is not touched.
  ASSERT_EQ(WXF_PCSetMode(h_, 0, 48), WXF_OK);
  EXPECT_EQ(sent(0), (std::vector<Bytes>{set_count(0, 0), set_count(1, 0), set_count(2, 0), set_count(3, 0),
                                         write8(0x0FFFE736, 0), write8(0x0FFFE752, 0), write8(0x0FFFE76E, 0),
                                         write8(0x0FFFE78A, 0)}));

  const struct {
    std::uint32_t mode, type;
    std::uint8_t bits;
    std::vector<Bytes> counters;
  } cases[] = {
      {1, 48, 0x0F, join({{set_count(0, 0), set_count(1, 0)}, arm(0, 0x04, 0x10), arm(1, 0x04, 0x20)})},
      {1, 6, 0xF0, join({{set_count(2, 0), set_count(3, 0)}, arm(2, 0x08, 0x10), arm(3, 0x08, 0x20)})},
      {1, 0, 0xF0, join({{set_count(2, 0), set_count(3, 0)}, arm(2, 0x08, 0x10), arm(3, 0x08, 0x20)})},
      {2, 48, 0xF1,
       join({{set_count(0, 0), set_count(2, 0), set_count(3, 0)}, arm(2, 0x08, 0x11), arm(3, 0x08, 0x21)})},
  };
  for (const auto& c : cases) {
    forget_sent();
    x().poke(0x110000, 0x00);
    ASSERT_EQ(WXF_PCSetMode(h_, c.mode, c.type), WXF_OK) << c.mode << "/" << c.type;
    EXPECT_EQ(sent(0), join({{read8(0x110000), write8(0x110000, c.bits)}, c.counters})) << c.mode << "/" << c.type;
  }
  // The register keeps the bits it had.
  x().poke(0x110000, 0x80);
  ASSERT_EQ(WXF_PCSetMode(h_, 1, 48), WXF_OK);
  EXPECT_EQ(x().peek(0x110000), 0x8F);
  EXPECT_EQ(WXF_PCSetMode(0, 1, 48), CVX_INVALID_HANDLE);
}

TEST_F(Io, CountersCountOnTheSensePortAndReadBackBySelector) {
  ASSERT_EQ(WXF_Initialize(h_), WXF_OK);
  ASSERT_EQ(WXF_PCSetMode(h_, 1, 48), WXF_OK);
  x().poke(0xFEE015, 0x02);
  ASSERT_EQ(WXF_PCStart(h_, 0x30), WXF_OK);
  EXPECT_EQ(x().peek(0xFEE015), 0x32) << "counter 2 stays enabled";
  x().set_input_pins(0xFFFFD4, 0x04);
  x().pulse(0, 3);
  x().pulse(1, 1);
  x().set_input_pins(0xFFFFD4, 0x08);
  x().pulse(1, 5);
  std::int32_t value = 0;
  ASSERT_EQ(WXF_PCReadCnt(h_, 48, &value), WXF_OK);
  EXPECT_EQ(value, 4);
  ASSERT_EQ(WXF_PCStop(h_, 0x10), WXF_OK);
  EXPECT_EQ(x().peek(0xFEE015), 0x22);

  x().set_counter(0, 5);
  x().set_counter(1, 0xFFFFFFFE);
  x().set_counter(2, 100);
  x().set_counter(3, 7);
  const std::pair<std::uint32_t, std::int32_t> expected[] = {{16, 5}, {32, -2}, {48, 3}, {2, 100}, {4, 7}, {6, 107}};
  for (const auto& [selector, count] : expected) {
    forget_sent();
    value = 0;
    ASSERT_EQ(WXF_PCReadCnt(h_, selector, &value), WXF_OK) << selector;
    EXPECT_EQ(value, count) << selector;
    EXPECT_EQ(sent(0), read_counts()) << selector;
  }
  for (std::uint32_t selector : {0u, 1u, 8u, 0x36u}) {
    forget_sent();
    value = 99;
    EXPECT_EQ(WXF_PCReadCnt(h_, selector, &value), WXF_INVALID_ARGUMENT) << selector;
    EXPECT_EQ(value, 99);
    EXPECT_EQ(sent(0), read_counts()) << "the read comes first";
  }
  forget_sent();
  EXPECT_EQ(WXF_PCReadCnt(h_, 48, nullptr), WXF_INVALID_ARGUMENT);
  EXPECT_EQ(sent(0), std::vector<Bytes>{});
}

TEST_F(Io, SettingAPairSplitsTheValue) {
  ASSERT_EQ(WXF_PCSetCnt(h_, 48, -7), WXF_OK);
  ASSERT_EQ(WXF_PCSetCnt(h_, 6, 7), WXF_OK);
  EXPECT_EQ(sent(0),
            (std::vector<Bytes>{set_count(0, 0xFFFFFFFC), set_count(1, 0xFFFFFFFD), set_count(2, 4), set_count(3, 3)}));
  ASSERT_EQ(WXF_PCSetCnt(h_, 48, 7), WXF_OK);
  EXPECT_EQ(x().counter(0), 4u);
  EXPECT_EQ(x().counter(1), 3u);

  forget_sent();
  const std::pair<std::uint32_t, std::uint8_t> singles[] = {{16, 0}, {32, 1}, {2, 2}, {4, 3}};
  for (const auto& [selector, counter] : singles) ASSERT_EQ(WXF_PCSetCnt(h_, selector, -1 - counter), WXF_OK);
  EXPECT_EQ(sent(0), (std::vector<Bytes>{set_count(0, 0xFFFFFFFF), set_count(1, 0xFFFFFFFE), set_count(2, 0xFFFFFFFD),
                                         set_count(3, 0xFFFFFFFC)}));
  forget_sent();
  for (std::uint32_t selector : {0u, 1u, 8u, 0x30u | 0x06u})
    EXPECT_EQ(WXF_PCSetCnt(h_, selector, 1), WXF_INVALID_ARGUMENT);
  EXPECT_EQ(sent(0), std::vector<Bytes>{}) << "nothing sent for an unknown selector";
  EXPECT_EQ(WXF_PCSetCnt(0, 48, 7), CVX_INVALID_HANDLE);
}

}  // namespace
