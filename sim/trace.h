// The wire trace: every byte or datagram, one line per chunk.
//   "> 44 34 12 98"   from the host (the tools) to the simulator
//   "< 5A"            from the simulator to the host
#pragma once

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

 private:
  void line(char direction, const std::string& bytes);
  std::FILE* file_ = nullptr;
};

}  // namespace sim
