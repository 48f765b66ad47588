// The FPGA interface card as the link sees it: a 32-bit register bus (EZAL16
// datagrams, ZAL on the card's host port, or nothing), and the card backend that
// reaches the drives through the serial-channel module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "card/identity.h"
#include "core/access.h"
#include "core/clock.h"
#include "core/reporter.h"
#include "core/result.h"
#include "platform/card_lock.h"
#include "platform/udp_socket.h"
#include "zal/zal.h"

namespace card {

inline constexpr char EZAL16PORT[] = "27181";
inline constexpr int EZAL16TIMEOUT_MS = 1000;
inline constexpr uint8_t MAXAXIS = 7;

// A channel beyond MAXAXIS: the module has no registers for it.
core::Failure bad_channel();

// 32-bit card registers at byte addresses.
class HostBus {
 public:
  virtual ~HostBus() = default;
  HostBus() = default;
  HostBus(const HostBus&) = delete;
  HostBus& operator=(const HostBus&) = delete;

  virtual core::Result<uint32_t> read32(uint16_t address) = 0;
  virtual core::Status write32(uint16_t address, uint32_t value) = 0;
  // Whether a reply can answer another request than the one just sent: datagrams
  // may be duplicated or delayed on the way; bytes on a serial line may not.
  virtual bool replies_may_slip() const { return false; }
  // How many replies that answered nothing asked were thrown away since the last
  // call: each one means a reply taken before it may have been out of step.
  virtual std::size_t take_stray_replies() { return 0; }
};

// The EZAL16 request datagrams, as plain functions over bytes.
std::string ezal16_write_request(uint16_t address, uint32_t value);
std::string ezal16_read_request(uint16_t address);

// One datagram per access over a connected socket, which the bus takes over; a read
// waits reply_ms for its reply. A datagram the system refuses to send is a failure
// whose detail names the peer (the card's address) and the system's reason.
std::unique_ptr<HostBus> make_ezal16_bus(std::unique_ptr<platform::UdpSocket> socket, std::string peer = {},
                                         int reply_ms = EZAL16TIMEOUT_MS);
// 32-bit ZAL register accesses on the card's host port.
std::unique_ptr<HostBus> make_oszal_bus(zal::ZalLink& zal);
// The interface kinds without a register path: reads give 0, writes go nowhere.
std::unique_ptr<HostBus> make_null_bus();

// What the link asks of the serial-channel module when it opens.
enum class StartMode : uint8_t {
  none,          // find the module, start nothing
  setup,         // start the channels in setup mode
  setup_no_crc,  // the same, with the channels' CRC turned off
};

// How a program shares the card with others on its host.
struct Sharing {
  // Taken around every access; none for a card no other program can reach.
  platform::CardLock* lock = nullptr;
  // After each access, a read of the identification cookie shows whether every
  // reply answered its own request; an access whose replies slipped (a datagram
  // duplicated or delayed on the way) is made again, a bounded number of times.
  bool verify_replies = false;
  // A channel whose transfer fails after another program held the card is started
  // again once and the access repeated: that program's set-up may have stopped it.
  bool restart_stopped = false;
};

struct CardStart {
  StartMode mode = StartMode::setup;
  core::ChannelMask channels = 1;
  int32_t baudrate = 0;
  // Leave out the busy check before a run when the module is known to be idle.
  bool fewest_exchanges = false;
  // The set-up runs under the lock, and stops only the requested channels when
  // stopped channels are started again (other programs' channels keep running).
  Sharing sharing = {};
};

struct OpenedCard {
  std::unique_ptr<core::Backend> backend;
  // Requested channels that did not start.
  core::ChannelMask not_started = 0;
  // The module's whole answer to the start command, every channel's bit (0xFF when
  // it never completed). The single-channel programs count any bit as a failed start.
  uint8_t start_reply = 0;
  // What the card is; kept for whoever asks, it costs no access.
  CardIdentity identity;
};

// Checks the card's identification, copies its IDROM, finds the serial-channel
// module, writes the output masks and starts the requested channels with one start
// command. The module's polls and pauses, then and later, wait by `waits`. The
// failure's text is parmpeek's and parmpoke's ("No SSZAL hardware", ...).
core::Result<OpenedCard> open_card(HostBus& bus, const CardStart& start, core::Waits waits, core::Reporter& reporter);

}  // namespace card
