// Timer, counter, analog, serial and timed copy functions, byte for byte, and
// their effect on the board model.
#include <cstring>

#include "support/sim_fixture.h"

namespace {

Bytes addr(uint8_t code, uint32_t a) { return {code, uint8_t(a >> 24), uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)}; }
Bytes r8(uint32_t a) { return addr(0x03, a); }
Bytes r16(uint32_t a) { return addr(0x05, a); }
Bytes w8(uint32_t a, uint8_t v) {
  Bytes b = addr(0x02, a);
  b.push_back(v);
  return b;
}
Bytes w16(uint32_t a, uint16_t v) {
  Bytes b = addr(0x04, a);
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
  return b;
}
Bytes bw(uint32_t a, const Bytes& data) {
  Bytes b = addr(0x06, a);
  b.insert(b.end(), {uint8_t(data.size() >> 8), uint8_t(data.size()), 0x01, 0x00});
  b.insert(b.end(), data.begin(), data.end());
  return b;
}
Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
using Sent = std::vector<Bytes>;

SAFEARRAY array_of(void* data, uint32_t elements, uint32_t element_size) {
  SAFEARRAY a{};
  a.cDims = 1;
  a.cbElements = element_size;
  a.pvData = data;
  a.rgsabound[0].cElements = elements;
  return a;
}

}  // namespace

class Peripherals : public OneOpenBoard {};

TEST_F(Peripherals, CounterConditionAndCompareOutputVariables) {
  EXPECT_EQ(CVX_PCSetCondBit(h, 2, 0xFFFFD4, 8), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{{0x06, 0x0F, 0xFF, 0xE7, 0x64, 0x00, 0x04, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xD4},
                           {0x02, 0x0F, 0xFF, 0xE7, 0x6D, 0x08}}));
  forget_sent();
  EXPECT_EQ(CVX_PCSetCmp(h, 6, 0x01020304), CVX_OK);  // counter 6 is counter 2
  EXPECT_EQ(CVX_PCSetCmpOut(h, 2, 0xFFFFD3, 0x1A5), CVX_OK);
  EXPECT_EQ(CVX_PCSetControl(h, 2, 2), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{bw(0x0FFFE75C, be32(0x01020304)), bw(0x0FFFE760, be32(0xFFFFD3)), w8(0x0FFFE76F, 0xFF),
                           w8(0x0FFFE76C, 0xA5), w8(0x0FFFE76E, 2)}));
  const auto b = board(0).counter_block(2);
  EXPECT_EQ(b.compare, 0x01020304u);
  EXPECT_EQ(b.compare_out_address, 0xFFFFD3u);
  EXPECT_EQ(b.condition_address, 0xFFFFD4u);
  EXPECT_EQ(b.condition_mask, 8);
  EXPECT_EQ(b.compare_out_value, 0xA5);
  EXPECT_EQ(b.compare_out_mask, 0xFF);
  EXPECT_EQ(b.control, 2);
}

TEST_F(Peripherals, CounterStartsClearPendingFlagsAndChooseWhichStayEnabled) {
  board(0).poke(0xFEE015, 0x02);
  board(0).poke(0xFEE016, 0x36);
  EXPECT_EQ(CVX_PCStartA(h, 0x30), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{r8(0xFEE016), w8(0xFEE016, 0xCF), r8(0xFEE015), w8(0xFEE015, 0x32)}));
  EXPECT_EQ(board(0).peek(0xFEE016), 0x06);  // a written zero clears a flag
  EXPECT_EQ(board(0).peek(0xFEE015), 0x32);
  forget_sent();
  EXPECT_EQ(CVX_PCStart(h, 0x30), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{r8(0xFEE016), w8(0xFEE016, 0xCF), w8(0xFEE015, 0x30)}));
  forget_sent();
  board(0).poke(0xFEE015, 0xFF);
  EXPECT_EQ(CVX_PCStop(h, 0x1F), CVX_OK);  // only counter bits are touched
  EXPECT_EQ(sent(0), (Sent{r8(0xFEE015), w8(0xFEE015, 0xE9)}));
}

