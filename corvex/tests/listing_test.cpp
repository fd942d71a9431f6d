#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "support/sim_fixture.h"

namespace {

struct StringArray {
  explicit StringArray(uint32_t n, int32_t lower = 0) : items(n, nullptr) {
    array.cDims = 1;
    array.fFeatures = FADF_BSTR;
    array.cbElements = sizeof(BSTR);
    array.pvData = items.data();
    array.rgsabound[0] = {n, lower};
  }
  ~StringArray() {
    for (BSTR s : items) std::free(s);
  }
  std::vector<BSTR> items;
  SAFEARRAY array{};
};

}  // namespace

class Listing : public SimBoards {};

TEST_F(Listing, JoinedTextOfTwoBoards) {
  int32_t count = -1;
  char text[100];
  std::memset(text, '#', sizeof text);
  int32_t size = 100;
  EXPECT_EQ(CVX_ListDevicesA(&count, text, &size, CVX_IF_USB), CVX_OK);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(size, 18);
  EXPECT_EQ(std::string(text, 18), std::string("A1234567 B7654321\0", 18));
  EXPECT_EQ(text[18], '#');
}

TEST_F(Listing, TextThatDoesNotFitIsCutAndTheSizeSaysWhatIsNeeded) {
  int32_t count = 0;
  char text[16];
  std::memset(text, '#', sizeof text);
  int32_t size = 10;
  EXPECT_EQ(CVX_ListDevicesA(&count, text, &size, CVX_IF_USB), CVX_OK);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(size, 18);
  EXPECT_EQ(std::string(text, 11), "A1234567 B#");

  size = 9;  // exactly the first record: its zero is the last byte written
  std::memset(text, '#', sizeof text);
  EXPECT_EQ(CVX_ListDevicesA(nullptr, text, &size, CVX_IF_USB), CVX_OK);
  EXPECT_EQ(size, 18);
  EXPECT_EQ(std::string(text, 10), std::string("A1234567\0#", 10));
}

