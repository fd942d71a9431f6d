#include <chrono>
#include <functional>
#include <thread>

#include "support/sim_fixture.h"

namespace {

SAFEARRAY byte_array(std::vector<uint8_t>& storage) {
  SAFEARRAY a{};
  a.cDims = 1;
  a.cbElements = 1;
  a.pvData = storage.data();
  a.rgsabound[0].cElements = static_cast<uint32_t>(storage.size());
  return a;
}

// Every function that talks to the board, called on one handle with valid pointers.
std::vector<std::pair<const char*, std::function<CVX_STATUS(CVX_HANDLE)>>> board_calls() {
  static std::vector<uint8_t> buffer(64);
  static std::vector<uint8_t> array_storage(16);
  static SAFEARRAY array = byte_array(array_storage);
  static uint32_t u32;
  static uint16_t u16;
  static uint8_t u8;
  return {
      {"Write", [](CVX_HANDLE h) { return CVX_Write(h, buffer.data(), 1, &u32); }},
      {"Read", [](CVX_HANDLE h) { return CVX_Read(h, buffer.data(), 1, &u32); }},
      {"Write2", [](CVX_HANDLE h) { return CVX_Write2(h, &array, 1, &u32); }},
      {"Read2", [](CVX_HANDLE h) { return CVX_Read2(h, &array, 1, &u32); }},
      {"Initialize", [](CVX_HANDLE h) { return CVX_Initialize(h); }},
      {"InitializeA", [](CVX_HANDLE h) { return CVX_InitializeA(h, 0xFFFFFFFF); }},
      {"Abort", [](CVX_HANDLE h) { return CVX_Abort(h); }},
      {"ReadStatus", [](CVX_HANDLE h) { return CVX_ReadStatus(h, &u32); }},
      {"ReadVersion", [](CVX_HANDLE h) { return CVX_ReadVersion(h, &u32); }},
      {"ReadVersionA", [](CVX_HANDLE h) { return CVX_ReadVersionA(h, &u32); }},
      {"PortSetDir", [](CVX_HANDLE h) { return CVX_PortSetDir(h, 0xFFFFD0, 0xFF); }},
      {"PortRead8", [](CVX_HANDLE h) { return CVX_PortRead8(h, 0xFFFFD0, &u8); }},
      {"PortRead16", [](CVX_HANDLE h) { return CVX_PortRead16(h, 0x1000, &u16); }},
      {"PortWrite8", [](CVX_HANDLE h) { return CVX_PortWrite8(h, 0xFFFFD3, 1); }},
      {"PortWrite16", [](CVX_HANDLE h) { return CVX_PortWrite16(h, 0x200000, 1); }},
      {"PortWrite8A", [](CVX_HANDLE h) { return CVX_PortWrite8A(h, 0xFFFFD3, 1, 1); }},
      {"PortWrite8A full", [](CVX_HANDLE h) { return CVX_PortWrite8A(h, 0xFFFFD3, 1, 0xFF); }},
      {"PortBWrite", [](CVX_HANDLE h) { return CVX_PortBWrite(h, 0x200000, buffer.data(), 8, 1, 0); }},
      {"PortBRead", [](CVX_HANDLE h) { return CVX_PortBRead(h, 0x200000, buffer.data(), 8, 1, 0); }},
      {"PortBWrite2", [](CVX_HANDLE h) { return CVX_PortBWrite2(h, 0x200000, &array, 8, 1, 0); }},
      {"PortBRead2", [](CVX_HANDLE h) { return CVX_PortBRead2(h, 0x200000, &array, 8, 1, 0); }},
      {"PortBCopy", [](CVX_HANDLE h) { return CVX_PortBCopy(h, 0x200000, 0x300000, 8, 0, 0); }},
      {"PortCopy8", [](CVX_HANDLE h) { return CVX_PortCopy8(h, 0x200000, 0x300000); }},
      {"PortCopy16", [](CVX_HANDLE h) { return CVX_PortCopy16(h, 0x200000, 0x300000); }},
      {"AddressEnable", [](CVX_HANDLE h) { return CVX_AddressEnable(h, 20); }},
      {"CSEnable", [](CVX_HANDLE h) { return CVX_CSEnable(h, 0); }},
      {"BusSetWait", [](CVX_HANDLE h) { return CVX_BusSetWait(h, 1, 1); }},
  };
}

}  // namespace