TEST_F(Peripherals, CounterValuesOneOrAllFour) {
  EXPECT_EQ(CVX_PCSetCnt(h, 3, 0x0A0B0C0D), CVX_OK);
  EXPECT_EQ(board(0).counter(3), 0x0A0B0C0Du);
  board(0).set_counter(0, 7);
  board(0).set_counter(2, 0xFFFFFFFF);
  uint32_t values[4] = {};
  EXPECT_EQ(CVX_PCReadCnt(h, -1, values), CVX_OK);
  EXPECT_EQ(values[0], 7u);
  EXPECT_EQ(values[1], 0u);
  EXPECT_EQ(values[2], 0xFFFFFFFFu);
  EXPECT_EQ(values[3], 0x0A0B0C0Du);
  uint32_t one[2] = {0, 0x55};
  EXPECT_EQ(CVX_PCReadCnt(h, 2, one), CVX_OK);
  EXPECT_EQ(one[0], 0xFFFFFFFFu);
  EXPECT_EQ(one[1], 0x55u);
  // All four requests travel in one write; their replies were read whole.
  EXPECT_EQ(sent(0), (Sent{{0x30, 3, 0x0A, 0x0B, 0x0C, 0x0D}, {0x31, 0}, {0x31, 1}, {0x31, 2}, {0x31, 3}, {0x31, 2}}));
  const auto& e = board(0).executed();
  EXPECT_EQ(e[1].write, e[4].write);
  EXPECT_EQ(e[4].write + 1, e[5].write);
  EXPECT_EQ(board(0).reply_waiting(), 0u);

  forget_sent();
  EXPECT_EQ(CVX_PCReadCnt(h, -1, nullptr), CVX_INVALID_ARGUMENT);
  uint32_t small[1] = {};
  SAFEARRAY too_small = array_of(small, 1, 4);
  EXPECT_EQ(CVX_PCReadCnt2(h, -1, &too_small), CVX_INVALID_ARGUMENT);  // four values need four elements
  EXPECT_TRUE(sent(0).empty());
  uint32_t four[4] = {};
  SAFEARRAY a = array_of(four, 4, 4);
  EXPECT_EQ(CVX_PCReadCnt2(h, -1, &a), CVX_OK);
  EXPECT_EQ(four[3], 0x0A0B0C0Du);
  EXPECT_EQ(CVX_PCReadCnt2(h, 0, &too_small), CVX_OK);
  EXPECT_EQ(small[0], 7u);
}

TEST_F(Peripherals, TimersStartAndStopWhenACounterReachesCompare) {
  board(0).poke(0xFFFF60, 0x00);
  EXPECT_EQ(CVX_TimerStartA(h, 0x05, 1, 1, 3), CVX_OK);
  const auto s = sent(0);
  ASSERT_EQ(s.size(), 13u);
  EXPECT_EQ(s[0], (Bytes{0x30, 1, 0, 0, 0, 0}));
  EXPECT_EQ(s[1], bw(0x0FFFE740, be32(3)));
  EXPECT_EQ(s[2], w8(0x0FFFE752, 2));
  EXPECT_EQ(s[5], bw(0x0FFFE744, be32(0xFFFF60)));
  EXPECT_EQ(s[7], w8(0x0FFFE750, 0x05));
  EXPECT_EQ(s[8], w8(0x0FFFE753, 0x05));  // the timer mask replaces the full mask
  EXPECT_EQ(s[12], w8(0xFEE015, 0x20));
  board(0).pulse(1, 2);
  EXPECT_EQ(board(0).peek(0xFFFF60), 0x00);
  board(0).pulse(1);
  EXPECT_EQ(board(0).peek(0xFFFF60), 0x05);
  EXPECT_EQ(board(0).peek(0xFEE016) & 0x20, 0x20);

  board(0).poke(0xFFFF60, 0x07);
  EXPECT_EQ(CVX_TimerStop(h, 0x04, 1, 0, 2), CVX_OK);
  EXPECT_EQ(board(0).counter_block(1).control, 0);
  EXPECT_EQ(board(0).peek(0xFEE016) & 0x20, 0);
  board(0).pulse(1, 2);
  EXPECT_EQ(board(0).peek(0xFFFF60), 0x03);

  forget_sent();
  EXPECT_EQ(CVX_TimerStartA(h, 0xF8 | 0x01, -1, 0, 0), CVX_OK);
  EXPECT_EQ(CVX_TimerStop(h, 0x02, -5, 0, 0), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{r8(0xFFFF60), w8(0xFFFF60, 0x03), r8(0xFFFF60), w8(0xFFFF60, 0x01)}));
}

