#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "support/sim_fixture.h"

using Concurrency = SimBoards;

// Opens, listings and closes serialise on the table lock while transfers on
// other handles go on without it.
TEST_F(Concurrency, OpenListAndCloseWhileOthersTransfer) {
  configure("[board]\nserial = WORK\nrepeat = 2\n[board]\nserial = SPARE\nrepeat = 6\n");
  const CVX_HANDLE workers[] = {open("WORK0000"), open("WORK0001")};
  ASSERT_NE(workers[0], 0u);
  ASSERT_NE(workers[1], 0u);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (CVX_HANDLE h : workers) {
    threads.emplace_back([h, &failures] {
      for (uint32_t i = 0; i < 400; ++i) {
        uint8_t back = 0;
        const uint32_t address = 0x200000 + (i % 16);
        if (CVX_PortWrite8(h, address, i) != CVX_OK || CVX_PortRead8(h, address, &back) != CVX_OK ||
            back != static_cast<uint8_t>(i))
          ++failures;
      }
    });
  }
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&failures] {
      for (int i = 0; i < 40; ++i) {
        int32_t count = 0, size = 0;
        if (CVX_ListDevicesA(&count, nullptr, &size, CVX_IF_USB) != CVX_OK || count > 6) ++failures;
        CVX_HANDLE h = 0;
        if (CVX_OpenA(&h, nullptr, CVX_IF_USB) != CVX_OK) {
          ++failures;
          continue;
        }
        uint32_t version = 0;
        if (CVX_ReadVersion(h, &version) != CVX_OK || version != 31) ++failures;
        if (CVX_GetIFType(h) != CVX_IF_USB || CVX_Close(h) != CVX_OK) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  char records[8][9];
  EXPECT_EQ(CVX_ListDevices(&records[0][0], 8), 6) << "every spare board was closed again";
}

// A close from another thread never ends the driver handle under a running
// read: the read is cut short and returns at once, and so does the close.
TEST_F(Concurrency, CloseWhileAnotherThreadReadsCutsTheReadShort) {
  using Clock = std::chrono::steady_clock;
  const auto ms_since = [](Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
  };
  const CVX_HANDLE h = open("A1234567");  // the open's 5000 ms time-outs
  ASSERT_NE(h, 0u);
  delay_replies(0, -1);
  std::atomic<CVX_STATUS> status{CVX_OK};
  std::atomic<long long> took{-1};
  std::thread reader([&] {
    const auto start = Clock::now();
    uint8_t value = 0;
    status = CVX_PortRead8(h, 0x200000, &value);
    took = ms_since(start);
  });
  for (int i = 0; reads_running(0) == 0 && i < 400; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(reads_running(0), 1);
  driver_calls(0);
  const auto start = Clock::now();
  EXPECT_EQ(CVX_Close(h), CVX_OK);
  EXPECT_LT(ms_since(start), 1000);
  reader.join();
  EXPECT_EQ(status.load(), CVX_TIMEOUT) << "nothing came";
  EXPECT_LT(took.load(), 1500) << "the read waited out its time-out";
  const std::string calls = driver_calls(0);
  EXPECT_EQ(calls.find("under a read"), std::string::npos) << calls;
  EXPECT_NE(calls.find("Close;"), std::string::npos) << calls;
  uint8_t value = 0;
  EXPECT_EQ(CVX_PortRead8(h, 0x200000, &value), CVX_INVALID_HANDLE);
}
