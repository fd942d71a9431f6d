// What a run measures from its session's events, and the verdict's reasons.
#include "core/RunMeter.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace std::chrono_literals;

namespace {

Answer answered(AnswerKind kind, EventClock::duration since) { return {kind, {}, since}; }

TEST(RunMeter, TimesTheFirstAnswerToEachFrameAndTheBusyLineAfterEachStrobe) {
  RunMeter meter;
  meter.runFinished({RunOutcome::Complete, {}});  // a previous run's end
  meter.runStarted({{1, 2}, 2});
  const EventClock::time_point t0 = EventClock::now();
  meter.answer(answered(AnswerKind::Other, -1ms));  // before any frame: counted, not timed
  meter.frameSent({{1}, "a", t0});
  meter.answer(answered(AnswerKind::Ack, 20ms));
  meter.answer(answered(AnswerKind::Report, 900ms));  // the end report answers the list, not the frame
  meter.busyRead({true, t0 + 100ms});
  meter.busyRead({true, t0 + 200ms});
  meter.busyRead({false, t0 + 300ms});
  meter.busyRead({false, t0 + 400ms});  // no strobe since: not a busy time
  meter.frameSent({{2}, "b", t0 + 400ms});
  meter.answer(answered(AnswerKind::Nak, 30ms));
  meter.refusal({QStringLiteral("[受信]：NAK(15h)")});
  meter.refusal({QStringLiteral("second")});
  meter.channelVerdict({1, true});
  meter.channelVerdict({7, false});
  meter.runFinished({RunOutcome::Complete, {}});
  meter.runFinished({RunOutcome::PortLost, {}});  // only the first end counts

  const Measurements& m = meter.measurements();
  EXPECT_EQ(m.frames, 2);
  EXPECT_EQ(m.acks, 1);
  EXPECT_EQ(m.naks, 1);
  EXPECT_EQ(m.otherAnswers, 2);
  EXPECT_EQ(m.refusals, 2);
  EXPECT_EQ(m.firstRefusal, QStringLiteral("[受信]：NAK(15h)"));
  EXPECT_EQ(m.answerMs, (std::vector<double>{20.0, 30.0}));
  EXPECT_EQ(m.busyMs, (std::vector<double>{300.0}));
  EXPECT_EQ(m.busyWaits, 2);
  EXPECT_EQ(m.judgedOk, 1);
  EXPECT_EQ(m.ngChannels, QList<int>{7});
  ASSERT_TRUE(m.finished);
  EXPECT_EQ(m.finished->outcome, RunOutcome::Complete);

  meter.runStarted({{}, 0});
  EXPECT_EQ(meter.measurements().frames, 0);
  EXPECT_FALSE(meter.measurements().finished);
}

TEST(RunMeter, SpreadTakesTheMedianAndTheNearestRankP95) {
  std::vector<double> samples;
  for (int i = 20; i >= 1; --i) samples.push_back(i);
  const Spread s = Measurements::spread(samples);
  EXPECT_EQ(s.count, 20);
  EXPECT_EQ(s.min, 1);
  EXPECT_EQ(s.median, 10.5);
  EXPECT_EQ(s.p95, 19);
  EXPECT_EQ(s.max, 20);
  EXPECT_EQ(Measurements::spread({4}).p95, 4);
  EXPECT_EQ(Measurements::spread({}).count, 0);
}

struct VerdictCase {
  const char* name;
  std::function<void(Measurements&)> run;
  std::vector<const char*> limits;
  const char* reason;
};

class Verdicts : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(Verdicts, NameTheFirstReason) {
  Measurements m;
  m.finished = RunFinished{RunOutcome::Complete, {}};
  m.answerMs = {18, 21.25, 19};
  m.busyMs = {310, 420};
  m.naks = 2;
  m.judgedOk = 3;
  GetParam().run(m);
  Limits limits;
  for (const char* l : GetParam().limits) ASSERT_EQ(limits.set(QString::fromUtf8(l)), QString());
  const Verdict v = judge(m, limits);
  EXPECT_EQ(reasonText(v), QString::fromUtf8(GetParam().reason));
  EXPECT_EQ(v.pass(), std::string(GetParam().reason) == "pass");
}

INSTANTIATE_TEST_SUITE_P(
    RunMeter, Verdicts,
    ::testing::Values(
        VerdictCase{"WithinEveryLimit", [](Measurements&) {}, {"answer-ms=21.25", "naks=2", "busy-ms=420", "judged=3"}, "pass"},
        VerdictCase{"AnswerLimit", [](Measurements&) {}, {"answer-ms=20", "naks=0"}, "answer time 21.3 ms over the limit of 20.0 ms"},
        VerdictCase{"NakLimit", [](Measurements&) {}, {"naks=1", "busy-ms=1"}, "2 NAKs over the limit of 1"},
        VerdictCase{"BusyLimit", [](Measurements&) {}, {"busy-ms=400"}, "busy time 420.0 ms over the limit of 400.0 ms"},
        VerdictCase{"TooFewJudged", [](Measurements&) {}, {"judged=4"}, "3 channels judged, fewer than the limit of 4"},
        VerdictCase{"NgBeforeLimits", [](Measurements& m) { m.ngChannels = {9, 12}; }, {"answer-ms=1"}, "2 NG channels: 9, 12"},
        VerdictCase{"RefusalFirst",
                    [](Measurements& m) {
                      m.refusals = 1;
                      m.firstRefusal = QStringLiteral("[受信]：NAK(15h)");
                      m.finished = RunFinished{RunOutcome::Stopped, {}};
                    },
                    {}, "the unit refused: [受信]：NAK(15h)"},
        VerdictCase{"PortLost", [](Measurements& m) { m.finished = RunFinished{RunOutcome::PortLost, QStringLiteral("gone")}; },
                    {}, "port lost: gone"},
        VerdictCase{"Stopped", [](Measurements& m) { m.finished = RunFinished{RunOutcome::Stopped, {}}; }, {},
                    "stopped before the end"},
        VerdictCase{"NeverEnded", [](Measurements& m) { m.finished.reset(); }, {}, "the run did not end"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RunMeter, LimitsTakeNameEqualsValueAndSayWhatIsWrong) {
  Limits limits;
  EXPECT_EQ(limits.set(QStringLiteral("answer-ms=20.5")), QString());
  EXPECT_EQ(limits.answerMs, 20.5);
  EXPECT_EQ(limits.set(QStringLiteral("naks=1.5")), QStringLiteral("limit naks: '1.5' is not a whole number"));
  EXPECT_EQ(limits.set(QStringLiteral("busy-ms=-1")), QStringLiteral("limit busy-ms: '-1' is not a number of 0 or more"));
  EXPECT_EQ(limits.set(QStringLiteral("speed=3")), QStringLiteral("unknown limit 'speed' (answer-ms, naks, busy-ms, judged)"));
  EXPECT_EQ(limits.set(QStringLiteral("naks")), QStringLiteral("limit 'naks': expected NAME=VALUE"));
  EXPECT_FALSE(limits.naks);

  Limits over;
  ASSERT_EQ(over.set(QStringLiteral("judged=2")), QString());
  limits.overrideWith(over);
  EXPECT_EQ(limits.answerMs, 20.5);
  EXPECT_EQ(limits.judged, 2);
}

}  // namespace
