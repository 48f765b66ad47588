#include "support/fake_card.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/manual_clock.h"

namespace testsupport {

namespace {

constexpr uint32_t COOKIE = 0x55AACAFE;
constexpr uint8_t NONVOL = 0xCC;

uint32_t le32(const std::string& b, std::size_t at) {
  uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(b[at + i])) << (8 * i);
  return v;
}

uint16_t le16(const std::string& b, std::size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

}  // namespace

class FakeCardSocket final : public platform::UdpSocket {
 public:
  explicit FakeCardSocket(FakeCard& card) : card_(card) {}
  bool connect(const std::string&, const std::string&) override { return true; }
  std::size_t discard_pending() override {
    const std::size_t waiting = card_.replies_.size();
    card_.replies_.clear();
    return waiting;
  }
  bool send(const std::string& bytes) override {
    error_ = card_.send_error;
    if (error_ != 0) return false;
    card_.on_datagram(bytes);
    return true;
  }
  // A silence takes its time on the test clock.
  std::string receive_packet(int timeout_ms) override {
    if (card_.receive_error != 0) {
      error_ = card_.receive_error;
      return {};
    }
    if (card_.replies_.empty()) {
      error_ = test_clock().sleep_ms(timeout_ms, test_cancel()) ? TIMED_OUT : CANCELLED;
      return {};
    }
    error_ = 0;
    std::string reply = card_.replies_.front();
    card_.replies_.pop_front();
    return reply;
  }
  int last_error() const override { return error_; }
  std::string last_error_text() const override {
    if (error_ == CANCELLED) return "Interrupted";
    return error_ == TIMED_OUT ? "Connection timed out" : std::strerror(error_);
  }

