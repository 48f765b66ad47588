#include "tools/common/about.h"

#include <cstdio>

#include "zr90/version.h"

namespace tools {

namespace {

// The environment is the same for both tools; kept in one place so that their help
// texts cannot disagree.
#define ZR90_ENVIRONMENT_HELP                                                            \
  "Environment (the link to the drive):\n"                                               \
  "  INTERFACE    OSDEVICE (a serial port to the drive), EZAL16 (the interface card\n"   \
  "               over UDP) or OSZAL (the card on a serial port); required\n"            \
  "  PROTOCOL     HEX (text protocol, the default), ZAL (with OSDEVICE), SSZAL (with\n"  \
  "               EZAL16 or OSZAL) or DIRECT (dry run: reads give 0, writes send nothing)\n" \
  "  COMPORT      COMn, default COM1; on Linux the device is $ZR90_COMn if set,\n"       \
  "               else /dev/ttyS(n-1)\n"                                                 \
  "  BAUDRATE     bit/s, default 115200 (2500000 with SSZAL)\n"                          \
  "  BAUDRATEMUL  divisor of BAUDRATE, 1 to 64, default 1\n"                             \
  "  IPADDR       the card's IPv4 address (EZAL16)\n"

bool is_help(std::string_view arg) { return arg == "-h" || arg == "--help"; }
bool is_version(std::string_view arg) { return arg == "-V" || arg == "--version"; }

void print(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

const About PARMPEEK_ABOUT{
    "parmpeek",
    "Usage: parmpeek parm [axis] [q] [h] [r] [a]\n"
    "       parmpeek -h | --help | -V | --version\n"
    "\n"
    "Reads one named parameter of a ZR90 drive and prints \"Data \" and its value.\n"
    "\n"
    "  parm   a dictionary name in any letter case, optionally +offset: kqp, KQP,\n"
    "         kqp+2, null+$10; a name that is not in the dictionary lists them all\n"
    "  axis   the interface card's channel (0 to 7) that leads to the drive\n"
    "  h      print the value in hexadecimal\n"
    "  r      read again and again until a key is pressed or Ctrl-C\n"
    "  a      print \"Parm address: \" and the address first\n"
    "  q      ignored\n"
    "Flags are one letter each, in any case, in arguments 2 to 5.\n"
    "\n" ZR90_ENVIRONMENT_HELP
    "\n"
    "Exit status: 0 when the value was read, 2 on any failure.\n"};

const About PARMPOKE_ABOUT{
    "parmpoke",
    "Usage: parmpoke parm data [axis] [q] [h] [r]\n"
    "       parmpoke -h | --help | -V | --version\n"
    "\n"
    "Writes one value into one named parameter of a ZR90 drive; prints nothing on\n"
    "success.\n"
    "\n"
    "  parm   a dictionary name in any letter case, optionally +offset, as for parmpeek\n"
    "  data   a decimal number, rounded half to even (-5, 12.5, 1e3); with h, up to\n"
    "         16 hexadecimal digits without prefix; bytes take at most 255, words\n"
    "         at most 65535, and a negative value writes its two's complement\n"
    "  axis   the interface card's channel (0 to 7) that leads to the drive\n"
    "  h      data is hexadecimal\n"
    "  r      write again and again until a key is pressed or Ctrl-C\n"
    "  q      ignored\n"
    "Flags are one letter each, in any case, in arguments 3 to 5.\n"
    "\n" ZR90_ENVIRONMENT_HELP
    "\n"
    "Exit status: 0 when the value was written, 2 on any failure.\n"};

std::string version_line(std::string_view program) {
  return std::string(program) + " " ZR90_VERSION " (ZR90 service tools)\n";
}

bool answer_about(const About& about, int argc, const char* const* argv) {
  if (argc != 2) return false;
  const std::string_view arg = argv[1];
  if (is_help(arg)) {
    print(about.help);
    return true;
  }
  if (is_version(arg)) {
    print(version_line(about.program));
    return true;
  }
  return false;
}

}  // namespace tools
