// The PLX6 window's byte-by-byte receiver, fed arrivals cut anywhere and
// interleaved with runs started and stopped by the operator.
//
// Actions (record C0h and up, taken modulo 3): 0 play with the entries that
// follow, 1 stop, 2 set the port's condition.

#include "FuzzSupport.h"
#include "sessions/Plx6Session.h"

#include <algorithm>

using namespace kestrel;
using namespace kestrel::fuzz;

namespace {

// The window's rules: channel 0 is a channel, and entries are plain digits.
// Only whether a message is set matters here, not its text.
EntryRules plx6Rules() {
  EntryRules rules;
  rules.low = 0;
  rules.digitsOnly = true;
  rules.emptyMessage = QStringLiteral("-");
  rules.unitDigitsMessage = QStringLiteral("-");
  return rules;
}

class Run : public Driver<Run, Plx6Session> {
 public:
  void play(Input& in) {
    const std::optional<Entries> entries = checked(readEntries(in, 20), plx6Rules());
    if (!entries) return;
    const QList<qint64> channels = channelNumbers(entries->boxes, entries->manual, Plx6Session::kMaxChannel);
    const int unit = unitOf(*entries);
    // Two digits each, as the unit reads them.
    list_.clear();
    for (const qint64 c : channels) {
      FUZZ_REQUIRE(c >= 0 && c <= 255);
      list_.append(QByteArray::number(c, 16).toUpper().rightJustified(2, '0'));
    }
    action([&] { session_.Play(channels, unit); });
    FUZZ_REQUIRE(link_.written == (writable_ ? QByteArray("\x10\x05", 2) : QByteArray()));
    FUZZ_REQUIRE(session_.CommandState == Plx6Session::EnqSent);
    FUZZ_REQUIRE(session_.ListPos == 0 && session_.ListRemain == list_.size());
    FUZZ_REQUIRE(session_.ChannelUnit == unit);
  }

  void stop() {
    action([&] { session_.Stop(); });
    FUZZ_REQUIRE(link_.written == (writable_ ? QByteArray("\x01", 1) : QByteArray()));
    FUZZ_REQUIRE(session_.CommandState == Plx6Session::StopSent);
  }

 private:
  friend Driver;

  QByteArray held() const { return session_.RxBuf; }

  void onComm(int event) {
    link_.beginStep();
    const QByteArray rxBefore = session_.RxBuf;
    const qint16 pos = session_.ListPos, remain = session_.ListRemain;
    session_.OnComm(event);
    checkState();
    // Only a receive event reads, and it reads everything waiting.
    FUZZ_REQUIRE(event == LinkPort::kEventReceive || link_.taken.isEmpty());
    if (event == LinkPort::kEventReceive) FUZZ_REQUIRE(link_.incoming.isEmpty());
    checkReceiver(rxBefore);
    checkFrame(pos, remain);
  }

  void checkReceiver(const QByteArray& before) const {
    const Plx6Session& s = session_;
    FUZZ_REQUIRE(s.RxIndex == s.RxBuf.size() - 1);
    FUZZ_REQUIRE(s.RxChars >= 0 && s.RxChars <= Plx6Session::kMaxText + 1);
    // STX, five characters, ETX and the check byte at the very most.
    FUZZ_REQUIRE(s.RxBuf.size() <= Plx6Session::kMaxText + 3);
    switch (s.RxState) {
      case -1: FUZZ_REQUIRE(s.RxBuf.isEmpty() && s.RxChars == 0); break;
      case 0: FUZZ_REQUIRE(s.RxBuf == QByteArray(1, '\x10') && s.RxChars == 0); break;
      case 10:
        FUZZ_REQUIRE(s.RxBuf.front() == '\x02' && !s.RxBuf.contains('\x03'));
        FUZZ_REQUIRE(s.RxChars == s.RxBuf.size() - 1);
        break;
      case 11:
        FUZZ_REQUIRE(s.RxBuf.front() == '\x02' && s.RxBuf.back() == '\x03');
        FUZZ_REQUIRE(s.RxChars == s.RxBuf.size() - 1);
        break;
      default: FUZZ_REQUIRE(false);
    }
    // What is kept is the tail of what came in, and only comes from it.
    if (link_.taken.isEmpty()) FUZZ_REQUIRE(s.RxBuf == before);
    FUZZ_REQUIRE((before + link_.taken).endsWith(s.RxBuf));
  }

  void checkState() const {
    const Plx6Session& s = session_;
    switch (s.CommandState) {
      case Plx6Session::Idle:
      case Plx6Session::EnqSent:
      case Plx6Session::AckReceived:
      case Plx6Session::Ready:
      case Plx6Session::FrameSent:
      case Plx6Session::StopSent: break;
      default: FUZZ_REQUIRE(false);
    }
    FUZZ_REQUIRE(s.ListPos >= 0 && s.ListRemain >= 0);
    FUZZ_REQUIRE(std::size_t(s.ListPos + s.ListRemain) + 1 == s.ChannelList.size());
    FUZZ_REQUIRE(s.ChannelList.size() == std::size_t(list_.size()) + 1);
    for (qsizetype i = 0; i < list_.size(); ++i) {
      const qint64 channel = s.ChannelList[std::size_t(i) + 1];
      FUZZ_REQUIRE(QByteArray::number(channel, 16).toUpper().rightJustified(2, '0') == list_[i]);
    }
  }

  // An arrival sends nothing, or the next channels of the list in one frame.
  void checkFrame(qint16 pos, qint16 remain) const {
    const Plx6Session& s = session_;
    if (link_.written.isEmpty()) {
      FUZZ_REQUIRE(s.ListPos == pos && s.ListRemain == remain);
      return;
    }
    const std::optional<QByteArray> body = stxFrameBody(link_.written);
    FUZZ_REQUIRE(body);
    FUZZ_REQUIRE(!body->isEmpty() && body->size() % 2 == 0);
    FUZZ_REQUIRE(std::all_of(body->begin(), body->end(),
                             [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }));
    const qsizetype count = body->size() / 2;
    FUZZ_REQUIRE(count == std::min<qsizetype>(s.ChannelUnit, remain));
    FUZZ_REQUIRE(*body == list_.mid(pos, count).join());
    FUZZ_REQUIRE(s.ListPos == pos + count && s.ListRemain == remain - count);
    FUZZ_REQUIRE(s.CommandState == Plx6Session::FrameSent);
  }

  QList<QByteArray> list_;  // the run's channels as they must go out
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  Run run;
  drive(in, run, 3, [&](int action) {
    switch (action) {
      case 0: run.play(in); break;
      case 1: run.stop(); break;
      default: run.port(in); break;
    }
  });
  return 0;
}
