// What parmpeek and parmpoke share: the command-line state, the name lookup with
// its offset, the list of names, the usage exit and the link start.
#pragma once

#include <cstdint>
#include <string>

#include "dictionary/dictionary.h"

namespace tools {

// The resolved parameter: the row's name as stored, its address plus the offset
// (kept to 16 bits) and its type.
extern std::string PARMNAME;
extern uint16_t PARMLOC;
extern dict::PARAMETERTYPE PARMTYPE;

extern bool USEHEX;
extern bool DOREPEAT;
extern bool GETADDRESS;
// 0 when the last number conversion succeeded, 1 when it failed.
extern int16_t RETCODE;
// Mode request to, and status text from, the interface initialisation.
extern std::string MESSAGE;

// The command line as short strings: argument i (1-based), empty when not given.
class Arguments {
 public:
  Arguments(int argc, char** argv);
  std::string operator[](int i) const;

 private:
  int argc_;
  char** argv_;
};

// Resolves "name", "name+offset": true when the name is a dictionary row. An offset
// that is not a number ends the run with "Can't parse offset".
bool FINDPARM(const std::string& ANAME);

// Reports a name that is not in the dictionary, lists every name (pausing for the
// reader every 20 lines) and ends the run with exit code 2.
[[noreturn]] void SHOWPARAMETERS(const std::string& S);

// An empty line, "Press return to continue", and one line of standard input.
void PAUSE();

// The usage line and an empty line; exit code 2.
[[noreturn]] void USAGE(const std::string& usage_line);

// The axis argument: when it converts as a number, drivelink::AXIS takes its low 8
// bits; otherwise AXIS is left at 0. RETCODE tells which.
void set_axis(const std::string& argument);

// True when an upper-cased argument is the one-letter flag.
bool is_flag(const std::string& argument, char flag);

// "Setup Mode" into the interface initialisation; a failure ends the run with the
// status text.
void start_link();

// Right-aligns a number in width characters (a longer number is kept whole).
std::string right_aligned(const std::string& digits, std::size_t width);

}  // namespace tools
