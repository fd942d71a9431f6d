// Run with no usable driver library: none on the search path, or one that lacks an entry point.
#include <gtest/gtest.h>

#include "corvex.h"

TEST(NoDriver, ListingsFindNothing) {
  char records[2][9] = {};
  EXPECT_EQ(CVX_ListDevices(&records[0][0], 2), 0);
  EXPECT_EQ(CVX_ListDevicesByID(0x1237, 0xF001, &records[0][0], 2), 0);
  int32_t count = -1, size = 50;
  char text[50] = {'#'};
  EXPECT_EQ(CVX_ListDevicesA(&count, text, &size, CVX_IF_USB), CVX_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(text[0], '#');
}

TEST(NoDriver, OpensReportNotFound) {
  CVX_HANDLE h = 77;
  EXPECT_EQ(CVX_OpenA(&h, nullptr, CVX_IF_USB), CVX_DEVICE_NOT_FOUND);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(CVX_OpenA(&h, "A1234567", CVX_IF_USB | CVX_IF_FLASH_WRITER), CVX_DEVICE_NOT_FOUND);
  EXPECT_EQ(CVX_Open("A1234567"), 0u);
  EXPECT_EQ(CVX_OpenByID(0x1237, 0xF001, nullptr), 0u);
  const uint8_t ua[] = {'K'};
  EXPECT_EQ(CVX_OpenByUA(ua, 1), 0u);
}

TEST(NoDriver, HandleFunctionsStillAnswer) {
  uint8_t v = 0;
  EXPECT_EQ(CVX_PortRead8(0, 0xFFFFD0, &v), CVX_INVALID_HANDLE);
  EXPECT_EQ(CVX_Close(0), CVX_INVALID_HANDLE);
  EXPECT_EQ(CVX_GetIFType(0), 0u);
}
