// Address assignment for a LAN board in its flash writer, in network
// namespaces: the board and a DHCP server sit behind the pair (10.77.0.2),
// the board asks with broadcasts and gets 10.77.0.50.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "address_packets.h"
#include "corvex.h"
#include "dhcp_server.h"
#include "flash_writer.h"
#include "io.h"
#include "lan_board.h"
#include "support/netns.h"

namespace sim = kestrel::sim;
namespace dhcp = corvex::dhcp;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr std::uint8_t kMac[6] = {0x02, 0x4B, 0x45, 0x53, 0x54, 0x01};

std::uint32_t address(const char* dotted) {
  std::uint32_t a = 0;
  EXPECT_EQ(::inet_pton(AF_INET, dotted, &a), 1);
  return a;
}

std::uint32_t transaction(const Bytes& packet) {
  return packet[4] | packet[5] << 8 | packet[6] << 16 | static_cast<std::uint32_t>(packet[7]) << 24;
}

Bytes bytes(const dhcp::Packet& p) { return Bytes(p.begin(), p.end()); }

// The report's lines that must come, in this order.
void expect_in_order(const std::string& report, const std::vector<std::string>& lines) {
  std::size_t at = 0;
  for (const std::string& line : lines) {
    const std::size_t found = report.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\nin:\n" << report;
    at = found + line.size();
  }
}

class AddressAssignment : public ::testing::Test {
 protected:
  void TearDown() override {
    CVX_SetNetworkPort(0);
    board_.reset();
    dhcp_.reset();
  }

  // A flash-writer board asking for its address, and a DHCP server unless none.
  void serve(const std::string& server_name = "Quillmarsh", std::optional<sim::DhcpFaults> faults = sim::DhcpFaults{}) {
    sim::LanBoardConfig c;
    c.address = "0.0.0.0";
    c.board.flash_writer = true;
    c.ask_address = sim::AddressRequest{};
    c.ask_address->server_name = server_name;
    // The board side answers on the address it is given; broadcasts leave by the pair.
    netns::on_board_side(
        [&] {
          board_ = std::make_unique<sim::LanServer>(std::vector<sim::LanBoardConfig>{c});
          board_->start();
          if (faults) {
            sim::DhcpConfig d;
            d.faults = *faults;
            dhcp_ = std::make_unique<sim::DhcpServer>(d);
            dhcp_->start();
          }
        },
        "ip addr add 10.77.0.50/24 dev cvx1 && ip route add default dev cvx1");
    ASSERT_NE(board_, nullptr);
    CVX_SetNetworkPort(board_->tcp_port(0));
  }

  std::vector<sim::DhcpSeen> seen() const { return dhcp_ ? dhcp_->seen() : std::vector<sim::DhcpSeen>{}; }

  std::unique_ptr<sim::LanServer> board_;
  std::unique_ptr<sim::DhcpServer> dhcp_;
  std::vector<char> report_ = std::vector<char>(CVX_FLSH_REPORT_SIZE, 'x');
};

