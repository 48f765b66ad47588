#include "card/backend.h"

#include <map>

#include "dictionary/dictionary.h"
#include "zal/zal.h"

namespace card {

namespace {

using core::ChannelMask;
using core::Location;
using core::Memory;
using core::Width;

constexpr int BUGGYFLAGRETRY_MS = 100;

uint32_t read_command(Width width) {
  switch (width) {
    case Width::byte: return READBYTECOMMAND;
    case Width::word: return READWORDCOMMAND;
    case Width::long_word: return READLONGCOMMAND;
    case Width::double_word: break;
  }
  return READDOUBLECOMMAND;
}

uint32_t write_command(Width width) {
  switch (width) {
    case Width::byte: return WRITEBYTECOMMAND;
    case Width::word: return WRITEWORDCOMMAND;
    case Width::long_word: return WRITELONGCOMMAND;
    case Width::double_word: break;
  }
  return WRITEDOUBLECOMMAND;
}

uint32_t local_word(uint8_t command_byte) { return static_cast<uint32_t>(command_byte) << COMMANDSHIFT; }

core::Failure transfer_failed() {
  // The one module failure that belongs to a channel alone: the module ran the
  // command and that channel's transfer failed.
  return core::channel_failure(core::FailureKind::module, dict::error_text(dict::SSZALTRANSFERFAILED),
                               core::FailureForm::alone);
}

// The drive has no EEPROM double access on this path.
core::Failure no_eeprom_double(const char* what) {
  return core::fail(core::FailureKind::unsupported, std::string("The SSZAL protocol cannot ") + what);
}

// Each access is one transaction on the channel: its CSR holds the command word and
// address, the interface ports 0 and 1 the data, and a run command (DOIT) with the
// channel's bit carries it out. After a good transfer the CSR is cleared; after a
// failed one it is left as it is, to show the failed transaction to whoever looks
// next. Any failure ends the access at once: nothing more goes to the card.
class CardBackend final : public core::Backend {
 public:
  CardBackend(SerialModule& module, core::Reporter& reporter)
      : module_(module), bus_(module.bus()), reporter_(reporter) {}

  core::Result<uint64_t> read(uint8_t channel, Location location) override {
    if (channel > MAXAXIS) return bad_channel();
    if (location.memory == Memory::ram) return ram_read(channel, location.width, location.address);
    if (location.width == Width::double_word) return no_eeprom_double("read an EEPROM double");
    // The flag is cleared without a read-back: a read leaves nothing in the EEPROM.
    if (core::Status done = begin_eeprom(channel); !done) return done.error();
    core::Result<uint64_t> value = ram_read(channel, location.width, location.address);
    if (!value) return value;
    if (core::Status done = set_nonvol(channel, 0); !done) return done.error();
    return value;
  }

  core::Status write(uint8_t channel, Location location, uint64_t value) override {
    if (channel > MAXAXIS) return bad_channel();
    if (location.memory == Memory::ram) return ram_write(channel, location.width, location.address, value);
    if (location.width == Width::double_word) return no_eeprom_double("write an EEPROM double");
    if (core::Status done = begin_eeprom(channel); !done) return done;
    if (core::Status done = ram_write(channel, location.width, location.address, value); !done) return done;
    return end_eeprom_write(channel);
  }

  // RAM: every channel's CSR is loaded, then ONE run command with the whole mask
  // runs the transfers side by side; each channel's failure bit decides between its
  // value (its data ports read, its CSR cleared) and its "SSZAL Transfer Failed".
  // For one channel this is exactly the traffic of read(). The module's failures
  // show the registers of the lowest channel. EEPROM: one channel after another.
  core::Result<std::vector<core::ChannelReading>> read_channels(ChannelMask channels, Location location) override {
    if (location.memory != Memory::ram) return eeprom_read_channels(channels, location);
    std::vector<core::ChannelReading> readings;
    if (channels == 0) return readings;
    const uint32_t word = read_command(location.width) + location.address;
    for (uint8_t channel : channels_of(channels)) {
      if (core::Status done = bus_.write32(module_.csr_port(channel), word); !done) return done.error();
    }
    core::Result<uint8_t> failures = module_.doit(channels);
    if (!failures) return failures.error();
    for (uint8_t channel : channels_of(channels)) {
      if (*failures & core::channel_bit(channel)) {
        readings.push_back({channel, transfer_failed()});
        continue;
      }
      core::Result<uint64_t> value = fetch(channel, location.width);
      if (!value) return value.error();
      readings.push_back({channel, std::move(value)});
    }
    return readings;
  }

  // The non-volatile flag is set once, the reads made, and the flag cleared once
  // (without a read-back, as for a single read). Every location is taken as EEPROM.
  core::Result<std::vector<uint64_t>> read_eeprom_batch(uint8_t channel,
                                                        std::span<const Location> locations) override {
    if (channel > MAXAXIS) return bad_channel();
    for (const Location& location : locations) {
      if (location.width == Width::double_word) return no_eeprom_double("read an EEPROM double");
    }
    std::vector<uint64_t> values;
    if (locations.empty()) return values;
    if (core::Status done = begin_eeprom(channel); !done) return done.error();
    for (const Location& location : locations) {
      core::Result<uint64_t> value = ram_read(channel, location.width, location.address);
      if (!value) return value.error();
      values.push_back(*value);
    }
    if (core::Status done = set_nonvol(channel, 0); !done) return done.error();
    return values;
  }

