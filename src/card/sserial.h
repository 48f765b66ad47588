// The card's serial-channel module: port addresses, commands and their waits,
// module RAM, channel set-up and run.
//
// A command the module does not take or finish ends with a failure that carries
// the module's registers for one channel (the one being worked on; for a command on
// several channels, the lowest): every method names that channel.
#pragma once

#include <cstdint>
#include <string>

#include "card/card.h"
#include "core/access.h"
#include "core/clock.h"
#include "core/result.h"

namespace card {

inline constexpr int AXISSTRIDE = 4;

inline constexpr uint32_t STARTBIT = 0x800;
inline constexpr uint32_t SETUPMODE = 0x700;
inline constexpr uint32_t STARTSETUPCOMMAND = 3840;
inline constexpr uint32_t STOPALLCOMMAND = 2048;
inline constexpr uint32_t DOITCOMMAND = 4096;
inline constexpr uint32_t DOITBIT = 4096;
inline constexpr uint32_t REQUESTBIT = 8192;
inline constexpr uint32_t WRITEBIT = 32768;
inline constexpr uint32_t STARTCOMMAND = 0x900;
inline constexpr uint32_t STOPCOMMAND = 0x800;
inline constexpr uint32_t STOPMODE = 0;
inline constexpr uint32_t NORMALMODE = 0x100;
inline constexpr uint32_t STOPALLMODE = 255;
inline constexpr uint8_t DISABLECRC = 255;  // a channel's CRC switch: off

inline constexpr uint16_t SSZALMAJORREVISIONLOC = 2;
inline constexpr uint16_t SSZALMINORREVISIONLOC = 3;
inline constexpr uint16_t SSZALCHANNELSTARTLOC = 4;
inline constexpr uint16_t SSZALCHANNELSTRIDELOC = 5;
inline constexpr uint16_t SSZALPROCESSORTYPE = 6;
inline constexpr uint16_t SSZALNUMBEROFCHANNELS = 7;

inline constexpr uint16_t CHANRECVSTRINGOFFSET = 0;
inline constexpr uint16_t CHANSTATEOFFSET = 16;
inline constexpr uint16_t CHANERROROFFSET = 17;
inline constexpr uint16_t CHANERRORLOGOFFSET = 18;
inline constexpr uint16_t CHANSTATUSOFFSET = 19;
inline constexpr uint16_t CHANCRCCOUNTOFFSET = 20;
inline constexpr uint16_t CHANCOOKIECOUNTOFFSET = 21;
inline constexpr uint16_t CHANOVERRUNCOUNTOFFSET = 22;
inline constexpr uint16_t CHANTIMEOUTCOUNTOFFSET = 23;
inline constexpr uint16_t CHANEXTRACHARCOUNTOFFSET = 24;
inline constexpr uint16_t CHANBREAKCOUNTOFFSET = 25;
inline constexpr uint16_t CHANREMFAULTCOUNTOFFSET = 26;
inline constexpr uint16_t CHANERRORCOUNTOFFSET = 27;
inline constexpr uint16_t CHANZALDATASIZEOFFSET = 28;
inline constexpr uint16_t CHANIDOFFSET = 29;
inline constexpr uint16_t CHANDISABLECRCOFFSET = 30;
inline constexpr uint16_t NUCHANFREE0OFFSET = 31;
inline constexpr uint16_t CHANCHKTOOMANYERRSOFFSET = 32;
inline constexpr uint16_t CHANSTARTTIMEOFFSET = 33;
inline constexpr uint16_t CHANTIMEOUTOFFSET = 35;
inline constexpr uint16_t CHANGENERICOFFSET = 36;
inline constexpr uint16_t CHANREMFAULTOFFSET = 37;
inline constexpr uint16_t CHANWHATIAMOFFSET = 38;
inline constexpr uint16_t CHANBAUDRATEOFFSET = 42;
inline constexpr uint16_t CHANRPCRECVSIZEOFFSET = 46;
inline constexpr uint16_t CHANRPCXMITSIZEOFFSET = 47;
inline constexpr uint16_t CHANMEASUREDTIMEOFFSET = 48;
inline constexpr uint16_t NUCHANZALCOMPATOFFSET = 49;

struct CSRREC {
  uint8_t ERROR, STATUS, STATE, WHATIAM;
};

// Instance 0 of the module, borrowing the card's bus.
class SerialModule {
 public:
  // The ports of the module whose registers start at module_base. Its polls give up
  // when the token of `waits` is set, and its pauses run on that clock.
  SerialModule(HostBus& bus, uint16_t module_base, core::Waits waits);

