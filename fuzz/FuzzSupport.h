#pragma once
// What the receive fuzz targets share: the input read as a script of
// arrivals and operator actions, and a port, log and pause in memory.
//
// An input is a run of records. A record byte below C0h is an arrival: its
// low five bits are the number of data bytes that follow, its top three bits
// how the arrival is announced (see Arrival). A byte from C0h up is an
// operator action; each target reads it and its arguments itself.

#include "FuzzRequire.h"
#include "core/ChannelEntry.h"
#include "core/LinkPort.h"
#include "core/SessionEvents.h"
#include "core/Pause.h"
#include "support/SessionFakes.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <utility>

namespace kestrel::fuzz {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const { return at_ >= size_; }
  // Past the end every byte reads as zero, so a cut record still runs.
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  QByteArray bytes(std::size_t count) {
    count = std::min(count, size_ - at_);
    const QByteArray out(reinterpret_cast<const char*>(data_ + at_), qsizetype(count));
    at_ += count;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// The tests' port in memory with the raw read profile: a read takes
// everything waiting.
struct Link : test::FakeLink {
  Link() { rawProfile = true; }
};

class Log : public SessionEvents {
 public:
  void AddLog(const QString& text, LineKind kind) override {
    FUZZ_REQUIRE(!text.isEmpty());
    FUZZ_REQUIRE(std::size_t(kind) < kLineKinds);
    ++lines;
  }
  long lines = 0;
};

// No time passes; the one thing a wait does is let late bytes land.
class Clock : public Pause {
 public:
  explicit Clock(Link& link) : link_(link) {}
  void sleep(int ms) override {
    FUZZ_REQUIRE(ms >= 0);
    link_.incoming += std::exchange(link_.late, {});
  }
  void doEvents() override {}

 private:
  Link& link_;
};

// The ways an arrival reaches the session.
enum class Arrival {
  Announced,  // the bytes land and the receive event follows
  Held,       // they land, the event that reads them comes later
  Split,      // half lands and is announced, half lands during the session's wait
  LineFirst,  // a modem-line event is handled before the receive event
};

inline Arrival arrivalKind(std::uint8_t record) {
  switch (record >> 5) {
    case 1: return Arrival::Held;
    case 2: return Arrival::Split;
    case 3: return Arrival::LineFirst;
    default: return Arrival::Announced;
  }
}

constexpr std::uint8_t kFirstAction = 0xC0;

// Delivers one arrival record's data to `onComm` as the port would.
template <typename OnComm>
void deliver(Link& link, std::uint8_t record, const QByteArray& data, OnComm onComm) {
  switch (arrivalKind(record)) {
    case Arrival::Announced:
      link.incoming += data;
      onComm(LinkPort::kEventReceive);
      break;
    case Arrival::Held: link.incoming += data; break;
    case Arrival::Split:
      link.incoming += data.left(data.size() / 2);
      link.late += data.mid(data.size() / 2);
      onComm(LinkPort::kEventReceive);
      // Bytes that landed after the read are announced in turn.
      link.incoming += std::exchange(link.late, {});
      if (!link.incoming.isEmpty()) onComm(LinkPort::kEventReceive);
      break;
    case Arrival::LineFirst:
      link.incoming += data;
      onComm(3 + int(record & 3));  // CTS, DSR, CD, RI
      onComm(LinkPort::kEventReceive);
      break;
  }
}

// The port's condition, as the operator's cable and the driver leave it.
inline void setPort(Link& link, Input& in) {
  const std::uint8_t how = in.byte();
  link.open = true;
  link.failWrites = false;
  link.breakAfter = 0;
  switch (how % 4) {
    case 1: link.failWrites = true; break;
    case 2: link.open = false; break;
    case 3: link.breakAfter = 1 + (how >> 2) % 6; break;
    default: break;
  }
}

// What the operator typed into the channel panel.
struct Entries {
  bool manual = false;
  QStringList boxes;
  QString unit;
};

// Up to `boxes` manual boxes, each a number the input gives, and a unit of
// at most two characters (the box's limit) from digits, sign, point,
// exponent and space.
inline Entries readEntries(Input& in, int boxes) {
  static constexpr char kUnitChars[] = "0123456789 .+-e";
  Entries e;
  const std::uint8_t head = in.byte();
  e.manual = head & 1;
  const int filled = (head >> 1) % (boxes + 1);
  for (int i = 0; i < boxes; ++i) e.boxes.append(i < filled ? QString::number(in.byte()) : QString());
  for (int i = 0; i < 2; ++i) {
    const std::uint8_t c = in.byte() % 16;
    if (c < sizeof kUnitChars - 1) e.unit += QLatin1Char(kUnitChars[c]);
  }
  return e;
}

// The entries as the window passes them on, or nothing when its check
// refuses them.
inline std::optional<Entries> checked(Entries e, const EntryRules& rules) {
  if (!checkEntries(e.boxes, e.manual, e.unit, rules).ok) return std::nullopt;
  return e;
}

// The unit as the window reads it; two characters keep it well within range.
inline int unitOf(const Entries& e) { return int(integerValue(e.unit).value_or(0)); }

inline quint8 xorOf(const QByteArray& bytes) {
  quint8 x = 0;
  for (const char c : bytes) x ^= quint8(c);
  return x;
}

// STX, the body, ETX and the check byte over body and ETX; the body comes
// back, or nothing when the bytes are not such a frame.
inline std::optional<QByteArray> stxFrameBody(const QByteArray& frame) {
  if (frame.size() < 3 || frame.front() != '\x02' || frame.at(frame.size() - 2) != '\x03') return std::nullopt;
  const QByteArray body = frame.mid(1, frame.size() - 3);
  if (body.contains('\x02') || body.contains('\x03')) return std::nullopt;
  if (quint8(frame.back()) != quint8(xorOf(body) ^ 0x03)) return std::nullopt;
  return body;
}

// The input's records in order: an arrival, or operator action number
// `act` is handed, then whatever is still waiting.
template <class Run, class Act>
void drive(Input& in, Run& run, int actions, Act act) {
  while (!in.done()) {
    const std::uint8_t record = in.byte();
    if (record < kFirstAction)
      run.arrival(record, in.bytes(record & 0x1F));
    else
      act((record - kFirstAction) % actions);
  }
  run.finish();
}

// What every target's driver shares: a fresh session among the fakes, the
// port's condition, the arrivals, and the operator's actions checked alike.
// Derived supplies onComm(event), checkState() and held(), the part of a
// message the session keeps between arrivals.
template <class Derived, class Session>
class Driver {
 public:
  void port(Input& in) {
    action([&] { setPort(link_, in); });
    FUZZ_REQUIRE(link_.written.isEmpty());
  }

  void arrival(std::uint8_t record, const QByteArray& data) {
    deliver(link_, record, data, [&](int event) { self().onComm(event); });
  }

  // Whatever is still waiting is announced before the window goes.
  void finish() {
    link_.incoming += std::exchange(link_.late, {});
    if (!link_.incoming.isEmpty()) self().onComm(LinkPort::kEventReceive);
  }

 protected:
  // The operator's buttons leave a message being received alone.
  template <typename F>
  void action(F f) {
    link_.beginStep();
    writable_ = link_.open && !link_.failWrites;
    const QByteArray held = self().held();
    f();
    FUZZ_REQUIRE(self().held() == held);
    self().checkState();
  }

  Derived& self() { return static_cast<Derived&>(*this); }

  Link link_;
  Log log_;
  Clock clock_{link_};
  Session session_{link_, log_, clock_};
  bool writable_ = true;
};

}  // namespace kestrel::fuzz
