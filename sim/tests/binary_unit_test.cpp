// The binary unit on the board model, fed the exact commands the expansion
// board's port writes become, on times the test sets.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "board.h"

using namespace kestrel::sim;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t kData = 0xFFFFD3, kControl = 0xFFFFD9;

Bytes with_address(std::uint8_t op, std::uint32_t a, std::initializer_list<std::uint8_t> tail) {
  Bytes b;
  b.reserve(5 + tail.size());
  for (const std::uint8_t byte : {op, std::uint8_t(a >> 24), std::uint8_t(a >> 16), std::uint8_t(a >> 8), std::uint8_t(a)})
    b.push_back(byte);
  for (const std::uint8_t byte : tail) b.push_back(byte);
  return b;
}

class Bench {
 public:
  explicit Bench(BinaryProtocol protocol, bool positive = false, std::chrono::milliseconds playback = 300ms)
      : board(config(protocol, positive, playback)) {
    board.set_clock([this] { return now; });
    // The expansion board's initialisation: direction of 0xFFFFD4, both
    // output ports high while still inputs, then both made outputs.
    board.receive(with_address(0x02, 0xFEE004, {0x03}));
    write(kData, 0xFF);
    write(kControl, 0xFF);
    board.receive(with_address(0x02, 0xFEE003, {0xFF}));
    board.receive(with_address(0x02, 0xFEE009, {0xFF}));
  }

  // A whole-byte write is a plain port write; any other mask a masked one.
  void write(std::uint32_t port, std::uint8_t value, std::uint8_t mask = 0xFF) {
    board.receive(mask == 0xFF ? with_address(0x02, port, {value}) : with_address(0x1C, port, {value, mask}));
  }

  bool busy() {
    board.receive(with_address(0x03, 0xFFFFD0, {}));
    std::uint8_t value = 0;
    EXPECT_EQ(board.take_reply(&value, 1), 1u);
    return (value & 1) != 0;
  }

  // Strobe pulse of width T and the wait after it.
  void strobe(Clock::duration t) {
    write(kControl, 0x00, 0x04);
    now += t;
    write(kControl, 0xFF, 0x04);
    now += t;
  }

  void protocol_a(std::initializer_list<std::uint8_t> bytes, Clock::duration t) {
    for (std::uint8_t b : bytes) {
      write(kData, b);
      strobe(t);
    }
  }

  const BinaryUnit& unit() const { return *board.binary_unit(); }
  std::vector<unsigned> channels() const {
    std::vector<unsigned> out;
    for (const auto& c : unit().channels()) out.push_back(c.channel);
    return out;
  }

  Clock::time_point now = Clock::time_point{} + 1h;
  Board board;

 private:
  static BoardConfig config(BinaryProtocol protocol, bool positive, std::chrono::milliseconds playback) {
    BoardConfig c;
    c.binary_unit = BinaryUnitConfig{protocol, positive, playback};
    return c;
  }
};

using Widths = std::vector<Clock::duration>;

}  // namespace

