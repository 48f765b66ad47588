// The simulated FPGA interface card at register level: identification cookie and
// ROM, output-mask registers, and the serial-channel module with a drive on each of
// its eight channels. Transports (UDP, the ZAL host port) only move register reads
// and writes in and out of this model.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "card_faults.h"
#include "drive_model.h"

namespace sim {

// Where things sit in the simulated card's register space and module RAM. The
// documentation of zr90sim lists them; tests rely on some of them.
namespace card_layout {
inline constexpr uint16_t COOKIE_ADDRESS = 0x0100;
inline constexpr uint32_t COOKIE = 0x55AACAFE;
inline constexpr uint32_t WRONG_COOKIE = 0x55AACAFF;
inline constexpr uint16_t IDROM_POINTER_ADDRESS = 0x010C;
inline constexpr uint16_t IDROM_ADDRESS = 0x0400;
inline constexpr int IDROM_WORDS = 256;
inline constexpr uint16_t MASK_BANK0 = 0x1100;
inline constexpr uint16_t MASK_BANK1 = 0x1200;
inline constexpr int IO_PORTS = 6;
inline constexpr uint16_t MODULE_BASE = 0x5000;
inline constexpr uint16_t DECOY_MODULE_BASE = 0x7000;
inline constexpr uint16_t COMMAND_REGISTER = MODULE_BASE;
inline constexpr uint16_t DATA_REGISTER = MODULE_BASE + 0x100;
inline constexpr uint16_t CSR_REGISTERS = MODULE_BASE + 0x200;
inline constexpr uint16_t INTERFACE0_REGISTERS = MODULE_BASE + 0x300;
inline constexpr uint16_t INTERFACE1_REGISTERS = MODULE_BASE + 0x400;
inline constexpr uint16_t INTERFACE2_REGISTERS = MODULE_BASE + 0x500;
inline constexpr int CHANNELS = 8;
inline constexpr std::size_t MODULE_RAM_SIZE = 2048;
inline constexpr uint8_t MAJOR_REVISION = 3;
inline constexpr uint8_t MINOR_REVISION = 2;
inline constexpr uint8_t CHANNEL_START = 0x40;
inline constexpr uint8_t CHANNEL_STRIDE = 0x40;
inline constexpr uint16_t CHANNEL_ID_OFFSET = 29;
inline constexpr uint16_t CHANNEL_NOCRC_OFFSET = 30;
inline constexpr uint16_t CHANNEL_BAUD_OFFSET = 42;
inline constexpr uint32_t CHANNEL_DEFAULT_BAUD = 115200;
}  // namespace card_layout

// The identification ROM this card carries, with the defects the faults ask for.
std::array<uint32_t, card_layout::IDROM_WORDS> build_idrom(const CardFaults& faults);

class CardModel {
 public:
  using NoteSink = std::function<void(const std::string&)>;

  // With motion.moving, each channel's drive moves, its noise seeded with
  // motion.seed plus the channel number.
  explicit CardModel(const CardFaults& faults, const MotionOptions& motion = {});

  uint32_t read(uint16_t address);
  void write(uint16_t address, uint32_t value);
  // A command is pending and, by a fault, will stay so.
  bool stuck() const;

  // Register-level notes for the wire trace; none are built while no sink is set.
  void set_note_sink(NoteSink sink) { note_ = std::move(sink); }

  DriveModel& drive(int channel) { return drives_[static_cast<std::size_t>(channel)]; }
  uint8_t module_ram(uint16_t address) const;

 private:
  struct Channel {
    bool started = false;
    uint32_t csr = 0;
    uint32_t interface0 = 0;
    uint32_t interface1 = 0;
    uint32_t interface2 = 0;
  };

  bool module_read(uint16_t address, uint32_t& value);
  bool module_write(uint16_t address, uint32_t value);
  uint32_t read_command_register();
  bool stays_busy() const;
  void command(uint32_t word);
  void finish_command(uint32_t word);
  void start_channels(uint32_t word, uint8_t mask);
  void stop_channels(uint8_t mask);
  void run_channels(uint8_t mask);
  bool run_channel(int k);
  void ram_read(uint16_t address);
  void ram_write(uint16_t address);
  uint16_t channel_block(int k) const;
  void note(const std::string& text) const {
    if (note_) note_(text);
  }

  CardFaults faults_;
  std::array<uint32_t, card_layout::IDROM_WORDS> idrom_{};
  std::array<std::array<uint32_t, card_layout::IO_PORTS>, 2> masks_{};
  std::vector<uint8_t> ram_;
  std::array<Channel, card_layout::CHANNELS> channels_{};
  std::array<DriveModel, card_layout::CHANNELS> drives_{};
  uint32_t command_ = 0;       // non-zero while a command is being carried out
  uint32_t last_command_ = 0;  // for the stale-register fault
  long commands_ = 0;          // every command given, for busy-after
  bool done_seen_ = false;     // the stale register has shown 0 once
  uint32_t data_ = 0;
  std::map<uint16_t, uint32_t> other_;  // registers of modules not simulated
  NoteSink note_;
};

}  // namespace sim
