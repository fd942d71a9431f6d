#include "board.h"

#include <algorithm>

namespace kestrel::sim {
namespace {

// Data registers of the ports with a direction register, and those registers.
constexpr std::pair<std::uint32_t, std::uint32_t> kPorts[] = {
    {0xFFFFD0, 0xFEE000}, {0xFFFFD1, 0xFEE001}, {0xFFFFD3, 0xFEE003}, {0xFFFFD4, 0xFEE004}, {0xFFFFD9, 0xFEE009},
};
constexpr std::uint32_t kMaxSamples = 1u << 16;  // a sample burst beyond this is cut

std::uint32_t be(const Bytes& c, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | c[at + static_cast<std::size_t>(i)];
  return v;
}

std::uint32_t le(const Bytes& c, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | c[at + static_cast<std::size_t>(i)];
  return v;
}

std::uint32_t block_length(std::uint32_t field) { return field == 0 ? 65536 : field; }

const std::pair<std::uint32_t, std::uint32_t>* port_of(std::uint32_t data_register) {
  for (const auto& p : kPorts)
    if (p.first == data_register) return &p;
  return nullptr;
}

}  // namespace

Board::Board(BoardConfig config) : config_(std::move(config)) {
  if (config_.product) load_flash(7 * 4096, product_record_bytes(*config_.product));
  if (config_.binary_unit) binary_unit_.emplace(*config_.binary_unit);
}

std::size_t Board::take_reply(std::uint8_t* out, std::size_t length) {
  const std::size_t n = std::min(length, replies_.size());
  std::copy_n(replies_.begin(), n, out);
  replies_.erase(replies_.begin(), replies_.begin() + static_cast<std::ptrdiff_t>(n));
  return n;
}

void Board::receive(const std::uint8_t* data, std::size_t length) {
  if (length == 1 && data[0] == 0x0C && !pending_.empty() && !config_.flash_writer) pending_.clear();
  pending_.insert(pending_.end(), data, data + length);
  ++writes_;
  for (;;) {
    const std::size_t need = request_length(pending_.size());
    if (need == 0 || pending_.size() < need) return;
    Bytes command(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(need));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(need));
    execute(command);
  }
}

// Length of the command at the head of pending_, 0 while it cannot be told yet.
std::size_t Board::request_length(std::size_t available) const {
  if (available == 0) return 0;
  const std::uint8_t code = pending_[0];
  if (config_.flash_writer) {
    switch (code) {
      case 0x11: return 5;
      case 0xA5: return 3;
      case 0x5B: return 1 + 4 + kFlashBlock + 2;
      default: return 1;
    }
  }
  switch (code) {
    case 0x02: return 6;
    case 0x03:
    case 0x05:
    case 0x3C: return 5;
    case 0x04:
    case 0x1C: return 7;
    case 0x06: return available < 7 ? 0 : 9 + block_length(be(pending_, 5, 2));
    case 0x07: return 11;
    case 0x0D: return 15;
    case 0x0E:
    case 0x0F:
    case 0x1B:
    case 0x38: return 9;
    case 0x10:
    case 0x12:
    case 0x14:
    case 0x31:
    case 0x60: return 2;
    case 0x13: return available < 2 ? 0 : 2 + pending_[1];
    case 0x1A: return 8;
    case 0x1D: return 3;
    case 0x30: return 6;
    case 0x39: return 19;
    // The user command's data runs to the end of what was written with it.
    case 0x3B: return available < 11 ? 0 : available;
    default: return 1;
  }
}

void Board::execute(const Bytes& command) {
  const auto now = clock_ ? clock_() : std::chrono::steady_clock::now();
  if (executed_.size() == kExecutedKept) executed_.pop_front();
  executed_.push_back({now, command, writes_});
  const auto drive_busy = [this](bool busy) {
    std::uint8_t& pins = pins_[BinaryUnit::kBusyPort];
    pins = static_cast<std::uint8_t>((pins & ~BinaryUnit::kBusy) | (busy ? BinaryUnit::kBusy : 0));
  };
  // Before the command, so a read finds a finished playback over.
  if (binary_unit_) drive_busy(binary_unit_->busy(now));
  if (config_.flash_writer)
    writer(command);
  else
    monitor(command);
  if (binary_unit_) {
    // Lines that are not outputs are pulled up to the idle level.
    const auto level = [this](std::uint32_t port) {
      return static_cast<std::uint8_t>(output_pins(port) | ~direction(port));
    };
    binary_unit_->lines(now, level(BinaryUnit::kDataPort), level(BinaryUnit::kControlPort));
    drive_busy(binary_unit_->busy());
  }
}

