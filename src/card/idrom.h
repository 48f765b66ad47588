// The card's identification ROM: cookie check, copy, module lookup, output masks.
#pragma once

#include <array>
#include <cstdint>

namespace card {

inline constexpr uint16_t QX3COOKIEOFFSET = 0x0100;
inline constexpr uint16_t IDOFFSET = 0x0100;
inline constexpr uint16_t IDROMPOINTER = 0x010C;
inline constexpr uint32_t QX3COOKIE = 0x55AACAFE;
inline constexpr int IDROMSIZE = 256;
inline constexpr int IDROMHEADERSIZE = 16;
inline constexpr int MAXMODULES = 32;
inline constexpr int MAXPINS = 144;
inline constexpr int NUMOUTPUTPORTS = 6;
inline constexpr uint8_t OUTPUTMARKER = 128;
inline constexpr uint8_t OUTPUTMASK = 127;

inline constexpr uint8_t NULLTAG = 0;
inline constexpr uint8_t IRQLOGICTAG = 1;
inline constexpr uint8_t WATCHDOGTAG = 2;
inline constexpr uint8_t IOPORTTAG = 3;
inline constexpr uint8_t QCOUNTTAG = 4;
inline constexpr uint8_t STEPGENTAG = 5;
inline constexpr uint8_t PWMTAG = 6;
inline constexpr uint8_t SPITAG = 7;
inline constexpr uint8_t SSITAG = 8;
inline constexpr uint8_t UARTTXTAG = 9;
inline constexpr uint8_t UARTRXTAG = 10;
inline constexpr uint8_t ADDRXTAG = 11;
inline constexpr uint8_t MUXEDQCOUNTTAG = 12;
inline constexpr uint8_t MUXEDQCOUNTSELTAG = 13;
inline constexpr uint8_t BSPITAG = 14;
inline constexpr uint8_t DBSPITAG = 15;
inline constexpr uint8_t DPLLTAG = 16;
inline constexpr uint8_t MUXEDQCOUNTMIMTAG = 17;
inline constexpr uint8_t MUXEDQCOUNTSELMIMTAG = 18;
inline constexpr uint8_t TPPWMTAG = 19;
inline constexpr uint8_t WAVEGENTAG = 20;
inline constexpr uint8_t DAQFIFOTAG = 21;
inline constexpr uint8_t BINOSCTAG = 22;
inline constexpr uint8_t DMDMATAG = 23;
inline constexpr uint8_t BISSTAG = 24;
inline constexpr uint8_t FABSTAG = 25;
inline constexpr uint8_t LEDTAG = 128;
inline constexpr uint8_t RESMODTAG = 192;
inline constexpr uint8_t SSERIALTAG = 193;
inline constexpr uint8_t TWIDDLERTAG = 194;

struct IDROMHEADERTYPE {
  uint32_t IDROMTYPE, MODULEPOINTER, PINDESCPOINTER, BOARDNAMELOW, BOARDNAMEHIGH, FPGASIZE,
      FPGAPINS, IOPORTS, IOWIDTH, PORTWIDTH, CLOCKLOW, CLOCKHIGH, INSTSTRIDE0, INSTSTRIDE1,
      REGSTRIDE0, REGSTRIDE1;
};

struct MODULETYPE {
  uint8_t GTAG, VERSION, CLOCK, NUMINSTANCES;
  uint16_t BASEADDR;
  uint8_t NUMREGISTERS, STRIDES;
  uint32_t MULTREGS;
};

struct PINDESCTYPE {
  uint8_t PNUMBER, GTAG, CHAN, PTAG;
};

extern int32_t IDROMOFFSET;
extern std::array<uint32_t, IDROMSIZE> IDROMASARRAY;
extern IDROMHEADERTYPE IDROMHEADER;
extern int32_t MODULEOFFSET;
extern int32_t PINDESCOFFSET;
extern std::array<MODULETYPE, MAXMODULES> MODULES;
extern std::array<PINDESCTYPE, MAXPINS + 1> PINDESCS;  // indexed 1 to MAXPINS
extern std::array<uint32_t, NUMOUTPUTPORTS> OUTPUTMASKS;

void FILLQX3ARRAY();
bool GETMODULEINFO(uint8_t MODULE, uint16_t& BASE, uint8_t& NUMREGS);
void ZEROMASKS();
void SETALLQX3OUTPUTMASKS();

}  // namespace card
