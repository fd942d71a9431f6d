// A model of the controller board: its monitor firmware, its flash writer and
// the memory and peripherals they reach. Not thread-safe; the owner serialises.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binary_unit.h"

namespace kestrel::sim {

using Bytes = std::vector<std::uint8_t>;

struct ProductRecord {
  std::array<std::uint8_t, 16> uuid{};  // binary layout of the Windows UUID type
  std::uint32_t unit = 0;
};

struct BoardConfig {
  std::string serial = "SIM00001";
  std::uint16_t vendor_id = 0x1237;
  std::uint16_t product_id = 0xF001;
  std::string description = "Controller board";
  Bytes user_area;
  std::uint8_t version = 0x31;  // two BCD digits
  std::uint32_t version_word = 0x00030201;
  bool flash_writer = false;  // the board starts in its flash writer
  std::uint8_t writer_echo = 0xEE;
  std::uint32_t hardware_version = 0x00010001;
  std::uint16_t status_word = 0;
  bool held = false;  // opened by another program: the driver refuses it
  bool eeprom_readable = true;
  bool sci_loopback = false;             // the serial channel's output wired back to its input
  std::optional<ProductRecord> product;  // written to area 7 at start
  // A binary voice unit on the expansion board's lines.
  std::optional<BinaryUnitConfig> binary_unit;
  // The USB link to the board, for the driver stand-in: every transfer takes
  // link_transfer_us, and bytes move at link_bytes_per_second. 0: at memory speed.
  std::uint32_t link_bytes_per_second = 0;
  std::uint32_t link_transfer_us = 0;
};

// A pulse counter's firmware variables, as the counter and timer functions set them.
struct CounterBlock {
  std::uint32_t compare = 0;
  std::uint32_t compare_out_address = 0;
  std::uint32_t condition_address = 0;
  std::uint8_t compare_out_value = 0;
  std::uint8_t condition_mask = 0;
  std::uint8_t control = 0;
  std::uint8_t compare_out_mask = 0;  // bits of the compare-output byte that the value replaces
};

struct Executed {
  std::chrono::steady_clock::time_point at;
  Bytes bytes;
  std::uint64_t write = 0;  // number of the host write that completed the command
};

class Board {
 public:
  static constexpr std::uint32_t kFlashSize = 0x80000;
  static constexpr std::uint32_t kFlashBlock = 128;

  explicit Board(BoardConfig config = {});

  const BoardConfig& config() const { return config_; }
  bool in_flash_writer() const { return config_.flash_writer; }

  // Host to board. Commands may arrive split over several writes. A write of
  // the single byte 0C while a command is incomplete abandons that command,
  // as the firmware's break detection does.
  void receive(const std::uint8_t* data, std::size_t length);
  void receive(const Bytes& bytes) { receive(bytes.data(), bytes.size()); }

  // Board to host.
  std::size_t reply_waiting() const { return replies_.size(); }
  std::size_t take_reply(std::uint8_t* out, std::size_t length);
  void drop_replies() { replies_.clear(); }

  // The commands executed, in order, with the moment each ran; the oldest are
  // dropped beyond kExecutedKept so a long run does not grow without end.
  static constexpr std::size_t kExecutedKept = 100000;
  const std::deque<Executed>& executed() const { return executed_; }
  void clear_executed() { executed_.clear(); }
  // Where those moments come from (steady_clock::now when unset); tests run
  // the model on times they choose.
  void set_clock(std::function<std::chrono::steady_clock::time_point()> clock) { clock_ = std::move(clock); }

  // The binary unit on the lines, when the config gives one. It sees the lines
  // after each command and drives bit 0 of 0xFFFFD0.
  const BinaryUnit* binary_unit() const { return binary_unit_ ? &*binary_unit_ : nullptr; }

  // Memory and registers as the firmware sees them.
  std::uint8_t peek(std::uint32_t address) const;
  void poke(std::uint32_t address, std::uint8_t value);
  void set_input_pins(std::uint32_t port, std::uint8_t pins);
  std::uint8_t direction(std::uint32_t port) const;
  std::uint8_t output_pins(std::uint32_t port) const;  // levels driven by output pins
  std::uint32_t counter(std::size_t index) const { return counters_.at(index); }
  void set_counter(std::size_t index, std::uint32_t value) { counters_.at(index) = value; }
  void set_ad_word(std::size_t channel, std::uint16_t value) { ad_.at(channel) = value; }
  void queue_serial_input(const Bytes& bytes);
  std::size_t serial_input_waiting() const { return sci_in_.size(); }