using HandleRules = SimBoards;

TEST_F(HandleRules, ZeroAndValuesOutsideTheTableGiveInvalidHandle) {
  const CVX_HANDLE h = open("A1234567");
  forget_sent();
  const CVX_HANDLE bad[] = {0, 1, h + 1, h - 1, ~CVX_HANDLE{0}, h + (CVX_HANDLE{1} << 32)};
  for (CVX_HANDLE b : bad) {
    for (const auto& [name, call] : board_calls()) EXPECT_EQ(call(b), CVX_INVALID_HANDLE) << name << " on " << b;
    uint32_t count = 0;
    EXPECT_EQ(CVX_Close(b), CVX_INVALID_HANDLE);
    EXPECT_EQ(CVX_SetTimeouts(b, 10, 10), CVX_INVALID_HANDLE);
    EXPECT_EQ(CVX_GetQueueStatus(b, &count), CVX_INVALID_HANDLE);
    EXPECT_EQ(CVX_Purge(b, 3), CVX_INVALID_HANDLE);
    EXPECT_EQ(CVX_GetIFType(b), 0u);
    EXPECT_EQ(CVX_GetFTHandle(b), nullptr);
  }
  EXPECT_TRUE(sent(0).empty());
  EXPECT_EQ(CVX_GetIFType(h), CVX_IF_USB);
  EXPECT_NE(CVX_GetFTHandle(h), nullptr);
}

TEST_F(HandleRules, ClosedHandleIsRefusedAndClosingTwiceGivesInvalidHandle) {
  CVX_HANDLE h = 0;
  ASSERT_EQ(CVX_OpenA(&h, "A1234567", CVX_IF_USB), CVX_OK);
  EXPECT_EQ(CVX_Close(h), CVX_OK);
  EXPECT_EQ(CVX_Close(h), CVX_INVALID_HANDLE);
  uint8_t v = 0;
  EXPECT_EQ(CVX_PortRead8(h, 0xFFFFD0, &v), CVX_INVALID_HANDLE);
  EXPECT_EQ(CVX_GetFTHandle(h), nullptr);
  // The board is free again for the next open.
  EXPECT_EQ(open("A1234567"), h);
}

TEST_F(HandleRules, FullTableClosesTheBoardItFoundAndGivesFive) {
  configure("[board]\nserial = T\nrepeat = 257\n");
  std::vector<CVX_HANDLE> handles;
  for (int i = 0; i < 256; ++i) {
    CVX_HANDLE h = CVX_Open("");
    ASSERT_NE(h, 0u) << i;
    keep(h);
    handles.push_back(h);
  }
  CVX_HANDLE extra = 0;
  EXPECT_EQ(CVX_OpenA(&extra, nullptr, CVX_IF_USB), CVX_TABLE_FULL);
  EXPECT_EQ(extra, 0u);
  EXPECT_EQ(CVX_Open("T0000256"), 0u);
  // The last board was released again: it opens once a row is free.
  ASSERT_EQ(CVX_Close(handles[100]), CVX_OK);
  EXPECT_EQ(CVX_Open("T0000256"), handles[100]);
}