  // The flag is set once, the writes made, then cleared once and read back, with
  // the same retry as a single EEPROM write.
  core::Status write_eeprom_batch(uint8_t channel, std::span<const core::EepromWrite> writes) override {
    if (channel > MAXAXIS) return bad_channel();
    for (const core::EepromWrite& w : writes) {
      if (w.location.width == Width::double_word) return no_eeprom_double("write an EEPROM double");
    }
    if (writes.empty()) return {};
    if (core::Status done = begin_eeprom(channel); !done) return done;
    for (const core::EepromWrite& w : writes) {
      if (core::Status done = ram_write(channel, w.location.width, w.location.address, w.value); !done) return done;
    }
    return end_eeprom_write(channel);
  }

  // Side by side: the flag is set on every channel with one run command, each
  // location is read on all channels still going with one run command, and the
  // flag is cleared on every channel with one more (also on a channel that failed on
  // the way, so that none is left writing to its EEPROM). A channel's own transfer
  // failure takes that channel out; any other failure ends all of them. For one
  // channel this is exactly the traffic of read_eeprom_batch().
  core::Result<std::vector<core::ChannelValues>> read_eeprom_channels(ChannelMask channels,
                                                                      std::span<const Location> locations) override {
    for (const Location& location : locations) {
      if (location.width == Width::double_word) return no_eeprom_double("read an EEPROM double");
    }
    std::map<uint8_t, core::Failure> failures;
    std::map<uint8_t, std::vector<uint64_t>> values;
    if (channels != 0 && !locations.empty()) {
      const uint32_t set_flag = local_word(static_cast<uint8_t>(zal::ZALNONVOL_FLAG + zal::ZALWRITE_BYTE));
      core::Result<ChannelMask> refused = write_together(channels, set_flag, zal::ZALNONVOLEEPROM_BYTE);
      if (!refused) return refused.error();
      ChannelMask going = record_failures(channels, *refused, failures);
      for (const Location& location : locations) {
        core::Result<ChannelMask> failed = read_together(going, location, values);
        if (!failed) return failed.error();
        going = record_failures(going, *failed, failures);
      }
      core::Result<ChannelMask> unclear = write_together(channels, set_flag, 0);
      if (!unclear) return unclear.error();
      record_failures(channels, *unclear, failures);
    }
    std::vector<core::ChannelValues> results;
    for (uint8_t channel : channels_of(channels)) {
      const auto failed = failures.find(channel);
      if (failed != failures.end()) {
        results.push_back({channel, failed->second});
      } else {
        results.push_back({channel, std::move(values[channel])});
      }
    }
    return results;
  }

 private:
  // Notes a transfer failure for each failed channel that has none yet; the channels
  // of the mask that go on.
  static ChannelMask record_failures(ChannelMask channels, ChannelMask failed, std::map<uint8_t, core::Failure>& failures) {
    for (uint8_t channel : channels_of(channels & failed)) failures.emplace(channel, transfer_failed());
    return static_cast<ChannelMask>(channels & ~failed);
  }

  // One write transaction of a byte on every channel of the mask with one run
  // command; the channels whose transfer failed (their CSR left as it is).
  core::Result<ChannelMask> write_together(ChannelMask channels, uint32_t word, uint8_t value) {
    for (uint8_t channel : channels_of(channels)) {
      if (core::Status done = bus_.write32(module_.csr_port(channel), word); !done) return done.error();
      if (core::Status done = bus_.write32(module_.interface_port0(channel), value); !done) return done.error();
    }
    core::Result<uint8_t> failed = module_.doit(channels);
    if (!failed) return failed.error();
    for (uint8_t channel : channels_of(static_cast<ChannelMask>(channels & ~*failed))) {
      if (core::Status done = finish(channel); !done) return done.error();
    }
    return static_cast<ChannelMask>(*failed & channels);
  }

  // One read transaction on every channel of the mask with one run command; each
  // good value goes to its channel's list. The channels whose transfer failed.
  core::Result<ChannelMask> read_together(ChannelMask channels, Location location,
                                          std::map<uint8_t, std::vector<uint64_t>>& values) {
    if (channels == 0) return ChannelMask{0};
    const uint32_t word = read_command(location.width) + location.address;
    for (uint8_t channel : channels_of(channels)) {
      if (core::Status done = bus_.write32(module_.csr_port(channel), word); !done) return done.error();
    }
    core::Result<uint8_t> failed = module_.doit(channels);
    if (!failed) return failed.error();
    for (uint8_t channel : channels_of(static_cast<ChannelMask>(channels & ~*failed))) {
      core::Result<uint64_t> value = fetch(channel, location.width);
      if (!value) return value.error();
      values[channel].push_back(*value);
    }
    return static_cast<ChannelMask>(*failed & channels);
  }

