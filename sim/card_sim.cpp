// zr90sim card: the FPGA interface card with a drive on each of its eight serial
// channels, reached over EZAL16 datagrams or over its ZAL serial host port.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "card_transport.h"
#include "commands.h"

namespace sim {

namespace {

constexpr int EXIT_USAGE = 2;

const char CARD_HELP[] =
    "Usage: zr90sim card [--udp ADDRESS [--port P] [--allow-remote] | --pty [--link PATH] [--crc off|on|either]]\n"
    "                    [--model static|moving [--seed N]] [--trace FILE] [--fault NAME]...\n"
    "\n"
    "An FPGA interface card with a serial-channel module and a simulated drive on each\n"
    "of its channels 0 to 7. Prints \"ready ADDRESS\" or \"ready PTY-PATH\" once it serves,\n"
    "and runs until SIGTERM or SIGINT (Ctrl-C). On SIGUSR1 it takes in everything\n"
    "sent to it so far, lets a partial frame run out, and prints \"idle\".\n"
    "\n"
    "  --udp ADDRESS   EZAL16 datagrams on ADDRESS, port 27181 (the default: 127.0.0.1);\n"
    "                  a loopback address (127.x.x.x) unless --allow-remote is given\n"
    "  --allow-remote  serve an address other hosts can reach\n"
    "  --port P        another UDP port\n"
    "  --pty           the card's ZAL serial host port on a pseudo-terminal\n"
    "  --link PATH     also make PATH a symbolic link to the pseudo-terminal\n"
    "  --crc MODE      host port CRC-8: off, on, or either (the default)\n"
    "  --model MODEL   static (the default): the drives' values stay as preloaded or\n"
    "                  written; moving: each drive's current loop, temperature and bus\n"
    "                  voltage move (see zr90sim drive --help and the documentation)\n"
    "  --seed N        moving only: the seed of the drives' bus voltage noise (default 1;\n"
    "                  channel K uses N + K)\n"
    "  --trace FILE    write every datagram or byte chunk to FILE: \"> \" from the\n"
    "                  tools, \"< \" to them, \"# \" notes on what the card did\n"
    "  --fault NAME    misbehave on purpose (repeatable):\n";

struct CardOptions {
  bool pty = false;
  std::string address = "127.0.0.1";
  int port = EZAL16_PORT;
  std::string link;
  bool allow_remote = false;
  CrcMode crc = CrcMode::either;
  std::string trace;
  CardFaults faults;
  MotionOptions motion;
};

int usage_error(const std::string& text) {
  std::fprintf(stderr, "zr90sim card: %s (zr90sim card --help lists the options)\n", text.c_str());
  return EXIT_USAGE;
}

bool parse_crc(const std::string& text, CrcMode& mode) {
  if (text == "off") mode = CrcMode::off;
  else if (text == "on") mode = CrcMode::on;
  else if (text == "either") mode = CrcMode::either;
  else return false;
  return true;
}

bool parse_port(const std::string& text, int& port) {
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 1 || value > 65535) return false;
  port = static_cast<int>(value);
  return true;
}

// 0 when the options are good, else the exit code (after the message).
int parse(const std::vector<std::string>& args, CardOptions& o) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool has_value = i + 1 < args.size();
    if (a == "--pty") {
      o.pty = true;
    } else if (a == "--udp" && has_value) {
      o.pty = false;
      o.address = args[++i];
    } else if (a == "--port" && has_value) {
      if (!parse_port(args[++i], o.port)) return usage_error("bad port " + args[i]);
    } else if (a == "--allow-remote") {
      o.allow_remote = true;
    } else if (a == "--link" && has_value) {
      o.link = args[++i];
    } else if (a == "--crc" && has_value) {
      if (!parse_crc(args[++i], o.crc)) return usage_error("--crc takes off, on or either");
    } else if (a == "--model" && has_value) {
      if (!parse_motion_model(args[++i], o.motion.moving)) return usage_error("--model takes static or moving");
    } else if (a == "--seed" && has_value) {
      if (!parse_motion_seed(args[++i], o.motion.seed)) return usage_error("bad seed " + args[i]);
    } else if (a == "--trace" && has_value) {
      o.trace = args[++i];
    } else if (a == "--fault" && has_value) {
      if (!add_card_fault(args[++i], o.faults)) return usage_error("unknown fault " + args[i]);
    } else {
      return usage_error("unknown option or missing value: " + a);
    }
  }
  // A simulated card answers anyone who asks: only this machine, unless told.
  in_addr address{};
  if (!o.pty && !o.allow_remote && inet_pton(AF_INET, o.address.c_str(), &address) == 1 &&
      (ntohl(address.s_addr) >> 24) != 127) {
    return usage_error(o.address + " is not a loopback address; --allow-remote serves it anyway");
  }
  return 0;
}

}  // namespace

int run_card(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(CARD_HELP, stdout);
      std::fputs(CARD_FAULT_HELP, stdout);
      return 0;
    }
  }
  CardOptions options;
  if (int code = parse(args, options); code != 0) return code;
  install_stop_signals();
  Trace trace(options.trace);
  CardModel card(options.faults, options.motion);
  if (!options.trace.empty()) card.set_note_sink([&trace](const std::string& text) { trace.note(text); });
  if (options.pty) return serve_card_pty(card, options.faults, options.crc, options.link, trace);
  return serve_card_udp(card, options.faults, options.address, options.port, trace);
}

}  // namespace sim
