#include "support/SlavePort.h"
#include "unit/CustomerProtocol.h"

#include <gtest/gtest.h>
#include <numeric>

namespace kestrel::sim::test {
namespace {

using P = CustomerProtocol;
using Items = std::vector<Item>;
constexpr std::nullopt_t none = std::nullopt;
const Bytes ack{0x10, 0x06, 0x00};
const Bytes nak{0x10, 0x15, 0x00};
const Bytes played{0x10, 0x02, 0x39, 0x10, 0x03, 0x2A};
const Bytes stop{0x10, 0x02, 0x44, 0x10, 0x03, 0x57};

std::vector<unsigned> upTo(unsigned n) {
  std::vector<unsigned> channels(n);
  std::iota(channels.begin(), channels.end(), 1u);
  return channels;
}

Item list(std::vector<unsigned> channels, std::string note) {
  return {ItemKind::Frame, P::playList(channels), {ack}, std::vector<Bytes>{played}, std::move(note)};
}
Item refused(Bytes frame, std::string note) {
  return {ItemKind::Frame, std::move(frame), {nak}, none, std::move(note)};
}

Items feedAll(Protocol& p, const Bytes& bytes, std::size_t cut) {
  Items items = p.feed(std::span(bytes).first(cut));
  for (Item& item : p.feed(std::span(bytes).subspan(cut))) items.push_back(std::move(item));
  return items;
}

TEST(CustomerProtocol, MessagesAreFramedWithDleAndAnUndoubledBcc) {
  EXPECT_EQ(P::message(Bytes{0x39}), played);
  EXPECT_EQ(P::message(Bytes{'D'}), stop);
  const std::vector<unsigned> one{1};
  EXPECT_EQ(P::playList(one), (Bytes{0x10, 0x02, 0x43, 0x31, 0x30, 0x31, 0x10, 0x03, 0x60}));
  // Only the low byte goes, a nibble per character up to 3Fh.
  const std::vector<unsigned> wide{0x1AB, 0x0F0};
  EXPECT_EQ(P::playList(wide), (Bytes{0x10, 0x02, 0x43, 0x32, 0x3A, 0x3B, 0x3F, 0x30, 0x10, 0x03, 0x6C}));
  // Count characters run 31h-3Fh, 40h-4Eh, then 4Fh for any more.
  for (unsigned n : {15u, 16u, 30u, 31u, 40u}) EXPECT_EQ(P::playList(upTo(n))[3], 0x30 + std::min(n, 31u)) << n;
  EXPECT_EQ(P::playList(upTo(30)).back(), 0x10);
}

TEST(CustomerProtocol, PlayListsAndStopsAreAnsweredByWhatTheySay) {
  P p;
  EXPECT_EQ(p.feed(P::playList(upTo(1))), (Items{list(upTo(1), "play 1")}));
  const std::vector<unsigned> some{2, 255, 256};
  EXPECT_EQ(p.feed(P::playList(some)), (Items{list(some, "play 2 255 0")}));
  EXPECT_EQ(p.feed(stop), (Items{{ItemKind::Stop, stop, {ack}}}));
  // The 30-channel list ends in a BCC of 10h: that is its end, not a DLE.
  Bytes stream = P::playList(upTo(30));
  stream.insert(stream.end(), ack.begin(), ack.end());
  std::string thirty = "play";
  for (unsigned c = 1; c <= 30; ++c) thirty += ' ' + std::to_string(c);
  EXPECT_EQ(p.feed(stream), (Items{list(upTo(30), thirty), {ItemKind::Answer, ack, {}, none, "ACK"}}));
  EXPECT_EQ(p.feed(nak), (Items{{ItemKind::Answer, nak, {}, none, "NAK"}}));
}

TEST(CustomerProtocol, WrongFramesAreRefused) {
  P p;
  Bytes wrong = P::playList(upTo(2));
  wrong.back() ^= 1;
  EXPECT_EQ(p.feed(wrong), (Items{refused(wrong, "bad checksum")}));
  Bytes wrongStop = stop;
  wrongStop.back() = 0x10;
  EXPECT_EQ(p.feed(wrongStop), (Items{refused(wrongStop, "bad checksum")}));
  const std::vector<std::pair<Bytes, std::string>> bodies = {
      {{'C', 0x32, 0x30, 0x31}, "bad count"},          // says 2, has 1
      {{'C', 0x30}, "bad count"},                      // none
      {{'C', 0x4F, 0x30, 0x31}, "bad count"},          // says more than 30, has 1
      {{'C', 0x50, 0x30, 0x31}, "bad count"},          // past 4Fh
      {{'C', 0x31, 0x30}, "bad payload"},              // half a channel
      {{'C', 0x31, 0x30, 0x40}, "bad payload"},        // not a nibble
      {{'C', 0x31, 0x10, 0x30, 0x31}, "bad payload"},  // a DLE in the body
      {{'D', 0x31}, "bad payload"},                    // stop with more
      {{'E'}, "bad payload"},                          // no such command
      {{}, "bad payload"},
  };
  for (const auto& [body, note] : bodies) EXPECT_EQ(p.feed(P::message(body)), (Items{refused(P::message(body), note)}));
  // Well formed, but more than a unit plays.
  EXPECT_EQ(p.feed(P::playList(upTo(31))), (Items{refused(P::playList(upTo(31)), "over 30 channels")}));
}

TEST(CustomerProtocol, SplitAtAnyByteGivesTheSameItems) {
  Bytes stream{0x41};
  for (const Bytes& part : {P::playList(upTo(30)), ack, stop, nak, P::playList(upTo(3))})
    stream.insert(stream.end(), part.begin(), part.end());
  P whole;
  const Items expected = whole.feed(stream);
  ASSERT_EQ(expected.size(), 6u);
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    P p;
    EXPECT_EQ(feedAll(p, stream, cut), expected) << "cut at " << cut;
  }
  P p;
  Items oneByOne;
  for (std::uint8_t b : stream)
    for (Item& item : p.feed(Bytes{b})) oneByOne.push_back(std::move(item));
  EXPECT_EQ(oneByOne, expected);
}

TEST(CustomerProtocol, StrayBytesAbandonedAndOverlongFramesAreBoundedAndRecovered) {
  P p;
  // A DLE or DLE ACK that goes nowhere is given up, and the next byte read afresh.
  EXPECT_EQ(p.feed(Bytes{0x10, 0x41, 0x10, 0x06, 0x10, 0x06, 0x00}), (Items{{ItemKind::Unexpected, {0x10}},
                                                                            {ItemKind::Unexpected, {0x41}},
                                                                            {ItemKind::Unexpected, {0x10, 0x06}},
                                                                            {ItemKind::Answer, ack, {}, none, "ACK"}}));
  EXPECT_EQ(p.feed(Bytes{0x10, 0x02, 0x43, 0x31}), Items{});
  EXPECT_EQ(p.feed(P::playList(upTo(1))),
            (Items{{ItemKind::Abandoned, {0x10, 0x02, 0x43, 0x31}}, list(upTo(1), "play 1")}));

  Bytes flood{0x10, 0x02};
  flood.insert(flood.end(), P::maxFrame + 100, 0x31);
  const Bytes kept(flood.begin(), flood.begin() + P::maxFrame + 1);
  for (std::uint8_t b : {0x10, 0x03, 0x10}) flood.push_back(b);  // the last is its BCC
  EXPECT_EQ(p.feed(flood), (Items{{ItemKind::Overlong, kept}}));
  EXPECT_EQ(p.feed(stop), (Items{{ItemKind::Stop, stop, {ack}}}));

  Bytes all;
  for (int round = 0; round < 3; ++round)
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b * 7 + round));
  for (std::size_t i = 0; i < all.size(); i += 13)
    p.feed(std::span(all).subspan(i, std::min<std::size_t>(13, all.size() - i)));
  // DLE ETX and any byte leave every state.
  p.feed(Bytes{0x10, 0x03, 0x41});
  EXPECT_EQ(p.feed(stop), (Items{{ItemKind::Stop, stop, {ack}}}));
}

}  // namespace
}  // namespace kestrel::sim::test
