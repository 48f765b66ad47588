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

// The backend works through a copy of the module's description; the module's bus
// and the reporter are borrowed and must outlive it.
std::unique_ptr<core::Backend> make_card_backend(const SerialModule& module, core::Reporter& reporter);

}  // namespace card
