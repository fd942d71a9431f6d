// The strobe width a binary unit sees, as the windows make it: the line code
// with its real waits, Wexford and Corvex, over USB (the driver stand-in) and
// over the LAN (a simulated board on 127.0.0.1). A whole TARN-2G1-M run of
// channels 1..N (N = the first argument, 200 by default) at T = 50 ms on each;
// the unit times every strobe from the model's time stamps of its two writes.
// Prints the scheduling the timed line sequences got and the LAN board's
// thread got, then p50, p99 and max of |width - T| per link, and where the
// strobes more than 0.5 ms off lost their time; the last line is the worse p99.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <unistd.h>

#include "BenchSupport.h"
#include "sessions/BinaryLines.h"
#include "board.h"
#include "corvex.h"
#include "lan_board.h"
#include "core/Pause.h"
#include "core/TimedThread.h"
#include "wexford.h"

namespace {

namespace sim = kestrel::sim;
using kestrel::WxfHandle;
constexpr int kWidthMs = 50;

using Clock = std::chrono::steady_clock;

// When each port write was called and when it returned, on the runner that made it.
struct WriteTimes {
  std::uint32_t port;
  std::uint8_t data, mask;
  Clock::time_point called, returned;
};

// Wexford as the windows call it, on a board opened beforehand.
class OpenedBoard : public kestrel::WexfordApi {
 public:
  OpenedBoard(WxfHandle handle, std::vector<WriteTimes>& writes) : handle_(handle), writes_(writes) {}
  std::int32_t WXF_Open(WxfHandle* handle, std::int32_t, std::uint32_t) override {
    *handle = handle_;
    return 0;
  }
  std::int32_t WXF_Initialize(WxfHandle h) override { return std::int32_t(::WXF_Initialize(h)); }
  std::int32_t WXF_PortWrite(WxfHandle h, std::uint32_t port, std::uint8_t data, std::uint8_t mask) override {
    const Clock::time_point called = Clock::now();
    const auto status = std::int32_t(::WXF_PortWrite(h, port, data, mask));
    if (writes_.size() < writes_.capacity()) writes_.push_back({port, data, mask, called, Clock::now()});
    return status;
  }
  std::int32_t WXF_PortRead(WxfHandle h, std::uint32_t port, std::uint8_t* value) override {
    return std::int32_t(::WXF_PortRead(h, port, value));
  }
  std::int32_t WXF_Close(WxfHandle h) override { return std::int32_t(::WXF_Close(h)); }

 private:
  WxfHandle handle_;
  std::vector<WriteTimes>& writes_;
};

// Sends channels 1..count; false when the board cannot be initialised or a call on it fails.
bool run(CVX_HANDLE handle, int count, std::vector<WriteTimes>& writes) {
  writes.clear();
  writes.reserve(std::size_t(count) * 4 + 8);  // nothing allocated in the timed path
  OpenedBoard board(handle, writes);
  kestrel::BinaryLines lines(board, kestrel::realPause());
  if (!lines.open().ok() || ::WXF_Initialize(handle) != 0) return false;
  for (int n = 1; n <= count; ++n)
    if (!lines.sendTenBits(n, false, kWidthMs).ok()) return false;
  bool busy = false;  // every write has reached the board
  const bool reached = lines.readBusy(busy).ok();
  return lines.close().ok() && reached;
}

// |width - T| in ms of every strobe the unit timed, sorted.
std::vector<double> deviations(const sim::BinaryUnit& unit) {
  std::vector<double> out;
  for (const sim::BinaryChannel& c : unit.channels())
    for (const auto width : c.strobe_widths)
      out.push_back(std::abs(std::chrono::duration<double, std::milli>(width).count() - kWidthMs));
  std::sort(out.begin(), out.end());
  return out;
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Where the late strobes' time went: the unit's width against the gap
// between the two writes' calls, split into the first write's own time and
// the wait after it. A strobe is late when it is off by more than `late` ms.
void lateness(const char* link, const sim::BinaryUnit& unit, const std::vector<WriteTimes>& writes, double late) {
  std::vector<std::pair<const WriteTimes*, const WriteTimes*>> pulses;  // strobe line down, then up
  for (std::size_t i = 0; i + 1 < writes.size(); ++i)
    if (writes[i].mask == kestrel::BinaryLines::kStrobe && writes[i].data == 0 &&
        writes[i + 1].mask == kestrel::BinaryLines::kStrobe)
      pulses.emplace_back(&writes[i], &writes[i + 1]);
  std::vector<Clock::duration> widths;
  for (const sim::BinaryChannel& c : unit.channels())
    widths.insert(widths.end(), c.strobe_widths.begin(), c.strobe_widths.end());
  if (widths.size() != pulses.size()) {
    std::printf("%s: %zu strobes timed, %zu written: no breakdown\n", link, widths.size(), pulses.size());
    return;
  }
  int shown = 0, count = 0;
  double inFirst = 0, inWait = 0, inArrival = 0;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    const double width = ms(widths[i]);
    if (std::abs(width - kWidthMs) <= late) continue;
    const auto [down, up] = pulses[i];
    const double first = ms(down->returned - down->called), wait = ms(up->called - down->returned) - kWidthMs;
    const double arrival = width - ms(up->called - down->called);  // the second write's delay less the first's
    ++count;
    inFirst += first;
    inWait += wait;
    inArrival += arrival;
    if (shown++ < 8)
      std::printf("%s: late strobe %zu: width %.3f ms = first write %.3f + wait %+.3f + arrivals %+.3f + T\n", link, i,
                  width, first, wait, arrival);
  }
  std::printf(
      "%s: %d strobes off by more than %.1f ms; in all, first writes %.3f ms, waits %+.3f ms, arrivals %+.3f ms\n",
      link, count, late, inFirst, inWait, inArrival);
}

double percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  return sorted[std::min(sorted.size() - 1, std::size_t(p * double(sorted.size())))];
}

