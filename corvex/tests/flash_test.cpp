// Read/write areas, product records and the flash writer, on boards behind the
// driver stand-in.
#include <array>
#include <cstring>

#include "support/sim_fixture.h"

namespace {

constexpr const char* kProductX = "6b29fc40-ca47-1067-b31d-00dd010662da";
constexpr const char* kProductY = "01234567-89AB-CDEF-0123-456789ABCDEF";
constexpr std::uint32_t kSlot = 128;

// A record with a first word of 0 and the rest telling it apart.
Bytes record(std::uint8_t tag) {
  Bytes r(kSlot, tag);
  r[0] = r[1] = 0;
  return r;
}

std::uint32_t slot_address(std::uint32_t area, std::uint32_t slot) { return area * 4096 + slot * kSlot; }

class ProductRecords : public SimBoards {
 protected:
  Bytes flash(int board_index, std::uint32_t address, std::uint32_t count) {
    Bytes out;
    for (std::uint32_t i = 0; i < count; ++i) out.push_back(board(board_index).flash(address + i));
    return out;
  }

  // The unit number of an open board's product record.
  std::uint32_t unit_of(CVX_HANDLE h) {
    Bytes r(kSlot);
    EXPECT_EQ(CVX_ReadPI(h, r.data()), CVX_OK);
    return r[20] | r[21] << 8 | r[22] << 16 | static_cast<std::uint32_t>(r[23]) << 24;
  }
};

TEST_F(ProductRecords, TheCurrentRecordIsTheValidOneInTheHighestSlot) {
  configure("[board]\nserial = A1\nproduct = 6b29fc40-ca47-1067-b31d-00dd010662da 7\n[board]\nserial = OLD\nversion = 0x20\n");
  for (std::uint8_t slot = 0; slot < 6; ++slot) board(0).load_flash(slot_address(3, slot), record(0x30 + slot));
  const CVX_HANDLE h = open("A1");
  Bytes out(kSlot, 0xEE);
  ASSERT_EQ(CVX_ReadAppendBlk(h, 3, out.data()), CVX_OK);
  EXPECT_EQ(out, record(0x35));
  EXPECT_EQ(CVX_ReadRWArea(h, 2, out.data()), CVX_NO_RECORD);
  EXPECT_EQ(CVX_ReadRWArea(h, 8, out.data()), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_ReadAppendBlk(h, 4, out.data()), CVX_INVALID_ARGUMENT);

  // The product record: identifier as the UUID type lays it out, unit least significant byte first.
  ASSERT_EQ(CVX_ReadPI(h, out.data()), CVX_OK);
  const Bytes identity = {0x40, 0xFC, 0x29, 0x6B, 0x47, 0xCA, 0x67, 0x10, 0xB3, 0x1D,
                          0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA, 7,    0,    0,    0};
  EXPECT_EQ(Bytes(out.begin() + 4, out.begin() + 24), identity);

  const CVX_HANDLE old = open("OLD");
  forget_sent();
  EXPECT_EQ(CVX_ReadRWArea(old, 7, out.data()), CVX_NOT_SUPPORTED);
  EXPECT_EQ(sent(1), std::vector<Bytes>{{0x01}}) << "only the version is asked";
}

TEST_F(ProductRecords, OpenByPIFindsTheBoardByProductAndUnit) {
  configure(std::string("[board]\nserial = A\nproduct = ") + kProductX + " 1\n[board]\nserial = B\nproduct = " +
            kProductX + " 2\n[board]\nserial = C\nproduct = " + kProductY + " 2\n[board]\nserial = D\n");
  forget_sent();
  CVX_HANDLE h = 7;
  ASSERT_EQ(CVX_OpenByPI(&h, kProductX, 2, CVX_IF_USB), CVX_OK);
  keep(h);
  EXPECT_EQ(unit_of(h), 2u);
  EXPECT_EQ(driver_calls(0), "Open;SetTimeouts(500,500);Close;");
  EXPECT_EQ(driver_calls(1), "Open;SetTimeouts(500,500);SetTimeouts(5000,5000);SetLatencyTimer(3);")
      << "no reset for the board taken";
  CVX_HANDLE y = 0;
  ASSERT_EQ(CVX_OpenByPI(&y, "01234567-89ab-cdef-0123-456789abcdef", 0, CVX_IF_USB), CVX_OK);
  keep(y);
  Bytes r(kSlot);
  ASSERT_EQ(CVX_ReadPI(y, r.data()), CVX_OK);
  EXPECT_EQ(Bytes(r.begin() + 4, r.begin() + 8), Bytes({0x67, 0x45, 0x23, 0x01}));
  CVX_HANDLE any = 0;
  ASSERT_EQ(CVX_OpenByPI(&any, "", 0, CVX_IF_USB), CVX_OK) << "the first board that passes the check";
  keep(any);
  EXPECT_EQ(unit_of(any), 1u);

  forget_sent();
  h = 7;
  EXPECT_EQ(CVX_OpenByPI(&h, "6b29fc40-ca47-1067-b31d-00dd010662d", 0, CVX_IF_USB), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(CVX_OpenByPI(&h, "6b29fc40+ca47-1067-b31d-00dd010662da", 0, CVX_IF_USB), CVX_INVALID_ARGUMENT);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(driver_calls(i), "") << "no search ran";
  EXPECT_EQ(CVX_OpenByPI(&h, kProductX, 9, CVX_IF_USB), CVX_DEVICE_NOT_FOUND);
  EXPECT_EQ(CVX_OpenByPI(&h, nullptr, 0, CVX_IF_USB | CVX_IF_FLASH_WRITER), CVX_NOT_SUPPORTED);
  EXPECT_EQ(CVX_OpenByPI(nullptr, nullptr, 0, CVX_IF_USB), CVX_INVALID_ARGUMENT);
}

TEST_F(ProductRecords, ListProductsReadsEveryBoardAndCountsAll) {
  configure(std::string("[board]\nserial = A\nproduct = ") + kProductX + " 1\n[board]\nserial = D\n" +
            "[board]\nserial = W\nmode = writer\n");
  std::array<std::uint8_t, 3 * kSlot + 1> records{};
  records.fill(0xAB);
  EXPECT_EQ(CVX_ListProducts(records.data(), 1), 3);
  EXPECT_EQ(records[0], 0);
  EXPECT_EQ(records[20], 1);
  EXPECT_EQ(records[kSlot], 0xAB) << "one record for max 1";
  EXPECT_EQ(CVX_ListProducts(records.data(), 3), 3);
  EXPECT_EQ(Bytes(records.begin() + kSlot, records.begin() + kSlot + 2), Bytes({0xFF, 0xFF})) << "no record";
  EXPECT_EQ(Bytes(records.begin() + 2 * kSlot, records.begin() + 2 * kSlot + 2), Bytes({0xFF, 0xFF}))
      << "a flash writer fails the check";
  EXPECT_EQ(records[3 * kSlot], 0xAB);
  for (int i = 0; i < 3; ++i) {
    const std::string calls = driver_calls(i);
    EXPECT_EQ(calls.substr(calls.size() - 6), "Close;") << "every board closed again: " << calls;
  }
}

class FlashWriter : public ProductRecords {
 protected:
  void SetUp() override {
    configure("[board]\nserial = W1\nmode = writer\n[board]\nserial = W2\nmode = writer\necho = 0xED\n"
              "hardware_version = 0x00020003\n[board]\nserial = M1\n");
  }
  CVX_HANDLE writer(const char* serial) { return open(serial, CVX_IF_USB | CVX_IF_FLASH_WRITER); }
};

TEST_F(FlashWriter, AppendsAboveTheHighestUsedSlotAndStartsOverWhenFull) {
  const CVX_HANDLE h = writer("W1");
  for (std::uint8_t slot = 0; slot < 6; ++slot) board(0).load_flash(slot_address(2, slot), record(0x40 + slot));
  Bytes out(kSlot);
  ASSERT_EQ(CVX_FlashAppendModeRead(h, 2, out.data()), CVX_OK);
  EXPECT_EQ(out, record(0x45));
  ASSERT_EQ(CVX_FlashAppendModeWrite(h, 2, record(0x77).data()), CVX_OK);
  EXPECT_EQ(flash(0, slot_address(2, 6), kSlot), record(0x77));
  EXPECT_EQ(flash(0, slot_address(2, 7), kSlot), Bytes(kSlot, 0xFF));

  // The top slot used: the area is erased and its first slot written.
  board(0).load_flash(slot_address(5, 31), record(0x5F));
  board(0).load_flash(slot_address(5, 3), record(0x53));
  ASSERT_EQ(CVX_FlshWriteRWArea(h, 5, record(0x11).data()), CVX_OK);
  EXPECT_EQ(flash(0, slot_address(5, 0), kSlot), record(0x11));
  EXPECT_EQ(flash(0, slot_address(5, 3), kSlot), Bytes(kSlot, 0xFF));
  EXPECT_EQ(flash(0, slot_address(5, 31), kSlot), Bytes(kSlot, 0xFF));
  ASSERT_EQ(CVX_FlshReadRWArea(h, 5, out.data()), CVX_OK);
  EXPECT_EQ(out, record(0x11));

  // A blank-looking slot with a programmed byte is not written over.
  Bytes torn(kSlot, 0xFF);
  torn[100] = 0x00;
  board(0).load_flash(slot_address(1, 31), torn);
  EXPECT_EQ(CVX_FlashAppendModeWrite(h, 1, record(0x22).data()), CVX_FLASH_NOT_BLANK);
  EXPECT_EQ(CVX_FlashAppendModeWrite(h, 4, record(0x22).data()), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_FlshReadRWArea(h, 6, out.data()), CVX_NO_RECORD);
}

TEST_F(FlashWriter, RangesBlanksAndErase) {
  const CVX_HANDLE h = writer("W1");
  const CVX_HANDLE monitor = open("M1");
  Bytes data(256);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(CVX_FlashRead(monitor, 0x1000, data.data(), 128), CVX_WRONG_MODE);
  EXPECT_EQ(CVX_FlashEraseBlk(monitor, 1), CVX_WRONG_MODE);

  Bytes target(256, 0xFF);
  target[255] = 0xFE;
  board(0).load_flash(0x1000, target);
  EXPECT_EQ(CVX_FlashWrite(h, 0x1000, data.data(), 256), CVX_FLASH_NOT_BLANK);
  EXPECT_EQ(flash(0, 0x1000, 256), target) << "nothing programmed";
  EXPECT_EQ(CVX_FlashEraseBlk(h, 1), CVX_OK);
  ASSERT_EQ(CVX_FlashWrite(h, 0x1000, data.data(), 256), CVX_OK);
  Bytes back(256);
  ASSERT_EQ(CVX_FlashRead(h, 0x1000, back.data(), 256), CVX_OK);
  EXPECT_EQ(back, data);

  EXPECT_EQ(CVX_FlashRead(h, 0xF80, back.data(), 128), CVX_FLASH_ADDRESS);
  EXPECT_EQ(CVX_FlashRead(h, 0x3F80, back.data(), 256), CVX_FLASH_ADDRESS);
  EXPECT_EQ(CVX_FlashRead(h, 0x2000, back.data(), 100), CVX_FLASH_LENGTH);
  EXPECT_EQ(CVX_FlashWrite(h, 0x2010, data.data(), 128), CVX_FLASH_ADDRESS);
  EXPECT_EQ(CVX_FlashEraseBlk(h, 4), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_FlshWrite(h, 0x2000, data.data(), 100), CVX_FLASH_LENGTH);
  EXPECT_EQ(CVX_FlshWrite(h, 0x7FF80, data.data(), 256), CVX_FLASH_LENGTH);
  EXPECT_EQ(CVX_FlshWrite(h, 0x2040, data.data(), 128), CVX_FLASH_ADDRESS);

  EXPECT_EQ(CVX_FlshGetEraseBlk(0), 0u);
  EXPECT_EQ(CVX_FlshGetEraseBlk(4097), 0x0003u);
  EXPECT_EQ(CVX_FlshGetEraseBlk(0x8000), 0x00FFu);
  EXPECT_EQ(CVX_FlshGetEraseBlk(0x8001), 0x01FFu);
  EXPECT_EQ(CVX_FlshGetEraseBlk(0x10000), 0x01FFu);
  EXPECT_EQ(CVX_FlshGetEraseBlk(0x10001), 0x03FFu);
  EXPECT_EQ(CVX_FlshGetEraseBlk(0x80000), 0xFFFFu);
}

TEST_F(FlashWriter, EchoAndHardwareVersion) {
  const CVX_HANDLE plain = writer("W1");
  const CVX_HANDLE versioned = writer("W2");
  EXPECT_EQ(CVX_FlshEchoTest(plain), CVX_OK);
  uint32_t version = 0;
  ASSERT_EQ(CVX_FlshReadHwVersion(plain, &version), CVX_OK);
  EXPECT_EQ(version, 0x80010001u) << "made up from the interface word";
  ASSERT_EQ(CVX_FlshReadHwVersion(versioned, &version), CVX_OK);
  EXPECT_EQ(version, 0x00020003u);
  EXPECT_EQ(CVX_FlshReadHwVersion(versioned, nullptr), CVX_INVALID_ARGUMENT);
}

}  // namespace
