#include "unit/UnitSimulator.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace kestrel::sim {

namespace {

// How long a write may wait for a tester that does not read.
constexpr int writeTimeoutMs = 1000;
// Back-off when the master reports an error, so a dead line costs no CPU.
constexpr auto errorBackoff = std::chrono::milliseconds(50);

}  // namespace

UnitSimulator::UnitSimulator(Options options)
    : options_(std::move(options)), protocol_(makeProtocol(options_.protocol, options_)) {
  if (!protocol_) throw std::invalid_argument("unknown protocol: " + options_.protocol);
}

UnitSimulator::~UnitSimulator() { stop(); }

void UnitSimulator::start() {
  if (thread_.joinable()) return;
  if (!options_.record.empty()) {
    record_ = options_.record == "-" ? stdout : std::fopen(options_.record.c_str(), "ab");
    if (record_ == nullptr) throw std::system_error(errno, std::generic_category(), "open " + options_.record);
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
  wakeRead_ = Fd(fds[0]);
  wakeWrite_ = Fd(fds[1]);
  pty_ = Pty::open();
  slavePath_ = pty_->slavePath();
  thread_ = std::thread([this] { run(); });
}

void UnitSimulator::stop() {
  if (thread_.joinable()) {
    // The byte stays in the pipe, so every later wait returns at once too.
    const char b = 0;
    [[maybe_unused]] const auto n = ::write(wakeWrite_.get(), &b, 1);
    thread_.join();
  }
  if (record_ != nullptr && record_ != stdout) std::fclose(record_);
  record_ = nullptr;
}

const std::string& UnitSimulator::slavePath() const { return slavePath_; }

Bytes UnitSimulator::received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

std::vector<Arrival> UnitSimulator::arrivals() const {
  std::lock_guard lock(mutex_);
  return arrivals_;
}

bool UnitSimulator::waitForBytes(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return arrived_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
}

void UnitSimulator::send(std::span<const std::uint8_t> bytes) {
  if (pty_) write(bytes);
}

std::vector<Notice> UnitSimulator::notices() const {
  std::lock_guard lock(mutex_);
  return notices_;
}

void UnitSimulator::run() {
  std::array<pollfd, 2> fds{{{pty_->master(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}}};
  std::array<std::uint8_t, 4096> buffer{};
  for (;;) {
    int timeout = -1;
    if (!playing_.empty()) {
      const auto left = playing_.front().end - std::chrono::steady_clock::now();
      const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
      timeout = static_cast<int>(std::clamp<std::int64_t>(ms, 0, std::numeric_limits<int>::max()));
    }
    if (::poll(fds.data(), fds.size(), timeout) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    finishPlayed();
    if (fds[0].revents == 0) continue;
    const ssize_t n = ::read(pty_->master(), buffer.data(), buffer.size());
    if (n > 0) {
      take({buffer.data(), static_cast<std::size_t>(n)});
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      if (!pause(errorBackoff)) return;
    }
  }
}

void UnitSimulator::take(std::span<const std::uint8_t> bytes) {
  const auto now = std::chrono::steady_clock::now();
  // The file first, so whoever waitForBytes() wakes finds it written.
  if (record_ != nullptr && record_ != stdout) {
    std::fwrite(bytes.data(), 1, bytes.size(), record_);
    std::fflush(record_);
  }
  {
    std::lock_guard lock(mutex_);
    received_.insert(received_.end(), bytes.begin(), bytes.end());
    arrivals_.push_back({now, Bytes(bytes.begin(), bytes.end())});
  }
  arrived_.notify_all();
  for (const Item& item : protocol_->feed(bytes)) answer(item);
}

// With a unit busy while it plays, the play time is waited out here, on the
// reading thread, like the answer delay: what the tester sends meanwhile waits
// in the terminal and is answered afterwards, in order. Other units play in
// the background: the reading loop sends what follows once the time is up,
// and keeps answering meanwhile. stop() cuts either wait short.
void UnitSimulator::answer(const Item& item) {
  finishPlayed();
  const std::string note = item.kind == ItemKind::Answer ? acknowledge(item) : item.note;
  std::vector<Bytes> reply = item.reply;
  std::optional<std::vector<Bytes>> after = item.afterPlaying;
  // A unit that never answers has no refusal to give either.
  if (item.kind == ItemKind::Frame && options_.nakEvery != 0 && !protocol_->refusal().empty() &&
      ++frames_ % options_.nakEvery == 0) {
    reply = {protocol_->refusal()};
    after.reset();  // a refused frame is not played
  }
  if (item.whilePlaying && !playing_.empty()) reply = {*item.whilePlaying};
  if (item.kind == ItemKind::Stop) playing_.clear();
  if (options_.silent) {
    reply.clear();
    after.reset();
  }
  // Nothing to play for: what follows playing goes with the answer, as a real
  // unit may send it.
  const bool together = after && options_.playTime.count() <= 0;

  std::optional<Bytes> sent, sentLater;
  Bytes out = outgoing(reply, false);
  if (together) {
    const Bytes more = outgoing(*after, true);
    out.insert(out.end(), more.begin(), more.end());
  }
  if (!out.empty()) {
    if (!pause(options_.answerDelay) || !transmit(out)) return;
    sent = std::move(out);
  }
  if (after && !together) {
    if (protocol_->busyWhilePlaying()) {
      if (!pause(options_.playTime)) return;
      Bytes later = outgoing(*after, true);
      if (!transmit(later)) return;
      sentLater = std::move(later);
    } else {
      const auto now = std::chrono::steady_clock::now();
      const auto from = playing_.empty() ? now : std::max(now, playing_.back().end);
      playing_.push_back({from + options_.playTime, std::move(*after), item.note});
    }
  }
  if (record_ == stdout) {
    Item shown = item;
    shown.note = note;
    std::fprintf(stdout, "%s\n", describe(shown, sent, sentLater).c_str());
    std::fflush(stdout);
  }
}

// Keeps the tester's answer with the latest notice; the note for the record.
std::string UnitSimulator::acknowledge(const Item& answer) {
  std::lock_guard lock(mutex_);
  if (notices_.empty() || notices_.back().answer) return answer.note + " unasked";
  notices_.back().answer = answer.bytes;
  return "end acknowledged " + answer.note;
}

// Sends what follows the channels that have played by now, in order.
void UnitSimulator::finishPlayed() {
  while (!playing_.empty() && playing_.front().end <= std::chrono::steady_clock::now()) {
    const Playback done = std::move(playing_.front());
    playing_.pop_front();
    const Bytes out = outgoing(done.then, true);
    if (!transmit(out)) return;
    if (record_ == stdout) {
      std::string line = "played " + done.note;
      if (!out.empty()) line += " -> " + hex(out);
      std::fprintf(stdout, "%s\n", line.c_str());
      std::fflush(stdout);
    }
  }
}

// The bytes that carry `messages`, each an answer for the stray bytes and
// open to a spoiled check byte. Those sent once played become notices.
Bytes UnitSimulator::outgoing(const std::vector<Bytes>& messages, bool played) {
  Bytes out;
  for (Bytes message : messages) {
    if (options_.badCheckEvery != 0 && protocol_->checked(message) && ++checks_ % options_.badCheckEvery == 0)
      message.back() ^= 0xFF;
    const Bytes wire = withStray(message);
    out.insert(out.end(), wire.begin(), wire.end());
    if (played) {
      std::lock_guard lock(mutex_);
      notices_.push_back({std::move(message), std::nullopt});
    }
  }
  return out;
}

Bytes UnitSimulator::withStray(const Bytes& message) {
  ++answers_;
  Bytes out;
  const auto& stray = options_.strayBytes;
  if (options_.strayEvery != 0 && answers_ % options_.strayEvery == 0)
    out.insert(out.end(), stray.begin(), stray.end());
  out.insert(out.end(), message.begin(), message.end());
  if (options_.strayOnce && answers_ == 1) out.insert(out.end(), stray.begin(), stray.end());
  return out;
}

// False when stop() was asked for meanwhile.
bool UnitSimulator::pause(std::chrono::milliseconds duration) {
  if (duration.count() <= 0) return true;
  pollfd wake{wakeRead_.get(), POLLIN, 0};
  const int n = ::poll(&wake, 1, static_cast<int>(duration.count()));
  return n == 0 || (n < 0 && errno == EINTR);
}

// One write, or one per byte with the gap between; false when stop() was
// asked for meanwhile.
bool UnitSimulator::transmit(std::span<const std::uint8_t> bytes) {
  if (options_.byteGap.count() <= 0) {
    write(bytes);
    return true;
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && !pause(options_.byteGap)) return false;
    write(bytes.subspan(i, 1));
  }
  return true;
}

void UnitSimulator::write(std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(writeMutex_);
  const int master = pty_->master();
  while (!bytes.empty()) {
    const ssize_t n = ::write(master, bytes.data(), bytes.size());
    if (n > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return;
    // The tester is not reading; wait a while, then drop the rest.
    std::array<pollfd, 2> fds{{{master, POLLOUT, 0}, {wakeRead_.get(), POLLIN, 0}}};
    if (::poll(fds.data(), fds.size(), writeTimeoutMs) <= 0 || fds[1].revents != 0) return;
  }
}

}  // namespace kestrel::sim
