// Stand-in for the USB driver library: the driver's entry points over board
// models described in the file named by FTSIM_CONFIG.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "board.h"
#include "d2xx.h"

#ifdef _WIN32
#define FT_EXPORT extern "C" __declspec(dllexport)
#else
#define FT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using kestrel::sim::Board;
using kestrel::sim::BoardConfig;

using Clock = std::chrono::steady_clock;

struct Device {
  explicit Device(BoardConfig config) : board(std::move(config)) {}
  std::mutex lock;
  std::condition_variable replies;
  Board board;
  bool open = false;
  std::uint32_t read_timeout_ms = 0;  // 0: the driver's default, wait without end
  unsigned latency_ms = 16;           // the chip's latency timer; 16 until the host sets it
  std::string calls;                  // control calls, for tests of their order
  unsigned reads = 0;                 // FT_Read calls running now
  std::uint64_t purges = 0;           // receive purges so far: each ends a waiting read

  // Fault for tests: replies reach the host this long after the write that
  // made them; negative: never.
  std::chrono::milliseconds reply_delay{0};
  // The last bytes of the model's replies, still on their way: batches in
  // order, each with the moment it arrives.
  std::deque<std::pair<Clock::time_point, std::size_t>> in_flight;

  void note(const std::string& call) { calls += call + ";"; }

  // The link model of the board's configuration: off, bytes move at memory speed.
  bool link_modelled() const { return board.config().link_bytes_per_second != 0; }
  // How long one transfer of `bytes` keeps the link busy.
  Clock::duration on_link(std::size_t bytes) const {
    const BoardConfig& c = board.config();
    return std::chrono::microseconds(c.link_transfer_us) +
           std::chrono::nanoseconds(std::uint64_t{bytes} * 1000000000u / c.link_bytes_per_second);
  }

  // Reply bytes the host can read now.
  std::size_t arrived() {
    const auto now = Clock::now();
    while (!in_flight.empty() && in_flight.front().first <= now) in_flight.pop_front();
    std::size_t coming = 0;
    for (const auto& batch : in_flight) coming += batch.second;
    return board.reply_waiting() - coming;
  }

  // Drops what has arrived; what is still on its way comes later.
  void drop_arrived() {
    std::vector<std::uint8_t> sink(arrived());
    board.take_reply(sink.data(), sink.size());
  }

  void drop_all() {
    board.drop_replies();
    in_flight.clear();
  }
};

// Handles carry the configuration's generation, so a handle from before a
// reconfiguration is refused rather than reaching another board.
struct Registry {
  std::mutex lock;
  std::vector<std::shared_ptr<Device>> devices;
  std::uint32_t list_status = FT_OK;
  std::optional<std::uint64_t> writes_before_unplug;
  std::uint64_t writes = 0;  // FT_Write calls since the configuration
  std::uintptr_t generation = 1;
};

bool load(Registry& r, const char* path) {
  kestrel::sim::SimConfig config;
  if (path && *path) {
    std::ifstream in(path);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    auto parsed = kestrel::sim::parse_config(text.str());
    if (!parsed) return false;
    config = std::move(*parsed);
  }
  std::lock_guard guard(r.lock);
  r.devices.clear();
  r.list_status = config.list_status;
  r.writes_before_unplug = config.writes_before_unplug;
  r.writes = 0;
  for (auto& b : config.boards) r.devices.push_back(std::make_shared<Device>(std::move(b)));
  ++r.generation;
  return true;
}

Registry& registry() {
  // Never destroyed: a library that loaded us may still close handles while the process ends.
  static Registry* r = [] {
    auto* created = new Registry;
    const char* path = std::getenv("FTSIM_CONFIG");
    // Without its boards the stand-in lists none: say which file failed.
    if (!load(*created, path))
      std::fprintf(stderr, "ftd2xx stand-in: FTSIM_CONFIG %s could not be read or parsed; no boards\n", path);
    return created;
  }();
  return *r;
}

