#include <atomic>
#include <thread>

#include "sim_fixture.h"

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
