#include "support/SlavePort.h"
#include "unit/BufferedProtocol.h"
#include "unit/BriskProtocol.h"
#include "unit/CustomerProtocol.h"
#include "unit/FenwickProtocol.h"
#include "unit/Mode1Protocol.h"
#include "unit/UnitSimulator.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>
#include <unistd.h>

namespace kestrel::sim::test {
namespace {

using P = BufferedProtocol;
const Bytes ACK{P::ACK};
const Bytes NAK{P::NAK};

Options quick() {
  Options o;
  o.answerDelay = 0ms;
  return o;
}

Options speaking(std::string protocol) {
  Options o = quick();
  o.protocol = std::move(protocol);
  return o;
}

Options mode1() { return speaking("mode1"); }

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::filesystem::path tempFile(std::string_view name) {
  auto path =
      std::filesystem::temp_directory_path() / ("kestrel-unit-" + std::to_string(::getpid()) + "-" + std::string(name));
  std::filesystem::remove(path);
  return path;
}

Bytes fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct Unit {
  explicit Unit(Options options = quick()) : sim(std::move(options)) {
    sim.start();
    port.emplace(sim.slavePath());
  }
  // One request, its whole answer, and proof that nothing follows.
  Bytes ask(const Bytes& request, std::size_t answerBytes = 1) {
    port->write(request);
    Bytes got = port->read(answerBytes);
    const Bytes more = port->drain(50ms);
    got.insert(got.end(), more.begin(), more.end());
    return got;
  }
  UnitSimulator sim;
  std::optional<SlavePort> port;
};

TEST(UnitSimulator, SlaveIsAPseudoTerminal) {
  UnitSimulator sim(quick());
  EXPECT_TRUE(sim.slavePath().empty());
  sim.start();
  EXPECT_EQ(sim.slavePath().rfind("/dev/pts/", 0), 0u) << sim.slavePath();
}

TEST(UnitSimulator, EnquiryIsAcknowledged) {
  Unit u;
  EXPECT_EQ(u.ask({0x05}), ACK);
}

TEST(UnitSimulator, FramesAreAnsweredByTheirChecksum) {
  Unit u;
  EXPECT_EQ(u.ask(P::frame(ascii("001015145"))), ACK);
  EXPECT_EQ(u.ask({0x02, 0x30, 0x30, 0x31, 0x03, 0x33}), NAK);
  EXPECT_EQ(u.ask({0x02, 0xFF, 0x03, 0xFC}), ACK);
  EXPECT_EQ(u.ask({0x02, 0x32, 0x35, 0x32, 0x03, 0x36}), ACK);
}

TEST(UnitSimulator, FrameSplitAcrossWritesIsAnsweredOnceWhole) {
  Unit u;
  const Bytes frame = P::frame(ascii("001"));
  u.port->write(Bytes(frame.begin(), frame.begin() + 3));
  EXPECT_TRUE(u.port->drain(100ms).empty());
  EXPECT_TRUE(u.sim.waitForBytes(3, 1000ms));
  EXPECT_EQ(u.ask(Bytes(frame.begin() + 3, frame.end())), ACK);
}

TEST(UnitSimulator, SeveralItemsInOneWriteEachGetTheirAnswer) {
  Unit u;
  Bytes burst{0x05};
  for (const Bytes& f : {P::frame(ascii("001")), Bytes{0x02, 0x31, 0x03, 0x00}})
    burst.insert(burst.end(), f.begin(), f.end());
  EXPECT_EQ(u.ask(burst, 3), (Bytes{P::ACK, P::ACK, P::NAK}));
}

TEST(UnitSimulator, EveryKthFrameIsRefusedAndEnquiriesDoNotCount) {
  Options o = quick();
  o.nakEvery = 2;
  Unit u(o);
  const Bytes good = P::frame(ascii("015"));
  EXPECT_EQ(u.ask(good), ACK);
  EXPECT_EQ(u.ask({0x05}), ACK);
  EXPECT_EQ(u.ask(good), NAK);
  EXPECT_EQ(u.ask(good), ACK);
  EXPECT_EQ(u.ask({0x05}), ACK);
  EXPECT_EQ(u.ask(good), NAK);
}

TEST(UnitSimulator, SilentUnitRecordsButNeverAnswers) {
  Options o = quick();
  o.silent = true;
  Unit u(o);
  Bytes sent{0x05};
  const Bytes f = P::frame(ascii("001"));
  sent.insert(sent.end(), f.begin(), f.end());
  u.port->write(sent);
  ASSERT_TRUE(u.sim.waitForBytes(sent.size(), 1000ms));
  EXPECT_TRUE(u.port->drain(200ms).empty());
  EXPECT_EQ(u.sim.received(), sent);
}

TEST(UnitSimulator, StrayBytesPrecedeEveryNthAnswer) {
  Options o = quick();
  o.strayBytes = {0x41, 0x13};
  o.strayEvery = 2;
  Unit u(o);
  EXPECT_EQ(u.ask({0x05}), ACK);
  EXPECT_EQ(u.ask({0x05}, 3), (Bytes{0x41, 0x13, P::ACK}));
  EXPECT_EQ(u.ask({0xFF}, 0), Bytes{});  // unanswered, so not counted
  EXPECT_EQ(u.ask(P::frame(ascii("1"))), ACK);
  EXPECT_EQ(u.ask(P::frame(ascii("2")), 3), (Bytes{0x41, 0x13, P::ACK}));
}

TEST(UnitSimulator, StrayOnceFollowsOnlyTheFirstAnswer) {
  Options o = quick();
  o.strayBytes = {0x41};
  o.strayOnce = true;
  Unit u(o);
  EXPECT_EQ(u.ask({0x05}, 2), (Bytes{P::ACK, 0x41}));
  EXPECT_EQ(u.ask({0x05}), ACK);
  EXPECT_EQ(u.ask(P::frame(ascii("001"))), ACK);
}

TEST(UnitSimulator, LoneStopIsRecordedAndNotAnswered) {
  Unit u;
  EXPECT_EQ(u.ask({0xFF}, 0), Bytes{});
  EXPECT_EQ(u.sim.received(), Bytes{0xFF});
  EXPECT_EQ(u.ask({0x41}, 0), Bytes{});
  EXPECT_EQ(u.sim.received(), (Bytes{0xFF, 0x41}));
  EXPECT_EQ(u.ask({0x05}), ACK);
}

TEST(UnitSimulator, LineStaysRawAcrossReopensByPlainReaders) {
  UnitSimulator sim(quick());
  sim.start();
  const Bytes awkward{0x0D, 0x11, 0x13, 0x03, 0x7F, 0x0A};
  Bytes expected;
  for (int round = 0; round < 3; ++round) {
    SlavePort plain(sim.slavePath(), false);
    plain.write(awkward);
    expected.insert(expected.end(), awkward.begin(), awkward.end());
    ASSERT_TRUE(sim.waitForBytes(expected.size(), 1000ms)) << "round " << round;
    EXPECT_EQ(sim.received(), expected);
    sim.send(awkward);
    EXPECT_EQ(plain.read(awkward.size()), awkward) << "round " << round;
  }
}

TEST(UnitSimulator, RecordingFileGetsEveryByteAppendedAsItComes) {
  const auto path = tempFile("record.bin");
  std::ofstream(path, std::ios::binary) << "old";
  Options o = quick();
  o.record = path.string();
  Unit u(o);
  Bytes all{'o', 'l', 'd'};
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b));
  u.port->write(Bytes(all.begin() + 3, all.end()));
  ASSERT_TRUE(u.sim.waitForBytes(256, 2000ms));
  // Flushed while the unit still runs.
  EXPECT_EQ(fileBytes(path), all);
  // 02 03 04 is a frame with a wrong checksum, then 05 an enquiry.
  EXPECT_EQ(u.port->read(2), (Bytes{P::NAK, P::ACK}));
  EXPECT_TRUE(u.port->drain(50ms).empty());
  std::filesystem::remove(path);
}

