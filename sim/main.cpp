// zr90sim: a simulated ZR90 drive or FPGA interface card for trying the tools
// without hardware.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"

namespace {

void usage() {
  std::puts(
      "Usage: zr90sim drive [options]   a drive on a pseudo-terminal\n"
      "       zr90sim card [options]    an FPGA card on a loopback address or a pseudo-terminal\n"
      "       zr90sim drive --help | zr90sim card --help   the options of each");
}

}  // namespace

void sim::announce_ready(const std::string& value) {
  std::printf("ready %s\n", value.c_str());
  std::fflush(stdout);
}

void sim::announce_idle() {
  std::printf("idle\n");
  std::fflush(stdout);
}

int main(int argc, char** argv) {
  if (argc < 2) {
    usage();
    return 2;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  if (std::strcmp(argv[1], "drive") == 0) return sim::run_drive(args);
  if (std::strcmp(argv[1], "card") == 0) return sim::run_card(args);
  usage();
  return std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
}