TEST_F(Peripherals, SinglePulseSequence) {
  board(0).poke(0xFFFF60, 0x03);
  board(0).poke(0xFFFF70, 0xFD);  // channel 1 control
  board(0).poke(0xFFFF65, 0x01);
  board(0).poke(0xFFFF62, 0x08);
  EXPECT_EQ(CVX_TimerSetSinglePulse(h, 3, 0x1000, 0x0200, 1), CVX_OK);  // channel 3 AND 1 = 1
  EXPECT_EQ(sent(0),
            (Sent{r8(0xFFFF60), w8(0xFFFF60, 0x01), w16(0xFFFF72, 0), r8(0xFFFF70), r8(0xFFFF65), w8(0xFFFF65, 0x21),
                  w8(0xFFFF70, 0x05), w16(0xFFFF74, 0x1000), w16(0xFFFF76, 0x1200), r8(0xFFFF62), w8(0xFFFF62, 0x0A)}));
  forget_sent();
  EXPECT_EQ(CVX_TimerSetSinglePulse(h, 0, 0x10, 0x20, 0), CVX_OK);
  const auto s = sent(0);
  ASSERT_EQ(s.size(), 11u);
  EXPECT_EQ(s[4], r8(0xFFFF64));
  EXPECT_EQ(s[5], w8(0xFFFF64, 0x10));
  EXPECT_EQ(s[7], w16(0xFFFF6C, 0x30));  // polarity 0: A is the end
  EXPECT_EQ(s[8], w16(0xFFFF6E, 0x10));
}

TEST_F(Peripherals, TimerRegistersAndChannelsOutsideTheTimer) {
  board(0).poke(0xFFFF68, 0x3A);
  board(0).poke(0xFFFF78, 0x0F);
  EXPECT_EQ(CVX_TimerEnable(h, 0x01, 1), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{r8(0xFFFF68), w8(0xFFFF68, 0xC2), r8(0xFFFF78), w8(0xFFFF78, 0x87), w8(0xFFFF62, 0x41)}));
  forget_sent();
  EXPECT_EQ(CVX_TimerSetClk(h, 0, 0x0D), CVX_OK);
  EXPECT_EQ(board(0).peek(0xFFFF68), 0xC5);
  EXPECT_EQ(CVX_TimerSetCnt(h, 2, 0x12345), CVX_OK);
  EXPECT_EQ(CVX_TimerSetCmp(h, 0xAAAA, 0xBBBB), CVX_OK);
  EXPECT_EQ(CVX_TimerSetLevel(h, 0x105), CVX_OK);
  EXPECT_EQ(CVX_TimerStart(h, 0x06), CVX_OK);
  uint16_t count = 0, a = 0, b = 0;
  EXPECT_EQ(CVX_TimerReadCnt(h, 2, &count), CVX_OK);
  EXPECT_EQ(count, 0x2345);
  EXPECT_EQ(CVX_TimerReadCaptureCnt(h, 2, &a, &b), CVX_OK);
  EXPECT_EQ(a, 0xAAAA);
  EXPECT_EQ(b, 0xBBBB);
  EXPECT_EQ(sent(0),
            (Sent{r8(0xFFFF68), w8(0xFFFF68, 0xC5), w16(0xFFFF7A, 0x2345), w16(0xFFFF7C, 0xAAAA), w16(0xFFFF7E, 0xBBBB),
                  w8(0xFFFF63, 0x05), w8(0xFFFF60, 0x06), r16(0xFFFF7A), r16(0xFFFF7C), r16(0xFFFF7E)}));

  forget_sent();
  EXPECT_EQ(CVX_TimerSetPulse(h, 3, 1, 2), CVX_OK);
  EXPECT_EQ(CVX_TimerSetCaptureCnt(h, 3, 1, 2), CVX_OK);
  EXPECT_EQ(CVX_TimerSetClk(h, 3, 1), CVX_OK);
  EXPECT_EQ(CVX_TimerSetCnt(h, 3, 1), CVX_OK);
  EXPECT_EQ(CVX_TimerReadCnt(h, 3, &count), CVX_OK);
  EXPECT_EQ(CVX_TimerReadCaptureCnt(h, 3, &a, &b), CVX_OK);
  EXPECT_EQ(CVX_TimerSetCapture(h, 3, 1, 1), CVX_OK);  // would reach the sampling timer
  EXPECT_EQ(CVX_TimerReadCnt(h, 0, nullptr), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_TimerReadCaptureCnt(h, 0, &a, nullptr), CVX_INVALID_ARGUMENT);
  EXPECT_TRUE(sent(0).empty());
}

