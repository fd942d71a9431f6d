// The address-assignment packets, byte for byte.
#include <gtest/gtest.h>

#include <cstring>

#include "address_packets.h"

namespace dhcp = corvex::dhcp;

namespace {

constexpr std::uint8_t kMac[6] = {0x02, 0x4B, 0x45, 0x53, 0x54, 0x01};

std::uint32_t address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  std::uint32_t v = 0;
  std::memcpy(&v, bytes, 4);
  return v;
}

// The packet as written out by hand: header, MAC, cookie, then options.
dhcp::Packet expected(std::initializer_list<std::uint8_t> options) {
  dhcp::Packet p{};
  p[0] = 1, p[1] = 1, p[2] = 6;
  p[4] = 0x44, p[5] = 0x33, p[6] = 0x22, p[7] = 0x11;
  std::memcpy(p.data() + 28, kMac, 6);
  p[236] = 99, p[237] = 130, p[238] = 83, p[239] = 99;
  std::copy(options.begin(), options.end(), p.begin() + 240);
  return p;
}

TEST(AddressPackets, ClientPacketsByteForByte) {
  dhcp::Packet discover = dhcp::discover(0x11223344, kMac);
  dhcp::Packet want = expected({53, 1, 1, 61, 7, 1, 0x02, 0x4B, 0x45, 0x53, 0x54, 0x01, 255});
  want[10] = 0x80;
  EXPECT_EQ(discover, want);

  dhcp::to_request(discover, address(10, 77, 0, 50), address(10, 77, 0, 2));
  want = expected({53, 1, 3, 61, 7, 1, 0x02, 0x4B, 0x45, 0x53, 0x54, 0x01, 50, 4, 10, 77, 0, 50, 54, 4, 10, 77, 0, 2,
                   55, 1, 1, 255});
  want[10] = 0x80;
  EXPECT_EQ(discover, want);

  CVX_LEASE lease{};
  lease.board = address(10, 77, 0, 50);
  lease.server = address(10, 77, 0, 2);
  std::memcpy(lease.mac, kMac, 6);
  want = expected({53, 1, 7, 61, 7, 1, 0x02, 0x4B, 0x45, 0x53, 0x54, 0x01, 54, 4, 10, 77, 0, 2, 255});
  want[12] = 10, want[13] = 77, want[14] = 0, want[15] = 50;
  EXPECT_EQ(dhcp::release(0x11223344, lease), want);
}

TEST(AddressPackets, TheBoardsRequestAndOurAnswer) {
  dhcp::Request request{};
  for (std::size_t i = 0; i < request.size(); ++i) request[i] = static_cast<std::uint8_t>(i * 13 + 1);
  request[0] = 1;
  std::memset(request.data() + 44, 0, 64);
  std::memcpy(request.data() + 44, "Quillmarsh", 10);
  EXPECT_EQ(dhcp::classify(request), dhcp::Asked::us);

  CVX_LEASE lease{};
  lease.board = address(192, 168, 5, 9);
  lease.mask = address(255, 255, 0, 0);
  dhcp::Request want = request;
  want[0] = 2;
  want[16] = 192, want[17] = 168, want[18] = 5, want[19] = 9;
  const std::uint8_t tail[] = {99, 130, 83, 99, 53, 1, 2, 1, 4, 255, 255, 0, 0, 3, 4, 192, 168, 5, 9};
  std::copy(std::begin(tail), std::end(tail), want.begin() + 236);
  want[255] = 255;
  EXPECT_EQ(dhcp::answer(request, lease), want) << "bytes 255 of the request past the options stay";

  request[44 + 10] = 'x';
  EXPECT_EQ(dhcp::classify(request), dhcp::Asked::other_server);
  std::memset(request.data() + 44, 'Q', 64);  // no terminating zero inside the field
  EXPECT_EQ(dhcp::classify(request), dhcp::Asked::other_server);
  request[0] = 2;
  EXPECT_EQ(dhcp::classify(request), dhcp::Asked::nothing);
}

TEST(AddressPackets, RepliesAreReadWithinTheirBytes) {
  dhcp::Packet offer{};
  offer[0] = 2;
  offer[16] = 10, offer[17] = 77, offer[18] = 0, offer[19] = 50;
  // Pads, a domain longer than four bytes, a mask given as eight bytes, then 53 and 54.
  const std::uint8_t options[] = {0, 0, 15, 6, 'a', 'b', 'c', 'd', 'e', 'f', 1, 8, 255, 255, 252, 0, 9, 9, 9, 9,
                                  53, 1, 2, 54, 4, 10, 77, 0, 2, 255};
  std::copy(std::begin(options), std::end(options), offer.begin() + 240);
  const std::size_t length = 240 + sizeof options;
  const dhcp::Options o = dhcp::read_options(offer.data(), length);
  EXPECT_EQ(o.type, 2);
  EXPECT_EQ(o.mask, address(255, 255, 252, 0));
  EXPECT_EQ(o.server, address(10, 77, 0, 2));

  CVX_LEASE lease{};
  lease.board = lease.server = 0xFFFFFFFF;
  ASSERT_EQ(dhcp::take_offer(offer.data(), length, lease), CVX_OK);
  EXPECT_EQ(lease.board, address(10, 77, 0, 50));
  EXPECT_EQ(lease.server, address(10, 77, 0, 2));
  EXPECT_EQ(lease.mask, address(255, 255, 255, 0)) << "an offer's mask waits for the acknowledgement";

  // Cut before option 54: not an offer that names its server; the lease is cleared.
  EXPECT_EQ(dhcp::take_offer(offer.data(), length - 6, lease), CVX_FAILED);
  EXPECT_EQ(lease.board, 0u);
  EXPECT_EQ(lease.server, 0u);
  // An option whose length runs past the datagram is read as far as it goes.
  EXPECT_EQ(dhcp::read_options(offer.data(), 240 + 16).mask, address(255, 255, 252, 0));
  EXPECT_EQ(dhcp::read_options(offer.data(), 240 + 14).mask, address(255, 255, 0, 0));
  // A zero length ends the list.
  offer[240 + 3] = 0;
  EXPECT_EQ(dhcp::read_options(offer.data(), length).type, -1);

  EXPECT_EQ(dhcp::take_ack(offer.data(), length, lease), CVX_FAILED);
  offer[240 + 3] = 6;
  offer[240 + 22] = 5;
  ASSERT_EQ(dhcp::take_ack(offer.data(), length, lease), CVX_OK);
  EXPECT_EQ(lease.mask, address(255, 255, 252, 0));

  EXPECT_TRUE(dhcp::same_transaction(dhcp::discover(7, kMac).data(), 8, 7));
  EXPECT_FALSE(dhcp::same_transaction(dhcp::discover(7, kMac).data(), 7, 7));
}

TEST(AddressPackets, DumpSixteenBytesToALine) {
  dhcp::Packet p{};
  p[0] = 0xAB, p[16] = 0x01, p[547] = 0xFF;
  const std::string d = dhcp::dump(p);
  EXPECT_EQ(d.substr(0, 50), "\nAB 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \n");
  EXPECT_EQ(d.substr(50, 4), "01 0");
  EXPECT_EQ(d.size(), 548 * 3 + 35 + 2);
  EXPECT_EQ(d.substr(d.size() - 5), "FF \n\n");
}

}  // namespace