void Board::reply_be(std::uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) reply(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Board::monitor(const Bytes& c) {
  switch (c[0]) {
    case 0x01: reply(config_.version); break;
    case 0x02:
      last_address_ = be(c, 1, 4);
      write_byte(last_address_, c[5]);
      break;
    case 0x03:
      last_address_ = be(c, 1, 4);
      reply(read_byte(last_address_));
      break;
    case 0x04:
      last_address_ = be(c, 1, 4);
      write_byte(last_address_, c[5]);
      write_byte(last_address_ + 1, c[6]);
      break;
    case 0x05:
      last_address_ = be(c, 1, 4);
      reply(read_byte(last_address_));
      reply(read_byte(last_address_ + 1));
      break;
    case 0x06: {
      const std::uint32_t address = be(c, 1, 4);
      for (std::size_t i = 9; i < c.size(); ++i) write_byte(address + static_cast<std::uint32_t>(i - 9), c[i]);
      break;
    }
    case 0x07: {
      const std::uint32_t address = be(c, 1, 4), n = block_length(be(c, 5, 2));
      for (std::uint32_t i = 0; i < n; ++i) reply(read_byte(address + i));
      break;
    }
    case 0x0A: reply_be(config_.status_word, 2); break;
    case 0x0D: {
      const std::uint32_t from = be(c, 1, 4), to = be(c, 5, 4), n = block_length(be(c, 9, 2));
      for (std::uint32_t i = 0; i < n; ++i) write_byte(to + i, read_byte(from + i));
      break;
    }
    case 0x0E: write_byte(be(c, 5, 4), read_byte(be(c, 1, 4))); break;
    case 0x0F: {
      const std::uint32_t from = be(c, 1, 4), to = be(c, 5, 4);
      write_byte(to, read_byte(from));
      write_byte(to + 1, read_byte(from + 1));
      break;
    }
    case 0x10: write_byte(last_address_, c[1]); break;
    case 0x11: reply(read_byte(last_address_)); break;
    case 0x12:
      for (auto w : ad_) reply_be(w, 2);
      break;
    case 0x13:
      sci_out_.insert(sci_out_.end(), c.begin() + 2, c.end());
      if (config_.sci_loopback) sci_in_.insert(sci_in_.end(), c.begin() + 2, c.end());
      break;
    case 0x14:
      for (unsigned i = 0; i < c[1]; ++i) {
        reply(sci_in_.empty() ? 0 : sci_in_.front());
        if (!sci_in_.empty()) sci_in_.pop_front();
      }
      break;
    case 0x15:
      reply(0);
      reply(static_cast<std::uint8_t>(std::min<std::size_t>(sci_in_.size(), 255)));
      break;
    case 0x1A: {
      const std::uint32_t samples = std::min(be(c, 2, 4), kMaxSamples);
      for (std::uint32_t i = 0; i < samples; ++i) reply_be(ad_[c[1] & 3], 2);
      break;
    }
    case 0x1C:
    case 0x1D: {
      if (c[0] == 0x1C) last_address_ = be(c, 1, 4);
      const std::uint8_t value = c[c.size() - 2], mask = c[c.size() - 1];
      write_byte(last_address_, static_cast<std::uint8_t>((read_byte(last_address_) & ~mask) | (value & mask)));
      break;
    }
    case 0x30: counters_.at(c[1] & 3) = be(c, 2, 4); break;
    case 0x31: reply_be(counters_.at(c[1] & 3), 4); break;
    case 0x3A: reply_be(config_.version_word, 4); break;
    case 0x3C: init_value_ = be(c, 1, 4); break;
    case 0x60:
      if (c[1] < copy_running_.size()) copy_running_[c[1]] = true;
      break;
    default: break;  // 0x0B, 0x0C, 0x1B, 0x38, 0x39, 0x3B, 0xFF and unknown bytes: recorded only
  }
}

void Board::writer(const Bytes& c) {
  switch (c[0]) {
    case 0xEE: reply(config_.writer_echo); break;
    case 0x3A: reply_be(config_.hardware_version, 4); break;
    case 0x11: {
      const std::uint32_t address = le(c, 1, 4);
      for (std::uint32_t i = 0; i < kFlashBlock; ++i) reply(flash(address + i));
      break;
    }
    case 0xA5: {
      const std::uint32_t mask = le(c, 1, 2);
      for (unsigned k = 0; k < 16; ++k)
        if (mask & (1u << k)) erase_block(k);
      reply(0);
      break;
    }
    case 0x5A: reply(0); break;
    case 0x5B: {
      const std::uint32_t address = le(c, 1, 4);
      std::uint32_t sum = 0;
      for (std::size_t i = 5; i < 5 + kFlashBlock; ++i) sum += c[i];
      if (resend_ > 0 || (sum & 0xFFFF) != le(c, 5 + kFlashBlock, 2)) {
        resend_ -= resend_ > 0 ? 1 : 0;
        reply(6);
        break;
      }
      if (address % kFlashBlock != 0 || address >= kFlashSize) {
        reply(0x11);
        break;
      }
      Bytes& f = flash_memory();
      for (std::uint32_t i = 0; i < kFlashBlock; ++i) f[address + i] &= c[5 + i];  // programming only clears bits
      reply(0);
      break;
    }
    case 0x5C: reply(finish_answer_); break;
    default: reply(0xFF); break;
  }
}

std::uint8_t Board::peek(std::uint32_t address) const {
  if (address < kFlashSize) return flash(address);
  if (port_of(address)) {
    const std::uint8_t dir = direction(address);
    const auto latch = memory_.find(address);
    const auto pins = pins_.find(address);
    const std::uint8_t out = latch == memory_.end() ? 0 : latch->second;
    const std::uint8_t in = pins == pins_.end() ? 0 : pins->second;
    return static_cast<std::uint8_t>((out & dir) | (in & ~dir));
  }
  const auto it = memory_.find(address);
  return it == memory_.end() ? 0 : it->second;
}

void Board::poke(std::uint32_t address, std::uint8_t value) {
  if (address >= kFlashSize) memory_[address] = value;
}

std::uint8_t Board::read_byte(std::uint32_t address) { return peek(address); }

void Board::write_byte(std::uint32_t address, std::uint8_t value) {
  if (address == kCounterPending) value &= peek(address);
  poke(address, value);
}

std::uint32_t Board::read_be(std::uint32_t address, int bytes) const {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | peek(address + static_cast<std::uint32_t>(i));
  return v;
}

void Board::write_be(std::uint32_t address, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    poke(address + static_cast<std::uint32_t>(i), static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i))));
}

