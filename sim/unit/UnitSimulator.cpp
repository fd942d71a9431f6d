#include "unit/UnitSimulator.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
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
    : options_(std::move(options)), protocol_(makeProtocol(options_.protocol)) {
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

void UnitSimulator::run() {
  std::array<pollfd, 2> fds{{{pty_->master(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}}};
  std::array<std::uint8_t, 4096> buffer{};
  for (;;) {
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
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

// A line's play time is waited out here, on the reading thread, like the
// answer delay: what the tester sends meanwhile waits in the terminal and is
// answered afterwards, in order, as by a unit busy playing. stop() cuts the
// wait short.
void UnitSimulator::answer(const Item& item) {
  std::optional<std::uint8_t> reply = item.reply;
  bool plays = item.afterPlaying.has_value();
  if (item.kind == ItemKind::Frame && options_.nakEvery != 0 && ++frames_ % options_.nakEvery == 0) {
    reply = protocol_->refusal();
    plays = false;  // a refused line is not played
  }
  if (options_.silent || !reply) {
    reply.reset();
    plays = false;
  }
  // Nothing to play for: both answers in one write, as a real unit may.
  const bool together = plays && options_.playTime.count() <= 0;

  std::optional<Bytes> sent, sentLater;
  if (reply) {
    Bytes out = withStray(*reply);
    if (together) {
      const Bytes more = withStray(*item.afterPlaying);
      out.insert(out.end(), more.begin(), more.end());
    }
    if (!pause(options_.answerDelay)) return;
    write(out);
    sent = std::move(out);
  }
  if (plays && !together && pause(options_.playTime)) {
    Bytes out = withStray(*item.afterPlaying);
    write(out);
    sentLater = std::move(out);
  }
  if (record_ == stdout) {
    std::fprintf(stdout, "%s\n", describe(item, sent, sentLater).c_str());
    std::fflush(stdout);
  }
}

// Each reply byte is an answer, the one after playing included.
Bytes UnitSimulator::withStray(std::uint8_t reply) {
  ++answers_;
  Bytes out;
  const auto& stray = options_.strayBytes;
  if (options_.strayEvery != 0 && answers_ % options_.strayEvery == 0)
    out.insert(out.end(), stray.begin(), stray.end());
  out.push_back(reply);
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