TEST_F(Peripherals, CaptureAndCompareOutputs) {
  board(0).poke(0xFFFF60, 0x07);
  board(0).poke(0xFFFF78, 0x3B);
  board(0).poke(0xFFFF62, 0xFF);
  EXPECT_EQ(CVX_TimerSetCapture(h, 2, 0x3, 0x1), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{r8(0xFFFF60), w8(0xFFFF60, 0x03), r8(0xFFFF78), w8(0xFFFF78, 0xC3), w8(0xFFFF79, 0x13),
                           w16(0xFFFF7A, 0), r8(0xFFFF62), w8(0xFFFF62, 0xBB)}));
  forget_sent();
  board(0).poke(0xFFFF65, 0x01);
  EXPECT_EQ(CVX_TimerSetCmpOut(h, 1, 0xFFFFD3, 0x80), CVX_OK);
  EXPECT_EQ(CVX_TimerSetCmpOut(h, 0, 0, 0x7F), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{r8(0xFFFF65), w8(0xFFFF65, 0x41), bw(0x0FFFE794, be32(0xFFFFD3)), w8(0x0FFFE799, 0x80),
                           r8(0xFFFF64), w8(0xFFFF64, 0x00), bw(0x0FFFE790, be32(0)), w8(0x0FFFE798, 0x7F)}));
  forget_sent();
  EXPECT_EQ(CVX_TimerSetCmpClr(h, 2), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{r8(0xFFFF64), w8(0xFFFF64, 0x00), r8(0xFFFF65), w8(0xFFFF65, 0x41), w8(0x0FFFE79A, 2)}));
}

TEST_F(Peripherals, AnalogReadsOneChannelOrAScan) {
  const uint16_t words[] = {0x0040, 0x0080, 0x00C0, 0x0100};
  for (std::size_t i = 0; i < 4; ++i) board(0).set_ad_word(i, words[i]);
  uint16_t out[4] = {0, 0, 0, 0xEEEE};
  EXPECT_EQ(CVX_ADRead(h, out, 2, 1), CVX_OK);
  EXPECT_EQ(out[0], 0x0040);
  EXPECT_EQ(out[1], 0x0080);
  EXPECT_EQ(out[2], 0x00C0);
  EXPECT_EQ(out[3], 0xEEEE);
  out[1] = 0;
  EXPECT_EQ(CVX_ADRead(h, out, 5, 0), CVX_OK);  // channel 5 AND 3
  EXPECT_EQ(out[0], 0x0080);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(CVX_ADRead(h, nullptr, 0, 0), CVX_INVALID_ARGUMENT);
  uint16_t two[2] = {};
  SAFEARRAY short_array = array_of(two, 2, 2);
  EXPECT_EQ(CVX_ADRead2(h, &short_array, 3, 1), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_ADRead2(h, &short_array, 1, 1), CVX_OK);
  EXPECT_EQ(two[1], 0x0080);
  EXPECT_EQ(sent(0), (Sent{{0x12, 0x12}, {0x12, 0x01}, {0x12, 0x11}}));
}

