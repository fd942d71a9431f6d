#include "support/SlavePort.h"
#include "unit/FenwickProtocol.h"

#include <gtest/gtest.h>

namespace kestrel::sim::test {
namespace {

using P = FenwickProtocol;
using B = BufferedProtocol;
using Items = std::vector<Item>;
constexpr std::nullopt_t none = std::nullopt;
const Bytes ack{B::ACK};
const Bytes nak{B::NAK};

// テスト in the unit's code page.
const std::string sjis = "\x83\x65\x83\x58\x83\x67";
const std::string scheduleText = "title line\r\n#0\r\n0,not,a,schedule\r\n#2\r\n1," + sjis +
                                 ",B,C,D,E\r\n7,A,B,C,D,E\r\n12,a,b,c,d,e,f,g\r\n300,p,q,r,s,t\r\n"
                                 "1000,k,l,m,n,o\r\n#3\r\n1,field six\r\n";

Bytes reply(std::string_view text) { return B::frame(ascii(text)); }
Item answered(std::string_view digits, Bytes answer, std::string note) {
  return {ItemKind::Frame, P::request(digits), {std::move(answer)}, none, std::move(note)};
}
Item refused(Bytes bytes, std::string note) {
  return {ItemKind::Frame, std::move(bytes), {nak}, none, std::move(note)};
}

TEST(Schedule, OnlySectionTwoCountsAndItsFifthFieldKeepsTheRestOfTheLine) {
  const Schedule s = parseSchedule(scheduleText);
  EXPECT_EQ(s, (Schedule{{1, {sjis, "B", "C", "D", "E"}},
                         {7, {"A", "B", "C", "D", "E"}},
                         {12, {"a", "b", "c", "d", "e,f,g"}},
                         {300, {"p", "q", "r", "s", "t"}},
                         {1000, {"k", "l", "m", "n", "o"}}}));
  // A marker must be the whole line; lines before any marker mean nothing.
  EXPECT_EQ(parseSchedule("5,a,b,c,d,e\n#2 \n6,a,b,c,d,e\n#2\n7,,,,,\n#1\n8,a\n"),
            (Schedule{{7, {"", "", "", "", ""}}}));
  EXPECT_TRUE(parseSchedule("").empty());
  for (std::string_view bad : {"#2\n1,a,b,c,d\n", "#2\n\n", "#2\nx,a,b,c,d,e\n", "#2\n0,a,b,c,d,e\n",
                               "#2\n1001,a,b,c,d,e\n", "#2\n-1,a,b,c,d,e\n", "#2\n,a,b,c,d,e\n"})
    EXPECT_THROW(parseSchedule(bad), std::invalid_argument) << bad;
  EXPECT_THROW(readSchedule("/nonexistent/kestrel.wmj"), std::runtime_error);
}

TEST(FenwickProtocol, RequestsAreFramedWithTheirCheck) {
  EXPECT_EQ(P::request("000"), (Bytes{0x02, 0x20, 0x30, 0x30, 0x30, 0x03, 0x13}));
  EXPECT_EQ(P::request("012"), (Bytes{0x02, 0x20, 0x30, 0x31, 0x32, 0x03, 0x10}));
  EXPECT_EQ(P::request("00010020"), (Bytes{0x02, 0x20, 0x30, 0x30, 0x30, 0x31, 0x30, 0x30, 0x32, 0x30, 0x03, 0x20}));
}

TEST(FenwickProtocol, AnswersTheChannelsAskedForThatTheScheduleHolds) {
  P p(parseSchedule(scheduleText));
  EXPECT_EQ(p.feed(Bytes{0x05}), (Items{{ItemKind::Enquiry, {0x05}, {ack}}}));
  EXPECT_EQ(
      p.feed(P::request("007")),
      (Items{answered("007", {0x02, 0x37, 0x2C, 0x41, 0x2C, 0x42, 0x2C, 0x43, 0x2C, 0x44, 0x2C, 0x45, 0x2C, 0x03, 0x75},
                      "channel 7")}));
  const std::string one = "1," + sjis + ",B,C,D,E,";
  EXPECT_EQ(p.feed(P::request("000")),
            (Items{answered("000", reply(one + "7,A,B,C,D,E,12,a,b,c,d,e,f,g,"), "channels 1-255")}));
  EXPECT_EQ(p.feed(P::request("002")), (Items{answered("002", {0x02, 0x03, 0x03}, "channel 2")}));
  EXPECT_EQ(p.feed(P::request("00070300")),
            (Items{answered("00070300", reply("7,A,B,C,D,E,12,a,b,c,d,e,f,g,300,p,q,r,s,t,"), "channels 7-300")}));
  EXPECT_EQ(p.feed(P::request("10001000")), (Items{answered("10001000", reply("1000,k,l,m,n,o,"), "channel 1000")}));
  EXPECT_EQ(p.feed(P::request("00200001")), (Items{answered("00200001", {0x02, 0x03, 0x03}, "channels 20-1")}));
  EXPECT_EQ(P().feed(P::request("000")), (Items{answered("000", {0x02, 0x03, 0x03}, "channels 1-255")}));
}

TEST(FenwickProtocol, WrongChecksAndFieldsAreRefused) {
  P p(parseSchedule(scheduleText));
  Bytes wrong = P::request("007");
  wrong.back() ^= 1;
  EXPECT_EQ(p.feed(wrong), (Items{refused(wrong, "bad checksum")}));
  for (std::string_view digits :
       {"", "07", "0007", "256", "00a", "0000", "00000001", "00011001", "0001002x", "000100200", " 07"})
    EXPECT_EQ(p.feed(P::request(digits)), (Items{refused(P::request(digits), "bad request")})) << digits;
  // The request needs its command byte.
  EXPECT_EQ(p.feed(B::frame(ascii("007"))), (Items{refused(B::frame(ascii("007")), "bad request")}));
  EXPECT_EQ(p.feed(Bytes{0x06, 0x41}), (Items{{ItemKind::Unexpected, {0x06}}, {ItemKind::Unexpected, {0x41}}}));
}

TEST(FenwickProtocol, FaultsSpoilTheAnswer) {
  const Schedule s = parseSchedule(scheduleText);
  const Bytes seven = reply("7,A,B,C,D,E,");
  Bytes spoiled = seven;
  spoiled.back() ^= 0xFF;
  EXPECT_EQ(P(s, {.corruptCheck = true}).feed(P::request("007")), (Items{answered("007", spoiled, "channel 7")}));
  EXPECT_EQ(P(s, {.dropStx = true}).feed(P::request("007")),
            (Items{answered("007", Bytes(seven.begin() + 1, seven.end()), "channel 7")}));
  // The extra record goes in channel order, asked for or not.
  P extra(s, {.extraChannel = 256});
  EXPECT_EQ(extra.feed(P::request("007")), (Items{answered("007", reply("7,A,B,C,D,E,256,,,,,,"), "channel 7")}));
  EXPECT_EQ(extra.feed(P::request("00010000")), (Items{refused(P::request("00010000"), "bad request")}));
  EXPECT_EQ(P(s, {.extraChannel = 3}).feed(P::request("00010007")),
            (Items{answered("00010007", reply("1," + sjis + ",B,C,D,E,3,,,,,,7,A,B,C,D,E,"), "channels 1-7")}));
  P changed(s, {.extraChannel = 9, .changes = {{7, 5, "E,x"}, {9, 1, "new"}, {1, 2, "gone"}}});
  EXPECT_EQ(changed.feed(P::request("00070010")),
            (Items{answered("00070010", reply("7,A,B,C,D,E,x,9,new,,,,,"), "channels 7-10")}));
}

TEST(FenwickProtocol, SplitAtAnyByteGivesTheSameItems) {
  Bytes stream{0x05};
  for (const Bytes& part : {P::request("000"), Bytes{0x41}, P::request("9"), P::request("00070007")})
    stream.insert(stream.end(), part.begin(), part.end());
  P whole(parseSchedule(scheduleText));
  const Items expected = whole.feed(stream);
  ASSERT_EQ(expected.size(), 5u);
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    P p(parseSchedule(scheduleText));
    Items items = p.feed(std::span(stream).first(cut));
    for (Item& item : p.feed(std::span(stream).subspan(cut))) items.push_back(std::move(item));
    EXPECT_EQ(items, expected) << "cut at " << cut;
  }
}

}  // namespace
}  // namespace kestrel::sim::test
