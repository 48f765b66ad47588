// The drive's built-in parameter dictionary, its named codes and the error table.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace dict {

enum class PARAMETERTYPE : uint8_t {
  TYPE_BYTE,
  TYPE_PTR,
  TYPE_FLAG,
  TYPE_MASK,
  TYPE_UINT,
  TYPE_INT,
  TYPE_ULONG,
  TYPE_LONG,
  TYPE_DOUBLE,
  TYPE_EVENT,
  TYPE_TRIPLE,
  TYPE_EBYTE,
  TYPE_EWORD,
  TYPE_ELONG,
  TYPE_LIT,
  TYPE_CONST,
  TYPE_ENUM,
  TYPE_BYTETABLE,
  TYPE_WORDTABLE,
};

struct ZORNPARAMREC {
  const char* PARMNAME;
  int32_t PARMLOC;
  PARAMETERTYPE PARMTYPE;
};

inline constexpr int LASTPARM = 178;
// Rows 1 to LASTPARM are ZORNPARAMS[0] to ZORNPARAMS[LASTPARM - 1].
extern const std::array<ZORNPARAMREC, LASTPARM> ZORNPARAMS;

// The names of the bits of the fault words (fault, faultmask, startupstatus) and of
// the status word, lowest bit first.
struct BITNAME {
  uint16_t BIT;
  const char* NAME;
};
extern const std::array<BITNAME, 13> FAULTBITS;
extern const std::array<BITNAME, 8> STATUSBITS;

// Error table. Codes equal the row numbers.
inline constexpr int16_t CHARTIMEOUTERR = 1;
inline constexpr int16_t CHARDATAERR = 2;
inline constexpr int16_t TIMEOUTIRBFIFONOTEMPTY = 3;
inline constexpr int16_t TIMEOUTICDFIFONOTFULL = 4;
inline constexpr int16_t TIMEOUTICDFIFONOTHALFFULL = 5;
inline constexpr int16_t TIMEOUTQRBFIFONOTEMPTY = 6;
inline constexpr int16_t TIMEOUTQCDFIFONOTFULL = 7;
inline constexpr int16_t TIMEOUTQCDFIFONOTHALFFULL = 8;
inline constexpr int16_t TIMEOUTQRBFIFOHALFFULL = 9;
inline constexpr int16_t TIMEOUTIRBFIFOHALFFULL = 10;
inline constexpr int16_t SSZALTRANSFERFAILED = 11;
inline constexpr int16_t LASTERROR = 12;

struct ERRREC {
  int16_t ERRNUM;
  const char* ERRSTR;
};
extern const std::array<ERRREC, LASTERROR> ERRORRECORD;

// The error table's text for a code ("Error N" for a code outside the table).
std::string error_text(int16_t code);

}  // namespace dict

// The ...LOC constants, fault, status and rate codes.
#include "dictionary/locations.h"