FT_HANDLE make_handle(std::uintptr_t generation, std::size_t index) {
  return reinterpret_cast<FT_HANDLE>(generation << 16 | (index + 1));
}

std::shared_ptr<Device> device_of(FT_HANDLE handle) {
  Registry& r = registry();
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  std::lock_guard guard(r.lock);
  const std::size_t index = (value & 0xFFFF) - 1;
  if (value >> 16 != r.generation || index >= r.devices.size()) return nullptr;
  return r.devices[index];
}

template <typename F>
FT_STATUS with_device(FT_HANDLE handle, F&& f) {
  auto device = device_of(handle);
  if (!device) return FT_INVALID_HANDLE;
  std::unique_lock guard(device->lock);
  if (!device->open) return FT_INVALID_HANDLE;
  return f(*device, guard);
}

void copy_text(char* out, std::size_t size, const std::string& text) {
  if (!out) return;
  std::strncpy(out, text.c_str(), size - 1);
  out[size - 1] = '\0';
}

}  // namespace

FT_EXPORT FT_STATUS FT_CALL FT_ListDevices(void* arg1, void*, std::uint32_t flags) {
  if (flags != FT_LIST_NUMBER_ONLY || !arg1) return FT_INVALID_PARAMETER;
  Registry& r = registry();
  std::lock_guard guard(r.lock);
  if (r.list_status != FT_OK) return r.list_status;
  *static_cast<std::uint32_t*>(arg1) = static_cast<std::uint32_t>(r.devices.size());
  return FT_OK;
}

FT_EXPORT FT_STATUS FT_CALL FT_Open(int index, FT_HANDLE* handle) {
  if (!handle) return FT_INVALID_PARAMETER;
  Registry& r = registry();
  std::lock_guard guard(r.lock);
  if (index < 0 || static_cast<std::size_t>(index) >= r.devices.size()) return FT_DEVICE_NOT_FOUND;
  Device& d = *r.devices[static_cast<std::size_t>(index)];
  std::lock_guard device_guard(d.lock);
  if (d.open || d.board.config().held) return FT_DEVICE_NOT_OPENED;
  d.open = true;
  d.read_timeout_ms = 0;
  d.note("Open");
  *handle = make_handle(r.generation, static_cast<std::size_t>(index));
  return FT_OK;
}

FT_EXPORT FT_STATUS FT_CALL FT_Close(FT_HANDLE handle) {
  return with_device(handle, [](Device& d, auto&) {
    d.open = false;
    d.drop_all();
    // The real driver frees the handle a running read still uses.
    d.note(d.reads ? "Close(under a read)" : "Close");
    return FT_OK;
  });
}

FT_EXPORT FT_STATUS FT_CALL FT_ResetDevice(FT_HANDLE handle) {
  return with_device(handle, [](Device& d, auto&) {
    d.note("ResetDevice");
    return FT_OK;
  });
}

FT_EXPORT FT_STATUS FT_CALL FT_SetLatencyTimer(FT_HANDLE handle, unsigned char ms) {
  return with_device(handle, [&](Device& d, auto&) {
    d.note("SetLatencyTimer(" + std::to_string(ms) + ")");
    if (ms < 2) return FT_INVALID_PARAMETER;
    d.latency_ms = ms;
    return FT_OK;
  });
}

FT_EXPORT FT_STATUS FT_CALL FT_SetTimeouts(FT_HANDLE handle, std::uint32_t read_ms, std::uint32_t write_ms) {
  return with_device(handle, [&](Device& d, auto&) {
    d.note("SetTimeouts(" + std::to_string(read_ms) + "," + std::to_string(write_ms) + ")");
    d.read_timeout_ms = read_ms;
    return FT_OK;
  });
}