TEST(BinaryUnit, ProtocolATakesFourMarkedPairsAndIsBusyForThePlaybackTime) {
  Bench b(BinaryProtocol::A);
  EXPECT_TRUE(b.unit().channels().empty());  // initialising the ports is no strobe
  EXPECT_FALSE(b.busy());
  // n = 0: values 4, 0, 0, 0 written inverted; the unit plays once the fourth is latched.
  b.protocol_a({0xFB, 0xFF, 0xFF}, 30ms);
  EXPECT_FALSE(b.busy());
  b.write(kData, 0xFF);
  const auto latched = b.now;
  b.strobe(30ms);
  ASSERT_EQ(b.channels(), std::vector<unsigned>{0});
  const BinaryChannel& zero = b.unit().channels()[0];
  EXPECT_EQ(zero.strobe_widths, (Widths{30ms, 30ms, 30ms, 30ms}));
  EXPECT_EQ(zero.latched, latched);
  EXPECT_FALSE(zero.while_busy);
  EXPECT_TRUE(b.busy());
  EXPECT_EQ(b.unit().busy_until(), latched + 300ms);
  b.now = latched + 300ms - 1ns;
  EXPECT_TRUE(b.busy());
  b.now = latched + 300ms;
  EXPECT_FALSE(b.busy());

  // n = 255 (7, 3, 3, 3) with T = 0: both strobe writes back to back.
  b.protocol_a({0xF8, 0xFC, 0xFC, 0xFC}, 0ms);
  ASSERT_EQ(b.channels(), (std::vector<unsigned>{0, 255}));
  EXPECT_EQ(b.unit().channels()[1].strobe_widths, (Widths{0ns, 0ns, 0ns, 0ns}));
  EXPECT_TRUE(b.busy());
  // Again at once: taken, but marked as sent while busy.
  b.protocol_a({0xF8, 0xFC, 0xFC, 0xFC}, 10ms);
  ASSERT_EQ(b.unit().channels().size(), 3u);
  EXPECT_FALSE(b.unit().channels()[1].while_busy);
  EXPECT_TRUE(b.unit().channels()[2].while_busy);

  // A transfer without the mark is dropped; a mark starts the channel over.
  // 0xF9 is v = 6: the mark, bit 7 of n 0 and bit 6 of n 1: n = 0b01'11'11'11.
  b.protocol_a({0xFF, 0xFB, 0xFF, 0xF9, 0xFC, 0xFC, 0xFC}, 10ms);
  EXPECT_EQ(b.channels(), (std::vector<unsigned>{0, 255, 255, 127}));
}

TEST(BinaryUnit, ProtocolBTakesTenBitsInTheUnitsLogic) {
  // PositiveLogic 0: 0xE8 to the data port and 3 under mask 3.
  Bench negative(BinaryProtocol::B, false);
  negative.write(kData, 0xE8);
  negative.write(kControl, 0x03, 0x03);
  negative.now += 5ms;
  negative.strobe(15ms);
  ASSERT_EQ(negative.channels(), std::vector<unsigned>{1000});
  EXPECT_EQ(negative.unit().channels()[0].strobe_widths, Widths{15ms});
  EXPECT_TRUE(negative.busy());

  // PositiveLogic 1: 0x17 and 0xFC, of which bits 0 and 1 reach the lines;
  // the masked write must leave the strobe and stop lines alone.
  Bench positive(BinaryProtocol::B, true);
  positive.write(kData, 0x17);
  positive.write(kControl, 0xFC, 0x03);
  EXPECT_TRUE(positive.unit().channels().empty());
  EXPECT_FALSE(positive.busy());
  positive.strobe(0ms);
  EXPECT_EQ(positive.channels(), std::vector<unsigned>{1000});
  EXPECT_EQ(positive.unit().channels()[0].strobe_widths, Widths{0ns});
  // The same lines to a unit of the other logic read as the complement.
  negative.write(kData, 0x17);
  negative.write(kControl, 0xFC, 0x03);
  negative.strobe(15ms);
  EXPECT_EQ(negative.channels(), (std::vector<unsigned>{1000, 23}));
  EXPECT_TRUE(negative.unit().channels()[1].while_busy);
}

TEST(BinaryUnit, ProtocolCTakesEightBitsLatchedWhenTheStrobeFalls) {
  for (const bool positive : {false, true}) {
    SCOPED_TRACE(positive);
    Bench b(BinaryProtocol::C, positive, 120ms);
    b.write(kData, positive ? 0xFB : 0x04);
    b.now += 20ms;
    const auto latched = b.now;
    b.write(kControl, 0x00, 0x04);
    // Data changed during the pulse are not what the unit took.
    b.write(kData, 0x55);
    b.now += 50ms;
    b.write(kControl, 0xFF, 0x04);
    ASSERT_EQ(b.channels(), std::vector<unsigned>{251});
    EXPECT_EQ(b.unit().channels()[0].latched, latched);
    EXPECT_EQ(b.unit().channels()[0].strobe_widths, Widths{50ms});
    b.now = latched + 119ms;
    EXPECT_TRUE(b.busy());
    b.now = latched + 120ms;
    EXPECT_FALSE(b.busy());
  }
}

