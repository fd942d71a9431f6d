// CVX_PortBWrite of 64 KiB over the LAN through the library, against the same
// byte stream sent in the same pieces on a plain blocking socket, both to one
// simulated board on 127.0.0.1. A block write has no reply, so each turn ends
// with one port read: the time counts until the board has taken every byte.
// The two take short turns, round by round, so machine noise falls on both.
// Rates are medians over the rounds; the ratio is the median of each round's
// library rate over the plain socket's rate in the same round.
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
constexpr std::uint32_t kBlock = 64 * 1024;
constexpr int kBlocks = 128;  // per turn
const int kRounds = bench::short_run() ? 2 : 25;
// Writes to the model's flash area are ignored, so its memory map does not
// set the pace: the transfer does.
constexpr std::uint32_t kTarget = 0x010000;
constexpr std::uint32_t kFence = 0xFFFFD0;
constexpr double kMiB = 1024.0 * 1024.0;

// What the library sent for one block write and for the closing read.
struct Commands {
  sim::Bytes block, fence;
};

template <typename F>
double mib_per_second(F&& turn) {
  const auto start = Clock::now();
  if (!turn()) return 0;
  return kBlocks * (kBlock / kMiB) / std::chrono::duration<double>(Clock::now() - start).count();
}

// The board serves one connection at a time: each turn opens its own.
double library_turn(const std::vector<std::uint8_t>& data) {
  CVX_HANDLE h = 0;
  if (CVX_OpenA(&h, "127.0.0.1", CVX_IF_LAN) != CVX_OK) return 0;
  const double rate = mib_per_second([&] {
    for (int i = 0; i < kBlocks; ++i)
      if (CVX_PortBWrite(h, kTarget, data.data(), kBlock, 0, 0) != CVX_OK) return false;
    std::uint8_t value = 0;
    return CVX_PortRead8(h, kFence, &value) == CVX_OK;
  });
  CVX_Close(h);
  return rate;
}

double raw_turn(std::uint16_t port, const sim::Digest& digest, const Commands& c, std::uint32_t piece) {
  bench::RawLanLink link(port, digest);
  if (!link.ok()) return 0;
  return mib_per_second([&] {
    for (int i = 0; i < kBlocks; ++i)
      if (!link.send(c.block.data(), c.block.size(), piece)) return false;
    std::uint8_t value = 0;
    return link.send(c.fence.data(), c.fence.size(), piece) && link.receive(&value, 1);
  });
}

}  // namespace

int main() {
  bench::SimulatedLanBoard lan;
  sim::LanServer& server = lan.server;
  const std::uint16_t port = lan.port;
  const sim::Digest& digest = lan.digest;
  const std::uint32_t piece = lan.piece;

  std::vector<std::uint8_t> data(kBlock);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);

  // The commands exactly as the library sent them, as the board model ran them.
  CVX_HANDLE h = 0;
  std::uint8_t value = 0;
  if (CVX_OpenA(&h, "127.0.0.1", CVX_IF_LAN) != CVX_OK ||
      CVX_PortBWrite(h, kTarget, data.data(), kBlock, 0, 0) != CVX_OK || CVX_PortRead8(h, kFence, &value) != CVX_OK) {
    std::fprintf(stderr, "the library could not write to the simulated LAN board\n");
    return 1;
  }
  CVX_Close(h);
  const Commands commands = server.with_board(0, [](sim::Board& b) {
    const auto& ran = b.executed();
    return Commands{ran[ran.size() - 2].bytes, ran.back().bytes};
  });

  bench::Paired rates;
  const bool ran = bench::alternate(
      kRounds,
      [&] {
        // The model's record of what ran would otherwise keep every block.
        server.with_board(0, [](sim::Board& b) { b.clear_executed(); });
        return library_turn(data);
      },
      [&] { return raw_turn(port, digest, commands, piece); }, rates);
  if (!ran) {
    std::fprintf(stderr, "a transfer failed\n");
    return 1;
  }
  std::printf("CVX_PortBWrite of 64 KiB through the library over the LAN: %.0f MiB/s\n",
              bench::median(rates.measured));
  std::printf("same bytes in the same %u-byte pieces on a plain socket:   %.0f MiB/s\n", piece,
              bench::median(rates.baseline));
  std::printf("ratio: %.2f\n", bench::median(rates.ratios));
  return 0;
}
