#include <utility>

#include "card/card.h"

namespace card {

namespace {

constexpr uint8_t EZAL16_COMMAND_LOW = 0x01;
constexpr uint8_t EZAL16_READ_HIGH = 0x42;
constexpr uint8_t EZAL16_WRITE_HIGH = 0xC2;  // the read command with the write bit (15) set
constexpr std::size_t EZAL16_REPLY_SIZE = 4;

void append_le(std::string& bytes, uint32_t value, int count) {
  for (int i = 0; i < count; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::string request_head(uint8_t command_high, uint16_t address) {
  std::string bytes;
  bytes.push_back(static_cast<char>(EZAL16_COMMAND_LOW));
  bytes.push_back(static_cast<char>(command_high));
  append_le(bytes, address, 2);
  return bytes;
}

class Ezal16Bus final : public HostBus {
 public:
  Ezal16Bus(std::unique_ptr<platform::UdpSocket> socket, std::string peer, int reply_ms)
      : socket_(std::move(socket)), peer_(std::move(peer)), reply_ms_(reply_ms) {}

  // A datagram waiting before the request goes out answers nothing asked (a
  // duplicate, a reply that came after its time-out); taken as this reply it would
  // shift every later read by one.
  core::Result<uint32_t> read32(uint16_t address) override {
    strays_ += socket_->discard_pending();
    if (!socket_->send(ezal16_read_request(address))) return send_failure();
    const std::string reply = socket_->receive_packet(reply_ms_);
    if (const int error = socket_->last_error(); error != 0) {
      if (error == platform::UdpSocket::CANCELLED) return core::fail(core::FailureKind::interrupted, "Interrupted");
      const auto kind =
          error == platform::UdpSocket::TIMED_OUT ? core::FailureKind::timeout : core::FailureKind::open;
      return core::fail(kind, socket_->last_error_text());
    }
    // A truncated reply carries no usable value; guessing the missing bytes would
    // hand the caller a register value the card never sent.
    if (reply.size() < EZAL16_REPLY_SIZE) {
      return core::fail(core::FailureKind::corrupt,
                        "Short reply from card: " + std::to_string(reply.size()) + " bytes");
    }
    uint32_t value = 0;
    for (std::size_t i = 0; i < EZAL16_REPLY_SIZE; ++i) {
      value |= static_cast<uint32_t>(static_cast<uint8_t>(reply[i])) << (8 * i);
    }
    return value;
  }

  bool replies_may_slip() const override { return true; }
  std::size_t take_stray_replies() override { return std::exchange(strays_, 0); }

  core::Status write32(uint16_t address, uint32_t value) override {
    // Writes are not acknowledged by the card: a datagram lost on the way goes
    // unnoticed, but one the system refuses to send does not.
    if (!socket_->send(ezal16_write_request(address, value))) return send_failure();
    return {};
  }

 private:
  // Said at once, in the words of a failed receive: no reply comes to a request
  // that never went out.
  core::Failure send_failure() const {
    core::Failure failure = core::fail(core::FailureKind::open, socket_->last_error_text());
    failure.detail = (peer_.empty() ? std::string() : peer_ + ": ") + socket_->last_error_text();
    return failure;
  }

  std::unique_ptr<platform::UdpSocket> socket_;
  std::string peer_;
  int reply_ms_;
  std::size_t strays_ = 0;
};

class OszalBus final : public HostBus {
 public:
  explicit OszalBus(zal::ZalLink& zal) : zal_(zal) {}

  core::Result<uint32_t> read32(uint16_t address) override {
    core::Result<uint64_t> value = zal_.read(core::Width::long_word, address);
    if (!value) return value.error();
    return static_cast<uint32_t>(*value);
  }

  core::Status write32(uint16_t address, uint32_t value) override {
    return zal_.write(core::Width::long_word, address, value);
  }

 private:
  zal::ZalLink& zal_;
};

// No register path: 0 never matches the identification cookie, so opening the
// card fails with its own message.
class NullBus final : public HostBus {
 public:
  core::Result<uint32_t> read32(uint16_t) override { return uint32_t{0}; }
  core::Status write32(uint16_t, uint32_t) override { return {}; }
};

}  // namespace

std::string ezal16_write_request(uint16_t address, uint32_t value) {
  std::string bytes = request_head(EZAL16_WRITE_HIGH, address);
  append_le(bytes, value, 4);
  return bytes;
}

std::string ezal16_read_request(uint16_t address) { return request_head(EZAL16_READ_HIGH, address); }

std::unique_ptr<HostBus> make_ezal16_bus(std::unique_ptr<platform::UdpSocket> socket, std::string peer,
                                         int reply_ms) {
  return std::make_unique<Ezal16Bus>(std::move(socket), std::move(peer), reply_ms);
}

std::unique_ptr<HostBus> make_oszal_bus(zal::ZalLink& zal) { return std::make_unique<OszalBus>(zal); }

std::unique_ptr<HostBus> make_null_bus() { return std::make_unique<NullBus>(); }

}  // namespace card
