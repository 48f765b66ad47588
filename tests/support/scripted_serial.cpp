#include "support/scripted_serial.h"

#include <algorithm>

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
  explicit ScriptedDevice(core::Waits waits) : waits_(waits) {}
  ~ScriptedDevice() override {
    if (open_ && generation_ == line_generation()) scripted_line().release();
  }
  bool open(const std::string& name, const std::string& device) override {
    open_ = scripted_line().claim(name, device);
    return open_;
  }
  bool configure(int32_t rate) override {
    scripted_line().record_rate(rate);
    return open_ && !scripted_line().configure_fails;
  }
  std::size_t bytes_waiting() override { return open_ ? scripted_line().waiting() : 0; }
  bool wait_readable(int timeout_ms) override {
    if (!open_) {
      waits_.sleep_ms(timeout_ms);
      return false;
    }
    return scripted_line().wait(timeout_ms, waits_);
  }
  std::size_t read_waiting(uint8_t* buffer, std::size_t max) override {
    return open_ ? scripted_line().take(buffer, max) : 0;
  }
  platform::SerialError write_all(const uint8_t* data, std::size_t size, int) override {
    if (!open_ || !scripted_line().write_error.empty()) return platform::SerialError::failed;
    scripted_line().receive_from_host(data, size);
    return platform::SerialError::none;
  }
  void purge() override {
    if (open_) scripted_line().flush_input();
  }
  bool set_rts() override {
    if (open_) scripted_line().raise_rts();
    return open_;
  }
  std::string last_error_text() const override {
    if (!open_) return "not open";
    return scripted_line().write_error.empty() ? "no error" : scripted_line().write_error;
  }

 private:
  core::Waits waits_;
  bool open_ = false;
  int generation_ = line_generation();
};

}  // namespace

void ScriptedLine::expect(const std::string& request, const std::string& reply, int delay_ms) {
  rules_.push_back({request, reply, delay_ms});
}

void ScriptedLine::arrive(const std::string& bytes, int delay_ms) {
  schedule({test_clock().now_ms() + delay_ms, bytes});
}

void ScriptedLine::cancel_after(int delay_ms) { schedule({test_clock().now_ms() + delay_ms, {}, true}); }

void ScriptedLine::schedule(Arrival arrival) {
  auto later = std::upper_bound(arrivals_.begin(), arrivals_.end(), arrival.at,
                                [](int64_t at, const Arrival& a) { return at < a.at; });
  arrivals_.insert(later, std::move(arrival));
}

bool ScriptedLine::claim(const std::string& name, const std::string& device) {
  opened_names_.push_back(name);
  opened_devices_.push_back(device);
  if (open_fails || held_) return false;
  held_ = true;
  return true;
}

void ScriptedLine::release_due() {
  const int64_t now = test_clock().now_ms();
  while (!arrivals_.empty() && arrivals_.front().at <= now) {
    if (arrivals_.front().cancels) {
      test_cancel().cancel();
    } else {
      incoming_ += arrivals_.front().bytes;
    }
    arrivals_.pop_front();
  }
}

std::size_t ScriptedLine::unread() {
  release_due();
  return incoming_.size();
}

std::size_t ScriptedLine::waiting() {
  release_due();
  return endless ? 64 : incoming_.size();
}

// Moves the clock on from one scheduled event to the next, as far as the deadline.
bool ScriptedLine::wait(int timeout_ms, core::Waits waits) {
  const int64_t deadline = waits.now_ms() + timeout_ms;
  for (;;) {
    if (waiting() > 0) return true;
    const int64_t now = waits.now_ms();
    if (waits.cancelled() || now >= deadline) return false;
    const int64_t next = arrivals_.empty() ? deadline : std::min(deadline, arrivals_.front().at);
    waits.sleep_ms(static_cast<int>(next - now));
  }
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
  test_cancel().reset();
}

std::unique_ptr<platform::SerialDevice> make_scripted_device(core::Waits waits) {
  return std::make_unique<ScriptedDevice>(waits);
}

std::unique_ptr<serial::SerialLine> open_scripted_line(int char_timeout_ms) {
  reset_scripted_line();
  auto line = std::make_unique<serial::SerialLine>(test_waits(), make_scripted_device);
  line->set_char_timeout_ms(char_timeout_ms);
  if (!line->open("COM1", 115200, 1)) return nullptr;
  return line;
}

}  // namespace testsupport
