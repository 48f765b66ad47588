// Shared by the card tests: a simulated card of the test's own on a loopback address
// or a pseudo-terminal, the environments that lead the tools to it, and the wire
// trace as request and reply lines.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/harness.h"

namespace cardtest {

using testsupport::Env;
using Lines = std::vector<std::string>;

inline const char PEEK[] = "parmpeek";
inline const char POKE[] = "parmpoke";
inline const char BAUD_NOTICE[] = "Baudrate not in Environment, assuming 2500000 Baud";

// A running zr90sim card with its trace file.
struct Card {
  std::unique_ptr<testsupport::Simulator> sim;
  std::string trace_path;
  Env env;  // the tools' environment for this card

  // The wire lines of the trace ("> ..." from the tools, "< ..." from the card), once
  // the card has taken in all the tools sent: a tool's last datagram or bytes may
  // get no answer, so the tool can end before the card has read them.
  Lines wire() const {
    EXPECT_TRUE(sim && sim->settle()) << "zr90sim card did not settle";
    return wire_of(testsupport::wire_text(testsupport::read_file(trace_path)));
  }
  // Waits, while a tool runs, until the requests on the wire satisfy done.
  bool wait_for_requests(const std::function<bool(const Lines&)>& done, int timeout_ms = 10000) const {
    return testsupport::wait_for_file(
        trace_path, [&](const std::string& text) { return done(requests_of(wire_of(testsupport::wire_text(text)))); }, timeout_ms);
  }
  // Only the requests, "> " stripped.
  Lines requests() const { return requests_of(wire()); }
  ~Card() {
    if (sim) sim->stop();
    // What went over the wire is the first thing to look at when a test failed.
    if (::testing::Test::HasFailure()) std::fprintf(stderr, "card trace:\n%s", testsupport::read_file(trace_path).c_str());
    std::remove(trace_path.c_str());
  }

  static Lines lines_of(const std::string& text) {
    testsupport::RunResult r;
    r.out = text;
    return r.lines();
  }
  static Lines wire_of(const std::string& text) {
    Lines out;
    for (const std::string& line : lines_of(text))
      if (line.rfind("> ", 0) == 0 || line.rfind("< ", 0) == 0) out.push_back(line);
    return out;
  }
  static Lines requests_of(const Lines& wire) {
    Lines out;
    for (const std::string& line : wire)
      if (line[0] == '>') out.push_back(line.substr(2));
    return out;
  }
};

// A card on a loopback address of the test's own (another one when the address is
// taken); extra holds --fault options and the like.
inline std::unique_ptr<Card> udp_card(const std::vector<std::string>& extra = {}) {
  auto card = std::make_unique<Card>();
  card->trace_path = testsupport::temp_path("card-trace");
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::string address = testsupport::unique_loopback_address();
    std::vector<std::string> args{"card", "--udp", address, "--trace", card->trace_path};
    args.insert(args.end(), extra.begin(), extra.end());
    card->sim = std::make_unique<testsupport::Simulator>(args);
    if (card->sim->started()) {
      card->env = {{"INTERFACE", "EZAL16"}, {"IPADDR", address}, {"PROTOCOL", "SSZAL"}};
      return card;
    }
  }
  ADD_FAILURE() << "zr90sim card did not start on any loopback address";
  return card;
}

// A card whose ZAL host port is a pseudo-terminal, given to the tools as a COM port.
inline std::unique_ptr<Card> pty_card(const std::string& crc, const std::vector<std::string>& extra = {}) {
  auto card = std::make_unique<Card>();
  card->trace_path = testsupport::temp_path("card-trace");
  std::vector<std::string> args{"card", "--pty", "--crc", crc, "--trace", card->trace_path};
  args.insert(args.end(), extra.begin(), extra.end());
  card->sim = std::make_unique<testsupport::Simulator>(args);
  if (!card->sim->started()) {
    ADD_FAILURE() << "zr90sim card --pty did not start";
    return card;
  }
  card->env = testsupport::com_port_env(testsupport::unique_com_number(), card->sim->ready_value());
  card->env["INTERFACE"] = "OSZAL";
  card->env["PROTOCOL"] = "SSZAL";
  return card;
}

// Datagram texts as the trace shows them.
inline std::string hex_bytes(uint32_t value, int count) {
  std::string out;
  char byte[4];
  for (int i = 0; i < count; ++i) {
    std::snprintf(byte, sizeof byte, "%s%02X", i == 0 ? "" : " ", (value >> (8 * i)) & 0xFF);
    out += byte;
  }
  return out;
}
inline std::string read_request(uint16_t address) { return "01 42 " + hex_bytes(address, 2); }
inline std::string write_request(uint16_t address, uint32_t value) {
  return "01 C2 " + hex_bytes(address, 2) + " " + hex_bytes(value, 4);
}

}  // namespace cardtest
