// Where each dictionary row lives in the drive, and the codes that give meaning to
// some of its registers. Included by dictionary/dictionary.h.
#pragma once

#include <cstdint>

namespace dict {

// One location per dictionary row, named after the row. RAM rows hold byte addresses
// in the register space, EEPROM rows hold EEPROM addresses; the last three need more
// than 16 bits and are reached through their low 16 bits.
inline constexpr int32_t NULLLOC = 0x0800;
inline constexpr int32_t DUMMYLOC = 0x0802;
inline constexpr int32_t DUMMYHILOC = 0x0802;
inline constexpr int32_t PIDENALOC = 0x0804;
inline constexpr int32_t DRIVEMODELOC = 0x0806;
inline constexpr int32_t PWMLOC = 0x0808;
inline constexpr int32_t PHASEKLOC = 0x080A;
inline constexpr int32_t PHASEALOC = 0x080E;
inline constexpr int32_t KQPLOC = 0x0812;
inline constexpr int32_t KQILOC = 0x0814;
inline constexpr int32_t KQILLOC = 0x0818;
inline constexpr int32_t KDPLOC = 0x081A;
inline constexpr int32_t KDILOC = 0x081C;
inline constexpr int32_t KDILLOC = 0x0820;
inline constexpr int32_t IULOC = 0x0822;
inline constexpr int32_t IBLOC = 0x0822;
inline constexpr int32_t IVLOC = 0x0824;
inline constexpr int32_t ICLOC = 0x0824;
inline constexpr int32_t IWLOC = 0x0826;
inline constexpr int32_t IALOC = 0x0826;
inline constexpr int32_t BUSVLOC = 0x0828;
inline constexpr int32_t RAWTEMPERATURELOC = 0x082A;
inline constexpr int32_t TEMPERATURELOC = 0x082C;
inline constexpr int32_t GAINLOC = 0x082E;
inline constexpr int32_t ANGLELOC = 0x0830;
inline constexpr int32_t PWMRESLOC = 0x0832;
inline constexpr int32_t PWMFACTORLOC = 0x0834;
inline constexpr int32_t PWMLIMITLOC = 0x0836;
inline constexpr int32_t HALFPWMLOC = 0x0838;
inline constexpr int32_t UPWMLOC = 0x083A;
inline constexpr int32_t VPWMLOC = 0x083C;
inline constexpr int32_t WPWMLOC = 0x083E;
inline constexpr int32_t DEADZONELOC = 0x0840;
inline constexpr int32_t IALPHALOC = 0x0842;
inline constexpr int32_t IBETALOC = 0x0844;
inline constexpr int32_t IDLOC = 0x0846;
inline constexpr int32_t IQLOC = 0x0848;
inline constexpr int32_t VULOC = 0x084A;
inline constexpr int32_t VVLOC = 0x084C;
inline constexpr int32_t VWLOC = 0x084E;
inline constexpr int32_t ILIMITMULLOC = 0x0850;
inline constexpr int32_t FAULTLOC = 0x0852;
inline constexpr int32_t CLEARFAULTLOC = 0x0854;
inline constexpr int32_t OLDCLEARFAULTLOC = 0x0856;
inline constexpr int32_t FAULTMASKLOC = 0x0858;
inline constexpr int32_t STARTUPSTATUSLOC = 0x085A;
inline constexpr int32_t WATCHDOGTIMELOC = 0x085C;
inline constexpr int32_t WATCHDOGTIMERLOC = 0x085E;
inline constexpr int32_t QSETPOINTLOC = 0x0860;
inline constexpr int32_t DSETPOINTLOC = 0x0862;
inline constexpr int32_t BUSUNDERVMINLOC = 0x0864;
inline constexpr int32_t BUSUNDERVMAXLOC = 0x0866;
inline constexpr int32_t BUSOVERVLOC = 0x0868;
inline constexpr int32_t BRAKEONVLOC = 0x086A;
inline constexpr int32_t BRAKEOFFVLOC = 0x086C;
inline constexpr int32_t STATUSLOC = 0x086E;
inline constexpr int32_t CPUTYPELOC = 0x0870;
inline constexpr int32_t CONTROLTYPELOC = 0x0872;
inline constexpr int32_t SWREVISIONLOC = 0x0874;
inline constexpr int32_t SYSCLKLOC = 0x0876;
inline constexpr int32_t BIGCOOKIELOC = 0x087A;
inline constexpr int32_t BIGGERCOOKIELOC = 0x087E;
inline constexpr int32_t HWREVISIONLOC = 0x0886;
inline constexpr int32_t FAULTTIMERLOC = 0x0888;
inline constexpr int32_t TRAPADDRESSLOC = 0x088A;
inline constexpr int32_t TRAPNUMBERLOC = 0x088C;
inline constexpr int32_t TRAPCOUNTLOC = 0x088E;
inline constexpr int32_t TRAPSTATUSLOC = 0x0890;
inline constexpr int32_t TRAPACCLOC = 0x0892;
inline constexpr int32_t ZEROLOC = 0x0894;
inline constexpr int32_t FALSELOC = 0x0896;
inline constexpr int32_t ONELOC = 0x0898;
inline constexpr int32_t TRUELOC = 0x089A;
inline constexpr int32_t MINUSONELOC = 0x089C;
inline constexpr int32_t DELAYREGLOC = 0x089E;
inline constexpr int32_t INVTABLELOC = 0x08A0;
inline constexpr int32_t VALPHALOC = 0x08A2;
inline constexpr int32_t VBETALOC = 0x08A4;
inline constexpr int32_t VDLOC = 0x08A6;
inline constexpr int32_t VQLOC = 0x08A8;
inline constexpr int32_t SINETABLELOC = 0x08AA;
inline constexpr int32_t REFSINELOC = 0x08AC;
inline constexpr int32_t REFCOSINELOC = 0x08AE;
inline constexpr int32_t IUOFFSETLOC = 0x08B0;
inline constexpr int32_t IWOFFSETLOC = 0x08B2;
inline constexpr int32_t BNDERRLOC = 0x08B4;
inline constexpr int32_t MINDSPICPWMLOC = 0x08B6;
inline constexpr int32_t MAXDSPICPWMLOC = 0x08B8;
inline constexpr int32_t QSETLOC = 0x08BA;
inline constexpr int32_t DSETLOC = 0x08BC;
inline constexpr int32_t QINTEGRALLOC = 0x08BE;
inline constexpr int32_t QINTEGRALOVFLOC = 0x08C2;
inline constexpr int32_t DINTEGRALLOC = 0x08C4;
inline constexpr int32_t DINTEGRALOVFLOC = 0x08C8;
inline constexpr int32_t DIQDTLOC = 0x08CA;
inline constexpr int32_t DIDDTLOC = 0x08CC;
inline constexpr int32_t BOOTSTRAPTIMERLOC = 0x08CE;
inline constexpr int32_t PWMREQUESTLOC = 0x08D0;
inline constexpr int32_t OLDWATCHDOGTIMELOC = 0x08D2;
inline constexpr int32_t OLDIQLOC = 0x08D4;
inline constexpr int32_t OLDIDLOC = 0x08D6;
inline constexpr int32_t PARKTEMPLOC = 0x08D8;
inline constexpr int32_t OPERANDLOC = 0x08DA;
inline constexpr int32_t HIBITLOC = 0x08DE;
inline constexpr int32_t REFANGLELOC = 0x08E0;
inline constexpr int32_t TEMPILIMITLOC = 0x08E2;
inline constexpr int32_t TEMPISLOPELOC = 0x08E4;
inline constexpr int32_t MAXMODULEILOC = 0x08E6;
inline constexpr int32_t MAXCURRENTLOC = 0x08E8;
inline constexpr int32_t DERATEILOC = 0x08EA;
inline constexpr int32_t ILOOPLOC = 0x08EC;
inline constexpr int32_t CAPTURELOC = 0x08EE;
inline constexpr int32_t CAPTUREFLAGLOC = 0x08F0;
inline constexpr int32_t OLDCAPTURELOC = 0x08F2;
inline constexpr int32_t CAPTURECOUNTERLOC = 0x08F4;
inline constexpr int32_t PWMTEMPLOC = 0x08F6;
inline constexpr int32_t PROPBANDLOC = 0x08F8;
inline constexpr int32_t BOOTSTRAPVALUELOC = 0x08FA;
inline constexpr int32_t BOOTTIMERMULLOC = 0x08FC;
inline constexpr int32_t PIDONLOC = 0x08FE;
inline constexpr int32_t INTEGBOUNDLOC = 0x0900;
inline constexpr int32_t TLIMITSETPOINTILOC = 0x0902;
inline constexpr int32_t TEST0LOC = 0x0904;
inline constexpr int32_t TEST1LOC = 0x0906;
inline constexpr int32_t TEST2LOC = 0x0908;
inline constexpr int32_t TEST3LOC = 0x090A;
inline constexpr int32_t TEST4LOC = 0x090C;
inline constexpr int32_t TEST5LOC = 0x090E;
inline constexpr int32_t TEST6LOC = 0x0910;
inline constexpr int32_t TEST7LOC = 0x0912;
inline constexpr int32_t TEST8LOC = 0x0914;
inline constexpr int32_t TEST9LOC = 0x0916;
inline constexpr int32_t TEST10LOC = 0x0918;
inline constexpr int32_t TEST11LOC = 0x091A;
inline constexpr int32_t TEST12LOC = 0x091C;
inline constexpr int32_t LOGAINCOUNTERLOC = 0x091E;
inline constexpr int32_t UVWFAULTCOUNTERLOC = 0x0920;
inline constexpr int32_t NUCYCLESKIPSLOC = 0x0922;
inline constexpr int32_t CURRENTLIMITLOC = 0x0924;
inline constexpr int32_t PIDENASTATELOC = 0x0926;
inline constexpr int32_t UNITNUMBERLOC = 0x0928;
inline constexpr int32_t BLINKTIMERLOC = 0x092C;
inline constexpr int32_t BLINKLOC = 0x092E;
inline constexpr int32_t LASTINCLUDELOC = 0x0930;
inline constexpr int32_t NVMAXMODULEILOC = 0x0000;
inline constexpr int32_t NVMAXCURRENTLOC = 0x0002;
inline constexpr int32_t NVBAUDRATELOC = 0x0004;
inline constexpr int32_t NVREMBAUDRATELOC = 0x0006;
inline constexpr int32_t NVCRCENABLELOC = 0x0008;
inline constexpr int32_t NVKQPLOC = 0x000A;
inline constexpr int32_t NVKQILOC = 0x000C;
inline constexpr int32_t NVKQILOLOC = 0x000C;
inline constexpr int32_t NVKQIHILOC = 0x000E;
inline constexpr int32_t NVKQILLOC = 0x0010;
inline constexpr int32_t NVKDPLOC = 0x0012;
inline constexpr int32_t NVKDILOC = 0x0014;
inline constexpr int32_t NVKDILOLOC = 0x0014;
inline constexpr int32_t NVKDIHILOC = 0x0016;
inline constexpr int32_t NVKDILLOC = 0x0018;
inline constexpr int32_t NVQSETPOINTLOC = 0x001A;
inline constexpr int32_t NVDSETPOINTLOC = 0x001C;
inline constexpr int32_t NVDEADZONELOC = 0x001E;
inline constexpr int32_t NVFAULTMASKLOC = 0x0020;
inline constexpr int32_t NVBUSUNDERVMINLOC = 0x0022;
inline constexpr int32_t NVBUSUNDERVMAXLOC = 0x0024;
inline constexpr int32_t NVBUSOVERVLOC = 0x0026;
inline constexpr int32_t NVBRAKEONVLOC = 0x0028;
inline constexpr int32_t NVBRAKEOFFVLOC = 0x002A;
inline constexpr int32_t NVPWMRATELOC = 0x002C;
inline constexpr int32_t NVTEMPILIMITLOC = 0x002E;
inline constexpr int32_t NVTEMPISLOPELOC = 0x0030;
inline constexpr int32_t NVINTEGBOUNDLOC = 0x0032;
inline constexpr int32_t NVCURRENTLIMITLOC = 0x0034;
inline constexpr int32_t NVCOOKIELOC = 0x007E;
inline constexpr int32_t NVINVALIDLOC = 0xFFFF;
inline constexpr int32_t NVFBSLOC = 0xF7AC00;
inline constexpr int32_t NVFGSLOC = 0xF7AC04;
inline constexpr int32_t NVFPORLOC = 0xF7AC0C;

// Bits of "fault". The values 2, 8 and 256 are not assigned.
inline constexpr uint16_t WATCHDOGFAULT = 1;
inline constexpr uint16_t OVERTEMPFAULT = 4;
inline constexpr uint16_t HISIDECURRENTFAULT = 16;
inline constexpr uint16_t ULOOPCURRENTFAULT = 32;
inline constexpr uint16_t VLOOPCURRENTFAULT = 64;
inline constexpr uint16_t WLOOPCURRENTFAULT = 128;
inline constexpr uint16_t BUSHIVFAULT = 512;
inline constexpr uint16_t MAXBUSVFAULT = 1024;
inline constexpr uint16_t MODULEFAULT = 2048;
inline constexpr uint16_t UNUSEDFAULT1 = 4096;
inline constexpr uint16_t UNUSEDFAULT2 = 8192;
inline constexpr uint16_t OERR = 16384;
inline constexpr uint16_t FERR = 32768;

// Bits of "status".
inline constexpr uint16_t ILIMITEDSTATUS = 1;
inline constexpr uint16_t BRAKESTATUS = 2;
inline constexpr uint16_t BRAKEWASONSTATUS = 4;
inline constexpr uint16_t BUSLOVSTATUS = 8;
inline constexpr uint16_t WDTO = 16;
inline constexpr uint16_t SWR = 32;
inline constexpr uint16_t TRAP = 64;
inline constexpr uint16_t INVALIDSTATUS = 128;

// Bit-rate codes held in "nvbaudrate" and "nvrembaudrate".
inline constexpr uint8_t BAUD9600 = 0;
inline constexpr uint8_t BAUD19200 = 1;
inline constexpr uint8_t BAUD38400 = 2;
inline constexpr uint8_t BAUD57600 = 3;
inline constexpr uint8_t BAUD115200 = 4;
inline constexpr uint8_t BAUD230400 = 5;
inline constexpr uint8_t BAUD460800 = 6;
inline constexpr uint8_t BAUD921600 = 7;
inline constexpr uint8_t BAUD1250000 = 8;
inline constexpr uint8_t BAUD2500000 = 9;

// Values of flag registers, and where the firmware revision is kept.
inline constexpr uint16_t TRUEFLOC = 65535;
inline constexpr uint16_t FALSEFLOC = 0;
inline constexpr int32_t MAJORREVLOC = 64;
inline constexpr int32_t MINORREVLOC = 2;

// The EEPROM holds NVNUMBER bytes; its addresses wrap at NVADDRESSMASK.
inline constexpr int32_t NVNUMBER = 128;
inline constexpr int32_t NVADDRESSMASK = 127;

}  // namespace dict