std::uint8_t Board::counter_bit(std::size_t index) {
  constexpr std::uint8_t bits[] = {0x10, 0x20, 0x02, 0x04};
  return bits[index & 3];
}

CounterBlock Board::counter_block(std::size_t index) const {
  const std::uint32_t at = kCounterBlocks + 28 * static_cast<std::uint32_t>(index & 3);
  return {read_be(at, 4), read_be(at + 4, 4), read_be(at + 8, 4), peek(at + 16),
          peek(at + 17),  peek(at + 18),      peek(at + 19)};
}

void Board::pulse(std::size_t index, unsigned times) {
  const std::uint8_t bit = counter_bit(index);
  for (unsigned i = 0; i < times; ++i) {
    if (!(peek(kCounterEnable) & bit)) return;
    const CounterBlock b = counter_block(index);
    if (b.condition_mask != 0 && !(peek(b.condition_address) & b.condition_mask)) continue;
    std::uint32_t& count = counters_.at(index);
    if (++count != b.compare) continue;
    poke(kCounterPending, static_cast<std::uint8_t>(peek(kCounterPending) | bit));
    const std::uint8_t old = peek(b.compare_out_address);
    poke(b.compare_out_address,
         static_cast<std::uint8_t>((old & ~b.compare_out_mask) | (b.compare_out_value & b.compare_out_mask)));
  }
}

void Board::copy_clock(std::size_t channel, unsigned ticks) {
  const std::uint32_t at = kCopyBlocks + 28 * static_cast<std::uint32_t>(channel);
  for (unsigned i = 0; i < ticks && copy_running_.at(channel); ++i) {
    const std::uint32_t from = read_be(at + 8, 4), to = read_be(at + 12, 4);
    write_byte(to, read_byte(from));
    write_be(at + 8, from + 1, 4);
    write_be(at + 12, to + 1, 4);
    const std::uint32_t done = (read_be(at + 16, 2) + 1) & 0xFFFF;
    write_be(at + 16, done, 2);
    if (done != read_be(at + 18, 2)) continue;
    if (peek(at + 22) == 0) {
      copy_running_[channel] = false;
    } else {
      write_be(at + 8, read_be(at, 4), 4);
      write_be(at + 12, read_be(at + 4, 4), 4);
      write_be(at + 16, 0, 2);
    }
  }
}

void Board::set_input_pins(std::uint32_t port, std::uint8_t pins) { pins_[port] = pins; }

std::uint8_t Board::direction(std::uint32_t port) const {
  const auto* p = port_of(port);
  if (!p) return 0;
  const auto it = memory_.find(p->second);
  return it == memory_.end() ? 0 : it->second;
}

std::uint8_t Board::output_pins(std::uint32_t port) const {
  const auto it = memory_.find(port);
  return static_cast<std::uint8_t>((it == memory_.end() ? 0 : it->second) & direction(port));
}

void Board::queue_serial_input(const Bytes& bytes) { sci_in_.insert(sci_in_.end(), bytes.begin(), bytes.end()); }

Bytes& Board::flash_memory() {
  if (flash_.empty()) flash_.assign(kFlashSize, 0xFF);
  return flash_;
}

std::uint8_t Board::flash(std::uint32_t address) const {
  if (address >= kFlashSize) return 0xFF;
  return flash_.empty() ? 0xFF : flash_[address];
}

void Board::load_flash(std::uint32_t address, const Bytes& bytes) {
  Bytes& f = flash_memory();
  for (std::size_t i = 0; i < bytes.size() && address + i < kFlashSize; ++i) f[address + i] = bytes[i];
}

std::pair<std::uint32_t, std::uint32_t> Board::erase_block_range(unsigned block) {
  if (block < 8) return {block * 0x1000u, 0x1000u};
  if (block == 8) return {0x8000u, 0x8000u};
  return {(block - 8) * 0x10000u, 0x10000u};
}

void Board::erase_block(unsigned block) {
  if (block > 15) return;
  const auto [first, size] = erase_block_range(block);
  Bytes& f = flash_memory();
  std::fill_n(f.begin() + first, size, 0xFF);
}

}  // namespace kestrel::sim