  HostBus& bus() const { return *bus_; }
  const core::Waits& waits() const { return waits_; }
  uint16_t command_port() const { return command_port_; }
  uint16_t data_port() const { return data_port_; }
  uint16_t csr_port(uint8_t channel) const { return port_of(csr_port_, channel); }
  uint16_t interface_port0(uint8_t channel) const { return port_of(interface_port0_, channel); }
  uint16_t interface_port1(uint8_t channel) const { return port_of(interface_port1_, channel); }
  uint16_t interface_port2(uint8_t channel) const { return port_of(interface_port2_, channel); }

  // Reads the firmware revision and the channel parameter layout from module RAM.
  core::Status channel_access_init(uint8_t channel);
  uint8_t major_revision() const { return major_revision_; }
  uint8_t minor_revision() const { return minor_revision_; }
  uint8_t channel_start() const { return channel_start_; }
  uint8_t channel_stride() const { return channel_stride_; }

  core::Status write_ram(uint8_t channel, uint16_t address, uint8_t value);
  core::Result<uint8_t> read_ram(uint8_t channel, uint16_t address);
  // Channel parameters in module RAM. The module reads the rate only when a channel
  // starts: stop_all() must come between the rates and the start (once for any
  // number of channels).
  core::Status set_no_crc(uint8_t channel, uint8_t value);
  core::Status set_baudrate(uint8_t channel, int32_t rate);

  // Stops every channel and clears every channel's CSR.
  core::Status stop_all(uint8_t channel);
  // Stops the channels of the mask only, and clears their CSRs: what another
  // program runs on the other channels goes on.
  core::Status stop(core::ChannelMask mask);
  // Starts the channels of the mask in setup mode. The value is the module's failure
  // byte (a bit per channel), 0xFF when the start did not complete in time.
  core::Result<uint8_t> start_setup(core::ChannelMask mask);
  // Runs the transactions in the CSRs of the mask; the value is the failure byte.
  // Refused when the module is still busy.
  core::Result<uint8_t> doit(core::ChannelMask mask);
  // After a command this module saw complete, the busy check before a run can only
  // read 0; a program that wants the fewest exchanges may leave it out then. Off by
  // default: the faithful programs keep their traffic.
  void skip_needless_ready_checks(bool on) { skip_ready_checks_ = on; }
  // Another program may have used the module since: its state is no longer known.
  void forget_idle() { known_idle_ = false; }

 private:
  // The failure of a module command: the line, then the registers of the channel.
  // A read failing during the dump gives that failure, after the lines due so far.
  core::Failure fatal(const std::string& line, uint8_t channel);
  core::Status wait_for_done(uint8_t channel);
  static uint16_t port_of(uint16_t base, uint8_t channel) {
    return static_cast<uint16_t>(base + AXISSTRIDE * channel);
  }
  uint16_t channel_param(uint8_t channel, uint16_t offset) const;
  core::Result<uint8_t> read_data_byte();
  core::Result<bool> wait_for_start_setup();

  core::Status command(uint32_t word);

  HostBus* bus_;
  core::Waits waits_;
  bool skip_ready_checks_ = false;
  // The last command written was seen to complete: the command register reads 0.
  bool known_idle_ = false;
  uint16_t command_port_;
  uint16_t data_port_;
  uint16_t csr_port_;
  uint16_t interface_port0_;
  uint16_t interface_port1_;
  uint16_t interface_port2_;
  uint8_t major_revision_ = 0;
  uint8_t minor_revision_ = 0;
  uint8_t channel_start_ = 0;
  uint8_t channel_stride_ = 0;
};

// The lowest channel of a mask (0 for none): the one whose registers a module
// failure shows.
uint8_t lowest_channel(core::ChannelMask mask);

}  // namespace card
