// CVX_ATFDownload of an enciphered image through the library and the driver
// stand-in, against the same bytes written with CVX_PortBWrite alone, in
// alternating rounds on one board. The ratio is the download's best time over
// the plain writes' best time: what reading, checking and deciphering the
// file, and the version query, add to moving the bytes.
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
constexpr int kRounds = 15;
constexpr const char* kKey = "bench key";

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

}  // namespace

int main(int, char** argv) {
  namespace fs = std::filesystem;
  if (!bench::with_driver_stand_in(argv)) return 1;
  const CVX_HANDLE h = bench::open_stand_in_board("BENCH001");
  if (!h) return 1;

  const img::ImageSpec s = spec();
  const img::Bytes image = img::build_image(s);
  const fs::path file = fs::temp_directory_path() / ("corvex-atf-bench-" + std::to_string(::getpid()) + ".atf");
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));

  // Reading and deciphering alone, from memory and without a board, shows
  // how much of the difference is the image's own work.
  double best_download = 1e9, best_plain = 1e9, best_read = 1e9;
  bool ok = true;
  for (int round = 0; round < kRounds && ok; ++round) {
    const double d = seconds([&] { return CVX_ATFDownload(h, file.c_str(), kKey) == CVX_OK; });
    const double p = seconds([&] { return write_plain(h, s); });
    const double r = seconds([&] {
      img::Image read;
      return img::read_image(image, img::kDownloadRoom, image.size(), {kKey, {}}, read) == CVX_OK;
    });
    ok = d >= 0 && p >= 0 && r >= 0;
    if (!ok) break;
    std::printf("round %d: download %.2f ms, plain writes %.2f ms, image read alone %.2f ms\n", round + 1, d * 1e3,
                p * 1e3, r * 1e3);
    best_download = std::min(best_download, d);
    best_plain = std::min(best_plain, p);
    best_read = std::min(best_read, r);
  }
  CVX_Close(h);
  fs::remove(file);
  if (!ok) {
    std::fprintf(stderr, "a call failed\n");
    return 1;
  }
  std::printf("image: %zu bytes, %zu sections, enciphered with a key text\n", image.size(), s.sections.size());
  std::printf("best download:     %.2f ms\n", best_download * 1e3);
  std::printf("best plain writes: %.2f ms\n", best_plain * 1e3);
  std::printf("best image read alone (checks, RC4, check sum): %.2f ms\n", best_read * 1e3);
  std::printf("ratio: %.2f\n", best_download / best_plain);
  return 0;
}
