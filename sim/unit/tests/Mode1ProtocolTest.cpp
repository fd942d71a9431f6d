#include "support/SlavePort.h"
#include "unit/Mode1Protocol.h"

#include <gtest/gtest.h>

namespace kestrel::sim::test {
namespace {

using P = Mode1Protocol;
using Items = std::vector<Item>;
const Bytes ack{P::ACK};
const Bytes nak{P::NAK};

Item channels(std::string_view line, std::string note) {
  return {ItemKind::Frame, ascii(line), {ack}, std::vector<Bytes>{ack}, std::move(note)};
}
Item refused(std::string_view line) { return {ItemKind::Unexpected, ascii(line), {nak}}; }

Items feedAll(Protocol& p, const Bytes& bytes, std::size_t cut) {
  Items items = p.feed(std::span(bytes).first(cut));
  for (Item& item : p.feed(std::span(bytes).subspan(cut))) items.push_back(std::move(item));
  return items;
}

const std::string_view mixed = "sts\rSTS\rsTs\r001,002,003\r007,012\r001\r000\r";
const Items mixedItems{
    {ItemKind::Enquiry, ascii("sts\r"), {ack}}, {ItemKind::Enquiry, ascii("STS\r"), {ack}},
    {ItemKind::Enquiry, ascii("sTs\r"), {ack}}, channels("001,002,003\r", "channels 001 002 003"),
    channels("007,012\r", "channels 007 012"),  channels("001\r", "channels 001"),
    {ItemKind::Stop, ascii("000\r"), {ack}},
};

TEST(Mode1Protocol, LinesAreAnsweredByWhatTheySay) {
  P p;
  EXPECT_EQ(p.feed(ascii(mixed)), mixedItems);
  EXPECT_TRUE(p.feed(ascii("001")).empty());  // no CR yet
  EXPECT_EQ(p.feed(ascii("\r")), (Items{channels("001\r", "channels 001")}));
}

TEST(Mode1Protocol, MalformedLinesAreRefused) {
  for (std::string_view line : {"\r", "01\r", "0001\r", "001,\r", ",001\r", "001,02\r", "001,,002\r", "001 002\r",
                                "00a\r", "st\r", "stss\r", " sts\r", "000,\r", "0000\r", "\n001\r"}) {
    P p;
    EXPECT_EQ(p.feed(ascii(line)), (Items{refused(line)})) << hex(ascii(line));
  }
}

TEST(Mode1Protocol, SplitAtAnyByteGivesTheSameItems) {
  const Bytes stream = ascii(std::string(mixed) + "xyz\r");
  Items expected = mixedItems;
  expected.push_back(refused("xyz\r"));
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

TEST(Mode1Protocol, OverlongLineIsBoundedAndRefusedAtItsCr) {
  P p;
  const Bytes flood(P::maxLine + 100, '1');
  EXPECT_TRUE(p.feed(flood).empty());
  EXPECT_TRUE(p.feed(flood).empty());
  EXPECT_EQ(p.feed(ascii("\r001\r")),
            (Items{{ItemKind::Overlong, Bytes(P::maxLine, '1'), {nak}}, channels("001\r", "channels 001")}));
  // A line of exactly the limit is still judged on its own.
  Bytes longest(P::maxLine, '1');
  longest.push_back(P::CR);
  EXPECT_EQ(p.feed(longest), (Items{{ItemKind::Unexpected, longest, {nak}}}));
}

}  // namespace
}  // namespace kestrel::sim::test
