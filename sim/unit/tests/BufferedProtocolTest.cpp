#include "SlavePort.h"
#include "unit/BufferedProtocol.h"

#include <gtest/gtest.h>

namespace kestrel::sim::test {
namespace {

using P = BufferedProtocol;

std::vector<Item> feedAll(Protocol& protocol, const Bytes& bytes) {
  return protocol.feed(bytes);
}

TEST(BufferedProtocol, ChecksumCoversPayloadAndEtxOnly) {
  EXPECT_EQ(P::frame(ascii("001")), (Bytes{0x02, 0x30, 0x30, 0x31, 0x03, 0x32}));
  EXPECT_EQ(P::frame(Bytes{0xFF}), (Bytes{0x02, 0xFF, 0x03, 0xFC}));
  EXPECT_EQ(P::frame(ascii("251")), (Bytes{0x02, 0x32, 0x35, 0x31, 0x03, 0x35}));
  EXPECT_EQ(P::frame(ascii("253")), (Bytes{0x02, 0x32, 0x35, 0x33, 0x03, 0x37}));
}

TEST(BufferedProtocol, EnquiryIsAcknowledged) {
  P p;
  const auto items = feedAll(p, {0x05});
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].kind, ItemKind::Enquiry);
  EXPECT_EQ(items[0].reply, P::ACK);
}

TEST(BufferedProtocol, FrameAnsweredByChecksum) {
  P p;
  const auto items = feedAll(p, {0x02, 0x30, 0x30, 0x31, 0x03, 0x32,  //
                                 0x02, 0x30, 0x30, 0x31, 0x03, 0x33});
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].kind, ItemKind::Frame);
  EXPECT_EQ(items[0].bytes, (Bytes{0x02, 0x30, 0x30, 0x31, 0x03, 0x32}));
  EXPECT_EQ(items[0].reply, P::ACK);
  EXPECT_EQ(items[1].kind, ItemKind::Frame);
  EXPECT_EQ(items[1].reply, P::NAK);
}

TEST(BufferedProtocol, FrameSplitAcrossChunksByteByByte) {
  P p;
  const Bytes frame = P::frame(ascii("001015145"));
  for (std::size_t i = 0; i + 1 < frame.size(); ++i)
    EXPECT_TRUE(p.feed(std::span(frame).subspan(i, 1)).empty()) << "byte " << i;
  const auto items = p.feed(std::span(frame).last(1));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].bytes, frame);
  EXPECT_EQ(items[0].reply, P::ACK);
}

TEST(BufferedProtocol, StopAndOtherBytesOutsideFramesAreNotAnswered) {
  P p;
  const auto items = feedAll(p, {0xFF, 0x41, 0x06, 0x05});
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].kind, ItemKind::Stop);
  EXPECT_FALSE(items[0].reply);
  EXPECT_EQ(items[1].kind, ItemKind::Unexpected);
  EXPECT_EQ(items[1].bytes, Bytes{0x41});
  EXPECT_FALSE(items[1].reply);
  EXPECT_EQ(items[2].kind, ItemKind::Unexpected);
  EXPECT_EQ(items[3].kind, ItemKind::Enquiry);
}

TEST(BufferedProtocol, FfInsideFrameIsPayloadNotStop) {
  P p;
  const auto items = feedAll(p, {0x02, 0xFF, 0x03, 0xFC});
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].kind, ItemKind::Frame);
  EXPECT_EQ(items[0].reply, P::ACK);
}

TEST(BufferedProtocol, ChecksumByteMayLookLikeControlBytes) {
  // "0" ^ "1" ^ ETX == STX: the last byte is a checksum, not a new frame.
  P p;
  const auto items = feedAll(p, {0x02, 0x30, 0x31, 0x03, 0x02, 0x05});
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].kind, ItemKind::Frame);
  EXPECT_EQ(items[0].reply, P::ACK);
  EXPECT_EQ(items[1].kind, ItemKind::Enquiry);
}

TEST(BufferedProtocol, StxInsideFrameRestartsIt) {
  P p;
  auto items = feedAll(p, {0x02, 0x30, 0x30});
  EXPECT_TRUE(items.empty());
  items = feedAll(p, P::frame(ascii("002")));
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].kind, ItemKind::Abandoned);
  EXPECT_EQ(items[0].bytes, (Bytes{0x02, 0x30, 0x30}));
  EXPECT_FALSE(items[0].reply);
  EXPECT_EQ(items[1].kind, ItemKind::Frame);
  EXPECT_EQ(items[1].bytes, P::frame(ascii("002")));
  EXPECT_EQ(items[1].reply, P::ACK);
}

TEST(BufferedProtocol, OverlongFrameIsDroppedThroughItsChecksum) {
  P p;
  Bytes flood{0x02};
  flood.insert(flood.end(), P::maxFrame + 100, 0x31);
  flood.push_back(0x03);
  flood.push_back(0x05);  // its checksum slot, not an enquiry
  auto items = feedAll(p, flood);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].kind, ItemKind::Overlong);
  EXPECT_EQ(items[0].bytes.size(), P::maxFrame + 1);
  EXPECT_FALSE(items[0].reply);

  items = feedAll(p, {0x05});
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].kind, ItemKind::Enquiry);
}

TEST(BufferedProtocol, StxWhileSkippingStartsAFreshFrame) {
  P p;
  Bytes flood{0x02};
  flood.insert(flood.end(), P::maxFrame + 10, 0x31);
  const Bytes good = P::frame(ascii("145"));
  flood.insert(flood.end(), good.begin(), good.end());
  const auto items = feedAll(p, flood);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[1].kind, ItemKind::Frame);
  EXPECT_EQ(items[1].bytes, good);
  EXPECT_EQ(items[1].reply, P::ACK);
}

TEST(BufferedProtocol, SurvivesEveryByteValue) {
  P p;
  Bytes all;
  for (int round = 0; round < 3; ++round)
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b * 7 + round));
  std::size_t itemBytes = 0;
  for (std::size_t i = 0; i < all.size(); i += 13)
    for (const Item& item : p.feed(std::span(all).subspan(i, std::min<std::size_t>(13, all.size() - i))))
      itemBytes += item.bytes.size();
  EXPECT_LE(itemBytes, all.size());
  // ETX then any byte leaves every state, so a clean frame is understood next.
  feedAll(p, {0x03, 0x41});
  const auto items = feedAll(p, P::frame(ascii("015")));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].kind, ItemKind::Frame);
  EXPECT_EQ(items[0].reply, P::ACK);
}

TEST(Describe, OneHexLinePerItem) {
  const Item frame{ItemKind::Frame, {0x02, 0x30, 0x30, 0x31, 0x03, 0x32}, P::ACK};
  EXPECT_EQ(describe(frame, Bytes{0x06}), "frame 02 30 30 31 03 32 -> 06");
  EXPECT_EQ(describe({ItemKind::Stop, {0xFF}, std::nullopt}, std::nullopt), "stop FF");
  EXPECT_EQ(describe({ItemKind::Enquiry, {0x05}, P::ACK}, Bytes{0x41, 0x06}), "enquiry 05 -> 41 06");
}

TEST(Protocols, BufferedIsTheDefaultAndUnknownNamesGiveNothing) {
  ASSERT_FALSE(protocolNames().empty());
  EXPECT_EQ(protocolNames().front(), "buffered");
  EXPECT_NE(makeProtocol("buffered"), nullptr);
  EXPECT_EQ(makeProtocol("Buffered"), nullptr);
  EXPECT_EQ(makeProtocol(""), nullptr);
}

}  // namespace
}  // namespace kestrel::sim::test
