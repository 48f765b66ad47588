#include "card/sserial.h"

#include "core/text.h"

namespace card {

namespace {

constexpr int DONEPOLLS = 100000;
constexpr int STARTSETUPPOLLS = 200;
constexpr int STARTSETUPPOLLPAUSE_MS = 1;
constexpr uint16_t CHANDATAPORTOFFSET = 0x100;

core::Failure interrupted() { return core::fail(core::FailureKind::interrupted, "Interrupted"); }

}  // namespace

uint8_t lowest_channel(core::ChannelMask mask) {
  for (uint8_t channel = 0; channel < core::CHANNEL_COUNT; ++channel) {
    if (mask & core::channel_bit(channel)) return channel;
  }
  return 0;
}

SerialModule::SerialModule(HostBus& bus, uint16_t module_base, core::Waits waits)
    : bus_(&bus),
      waits_(waits),
      command_port_(module_base),
      data_port_(static_cast<uint16_t>(module_base + CHANDATAPORTOFFSET)),
      csr_port_(static_cast<uint16_t>(module_base + 0x200)),
      interface_port0_(static_cast<uint16_t>(module_base + 0x300)),
      interface_port1_(static_cast<uint16_t>(module_base + 0x400)),
      interface_port2_(static_cast<uint16_t>(module_base + 0x500)) {}

uint16_t SerialModule::channel_param(uint8_t channel, uint16_t offset) const {
  return static_cast<uint16_t>(channel_start_ + channel * channel_stride_ + offset);
}

core::Result<uint8_t> SerialModule::read_data_byte() {
  core::Result<uint32_t> data = bus_->read32(data_port_);
  if (!data) return data.error();
  return static_cast<uint8_t>(*data & 0xFF);
}

core::Failure SerialModule::fatal(const std::string& line, uint8_t channel) {
  // Each register is read before its line is added, so that a transport failure
  // during the dump never leaves half a line behind.
  struct Line {
    const char* label;
    uint16_t port;
    uint8_t nibbles;
  };
  const Line lines[] = {
      {"Command Port ", command_port_, 4},
      {"Data Port ", data_port_, 2},
      {"CSR Port ", csr_port(channel), 8},
      {"User0 ", interface_port0(channel), 8},
      {"User1 ", interface_port1(channel), 8},
      {"User2 ", interface_port2(channel), 8},
  };
  std::vector<std::string> dump;
  for (const Line& l : lines) {
    core::Result<uint32_t> value = bus_->read32(l.port);
    if (!value) {
      core::Failure failure = std::move(value.error());
      std::vector<std::string> before{line};
      before.insert(before.end(), dump.begin(), dump.end());
      failure.lines_before.insert(failure.lines_before.begin(), before.begin(), before.end());
      return failure;
    }
    dump.push_back(std::string(l.label) + core::HEXSTRING(*value, l.nibbles));
  }
  core::Failure failure = core::fail(core::FailureKind::module, line, core::FailureForm::with_register_dump);
  failure.dump = std::move(dump);
  return failure;
}

core::Status SerialModule::wait_for_done(uint8_t channel) {
  int counter = DONEPOLLS;
  uint32_t command = 0;
  do {
    // A module that stays busy and answers each poll slowly would hold the run
    // for hours: a cancelled wait ends at once.
    if (waits_.cancelled()) return interrupted();
    core::Result<uint32_t> read = bus_->read32(command_port_);
    if (!read) return read.error();
    command = *read;
    --counter;
  } while (command != 0 && counter != 0);
  if (counter == 0) return fatal("Timeout waiting for done", channel);
  known_idle_ = true;
  return {};
}

core::Status SerialModule::command(uint32_t word) {
  known_idle_ = false;
  return bus_->write32(command_port_, word);
}

core::Result<bool> SerialModule::wait_for_start_setup() {
  int counter = STARTSETUPPOLLS;
  uint32_t command = 0;
  do {
    if (waits_.cancelled()) return interrupted();
    core::Result<uint32_t> read = bus_->read32(command_port_);
    if (!read) return read.error();
    command = *read;
    --counter;
    // A cancelled pause ends early; the next round says so.
    (void)waits_.sleep_ms(STARTSETUPPOLLPAUSE_MS);
  } while (command != 0 && counter != 0);
  return counter != 0;
}

core::Status SerialModule::write_ram(uint8_t channel, uint16_t address, uint8_t value) {
  // The module takes the byte from the data register when it sees the command.
  if (core::Status done = bus_->write32(data_port_, value); !done) return done;
  if (core::Status done = command(REQUESTBIT + WRITEBIT + address); !done) return done;
  return wait_for_done(channel);
}

core::Result<uint8_t> SerialModule::read_ram(uint8_t channel, uint16_t address) {
  if (core::Status done = command(REQUESTBIT + address); !done) return done.error();
  if (core::Status done = wait_for_done(channel); !done) return done.error();
  return read_data_byte();
}

core::Status SerialModule::channel_access_init(uint8_t channel) {
  struct Field {
    uint16_t location;
    uint8_t* value;
  };
  const Field fields[] = {
      {SSZALMAJORREVISIONLOC, &major_revision_},
      {SSZALMINORREVISIONLOC, &minor_revision_},
      {SSZALCHANNELSTARTLOC, &channel_start_},
      {SSZALCHANNELSTRIDELOC, &channel_stride_},
  };
  for (const Field& f : fields) {
    core::Result<uint8_t> value = read_ram(channel, f.location);
    if (!value) return value.error();
    *f.value = *value;
  }
  return {};
}

core::Status SerialModule::set_no_crc(uint8_t channel, uint8_t value) {
  return write_ram(channel, channel_param(channel, CHANDISABLECRCOFFSET), value);
}

core::Status SerialModule::set_baudrate(uint8_t channel, int32_t rate) {
  const uint16_t first = channel_param(channel, CHANBAUDRATEOFFSET);
  const auto bits = static_cast<uint32_t>(rate);
  for (uint16_t i = 0; i < 4; ++i) {
    core::Status done = write_ram(channel, static_cast<uint16_t>(first + i), static_cast<uint8_t>(bits >> (8 * i)));
    if (!done) return done;
  }
  return {};
}

core::Status SerialModule::stop_all(uint8_t channel) {
  if (core::Status done = command(STOPALLCOMMAND); !done) return done;
  if (core::Status done = wait_for_done(channel); !done) return done;
  for (uint8_t k = 0; k <= MAXAXIS; ++k) {
    if (core::Status done = bus_->write32(csr_port(k), 0); !done) return done;
  }
  return {};
}

core::Status SerialModule::stop(core::ChannelMask mask) {
  if (core::Status done = command(STOPCOMMAND + mask); !done) return done;
  if (core::Status done = wait_for_done(lowest_channel(mask)); !done) return done;
  for (uint8_t k = 0; k <= MAXAXIS; ++k) {
    if ((mask & core::channel_bit(k)) == 0) continue;
    if (core::Status done = bus_->write32(csr_port(k), 0); !done) return done;
  }
  return {};
}

core::Result<uint8_t> SerialModule::start_setup(core::ChannelMask mask) {
  if (core::Status done = command(STARTSETUPCOMMAND + mask); !done) return done.error();
  core::Result<bool> completed = wait_for_start_setup();
  if (!completed) return completed.error();
  if (!*completed) return uint8_t{0xFF};
  return read_data_byte();
}

core::Result<uint8_t> SerialModule::doit(core::ChannelMask mask) {
  const uint8_t channel = lowest_channel(mask);
  if (!(skip_ready_checks_ && known_idle_)) {
    core::Result<uint32_t> busy = bus_->read32(command_port_);
    if (!busy) return busy.error();
    if (*busy != 0) return fatal("Not ready for command ", channel);
  }
  if (core::Status done = command(DOITCOMMAND + mask); !done) return done.error();
  if (core::Status done = wait_for_done(channel); !done) return done.error();
  return read_data_byte();
}

}  // namespace card
