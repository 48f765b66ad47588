// Drive register, local-register and EEPROM access through the channels of the
// serial-channel module: the card's core::Backend.
#pragma once

#include <cstdint>
#include <memory>

#include "card/sserial.h"
#include "core/access.h"
#include "core/reporter.h"

namespace card {

inline constexpr int COMMANDSHIFT = 24;
inline constexpr uint32_t READBYTECOMMAND = 1140850688;
inline constexpr uint32_t READWORDCOMMAND = 1157627904;
inline constexpr uint32_t READLONGCOMMAND = 1174405120;
inline constexpr uint32_t READDOUBLECOMMAND = 1191182336;
inline constexpr uint32_t WRITEBYTECOMMAND = 1677721600;
inline constexpr uint32_t WRITEWORDCOMMAND = 1694498816;
inline constexpr uint32_t WRITELONGCOMMAND = 1711276032;
inline constexpr uint32_t WRITEDOUBLECOMMAND = 1728053248;

// The accesses through the module's channels, as they go on the wire; the module,
// its bus and the reporter are borrowed and must outlive the backend.
std::unique_ptr<core::Backend> make_channel_backend(SerialModule& module, core::Reporter& reporter);

// The card's backend: the channel accesses under the start's sharing rules. It
// keeps its own copy of the module's description; `started` are the channels the
// link's set-up started, the only ones it ever starts again.
std::unique_ptr<core::Backend> make_card_backend(const SerialModule& module, core::Reporter& reporter,
                                                 const CardStart& start = {}, core::ChannelMask started = 0);

// Whether the failure is a channel's failed transfer ("SSZAL Transfer Failed").
bool is_transfer_failure(const core::Failure& failure);

// After an access: false when some reply answered another request than its own (a
// reply was thrown away on the way, or the identification cookie reads otherwise).
// Always true unless the sharing asks for the check and the bus can slip.
core::Result<bool> replies_in_step(HostBus& bus, const Sharing& sharing);

// A failure after which no reply is worth checking: nothing came, or the user asked
// to stop.
template <class R>
bool abandoned(const R& result) {
  if (result) return false;
  const core::FailureKind kind = result.error().kind;
  return kind == core::FailureKind::timeout || kind == core::FailureKind::interrupted ||
         kind == core::FailureKind::open;
}

// The failure of an access whose replies stayed out of step.
core::Failure replies_out_of_step();

}  // namespace card
