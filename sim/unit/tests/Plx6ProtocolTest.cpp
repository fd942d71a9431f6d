#include "support/SlavePort.h"
#include "unit/Plx6Protocol.h"

#include <gtest/gtest.h>

namespace kestrel::sim::test {
namespace {

using P = Plx6Protocol;
using Items = std::vector<Item>;
constexpr std::nullopt_t none = std::nullopt;
const Bytes dleAck{0x10, 0x06};
const Bytes dleNak{0x10, 0x15};
const Bytes ready{0x02, 0x52, 0x65, 0x61, 0x64, 0x79, 0x03, 0x48};
const Bytes stopText{0x02, 0x53, 0x74, 0x6F, 0x70, 0x20, 0x03, 0x1B};
const Bytes trap{0x02, 0x54, 0x72, 0x61, 0x70, 0x20, 0x03, 0x14};

Bytes frame(std::string_view payload) { return BufferedProtocol::frame(ascii(payload)); }
Item played(std::string_view payload, std::string note, const Bytes& text = ready) {
  return {ItemKind::Frame, frame(payload), {}, std::vector<Bytes>{text}, std::move(note)};
}
Item refused(Bytes bytes, std::string note) {
  return {ItemKind::Frame, std::move(bytes), {dleNak}, none, std::move(note)};
}

TEST(Plx6Protocol, TextsAreFramedWithTheirCheck) {
  EXPECT_EQ(P::text("Ready"), ready);
  EXPECT_EQ(P::text("Stop "), stopText);
  EXPECT_EQ(P::text("Trap "), trap);
  P p;
  EXPECT_TRUE(p.checked(ready));
  EXPECT_FALSE(p.checked(dleAck));
}

TEST(Plx6Protocol, EachInputGetsItsAnswer) {
  P p;
  EXPECT_EQ(p.feed(Bytes{0x10, 0x05}), (Items{{ItemKind::Enquiry, {0x10, 0x05}, {dleAck, ready}}}));
  EXPECT_EQ(p.feed(frame("01")), (Items{played("01", "channels 01")}));
  EXPECT_EQ(p.feed(frame("0AFF10")), (Items{played("0AFF10", "channels 0A FF 10")}));
  EXPECT_EQ(p.feed(Bytes{0x01}), (Items{{ItemKind::Stop, {0x01}, {stopText}}}));
  Bytes wrong = frame("01");
  wrong.back() ^= 1;
  EXPECT_EQ(p.feed(wrong), (Items{refused(wrong, "bad checksum")}));
  for (std::string_view payload : {"", "1", "00", "0a", "0G", "012", "01 2"})
    EXPECT_EQ(p.feed(frame(payload)), (Items{refused(frame(payload), "bad payload")})) << hex(ascii(payload));
}

TEST(Plx6Protocol, OtherBytesAreRecordedUnansweredAndAStrayDleGivesWay) {
  P p;
  EXPECT_EQ(p.feed(Bytes{0x05, 0x06, 0x10, 0x41, 0x10, 0x10, 0x05}),
            (Items{{ItemKind::Unexpected, {0x05}},
                   {ItemKind::Unexpected, {0x06}},
                   {ItemKind::Unexpected, {0x10}},
                   {ItemKind::Unexpected, {0x41}},
                   {ItemKind::Unexpected, {0x10}},
                   {ItemKind::Enquiry, {0x10, 0x05}, {dleAck, ready}}}));
  Bytes dleThenFrame{0x10};
  const Bytes f = frame("02");
  dleThenFrame.insert(dleThenFrame.end(), f.begin(), f.end());
  EXPECT_EQ(p.feed(dleThenFrame), (Items{{ItemKind::Unexpected, {0x10}}, played("02", "channels 02")}));
  // Overlong frames are bounded as the buffered framing bounds them.
  Bytes flood{0x02};
  flood.insert(flood.end(), BufferedProtocol::maxFrame + 100, 0x31);
  const Items items = p.feed(flood);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].kind, ItemKind::Overlong);
  EXPECT_EQ(items[0].bytes.size(), BufferedProtocol::maxFrame + 1);
  EXPECT_EQ(p.feed(Bytes{0x03, 0x00, 0x01}), (Items{{ItemKind::Stop, {0x01}, {stopText}}}));
}

TEST(Plx6Protocol, TheKthFrameTakenIsFollowedByTrapOnce) {
  P p(2);
  EXPECT_EQ(p.feed(frame("01")), (Items{played("01", "channels 01")}));
  EXPECT_EQ(p.feed(frame("0")), (Items{refused(frame("0"), "bad payload")}));  // not taken, not counted
  EXPECT_EQ(p.feed(frame("02")), (Items{played("02", "channels 02", trap)}));
  EXPECT_EQ(p.feed(frame("03")), (Items{played("03", "channels 03")}));
}

TEST(Plx6Protocol, SplitAtAnyByteGivesTheSameItems) {
  Bytes stream{0x10, 0x05};
  for (const Bytes& part : {frame("01FF"), Bytes{0x01, 0x41, 0x10}, frame("7"), Bytes{0x10, 0x05}})
    stream.insert(stream.end(), part.begin(), part.end());
  P whole(1);
  const Items expected = whole.feed(stream);
  ASSERT_EQ(expected.size(), 7u);
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    P p(1);
    Items items = p.feed(std::span(stream).first(cut));
    for (Item& item : p.feed(std::span(stream).subspan(cut))) items.push_back(std::move(item));
    EXPECT_EQ(items, expected) << "cut at " << cut;
  }
}

}  // namespace
}  // namespace kestrel::sim::test
