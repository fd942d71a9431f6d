#include "address_assignment.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "address_listener.h"
#include "address_packets.h"
#include "lan_state.h"
#include "lan_transport.h"
#include "state.h"
#include "udp_socket.h"

namespace corvex {
namespace {

// The board needs a moment with its new address before it takes a connection.
constexpr auto kBoardSettles = std::chrono::milliseconds(300);

}  // namespace

CVX_STATUS flash_open_lan(CVX_HANDLE* handle, CVX_LEASE& lease, Report& report) {
  *handle = 0;
  report.add("\n***** デバイスへのアドレス割り当てを開始します *****\n");
  if (lease.board == kEveryone) lease.board = 0;
  if (CVX_STATUS s = assign_address(lease, report); s != CVX_OK) return s;
  report.add("\n***** デバイスへのアドレス割り当てが正常に終了しました *****\n");
  std::this_thread::sleep_for(kBoardSettles);
  report.add("\n***** デバイスへの接続をおこないます *****\n");

  State& s = state();
  std::int32_t port = 0;
  {
    std::lock_guard lock(s.table.lock());
    port = lan_state().network_port;
  }
  std::shared_ptr<LanSocket> link;
  if (CVX_STATUS st = lan_connect(dhcp::dotted(lease.board).c_str(), port, &link); st != CVX_OK) {
    report.add("エラー : デバイスへの接続に失敗しました\n");
    return st;
  }
  *handle = take_lan_row(std::move(link), CVX_IF_LAN | CVX_IF_FLASH_WRITER);
  if (!*handle) {
    report.add("エラー : ソケットの登録に失敗しました\n");
    return CVX_TABLE_FULL;
  }
  report.add("\n***** デバイスへの接続を正常に行いました *****\n");
  return CVX_OK;
}

}  // namespace corvex
