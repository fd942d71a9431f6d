// What the benchmarks share: the driver stand-in in place of the USB driver,
// rounds that alternate the measured path with its baseline, and medians.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "corvex.h"

namespace bench {

// The board library binds its driver when it is loaded, before main runs, so
// the stand-in beside the build's libraries must be named in the environment
// the process starts with: the program runs itself again with it named.
// Returns only once it is (false when that failed).
inline bool with_driver_stand_in(char** argv) {
  namespace fs = std::filesystem;
  if (std::getenv("CORVEX_FTD2XX")) return true;
  const fs::path exe = fs::canonical("/proc/self/exe");
  ::setenv("CORVEX_FTD2XX", (exe.parent_path().parent_path() / "lib" / "libftd2xx.so").c_str(), 1);
  ::execv(exe.c_str(), argv);
  std::perror("re-running the benchmark with the driver stand-in");
  return false;
}

// Simulated boards behind the stand-in, described by `boards` (the stand-in's
// configuration text, read at its first call) and opened by their serials;
// empty (after a message) when one cannot be opened.
inline std::vector<CVX_HANDLE> open_stand_in_boards(const std::string& boards,
                                                    const std::vector<const char*>& serials) {
  namespace fs = std::filesystem;
  const fs::path config = fs::temp_directory_path() / ("kestrel-bench-" + std::to_string(::getpid()) + ".ini");
  std::ofstream(config) << boards;
  ::setenv("FTSIM_CONFIG", config.c_str(), 1);
  std::vector<CVX_HANDLE> handles;
  for (const char* serial : serials) {
    const CVX_HANDLE h = CVX_Open(serial);
    if (!h) {
      std::fprintf(stderr, "no simulated board %s: is the driver stand-in built?\n", serial);
      for (CVX_HANDLE opened : handles) CVX_Close(opened);
      handles.clear();
      break;
    }
    handles.push_back(h);
  }
  fs::remove(config);
  return handles;
}

// One simulated board behind the stand-in, opened by its serial; 0 (after a
// message) when there is none.
inline CVX_HANDLE open_stand_in_board(const char* serial) {
  const auto handles = open_stand_in_boards(std::string("[board]\nserial = ") + serial + "\n", {serial});
  return handles.empty() ? 0 : handles.front();
}

// A short run, for the test command's smoke run: KESTREL_BENCH_SHORT set to
// anything but 0. Its figures mean little.
inline bool short_run() {
  const char* value = std::getenv("KESTREL_BENCH_SHORT");
  return value && *value && std::string(value) != "0";
}

inline double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Rates from `rounds` rounds in which the two turns run back to back, in
// turn order swapped each round, so that machine noise hits both alike.
struct Paired {
  std::vector<double> measured, baseline, ratios;
};

template <typename Measured, typename Baseline>
bool alternate(int rounds, Measured&& measured, Baseline&& baseline, Paired& out) {
  for (int round = 0; round < rounds; ++round) {
    double m = 0, b = 0;
    if (round % 2 == 0) {
      m = measured();
      b = baseline();
    } else {
      b = baseline();
      m = measured();
    }
    if (m <= 0 || b <= 0) return false;
    out.measured.push_back(m);
    out.baseline.push_back(b);
    out.ratios.push_back(m / b);
  }
  return true;
}

}  // namespace bench