TEST_F(Peripherals, AnalogBurstsKeepTheBoardsByteOrder) {
  board(0).set_ad_word(1, 0x1234);
  uint16_t samples[3] = {};
  uint32_t got = 99;
  EXPECT_EQ(CVX_ADBRead(h, samples, 3, 1, &got), CVX_OK);
  EXPECT_EQ(got, 3u);
  uint8_t raw[6];
  std::memcpy(raw, samples, sizeof raw);
  EXPECT_EQ(Bytes(raw, raw + 6), (Bytes{0x12, 0x34, 0x12, 0x34, 0x12, 0x34}));
  EXPECT_EQ(sent(0), (Sent{{0x1A, 0x01, 0, 0, 0, 3, 0, 0}}));

  // The board stops at 65536 samples: a longer burst is short, and says how short.
  ASSERT_EQ(CVX_SetTimeouts(h, 50, 50), CVX_OK);
  std::vector<uint16_t> many(70000);
  EXPECT_EQ(CVX_ADBRead(h, many.data(), 70000, 0x40, &got), CVX_TIMEOUT);
  EXPECT_EQ(got, 65536u);
  EXPECT_EQ(CVX_ADBRead(h, nullptr, 1, 0, &got), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(CVX_ADBRead(h, samples, 0x80000000u, 0, &got), CVX_INVALID_ARGUMENT);
  SAFEARRAY a = array_of(samples, 3, 2);
  EXPECT_EQ(CVX_ADBRead2(h, &a, 4, 0, &got), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(sent(0).size(), 2u);
}

TEST_F(Peripherals, AnalogCopyAndSamplingClock) {
  board(0).poke(0xFFFFE8, 0xFF);
  EXPECT_EQ(CVX_ADCopy(h, 0x00200000, 0x0102, 2, 1, 3, 1), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{r8(0xFFFFE8),
                           w8(0xFFFFE8, 0x5A),
                           {0x39, 0x00, 0xFF, 0xFF, 0xE0, 0x00, 0x20, 0x00, 0x00, 0x06, 0x06, 0x01, 0x02, 0x17, 0x1B,
                            0x00, 0x00, 0x01, 0x01},
                           w8(0xFFFFE9, 0x80),
                           w8(0xFFFF84, 0),
                           w8(0xFFFF82, 0),
                           w8(0x0FFFE7E1, 0)}));
  forget_sent();
  EXPECT_EQ(CVX_ADSetCycle(h, 0x1C8, 8), CVX_OK);
  EXPECT_EQ(CVX_ADSetCycle(h, 1, 4), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{w8(0xFFFF84, 0xC8), w8(0xFFFF82, 0x10), w8(0x0FFFE7E1, 0x0D), w8(0xFFFF84, 1),
                           w8(0xFFFF82, 0x10), w8(0x0FFFE7E1, 0x00)}));
  forget_sent();
  EXPECT_EQ(CVX_ADStopCopy(h, 1), CVX_OK);
  EXPECT_EQ(CVX_ADStart(h, 0xFFFFFFFF, 1, 1, 0x22, 0), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{w8(0xFFFFE9, 0),
                           r8(0xFFFFE8),
                           w8(0xFFFFE8, 0),
                           r8(0xFFFF37),
                           w8(0xFFFF37, 0),
                           {0x1B, 0x11, 0xFF, 0xFF, 0xFF, 0xFF, 0x22, 1, 1}}));

  board(0).poke(0xFFFF3C, 0x01);
  board(0).poke(0xFFFF3D, 0x80);
  uint16_t status = 0;
  EXPECT_EQ(CVX_ADReadCopyStatus(h, &status, 7), CVX_OK);
  EXPECT_EQ(status, 0x0180);
  for (uint32_t i = 0; i < 4; ++i) board(0).poke(0x00200000 + i, uint8_t(0x10 + i));
  uint16_t values[3] = {0, 0, 0x5555};
  EXPECT_EQ(CVX_ADReadCopyBuffer(h, 0x00200000, values, 2, 1, 0), CVX_OK);
  EXPECT_EQ(values[0], 0x1011);
  EXPECT_EQ(values[1], 0x1213);
  EXPECT_EQ(values[2], 0x5555);
  SAFEARRAY a = array_of(values, 3, 2);
  EXPECT_EQ(CVX_ADReadCopyBuffer2(h, 0x00200000, &a, 4, 1, 0), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(sent(0).back(), (Bytes{0x07, 0x00, 0x20, 0x00, 0x00, 0x00, 0x04, 0x01, 0x00, 0x00, 0x00}));
}