FT_EXPORT FT_STATUS FT_CALL FT_EE_Read(FT_HANDLE handle, FT_PROGRAM_DATA* data) {
  if (!data || data->Signature1 != 0 || data->Signature2 != 0xFFFFFFFF) return FT_INVALID_PARAMETER;
  return with_device(handle, [&](Device& d, auto&) {
    const BoardConfig& c = d.board.config();
    if (!c.eeprom_readable) return FT_EEPROM_READ_FAILED;
    data->VendorId = c.vendor_id;
    data->ProductId = c.product_id;
    copy_text(data->Manufacturer, 32, "Kestrel");
    copy_text(data->ManufacturerId, 16, "KS");
    copy_text(data->Description, 64, c.description);
    copy_text(data->SerialNumber, 16, c.serial);
    data->MaxPower = 100;
    return FT_OK;
  });
}

FT_EXPORT FT_STATUS FT_CALL FT_EE_UASize(FT_HANDLE handle, std::uint32_t* size) {
  if (!size) return FT_INVALID_PARAMETER;
  return with_device(handle, [&](Device& d, auto&) {
    *size = static_cast<std::uint32_t>(d.board.config().user_area.size());
    return FT_OK;
  });
}

FT_EXPORT FT_STATUS FT_CALL FT_EE_UARead(FT_HANDLE handle, unsigned char* data, std::uint32_t length,
                                         std::uint32_t* read) {
  if (!data || !read) return FT_INVALID_PARAMETER;
  return with_device(handle, [&](Device& d, auto&) {
    const auto& area = d.board.config().user_area;
    if (length > area.size()) return FT_INVALID_PARAMETER;
    std::copy_n(area.begin(), length, data);
    *read = length;
    return FT_OK;
  });
}

namespace {
// The driver's fault knob: the board unplugged after so many writes.
bool unplugged() {
  Registry& r = registry();
  std::lock_guard guard(r.lock);
  return r.writes_before_unplug && r.writes++ >= *r.writes_before_unplug;
}
}  // namespace

FT_EXPORT FT_STATUS FT_CALL FT_Write(FT_HANDLE handle, void* data, std::uint32_t length, std::uint32_t* written) {
  if (!data || !written) return FT_INVALID_PARAMETER;
  if (unplugged()) {
    *written = 0;
    return FT_IO_ERROR;
  }
  Clock::time_point sent{};
  const FT_STATUS status = with_device(handle, [&](Device& d, auto&) {
    const std::size_t before = d.board.reply_waiting();
    d.board.receive(static_cast<const std::uint8_t*>(data), length);
    const std::size_t made = d.board.reply_waiting() - before;
    const auto now = Clock::now();
    if (d.link_modelled()) sent = now + d.on_link(length);
    if (d.reply_delay.count() < 0)
      d.drop_all();
    else if (made > 0 && d.reply_delay.count() > 0)
      d.in_flight.emplace_back(now + d.reply_delay, made);
    else if (made > 0 && d.link_modelled())
      // The chip holds a short packet until its latency timer runs out; the
      // host then collects it in a transfer of its own.
      d.in_flight.emplace_back(sent + std::chrono::milliseconds(d.latency_ms) + d.on_link(made), made);
    *written = length;
    d.replies.notify_all();
    return FT_OK;
  });
  // The call returns once its bytes have crossed the link; other calls on the
  // device need not wait for that.
  if (status == FT_OK && sent != Clock::time_point{}) std::this_thread::sleep_until(sent);
  return status;
}

FT_EXPORT FT_STATUS FT_CALL FT_Read(FT_HANDLE handle, void* data, std::uint32_t length, std::uint32_t* read) {
  if (!data || !read) return FT_INVALID_PARAMETER;
  return with_device(handle, [&](Device& d, std::unique_lock<std::mutex>& guard) {
    // Ends with what has arrived at the time-out, or at once when the receive
    // side is purged meanwhile (as the driver's receive abort does).
    const auto deadline = Clock::now() + std::chrono::milliseconds(d.read_timeout_ms);
    const std::uint64_t purges = d.purges;
    ++d.reads;
    while (d.arrived() < length && d.purges == purges) {
      const bool bounded = d.read_timeout_ms != 0;
      if (bounded && Clock::now() >= deadline) break;
      if (!d.in_flight.empty())
        d.replies.wait_until(guard, bounded ? std::min(deadline, d.in_flight.front().first) : d.in_flight.front().first);
      else if (bounded)
        d.replies.wait_until(guard, deadline);
      else
        d.replies.wait(guard);
    }
    --d.reads;
    const std::size_t n = std::min<std::size_t>(length, d.arrived());
    *read = static_cast<std::uint32_t>(d.board.take_reply(static_cast<std::uint8_t*>(data), n));
    return FT_OK;
  });
}