TEST_F(AddressAssignment, LeasesAnAddressForTheBoardAndReleasesItAtClose) {
  IN_NAMESPACE();
  ASSERT_NO_FATAL_FAILURE(serve());
  CVX_LEASE lease{};
  lease.board = 0xFFFFFFFF;  // read as none
  CVX_HANDLE h = 0;
  ASSERT_EQ(CVX_FlshOpenLan(&h, &lease, 0, report_.data()), CVX_OK) << report_.data();
  EXPECT_EQ(CVX_GetIFType(h), CVX_IF_LAN | CVX_IF_FLASH_WRITER);
  EXPECT_EQ(lease.board, address("10.77.0.50"));
  EXPECT_EQ(lease.server, address("10.77.0.2"));
  EXPECT_EQ(lease.mask, address("255.255.255.0"));
  EXPECT_EQ(Bytes(lease.mac, lease.mac + 6), Bytes(kMac, kMac + 6));

  // What the server heard is exactly the client's DISCOVER and REQUEST.
  const auto heard = seen();
  ASSERT_EQ(heard.size(), 2u);
  const std::uint32_t xid = transaction(heard[0].bytes);
  dhcp::Packet packet = dhcp::discover(xid, kMac);
  EXPECT_EQ(heard[0].bytes, bytes(packet));
  dhcp::to_request(packet, lease.board, lease.server);
  EXPECT_EQ(heard[1].bytes, bytes(packet));

  // The board's answer carries its address, the mask and itself as router.
  const auto answer = board_->address_answer(0);
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->size(), dhcp::kRequestSize);
  EXPECT_EQ((*answer)[0], 2);
  EXPECT_EQ(Bytes(answer->begin() + 16, answer->begin() + 20), Bytes({10, 77, 0, 50}));
  EXPECT_EQ(Bytes(answer->begin() + 236, answer->begin() + 255),
            Bytes({99, 130, 83, 99, 53, 1, 2, 1, 4, 255, 255, 255, 0, 3, 4, 10, 77, 0, 50}));
  EXPECT_EQ(answer->back(), 255);

  const std::string report = report_.data();
  expect_in_order(report, {"\n***** デバイスへのアドレス割り当てを開始します *****\n",
                           "\n***** DHCPサーバーとの通信を開始します *****\n", "ソケットを作成しました\n",
                           "ソケットにポート番号を割り当てました\n", "ポート番号 : 68\n", "IPアドレス : 10.77.0.1\n",
                           "DHCPDISCOVERパケットを送信しました\n" + dhcp::dump(dhcp::discover(xid, kMac)),
                           "DHCPOFFERパケットを受信しました\n\n02 01 06 00 ", "DHCPREQUESTパケットを送信しました\n",
                           "DHCPACKパケットを受信しました\n", "MACアドレス : 02-4B-45-53-54-01\n",
                           "取得したIP : 10.77.0.50\nサーバーIP : 10.77.0.2\nサブネットマスク : 255.255.255.0\n"
                           "***** DHCPリクエストは正常に終了しました *****\n\n"
                           "\n***** デバイスへのアドレス割り当てが正常に終了しました *****\n"
                           "\n***** デバイスへの接続をおこないます *****\n"
                           "\n***** デバイスへの接続を正常に行いました *****\n"});
  EXPECT_EQ(report.find("エラー"), std::string::npos);

  // Connected without a login, to the flash writer.
  EXPECT_EQ(corvex::on_channel(h, [](corvex::Transport& t) { return corvex::writer_echo(t); }), CVX_OK);
  EXPECT_EQ(board_->stats(0).logins, 0u);
  // The flash writer's record areas over the connection.
  Bytes record(128, 0x5A);
  record[0] = record[1] = 0;
  ASSERT_EQ(CVX_FlashAppendModeWrite(h, 2, record.data()), CVX_OK);
  Bytes back(128);
  ASSERT_EQ(CVX_FlashAppendModeRead(h, 2, back.data()), CVX_OK);
  EXPECT_EQ(back, record);
  EXPECT_EQ(board_->with_board(0, [](sim::Board& b) { return b.flash(2 * 4096 + 2); }), 0x5A);

  ASSERT_EQ(CVX_FlshCloseLan(h, &lease), CVX_OK);
  std::vector<sim::DhcpSeen> after;
  for (auto until = Clock::now() + 2s; Clock::now() < until && after.size() < 3; std::this_thread::sleep_for(10ms))
    after = seen();
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after[2].bytes, bytes(dhcp::release(transaction(after[2].bytes), lease)));
  EXPECT_EQ(CVX_GetIFType(h), CVX_IF_LAN | CVX_IF_FLASH_WRITER) << "the row keeps its word";
  EXPECT_EQ(CVX_Close(h), CVX_INVALID_HANDLE);
}

TEST_F(AddressAssignment, ALeaseWithAnAddressSkipsDhcpAndKeepsItsMask) {
  IN_NAMESPACE();
  ASSERT_NO_FATAL_FAILURE(serve());
  CVX_LEASE lease{};
  lease.board = address("192.168.99.5");
  CVX_HANDLE h = 0;
  ASSERT_EQ(CVX_FlshOpenLan(&h, &lease, 0, report_.data()), CVX_FAILED);
  EXPECT_EQ(std::string(report_.data()),
            "\n***** デバイスへのアドレス割り当てを開始します *****\n"
            "エラー : 接続可能なネットワークが見つかりませんでした\n");

  lease.board = address("10.77.0.50");
  lease.mask = address("255.255.0.0");
  ASSERT_EQ(CVX_FlshOpenLan(&h, &lease, 0, nullptr), CVX_OK);
  EXPECT_TRUE(seen().empty());
  const auto answer = board_->address_answer(0);
  ASSERT_TRUE(answer);
  EXPECT_EQ(Bytes(answer->begin() + 243, answer->begin() + 255), Bytes({1, 4, 255, 255, 0, 0, 3, 4, 10, 77, 0, 50}));
  EXPECT_EQ(lease.server, 0u);
  ASSERT_EQ(CVX_FlshCloseLan(h, &lease), CVX_OK);
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(seen().empty()) << "no lease, nothing to release";
}

