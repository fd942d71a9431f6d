#include "support/SlavePort.h"
#include "unit/BriskProtocol.h"

#include <gtest/gtest.h>

namespace kestrel::sim::test {
namespace {

using P = BriskProtocol;
using Items = std::vector<Item>;
constexpr std::nullopt_t none = std::nullopt;

Item taken(Bytes bytes, std::string note) { return {ItemKind::Frame, std::move(bytes), {}, none, std::move(note)}; }

TEST(BriskProtocol, FramesAreBuiltAsTheTesterBuildsThem) {
  EXPECT_EQ(P::frame(1, 5), (Bytes{0x40, 0x30, 0x30, 0x30, 0x35, 0x0D}));
  EXPECT_EQ(P::frame(16, 123), (Bytes{0x40, 0x3F, 0x31, 0x32, 0x33, 0x0D}));
  EXPECT_EQ(P::frame(3, 42, 4), (Bytes{0x40, 0x32, 0x30, 0x30, 0x34, 0x32, 0x0D}));
}

TEST(BriskProtocol, FramesAreDescribedAndNeverAnswered) {
  P p;
  Bytes stream;
  for (const Bytes& f : {P::frame(11, 5), P::frame(16, 9999, 4), P::frame(1, 0)})
    stream.insert(stream.end(), f.begin(), f.end());
  const Items expected{taken(P::frame(11, 5), "event 11 unit 005"), taken(P::frame(16, 9999, 4), "event 16 unit 9999"),
                       taken(P::frame(1, 0), "event 1 unit 000")};
  EXPECT_EQ(p.feed(stream), expected);
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    P split;
    Items items = split.feed(std::span(stream).first(cut));
    for (Item& item : split.feed(std::span(stream).subspan(cut))) items.push_back(std::move(item));
    EXPECT_EQ(items, expected) << "cut at " << cut;
  }
  EXPECT_EQ(describe(expected[0], none), "frame 40 3A 30 30 35 0D event 11 unit 005");
}

TEST(BriskProtocol, AnythingElseIsUnexpected) {
  for (std::string_view line :
       {"@005\r", "@000005\r", "@@005\r", "@/005\r", "@0 05\r", "@00a5\r", "@?12345\r", "@0005\n\r", "\r"}) {
    P p;
    Items items = p.feed(ascii(line));
    EXPECT_FALSE(items.empty()) << hex(ascii(line));
    for (const Item& item : items) {
      EXPECT_NE(item.kind, ItemKind::Frame) << hex(ascii(line));
      EXPECT_TRUE(item.reply.empty());
    }
  }
  P p;
  EXPECT_EQ(p.feed(ascii("A\r@0@1005\r@00")), (Items{{ItemKind::Unexpected, {0x41}},
                                                     {ItemKind::Unexpected, {0x0D}},
                                                     {ItemKind::Abandoned, ascii("@0")},
                                                     taken(ascii("@1005\r"), "event 2 unit 005")}));
  EXPECT_EQ(p.feed(ascii("05\r")), (Items{taken(ascii("@0005\r"), "event 1 unit 005")}));
}

TEST(BriskProtocol, OverlongFrameIsBoundedAndSkippedToItsCr) {
  P p;
  Bytes flood{P::AT};
  flood.insert(flood.end(), P::maxFrame + 100, '1');
  const Items items = p.feed(flood);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].kind, ItemKind::Overlong);
  EXPECT_EQ(items[0].bytes.size(), P::maxFrame);
  EXPECT_EQ(p.feed(ascii("1\r@0123\r")), (Items{taken(ascii("@0123\r"), "event 1 unit 123")}));
}

}  // namespace
}  // namespace kestrel::sim::test