FT_EXPORT FT_STATUS FT_CALL FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* count) {
  if (!count) return FT_INVALID_PARAMETER;
  return with_device(handle, [&](Device& d, auto&) {
    *count = static_cast<std::uint32_t>(d.arrived());
    return FT_OK;
  });
}

#ifndef FTSIM_WITHOUT_PURGE
FT_EXPORT FT_STATUS FT_CALL FT_Purge(FT_HANDLE handle, std::uint32_t mask) {
  return with_device(handle, [&](Device& d, auto&) {
    d.note("Purge(" + std::to_string(mask) + ")");
    if (mask & FT_PURGE_RX) {
      d.drop_arrived();
      ++d.purges;
      d.replies.notify_all();
    }
    return FT_OK;
  });
}
#endif

// Test hooks, outside the driver's API.

// Replaces every board with those of the config file at path (FTSIM_CONFIG when null).
FT_EXPORT int ftsim_configure(const char* path) {
  Registry& r = registry();
  if (!load(r, path ? path : std::getenv("FTSIM_CONFIG"))) return -1;
  std::lock_guard guard(r.lock);
  return static_cast<int>(r.devices.size());
}

// The model behind device index; valid until the next reconfiguration. Callers
// touch it only while no driver call on that device is running.
FT_EXPORT void* ftsim_board(int index) {
  Registry& r = registry();
  std::lock_guard guard(r.lock);
  if (index < 0 || static_cast<std::size_t>(index) >= r.devices.size()) return nullptr;
  return &r.devices[static_cast<std::size_t>(index)]->board;
}

// Fault for tests: the replies of device index reach the host ms after the
// write that made them; negative: never. 0 on success, -1 for no such device.
FT_EXPORT int ftsim_delay_replies(int index, int ms) {
  Registry& r = registry();
  std::lock_guard guard(r.lock);
  if (index < 0 || static_cast<std::size_t>(index) >= r.devices.size()) return -1;
  Device& d = *r.devices[static_cast<std::size_t>(index)];
  std::lock_guard device_guard(d.lock);
  d.reply_delay = std::chrono::milliseconds(ms);
  return 0;
}

// The number of FT_Read calls waiting on device index now; -1 for no such device.
FT_EXPORT int ftsim_reads_running(int index) {
  Registry& r = registry();
  std::lock_guard guard(r.lock);
  if (index < 0 || static_cast<std::size_t>(index) >= r.devices.size()) return -1;
  Device& d = *r.devices[static_cast<std::size_t>(index)];
  std::lock_guard device_guard(d.lock);
  return static_cast<int>(d.reads);
}

// The control calls made on device index since the last call of this hook,
// as "Open;SetTimeouts(5000,5000);...;" into out; returns the full length.
FT_EXPORT int ftsim_take_driver_calls(int index, char* out, int size) {
  Registry& r = registry();
  std::lock_guard guard(r.lock);
  if (index < 0 || static_cast<std::size_t>(index) >= r.devices.size() || size <= 0) return -1;
  Device& d = *r.devices[static_cast<std::size_t>(index)];
  std::lock_guard device_guard(d.lock);
  std::snprintf(out, static_cast<std::size_t>(size), "%s", d.calls.c_str());
  const int length = static_cast<int>(d.calls.size());
  d.calls.clear();
  return length;
}
