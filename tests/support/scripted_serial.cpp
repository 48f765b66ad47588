#include "support/scripted_serial.h"

#include <algorithm>
#include <thread>


namespace testsupport {

namespace {

// Never destroyed: ports still open at exit release their claim on it.
ScriptedLine*& line_holder() {
  static ScriptedLine* line = new ScriptedLine;
  return line;
}

// A device of an earlier line must not release the claim on a fresh one.
int& line_generation() {
  static int generation = 0;
  return generation;
}

class ScriptedDevice final : public platform::SerialDevice {
 public:
  ~ScriptedDevice() override {
    if (open_ && generation_ == line_generation()) scripted_line().release();
  }
  bool open(const std::string& name) override {
    open_ = scripted_line().claim(name);
    return open_;
  }
  bool configure(int32_t rate) override {
    scripted_line().record_rate(rate);
    return open_ && !scripted_line().configure_fails;
  }
  std::size_t bytes_waiting() override { return open_ ? scripted_line().waiting() : 0; }
  bool wait_readable(int timeout_ms) override {
    if (!open_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
      return false;
    }
    return scripted_line().wait(timeout_ms);
  }
  std::size_t read_waiting(uint8_t* buffer, std::size_t max) override {
    return open_ ? scripted_line().take(buffer, max) : 0;
  }
  bool write_all(const uint8_t* data, std::size_t size, int) override {
    if (!open_) return false;
    scripted_line().receive_from_host(data, size);
    return true;
  }
  void purge() override {
    if (open_) scripted_line().flush_input();
  }
  bool set_rts() override {
    if (open_) scripted_line().raise_rts();
    return open_;
  }
  std::string last_error_text() const override { return open_ ? "no error" : "not open"; }

 private:
  bool open_ = false;
  int generation_ = line_generation();
};

}  // namespace

void ScriptedLine::expect(const std::string& request, const std::string& reply, int delay_ms) {
  rules_.push_back({request, reply, delay_ms});
}

void ScriptedLine::arrive(const std::string& bytes, int delay_ms) {
  const Arrival arrival{Clock::now() + std::chrono::milliseconds(delay_ms), bytes};
  auto later = std::upper_bound(arrivals_.begin(), arrivals_.end(), arrival.at,
                                [](Clock::time_point at, const Arrival& a) { return at < a.at; });
  arrivals_.insert(later, arrival);
}

bool ScriptedLine::claim(const std::string& name) {
  opened_names_.push_back(name);
  if (open_fails || held_) return false;
  held_ = true;
  return true;
}

void ScriptedLine::release_due() {
  const auto now = Clock::now();
  while (!arrivals_.empty() && arrivals_.front().at <= now) {
    incoming_ += arrivals_.front().bytes;
    arrivals_.pop_front();
  }
}

std::size_t ScriptedLine::unread() {
  release_due();
  return incoming_.size();
}

std::size_t ScriptedLine::waiting() {
  if (endless) return 64;
  release_due();
  return incoming_.size();
}

bool ScriptedLine::wait(int timeout_ms) {
  if (waiting() > 0) return true;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  if (!arrivals_.empty() && arrivals_.front().at <= deadline) {
    std::this_thread::sleep_until(arrivals_.front().at);
    release_due();
    return true;
  }
  std::this_thread::sleep_until(deadline);
  return false;
}

std::size_t ScriptedLine::take(uint8_t* buffer, std::size_t max) {
  ++reads_;
  if (endless) {
    std::fill_n(buffer, std::min<std::size_t>(max, 64), static_cast<uint8_t>(endless_byte));
    return std::min<std::size_t>(max, 64);
  }
  release_due();
  const std::size_t n = std::min(max, incoming_.size());
  std::copy_n(incoming_.begin(), n, buffer);
  incoming_.erase(0, n);
  return n;
}

void ScriptedLine::receive_from_host(const uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  written_ += bytes;
  unmatched_ += bytes;
  while (!rules_.empty() && unmatched_.size() >= rules_.front().request.size()) {
    const Rule rule = rules_.front();
    rules_.pop_front();
    const std::string got = unmatched_.substr(0, rule.request.size());
    unmatched_.erase(0, rule.request.size());
    if (got != rule.request) {
      mismatches_.push_back(got);
      continue;
    }
    if (!silent && !rule.reply.empty()) arrive(rule.reply, rule.delay_ms);
  }
}

ScriptedLine& scripted_line() { return *line_holder(); }

void reset_scripted_line() {
  delete line_holder();
  line_holder() = new ScriptedLine;
  ++line_generation();
}

std::unique_ptr<platform::SerialDevice> make_scripted_device() { return std::make_unique<ScriptedDevice>(); }

std::unique_ptr<serial::SerialLine> open_scripted_line(int char_timeout_ms) {
  reset_scripted_line();
  auto line = std::make_unique<serial::SerialLine>(make_scripted_device);
  line->set_char_timeout_ms(char_timeout_ms);
  if (!line->open("COM1", 115200, 1)) return nullptr;
  return line;
}

}  // namespace testsupport
