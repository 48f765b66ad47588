// An FPGA card in memory behind the UdpSocket interface: it decodes the card's
// request datagrams, serves a register map with a serial-channel module, and
// records every register access in order.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/udp_socket.h"

namespace testsupport {

struct CardAccess {
  bool write;
  uint16_t address;
  uint32_t value;  // the value written, or the value the read returned
  bool operator==(const CardAccess&) const = default;
};

class FakeCard {
 public:
  // Where the module sits in the register space; the layout of its ports.
  static constexpr uint16_t MODULE_BASE = 0x1000;
  static constexpr uint16_t COMMAND = MODULE_BASE;
  static constexpr uint16_t DATA = MODULE_BASE + 0x100;
  static constexpr uint16_t CSR = MODULE_BASE + 0x200;
  static constexpr uint16_t USER0 = MODULE_BASE + 0x300;
  static constexpr uint16_t USER1 = MODULE_BASE + 0x400;
  static constexpr uint16_t USER2 = MODULE_BASE + 0x500;

  // A fresh card clears the test's token (see manual_clock.h).
  FakeCard();
  ~FakeCard();
  FakeCard(const FakeCard&) = delete;
  FakeCard& operator=(const FakeCard&) = delete;

  // A socket whose traffic this card serves. The card must outlive it.
  std::unique_ptr<platform::UdpSocket> socket();

  // Register map: plain registers outside the module.
  void set_register(uint16_t address, uint32_t value) { registers_[address] = value; }
  uint32_t reg(uint16_t address) const;
  // Puts the cookie and an IDROM of 256 words at idrom_address.
  void load_idrom(uint16_t idrom_address, const std::vector<uint32_t>& words);

  // Module behaviour.
  bool command_never_clears = false;
  bool start_never_completes = false;  // only a start command stays in the register
  int busy_reads = 0;          // reads of the command register that still show it busy
  void set_command_register(uint32_t value) { command_register_ = value; }
  uint8_t start_failures = 0;  // data register after a start command
  uint8_t run_failures = 0;    // data register after a run command
  // How many clears of the drive's non-volatile flag are ignored.
  int nonvol_stuck_clears = 0;
  std::map<uint16_t, uint8_t> ram;
  // Drive memory per channel, byte-addressed, and its local registers.
  std::map<uint16_t, uint8_t> drive_memory[8];
  std::map<uint8_t, uint8_t> drive_locals[8];

  // Transport behaviour.
  int reply_size = 4;       // bytes in each read reply (the value's first, then padding)
  bool silent = false;      // no reply at all: receives time out
  int replies_left = -1;    // reads answered before the card falls silent (-1: all)
  int receive_error = 0;    // when non-zero, receives fail with this OS code
  int send_error = 0;       // when non-zero, sends fail with this OS code
  bool duplicate_replies = false;  // every read reply arrives twice
  // Called after each register access is recorded: a script may set the test's
  // token there, as a Ctrl-C would.
  std::function<void(const CardAccess&)> on_access;

  // What went over the wire.
  std::vector<std::string> datagrams;
  std::vector<CardAccess> accesses;
  std::vector<CardAccess> accesses_in(uint16_t from, uint16_t to) const;

 private:
  friend class FakeCardSocket;
  void on_datagram(const std::string& bytes);
  void write_register(uint16_t address, uint32_t value);
  uint32_t read_register(uint16_t address);
  void command(uint32_t word);
  void run_channel(int k);

  std::map<uint16_t, uint32_t> registers_;
  uint32_t command_register_ = 0;
  int busy_left_ = 0;
  bool command_sticks_ = false;
  uint32_t data_register_ = 0;
  std::deque<std::string> replies_;
};

// A little-endian IDROM image builder: header words, module descriptors, pins.
struct IdromImage {
  std::vector<uint32_t> words = std::vector<uint32_t>(256, 0);
  IdromImage();  // typical layout: modules at byte 64, pins at byte 448, 144 pins in ports of 24
  void module(int index, uint8_t tag, uint16_t base, uint8_t registers);
  void pin(int number, uint8_t pnumber, uint8_t tag);  // number 1..144
};

}  // namespace testsupport
