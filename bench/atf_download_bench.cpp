// CVX_ATFDownload of an enciphered image through the library and the driver
// stand-in, against the same bytes written with CVX_PortBWrite alone, in
// alternating rounds. First on a board the stand-in reaches at memory speed,
// where the difference is what reading, checking and deciphering the file,
// and the version query, cost against nothing; then on a board behind a model
// of its USB link, where the ratio printed last is what a download costs
// over moving its bytes. Each ratio is the download's best time over the
// plain writes' best time.
//
// KESTREL_BENCH_SHORT=1 runs a round or two only.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "BenchSupport.h"
#include "atf_image.h"
#include "corvex.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace img = corvex::image;
constexpr int kMemoryRounds = 15;
constexpr int kLinkRounds = 3;  // some 0.9 s each
constexpr const char* kKey = "bench key";

// The board's USB link. A full-speed link carries 12 Mbit/s on the wire; bulk
// transfers get at most 19 packets of 64 bytes a 1 ms frame (1.2 MB/s), and
// the interface chip's driver moves about 1 MB/s in practice. A transfer
// starts at the next frame, so each costs about a frame besides its bytes.
// The reply to a query waits in the chip for its latency timer, which the
// stand-in takes from the library's open (3 ms).
constexpr const char* kBoards =
    "[board]\nserial = BENCH001\n"
    "[board]\nserial = BENCH002\nlink_bytes_per_second = 1000000\nlink_transfer_us = 1000\n";

img::Bytes pattern(std::size_t n, unsigned seed) {
  img::Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 131 + seed);
  return b;
}

// Four sections of 160, 120, 80 and 40 KiB, a HEAP of 32 KiB, and both words.
img::ImageSpec spec() {
  img::ImageSpec s;
  const std::uint32_t sizes[] = {160 * 1024, 120 * 1024, 80 * 1024, 40 * 1024};
  for (unsigned i = 0; i < 4; ++i)
    s.sections.push_back({"sect" + std::to_string(i), 1, 0x200000 + i * 0x40000, pattern(sizes[i], i), 0});
  s.sections.push_back({"HEAP", 3, 0x400000, {}, 32 * 1024});
  s.command = 0x11223344;
  s.main = 0x00200010;
  s.cipher = img::kKeyText;
  s.key_text = kKey;
  return s;
}

// The same writes the download makes, from memory.
bool write_plain(CVX_HANDLE h, const img::ImageSpec& s) {
  for (const img::SectionSource& section : s.sections) {
    const img::Bytes zeros(section.bytes.empty() ? section.size : 0, 0);
    const img::Bytes& bytes = section.bytes.empty() ? zeros : section.bytes;
    for (std::size_t at = 0; at < bytes.size(); at += img::kMaxPiece) {
      const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size() - at, img::kMaxPiece));
      if (CVX_PortBWrite(h, section.load + static_cast<std::uint32_t>(at), bytes.data() + at, n, 1, 0) != CVX_OK)
        return false;
    }
  }
  const std::uint8_t command[] = {0x11, 0x22, 0x33, 0x44}, main_word[] = {0x00, 0x20, 0x00, 0x10};
  return CVX_PortBWrite(h, 0xFFE7EA, command, 4, 1, 0) == CVX_OK &&
         CVX_PortBWrite(h, 0xFFE7EE, main_word, 4, 1, 0) == CVX_OK;
}

template <typename F>
double seconds(F&& f) {
  const auto start = Clock::now();
  if (!f()) return -1;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Best {
  double download = 1e9, plain = 1e9, read = 1e9;
};

// Rounds on one board, the download and the plain writes taking turns to go
// first; the image read alone (from memory, no board) only where asked.
bool measure(const char* what, CVX_HANDLE h, const std::string& file, const img::ImageSpec& s, const img::Bytes& image,
             int rounds, bool with_read, Best& best) {
  const auto download = [&] { return seconds([&] { return CVX_ATFDownload(h, file.c_str(), kKey) == CVX_OK; }); };
  const auto plain = [&] { return seconds([&] { return write_plain(h, s); }); };
  for (int round = 0; round < rounds; ++round) {
    double d = 0, p = 0, r = 0;
    if (round % 2 == 0) {
      d = download();
      p = plain();
    } else {
      p = plain();
      d = download();
    }
    if (with_read)
      r = seconds([&] {
        img::Image read;
        return img::read_image(image, img::kDownloadRoom, image.size(), {kKey, {}}, read) == CVX_OK;
      });
    if (d < 0 || p < 0 || r < 0) {
      std::fprintf(stderr, "%s: a call failed\n", what);
      return false;
    }
    std::printf("%s round %d: download %.2f ms, plain writes %.2f ms", what, round + 1, d * 1e3, p * 1e3);
    if (with_read) std::printf(", image read alone %.2f ms", r * 1e3);
    std::printf("\n");
    best.download = std::min(best.download, d);
    best.plain = std::min(best.plain, p);
    best.read = std::min(best.read, r);
  }
  return true;
}

}  // namespace

int main(int, char** argv) {
  namespace fs = std::filesystem;
  if (!bench::with_driver_stand_in(argv)) return 1;
  const std::vector<CVX_HANDLE> boards = bench::open_stand_in_boards(kBoards, {"BENCH001", "BENCH002"});
  if (boards.size() != 2) return 1;

  const img::ImageSpec s = spec();
  const img::Bytes image = img::build_image(s);
  const fs::path file = fs::temp_directory_path() / ("corvex-atf-bench-" + std::to_string(::getpid()) + ".atf");
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));

  const bool short_run = bench::short_run();
  // Reading and deciphering alone, from memory and without a board, shows
  // how much of the difference at memory speed is the image's own work.
  Best memory, link;
  const bool ok = measure("memory speed", boards[0], file, s, image, short_run ? 2 : kMemoryRounds, true, memory) &&
                  measure("USB link", boards[1], file, s, image, short_run ? 1 : kLinkRounds, false, link);
  for (CVX_HANDLE h : boards) CVX_Close(h);
  fs::remove(file);
  if (!ok) return 1;
  std::printf("image: %zu bytes, %zu sections, enciphered with a key text\n", image.size(), s.sections.size());
  std::printf("memory speed: best download %.2f ms, best plain writes %.2f ms\n", memory.download * 1e3,
              memory.plain * 1e3);
  std::printf("memory speed: best image read alone (checks, RC4, check sum) %.2f ms\n", memory.read * 1e3);
  std::printf("memory-speed ratio: %.2f\n", memory.download / memory.plain);
  std::printf(
      "USB link (1 MB/s, 1 ms a transfer, 3 ms latency timer): best download %.2f ms, best plain writes %.2f ms\n",
      link.download * 1e3, link.plain * 1e3);
  std::printf("ratio: %.3f\n", link.download / link.plain);
  return 0;
}