TEST(UnitSimulator, UnwritableRecordingFailsToStart) {
  Options o = quick();
  o.record = "/nonexistent-dir/record.bin";
  UnitSimulator sim(o);
  EXPECT_THROW(sim.start(), std::system_error);
}

TEST(UnitSimulator, SurvivesTheSlaveBeingClosedAndReopened) {
  Unit u;
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(u.ask({0x05}), ACK) << "round " << round;
    u.port->close();
    std::this_thread::sleep_for(50ms);
    u.port.emplace(u.sim.slavePath());
  }
  EXPECT_EQ(u.ask(P::frame(ascii("145"))), ACK);
  EXPECT_EQ(u.sim.received().size(), 3u + 6u);
}

TEST(UnitSimulator, AnswerWaitsForTheDelay) {
  Options o;
  o.answerDelay = 300ms;
  Unit u(o);
  u.port->write({0x05});
  EXPECT_TRUE(u.port->read(1, 150ms).empty());
  EXPECT_EQ(u.port->read(1, 1000ms), ACK);
}

TEST(UnitSimulator, StopDoesNotWaitOutAPendingAnswer) {
  Options o;
  o.answerDelay = 10s;
  UnitSimulator sim(o);
  sim.start();
  SlavePort port(sim.slavePath());
  port.write({0x05});
  ASSERT_TRUE(sim.waitForBytes(1, 1000ms));
  const auto begun = std::chrono::steady_clock::now();
  sim.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - begun, 2s);
  EXPECT_TRUE(port.drain(50ms).empty());
  sim.stop();
}