TEST_F(AddressAssignment, AnswersForOthersAreDroppedAndTheWaitGoesOn) {
  IN_NAMESPACE();
  sim::DhcpFaults faults;
  faults.wrong_xid_first = true;
  ASSERT_NO_FATAL_FAILURE(serve("Quillmarsh", faults));
  CVX_LEASE lease{};
  CVX_HANDLE h = 0;
  ASSERT_EQ(CVX_FlshOpenLan(&h, &lease, 0, report_.data()), CVX_OK) << report_.data();
  EXPECT_EQ(lease.board, address("10.77.0.50"));
  const std::string drop = "トランザクションIDが一致しないのでパケットを破棄します\n";
  expect_in_order(report_.data(), {"DHCPDISCOVERパケットを送信しました\n", drop, "DHCPOFFERパケットを受信しました\n",
                                   "DHCPREQUESTパケットを送信しました\n", drop, "DHCPACKパケットを受信しました\n"});
  CVX_FlshCloseLan(h, &lease);
}

TEST_F(AddressAssignment, ARequestForAnotherServerIsDroppedUntilTheWaitEnds) {
  IN_NAMESPACE();
  ASSERT_NO_FATAL_FAILURE(serve("Otherhost"));
  CVX_LEASE lease{};
  CVX_HANDLE h = 7;
  const auto start = Clock::now();
  EXPECT_EQ(CVX_FlshOpenLan(&h, &lease, 0, report_.data()), CVX_TIMEOUT);
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 3000ms);
  EXPECT_LT(took, 3500ms);
  EXPECT_EQ(h, 0u);
  expect_in_order(report_.data(), {"サーバーのホストネームが一致しないのでパケットを破棄します\n",
                                   "サーバーのホストネームが一致しないのでパケットを破棄します\n",
                                   "エラー : 受信待ち中にタイムアウトしました\n"});
  EXPECT_TRUE(seen().empty());
  EXPECT_FALSE(board_->address_answer(0));
}

TEST_F(AddressAssignment, ServerRefusals) {
  IN_NAMESPACE();
  sim::DhcpFaults faults;
  faults.nak = true;
  ASSERT_NO_FATAL_FAILURE(serve("Quillmarsh", faults));
  CVX_LEASE lease{};
  CVX_HANDLE h = 0;
  EXPECT_EQ(CVX_FlshOpenLan(&h, &lease, 0, report_.data()), CVX_FAILED);
  expect_in_order(report_.data(), {"DHCPACKパケットを受信しました\n", "エラー : リクエストが失敗しました\n"});
  EXPECT_FALSE(board_->address_answer(0)) << "the board is not answered";
}

TEST_F(AddressAssignment, AnOfferThatNamesNoServer) {
  IN_NAMESPACE();
  sim::DhcpFaults faults;
  faults.no_server_id = true;
  faults.long_options = true;
  ASSERT_NO_FATAL_FAILURE(serve("Quillmarsh", faults));
  CVX_LEASE lease{};
  CVX_HANDLE h = 0;
  EXPECT_EQ(CVX_FlshOpenLan(&h, &lease, 0, report_.data()), CVX_FAILED);
  expect_in_order(report_.data(), {"DHCPOFFERパケットを受信しました\n", "エラー : DHCPオプションの内容が不正です\n"});
  EXPECT_EQ(seen().size(), 1u) << "no request follows";
}

TEST_F(AddressAssignment, OpenInFlashWriterModeKeepsTheLeaseUntilClose) {
  IN_NAMESPACE();
  ASSERT_NO_FATAL_FAILURE(serve());
  CVX_HANDLE h = 0;
  ASSERT_EQ(CVX_OpenA(&h, nullptr, CVX_IF_LAN | CVX_IF_FLASH_WRITER), CVX_OK);
  EXPECT_EQ(CVX_GetIFType(h), CVX_IF_LAN | CVX_IF_FLASH_WRITER);
  EXPECT_EQ(board_->with_board(0, [](sim::Board& b) { return b.in_flash_writer(); }), true);
  ASSERT_EQ(seen().size(), 2u);
  ASSERT_EQ(CVX_Close(h), CVX_OK);
  std::vector<sim::DhcpSeen> after;
  for (auto until = Clock::now() + 2s; Clock::now() < until && after.size() < 3; std::this_thread::sleep_for(10ms))
    after = seen();
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after[2].type, sim::kDhcpRelease);
  EXPECT_EQ(Bytes(after[2].bytes.begin() + 12, after[2].bytes.begin() + 16), Bytes({10, 77, 0, 50}));
}

}  // namespace
