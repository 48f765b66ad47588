// Bringing up the link to the drive, and the protocol-neutral access operations.
#pragma once

#include <cstdint>
#include <string>

namespace drivelink {

// Channel of the card's serial-channel module that leads to the drive; set by the
// front ends from the command line.
extern uint8_t AXIS;

// Runs the interface stage for THEINTERFACE, then the protocol stage for PROTOCOL.
// MESSAGE carries the mode request in ("Setup Mode") and the status text out.
bool INITIALIZEINTERFACE(std::string& MESSAGE);

uint8_t READBYTE(uint16_t ADD);
uint16_t READWORD(uint16_t ADD);
int32_t READLONG(uint16_t ADD);
int64_t READDOUBLE(uint16_t ADD);
uint8_t READEEPROMBYTE(uint16_t ADD);
uint16_t READEEPROMWORD(uint16_t ADD);
int32_t READEEPROMLONG(uint16_t ADD);

void WRITEBYTE(uint16_t ADD, uint8_t DATA);
void WRITEWORD(uint16_t ADD, uint16_t DATA);
void WRITELONG(uint16_t ADD, int32_t DATA);
void WRITEDOUBLE(uint16_t ADD, int64_t DATA);
void WRITEEEPROMBYTE(uint16_t ADD, uint8_t DATA);
void WRITEEEPROMWORD(uint16_t ADD, uint16_t DATA);
void WRITEEEPROMLONG(uint16_t ADD, int32_t DATA);

}  // namespace drivelink
