// Opening and closing the expansion board on USB. Opens that may reach the
// LAN are in lan_open_test.cpp, inside network namespaces.
#include "support/expansion_board.h"

namespace {

using wire::kUsbProduct;
using wire::kUsbTypes;

class Open : public ExpansionBoards {};

TEST_F(Open, FindsTheUsbBoardByProductAndUnit) {
  // Boards that are not the USB expansion board come first: none of them may be taken.
  configure("[board]\nserial = PLAIN\n" + board_text("LAN3", wire::kLanProduct, 3) +
            board_text("OTHER3", "6b29fc40-ca47-1067-b31d-00dd010662da", 3) + board_text("X3", kUsbProduct, 3));
  forget_sent();
  WXF_HANDLE h = 7;
  EXPECT_EQ(WXF_Open(&h, 5, kUsbTypes), CVX_DEVICE_NOT_FOUND);
  EXPECT_EQ(h, 0u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(driver_calls(i), "Open;SetTimeouts(500,500);Close;") << i;

  ASSERT_EQ(WXF_Open(&h, 3, kUsbTypes), WXF_OK);
  keep(h);
  EXPECT_EQ(CVX_GetIFType(h), CVX_IF_USB);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(driver_calls(i), "Open;SetTimeouts(500,500);Close;") << i;
  // The search's short time-outs, then the long ones of the board taken.
  EXPECT_EQ(driver_calls(3), "Open;SetTimeouts(500,500);SetTimeouts(5000,5000);SetLatencyTimer(3);");

  // The unit number is a 16-bit one.
  WXF_HANDLE same = 0;
  ASSERT_EQ(WXF_Close(h), WXF_OK);
  EXPECT_EQ(driver_calls(3), "Close;");
  ASSERT_EQ(WXF_Open(&same, 0x10003, kUsbTypes), WXF_OK);
  keep(same);
  EXPECT_EQ(CVX_GetIFType(same), CVX_IF_USB);
}

TEST_F(Open, TypesWithoutAnInterfaceAndTheBoardSearchNothing) {
  for (std::uint32_t types : {0x80000000u, 0x00800000u, 0x807FFFFFu, 0u}) {
    WXF_HANDLE h = 7;
    EXPECT_EQ(WXF_Open(&h, 0, types), WXF_INVALID_ARGUMENT) << std::hex << types;
    EXPECT_EQ(h, 0u);
  }
  EXPECT_EQ(WXF_Open(nullptr, 0, kUsbTypes), WXF_INVALID_ARGUMENT);
  EXPECT_EQ(driver_calls(0), "") << "no board was opened";
  EXPECT_EQ(WXF_Close(0), CVX_INVALID_HANDLE);
}

}  // namespace
