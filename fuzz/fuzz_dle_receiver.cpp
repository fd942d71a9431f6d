// The DLE window's receiver (end reports 10 02 39 ..., DLE ACK 10 06 00,
// DLE NAK 10 15 00), fed arrivals cut anywhere and interleaved with play
// lists, stops, hand-sent replies and changes of the end-report reply.
//
// Actions (record C0h and up, taken modulo 6): 0 send the list the entries
// that follow give, 1 stop, 2 ACK, 3 NAK, 4 the end-report reply (next
// byte), 5 set the port's condition.

#include "FuzzSupport.h"
#include "sessions/Mode5Session.h"

using namespace kestrel;
using namespace kestrel::fuzz;

namespace {

// The start of a cut message is the session's own; an explicit
// instantiation may name a private member, which lets the checks read it
// without widening the session for them.
const QByteArray& partialOf(const Mode5Session& session);

template <QByteArray Mode5Session::*Member>
struct PartialAccess {
  friend const QByteArray& partialOf(const Mode5Session& session) { return session.*Member; }
};
template struct PartialAccess<&Mode5Session::partial_>;

// DLE STX, the body, DLE ETX and the XOR of the body and DLE ETX.
QByteArray dleMessage(const QByteArray& body) {
  const QByteArray tail = body + "\x10\x03";
  return "\x10\x02" + tail + char(xorOf(tail));
}

const QByteArray kDleAck("\x10\x06\x00", 3);
const QByteArray kDleNak("\x10\x15\x00", 3);
const QByteArray kEndReport("\x10\x02\x39", 3);

// The play list as the unit takes it: DLE STX "C", the count, two
// characters 30h + nibble per channel, DLE ETX and the XOR of everything
// from "C" to ETX.
bool isPlayList(const QByteArray& m, const QList<qint64>& channels) {
  const qsizetype n = channels.size();
  if (m.size() != 7 + 2 * n || !m.startsWith("\x10\x02\x43")) return false;
  const char count = n <= 15 ? char('0' + n) : n <= 30 ? char('@' + n - 16) : 'O';
  if (m[3] != count) return false;
  for (qsizetype i = 0; i < n; ++i) {
    const auto c = quint8(channels[i]);
    if (m[4 + 2 * i] != char(0x30 + (c >> 4)) || m[5 + 2 * i] != char(0x30 + (c & 0x0F))) return false;
  }
  if (m.mid(4 + 2 * n, 2) != QByteArray("\x10\x03")) return false;
  return quint8(m.back()) == xorOf(m.mid(2, m.size() - 3));
}

class Run : public Driver<Run, Mode5Session> {
 public:
  void send(Input& in) {
    EntryRules rules;
    rules.unit = false;
    const std::optional<Entries> entries = checked(readEntries(in, 40), rules);
    if (!entries) return;
    const QList<qint64> channels = channelNumbers(entries->boxes, entries->manual, Mode5Session::kAutoChannels);
    for (const qint64 c : channels) FUZZ_REQUIRE(c >= 1 && c <= 255);
    action([&] { session_.Send(channels); });
    FUZZ_REQUIRE(writable_ ? isPlayList(link_.written, channels) : link_.written.isEmpty());
    FUZZ_REQUIRE(session_.ChannelList == std::vector<qint64>(channels.begin(), channels.end()));
  }

  void fixed(void (Mode5Session::*button)(), const QByteArray& expected) {
    action([&] { (session_.*button)(); });
    FUZZ_REQUIRE(link_.written == (writable_ ? expected : QByteArray()));
  }

  void endAnswer(Input& in) {
    action([&] { session_.EndAnswer = qint16(in.byte() % 3); });
    FUZZ_REQUIRE(link_.written.isEmpty());
  }

 private:
  friend Driver;

  QByteArray held() const { return partialOf(session_); }

  void onComm(int event) {
    link_.beginStep();
    writable_ = link_.open && !link_.failWrites;
    const QByteArray before = partialOf(session_);
    session_.OnComm(event);
    checkState();
    const QByteArray& partial = partialOf(session_);
    const QByteArray seen = before + link_.taken;
    if (event == LinkPort::kEventReceive) FUZZ_REQUIRE(link_.incoming.isEmpty());
    if (link_.taken.isEmpty()) FUZZ_REQUIRE(partial == before);
    // Kept: the tail of what came in, cut before it could be told apart.
    FUZZ_REQUIRE(seen.endsWith(partial));

    // Nothing goes out but the reply to an end report, as the option says.
    const QByteArray& out = link_.written;
    const QByteArray reply = session_.EndAnswer == Mode5Session::EndAck   ? kDleAck
                             : session_.EndAnswer == Mode5Session::EndNak ? kDleNak
                                                                          : QByteArray();
    FUZZ_REQUIRE(out.isEmpty() || out == reply);
    if (!out.isEmpty()) FUZZ_REQUIRE(seen.contains(kEndReport));
    // A report at the very front of the data is never missed.
    if (seen.startsWith(kEndReport) && writable_) FUZZ_REQUIRE(out == reply);
  }

  void checkState() const {
    const QByteArray& partial = partialOf(session_);
    FUZZ_REQUIRE(partial.size() < 3);
    FUZZ_REQUIRE(partial.isEmpty() || partial.front() == '\x10');
    FUZZ_REQUIRE(session_.EndAnswer >= Mode5Session::EndAck && session_.EndAnswer <= Mode5Session::EndSilent);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  Run run;
  drive(in, run, 6, [&](int action) {
    switch (action) {
      case 0: run.send(in); break;
      case 1: run.fixed(&Mode5Session::SendStop, dleMessage("D")); break;
      case 2: run.fixed(&Mode5Session::SendAck, kDleAck); break;
      case 3: run.fixed(&Mode5Session::SendNak, kDleNak); break;
      case 4: run.endAnswer(in); break;
      default: run.port(in); break;
    }
  });
  return 0;
}
