// The wire trace, in the same form as the tools' own (--trace, ZR90_TRACE), so that
// the two can be laid side by side: one line per frame, datagram or chunk.
//   "12.345 > 44 34 12 98"   from the host (the tools) to the simulator
//   "12.401 < 5A"            from the simulator to the host
//   "# text"                 a note on what the simulator did
// Milliseconds since the simulator started, three decimals; the text protocol also
// shows the characters in quotes.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace sim {

class Trace {
 public:
  // An empty path traces nothing.
  explicit Trace(const std::string& path);
  ~Trace();
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  void from_host(const std::string& bytes) { line('>', bytes); }
  void to_host(const std::string& bytes) { line('<', bytes); }
  // A free-form note, "# text".
  void note(const std::string& text);
  // Text protocols: the lines also show the characters.
  void show_text(bool on) { show_text_ = on; }

 private:
  void line(char direction, const std::string& bytes);
  std::FILE* file_ = nullptr;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  bool show_text_ = false;
};

}  // namespace sim
