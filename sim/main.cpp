// zr90sim: a simulated ZR90 drive or FPGA interface card for trying the tools
// without hardware.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "tools/common/about.h"

namespace {

constexpr char USAGE[] =
    "Usage: zr90sim drive [options]   a drive on a pseudo-terminal\n"
    "       zr90sim card [options]    an FPGA card on a loopback address or a pseudo-terminal\n"
    "       zr90sim drive --help | zr90sim card --help   the options of each\n"
    "       zr90sim -h | --help | -V | --version\n";

const tools::About ZR90SIM_ABOUT{"zr90sim", USAGE};

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
  if (tools::answer_about(ZR90SIM_ABOUT, argc, argv)) return 0;
  if (argc < 2) {
    std::fputs(USAGE, stdout);
    return 2;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  if (std::strcmp(argv[1], "drive") == 0) return sim::run_drive(args);
  if (std::strcmp(argv[1], "card") == 0) return sim::run_card(args);
  std::fputs(USAGE, stdout);
  return 2;
}
