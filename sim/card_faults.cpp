#include "card_faults.h"

#include <cstdlib>

namespace sim {

const char CARD_FAULT_HELP[] =
    "  silent               answer nothing at all\n"
    "  silent-after=N       stop answering after N register reads\n"
    "  short-reply          answer register reads with 2 bytes instead of 4\n"
    "  stray                send one unasked-for reply before the first real one\n"
    "  dup=N[:MS]           (UDP) the N-th answered register read is answered twice, the copy MS ms later\n"
    "  late=N:MS            (UDP) the N-th answered register read is answered MS ms late\n"
    "  badcookie            wrong identification cookie at 0x0100\n"
    "  nomodule             identification ROM without the serial-channel module\n"
    "  twomodules           a decoy serial-channel entry before the real one\n"
    "  zeromasks            no pin marked as a module output (all masks 0)\n"
    "  idrom-badmodptr      module table pointer beyond the ROM\n"
    "  idrom-badpinptr      pin table pointer beyond the ROM\n"
    "  idrom-wideio         more I/O pins than the pin table holds\n"
    "  idrom-zeroportwidth  port width 0\n"
    "  idrom-manyports      pins spread over more than six ports\n"
    "  busy                 the module's command register never clears\n"
    "  busy-after=N         it clears for the first N commands only\n"
    "  busy-slow=MS         (UDP) while it stays busy, each register read is answered MS ms late\n"
    "  notready             the command register reads 0 once after each command,\n"
    "                       then shows that command again\n"
    "  nostart              a channel start never completes\n"
    "  startfail            a channel start reports the channel failed\n"
    "  runfail              a channel run reports the channel failed\n"
    "  nodrive=K            no drive on channel K (repeatable): its start and runs fail\n"
    "  nonvol-once          the drives' non-volatile flag survives its first clear\n"
    "  nonvol-stuck         the drives' non-volatile flag never clears\n";

namespace {

bool parse_count(const std::string& text, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return *end == '\0' && value >= 0;
}

// "N:MS": the N-th answered read (from 1) and a delay of at most a minute.
bool add_read_fault(const std::string& text, std::vector<CardFaults::LateReply>& faults) {
  const auto colon = text.find(':');
  long read = 0;
  long ms = 0;
  if (colon == std::string::npos || !parse_count(text.substr(0, colon), read) || read < 1 ||
      !parse_count(text.substr(colon + 1), ms) || ms > 60000)
    return false;
  faults.push_back({read, static_cast<int>(ms)});
  return true;
}

}  // namespace

bool add_card_fault(const std::string& name, CardFaults& f) {
  const std::string after = "silent-after=";
  if (name.rfind(after, 0) == 0) return parse_count(name.substr(after.size()), f.silent_after);
  const std::string busy_after = "busy-after=";
  if (name.rfind(busy_after, 0) == 0) return parse_count(name.substr(busy_after.size()), f.busy_after);
  const std::string busy_slow = "busy-slow=";
  if (name.rfind(busy_slow, 0) == 0) {
    long ms = 0;
    if (!parse_count(name.substr(busy_slow.size()), ms) || ms > 60000) return false;
    f.busy_slow_ms = static_cast<int>(ms);
    return true;
  }
  const std::string dup = "dup=";
  if (name.rfind(dup, 0) == 0) {
    const std::string rest = name.substr(dup.size());
    if (rest.find(':') == std::string::npos) return add_read_fault(rest + ":0", f.duplicated);
    return add_read_fault(rest, f.duplicated);
  }
  const std::string late = "late=";
  if (name.rfind(late, 0) == 0) return add_read_fault(name.substr(late.size()), f.late);
  const std::string no_drive = "nodrive=";
  if (name.rfind(no_drive, 0) == 0) {
    long channel = -1;
    if (!parse_count(name.substr(no_drive.size()), channel) || channel > 7) return false;
    f.no_drive = static_cast<uint8_t>(f.no_drive | (1u << channel));
    return true;
  }
  if (name == "silent") f.silent = true;
  else if (name == "short-reply") f.short_reply = true;
  else if (name == "stray") f.stray = true;
  else if (name == "badcookie") f.bad_cookie = true;
  else if (name == "nomodule") f.no_module = true;
  else if (name == "twomodules") f.two_modules = true;
  else if (name == "zeromasks") f.zero_masks = true;
  else if (name == "idrom-badmodptr") f.idrom = IdromDefect::module_pointer;
  else if (name == "idrom-badpinptr") f.idrom = IdromDefect::pin_pointer;
  else if (name == "idrom-wideio") f.idrom = IdromDefect::wide_io;
  else if (name == "idrom-zeroportwidth") f.idrom = IdromDefect::zero_port_width;
  else if (name == "idrom-manyports") f.idrom = IdromDefect::many_ports;
  else if (name == "busy") f.busy = true;
  else if (name == "notready") f.stale = true;
  else if (name == "nostart") f.no_start = true;
  else if (name == "startfail") f.start_fail = true;
  else if (name == "runfail") f.run_fail = true;
  else if (name == "nonvol-once") f.nonvol_clears_ignored = 1;
  else if (name == "nonvol-stuck") f.nonvol_clears_ignored = -1;
  else return false;
  return true;
}

}  // namespace sim
