// The card path against a card that answers anything: reply datagrams of any
// length (0 to 64 KiB) for the identification, the IDROM and the module. No input
// may crash it, and a register read gives exactly the first four bytes of its
// reply, or fails when there are fewer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>

#include "card/card.h"
#include "core/reporter.h"
#include "instant_line.h"
#include "platform/udp_socket.h"

namespace {

// Records of the input: two bytes of length (least significant first), then as
// many bytes as there are left up to that length.
std::deque<std::string> datagrams_of(const uint8_t* data, std::size_t size) {
  std::deque<std::string> out;
  std::size_t at = 0;
  while (at + 2 <= size) {
    std::size_t length = data[at] | static_cast<std::size_t>(data[at + 1]) << 8;
    at += 2;
    if (length > size - at) length = size - at;
    out.emplace_back(reinterpret_cast<const char*>(data + at), length);
    at += length;
  }
  return out;
}

class ScriptedSocket final : public platform::UdpSocket {
 public:
  explicit ScriptedSocket(std::deque<std::string>& replies) : replies_(replies) {}
  bool connect(const std::string&, const std::string&) override { return true; }
  std::size_t discard_pending() override { return 0; }
  bool send(const std::string&) override { return true; }
  std::string receive_packet(int) override {
    if (replies_.empty()) {
      error_ = TIMED_OUT;
      return {};
    }
    error_ = 0;
    std::string reply = std::move(replies_.front());
    replies_.pop_front();
    return reply;
  }
  int last_error() const override { return error_; }
  std::string last_error_text() const override { return error_ == 0 ? "Success" : "Connection timed out"; }

 private:
  std::deque<std::string>& replies_;
  int error_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::deque<std::string> replies = datagrams_of(data, size);
  std::unique_ptr<card::HostBus> bus = card::make_ezal16_bus(std::make_unique<ScriptedSocket>(replies));

  const std::string first = replies.empty() ? std::string() : replies.front();
  const bool answered = !replies.empty();
  const core::Result<uint32_t> cookie = bus->read32(0x0100);
  if (cookie.ok() != (answered && first.size() >= 4)) std::abort();
  if (cookie.ok()) {
    uint32_t expected = 0;
    for (int i = 0; i < 4; ++i) expected |= static_cast<uint32_t>(static_cast<uint8_t>(first[i])) << (8 * i);
    if (*cookie != expected) std::abort();
  }

  core::SilentReporter quiet;
  const card::CardStart start{card::StartMode::setup, 0x05, 115200};
  // The module's pauses and polls wait by an instant clock: no input costs real time.
  core::Result<card::OpenedCard> opened = card::open_card(*bus, start, fuzzing::instant_waits(), quiet);
  if (opened) {
    (void)opened->backend->read(0, {core::Memory::ram, core::Width::word, 0x10});
    (void)opened->backend->write(2, {core::Memory::eeprom, core::Width::long_word, 0x0A}, 70000);
  }
  return 0;
}
