// The drive processor's text host protocol: two-letter commands with four-digit
// hexadecimal fields, one 16-bit word per command.
#pragma once

#include <cstdint>
#include <string>

namespace texthost {

inline constexpr uint8_t CR = 13;
inline constexpr uint8_t NAK = '?';
inline constexpr char SERINQUIREIDCOM[] = "II";
inline constexpr char SERREADPICWORDCOM[] = "RW";
inline constexpr char SERREADEEPROMWORDCOM[] = "Re";
inline constexpr char SERWRITEPICWORDCOM[] = "WW";
inline constexpr char SERWRITEEEPROMWORDCOM[] = "We";

std::string INQUIREID();
uint16_t SERREADPICWORD(uint16_t ADDRESS);
uint16_t SERREADEEPROMWORD(uint16_t ADD);
void SERWRITEPICWORD(uint16_t ADDRESS, uint16_t DATA);
void SERWRITEEEPROMWORD(uint16_t ADDR, uint16_t DATA);
bool SERSYNC();

}  // namespace texthost