TEST_F(Peripherals, AnalogOutputTimingAndStop) {
  EXPECT_EQ(CVX_DASetCycle(h, 1, 0x12345, 7), CVX_OK);
  EXPECT_EQ(CVX_DASetParm(h, 1, 0x00300000, 0x400, 0x1FF), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{w16(0xFFFF74, 0x2345), w8(0xFFFF70, 0x23), {0x38, 1, 0, 0x30, 0, 0, 0x04, 0x00, 0xFF}}));
  forget_sent();
  board(0).poke(0xFFFF60, 0x04);
  EXPECT_EQ(CVX_DAStart(h, 0x07), CVX_OK);
  EXPECT_EQ(board(0).peek(0xFFFF60), 0x07);
  board(0).poke(0xFFFF37, 0x99);
  board(0).poke(0xFFFF64, 0xFF);
  forget_sent();
  EXPECT_EQ(CVX_DAStop(h, 0x02), CVX_OK);
  EXPECT_EQ(sent(0),
            (Sent{r8(0xFFFF60), w8(0xFFFF60, 0x05), r8(0xFFFF37), w8(0xFFFF37, 0), r8(0xFFFF64), w8(0xFFFF64, 0xDD)}));
  uint16_t status = 0;
  board(0).poke(0xFFFF25, 0x42);
  EXPECT_EQ(CVX_DAReadStatus(h, 0, &status), CVX_OK);
  EXPECT_EQ(status, 0x0042);
  EXPECT_EQ(CVX_DAReadStatus(h, 0, nullptr), CVX_INVALID_ARGUMENT);
}

TEST_F(Peripherals, SerialWritesAreCutTo255) {
  std::vector<uint8_t> data(300);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
  EXPECT_EQ(CVX_SCIWrite(h, 0, data.data(), 300), CVX_OK);
  const auto s = sent(0);
  ASSERT_EQ(s.size(), 1u);
  ASSERT_EQ(s[0].size(), 257u);
  EXPECT_EQ(s[0][0], 0x13);
  EXPECT_EQ(s[0][1], 0xFF);
  EXPECT_TRUE(std::equal(s[0].begin() + 2, s[0].end(), data.begin()));
  EXPECT_EQ(board(0).serial_output(), Bytes(data.begin(), data.begin() + 255));
  forget_sent();
  EXPECT_EQ(CVX_SCIWrite(h, 1, data.data(), 3), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_SCIWrite(h, 0, nullptr, 3), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_SCIWrite(h, 0, data.data(), 0), CVX_OK);
  SAFEARRAY a = array_of(data.data(), 2, 1);
  EXPECT_EQ(CVX_SCIWrite2(h, 0, &a, 3), CVX_INVALID_ARGUMENT);
  EXPECT_TRUE(sent(0).empty());
  EXPECT_EQ(CVX_SCIWrite2(h, 0, &a, 2), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{{0x13, 2, 0, 1}}));
}

TEST_F(Peripherals, SerialLoopbackStatusAndReads) {
  configure("[board]\nserial = LOOP0001\nsci_loopback = 1\n");
  h = open("LOOP0001");
  forget_sent();
  const uint8_t text[] = {'h', 'e', 'l', 'l', 'o'};
  ASSERT_EQ(CVX_SCIWrite(h, 0, text, 5), CVX_OK);
  uint8_t status = 0xEE;
  uint32_t count = 0;
  EXPECT_EQ(CVX_SCIReadStatus(h, 0, &status, &count), CVX_OK);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(count, 5u);
  uint8_t back[8] = {};
  uint32_t got = 0;
  EXPECT_EQ(CVX_SCIRead(h, 0, back, 3, &got), CVX_OK);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(Bytes(back, back + 3), (Bytes{'h', 'e', 'l'}));
  SAFEARRAY a = array_of(back, 8, 1);
  EXPECT_EQ(CVX_SCIRead2(h, 0, &a, 2, &got), CVX_OK);
  EXPECT_EQ(Bytes(back, back + 2), (Bytes{'l', 'o'}));
  EXPECT_EQ(board(0).serial_input_waiting(), 0u);
  EXPECT_EQ(sent(0), (Sent{{0x13, 5, 'h', 'e', 'l', 'l', 'o'}, {0x15}, {0x14, 3}, {0x14, 2}}));

  forget_sent();
  got = 7;
  EXPECT_EQ(CVX_SCIRead(h, 1, back, 3, &got), CVX_OK);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(CVX_SCIReadStatus(h, 1, &status, &count), CVX_OK);
  EXPECT_EQ(CVX_SCIRead(h, 0, back, 256, &got), CVX_INVALID_ARGUMENT);  // the count is one byte
  EXPECT_EQ(CVX_SCIRead(h, 0, back, 0, &got), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_SCIRead(h, 0, nullptr, 3, &got), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_SCIRead2(h, 0, &a, 9, &got), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_SCIReadStatus(h, 0, nullptr, &count), CVX_INVALID_ARGUMENT);
  EXPECT_TRUE(sent(0).empty());
}