double report(const char* link, const std::vector<double>& d, int count) {
  if (d.size() != std::size_t(count)) std::printf("%s: %zu strobes timed of %d sent\n", link, d.size(), count);
  const double p99 = percentile(d, 0.99);
  std::printf("%s: %zu strobes, |width - %d ms| p50 %.3f ms, p99 %.3f ms, max %.3f ms\n", link, d.size(), kWidthMs,
              percentile(d, 0.5), p99, d.empty() ? 0.0 : d.back());
  return p99;
}

sim::BoardConfig expansionBoard(const char* product) {
  sim::BoardConfig c;
  c.serial = "EXP00001";
  c.product = sim::ProductRecord{*sim::parse_uuid(product), 1};
  c.version_word = 0x00030201;
  c.binary_unit = sim::BinaryUnitConfig{sim::BinaryProtocol::B, false, std::chrono::milliseconds(0)};
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (!bench::with_driver_stand_in(argv)) return 1;
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;

  const fs::path config = fs::temp_directory_path() / ("kestrel-strobe-bench-" + std::to_string(::getpid()) + ".ini");
  std::ofstream(config) << "[board]\nserial = EXP00001\nproduct = 3aa4096d-2cc0-46dd-878a-88511d75ac78 1\n"
                           "version_word = 0x00030201\nbinary_unit = B\nbinary_logic = negative\nbinary_play_ms = 0\n";
  void* driver = ::dlopen(std::getenv("CORVEX_FTD2XX"), RTLD_NOW);
  auto* configure = driver ? reinterpret_cast<int (*)(const char*)>(::dlsym(driver, "ftsim_configure")) : nullptr;
  auto* boardAt = driver ? reinterpret_cast<void* (*)(int)>(::dlsym(driver, "ftsim_board")) : nullptr;
  const bool configured = configure && boardAt && configure(config.c_str()) == 1;
  fs::remove(config);
  if (!configured) {
    std::fprintf(stderr, "no driver stand-in with a simulated board: is it built?\n");
    return 1;
  }
  // Started before the first strobe, as a window starts it as it loads.
  const kestrel::TimedThread& timed = *kestrel::realPause().timedThread();
  std::printf("scheduling: %s; %s\n", timed.scheduling().c_str(),
              timed.racing() ? "two runners race for each timed write" : "one runner");
  std::vector<WriteTimes> writes;
  WXF_HANDLE usb = 0;
  if (::WXF_Open(&usb, 0, WXF_TYPE_USB | WXF_TYPE_EXPANSION) != 0 || !run(usb, count, writes)) {
    std::fprintf(stderr, "the expansion board on USB did not open\n");
    return 1;
  }
  const sim::BinaryUnit& usbUnit = *static_cast<sim::Board*>(boardAt(0))->binary_unit();
  const double usbP99 = report("usb", deviations(usbUnit), count);
  lateness("usb", usbUnit, writes, 0.5);

  sim::LanBoardConfig lan;
  lan.board = expansionBoard("787c7eb3-31ac-4be1-bd0a-c07563d39179");
  // A real board stamps a line change as the command arrives; its model
  // should not wait for a core behind the host's other work.
  lan.fifo_priority = kestrel::TimedThread::kPriority + 1;
  // Port writes get no reply, so a strobe's width is the gap between its two
  // writes' arrivals; a late thread would stretch or shrink it on its own.
  lan.stamp_on_receipt = true;
  sim::LanServer server({lan});
  server.start();
  std::printf("lan board scheduling: %s\n", server.scheduling(0).c_str());
  CVX_SetNetworkPort(server.tcp_port(0));
  CVX_HANDLE onLan = 0;
  if (CVX_OpenA(&onLan, "127.0.0.1", CVX_IF_LAN) != CVX_OK || !run(onLan, count, writes)) {
    std::fprintf(stderr, "the expansion board on the LAN did not open\n");
    return 1;
  }
  const double lanP99 =
      report("lan", server.with_board(0, [](sim::Board& b) { return deviations(*b.binary_unit()); }), count);
  server.with_board(0, [&](sim::Board& b) { lateness("lan", *b.binary_unit(), writes, 0.5); });
  std::printf("p99_ms: %.3f\n", std::max(usbP99, lanP99));
  return 0;
}
