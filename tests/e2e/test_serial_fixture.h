// A drive simulator on its own pseudo-terminal, and the tools pointed at it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/harness.h"

namespace serialtest {

using testsupport::Env;
using testsupport::RunResult;
using Lines = std::vector<std::string>;

// "RW0820\r" as the trace shows it: "52 57 30 38 32 30 0D".
inline std::string hex_bytes(const std::string& bytes) {
  std::string out;
  char buffer[4];
  for (unsigned char b : bytes) {
    std::snprintf(buffer, sizeof buffer, "%s%02X", out.empty() ? "" : " ", b);
    out += buffer;
  }
  return out;
}

// CRC-8 as the drive computes it (reflected polynomial 0x8C), written out again
// here so that the expected wire bytes do not come from the code under test.
inline unsigned char crc8(const std::string& bytes) {
  unsigned crc = 0;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0x8C : crc >> 1;
  }
  return static_cast<unsigned char>(crc);
}

inline std::string with_crc(const std::string& frame) { return frame + static_cast<char>(crc8(frame)); }

inline Lines fatal(const std::string& message) { return {"", message}; }

class Drive {
 public:
  // protocol: "ZAL" or "HEX" for the tools; sim_args go to "zr90sim drive".
  Drive(const std::string& protocol, std::vector<std::string> sim_args)
      : trace_(testsupport::temp_path("trace")), sim_(make_args(protocol, std::move(sim_args), trace_)) {
    env_ = testsupport::com_port_env(port_, sim_.ready_value());
    // Whole strings, not literals assigned in place: GCC 12 sees a false overlap there (-Wrestrict).
    const testsupport::Env link{{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", protocol}, {"BAUDRATE", "115200"},
                                {"BAUDRATEMUL", "1"}};
    for (const auto& [name, value] : link) env_.insert_or_assign(name, value);
  }
  ~Drive() {
    // What went over the wire is the first thing to look at when a test failed.
    if (::testing::Test::HasFailure()) std::fprintf(stderr, "drive trace:\n%s", testsupport::read_file(trace_).c_str());
    std::remove(trace_.c_str());
  }

  bool started() const { return sim_.started(); }
  // The COM port name the tools are given for the simulator's terminal.
  std::string port_name() const { return "COM" + std::to_string(port_); }
  const std::string& path() const { return sim_.ready_value(); }
  Env& env() { return env_; }

  // Each run starts once the simulator has taken in all that was sent before (a
  // write, or the flag clear after an EEPROM read, is a tool's last act and gets no
  // answer): the tool flushes the port when it opens it, and on a pseudo-terminal
  // that also drops bytes the simulator has not read yet.
  RunResult run(const std::string& tool, const std::vector<std::string>& args) {
    settle();
    return testsupport::run_tool(tool, args, env_);
  }
  RunResult peek(const std::vector<std::string>& args) { return run("parmpeek", args); }
  RunResult poke(const std::vector<std::string>& args) { return run("parmpoke", args); }

  // Lines of the wire trace, once the simulator has caught up: a tool may end
  // right after its last write, before the simulator has read it. mark() makes
  // since_mark() start after the lines there are now.
  Lines trace() {
    settle();
    return lines_of(testsupport::wire_text(testsupport::read_file(trace_)));
  }
  void mark() { mark_ = trace().size(); }
  Lines since_mark() {
    Lines all = trace();
    return after_mark(all);
  }
  // Only what the host sent ("> " lines) since the mark.
  Lines sent_since_mark() { return requests_of(since_mark()); }
  // Waits, while a tool runs, until what the host sent since the mark satisfies done.
  bool wait_for_sent(const std::function<bool(const Lines&)>& done, int timeout_ms = 10000) {
    return testsupport::wait_for_file(
        trace_, [&](const std::string& text) { return done(requests_of(after_mark(lines_of(testsupport::wire_text(text))))); },
        timeout_ms);
  }
  std::string stop() { return sim_.stop(); }

 private:
  static std::vector<std::string> make_args(const std::string& protocol, std::vector<std::string> args,
                                            const std::string& trace) {
    std::vector<std::string> all{"drive", "--protocol", protocol == "HEX" ? "hex" : "zal", "--trace", trace};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }

  void settle() {
    if (sim_.started()) {
      EXPECT_TRUE(sim_.settle()) << "zr90sim drive did not settle";
    }
  }
  // Complete lines only: the simulator may be writing the last one.
  static Lines lines_of(const std::string& text) {
    Lines lines;
    std::string line;
    for (char c : text) {
      if (c != '\n') {
        line += c;
        continue;
      }
      lines.push_back(line);
      line.clear();
    }
    return lines;
  }
  Lines after_mark(const Lines& all) const {
    return Lines(all.begin() + static_cast<long>(std::min(mark_, all.size())), all.end());
  }
  static Lines requests_of(const Lines& trace) {
    Lines out;
    for (const auto& l : trace)
      if (l.rfind("> ", 0) == 0) out.push_back(l.substr(2));
    return out;
  }

  std::string trace_;
  testsupport::Simulator sim_;
  int port_ = testsupport::unique_com_number();
  Env env_;
  std::size_t mark_ = 0;
};

}  // namespace serialtest
