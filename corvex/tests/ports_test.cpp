#include <thread>

#include "support/sim_fixture.h"

class Ports : public OneOpenBoard {};

TEST_F(Ports, SingleWritesAndTheirShortForms) {
  EXPECT_EQ(CVX_PortWrite8(h, 0xFFFFFFFF, 0x5A), CVX_OK);
  EXPECT_EQ(CVX_PortWrite8(h, 0xFFFFD3, 0x1A5), CVX_OK);
  EXPECT_EQ(CVX_PortWrite16(h, 0x200000, 0xABCD1234), CVX_OK);
  EXPECT_EQ(CVX_PortWrite16(h, 0xFFFFFFFF, 0x1234), CVX_OK);
  EXPECT_EQ(sent(0), (std::vector<Bytes>{{0x10, 0x5A},
                                         {0x02, 0x00, 0xFF, 0xFF, 0xD3, 0xA5},
                                         {0x04, 0x00, 0x20, 0x00, 0x00, 0x12, 0x34},
                                         {0x10, 0x34}}));
}

TEST_F(Ports, MaskedWriteUsesThePlainWriteOnlyForAFullMask) {
  EXPECT_EQ(CVX_PortWrite8A(h, 0xFFFFD9, 0x00, 0x08), CVX_OK);
  EXPECT_EQ(CVX_PortWrite8A(h, 0xFFFFD9, 0x00, 0xFF), CVX_OK);
  EXPECT_EQ(CVX_PortWrite8A(h, 0xFFFFD9, 0x00, 0x1FF), CVX_OK);  // low byte of the mask
  EXPECT_EQ(CVX_PortWrite8A(h, 0xFFFFFFFF, 0x3C, 0x0F), CVX_OK);
  EXPECT_EQ(CVX_PortWrite8A(h, 0xFFFFFFFF, 0x3C, 0xFF), CVX_OK);
  EXPECT_EQ(sent(0), (std::vector<Bytes>{{0x1C, 0x00, 0xFF, 0xFF, 0xD9, 0x00, 0x08},
                                         {0x02, 0x00, 0xFF, 0xFF, 0xD9, 0x00},
                                         {0x02, 0x00, 0xFF, 0xFF, 0xD9, 0x00},
                                         {0x1D, 0x3C, 0x0F},
                                         {0x10, 0x3C}}));
}

TEST_F(Ports, ReadsStoreBigEndianWords) {
  board(0).poke(0x201000, 0x12);
  board(0).poke(0x201001, 0x34);
  uint16_t word = 0;
  EXPECT_EQ(CVX_PortRead16(h, 0x201000, &word), CVX_OK);
  EXPECT_EQ(word, 0x1234);
  uint8_t byte = 0;
  EXPECT_EQ(CVX_PortRead8(h, 0x201001, &byte), CVX_OK);
  EXPECT_EQ(byte, 0x34);
  // Short forms read one byte; for the word it lands in the low byte.
  word = 0xFFFF;
  EXPECT_EQ(CVX_PortRead16(h, 0xFFFFFFFF, &word), CVX_OK);
  EXPECT_EQ(word, 0x0034);
  EXPECT_EQ(sent(0), (std::vector<Bytes>{{0x05, 0x00, 0x20, 0x10, 0x00}, {0x03, 0x00, 0x20, 0x10, 0x01}, {0x11}}));
}

TEST_F(Ports, DirectionsDriveTheBoardPins) {
  EXPECT_EQ(CVX_PortSetDir(h, 0xFFFFD2, 0xFF), CVX_OK);
  EXPECT_TRUE(sent(0).empty());
  const std::pair<uint32_t, uint32_t> map[] = {
      {0xFFFFD0, 0xFEE000}, {0xFFFFD1, 0xFEE001}, {0xFFFFD3, 0xFEE003}, {0xFFFFD4, 0xFEE004}, {0xFFFFD9, 0xFEE009}};
  for (auto [port, dir] : map) {
    forget_sent();
    EXPECT_EQ(CVX_PortSetDir(h, port, 0x10F), CVX_OK);
    EXPECT_EQ(
        sent(0),
        (std::vector<Bytes>{{0x02, uint8_t(dir >> 24), uint8_t(dir >> 16), uint8_t(dir >> 8), uint8_t(dir), 0x0F}}));
    EXPECT_EQ(board(0).direction(port), 0x0F);
  }
  EXPECT_EQ(CVX_PortWrite8(h, 0xFFFFD3, 0xA5), CVX_OK);
  EXPECT_EQ(board(0).output_pins(0xFFFFD3), 0x05);
  board(0).set_input_pins(0xFFFFD3, 0xC0);
  uint8_t v = 0;
  EXPECT_EQ(CVX_PortRead8(h, 0xFFFFD3, &v), CVX_OK);
  EXPECT_EQ(v, 0xC5);
}

