#include "kit/PortSetup.h"
#include "link/SerialLink.h"
#include "support/Pty.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QTest>
#include <fcntl.h>
#include <unistd.h>
#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

class Link : public ::testing::Test {
 protected:
  Link() {
    QObject::connect(&link, &SerialLink::comm, [this](int event) { events.push_back(event); });
  }
  void waitForEvent() {
    QElapsedTimer clock;
    clock.start();
    const std::size_t before = events.size();
    while (events.size() == before && clock.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  Pty pty;
  ComPortOverride com4{4, pty.slave()};
  SerialLink link;
  std::vector<int> events;
  RecordingPrompt prompt;
};

}  // namespace

TEST_F(Link, TextProfileReadsOneCharacterPerRead) {
  ASSERT_EQ(SetUpPort(link, {QStringLiteral("9600,N,8,1"), ReceiveProfile::Text}, 4, nullptr), PortSetupResult::Opened);
  EXPECT_EQ(link.device(), pty.slave());
  EXPECT_EQ(link.commPort(), 4);
  pty.write(QByteArray("\x06\x15\x00", 3));
  waitForEvent();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0], SerialLink::kEventReceive);
  QElapsedTimer clock;
  clock.start();
  while (link.InBufferCount() < 3 && clock.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_EQ(link.InBufferCount(), 3);
  EXPECT_EQ(link.read(), QByteArray("\x06"));
  EXPECT_EQ(link.read(), QByteArray("\x15"));
  EXPECT_EQ(link.InBufferCount(), 1);
}

// A handler that takes one character per event gets an event for each one,
// however the bytes arrived.
TEST_F(Link, BytesArrivingTogetherEachGetTheirEvent) {
  ASSERT_EQ(SetUpPort(link, {QStringLiteral("9600,N,8,1"), ReceiveProfile::Text}, 4, nullptr), PortSetupResult::Opened);
  QByteArray taken;
  QObject::connect(&link, &SerialLink::comm, [&] { taken += link.read(); });
  pty.write(QByteArray("\x06\x41\x15", 3));
  QElapsedTimer clock;
  clock.start();
  while (taken.size() < 3 && clock.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_EQ(taken, QByteArray("\x06\x41\x15", 3));
  QCoreApplication::processEvents();
  EXPECT_EQ(events.size(), 3u);  // and no more once everything is taken
}

TEST_F(Link, RawProfileReadsEverythingWaiting) {
  ASSERT_EQ(SetUpPort(link, {QStringLiteral("4800,E,8,1"), ReceiveProfile::Raw}, 4, nullptr), PortSetupResult::Opened);
  EXPECT_EQ(link.inputMode(), SerialLink::comInputModeBinary);
  pty.write(
      QByteArray("\x10\x02"
                 "abc",
                 5));
  QElapsedTimer clock;
  clock.start();
  while (link.InBufferCount() < 5 && clock.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_EQ(link.read(), QByteArray("\x10\x02"
                                    "abc"));
  EXPECT_EQ(link.InBufferCount(), 0);
}

TEST_F(Link, WritesGoOutUnchanged) {
  ASSERT_EQ(SetUpPort(link, {QString(), ReceiveProfile::Text}, 4, nullptr), PortSetupResult::Opened);
  EXPECT_EQ(link.settings(), QStringLiteral("9600,N,8,1"));  // kept when the window sets none
  EXPECT_TRUE(link.writeByte(0xFF));
  EXPECT_TRUE(link.write(QByteArray("\x02\x03\x11\x13\x0D", 5)));
  EXPECT_TRUE(link.writeText(QStringLiteral("001,015")));
  QByteArray got;
  QElapsedTimer clock;
  clock.start();
  while (got.size() < 13 && clock.elapsed() < 3000) got += pty.readAvailable();
  EXPECT_EQ(got, QByteArray("\xFF\x02\x03\x11\x13\x0D"
                            "001,015",
                            13));
}

TEST_F(Link, WithoutReceiveEventsNothingIsRaised) {
  ASSERT_EQ(SetUpPort(link, {QString(), ReceiveProfile::TextWithoutEvents}, 4, nullptr), PortSetupResult::Opened);
  pty.write("x");
  QElapsedTimer clock;
  clock.start();
  while (link.InBufferCount() < 1 && clock.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_EQ(link.read(), QByteArray("x"));
  EXPECT_TRUE(events.empty());
}

TEST_F(Link, MalformedSettingsAndClosedPortFailQuietly) {
  QString why;
  EXPECT_EQ(SetUpPort(link, {QStringLiteral("9600,N,8"), ReceiveProfile::Text}, 4, nullptr, &why),
            PortSetupResult::Failed);
  EXPECT_FALSE(link.isOpen());
  EXPECT_FALSE(why.isEmpty());
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_FALSE(link.writeByte(0x05));
  EXPECT_EQ(link.InBufferCount(), 0);
  EXPECT_TRUE(link.read().isEmpty());
}

TEST(LineEvents, EachChangedModemLineRaisesItsEvent) {
  using P = QSerialPort;
  EXPECT_EQ(lineEvents(P::NoSignal, P::NoSignal), QList<int>{});
  EXPECT_EQ(lineEvents(P::ClearToSendSignal | P::DataSetReadySignal, P::DataSetReadySignal), QList<int>{3});
  EXPECT_EQ(lineEvents(P::NoSignal, P::DataSetReadySignal | P::DataCarrierDetectSignal | P::RingIndicatorSignal),
            (QList<int>{4, 5, 6}));
  EXPECT_EQ(lineEvents(P::RequestToSendSignal, P::DataTerminalReadySignal), QList<int>{});  // our own lines
}

// Another reader of the same line takes the bytes between the moment the
// port is told they are there and its read: the read finds nothing and says
// "try again". That is no lost port.
TEST_F(Link, ReadThatFindsNothingIsNoLostPort) {
  const int thief = ::open(QFile::encodeName(pty.slave()).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
  ASSERT_GE(thief, 0);
  QSocketNotifier first(thief, QSocketNotifier::Read);
  QObject::connect(&first, &QSocketNotifier::activated, [thief] {
    char buffer[256];
    while (::read(thief, buffer, sizeof buffer) > 0) {
    }
  });
  ASSERT_EQ(SetUpPort(link, {QStringLiteral("9600,N,8,1"), ReceiveProfile::Raw}, 4, nullptr), PortSetupResult::Opened);
  QString lostReason;
  QObject::connect(&link, &SerialLink::lost, [&](const QString& reason) { lostReason = reason; });
  for (int i = 0; i < 20 && link.isOpen(); ++i) {
    pty.write("x");
    QTest::qWait(5);
  }
  EXPECT_TRUE(link.isOpen()) << lostReason.toStdString();
  first.setEnabled(false);
  ::close(thief);
  pty.write("y");
  ASSERT_TRUE(QTest::qWaitFor([&] { return link.InBufferCount() > 0; }, 3000));
  EXPECT_EQ(link.read(), "y");
}
