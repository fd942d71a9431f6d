// The command line of kestrel-lan-board.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dhcp_server.h"
#include "lan_board.h"

namespace kestrel::sim {

struct LanCommandLine {
  std::vector<LanBoardConfig> boards;
  bool help = false;
  std::string error;               // empty when the arguments made sense
  std::optional<DhcpConfig> dhcp;  // a DHCP server to run beside the boards
};

LanCommandLine parse_lan_command_line(const std::vector<std::string_view>& args);
std::string lan_usage(std::string_view program);

}  // namespace kestrel::sim
