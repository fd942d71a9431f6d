#include "support/SlavePort.h"
#include "unit/Buffered1000Protocol.h"

#include <gtest/gtest.h>

namespace kestrel::sim::test {
namespace {

using P = BufferedProtocol;
using Items = std::vector<Item>;
constexpr std::nullopt_t none = std::nullopt;
const Bytes ack{P::ACK};
const Bytes nak{P::NAK};

Items frameOf(std::string_view payload) {
  Buffered1000Protocol p;
  return p.feed(P::frame(ascii(payload)));
}

TEST(Buffered1000Protocol, PlayablePayloadsAreAcknowledgedWithTheirDecode) {
  const std::vector<std::pair<std::string_view, std::string>> playable = {
      {"0001", "channels 0001"},
      {"00050006", "channels 0005 0006"},
      {"1000", "channels 1000"},
      {"#0010005", "line 1 channels 0005"},
      {"#00909991000", "line 9 channels 0999 1000"},
  };
  for (const auto& [payload, note] : playable)
    EXPECT_EQ(frameOf(payload), (Items{{ItemKind::Frame, P::frame(ascii(payload)), {ack}, none, note}})) << payload;
}

TEST(Buffered1000Protocol, UnplayablePayloadsAreRefusedThoughTheirChecksumIsRight) {
  for (std::string_view payload : {"", "005", "00050", "0000", "1001", "9999", "00a5", "#000", "#0010", "#001",
                                   "#0000005", "#0100005", "#10005", "0005#001", " 0005"}) {
    EXPECT_EQ(frameOf(payload), (Items{{ItemKind::Frame, P::frame(ascii(payload)), {nak}, none, "bad payload"}}))
        << payload;
  }
}

TEST(Buffered1000Protocol, FramingIsTheBufferedOne) {
  Buffered1000Protocol p;
  const Bytes stopFrame{0x02, 0xFF, 0x03, 0xFC};
  EXPECT_EQ(p.feed(stopFrame), (Items{{ItemKind::Stop, stopFrame, {ack}}}));
  EXPECT_EQ(p.feed(Bytes{0xFF, 0x05}), (Items{{ItemKind::Stop, {0xFF}}, {ItemKind::Enquiry, {0x05}, {ack}}}));
  Bytes wrong = P::frame(ascii("0005"));
  wrong.back() ^= 1;
  EXPECT_EQ(p.feed(wrong), (Items{{ItemKind::Frame, wrong, {nak}, none, "bad checksum"}}));
  // Split anywhere, a frame still comes out whole.
  const Bytes good = P::frame(ascii("#0020012"));
  EXPECT_TRUE(p.feed(std::span(good).first(5)).empty());
  EXPECT_EQ(p.feed(std::span(good).subspan(5)), (Items{{ItemKind::Frame, good, {ack}, none, "line 2 channels 0012"}}));
  EXPECT_EQ(describe(p.feed(good).at(0), Bytes{P::ACK}),
            "frame 02 23 30 30 32 30 30 31 32 03 11 line 2 channels 0012 -> 06");
}

}  // namespace
}  // namespace kestrel::sim::test