TEST_F(HandleRules, MonitorCallsOnAFlashWriterHandleSendNothing) {
  configure("[board]\nserial = W1\nmode = writer\necho = 0xED\n");
  const CVX_HANDLE h = open("W1", CVX_IF_USB | CVX_IF_FLASH_WRITER);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(CVX_GetIFType(h), CVX_IF_USB | CVX_IF_FLASH_WRITER);
  EXPECT_EQ(sent(0), (std::vector<Bytes>{{0xEE}}));
  forget_sent();
  for (const auto& [name, call] : board_calls()) EXPECT_EQ(call(h), CVX_WRONG_MODE) << name;
  EXPECT_TRUE(sent(0).empty());
  // Handle services are not monitor calls.
  uint32_t count = 99;
  EXPECT_EQ(CVX_GetQueueStatus(h, &count), CVX_OK);
  EXPECT_EQ(count, 0u);
  // Once closed it is no longer a writer handle but no handle at all.
  ASSERT_EQ(CVX_Close(h), CVX_OK);
  for (const auto& [name, call] : board_calls()) EXPECT_EQ(call(h), CVX_INVALID_HANDLE) << name;
}

TEST_F(HandleRules, NullPointersGiveSixteenBeforeAnythingIsSent) {
  const CVX_HANDLE h = open("A1234567");
  forget_sent();
  uint8_t buffer[8] = {};
  uint32_t count = 0;
  std::vector<uint8_t> storage(4);
  SAFEARRAY array = byte_array(storage);
  EXPECT_EQ(CVX_Write(h, nullptr, 1, &count), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_Write(h, buffer, 1, nullptr), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_Read(h, nullptr, 1, &count), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_Read(h, buffer, 1, nullptr), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_Write2(h, nullptr, 1, &count), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_Write2(h, &array, 1, nullptr), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_Read2(h, nullptr, 1, &count), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_Read2(h, &array, 1, nullptr), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_ReadVersion(h, nullptr), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_ReadVersionA(h, nullptr), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_ReadStatus(h, nullptr), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_PortRead8(h, 0xFFFFD0, nullptr), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_PortRead16(h, 0xFFFFD0, nullptr), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_PortBWrite(h, 0x200000, nullptr, 4, 1, 0), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_PortBRead(h, 0x200000, nullptr, 4, 1, 0), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_PortBWrite2(h, 0x200000, nullptr, 4, 1, 0), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_PortBRead2(h, 0x200000, nullptr, 4, 1, 0), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_GetQueueStatus(h, nullptr), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_OpenA(nullptr, "A1234567", CVX_IF_USB), CVX_INVALID_ARGUMENT);
  EXPECT_TRUE(sent(0).empty());
}

TEST_F(HandleRules, ArrayLengthBeyondTheArrayIsRefused) {
  const CVX_HANDLE h = open("A1234567");
  forget_sent();
  std::vector<uint8_t> storage{0x01, 0x02, 0x03, 0x04};
  SAFEARRAY array = byte_array(storage);
  uint32_t count = 0;
  EXPECT_EQ(CVX_Write2(h, &array, 5, &count), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_Read2(h, &array, 5, &count), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_PortBWrite2(h, 0x200000, &array, 5, 1, 0), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_PortBRead2(h, 0x200000, &array, 5, 1, 0), CVX_INVALID_ARGUMENT);
  SAFEARRAY two_dims = array;
  two_dims.cDims = 2;
  EXPECT_EQ(CVX_PortBWrite2(h, 0x200000, &two_dims, 1, 1, 0), CVX_INVALID_ARGUMENT);
  EXPECT_TRUE(sent(0).empty());
  EXPECT_EQ(array.cLocks, 0u);

  // Within the array: the data goes out unchanged, and comes back.
  EXPECT_EQ(CVX_PortBWrite2(h, 0x200000, &array, 4, 1, 0), CVX_OK);
  EXPECT_EQ(sent(0), (std::vector<Bytes>{{0x06, 0, 0x20, 0, 0, 0, 4, 1, 0, 1, 2, 3, 4}}));
  std::vector<uint8_t> back(4);
  SAFEARRAY back_array = byte_array(back);
  EXPECT_EQ(CVX_PortBRead2(h, 0x200000, &back_array, 4, 1, 0), CVX_OK);
  EXPECT_EQ(back, storage);
  EXPECT_EQ(CVX_Write2(h, &array, 1, &count), CVX_OK);  // 01: version
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(CVX_Read2(h, &back_array, 1, &count), CVX_OK);
  EXPECT_EQ(back[0], 0x31);
  EXPECT_EQ(array.cLocks, 0u);
}