TEST(UnitSimulator, WaitForBytesTimesOutShort) {
  Unit u;
  u.port->write({0x41, 0x42});
  EXPECT_TRUE(u.sim.waitForBytes(2, 1000ms));
  const auto begun = std::chrono::steady_clock::now();
  EXPECT_FALSE(u.sim.waitForBytes(3, 100ms));
  EXPECT_GE(std::chrono::steady_clock::now() - begun, 100ms);
}

TEST(UnitSimulator, ArrivalsAreStampedReadsInOrder) {
  Unit u;
  const auto begun = std::chrono::steady_clock::now();
  u.port->write({0x41, 0x42});
  ASSERT_TRUE(u.sim.waitForBytes(2, 1000ms));
  const auto firstTaken = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(100ms);
  u.port->write({0x43});
  ASSERT_TRUE(u.sim.waitForBytes(3, 1000ms));
  const auto done = std::chrono::steady_clock::now();

  const auto arrivals = u.sim.arrivals();
  ASSERT_GE(arrivals.size(), 2u);
  Bytes joined;
  for (std::size_t i = 0; i < arrivals.size(); ++i) {
    EXPECT_FALSE(arrivals[i].bytes.empty());
    EXPECT_GE(arrivals[i].at, i == 0 ? begun : arrivals[i - 1].at);
    EXPECT_LE(arrivals[i].at, done);
    joined.insert(joined.end(), arrivals[i].bytes.begin(), arrivals[i].bytes.end());
  }
  EXPECT_EQ(joined, u.sim.received());
  EXPECT_EQ(arrivals.back().bytes, Bytes{0x43});
  EXPECT_LE(arrivals.front().at, firstTaken);
  EXPECT_GE(arrivals.back().at - arrivals.front().at, 100ms);
}

TEST(UnitSimulator, Mode1AnswersEachLineAndAcksAChannelLineTwiceAtOnce) {
  Unit u(mode1());
  EXPECT_EQ(u.ask(ascii("001,002,003\r"), 2), (Bytes{P::ACK, P::ACK}));
  EXPECT_EQ(u.ask(ascii("STS\r")), ACK);
  EXPECT_EQ(u.ask(ascii("000\r")), ACK);
  EXPECT_EQ(u.ask(ascii("01\r")), NAK);
  EXPECT_EQ(u.ask(ascii("sts\r007,012\rx\r"), 4), (Bytes{P::ACK, P::ACK, P::ACK, P::NAK}));
}

TEST(UnitSimulator, Mode1SecondAckFollowsThePlayTime) {
  Options o = mode1();
  o.playTime = 300ms;
  Unit u(o);
  const auto begun = std::chrono::steady_clock::now();
  u.port->write(ascii("001,002\r"));
  EXPECT_EQ(u.port->read(1, 150ms), ACK);
  EXPECT_EQ(u.port->read(1, 2000ms), ACK);
  EXPECT_GE(std::chrono::steady_clock::now() - begun, 300ms);
  // A stop during play is taken, not lost, and answered once the line is done.
  u.port->write(ascii("003\r"));
  EXPECT_EQ(u.port->read(1, 150ms), ACK);
  u.port->write(ascii("000\r"));
  EXPECT_EQ(u.port->read(2, 2000ms), (Bytes{P::ACK, P::ACK}));
  EXPECT_TRUE(u.port->drain(50ms).empty());
}

