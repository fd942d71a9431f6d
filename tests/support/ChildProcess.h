#pragma once
// A program started the way a script starts it in the background: no
// standard input, standard output into a file the test reads back.

#include <chrono>
#include <csignal>
#include <cstddef>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kestrel::test {

class ChildProcess {
 public:
  // `quiet` sends standard error to /dev/null; otherwise it stays the test's.
  ChildProcess(const char* program, std::vector<std::string> args, bool quiet = false)
      : out_(std::filesystem::temp_directory_path() /
             ("kestrel-child-" + std::to_string(::getpid()) + "-" + std::to_string(++count_) + ".out")) {
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, program, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    std::filesystem::remove(out_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  std::string output() const {
    std::ifstream in(out_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The first `count` whole lines, or fewer when they did not come in time.
  std::vector<std::string> lines(std::size_t count,
                                 std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<std::string> out;
    while (std::chrono::steady_clock::now() < deadline) {
      std::istringstream text(output());
      out.clear();
      for (std::string line; out.size() < count && std::getline(text, line);)
        if (!text.eof()) out.push_back(line);
      if (out.size() == count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return out;
  }
  // Empty when no whole line came in time.
  std::string firstLine(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) const {
    const std::vector<std::string> first = lines(1, timeout);
    return first.empty() ? std::string() : first.front();
  }

  // The exit code, or -1 when it did not exit normally in time.
  int wait(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  int stop(int signal = SIGTERM) {
    ::kill(pid_, signal);
    return wait();
  }

 private:
  static inline int count_ = 0;
  std::filesystem::path out_;
  pid_t pid_ = -1;
};

}  // namespace kestrel::test