TEST_F(HandleRules, ShortReadGivesTimeoutWithTheCountReceived) {
  const CVX_HANDLE h = open("A1234567");
  ASSERT_EQ(CVX_SetTimeouts(h, 30, 30), CVX_OK);
  const uint8_t version = 0x01;
  uint32_t count = 0;
  ASSERT_EQ(CVX_Write(h, &version, 1, &count), CVX_OK);
  EXPECT_EQ(count, 1u);
  uint8_t reply[4] = {};
  EXPECT_EQ(CVX_Read(h, reply, 4, &count), CVX_TIMEOUT);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(reply[0], 0x31);
  // A command whose reply never comes: the read path reports it the same way.
  uint16_t word = 0;
  EXPECT_EQ(CVX_PortRead16(h, CVX_NO_ADDRESS, &word), CVX_OK);
  ASSERT_EQ(CVX_Write(h, &version, 1, &count), CVX_OK);
  uint32_t waiting = 0;
  EXPECT_EQ(CVX_GetQueueStatus(h, &waiting), CVX_OK);
  EXPECT_EQ(waiting, 1u);
  EXPECT_EQ(CVX_Purge(h, CVX_PURGE_RX), CVX_OK);
  EXPECT_EQ(CVX_GetQueueStatus(h, &waiting), CVX_OK);
  EXPECT_EQ(waiting, 0u);
  uint32_t status = 0;
  EXPECT_EQ(CVX_Read(h, reply, 1, &count), CVX_TIMEOUT);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(CVX_ReadStatus(h, &status), CVX_OK);
}

// A reply that comes after its read's time-out belongs to that command: the
// next command must not take it for its own, whether it has come meanwhile or
// is still on its way when that command starts.
TEST_F(HandleRules, LateReplyIsNotTakenByTheNextCommand) {
  const CVX_HANDLE h = open("A1234567");
  board(0).poke(0x200010, 0x11);
  board(0).poke(0x200020, 0x22);
  for (const bool arrived_first : {true, false}) {
    SCOPED_TRACE(arrived_first ? "arrived before the next command" : "still on its way");
    delay_replies(0, 300);
    ASSERT_EQ(CVX_SetTimeouts(h, 100, 100), CVX_OK);
    uint8_t value = 0;
    ASSERT_EQ(CVX_PortRead8(h, 0x200010, &value), CVX_TIMEOUT);
    uint32_t waiting = 0;
    for (int i = 0; arrived_first && waiting == 0 && i < 200; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      ASSERT_EQ(CVX_GetQueueStatus(h, &waiting), CVX_OK);
    }
    ASSERT_EQ(waiting, arrived_first ? 1u : 0u);
    ASSERT_EQ(CVX_SetTimeouts(h, 2000, 2000), CVX_OK);
    driver_calls(0);
    EXPECT_EQ(CVX_PortRead8(h, 0x200020, &value), CVX_OK);
    EXPECT_EQ(value, 0x22);
    // The receive side is purged first, and again when the rest of the late reply comes.
    EXPECT_EQ(driver_calls(0), arrived_first ? "Purge(1);" : "Purge(1);Purge(1);");
    EXPECT_EQ(CVX_GetQueueStatus(h, &waiting), CVX_OK);
    EXPECT_EQ(waiting, 0u);
    // Back in step: no more purges.
    delay_replies(0, 0);
    EXPECT_EQ(CVX_PortRead8(h, 0x200010, &value), CVX_OK);
    EXPECT_EQ(value, 0x11);
    EXPECT_EQ(driver_calls(0), "");
  }
}