TEST_F(Peripherals, SerialModeWaitsBeforeEnablingAndDelimitersArePadded) {
  EXPECT_EQ(CVX_SCISetMode(h, 1, 0x105, 0x2A3), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{w8(0xFFFFBA, 0), w8(0xFFFFB8, 0x07), w8(0xFFFFB9, 0xA3), w8(0xFFFFBA, 0x70)}));
  const auto& e = board(0).executed();
  EXPECT_GE(e[3].at - e[2].at, std::chrono::milliseconds(3));
  forget_sent();
  EXPECT_EQ(CVX_SCISetMode(h, 2, 0, 0), CVX_OK);
  EXPECT_TRUE(sent(0).empty());
  const uint8_t delimiters[] = {0x0D, 0x0A, 0x00};
  EXPECT_EQ(CVX_SCISetDelimiter(h, 9, delimiters, 3), CVX_OK);
  EXPECT_EQ(CVX_SCISetDelimiter(h, 0, delimiters, 1), CVX_OK);
  EXPECT_EQ(CVX_SCISetDelimiter(h, 0, nullptr, 0), CVX_OK);
  EXPECT_EQ(CVX_SCISetDelimiter(h, 0, nullptr, 1), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(sent(0),
            (Sent{bw(0xFFE7E6, {2, 0, 0x0D, 0x0A}), bw(0xFFE7E6, {1, 0, 0x0D, 0}), bw(0xFFE7E6, {0, 0, 0, 0})}));
}

