// The header-only parts of the SDK: the version macros against the project's
// version, and the status texts against every status macro.
#include "corvex_status.h"
#include "wexford_status.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

TEST(SdkVersion, HeadersCarryTheProjectVersion) {
  EXPECT_EQ(CVX_VERSION_MAJOR, KESTREL_VERSION_MAJOR);
  EXPECT_EQ(CVX_VERSION_MINOR, KESTREL_VERSION_MINOR);
  EXPECT_EQ(CVX_VERSION_PATCH, KESTREL_VERSION_PATCH);
  EXPECT_EQ(WXF_VERSION_MAJOR, KESTREL_VERSION_MAJOR);
  EXPECT_EQ(WXF_VERSION_MINOR, KESTREL_VERSION_MINOR);
  EXPECT_EQ(WXF_VERSION_PATCH, KESTREL_VERSION_PATCH);
}

struct StatusText {
  CVX_STATUS status;
  const char* text;
};

void PrintTo(const StatusText& s, std::ostream* os) { *os << "0x" << std::hex << s.status; }

class CorvexStatusText : public testing::TestWithParam<StatusText> {};

TEST_P(CorvexStatusText, NamesTheStatus) {
  EXPECT_EQ(std::string(CVX_StatusText(GetParam().status)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStatus, CorvexStatusText,
    testing::Values(StatusText{CVX_OK, "success"}, StatusText{CVX_INVALID_HANDLE, "invalid handle"},
                    StatusText{CVX_DEVICE_NOT_FOUND, "device not found"},
                    StatusText{CVX_TABLE_FULL, "device table full"},
                    StatusText{CVX_INVALID_ARGUMENT, "invalid argument"},
                    StatusText{CVX_NOT_SUPPORTED, "not supported"}, StatusText{CVX_FAILED, "failed"},
                    StatusText{CVX_TIMEOUT, "time-out or short transfer"},
                    StatusText{CVX_FILE_OPEN_ERROR, "user program file cannot be opened"},
                    StatusText{CVX_NO_MEMORY, "out of memory, or user program file not usable"},
                    StatusText{CVX_NO_RECORD, "no valid record in the read/write area"},
                    StatusText{CVX_SOCKET_ERROR, "socket error"},
                    StatusText{CVX_PASSWORD_REFUSED, "the board refused the LAN password"},
                    StatusText{CVX_WRONG_MODE, "not allowed in the device's mode"},
                    StatusText{CVX_NOT_MONITOR, "the board did not answer as the monitor firmware"},
                    StatusText{CVX_IMAGE_SIZE, "user program image size out of range"},
                    StatusText{CVX_IMAGE_CHECKSUM, "user program image check sum or section table wrong"},
                    StatusText{CVX_IMAGE_FIRMWARE, "user program image needs a newer board firmware"},
                    StatusText{CVX_IMAGE_NO_KEY, "user program image is enciphered and no key was given"},
                    StatusText{CVX_FLASH_ERASE_FAILED, "erasing a read/write area failed"},
                    StatusText{CVX_FLASH_RECORD_FAILED, "writing a read/write area record failed"},
                    StatusText{CVX_FLASH_RETRIES, "flash write retries exhausted"},
                    StatusText{CVX_FLASH_LENGTH, "flash length invalid"},
                    StatusText{CVX_FLASH_ADDRESS, "flash address invalid"},
                    StatusText{CVX_FLASH_NOT_BLANK, "flash target not blank"},
                    // The driver's values, the flash writer's error bytes, and the rest.
                    StatusText{3, "USB driver error"}, StatusText{15, "USB driver error"},
                    StatusText{CVX_FLASH_ERROR_BASE + 1, "flash writer error"},
                    StatusText{CVX_FLASH_ERROR_BASE + 0xFF, "flash writer error"},
                    StatusText{CVX_FLASH_ERROR_BASE, "unknown status"},
                    StatusText{CVX_FLASH_ERROR_BASE + 0x100, "unknown status"}, StatusText{0x13, "unknown status"},
                    StatusText{0xFFFF0000u, "unknown status"}, StatusText{0xFFFF0009u, "unknown status"}));

class WexfordStatusText : public testing::TestWithParam<StatusText> {};

TEST_P(WexfordStatusText, NamesTheStatus) {
  EXPECT_EQ(std::string(WXF_StatusText(GetParam().status)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(EveryStatus, WexfordStatusText,
                         testing::Values(StatusText{WXF_OK, "success"},
                                         StatusText{WXF_INVALID_ARGUMENT, "invalid argument"},
                                         StatusText{WXF_NOT_SUPPORTED, "board firmware too old"},
                                         StatusText{WXF_NOT_EXPANSION_BOARD, "not the expansion board"},
                                         StatusText{CVX_DEVICE_NOT_FOUND, "device not found"},
                                         StatusText{CVX_TIMEOUT, "time-out or short transfer"}));

}  // namespace