TEST(BinaryUnit, StopPulsesEndPlaybackAndAStrobeDuringOneIsNoChannel) {
  Bench b(BinaryProtocol::A);
  b.protocol_a({0xF8, 0xFC, 0xFC, 0xFC}, 10ms);
  ASSERT_TRUE(b.busy());
  // Stop with strobe, as the LUMO7Q window's stop button sends it.
  const auto stop_at = b.now;
  b.write(kControl, 0x00, 0x08);
  EXPECT_FALSE(b.busy());
  b.write(kControl, 0x00, 0x04);
  b.now += 50ms;
  b.write(kControl, 0xFF, 0x04);
  b.write(kControl, 0xFF, 0x08);
  EXPECT_EQ(b.channels(), std::vector<unsigned>{255});
  ASSERT_EQ(b.unit().stops().size(), 1u);
  const StopPulse& first = b.unit().stops()[0];
  EXPECT_EQ(first.started, stop_at);
  EXPECT_EQ(first.width, 50ms);
  EXPECT_TRUE(first.with_strobe);
  EXPECT_TRUE(first.while_busy);

  // Stop line only, while idle; a stop also drops a channel half sent.
  b.protocol_a({0xFB, 0xFF}, 10ms);
  b.write(kControl, 0x00, 0x08);
  b.now += 50ms;
  b.write(kControl, 0xFF, 0x08);
  b.protocol_a({0xFF, 0xFF}, 10ms);
  EXPECT_EQ(b.channels(), std::vector<unsigned>{255});
  ASSERT_EQ(b.unit().stops().size(), 2u);
  EXPECT_EQ(b.unit().stops()[1].width, 50ms);
  EXPECT_FALSE(b.unit().stops()[1].with_strobe);
  EXPECT_FALSE(b.unit().stops()[1].while_busy);
  EXPECT_FALSE(b.busy());
}

TEST(BinaryUnit, ConfigKeysAndTheExampleExpansionBoard) {
  const auto parsed =
      parse_config("[board]\nbinary_unit = c\nbinary_logic = positive\nbinary_play_ms = 80\n[board]\nserial = PLAIN\n");
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->boards.size(), 2u);
  const auto& unit = parsed->boards[0].binary_unit;
  ASSERT_TRUE(unit);
  EXPECT_EQ(unit->protocol, BinaryProtocol::C);
  EXPECT_TRUE(unit->positive_logic);
  EXPECT_EQ(unit->playback, 80ms);
  EXPECT_TRUE(Board(parsed->boards[0]).binary_unit());
  EXPECT_FALSE(Board(parsed->boards[1]).binary_unit());
  for (const char* bad : {"[board]\nbinary_logic = positive\nbinary_unit = B\n", "[board]\nbinary_play_ms = 5\n",
                          "[board]\nbinary_unit = D\n", "[board]\nbinary_unit = B\nbinary_logic = inverted\n"})
    EXPECT_FALSE(parse_config(bad)) << bad;

  std::ifstream in(KESTREL_EXPANSION_INI);
  std::ostringstream text;
  text << in.rdbuf();
  const auto example = parse_config(text.str());
  ASSERT_TRUE(example && example->boards.size() == 1);
  const BoardConfig& c = example->boards[0];
  ASSERT_TRUE(c.product && c.binary_unit);
  EXPECT_EQ(c.product->uuid, parse_uuid("3aa4096d-2cc0-46dd-878a-88511d75ac78"));
  EXPECT_GE(c.version_word & 0xFFFFFF, 0x030201u);
  EXPECT_GT((c.version >> 4) * 10 + (c.version & 0x0F), 29);  // the version word is asked for only above 29
  EXPECT_EQ(c.binary_unit->protocol, BinaryProtocol::B);
  EXPECT_FALSE(c.binary_unit->positive_logic);
}