TEST_F(Ports, BlockWriteOfSeventyThousandBytesIsCutTo65536) {
  std::vector<uint8_t> data(70000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13);
  EXPECT_EQ(CVX_PortBWrite(h, 0x400000, data.data(), 70000, 5, 0x1AB), CVX_OK);
  const auto s = sent(0);
  ASSERT_EQ(s.size(), 1u);
  ASSERT_EQ(s[0].size(), 65545u);
  EXPECT_EQ(Bytes(s[0].begin(), s[0].begin() + 9), (Bytes{0x06, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x01, 0xAB}));
  EXPECT_TRUE(std::equal(s[0].begin() + 9, s[0].end(), data.begin()));
  EXPECT_EQ(board(0).peek(0x40FFFF), data[65535]);
  EXPECT_EQ(board(0).peek(0x410000), 0);

  std::vector<uint8_t> back(70000, 0xEE);
  EXPECT_EQ(CVX_PortBRead(h, 0x400000, back.data(), 70000, 0, 0), CVX_OK);
  EXPECT_EQ(sent(0).back(), (Bytes{0x07, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_TRUE(std::equal(back.begin(), back.begin() + 65536, data.begin()));
  EXPECT_EQ(back[65536], 0xEE);
  EXPECT_EQ(board(0).reply_waiting(), 0u);
}

TEST_F(Ports, ZeroLengthsAndNoAddressCopiesSendNothing) {
  uint8_t buffer[4] = {};
  EXPECT_EQ(CVX_PortBWrite(h, 0x400000, buffer, 0, 1, 0), CVX_OK);
  EXPECT_EQ(CVX_PortBRead(h, 0x400000, buffer, 0, 1, 0), CVX_OK);
  EXPECT_EQ(CVX_PortBCopy(h, 0x400000, 0x500000, 0, 1, 2), CVX_OK);
  EXPECT_EQ(CVX_PortCopy8(h, 0xFFFFFFFF, 0x500000), CVX_OK);
  EXPECT_EQ(CVX_PortCopy16(h, 0xFFFFFFFF, 0x500000), CVX_OK);
  EXPECT_EQ(CVX_PortCopy16(h, 0x400000, 0xFFFFFFFF), CVX_OK);
  EXPECT_TRUE(sent(0).empty());
  EXPECT_EQ(CVX_PortCopy8(h, 0x400000, 0xFFFFFFFF), CVX_OK);  // only the first address is checked
  EXPECT_EQ(CVX_PortBCopy(h, 0x400000, 0x500000, 70000, 0x101, 0x2), CVX_OK);
  EXPECT_EQ(sent(0), (std::vector<Bytes>{
                         {0x0E, 0x00, 0x40, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF},
                         {0x0D, 0x00, 0x40, 0x00, 0x00, 0x00, 0x50, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00}}));
}

TEST_F(Ports, AddressLinesAreEnabledInWholePorts) {
  const std::pair<uint32_t, Bytes> cases[] = {
      {7, {0, 0, 0}},        {8, {0xFF, 0, 0}},        {15, {0xFF, 0, 0}},       {16, {0xFF, 0xFF, 0}},
      {19, {0xFF, 0xFF, 0}}, {20, {0xFF, 0xFF, 0xFF}}, {24, {0xFF, 0xFF, 0xFF}}, {uint32_t(-1), {0, 0, 0}}};
  for (const auto& [lines, values] : cases) {
    forget_sent();
    EXPECT_EQ(CVX_AddressEnable(h, lines), CVX_OK);
    EXPECT_EQ(sent(0), (std::vector<Bytes>{{0x02, 0x00, 0xFE, 0xE0, 0x00, values[0]},
                                           {0x02, 0x00, 0xFE, 0xE0, 0x01, values[1]},
                                           {0x02, 0x00, 0xFE, 0xE0, 0x04, values[2]}}))
        << lines;
  }
}

TEST_F(Ports, ChipSelectsAndBusWaits) {
  const std::pair<uint32_t, uint8_t> cs[] = {{0, 0x11}, {4, 0x15}, {8, 0x13}, {12, 0x17}, {0xF3, 0x11}};
  for (auto [flags, value] : cs) {
    forget_sent();
    EXPECT_EQ(CVX_CSEnable(h, flags), CVX_OK);
    EXPECT_EQ(sent(0), (std::vector<Bytes>{{0x02, 0x00, 0xFE, 0xE0, 0x07, value}})) << flags;
  }
  forget_sent();
  EXPECT_EQ(CVX_BusSetWait(h, 2, 3), CVX_OK);
  EXPECT_TRUE(sent(0).empty());

  board(0).poke(0x0FFEE023, 0b1010'1010);
  board(0).poke(0x0FFEE022, 0b1111'0011);
  EXPECT_EQ(CVX_BusSetWait(h, 4, 0x7), CVX_OK);  // bits 4-5 take the low two bits of 7
  EXPECT_EQ(board(0).peek(0x0FFEE023), 0b1011'1010);
  EXPECT_EQ(CVX_BusSetWait(h, 1, 1), CVX_OK);
  EXPECT_EQ(board(0).peek(0x0FFEE023), 0b1011'1001);
  EXPECT_EQ(CVX_BusSetWait(h, 8, 0), CVX_OK);
  EXPECT_EQ(board(0).peek(0x0FFEE023), 0b0011'1001);
  EXPECT_EQ(CVX_BusSetWait(h, 16, 2), CVX_OK);
  EXPECT_EQ(board(0).peek(0x0FFEE022), 0b1111'1011);
  const auto s = sent(0);
  ASSERT_EQ(s.size(), 8u);
  EXPECT_EQ(s[0], (Bytes{0x03, 0x0F, 0xFE, 0xE0, 0x23}));
  EXPECT_EQ(s[1], (Bytes{0x02, 0x0F, 0xFE, 0xE0, 0x23, 0b1011'1010}));
}

TEST_F(Ports, InitialiseAbortsPurgesAndClearsTheTimerInterrupts) {
  EXPECT_EQ(CVX_Initialize(h), CVX_OK);
  EXPECT_EQ(driver_calls(0), "Purge(1);");
  EXPECT_EQ(sent(0), (std::vector<Bytes>{
                         {0x0C}, {0x0B}, {0x02, 0x00, 0xFF, 0xFF, 0x64, 0x00}, {0x02, 0x00, 0xFF, 0xFF, 0x65, 0x00}}));
  forget_sent();
  EXPECT_EQ(CVX_InitializeA(h, 0xFFFFFFFF), CVX_OK);
  EXPECT_EQ(sent(0), (std::vector<Bytes>{{0x0C}, {0x3C, 0xFF, 0xFF, 0xFF, 0xFF}}));
  EXPECT_EQ(driver_calls(0), "Purge(1);");
  EXPECT_EQ(CVX_Purge(h, 3), CVX_OK);
  EXPECT_EQ(CVX_SetTimeouts(h, 250, 750), CVX_OK);
  EXPECT_EQ(driver_calls(0), "Purge(3);SetTimeouts(250,750);");
  EXPECT_EQ(board(0).initialize_value(), 0xFFFFFFFFu);
}

TEST_F(Ports, InitialiseRecoversFromAHalfDoneBlockCommand) {
  // A block write cut short, and a block read whose reply was never collected.
  board(0).poke(0xFFFF64, 0x55);
  const uint8_t half[] = {0x06, 0x00, 0x20, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0xAA, 0xBB};
  uint32_t n = 0;
  ASSERT_EQ(CVX_Write(h, half, sizeof half, &n), CVX_OK);
  ASSERT_EQ(CVX_Initialize(h), CVX_OK);
  uint8_t v = 0;
  EXPECT_EQ(CVX_PortRead8(h, 0xFFFF64, &v), CVX_OK);
  EXPECT_EQ(v, 0);

  const uint8_t read_block[] = {0x07, 0x00, 0x20, 0x00, 0x00, 0x00, 0x10, 0x01, 0x00, 0x00, 0x00};
  ASSERT_EQ(CVX_Write(h, read_block, sizeof read_block, &n), CVX_OK);
  ASSERT_EQ(CVX_Initialize(h), CVX_OK);
  uint32_t version = 0;
  EXPECT_EQ(CVX_ReadVersion(h, &version), CVX_OK);
  EXPECT_EQ(version, 31u);
}

TEST_F(Ports, CommandTimesAreRecorded) {
  ASSERT_EQ(CVX_PortWrite8(h, 0xFFFFD3, 0x01), CVX_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(CVX_PortWrite8(h, 0xFFFFD3, 0x00), CVX_OK);
  const auto& e = board(0).executed();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_GE(e[1].at - e[0].at, std::chrono::milliseconds(20));
}

class Versions : public SimBoards {};

TEST_F(Versions, NewFirmwareIsAskedForItsVersionWord) {
  configure("[board]\nserial = V31\nversion = 0x31\nversion_word = 0x00030201\nstatus = 0xBEEF\n");
  const CVX_HANDLE h = open("V31");
  forget_sent();
  uint32_t number = 0, word = 0, status = 0;
  EXPECT_EQ(CVX_ReadVersion(h, &number), CVX_OK);
  EXPECT_EQ(number, 31u);
  EXPECT_EQ(CVX_ReadVersionA(h, &word), CVX_OK);
  EXPECT_EQ(word, 0x00030201u);
  EXPECT_EQ(CVX_ReadStatus(h, &status), CVX_OK);
  EXPECT_EQ(status, 0xBEEFu);
  EXPECT_EQ(CVX_Abort(h), CVX_OK);
  EXPECT_EQ(sent(0), (std::vector<Bytes>{{0x01}, {0x01}, {0x3A}, {0x0A}, {0x0C}}));
}

TEST_F(Versions, OlderFirmwareGetsAVersionWordBuiltFromItsNumber) {
  configure("[board]\nserial = V21\nversion = 0x21\nversion_word = 0x00099999\n");
  const CVX_HANDLE h = open("V21");
  forget_sent();
  uint32_t number = 0, word = 0;
  EXPECT_EQ(CVX_ReadVersion(h, &number), CVX_OK);
  EXPECT_EQ(number, 21u);
  EXPECT_EQ(CVX_ReadVersionA(h, &word), CVX_OK);
  EXPECT_EQ(word, 0x00020100u);
  EXPECT_EQ(sent(0), (std::vector<Bytes>{{0x01}, {0x01}}));
}