TEST(UnitSimulator, Mode1RefusesEveryKthChannelLineWithOneNak) {
  Options o = mode1();
  o.nakEvery = 2;
  Unit u(o);
  const Bytes line = ascii("001\r");
  EXPECT_EQ(u.ask(line, 2), (Bytes{P::ACK, P::ACK}));
  EXPECT_EQ(u.ask(ascii("sts\r")), ACK);
  EXPECT_EQ(u.ask(ascii("000\r")), ACK);
  EXPECT_EQ(u.ask(ascii("bad\r")), NAK);
  EXPECT_EQ(u.ask(line), NAK);
  EXPECT_EQ(u.ask(line, 2), (Bytes{P::ACK, P::ACK}));
  EXPECT_EQ(u.ask(line), NAK);
}

TEST(UnitSimulator, Mode1StrayBytesShareTheWriteWithTheAcks) {
  Options o = mode1();
  o.strayBytes = {0x41};
  o.strayEvery = 1;
  Unit u(o);
  EXPECT_EQ(u.ask(ascii("sts\r"), 2), (Bytes{0x41, P::ACK}));
  EXPECT_EQ(u.ask(ascii("001\r"), 4), (Bytes{0x41, P::ACK, 0x41, P::ACK}));
}

const Bytes dleAck{0x10, 0x06};
const Bytes dleNak{0x10, 0x15};
const Bytes ready{0x02, 0x52, 0x65, 0x61, 0x64, 0x79, 0x03, 0x48};
const Bytes badReady{0x02, 0x52, 0x65, 0x61, 0x64, 0x79, 0x03, 0xB7};
const Bytes trap{0x02, 0x54, 0x72, 0x61, 0x70, 0x20, 0x03, 0x14};
const Bytes stopText{0x02, 0x53, 0x74, 0x6F, 0x70, 0x20, 0x03, 0x1B};
const Bytes busy{0x21};
Bytes command(std::uint8_t c) { return {0x02, c, 0x03, static_cast<std::uint8_t>(c ^ 0x03)}; }

TEST(UnitSimulator, Plx6AnswersEnquiriesFramesAndStopsWithTexts) {
  Options o = speaking("plx6");
  o.trapAfter = 2;
  Unit u(o);
  EXPECT_EQ(u.ask({0x10, 0x05}, 10), cat({dleAck, ready}));
  EXPECT_EQ(u.ask(P::frame(ascii("01")), 8), ready);
  EXPECT_EQ(u.ask(P::frame(ascii("02FF")), 8), trap);
  EXPECT_EQ(u.ask(P::frame(ascii("03")), 8), ready);
  EXPECT_EQ(u.ask(P::frame(ascii("3")), 2), dleNak);
  EXPECT_EQ(u.ask({0x01}, 8), stopText);
  EXPECT_EQ(u.ask({0x05, 0x41}, 0), Bytes{});
}

TEST(UnitSimulator, Plx6PlaysInTheBackgroundAndAStopDropsTheReady) {
  Options o = speaking("plx6");
  o.playTime = 500ms;
  Unit u(o);
  const auto begun = std::chrono::steady_clock::now();
  u.port->write(P::frame(ascii("01")));
  EXPECT_EQ(u.ask({0x10, 0x05}, 10), cat({dleAck, ready}));  // answered while playing
  EXPECT_EQ(u.port->read(8, 2000ms), ready);
  EXPECT_GE(std::chrono::steady_clock::now() - begun, 500ms);
  u.port->write(P::frame(ascii("02")));
  EXPECT_EQ(u.ask({0x01}, 8), stopText);
  EXPECT_TRUE(u.port->drain(700ms).empty());
}

