// The card backend as one of several programs on a host uses it: each access under
// the card's lock, its replies checked to be in step, and a channel that another
// program's set-up stopped started again.
#include <span>
#include <vector>

#include "card/backend.h"
#include "card/idrom.h"

namespace card {

namespace {

using core::ChannelMask;
using core::Location;

// An access is made at most this often when its replies keep slipping; a slip needs
// a datagram duplicated or delayed, which a network does rarely and never for long.
constexpr int MAX_ATTEMPTS = 3;
// The cookie reads that may pass before the replies are back in step: each slip
// leaves at most one reply on the way.
constexpr int MAX_RESYNC_READS = 4;

ChannelMask bit_if(bool failed, uint8_t channel) { return failed ? core::channel_bit(channel) : ChannelMask{0}; }

// The channels whose transfer failed, for each shape of result.
ChannelMask transfer_failures(const core::Status& result, uint8_t channel) {
  return bit_if(!result && is_transfer_failure(result.error()), channel);
}
template <class T>
ChannelMask transfer_failures(const core::Result<T>& result, uint8_t channel) {
  return bit_if(!result && is_transfer_failure(result.error()), channel);
}
ChannelMask transfer_failures(const core::Result<std::vector<core::ChannelReading>>& result, uint8_t) {
  ChannelMask failed = 0;
  if (!result) return failed;
  for (const core::ChannelReading& reading : *result) {
    failed |= bit_if(!reading.value && is_transfer_failure(reading.value.error()), reading.channel);
  }
  return failed;
}
ChannelMask transfer_failures(const core::Result<std::vector<core::ChannelValues>>& result, uint8_t) {
  ChannelMask failed = 0;
  if (!result) return failed;
  for (const core::ChannelValues& values : *result) {
    failed |= bit_if(!values.values && is_transfer_failure(values.values.error()), values.channel);
  }
  return failed;
}

class SharedCardBackend final : public core::Backend {
 public:
  SharedCardBackend(const SerialModule& module, core::Reporter& reporter, const CardStart& start,
                    ChannelMask started)
      : module_(module),
        bus_(module.bus()),
        channels_(make_channel_backend(module_, reporter)),
        start_(start),
        started_(started) {}

  core::Result<uint64_t> read(uint8_t channel, Location location) override {
    return shared(channel, [&] { return channels_->read(channel, location); });
  }
  core::Status write(uint8_t channel, Location location, uint64_t value) override {
    return shared(channel, [&] { return channels_->write(channel, location, value); });
  }
  core::Result<std::vector<core::ChannelReading>> read_channels(ChannelMask channels, Location location) override {
    return shared(0, [&] { return channels_->read_channels(channels, location); });
  }
  core::Result<std::vector<uint64_t>> read_eeprom_batch(uint8_t channel,
                                                        std::span<const Location> locations) override {
    return shared(channel, [&] { return channels_->read_eeprom_batch(channel, locations); });
  }
  core::Status write_eeprom_batch(uint8_t channel, std::span<const core::EepromWrite> writes) override {
    return shared(channel, [&] { return channels_->write_eeprom_batch(channel, writes); });
  }
  core::Result<std::vector<core::ChannelValues>> read_eeprom_channels(ChannelMask channels,
                                                                      std::span<const Location> locations) override {
    return shared(0, [&] { return channels_->read_eeprom_channels(channels, locations); });
  }

 private:
  // Holds the lock for as long as it lives.
  class Held {
   public:
    explicit Held(platform::CardLock* lock) : lock_(lock) {}
    ~Held() {
      if (lock_ != nullptr) lock_->release();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    platform::CardLock* lock_;
  };

  // One access, made again while its replies slipped.
  template <class Access>
  auto shared(uint8_t channel, const Access& access) -> decltype(access()) {
    for (int attempt = 1;; ++attempt) {
      if (core::Status got = acquire(); !got) return got.error();
      Held held(start_.sharing.lock);
      (void)bus_.take_stray_replies();  // left by an access that was abandoned
      auto result = access();
      if (const ChannelMask stopped = restartable(transfer_failures(result, channel)); stopped != 0) {
        if (core::Status restarted = restart(stopped); !restarted) return restarted.error();
        result = access();
      }
      if (abandoned(result)) return result;
      core::Result<bool> in_step = replies_in_step();
      if (!in_step) return in_step.error();
      if (*in_step) return result;
      if (attempt == MAX_ATTEMPTS) return replies_out_of_step();
      if (core::Status synced = resync(); !synced) return synced.error();
    }
  }

  core::Status acquire() {
    platform::CardLock* lock = start_.sharing.lock;
    if (lock == nullptr) return {};
    core::Result<bool> others = lock->acquire(module_.waits());
    if (!others) return others.error();
    if (*others) {
      module_.forget_idle();
      restarted_ = 0;
    }
    return {};
  }

  // The failed channels worth starting again: started by this link, and not started
  // again already since another program last held the card (a channel with no
  // drive would otherwise be started again on every access).
  ChannelMask restartable(ChannelMask failed) const {
    if (!start_.sharing.restart_stopped) return 0;
    return static_cast<ChannelMask>(failed & started_ & ~restarted_);
  }

  core::Status restart(ChannelMask channels) {
    restarted_ |= channels;
    for (uint8_t channel = 0; channel < core::CHANNEL_COUNT; ++channel) {
      if ((channels & core::channel_bit(channel)) == 0) continue;
      if (core::Status done = module_.set_baudrate(channel, start_.baudrate); !done) return done;
    }
    if (core::Status done = module_.stop(channels); !done) return done;
    if (start_.mode == StartMode::setup_no_crc) {
      for (uint8_t channel = 0; channel < core::CHANNEL_COUNT; ++channel) {
        if ((channels & core::channel_bit(channel)) == 0) continue;
        if (core::Status done = module_.set_no_crc(channel, DISABLECRC); !done) return done;
      }
    }
    core::Result<uint8_t> failed = module_.start_setup(channels);
    if (!failed) return failed.error();
    return {};
  }

  core::Result<bool> replies_in_step() { return card::replies_in_step(bus_, start_.sharing); }

  core::Status resync() {
    for (int read = 0; read < MAX_RESYNC_READS; ++read) {
      core::Result<bool> in_step = replies_in_step();
      if (!in_step) return in_step.error();
      if (*in_step) return {};
    }
    return replies_out_of_step();
  }

  SerialModule module_;
  HostBus& bus_;
  std::unique_ptr<core::Backend> channels_;
  CardStart start_;
  ChannelMask started_;
  ChannelMask restarted_ = 0;
};

}  // namespace

core::Result<bool> replies_in_step(HostBus& bus, const Sharing& sharing) {
  if (!sharing.verify_replies || !bus.replies_may_slip()) return true;
  core::Result<uint32_t> cookie = bus.read32(QX3COOKIEOFFSET);
  if (!cookie) return cookie.error();
  return bus.take_stray_replies() == 0 && *cookie == QX3COOKIE;
}

bool is_transfer_failure(const core::Failure& failure) {
  return failure.kind == core::FailureKind::module && failure.scope == core::FailureScope::channel;
}

core::Failure replies_out_of_step() {
  core::Failure failure =
      core::fail(core::FailureKind::corrupt, "Replies from the card out of step: a reply was duplicated or delayed");
  return failure;
}

std::unique_ptr<core::Backend> make_card_backend(const SerialModule& module, core::Reporter& reporter,
                                                 const CardStart& start, ChannelMask started) {
  return std::make_unique<SharedCardBackend>(module, reporter, start, started);
}

}  // namespace card
