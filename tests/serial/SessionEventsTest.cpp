#include "sessions/BufferedSession.h"
#include "sessions/Mode1Session.h"
#include "sessions/Mode34Session.h"
#include "sessions/Mode5Session.h"
#include "sessions/Plx6Session.h"
#include "support/EventLog.h"
#include "support/TestSupport.h"

#include <functional>
#include <memory>
#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

QString hex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ')); }

// What arrives, and the events it must bring, in order.
struct Step {
  QByteArray received;
  QStringList events;
};

struct EventCase {
  const char* name;
  bool rawProfile;
  // Makes the session and starts the same short run.
  std::function<std::unique_ptr<SerialSession>(FakeLink&, EventLog&, Pause&)> start;
  QStringList started;
  std::vector<Step> run;      // to the end of the list
  std::vector<Step> refused;  // from the start again
};

template <class S, class... Args>
std::unique_ptr<S> made(Args&... args) {
  return std::make_unique<S>(args...);
}

const QString kAckEvent = QStringLiteral("answer Ack 06");

const std::vector<EventCase> kCases{
    {"Buffered",
     false,
     [](FakeLink& l, EventLog& e, Pause& p) {
       auto s = made<BufferedSession>(kBuffered1000, l, e, p);
       s->Play({1, 2, 3}, 2);
       return s;
     },
     {"started 1,2,3 of 3", "frame [] 05"},
     {{"\x06", {kAckEvent, "frame [1,2] " + hex(expectedFrame("00010002")), "progress 2/3"}},
      {"\x06", {kAckEvent, "frame [3] " + hex(expectedFrame("0003")), "progress 3/3"}},
      {"\x06", {kAckEvent, "finished Complete"}}},
     {{"\x06", {kAckEvent, "frame [1,2] " + hex(expectedFrame("00010002")), "progress 2/3"}},
      {"\x15", {"answer Nak 15", "refusal [受信]：NAK(15h)"}}}},
    {"Mode1",
     false,
     [](FakeLink& l, EventLog& e, Pause& p) {
       auto s = made<Mode1Session>(l, e, p);
       s->Play({1, 2}, 2);
       return s;
     },
     {"started 1,2 of 2", "frame [] 73 74 73 0d"},
     {{"\x06", {kAckEvent, "frame [1,2] 30 30 31 2c 30 30 32 0d", "progress 2/2"}},
      {"\x06", {kAckEvent}},
      {"\x06", {kAckEvent, "finished Complete"}}},
     {{"\x15", {"answer Nak 15", "refusal [受信]：NAK(15h)"}}}},
    {"Mode34",
     true,
     [](FakeLink& l, EventLog& e, Pause& p) {
       auto s = made<Mode34Session>(l, e, p);
       s->Send({1, 2, 3}, 2);
       return s;
     },
     {"started 1,2,3 of 3", "frame [] 05"},
     {{"\x06", {kAckEvent, "frame [1,2] " + hex(expectedFrame("001002")), "progress 2/3"}},
      {"\x06", {kAckEvent, "frame [3] " + hex(expectedFrame("003")), "progress 3/3"}},
      {"\x06", {kAckEvent, "finished Complete"}}},
     // The unit's "!" moves the exchange on as an ACK does; only the run reads it as a refusal.
     {{"!", {"answer Nak 21", "refusal [受信]：[！] (21h)", "frame [1,2] " + hex(expectedFrame("001002")),
             "progress 2/3"}}}},
    {"Mode5",
     true,
     [](FakeLink& l, EventLog& e, Pause& p) {
       auto s = made<Mode5Session>(l, e, p);
       s->Send({1, 2});
       return s;
     },
     {"started 1,2 of 2", "frame [1,2] 10 02 43 32 30 31 30 32 10 03 61"},
     {{QByteArray("\x10\x06\x00", 3), {"answer DleAck 10 06 00", "progress 2/2"}},
      {"\x10\x02\x39\x10\x03\x2a", {"answer Report 10 02 39 10 03 2a", "finished Complete", "frame [] 10 06 00"}}},
     {{QByteArray("\x10\x15\x00", 3), {"answer DleNak 10 15 00", "refusal 10h15h00h"}}}},
    {"Plx6",
     true,
     [](FakeLink& l, EventLog& e, Pause& p) {
       auto s = made<Plx6Session>(l, e, p);
       s->Play({1, 2}, 1);
       return s;
     },
     {"started 1,2 of 2", "frame [] 10 05"},
     {{"\x10\x06", {"answer DleAck 10 06"}},
      {"\x02Ready\x03\x48", {"answer Ready 02 52 65 61 64 79 03 48", "frame [1] 02 30 31 03 02", "progress 1/2"}},
      {"\x02Ready\x03\x48", {"answer Ready 02 52 65 61 64 79 03 48", "frame [2] 02 30 32 03 01", "progress 2/2"}},
      {"\x02Ready\x03\x48", {"answer Ready 02 52 65 61 64 79 03 48", "finished Complete"}}},
     {{"\x10\x15",
       {"answer DleNak 10 15", "refusal [受信]：DLE+NAK(10h15h)", "finished Refused [受信]：DLE+NAK(10h15h)"}}}},
};

class SessionEventSequence : public ::testing::TestWithParam<EventCase> {
 protected:
  // Starts the run and feeds `steps`, each against the events it brings.
  void play(const std::vector<Step>& steps) {
    const EventCase& c = GetParam();
    FakeLink link;
    link.rawProfile = c.rawProfile;
    EventLog log;
    VirtualPause pause;
    const std::unique_ptr<SerialSession> session = c.start(link, log, pause);
    EXPECT_EQ(log.takeEvents(), c.started);
    for (const Step& step : steps) {
      link.incoming += step.received;
      session->OnComm(LinkPort::kEventReceive);
      EXPECT_EQ(log.takeEvents(), step.events) << hex(step.received).toStdString();
    }
    // Every answer followed a frame: its time is from that frame's last byte.
    for (const EventClock::duration since : log.sinceFrame) EXPECT_GE(since.count(), 0);
  }
};

}  // namespace

TEST_P(SessionEventSequence, ShortRun) { play(GetParam().run); }

TEST_P(SessionEventSequence, Refusal) { play(GetParam().refused); }

INSTANTIATE_TEST_SUITE_P(Serial, SessionEventSequence, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<EventCase>& i) { return std::string(i.param.name); });

// The port's failures end the run whatever the session was doing; the line is
// the one the window and the runner both show.
TEST(SessionEventsPort, WriteFailureAndLostPortFinishTheRun) {
  FakeLink link;
  EventLog log;
  VirtualPause pause;
  Mode1Session session(link, log, pause);
  link.failWrites = true;
  session.Play({1}, 1);
  EXPECT_EQ(log.takeEvents(), (QStringList{"started 1 of 1", "finished PortLost [エラー]：送信できませんでした。"}));
  session.PortLost(QStringLiteral("EIO"));
  EXPECT_EQ(log.lines.back(), QStringLiteral("[エラー]：通信ポートが切断されました（EIO）"));
  EXPECT_EQ(log.kinds.back(), LineKind::Fault);
  EXPECT_EQ(log.takeEvents(), QStringList{"finished PortLost [エラー]：通信ポートが切断されました（EIO）"});
}