TEST(UnitSimulator, ByteGapSendsEveryByteAloneStraysIncluded) {
  Options o = speaking("plx6");
  o.byteGap = 40ms;
  o.strayBytes = {0x41};
  o.strayEvery = 1;
  Unit u(o);
  u.port->write({0x10, 0x05});
  const Bytes expected = cat({{0x41}, dleAck, {0x41}, ready});
  Bytes got;
  const auto begun = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Bytes read = u.port->read(1, 1000ms);
    EXPECT_EQ(read.size(), 1u) << "read " << i;
    got.insert(got.end(), read.begin(), read.end());
  }
  EXPECT_EQ(got, expected);
  EXPECT_GE(std::chrono::steady_clock::now() - begun, 40ms * (expected.size() - 2));
}

TEST(UnitSimulator, BadCheckEverySpoilsEveryKthCheckedMessage) {
  Options o = speaking("plx6");
  o.badCheckEvery = 2;
  Unit u(o);
  EXPECT_EQ(u.ask({0x10, 0x05}, 10), cat({dleAck, ready}));  // DLE ACK carries no check
  EXPECT_EQ(u.ask(P::frame(ascii("01")), 8), badReady);
  EXPECT_EQ(u.ask(P::frame(ascii("01")), 8), ready);
  Bytes badStop = stopText;
  badStop.back() ^= 0xFF;
  EXPECT_EQ(u.ask({0x01}, 8), badStop);
  // What followed playing is kept as sent.
  EXPECT_EQ(u.sim.notices(), (std::vector<Notice>{{badReady, std::nullopt}, {ready, std::nullopt}}));
}

TEST(UnitSimulator, Hs4142RefusesSettingsWhilePlayingThenReportsEachChannel) {
  Options o = speaking("hs4142");
  o.playTime = 700ms;
  o.report = true;
  Unit u(o);
  EXPECT_EQ(u.ask(P::frame(ascii("001002"))), ACK);
  EXPECT_EQ(u.ask(command(0xFB)), busy);
  EXPECT_EQ(u.ask(command(0xC8)), busy);
  EXPECT_EQ(u.ask({0x05}), ACK);
  EXPECT_EQ(u.port->read(12, 2000ms), cat({P::frame(ascii("001")), P::frame(ascii("002"))}));
  EXPECT_EQ(u.ask(command(0xFB)), ACK);
  // A reset ends playback: settings are taken again and no reports follow.
  EXPECT_EQ(u.ask(P::frame(ascii("003"))), ACK);
  EXPECT_EQ(u.ask(command(0xFE)), ACK);
  EXPECT_EQ(u.ask(command(0xD7)), ACK);
  EXPECT_TRUE(u.port->drain(900ms).empty());
}

TEST(UnitSimulator, Hs4142BadReportsAndRefusalsPlayNothing) {
  Options o = speaking("hs4142");
  o.badReport = true;
  o.nakEvery = 2;
  Unit u(o);
  EXPECT_EQ(u.ask(P::frame(ascii("001")), 7), (Bytes{P::ACK, 0x02, 0x30, 0x30, 0x31, 0x03, 0xCD}));
  EXPECT_EQ(u.ask(command(0xFB)), ACK);  // not counted
  EXPECT_EQ(u.ask(P::frame(ascii("001"))), NAK);
  EXPECT_EQ(u.sim.notices().size(), 1u);
}

TEST(UnitSimulator, CustomerSendsThePlaybackEndAndKeepsTheTestersAnswer) {
  using C = CustomerProtocol;
  const Bytes ack{0x10, 0x06, 0x00}, nak{0x10, 0x15, 0x00};
  const Bytes ended{0x10, 0x02, 0x39, 0x10, 0x03, 0x2A};
  const std::vector<unsigned> channels{1, 2, 30};
  Options o = speaking("customer");
  o.playTime = 200ms;
  Unit u(o);
  const auto begun = std::chrono::steady_clock::now();
  for (const auto& answer : {std::optional(ack), std::optional(nak), std::optional<Bytes>()}) {
    u.port->write(C::playList(channels));
    EXPECT_EQ(u.port->read(3), ack);
    EXPECT_EQ(u.port->read(6, 2000ms), ended);
    if (answer) u.port->write(*answer);
  }
  EXPECT_GE(std::chrono::steady_clock::now() - begun, 3 * 200ms);
  // The third was sent after the first two answers were read.
  EXPECT_EQ(u.sim.notices(), (std::vector<Notice>{{ended, ack}, {ended, nak}, {ended, std::nullopt}}));

  // A stop while a list plays drops its end.
  u.port->write(C::playList(channels));
  EXPECT_EQ(u.port->read(3), ack);
  EXPECT_EQ(u.ask({0x10, 0x02, 0x44, 0x10, 0x03, 0x57}, 3), ack);
  EXPECT_TRUE(u.port->drain(300ms).empty());
  EXPECT_EQ(u.sim.notices().size(), 3u);
}

