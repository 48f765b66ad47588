#include "card/card.h"

#include "card/backend.h"
#include "card/identity.h"
#include "card/idrom.h"
#include "card/sserial.h"

namespace card {

namespace {

constexpr uint16_t OUTPUTMASKBANK0 = 0x1100;
constexpr uint16_t OUTPUTMASKBANK1 = 0x1200;

// Lets every pin that the card's descriptors mark as a module output be driven by
// its module.
core::Status write_output_masks(HostBus& bus, const Idrom& idrom) {
  for (int p = 0; p < NUMOUTPUTPORTS; ++p) {
    const uint32_t mask = idrom.output_masks[static_cast<std::size_t>(p)];
    if (mask == 0) continue;
    if (core::Status done = bus.write32(static_cast<uint16_t>(OUTPUTMASKBANK0 + 4 * p), mask); !done) return done;
    if (core::Status done = bus.write32(static_cast<uint16_t>(OUTPUTMASKBANK1 + 4 * p), mask); !done) return done;
  }
  return {};
}

// The rates and the CRC switch go to module RAM per channel; one stop command makes
// the module take them, and one start command starts every requested channel.
core::Result<uint8_t> start_channels(SerialModule& module, const CardStart& start) {
  const uint8_t first = lowest_channel(start.channels);
  if (core::Status done = module.channel_access_init(first); !done) return done.error();
  for (uint8_t channel = 0; channel < core::CHANNEL_COUNT; ++channel) {
    if ((start.channels & core::channel_bit(channel)) == 0) continue;
    if (core::Status done = module.set_baudrate(channel, start.baudrate); !done) return done.error();
  }
  // A program that starts its channels again when they fail stops only its own:
  // other programs' channels go on running.
  const core::Status stopped = start.sharing.restart_stopped ? module.stop(start.channels) : module.stop_all(first);
  if (!stopped) return stopped.error();
  if (start.mode == StartMode::setup_no_crc) {
    for (uint8_t channel = 0; channel < core::CHANNEL_COUNT; ++channel) {
      if ((start.channels & core::channel_bit(channel)) == 0) continue;
      if (core::Status done = module.set_no_crc(channel, DISABLECRC); !done) return done.error();
    }
  }
  return module.start_setup(start.channels);
}

}  // namespace

namespace {

core::Result<OpenedCard> set_up(HostBus& bus, const CardStart& start, core::Waits waits, core::Reporter& reporter) {
  core::Result<Idrom> idrom = read_idrom(bus);
  if (!idrom) return idrom.error();
  const std::optional<ModuleInfo> found = find_module(*idrom, SSERIALTAG);
  if (!found) return core::fail(core::FailureKind::open, "No SSZAL hardware");
  SerialModule module(bus, found->base, waits);
  if (core::Status done = set_output_masks(*idrom); !done) return done.error();
  if (core::Status done = write_output_masks(bus, *idrom); !done) return done.error();

  OpenedCard opened;
  if (start.mode != StartMode::none) {
    core::Result<uint8_t> reply = start_channels(module, start);
    if (!reply) return reply.error();
    opened.start_reply = *reply;
    opened.not_started = static_cast<core::ChannelMask>(*reply & start.channels);
  }
  opened.identity = identify_card(*idrom);
  opened.identity.serial_major = module.major_revision();
  opened.identity.serial_minor = module.minor_revision();
  module.skip_needless_ready_checks(start.fewest_exchanges);
  const auto started = static_cast<core::ChannelMask>(start.channels & ~opened.not_started);
  opened.backend = make_card_backend(module, reporter, start, start.mode == StartMode::none ? 0 : started);
  return opened;
}

}  // namespace

core::Result<OpenedCard> open_card(HostBus& bus, const CardStart& start, core::Waits waits, core::Reporter& reporter) {
  constexpr int MAX_SET_UPS = 3;
  platform::CardLock* lock = start.sharing.lock;
  for (int attempt = 1;; ++attempt) {
    if (lock != nullptr) {
      core::Result<bool> held = lock->acquire(waits);
      if (!held) return held.error();
    }
    (void)bus.take_stray_replies();
    core::Result<OpenedCard> opened = set_up(bus, start, waits, reporter);
    // A set-up that saw a reply out of step is made again.
    core::Result<bool> in_step = abandoned(opened) ? core::Result<bool>(true) : replies_in_step(bus, start.sharing);
    if (lock != nullptr) lock->release();
    if (!in_step) return in_step.error();
    if (*in_step) return opened;
    if (attempt == MAX_SET_UPS) return replies_out_of_step();
  }
}

}  // namespace card
