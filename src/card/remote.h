// Drive register, local-register and EEPROM access through a channel of the
// serial-channel module.
#pragma once

#include <cstdint>

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

uint8_t SSZALREADBYTE(uint8_t channel, uint16_t address);
uint16_t SSZALREADWORD(uint8_t channel, uint16_t address);
int32_t SSZALREADLONG(uint8_t channel, uint16_t address);
int64_t SSZALREADDOUBLE(uint8_t channel, uint16_t address);
void SSZALWRITEBYTE(uint8_t channel, uint16_t address, uint8_t data);
void SSZALWRITEWORD(uint8_t channel, uint16_t address, uint16_t data);
void SSZALWRITELONG(uint8_t channel, uint16_t address, int32_t data);
void SSZALWRITEDOUBLE(uint8_t channel, uint16_t address, int64_t data);
uint8_t SSZALREADZAL(uint8_t channel, uint8_t reg);
void SSZALWRITEZAL(uint8_t channel, uint8_t reg, uint8_t value);
uint8_t SSZALREADEEPROMBYTE(uint8_t channel, uint16_t address);
uint16_t SSZALREADEEPROMWORD(uint8_t channel, uint16_t address);
int32_t SSZALREADEEPROMLONG(uint8_t channel, uint16_t address);
void SSZALWRITEEEPROMBYTE(uint8_t channel, uint16_t address, uint8_t data);
void SSZALWRITEEEPROMWORD(uint8_t channel, uint16_t address, uint16_t data);
void SSZALWRITEEEPROMLONG(uint8_t channel, uint16_t address, int32_t data);

}  // namespace card
