// A transport straight onto a board model, for tests of the inner parts.
#pragma once

#include "board.h"
#include "transport.h"

class BoardTransport final : public corvex::Transport {
 public:
  explicit BoardTransport(kestrel::sim::Board& board) : board_(board) {}
  std::size_t writes = 0;

  CVX_STATUS send(const std::uint8_t* data, std::uint32_t length, std::uint32_t* sent) override {
    ++writes;
    board_.receive(data, length);
    *sent = length;
    return CVX_OK;
  }
  CVX_STATUS receive(std::uint8_t* data, std::uint32_t length, std::uint32_t* received) override {
    *received = static_cast<std::uint32_t>(board_.take_reply(data, length));
    return CVX_OK;
  }
  CVX_STATUS waiting(std::uint32_t* count) override {
    *count = static_cast<std::uint32_t>(board_.reply_waiting());
    return CVX_OK;
  }
  CVX_STATUS purge(std::uint32_t) override {
    board_.drop_replies();
    return CVX_OK;
  }
  CVX_STATUS set_timeouts(std::uint32_t, std::uint32_t) override { return CVX_OK; }
  CVX_STATUS close() override { return CVX_OK; }

 private:
  kestrel::sim::Board& board_;
};
