// Boards behind the driver stand-in, reached through the library as a user would.
#pragma once

#include <gtest/gtest.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "board.h"
#include "corvex.h"

using Bytes = std::vector<std::uint8_t>;

class SimBoards : public ::testing::Test {
 protected:
  static constexpr const char* kTwoBoards = "[board]\nserial = A1234567\n[board]\nserial = B7654321\n";

  void SetUp() override { configure(kTwoBoards); }

  void TearDown() override {
    for (CVX_HANDLE h : opened_) CVX_Close(h);
    opened_.clear();
  }

  // Replaces the stand-in's boards; every handle opened so far is closed first.
  void configure(const std::string& text) {
    TearDown();
    const auto path = std::filesystem::temp_directory_path() / ("corvex-sim-" + std::to_string(::getpid()) + ".ini");
    std::ofstream(path) << text;
    ASSERT_GE(hook<int (*)(const char*)>("ftsim_configure")(path.c_str()), 0) << text;
    std::filesystem::remove(path);
  }

  kestrel::sim::Board& board(int index) {
    auto* b = static_cast<kestrel::sim::Board*>(hook<void* (*)(int)>("ftsim_board")(index));
    if (!b) throw std::runtime_error("no such board");
    return *b;
  }

  std::vector<Bytes> sent(int index) {
    std::vector<Bytes> out;
    for (const auto& e : board(index).executed()) out.push_back(e.bytes);
    return out;
  }

  void forget_sent() {
    for (int i = 0; hook<void* (*)(int)>("ftsim_board")(i); ++i) {
      board(i).clear_executed();
      driver_calls(i);
    }
  }

  // Open, close, time-out, latency, reset and purge calls since the last look.
  std::string driver_calls(int index) {
    char text[4096];
    const int n = hook<int (*)(int, char*, int)>("ftsim_take_driver_calls")(index, text, sizeof text);
    return n < 0 ? "?" : std::string(text);
  }

  // Replies of board index reach the host ms after the write that made them; negative: never.
  void delay_replies(int index, int ms) {
    ASSERT_EQ(hook<int (*)(int, int)>("ftsim_delay_replies")(index, ms), 0);
  }

  // Driver reads waiting on board index now.
  int reads_running(int index) { return hook<int (*)(int)>("ftsim_reads_running")(index); }

  // Opens by serial (first board when empty) and closes at the end of the test.
  CVX_HANDLE open(const char* serial, uint32_t flags = CVX_IF_USB) {
    CVX_HANDLE h = 0;
    const CVX_STATUS s = CVX_OpenA(&h, serial, flags);
    EXPECT_EQ(s, CVX_OK) << serial;
    if (h) opened_.push_back(h);
    return h;
  }

  void keep(CVX_HANDLE h) {
    if (h) opened_.push_back(h);
  }

 private:
  template <typename F>
  static F hook(const char* name) {
    static void* module = dlopen(std::getenv("CORVEX_FTD2XX"), RTLD_NOW);
    if (!module) throw std::runtime_error("driver stand-in not loadable: set CORVEX_FTD2XX");
    return reinterpret_cast<F>(dlsym(module, name));
  }

  std::vector<CVX_HANDLE> opened_;
};

// The first of the two boards, open, with nothing sent to it yet.
class OneOpenBoard : public SimBoards {
 protected:
  void SetUp() override {
    SimBoards::SetUp();
    h = open("A1234567");
    forget_sent();
  }
  CVX_HANDLE h = 0;
};