TEST_F(Listing, SizeOnlyAndFlagRules) {
  int32_t count = 0, size = 0;
  EXPECT_EQ(CVX_ListDevicesA(&count, nullptr, &size, CVX_IF_USB), CVX_OK);
  EXPECT_EQ(size, 18);
  char text[4] = {'#', '#', '#', '#'};
  size = 0;
  EXPECT_EQ(CVX_ListDevicesA(&count, text, &size, CVX_IF_USB), CVX_OK);
  EXPECT_EQ(size, 18);
  EXPECT_EQ(text[0], '#');
  EXPECT_EQ(CVX_ListDevicesA(&count, nullptr, nullptr, 0), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_ListDevicesA(&count, nullptr, nullptr, CVX_IF_USB | CVX_IF_LAN), CVX_OK);
  configure("");
  count = -1;
  size = 5;
  EXPECT_EQ(CVX_ListDevicesA(&count, text, &size, CVX_IF_USB), CVX_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(size, 0);
}

TEST_F(Listing, RecordsStopAtMaxButTheCountDoesNot) {
  char records[3][9];
  std::memset(records, '#', sizeof records);
  EXPECT_EQ(CVX_ListDevices(&records[0][0], 1), 2);
  EXPECT_EQ(std::string(records[0], 9), std::string("A1234567\0", 9));
  EXPECT_EQ(records[1][0], '#');
  EXPECT_EQ(CVX_ListDevices(nullptr, 5), 2);
  EXPECT_EQ(CVX_ListDevices(&records[0][0], 3), 2);
  EXPECT_EQ(std::string(records[1], 9), std::string("B7654321\0", 9));
}

TEST_F(Listing, OnlyBoardsAreListedAndHeldOnesNotAtAll) {
  configure(
      "[board]\nserial = FOREIGN1\nvid = 0x0403\npid = 0x6001\n"
      "[board]\nserial = HELD0001\nheld = 1\n"
      "[board]\nserial = OTHERPID\npid = 0xF003\n"
      "[board]\nserial = SECOND02\npid = 0xF002\n");
  char records[4][9] = {};
  EXPECT_EQ(CVX_ListDevices(&records[0][0], 4), 1);
  EXPECT_STREQ(records[0], "SECOND02");
  EXPECT_EQ(CVX_ListDevicesByID(0x0403, 0x6001, &records[0][0], 4), 1);
  EXPECT_STREQ(records[0], "FOREIGN1");
  EXPECT_EQ(CVX_ListDevicesByID(0x1237, 0xF003, &records[0][0], 4), 1);
  CVX_HANDLE h = 0;
  EXPECT_EQ(CVX_OpenA(&h, "HELD0001", CVX_IF_USB), CVX_DEVICE_NOT_FOUND);
  EXPECT_EQ(h, 0u);
}

TEST_F(Listing, AnOpenBoardIsNotListed) {
  open("A1234567");
  char records[2][9] = {};
  EXPECT_EQ(CVX_ListDevices(&records[0][0], 2), 1);
  EXPECT_STREQ(records[0], "B7654321");
}

TEST_F(Listing, StringArraysFromTheLowerBoundUpToTheUpper) {
  StringArray one(1, 5);
  one.items[0] = static_cast<BSTR>(std::malloc(4));  // replaced, not leaked
  std::strcpy(one.items[0], "old");
  EXPECT_EQ(CVX_ListDevices2(&one.array), 1);
  EXPECT_STREQ(one.items[0], "A1234567");
  StringArray three(3);
  EXPECT_EQ(CVX_ListDevices2(&three.array), 2);
  EXPECT_STREQ(three.items[1], "B7654321");
  EXPECT_EQ(three.items[2], nullptr);
  EXPECT_EQ(CVX_ListDevicesByID2(0x1237, 0xF001, &three.array), 2);
  EXPECT_EQ(CVX_ListDevicesByID2(0x1237, 0xF002, &three.array), 0);

  StringArray not_strings(2);
  not_strings.array.fFeatures = 0;
  EXPECT_EQ(CVX_ListDevices2(&not_strings.array), 0);
  EXPECT_EQ(CVX_ListDevices2(nullptr), 0);
}

class Opening : public SimBoards {};

TEST_F(Opening, BySerialRunsTheOpenCheck) {
  const CVX_HANDLE h = open("B7654321");
  ASSERT_NE(h, 0u);
  EXPECT_TRUE(sent(0).empty());
  EXPECT_EQ(sent(1), (std::vector<Bytes>{{0xFF}, {0x01}}));
  EXPECT_EQ(board(1).reply_waiting(), 0u);
  EXPECT_EQ(driver_calls(0), "Open;Close;");
  EXPECT_EQ(driver_calls(1), "Open;SetTimeouts(5000,5000);SetLatencyTimer(3);ResetDevice;");
  EXPECT_EQ(CVX_Close(h), CVX_OK);
  EXPECT_EQ(driver_calls(1), "Close;");
}

TEST_F(Opening, SerialMatchIsExactAndLimited) {
  configure("[board]\nserial = ABCDEFGHIJKLMNOP\n[board]\nserial = abc\n[board]\nserial = ABC\n");
  CVX_HANDLE h = 0;
  EXPECT_EQ(CVX_OpenA(&h, "ABCDEFGHIJKLMNOP", CVX_IF_USB), CVX_DEVICE_NOT_FOUND);  // 16 characters
  EXPECT_EQ(CVX_OpenA(&h, "AB", CVX_IF_USB), CVX_DEVICE_NOT_FOUND);
  const CVX_HANDLE h2 = CVX_Open("ABC");
  keep(h2);
  EXPECT_NE(h2, 0u);
  EXPECT_TRUE(sent(1).empty()) << "abc is another board";
  EXPECT_EQ(sent(2).size(), 2u);
}

TEST_F(Opening, NameWithAFullStopNeverTouchesUsb) {
  // A loopback port bound but not listening refuses at once; no other host is tried.
  const int refuser = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  ASSERT_EQ(::bind(refuser, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(::getsockname(refuser, reinterpret_cast<sockaddr*>(&at), &length), 0);
  ASSERT_EQ(CVX_SetNetworkPort(ntohs(at.sin_port)), CVX_OK);
  EXPECT_EQ(CVX_Open("127.0.0.1"), 0u);
  CVX_HANDLE h = 0;
  EXPECT_EQ(CVX_OpenA(&h, "127.0.0.1", CVX_IF_LAN), CVX_SOCKET_ERROR);
  EXPECT_EQ(h, 0u);
  CVX_SetNetworkPort(0);
  ::close(refuser);
  EXPECT_TRUE(sent(0).empty());
  EXPECT_TRUE(sent(1).empty());
  char records[2][9];
  EXPECT_EQ(CVX_ListDevices(&records[0][0], 2), 2) << "no board was left open";
}

TEST_F(Opening, BoardThatIsNotTheMonitorIsClosedAgain) {
  configure("[board]\nserial = OLD00005\nversion = 0x05\n[board]\nserial = WRITER01\nmode = writer\n");
  CVX_HANDLE h = 123;
  EXPECT_EQ(CVX_OpenA(&h, "OLD00005", CVX_IF_USB), CVX_NOT_MONITOR);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(CVX_OpenA(&h, "WRITER01", CVX_IF_USB), CVX_NOT_MONITOR);
  EXPECT_EQ(sent(1), (std::vector<Bytes>{{0xFF}, {0x01}}));
  char records[2][9];
  EXPECT_EQ(CVX_ListDevices(&records[0][0], 2), 2) << "both boards were closed again";
}

TEST_F(Opening, FlashWriterOpenNeedsTheWriterEcho) {
  CVX_HANDLE h = 0;
  EXPECT_EQ(CVX_OpenA(&h, "A1234567", CVX_IF_USB | CVX_IF_FLASH_WRITER), CVX_DEVICE_NOT_FOUND);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(sent(0), (std::vector<Bytes>{{0xEE}}));
  EXPECT_EQ(driver_calls(0),
            "Open;SetTimeouts(5000,5000);SetLatencyTimer(3);ResetDevice;SetTimeouts(1000,1000);Close;");
  configure("[board]\nserial = WRITER01\nmode = writer\n");
  h = open("WRITER01", CVX_IF_USB | CVX_IF_FLASH_WRITER);
  EXPECT_EQ(CVX_GetIFType(h), CVX_IF_USB | CVX_IF_FLASH_WRITER);
  EXPECT_EQ(driver_calls(0),
            "Open;SetTimeouts(5000,5000);SetLatencyTimer(3);ResetDevice;"
            "SetTimeouts(1000,1000);SetTimeouts(5000,5000);");
}

TEST_F(Opening, ByIdSkipsTheOpenCheck) {
  configure(
      "[board]\nserial = FOREIGN1\nvid = 0x0403\npid = 0x6001\n[board]\nserial = FOREIGN2\nvid = 0x0403\n"
      "pid = 0x6001\n");
  const CVX_HANDLE h = CVX_OpenByID(0x0403, 0x6001, "FOREIGN2");
  keep(h);
  ASSERT_NE(h, 0u);
  EXPECT_TRUE(sent(1).empty());
  EXPECT_EQ(driver_calls(1), "Open;SetTimeouts(5000,5000);SetLatencyTimer(3);ResetDevice;");
  EXPECT_EQ(CVX_GetIFType(h), CVX_IF_USB);
  const CVX_HANDLE any = CVX_OpenByID(0x0403, 0x6001, "");
  keep(any);
  EXPECT_NE(any, 0u);
  EXPECT_EQ(CVX_OpenByID(0x0403, 0x6001, nullptr), 0u) << "both are open now";
  EXPECT_EQ(CVX_OpenByID(0x1237, 0xF001, nullptr), 0u);
}

TEST_F(Opening, ByUserAreaComparesTheGivenLength) {
  configure(
      "[board]\nserial = UA000001\nuser_area = KESTREL-1\n[board]\nserial = UA000002\n"
      "user_area = KESTREL-2\n");
  const uint8_t wanted[] = {'K', 'E', 'S', 'T', 'R', 'E', 'L', '-', '2', 'X'};
  const CVX_HANDLE h = CVX_OpenByUA(wanted, 9);
  keep(h);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(sent(1), (std::vector<Bytes>{{0xFF}, {0x01}}));
  EXPECT_TRUE(sent(0).empty());
  EXPECT_EQ(CVX_OpenByUA(wanted, 10), 0u) << "the X is not in either area";
  // Bytes after a zero count as zero.
  const uint8_t cut[] = {'K', 'E', 'S', 0, 'Z'};
  EXPECT_EQ(CVX_OpenByUA(cut, 5), 0u);
  const CVX_HANDLE first = CVX_OpenByUA(wanted, 0);
  keep(first);
  EXPECT_NE(first, 0u);
  EXPECT_EQ(CVX_OpenByUA(nullptr, 1), 0u);
  uint8_t long_area[129] = {};
  EXPECT_EQ(CVX_OpenByUA(long_area, 129), 0u);
}

TEST_F(Opening, DriverFailuresAreSkippedOrPassedOn) {
  configure("[board]\nserial = GOOD0001\n[board]\nserial = BROKEN01\neeprom = 0\n[board]\nserial = GOOD0002\n");
  char records[3][9] = {};
  EXPECT_EQ(CVX_ListDevices(&records[0][0], 3), 2);
  EXPECT_STREQ(records[1], "GOOD0002");
  EXPECT_EQ(CVX_Open("BROKEN01"), 0u);
  EXPECT_EQ(CVX_ListDevices(&records[0][0], 3), 2) << "the unreadable device was closed again";

  configure("[driver]\nlist_status = 4\n[board]\nserial = GOOD0001\n");
  EXPECT_EQ(CVX_ListDevices(&records[0][0], 3), 0);
  int32_t count = -1;
  EXPECT_EQ(CVX_ListDevicesA(&count, nullptr, nullptr, CVX_IF_USB), CVX_OK);
  EXPECT_EQ(count, 0);
  CVX_HANDLE h = 0;
  EXPECT_EQ(CVX_OpenA(&h, nullptr, CVX_IF_USB), 4u) << "the driver's own status";
  EXPECT_EQ(CVX_OpenByID(0x1237, 0xF001, nullptr), 0u);
}
