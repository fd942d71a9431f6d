#include "support/SlavePort.h"
#include "unit/Hs4142Protocol.h"

#include <gtest/gtest.h>

namespace kestrel::sim::test {
namespace {

using P = Hs4142Protocol;
using Items = std::vector<Item>;
constexpr std::nullopt_t none = std::nullopt;
const Bytes ack{0x06};
const Bytes nak{0x15};
const Bytes busy{0x21};

Bytes frame(std::string_view payload) { return BufferedProtocol::frame(ascii(payload)); }
Bytes command(std::uint8_t c) { return {0x02, c, 0x03, static_cast<std::uint8_t>(c ^ 0x03)}; }

TEST(Hs4142Protocol, ChannelFramesAreAcknowledgedAndReportedAsChosen) {
  const Bytes twoChannels = frame("001002");
  P quiet;
  EXPECT_EQ(quiet.feed(Bytes{0x05}), (Items{{ItemKind::Enquiry, {0x05}, {ack}}}));
  EXPECT_EQ(quiet.feed(twoChannels),
            (Items{{ItemKind::Frame, twoChannels, {ack}, std::vector<Bytes>{}, "channels 001 002"}}));

  const Bytes report1{0x02, 0x30, 0x30, 0x31, 0x03, 0x32};
  const Bytes report2{0x02, 0x30, 0x30, 0x32, 0x03, 0x31};
  P reporting(P::Reports::Right);
  EXPECT_EQ(reporting.feed(twoChannels),
            (Items{{ItemKind::Frame, twoChannels, {ack}, std::vector<Bytes>{report1, report2}, "channels 001 002"}}));
  EXPECT_TRUE(reporting.checked(report1));
  EXPECT_FALSE(reporting.checked(ack));

  P spoiling(P::Reports::BadCheck);
  const Items items = spoiling.feed(twoChannels);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].afterPlaying,
            (std::vector<Bytes>{{0x02, 0x30, 0x30, 0x31, 0x03, 0xCD}, {0x02, 0x30, 0x30, 0x32, 0x03, 0xCE}}));
}

TEST(Hs4142Protocol, SingleBytesAreCommands) {
  P p;
  EXPECT_EQ(p.feed(command(0xFF)), (Items{{ItemKind::Stop, {0x02, 0xFF, 0x03, 0xFC}, {ack}}}));
  EXPECT_EQ(p.feed(command(0xFE)), (Items{{ItemKind::Stop, command(0xFE), {ack}, none, "reset"}}));
  const std::vector<std::pair<std::uint8_t, std::string>> settings = {
      {0xFB, "volume FB"}, {0xFC, "volume FC"}, {0xFD, "volume FD"},
      {0xC8, "sheet 01"},  {0xD0, "sheet 09"},  {0xD7, "sheet 16"},
  };
  for (const auto& [c, note] : settings)
    EXPECT_EQ(p.feed(command(c)), (Items{{ItemKind::Command, command(c), {ack}, none, note, busy}})) << note;
  for (std::uint8_t c : {0xC7, 0xD8, 0xFA, 0x00, 0x31})
    EXPECT_EQ(p.feed(command(c)), (Items{{ItemKind::Frame, command(c), {nak}, none, "bad payload"}})) << int(c);
}

TEST(Hs4142Protocol, WrongFramesAreRefusedAndLoneBytesIgnored) {
  P p;
  for (std::string_view payload : {"", "01", "0012", "00a", "001 ", "0010020"})
    EXPECT_EQ(p.feed(frame(payload)), (Items{{ItemKind::Frame, frame(payload), {nak}, none, "bad payload"}}))
        << payload;
  Bytes wrong = command(0xFB);
  wrong.back() ^= 1;
  EXPECT_EQ(p.feed(wrong), (Items{{ItemKind::Frame, wrong, {nak}, none, "bad checksum"}}));
  // A stop comes framed; FFh alone is nothing.
  EXPECT_EQ(p.feed(Bytes{0xFF, 0x21}), (Items{{ItemKind::Unexpected, {0xFF}}, {ItemKind::Unexpected, {0x21}}}));
}

TEST(Hs4142Protocol, SplitAtAnyByteGivesTheSameItems) {
  Bytes stream{0x05};
  for (const Bytes& part : {frame("001"), command(0xFB), command(0xFF), frame("1x"), command(0xD7)})
    stream.insert(stream.end(), part.begin(), part.end());
  P whole(P::Reports::Right);
  const Items expected = whole.feed(stream);
  ASSERT_EQ(expected.size(), 6u);
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    P p(P::Reports::Right);
    Items items = p.feed(std::span(stream).first(cut));
    for (Item& item : p.feed(std::span(stream).subspan(cut))) items.push_back(std::move(item));
    EXPECT_EQ(items, expected) << "cut at " << cut;
  }
}

}  // namespace
}  // namespace kestrel::sim::test