 private:
  FakeCard& card_;
  int error_ = 0;
};

FakeCard::FakeCard() { test_cancel().reset(); }

FakeCard::~FakeCard() = default;

std::unique_ptr<platform::UdpSocket> FakeCard::socket() { return std::make_unique<FakeCardSocket>(*this); }

uint32_t FakeCard::reg(uint16_t address) const {
  if (address == COMMAND) return command_register_;
  if (address == DATA) return data_register_;
  auto it = registers_.find(address);
  return it == registers_.end() ? 0 : it->second;
}

void FakeCard::load_idrom(uint16_t idrom_address, const std::vector<uint32_t>& words) {
  registers_[0x0100] = COOKIE;
  registers_[0x010C] = idrom_address;
  for (std::size_t i = 0; i < words.size(); ++i) {
    registers_[static_cast<uint16_t>(idrom_address + 4 * i)] = words[i];
  }
}

std::vector<CardAccess> FakeCard::accesses_in(uint16_t from, uint16_t to) const {
  std::vector<CardAccess> out;
  for (const CardAccess& a : accesses) {
    if (a.address >= from && a.address <= to) out.push_back(a);
  }
  return out;
}

void FakeCard::on_datagram(const std::string& bytes) {
  datagrams.push_back(bytes);
  if (bytes.size() == 8 && bytes[0] == 0x01 && static_cast<uint8_t>(bytes[1]) == 0xC2) {
    write_register(le16(bytes, 2), le32(bytes, 4));
    return;
  }
  if (bytes.size() == 4 && bytes[0] == 0x01 && bytes[1] == 0x42) {
    const uint32_t value = read_register(le16(bytes, 2));
    if (silent || replies_left == 0) return;
    if (replies_left > 0) --replies_left;
    std::string reply;
    for (int i = 0; i < 4; ++i) reply.push_back(static_cast<char>(value >> (8 * i)));
    reply.resize(static_cast<std::size_t>(reply_size), '\xEE');
    replies_.push_back(reply);
    if (duplicate_replies) replies_.push_back(reply);
    return;
  }
  ADD_FAILURE() << "card got a malformed datagram of " << bytes.size() << " bytes";
}

void FakeCard::write_register(uint16_t address, uint32_t value) {
  accesses.push_back({true, address, value});
  if (on_access) on_access(accesses.back());
  if (address == COMMAND) {
    command_register_ = value;
    command(value);
    busy_left_ = busy_reads;
    const bool start = (value & 0x3000) == 0 && (value & 0xF00) == 0xF00;
    command_sticks_ = command_never_clears || (start_never_completes && start);
    if (!command_sticks_ && busy_left_ == 0) command_register_ = 0;
  } else if (address == DATA) {
    data_register_ = value;
  } else {
    registers_[address] = value;
  }
}

uint32_t FakeCard::read_register(uint16_t address) {
  const uint32_t value = reg(address);
  accesses.push_back({false, address, value});
  if (on_access) on_access(accesses.back());
  if (address == COMMAND && busy_left_ > 0 && --busy_left_ == 0 && !command_sticks_) {
    command_register_ = 0;
  }
  return value;
}

void FakeCard::command(uint32_t word) {
  if (word & 0x2000) {
    const auto address = static_cast<uint16_t>(word & 0x1FFF);
    if (word & 0x8000) {
      ram[address] = static_cast<uint8_t>(data_register_);
    } else {
      data_register_ = ram[address];
    }
  } else if (word & 0x1000) {
    for (int k = 0; k < 8; ++k) {
      if (word & (1u << k)) run_channel(k);
    }
    data_register_ = run_failures;
  } else if ((word & 0xF00) == 0xF00) {
    data_register_ = start_failures;
  }
}

void FakeCard::run_channel(int k) {
  const uint32_t csr = reg(static_cast<uint16_t>(CSR + 4 * k));
  const auto cmd = static_cast<uint8_t>(csr >> 24);
  const auto address = static_cast<uint16_t>(csr & 0xFFFF);
  const auto user0 = static_cast<uint16_t>(USER0 + 4 * k);
  const auto user1 = static_cast<uint16_t>(USER1 + 4 * k);
  auto& memory = drive_memory[k];
  auto& locals = drive_locals[k];
  if ((cmd & 0xC0) == 0x40) {
    const int size = 1 << (cmd & 3);
    uint64_t value = 0;
    if (cmd & 0x20) {
      value = reg(user0) | static_cast<uint64_t>(reg(user1)) << 32;
      for (int i = 0; i < size; ++i) memory[static_cast<uint16_t>(address + i)] = static_cast<uint8_t>(value >> (8 * i));
    } else {
      for (int i = 0; i < size; ++i) value |= static_cast<uint64_t>(memory[static_cast<uint16_t>(address + i)]) << (8 * i);
      registers_[user0] = static_cast<uint32_t>(value);
      if (size == 8) registers_[user1] = static_cast<uint32_t>(value >> 32);
    }
  } else if ((cmd & 0xE0) == 0xC0) {
    registers_[user0] = locals[cmd];
  } else if ((cmd & 0xE0) == 0xE0) {
    const auto local = static_cast<uint8_t>(cmd - 0x20);
    const auto value = static_cast<uint8_t>(reg(user0));
    if (local == NONVOL && value == 0 && nonvol_stuck_clears > 0) {
      --nonvol_stuck_clears;
      return;
    }
    locals[local] = value;
  }
}

IdromImage::IdromImage() {
  words[1] = 64;    // module table
  words[2] = 448;   // pin table
  words[8] = 144;   // I/O pins
  words[9] = 24;    // pins per port
}

void IdromImage::module(int index, uint8_t tag, uint16_t base, uint8_t registers) {
  const auto first = static_cast<std::size_t>(words[1] / 4 + 3 * index);
  words[first] = tag;
  words[first + 1] = base | static_cast<uint32_t>(registers) << 16;
}

void IdromImage::pin(int number, uint8_t pnumber, uint8_t tag) {
  words[static_cast<std::size_t>(words[2] / 4 + number - 1)] = pnumber | static_cast<uint32_t>(tag) << 8;
}

}  // namespace testsupport
