// Any datagram as the board's address request and as a DHCP server's reply:
// the readers stay inside its bytes, an answer keeps its fixed shape, and an
// accepted offer is what its bytes say.

#include <cstdio>
#include <cstring>

#include "FuzzRequire.h"
#include "address_packets.h"

using namespace corvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // As the board's request: cut to the receive buffer, zero past what came.
  dhcp::Request request{};
  std::memcpy(request.data(), data, std::min(size, request.size()));
  const dhcp::Asked asked = dhcp::classify(request);
  FUZZ_REQUIRE((asked == dhcp::Asked::nothing) == (request[0] != 1));
  CVX_LEASE lease{};
  lease.board = 0x3200A8C0;
  lease.mask = 0x00FFFFFF;
  const dhcp::Request answer = dhcp::answer(request, lease);
  FUZZ_REQUIRE(answer[0] == 2 && answer[255] == 255 && std::memcmp(answer.data() + 1, request.data() + 1, 15) == 0);

  // As a reply, read in place: a read past `size` is the sanitizer's to catch.
  const std::size_t length = std::min(size, dhcp::kPacketSize);
  const dhcp::Options o = dhcp::read_options(data, length);
  FUZZ_REQUIRE(o.type >= -1 && o.type <= 255);
  lease.board = lease.server = 1;
  const bool offer = dhcp::take_offer(data, length, lease) == CVX_OK;
  FUZZ_REQUIRE(offer == (o.type == 2 && o.has_server && length >= 20));
  if (offer) FUZZ_REQUIRE(std::memcmp(&lease.board, data + 16, 4) == 0 && lease.server == o.server);
  else FUZZ_REQUIRE(lease.board == 0 && lease.server == 0);
  const std::uint32_t mask = lease.mask;
  const bool ack = dhcp::take_ack(data, length, lease) == CVX_OK;
  FUZZ_REQUIRE(ack == (o.type == 5));
  FUZZ_REQUIRE(lease.mask == (ack && o.has_mask ? o.mask : mask));
  (void)dhcp::same_transaction(data, length, 0x01020304);
  (void)dhcp::is_reply(data, length);
  return 0;
}
