// CVX_PortRead8 over the LAN through the library, against the same bytes
// written and read on a plain blocking socket, both to one simulated board on
// 127.0.0.1. The two take short turns, round by round, so machine noise falls
// on both. Rates are medians over the rounds; the ratio is the median of each
// round's library rate over the plain socket's rate in the same round.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "corvex.h"
#include "lan_board.h"
#include "raw_lan_link.h"

namespace sim = kestrel::sim;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCalls = 5000;  // per turn
const int kRounds = bench::short_run() ? 2 : 25;
constexpr std::uint32_t kAddress = 0xFFFFD0;
constexpr std::size_t kReply = 1;

template <typename F>
double calls_per_second(F&& call) {
  const auto start = Clock::now();
  for (int i = 0; i < kCalls; ++i)
    if (!call()) return 0;
  return kCalls / std::chrono::duration<double>(Clock::now() - start).count();
}

// The board serves one connection at a time: each turn opens its own.
double library_turn() {
  CVX_HANDLE h = 0;
  if (CVX_OpenA(&h, "127.0.0.1", CVX_IF_LAN) != CVX_OK) return 0;
  std::uint8_t value = 0;
  const double rate = calls_per_second([&] { return CVX_PortRead8(h, kAddress, &value) == CVX_OK; });
  CVX_Close(h);
  return rate;
}

double raw_turn(std::uint16_t port, const sim::Digest& digest, const sim::Bytes& request, std::uint32_t piece) {
  bench::RawLanLink link(port, digest);
  if (!link.ok()) return 0;
  std::uint8_t reply[kReply];
  return calls_per_second(
      [&] { return link.send(request.data(), request.size(), piece) && link.receive(reply, kReply); });
}

}  // namespace

int main() {
  bench::SimulatedLanBoard lan;
  sim::LanServer& server = lan.server;
  const std::uint16_t port = lan.port;
  const sim::Digest& digest = lan.digest;
  const std::uint32_t piece = lan.piece;

  // The command exactly as the library sent it, as the board model ran it.
  CVX_HANDLE h = 0;
  std::uint8_t value = 0;
  if (CVX_OpenA(&h, "127.0.0.1", CVX_IF_LAN) != CVX_OK || CVX_PortRead8(h, kAddress, &value) != CVX_OK) {
    std::fprintf(stderr, "the library could not read from the simulated LAN board\n");
    return 1;
  }
  CVX_Close(h);
  const sim::Bytes request = server.with_board(0, [](sim::Board& b) { return b.executed().back().bytes; });

  bench::Paired rates;
  const bool ran = bench::alternate(
      kRounds,
      [&] {
        server.with_board(0, [](sim::Board& b) { b.clear_executed(); });
        return library_turn();
      },
      [&] { return raw_turn(port, digest, request, piece); }, rates);
  if (!ran) {
    std::fprintf(stderr, "a call failed\n");
    return 1;
  }
  std::printf("CVX_PortRead8 through the library over the LAN: %.0f calls/s\n", bench::median(rates.measured));
  std::printf("same bytes on a plain blocking socket:          %.0f calls/s\n", bench::median(rates.baseline));
  std::printf("ratio: %.2f\n", bench::median(rates.ratios));
  return 0;
}