  // Pulse counters 0 to 3: enabled by 0xFEE015 (bits 0x10, 0x20, 0x02, 0x04),
  // pending flags in 0xFEE016 (a written 0 clears a flag). An enabled counter
  // counts a pulse while its condition bits are set (or it has none); on
  // reaching its compare value it raises its flag and writes its compare-output
  // value, under its mask, to its compare-output address.
  static constexpr std::uint32_t kCounterBlocks = 0x0FFFE724;
  static constexpr std::uint32_t kCounterEnable = 0xFEE015;
  static constexpr std::uint32_t kCounterPending = 0xFEE016;
  static std::uint8_t counter_bit(std::size_t index);
  CounterBlock counter_block(std::size_t index) const;
  void pulse(std::size_t index, unsigned times = 1);

  // Timed copy channels 0 and 1, started by command 0x60: each tick of the copy
  // clock moves one byte from the current source to the current destination
  // and counts it; the channel stops after count bytes, or starts over when
  // its repeat byte (offset 22) is set.
  static constexpr std::uint32_t kCopyBlocks = 0x0FFFE79C;
  bool copy_running(std::size_t channel) const { return copy_running_.at(channel); }
  void copy_clock(std::size_t channel, unsigned ticks = 1);

  const Bytes& serial_output() const { return sci_out_; }
  std::optional<std::uint32_t> initialize_value() const { return init_value_; }

  // Flash: 512 KiB in sixteen erase blocks.
  std::uint8_t flash(std::uint32_t address) const;
  void load_flash(std::uint32_t address, const Bytes& bytes);
  static std::pair<std::uint32_t, std::uint32_t> erase_block_range(unsigned block);  // first, size
  void erase_block(unsigned block);

  // Flash writer faults for tests: answer the next n block commands with 6, and
  // answer the closing command with a given byte.
  void answer_blocks_again(unsigned n) { resend_ = n; }
  void set_finish_answer(std::uint8_t answer) { finish_answer_ = answer; }

 private:
  std::size_t request_length(std::size_t available) const;
  void execute(const Bytes& command);
  void monitor(const Bytes& c);
  void writer(const Bytes& c);
  void reply(std::uint8_t b) { replies_.push_back(b); }
  void reply_be(std::uint32_t v, int bytes);
  std::uint8_t read_byte(std::uint32_t address);
  std::uint32_t read_be(std::uint32_t address, int bytes) const;
  void write_be(std::uint32_t address, std::uint32_t value, int bytes);
  void write_byte(std::uint32_t address, std::uint8_t value);
  Bytes& flash_memory();

  BoardConfig config_;
  Bytes pending_;
  std::uint64_t writes_ = 0;
  std::deque<std::uint8_t> replies_;
  std::deque<Executed> executed_;
  std::unordered_map<std::uint32_t, std::uint8_t> memory_;
  std::unordered_map<std::uint32_t, std::uint8_t> pins_;
  Bytes flash_;  // allocated on first write; blank reads as FF
  std::array<std::uint32_t, 4> counters_{};
  std::array<std::uint16_t, 4> ad_{};
  std::array<bool, 2> copy_running_{};
  std::deque<std::uint8_t> sci_in_;
  Bytes sci_out_;
  std::uint32_t last_address_ = 0;
  std::optional<std::uint32_t> init_value_;
  unsigned resend_ = 0;
  std::uint8_t finish_answer_ = 0;
  std::function<std::chrono::steady_clock::time_point()> clock_;
  std::optional<BinaryUnit> binary_unit_;
};

// What the driver stand-in plays: its boards, and how the driver itself behaves.
struct SimConfig {
  std::vector<BoardConfig> boards;
  std::uint32_t list_status = 0;  // non-zero: the device count fails with this status
  // Set: every FT_Write after this many fails, as when the board is unplugged.
  std::optional<std::uint64_t> writes_before_unplug;
};

// The stand-in's config format (see config.cpp).
std::optional<SimConfig> parse_config(const std::string& text);
std::optional<std::array<std::uint8_t, 16>> parse_uuid(const std::string& text);
Bytes product_record_bytes(const ProductRecord& record);

}  // namespace kestrel::sim