TEST_F(Peripherals, TimedCopyParametersRunAndStatus) {
  for (uint32_t i = 0; i < 4; ++i) board(0).poke(0x00400000 + i, uint8_t(0xA0 + i));
  EXPECT_EQ(CVX_TCPYSetParm(h, 3, 0x00400000, 0x00500000, 0x10003, 1, 2, 0x100), CVX_OK);
  EXPECT_EQ(CVX_TCPYStart(h, 1), CVX_OK);
  EXPECT_EQ(sent(0),
            (Sent{bw(0x0FFFE7B8, {0, 0x40, 0, 0, 0, 0x50, 0, 0, 0, 0x40, 0, 0, 0, 0x50, 0, 0, 0, 0, 0, 3, 1, 2, 0}),
                  w8(0x0FFFE7D2, 0xFF),
                  {0x60, 1}}));
  board(0).copy_clock(1, 2);
  uint32_t count = 0, done = 0;
  EXPECT_EQ(CVX_TCPYReadStatus(h, 1, &count, &done), CVX_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(sent(0).back(), (Bytes{0x07, 0x0F, 0xFF, 0xE7, 0xB8, 0x00, 0x12, 0x01, 0x00, 0x00, 0x00}));
  board(0).copy_clock(1, 5);
  EXPECT_FALSE(board(0).copy_running(1));
  EXPECT_EQ(board(0).peek(0x00500002), 0xA2);
  EXPECT_EQ(board(0).peek(0x00500003), 0x00);
  EXPECT_EQ(CVX_TCPYReadStatus(h, 1, nullptr, &done), CVX_INVALID_ARGUMENT);

  forget_sent();
  EXPECT_EQ(CVX_TCPYSetPatternCtrl(h, 0, 0x1000, 0x2000, 0xFFFFFFFF, 0xBEEF, 0x77, 2, 0x81), CVX_OK);
  EXPECT_EQ(
      sent(0),
      (Sent{bw(0x0FFFE79C, {0, 0, 0x10, 0, 0, 0, 0x20, 0, 0, 0, 0x10, 2, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0x77, 0, 1}),
            w16(0x0FFFE7B4, 0xBEEF), w8(0x0FFFE7B6, 0x81)}));
}

TEST_F(Peripherals, TimedCopyClockCodesAndCounterTriggers) {
  EXPECT_EQ(CVX_TCPYSetClk(h, 0, 5), CVX_OK);
  EXPECT_TRUE(sent(0).empty());
  EXPECT_EQ(CVX_TCPYSetCycle(h, 1, 0x140, 8), CVX_OK);
  EXPECT_EQ(CVX_TCPYSetCycle(h, 0, 0x20, 3), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{w8(0xFFFF95, 0x40), w8(0x0FFFE7CF, 0x4D), w8(0xFFFF85, 0x20), w8(0x0FFFE7B3, 0x49)}));

  board(0).poke(0xFEE015, 0x04);
  forget_sent();
  EXPECT_EQ(CVX_TCPYSetTrig(h, 1, 0, 2, 1), CVX_OK);
  EXPECT_EQ(sent(0).front(), r8(0x0FFFE7CF));
  const auto start = board(0).counter_block(0), stop = board(0).counter_block(2);
  EXPECT_EQ(start.compare, 1u);
  EXPECT_EQ(start.control, 2);
  EXPECT_EQ(start.compare_out_address, 0xFFFF91u);
  EXPECT_EQ(start.compare_out_value, 0x4D);
  EXPECT_EQ(stop.compare_out_address, 0xFFFF91u);
  EXPECT_EQ(stop.compare_out_value, 0);
  EXPECT_EQ(board(0).peek(0xFEE015), 0x16);
  board(0).pulse(0);
  EXPECT_EQ(board(0).peek(0xFFFF91), 0x4D);
  board(0).pulse(2);
  EXPECT_EQ(board(0).peek(0xFFFF91), 0x00);

  forget_sent();
  EXPECT_EQ(CVX_TCPYSetTrig(h, 0, -1, -1, 0), CVX_OK);
  EXPECT_EQ(sent(0), (Sent{r8(0x0FFFE7B3), r8(0xFEE016), w8(0xFEE016, 0xFF), r8(0xFEE015), w8(0xFEE015, 0x16)}));
}

TEST_F(Peripherals, BadHandlesAndWriterBoardsGetNothing) {
  uint32_t values[4] = {};
  uint8_t byte = 0;
  EXPECT_EQ(CVX_PCReadCnt(0, -1, values), CVX_INVALID_HANDLE);
  EXPECT_EQ(CVX_TimerStartA(0, 1, 0, 0, 1), CVX_INVALID_HANDLE);
  EXPECT_EQ(CVX_SCIWrite(12345, 0, &byte, 1), CVX_INVALID_HANDLE);
  // The compare-output steps all run, and the last one's status is returned.
  EXPECT_EQ(CVX_TimerSetCmpOut(0, 0, 1, 1), CVX_INVALID_HANDLE);

  configure("[board]\nserial = WRITER01\nmode = writer\n");
  const CVX_HANDLE w = open("WRITER01", CVX_IF_USB | CVX_IF_FLASH_WRITER);
  forget_sent();
  uint16_t ad[4] = {};
  EXPECT_EQ(CVX_ADRead(w, ad, 0, 0), CVX_WRONG_MODE);
  EXPECT_EQ(CVX_TimerSetSinglePulse(w, 0, 1, 1, 1), CVX_WRONG_MODE);
  EXPECT_EQ(CVX_TCPYSetTrig(w, 0, 0, 1, 0), CVX_WRONG_MODE);
  EXPECT_EQ(CVX_SCISetMode(w, 0, 0, 0), CVX_WRONG_MODE);
  EXPECT_TRUE(sent(0).empty());
}