TEST(UnitSimulator, CustomerRefusesEveryKthListWithDleNakAndSilenceSendsNothing) {
  using C = CustomerProtocol;
  const std::vector<unsigned> channels{7};
  const Bytes list = C::playList(channels);
  Options o = speaking("customer");
  o.nakEvery = 2;
  Unit u(o);
  EXPECT_EQ(u.ask(list, 9), (Bytes{0x10, 0x06, 0x00, 0x10, 0x02, 0x39, 0x10, 0x03, 0x2A}));
  EXPECT_EQ(u.ask(list, 3), (Bytes{0x10, 0x15, 0x00}));

  o.silent = true;
  Unit quiet(o);
  EXPECT_EQ(quiet.ask(list, 0), Bytes{});
  EXPECT_TRUE(quiet.sim.notices().empty());
}

TEST(UnitSimulator, FenwickSendsBackTheScheduleFileWithTheFaultsAsked) {
  using F = FenwickProtocol;
  const auto file = tempFile("schedule.wmj");
  std::ofstream(file, std::ios::binary) << "#2\r\n3,a,b,c,d,e,f\r\n9,,,,,x\r\n";
  Options o = speaking("fenwick");
  o.schedule = file.string();
  o.nakEvery = 3;
  o.extraChannel = 1000;
  o.changeFields = {{9, 1, "y"}};
  Unit u(o);
  EXPECT_EQ(u.ask({0x05}), ACK);
  const Bytes all = P::frame(ascii("3,a,b,c,d,e,f,9,y,,,,x,1000,,,,,,"));
  EXPECT_EQ(u.ask(F::request("000"), all.size()), all);
  EXPECT_EQ(u.ask(F::request("00040008"), 20), P::frame(ascii("1000,,,,,,")));
  EXPECT_EQ(u.ask(F::request("000")), NAK);  // the third request
  EXPECT_EQ(u.ask(F::request("256")), NAK);

  o.extraChannel = 0;
  o.changeFields.clear();
  o.nakEvery = 0;
  o.corruptCheck = true;
  o.dropStx = true;
  Unit spoiled(o);
  Bytes three = P::frame(ascii("3,a,b,c,d,e,f,"));
  three.erase(three.begin());
  three.back() ^= 0xFF;
  EXPECT_EQ(spoiled.ask(F::request("003"), three.size()), three);

  std::ofstream(file, std::ios::binary) << "#2\r\n3,a,b\r\n";
  EXPECT_THROW(UnitSimulator{o}, std::invalid_argument);
  std::filesystem::remove(file);
  EXPECT_THROW(UnitSimulator{o}, std::runtime_error);
}

TEST(UnitSimulator, BriskTakesFramesAndAnswersNothingNotEvenRefusals) {
  Options o = speaking("brisk");
  o.nakEvery = 1;
  o.strayBytes = {0x41};
  o.strayEvery = 1;
  Unit u(o);
  const Bytes frames = cat({BriskProtocol::frame(11, 5), BriskProtocol::frame(3, 42, 4), ascii("x")});
  EXPECT_EQ(u.ask(frames, 0), Bytes{});
  EXPECT_TRUE(u.sim.waitForBytes(frames.size(), 1000ms));
  EXPECT_EQ(u.sim.received(), frames);
}

TEST(UnitSimulator, UnknownProtocolIsRefused) {
  Options o;
  o.protocol = "parallel";
  EXPECT_THROW(UnitSimulator{o}, std::invalid_argument);
}

}  // namespace
}  // namespace kestrel::sim::test
