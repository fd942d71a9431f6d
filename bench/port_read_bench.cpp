// CVX_PortRead8 through the library and the driver stand-in, against the same
// command run on the board model directly. The ratio is the time per call
// through the library over the time per call on the model.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "BenchSupport.h"
#include "board.h"
#include "corvex.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCalls = 200000;
const int kRounds = bench::short_run() ? 1 : 3;
constexpr std::uint32_t kAddress = 0xFFFFD0;

template <typename F>
double best_calls_per_second(F&& call) {
  double best = 0;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = Clock::now();
    for (int i = 0; i < kCalls; ++i)
      if (!call()) return 0;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    best = std::max(best, kCalls / seconds);
  }
  return best;
}

}  // namespace

int main(int, char** argv) {
  if (!bench::with_driver_stand_in(argv)) return 1;
  const CVX_HANDLE h = bench::open_stand_in_board("BENCH001");
  if (!h) return 1;
  std::uint8_t value = 0;
  const double library = best_calls_per_second([&] { return CVX_PortRead8(h, kAddress, &value) == CVX_OK; });
  CVX_Close(h);

  kestrel::sim::Board board;
  const kestrel::sim::Bytes request{0x03, 0x00, 0xFF, 0xFF, 0xD0};
  const double model = best_calls_per_second([&] {
    board.receive(request);
    return board.take_reply(&value, 1) == 1;
  });
  if (library <= 0 || model <= 0) {
    std::fprintf(stderr, "a call failed\n");
    return 1;
  }
  std::printf("CVX_PortRead8 through the library: %.0f calls/s\n", library);
  std::printf("same command on the board model:  %.0f calls/s\n", model);
  std::printf("ratio: %.2f\n", model / library);
  return 0;
}
