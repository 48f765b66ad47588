// Misbehaviour the simulated card can be asked for (zr90sim card --fault NAME), so
// that every failure path of the tools can be driven end to end.
#pragma once

#include <string>
#include <vector>

namespace sim {

enum class IdromDefect {
  none,
  module_pointer,  // module table beyond the ROM
  pin_pointer,     // pin table beyond the ROM
  wide_io,         // more I/O pins than the pin table holds
  zero_port_width,
  many_ports,      // pins spread over more ports than there are mask registers
};

struct CardFaults {
  // Transport level.
  bool silent = false;        // nothing is ever answered
  long silent_after = -1;     // stop answering after this many register reads
  bool short_reply = false;   // register reads answered with 2 bytes only
  bool stray = false;         // one unasked-for reply goes out before the first real one
  // Per answered register read, numbered from 1 (UDP only).
  struct LateReply {
    long read;
    int ms;
  };
  std::vector<LateReply> duplicated;  // the reply goes out twice, the copy ms later (0: at once)
  std::vector<LateReply> late;        // the reply goes out ms late
  // Card level.
  bool bad_cookie = false;
  bool no_module = false;     // no serial-channel module in the ROM
  bool two_modules = false;   // a decoy serial-channel entry before the real one
  bool zero_masks = false;    // no pin is marked as a module output
  IdromDefect idrom = IdromDefect::none;
  // Serial-channel module.
  bool busy = false;          // the command register never clears
  long busy_after = -1;       // commands carried out before the register stops clearing
  int busy_slow_ms = 0;       // (UDP) while it stays busy, each read is answered this late
  bool stale = false;         // after each command it reads 0 once, then the old command again
  bool no_start = false;      // a start command never completes
  bool start_fail = false;    // a start command reports its channels failed
  bool run_fail = false;      // a run command reports its channels failed
  uint8_t no_drive = 0;       // channels with no drive: their start and runs fail
  // Drives.
  int nonvol_clears_ignored = 0;  // -1: the non-volatile flag never clears
};

// Adds the fault NAME (NAME=VALUE for silent-after and nodrive). False for an unknown name.
bool add_card_fault(const std::string& name, CardFaults& faults);

// One line per fault, for --help.
extern const char CARD_FAULT_HELP[];

}  // namespace sim
