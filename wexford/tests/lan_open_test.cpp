// Opens whose types include the LAN, each in a network namespace of its own:
// USB boards behind the driver stand-in, a LAN board behind a veth pair.
#include <memory>

#include "support/expansion_board.h"
#include "lan_board.h"
#include "support/netns.h"

namespace {

namespace sim = kestrel::sim;
using wire::kAnyTypes;

class LanOpen : public ExpansionBoards {
 protected:
  void TearDown() override {
    ExpansionBoards::TearDown();
    CVX_SetNetworkPort(0);
    server_.reset();
  }

  // A LAN board of the given product and unit, answering discovery on the wildcard address.
  void serve(const char* product, std::uint32_t unit) {
    sim::LanBoardConfig c;
    c.address = "0.0.0.0";
    c.board.product = sim::ProductRecord{*sim::parse_uuid(product), unit};
    netns::on_board_side([&] {
      server_ = std::make_unique<sim::LanServer>(std::vector<sim::LanBoardConfig>{c});
      server_->start();
    });
    ASSERT_NE(server_, nullptr);
    CVX_SetNetworkPort(server_->tcp_port(0));
  }

  std::unique_ptr<sim::LanServer> server_;
};

TEST_F(LanOpen, TriesUsbFirst) {
  IN_NAMESPACE();
  ASSERT_NO_FATAL_FAILURE(serve(wire::kLanProduct, 0));
  WXF_HANDLE h = 0;
  ASSERT_EQ(WXF_Open(&h, 0, kAnyTypes), WXF_OK);
  keep(h);
  EXPECT_EQ(CVX_GetIFType(h), CVX_IF_USB);
  EXPECT_EQ(server_->stats(0).discovery_requests, 0u) << "no LAN search once USB found the board";
}

TEST_F(LanOpen, FindsTheLanBoardWhenUsbHasNone) {
  IN_NAMESPACE();
  // On USB, a board of another product and one carrying the LAN identifier.
  configure("[board]\nserial = PLAIN\n" + board_text("L2", wire::kLanProduct, 2));
  ASSERT_NO_FATAL_FAILURE(serve(wire::kLanProduct, 2));
  WXF_HANDLE h = 7;
  EXPECT_EQ(WXF_Open(&h, 3, kAnyTypes), CVX_DEVICE_NOT_FOUND) << "no LAN board of unit 3";
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(server_->stats(0).discovery_requests, 1u);
  EXPECT_EQ(server_->stats(0).logins, 0u);

  ASSERT_EQ(WXF_Open(&h, 0, kAnyTypes), WXF_OK);
  keep(h);
  EXPECT_EQ(CVX_GetIFType(h), CVX_IF_LAN);
  EXPECT_EQ(server_->stats(0).discovery_requests, 2u);
  EXPECT_EQ(server_->stats(0).logins, 1u);
  // The handle reaches the LAN board: its initialisation sets the flag there
  // (read back through the handle, so every command has run when the model is looked at).
  ASSERT_EQ(WXF_Initialize(h), WXF_OK);
  std::uint8_t flag = 0;
  ASSERT_EQ(WXF_PortRead(h, wire::kFlag, &flag), WXF_OK);
  EXPECT_EQ(flag, 0x10);
  server_->with_board(0, [](sim::Board& b) { EXPECT_EQ(b.direction(0xFFFFD4), 0x03); });
}

TEST_F(LanOpen, LanTypesWithoutTheBoardBitSearchNothing) {
  IN_NAMESPACE();
  configure("[board]\nserial = PLAIN\n");
  ASSERT_NO_FATAL_FAILURE(serve(wire::kLanProduct, 0));
  for (std::uint32_t types : {0x40000000u, 0xC0000000u, 0x407FFFFFu}) {
    WXF_HANDLE h = 7;
    EXPECT_EQ(WXF_Open(&h, 0, types), WXF_INVALID_ARGUMENT) << std::hex << types;
    EXPECT_EQ(h, 0u);
  }
  EXPECT_EQ(server_->stats(0).discovery_requests, 0u);
  EXPECT_EQ(driver_calls(0), "") << "nor a USB search";
}

}  // namespace
