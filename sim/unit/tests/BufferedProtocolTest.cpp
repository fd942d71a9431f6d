#include "support/SlavePort.h"
#include "unit/BufferedProtocol.h"

#include <gtest/gtest.h>

namespace kestrel::sim::test {
namespace {

using P = BufferedProtocol;
using Items = std::vector<Item>;
constexpr std::nullopt_t none = std::nullopt;
const Bytes ack{P::ACK};

Items feed(Protocol& protocol, const Bytes& bytes) { return protocol.feed(bytes); }

Item frameItem(const Bytes& bytes, std::uint8_t reply) { return {ItemKind::Frame, bytes, {{reply}}}; }

TEST(BufferedProtocol, ChecksumCoversPayloadAndEtxOnly) {
  EXPECT_EQ(P::frame(ascii("001")), (Bytes{0x02, 0x30, 0x30, 0x31, 0x03, 0x32}));
  EXPECT_EQ(P::frame(Bytes{0xFF}), (Bytes{0x02, 0xFF, 0x03, 0xFC}));
  EXPECT_EQ(P::frame(ascii("251")), (Bytes{0x02, 0x32, 0x35, 0x31, 0x03, 0x35}));
  EXPECT_EQ(P::frame(ascii("253")), (Bytes{0x02, 0x32, 0x35, 0x33, 0x03, 0x37}));
  EXPECT_EQ(P::frame(Bytes{}), (Bytes{0x02, 0x03, 0x03}));
}

TEST(BufferedProtocol, EnquiryIsAcknowledged) {
  P p;
  EXPECT_EQ(feed(p, {0x05}), (Items{{ItemKind::Enquiry, {0x05}, {ack}}}));
}

TEST(BufferedProtocol, FrameAnsweredByChecksum) {
  P p;
  EXPECT_EQ(feed(p, {0x02, 0x30, 0x30, 0x31, 0x03, 0x32, 0x02, 0x30, 0x30, 0x31, 0x03, 0x33}),
            (Items{frameItem({0x02, 0x30, 0x30, 0x31, 0x03, 0x32}, P::ACK),
                   frameItem({0x02, 0x30, 0x30, 0x31, 0x03, 0x33}, P::NAK)}));
}

TEST(BufferedProtocol, FrameSplitAcrossChunksByteByByte) {
  P p;
  const Bytes frame = P::frame(ascii("001015145"));
  for (std::size_t i = 0; i + 1 < frame.size(); ++i)
    EXPECT_TRUE(p.feed(std::span(frame).subspan(i, 1)).empty()) << "byte " << i;
  EXPECT_EQ(p.feed(std::span(frame).last(1)), (Items{frameItem(frame, P::ACK)}));
}

TEST(BufferedProtocol, StopAndOtherBytesOutsideFramesAreNotAnswered) {
  P p;
  EXPECT_EQ(feed(p, {0xFF, 0x41, 0x06, 0x05}), (Items{{ItemKind::Stop, {0xFF}},
                                                      {ItemKind::Unexpected, {0x41}},
                                                      {ItemKind::Unexpected, {0x06}},
                                                      {ItemKind::Enquiry, {0x05}, {ack}}}));
}

TEST(BufferedProtocol, FfInsideFrameIsPayloadNotStop) {
  P p;
  EXPECT_EQ(feed(p, {0x02, 0xFF, 0x03, 0xFC}), (Items{frameItem({0x02, 0xFF, 0x03, 0xFC}, P::ACK)}));
}

TEST(BufferedProtocol, ChecksumByteMayLookLikeControlBytes) {
  // "0" ^ "1" ^ ETX == STX: that STX is a checksum, not a new frame.
  P p;
  EXPECT_EQ(feed(p, {0x02, 0x30, 0x31, 0x03, 0x02, 0x05}),
            (Items{frameItem({0x02, 0x30, 0x31, 0x03, 0x02}, P::ACK), {ItemKind::Enquiry, {0x05}, {ack}}}));
}

TEST(BufferedProtocol, StxInsideFrameRestartsIt) {
  P p;
  EXPECT_TRUE(feed(p, {0x02, 0x30, 0x30}).empty());
  EXPECT_EQ(feed(p, P::frame(ascii("002"))),
            (Items{{ItemKind::Abandoned, {0x02, 0x30, 0x30}}, frameItem(P::frame(ascii("002")), P::ACK)}));
}

TEST(BufferedProtocol, OverlongFrameIsDroppedThroughItsChecksum) {
  P p;
  Bytes flood{0x02};
  flood.insert(flood.end(), P::maxFrame + 100, 0x31);
  Bytes kept(flood.begin(), flood.begin() + P::maxFrame + 1);
  flood.push_back(0x03);
  flood.push_back(0x05);  // its checksum slot, not an enquiry
  EXPECT_EQ(feed(p, flood), (Items{{ItemKind::Overlong, kept}}));
  EXPECT_EQ(feed(p, {0x05}), (Items{{ItemKind::Enquiry, {0x05}, {ack}}}));
}

TEST(BufferedProtocol, StxWhileSkippingStartsAFreshFrame) {
  P p;
  Bytes flood{0x02};
  flood.insert(flood.end(), P::maxFrame + 10, 0x31);
  const Bytes good = P::frame(ascii("145"));
  flood.insert(flood.end(), good.begin(), good.end());
  const Items items = feed(p, flood);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].kind, ItemKind::Overlong);
  EXPECT_EQ(items[1], frameItem(good, P::ACK));
}