  static std::vector<uint8_t> channels_of(ChannelMask mask) {
    std::vector<uint8_t> channels;
    for (uint8_t channel = 0; channel < core::CHANNEL_COUNT; ++channel) {
      if (mask & core::channel_bit(channel)) channels.push_back(channel);
    }
    return channels;
  }

  core::Status run(uint8_t channel) {
    const ChannelMask mask = core::channel_bit(channel);
    core::Result<uint8_t> failures = module_.doit(mask);
    if (!failures) return failures.error();
    if (*failures & mask) return transfer_failed();
    return {};
  }

  core::Status finish(uint8_t channel) { return bus_.write32(module_.csr_port(channel), 0); }

  // The value of a transfer that ran: interface port 0, then port 1 for a double.
  core::Result<uint64_t> fetch(uint8_t channel, Width width) {
    core::Result<uint32_t> low = bus_.read32(module_.interface_port0(channel));
    if (!low) return low.error();
    uint64_t value = *low;
    if (width == Width::double_word) {
      core::Result<uint32_t> high = bus_.read32(module_.interface_port1(channel));
      if (!high) return high.error();
      value |= static_cast<uint64_t>(*high) << 32;
    }
    if (core::Status done = finish(channel); !done) return done.error();
    return core::width_bits(width, value);
  }

  core::Result<uint64_t> read_transaction(uint8_t channel, uint32_t word, Width width) {
    if (core::Status done = bus_.write32(module_.csr_port(channel), word); !done) return done.error();
    if (core::Status done = run(channel); !done) return done.error();
    return fetch(channel, width);
  }

  core::Status write_transaction(uint8_t channel, uint32_t word, Width width, uint64_t value) {
    if (core::Status done = bus_.write32(module_.csr_port(channel), word); !done) return done;
    const auto low = static_cast<uint32_t>(core::width_bits(width, value));
    if (core::Status done = bus_.write32(module_.interface_port0(channel), low); !done) return done;
    if (width == Width::double_word) {
      const auto high = static_cast<uint32_t>(value >> 32);
      if (core::Status done = bus_.write32(module_.interface_port1(channel), high); !done) return done;
    }
    if (core::Status done = run(channel); !done) return done;
    return finish(channel);
  }

  core::Result<uint64_t> ram_read(uint8_t channel, Width width, uint16_t address) {
    return read_transaction(channel, read_command(width) + address, width);
  }

  core::Status ram_write(uint8_t channel, Width width, uint16_t address, uint64_t value) {
    return write_transaction(channel, write_command(width) + address, width, value);
  }

  core::Result<uint8_t> read_local(uint8_t channel, uint8_t reg) {
    core::Result<uint64_t> value = read_transaction(channel, local_word(reg), Width::byte);
    if (!value) return value.error();
    return static_cast<uint8_t>(*value);
  }

  core::Status write_local(uint8_t channel, uint8_t reg, uint8_t value) {
    return write_transaction(channel, local_word(static_cast<uint8_t>(reg + zal::ZALWRITE_BYTE)), Width::byte, value);
  }

  core::Status set_nonvol(uint8_t channel, uint8_t value) { return write_local(channel, zal::ZALNONVOL_FLAG, value); }

  core::Status begin_eeprom(uint8_t channel) { return set_nonvol(channel, zal::ZALNONVOLEEPROM_BYTE); }

  // Some module firmware fails to clear the drive's non-volatile flag; left set,
  // every later register write would go to the EEPROM instead.
  core::Status end_eeprom_write(uint8_t channel) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (attempt > 0) {
        reporter_.notice("Old buggy bit file in use");
        (void)module_.waits().sleep_ms(BUGGYFLAGRETRY_MS);
      }
      if (core::Status done = set_nonvol(channel, 0); !done) return done;
      core::Result<uint8_t> flag = read_local(channel, zal::ZALNONVOL_FLAG);
      if (!flag) return flag.error();
      if (*flag == 0) return {};
    }
    return core::fail(core::FailureKind::nonvolatile, "Broken Old buggy bit file in use cycle ZR90 power",
                      core::FailureForm::alone);
  }

  // One channel after another; a channel's own transfer failure does not stop the others.
  core::Result<std::vector<core::ChannelReading>> eeprom_read_channels(ChannelMask channels, Location location) {
    std::vector<core::ChannelReading> readings;
    for (uint8_t channel : channels_of(channels)) {
      core::Result<uint64_t> value = read(channel, location);
      if (!value && core::ends_the_link(value.error())) return value.error();
      readings.push_back({channel, std::move(value)});
    }
    return readings;
  }

  SerialModule& module_;
  HostBus& bus_;
  core::Reporter& reporter_;
};

}  // namespace

core::Failure bad_channel() {
  return core::fail(core::FailureKind::config, "Axis must be 0 to 7 for the serial-channel module");
}

std::unique_ptr<core::Backend> make_channel_backend(SerialModule& module, core::Reporter& reporter) {
  return std::make_unique<CardBackend>(module, reporter);
}

}  // namespace card
