// The HS-41/42 windows' block receiver (STX reports, ACK, refusal, NAK,
// anything else), fed arrivals cut anywhere and interleaved with channel
// lists, single commands and sheet numbers.
//
// Actions (record C0h and up, taken modulo 4): 0 send the list the entries
// that follow give, 1 a command (next byte), 2 a sheet number (next byte),
// 3 set the port's condition.

#include "FuzzSupport.h"
#include "sessions/Mode34Session.h"

#include <algorithm>
#include <array>

using namespace kestrel;
using namespace kestrel::fuzz;

namespace {

EntryRules hsRules() {
  EntryRules rules;
  rules.high = Mode34Session::kMaxChannel;
  return rules;
}

QByteArray stxFrame(const QByteArray& body) { return '\x02' + body + '\x03' + char(xorOf(body) ^ 0x03); }

class Run : public Driver<Run, Mode34Session> {
 public:
  void send(Input& in) {
    const std::optional<Entries> entries = checked(readEntries(in, 20), hsRules());
    if (!entries) return;
    const QList<qint64> channels = channelNumbers(entries->boxes, entries->manual, Mode34Session::kMaxChannel);
    const int unit = unitOf(*entries);
    // Three decimal digits each, as the unit reads them.
    list_.clear();
    for (const qint64 c : channels) {
      FUZZ_REQUIRE(c >= 1 && c <= Mode34Session::kMaxChannel);
      list_.append(QByteArray::number(c).rightJustified(3, '0'));
    }
    action([&] { session_.Send(channels, unit); });
    FUZZ_REQUIRE(link_.written == (writable_ ? QByteArray("\x05", 1) : QByteArray()));
    FUZZ_REQUIRE(session_.CommandState == 1);
    FUZZ_REQUIRE(session_.ListPos == 0 && session_.ListRemain == list_.size());
  }

  void command(Input& in) {
    // The codes each command carries, in Command order.
    static const std::array<QByteArray, 7> kExpected{stxFrame("\xFF"), stxFrame("\xFE"), stxFrame("\xFB"),
                                                     stxFrame("\xFC"), stxFrame("\xFD"), QByteArray("\x05", 1),
                                                     stxFrame("001")};
    const std::size_t which = in.byte() % kExpected.size();
    action([&] { session_.SendCommand(Mode34Session::Command(which)); });
    FUZZ_REQUIRE(link_.written == (writable_ ? kExpected[which] : QByteArray()));
  }

  void sheet(Input& in) {
    const int k = in.byte() % 16;
    action([&] { session_.SendSheetNo(k); });
    FUZZ_REQUIRE(link_.written == (writable_ ? stxFrame(QByteArray(1, char(0xC8 + k))) : QByteArray()));
    FUZZ_REQUIRE(session_.CommandState == 30);
  }

 private:
  friend Driver;

  QByteArray held() const { return {}; }

  void onComm(int event) {
    link_.beginStep();
    const qint16 pos = session_.ListPos, remain = session_.ListRemain;
    const qint16 state = session_.CommandState;
    session_.OnComm(event);
    checkState();
    // Only a receive event reads, and it reads everything waiting.
    FUZZ_REQUIRE(event == LinkPort::kEventReceive || link_.taken.isEmpty());
    if (event == LinkPort::kEventReceive) FUZZ_REQUIRE(link_.incoming.isEmpty());
    if (link_.taken.isEmpty()) FUZZ_REQUIRE(session_.CommandState == state);
    checkFrame(pos, remain);
  }

  void checkState() const {
    const Mode34Session& s = session_;
    static constexpr std::array<qint16, 8> kStates{0, 1, 2, 10, 20, 30, 40, 50};
    FUZZ_REQUIRE(std::find(kStates.begin(), kStates.end(), s.CommandState) != kStates.end());
    FUZZ_REQUIRE(s.ListPos >= 0 && s.ListRemain >= 0);
    FUZZ_REQUIRE(std::size_t(s.ListPos + s.ListRemain) + 1 == s.ChannelList.size());
    FUZZ_REQUIRE(s.ChannelList.size() == std::size_t(list_.size()) + 1);
    for (qsizetype i = 0; i < list_.size(); ++i)
      FUZZ_REQUIRE(QByteArray::number(s.ChannelList[std::size_t(i) + 1]).rightJustified(3, '0') == list_[i]);
  }

  // An arrival sends nothing, or the next channels of the list in one frame;
  // a port that fails part-way may cut that frame, and then the channels
  // stay to be sent.
  void checkFrame(qint16 pos, qint16 remain) const {
    const Mode34Session& s = session_;
    const QByteArray& out = link_.written;
    if (out.isEmpty()) {
      FUZZ_REQUIRE(s.ListPos == pos && s.ListRemain == remain);
      return;
    }
    FUZZ_REQUIRE(remain > 0 && s.CommandState == 2);
    const qsizetype count = std::min<qsizetype>(s.ChannelUnit, remain);
    FUZZ_REQUIRE(count >= 1);
    const QByteArray whole = stxFrame(list_.mid(pos, count).join());
    const std::optional<QByteArray> body = stxFrameBody(out);
    if (body) {
      FUZZ_REQUIRE(out == whole);
      FUZZ_REQUIRE(s.ListPos == pos + count && s.ListRemain == remain - count);
      return;
    }
    FUZZ_REQUIRE(link_.broke && whole.startsWith(out) && out.size() < whole.size());
    FUZZ_REQUIRE(s.ListPos == pos && s.ListRemain == remain);
  }

  QList<QByteArray> list_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  Run run;
  drive(in, run, 4, [&](int action) {
    switch (action) {
      case 0: run.send(in); break;
      case 1: run.command(in); break;
      case 2: run.sheet(in); break;
      default: run.port(in); break;
    }
  });
  return 0;
}