TEST(BufferedProtocol, SurvivesEveryByteValueAndRecovers) {
  P p;
  Bytes all;
  for (int round = 0; round < 3; ++round)
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b * 7 + round));
  for (std::size_t i = 0; i < all.size(); i += 13)
    p.feed(std::span(all).subspan(i, std::min<std::size_t>(13, all.size() - i)));
  // ETX then any byte leaves every state, so a clean frame is understood next.
  feed(p, {0x03, 0x41});
  EXPECT_EQ(feed(p, P::frame(ascii("015"))), (Items{frameItem(P::frame(ascii("015")), P::ACK)}));
}

TEST(Describe, OneHexLinePerItem) {
  EXPECT_EQ(describe(frameItem({0x02, 0x30, 0x30, 0x31, 0x03, 0x32}, P::ACK), Bytes{0x06}),
            "frame 02 30 30 31 03 32 -> 06");
  EXPECT_EQ(describe({ItemKind::Stop, {0xFF}}, none), "stop FF");
  EXPECT_EQ(describe({ItemKind::Enquiry, {0x05}, {ack}}, Bytes{0x41, 0x06}), "enquiry 05 -> 41 06");
  EXPECT_EQ(describe({ItemKind::Unexpected, {0xAB}}, none), "unexpected AB");
  const Item line{ItemKind::Frame, ascii("001\r"), {ack}, std::vector<Bytes>{ack}, "channels 001"};
  EXPECT_EQ(describe(line, Bytes{0x06, 0x06}), "frame 30 30 31 0D channels 001 -> 06 06");
  EXPECT_EQ(describe(line, Bytes{0x06}, Bytes{0x06}), "frame 30 30 31 0D channels 001 -> 06 then 06");
}

TEST(Protocols, BufferedIsTheDefaultAndUnknownNamesGiveNothing) {
  EXPECT_EQ(protocolNames(), (std::vector<std::string>{"buffered", "buffered1000", "mode1", "customer", "hs4142",
                                                       "plx6", "fenwick", "brisk"}));
  for (const auto& name : protocolNames()) EXPECT_NE(makeProtocol(name), nullptr) << name;
  EXPECT_EQ(makeProtocol("Buffered"), nullptr);
  EXPECT_EQ(makeProtocol(""), nullptr);
}

}  // namespace
}  // namespace kestrel::sim::test
