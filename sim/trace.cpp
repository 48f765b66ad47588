#include "trace.h"

#include "platform/wire_trace.h"

namespace sim {

Trace::Trace(const std::string& path) {
  if (!path.empty()) file_ = std::fopen(path.c_str(), "w");
}

Trace::~Trace() {
  if (file_ != nullptr) std::fclose(file_);
}

void Trace::note(const std::string& text) {
  if (file_ == nullptr) return;
  std::fprintf(file_, "# %s\n", text.c_str());
  std::fflush(file_);
}

// Flushed per line so that a test may read the trace while the simulator still runs.
void Trace::line(char direction, const std::string& bytes) {
  if (file_ == nullptr || bytes.empty()) return;
  const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start_;
  const std::string text = platform::WireTrace::format(elapsed.count(), direction,
                                                       reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                                       show_text_) + "\n";
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fflush(file_);
}

}  // namespace sim
