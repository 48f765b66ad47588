// The card's serial-channel module: port addresses, commands and their waits,
// module RAM, channel set-up and run.
#pragma once

#include <cstdint>

namespace card {

inline constexpr int AXISSTRIDE = 4;
inline constexpr uint8_t MAXAXIS = 7;

inline constexpr uint32_t STARTBIT = 0x800;
inline constexpr uint32_t SETUPMODE = 0x700;
inline constexpr uint32_t STARTSETUPCOMMAND = 3840;
inline constexpr uint32_t STOPALLCOMMAND = 2048;
inline constexpr uint32_t DOITCOMMAND = 4096;
inline constexpr uint32_t DOITBIT = 4096;
inline constexpr uint32_t REQUESTBIT = 8192;
inline constexpr uint32_t WRITEBIT = 32768;
inline constexpr uint32_t STARTCOMMAND = 0x900;
inline constexpr uint32_t STOPCOMMAND = 0x800;
inline constexpr uint32_t STOPMODE = 0;
inline constexpr uint32_t NORMALMODE = 0x100;
inline constexpr uint32_t STOPALLMODE = 255;

inline constexpr uint16_t SSZALMAJORREVISIONLOC = 2;
inline constexpr uint16_t SSZALMINORREVISIONLOC = 3;
inline constexpr uint16_t SSZALCHANNELSTARTLOC = 4;
inline constexpr uint16_t SSZALCHANNELSTRIDELOC = 5;
inline constexpr uint16_t SSZALPROCESSORTYPE = 6;
inline constexpr uint16_t SSZALNUMBEROFCHANNELS = 7;

inline constexpr uint16_t CHANRECVSTRINGOFFSET = 0;
inline constexpr uint16_t CHANSTATEOFFSET = 16;
inline constexpr uint16_t CHANERROROFFSET = 17;
inline constexpr uint16_t CHANERRORLOGOFFSET = 18;
inline constexpr uint16_t CHANSTATUSOFFSET = 19;
inline constexpr uint16_t CHANCRCCOUNTOFFSET = 20;
inline constexpr uint16_t CHANCOOKIECOUNTOFFSET = 21;
inline constexpr uint16_t CHANOVERRUNCOUNTOFFSET = 22;
inline constexpr uint16_t CHANTIMEOUTCOUNTOFFSET = 23;
inline constexpr uint16_t CHANEXTRACHARCOUNTOFFSET = 24;
inline constexpr uint16_t CHANBREAKCOUNTOFFSET = 25;
inline constexpr uint16_t CHANREMFAULTCOUNTOFFSET = 26;
inline constexpr uint16_t CHANERRORCOUNTOFFSET = 27;
inline constexpr uint16_t CHANZALDATASIZEOFFSET = 28;
inline constexpr uint16_t CHANIDOFFSET = 29;
inline constexpr uint16_t CHANDISABLECRCOFFSET = 30;
inline constexpr uint16_t NUCHANFREE0OFFSET = 31;
inline constexpr uint16_t CHANCHKTOOMANYERRSOFFSET = 32;
inline constexpr uint16_t CHANSTARTTIMEOFFSET = 33;
inline constexpr uint16_t CHANTIMEOUTOFFSET = 35;
inline constexpr uint16_t CHANGENERICOFFSET = 36;
inline constexpr uint16_t CHANREMFAULTOFFSET = 37;
inline constexpr uint16_t CHANWHATIAMOFFSET = 38;
inline constexpr uint16_t CHANBAUDRATEOFFSET = 42;
inline constexpr uint16_t CHANRPCRECVSIZEOFFSET = 46;
inline constexpr uint16_t CHANRPCXMITSIZEOFFSET = 47;
inline constexpr uint16_t CHANMEASUREDTIMEOFFSET = 48;
inline constexpr uint16_t NUCHANZALCOMPATOFFSET = 49;

struct CSRREC {
  uint8_t ERROR, STATUS, STATE, WHATIAM;
};

extern uint8_t SSERIAL;
extern uint8_t NUMBEROFBASES;
extern uint16_t COMMANDPORT;
extern uint16_t OURDATAPORT;
extern uint16_t CSRPORT;
extern uint16_t INTERFACEPORT0;
extern uint16_t INTERFACEPORT1;
extern uint16_t INTERFACEPORT2;
extern uint8_t SSZALMAJORREVISION;
extern uint8_t SSZALMINORREVISION;
extern uint8_t SSZALCHANNELSTART;
extern uint8_t SSZALCHANNELSTRIDE;

bool INITIALIZESSBASEADDR();
void SSZALCHANNELACCESSINIT();
void WRITESSRAM(uint16_t address, uint8_t value);
uint8_t READSSRAM(uint16_t address);
void SSZALSETNOCRC(uint8_t channel, uint8_t value);
void SSZALSETBAUD(uint8_t channel, int32_t rate);
uint8_t STARTSETUP(uint8_t mask);
bool AXISSTARTSETUP(uint8_t channel);
bool WAITFORSTARTSETUP();
void SSZALSTOPALL();
uint8_t DOIT(uint8_t mask);
bool AXISDOIT(uint8_t channel);
void WAITFORDONE();
void SSZALDUMP(uint8_t channel);

}  // namespace card
