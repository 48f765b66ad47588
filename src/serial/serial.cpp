#include "serial/serial.h"

#include <cmath>
#include <limits>
#include <optional>
#include <sstream>
#include <utility>

#include "core/text.h"
#include "dictionary/dictionary.h"

namespace serial {

namespace {

// A line that never stops talking must not hold the link for ever: discarding
// gives up after this long and the caller's synchronisation then fails.
constexpr int64_t TOSS_LIMIT_MS = 2000;
// What discarding costs per character: a pause before and after each one.
constexpr int64_t TOSS_PACE_MS = 2;

// Halves go to the even neighbour: 2500000 / 64 is 39062.
std::optional<int32_t> line_rate(int32_t baudrate, double multiplier) {
  if (!(multiplier > 0)) return std::nullopt;
  const double exact = std::nearbyint(static_cast<double>(baudrate) / multiplier);
  if (!(exact >= 1) || exact > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return static_cast<int32_t>(exact);
}

}  // namespace

core::Failure missed_answer(uint64_t value) {
  core::Failure failure = core::fail(core::FailureKind::missed_answer, "Serial Timeout Error");
  failure.value = value;
  return failure;
}

core::Failure char_timeout() {
  return core::fail(core::FailureKind::timeout, dict::error_text(dict::CHARTIMEOUTERR), core::FailureForm::alone);
}

SerialLine::SerialLine(core::Waits waits, DeviceFactory factory)
    : waits_(waits), factory_(factory ? std::move(factory) : DeviceFactory(platform::make_serial_device)) {}

std::string SerialLine::where() const {
  const std::string path = port_ ? port_->device().path() : std::string();
  return port_name_ + (path.empty() ? "" : " (" + path + ")") + ": ";
}

core::Status SerialLine::open(const std::string& port_name, int32_t baudrate, double multiplier,
                              const std::string& device) {
  port_name_ = port_name;
  unsent_ = false;
  port_ = std::make_unique<platform::SerialPort>(factory_(waits_));
  const bool connected = port_->CONNECT(port_name, device);
  const std::optional<int32_t> rate = line_rate(baudrate, multiplier);
  const bool configured = connected && rate && port_->CONFIG(*rate);
  // Whatever the drive sent before the open is no answer to anything asked here,
  // and a port that took no rate is discarded from all the same.
  toss_chars();
  if (configured) return {};

  core::Failure failure = core::fail(core::FailureKind::open, core::shortstring(port_name + " open failed"));
  failure.detail = where();
  if (port_->device().in_use()) {
    // "COM1 (/dev/ttyUSB0) is in use by another program (zr90, process 1234)"
    failure.detail.resize(failure.detail.size() - 2);
    failure.detail += " is " + port_->device().last_error_text();
  } else if (connected && !rate) {
    std::ostringstream reason;
    reason << "no line rate is " << baudrate << " bit/s divided by " << multiplier;
    failure.detail += reason.str();
  } else {
    failure.detail += port_->device().last_error_text();
  }
  return failure;
}

bool SerialLine::receive_char(uint8_t& c) {
  c = 0;
  if (!port_ || unsent_) return false;
  c = port_->RECVBYTE(char_timeout_ms_);
  return port_->last_error() == platform::SerialError::none;
}

bool SerialLine::receive_string(std::size_t n, std::string& s) {
  s.clear();
  if (n == 0) return true;
  if (!port_ || unsent_) return false;
  s = port_->RECVBUFFERSTR(n, char_timeout_ms_);
  if (port_->last_error() == platform::SerialError::none) return true;
  s.clear();
  return false;
}

core::Status SerialLine::send_char(uint8_t c) { return send_string(std::string(1, static_cast<char>(c))); }

core::Status SerialLine::send_string(const std::string& s) {
  unsent_ = !port_ || !port_->SENDSTRING(s);
  if (!unsent_) return {};
  const bool late = port_ && port_->last_error() == platform::SerialError::timeout;
  core::Failure failure = core::fail(late ? core::FailureKind::timeout : core::FailureKind::open,
                                     core::shortstring(port_name_ + " write failed"));
  failure.detail = where() + (port_ ? port_->device().last_error_text() : "not open");
  return failure;
}

void SerialLine::discard_received() {
  if (!port_) return;
  // All of it is already here: taking it waits for nothing.
  const std::size_t pending = port_->pending();
  if (pending > 0) port_->RECVBUFFERSTR(pending, char_timeout_ms_);
}

bool SerialLine::toss_chars() {
  if (!port_) return true;
  const int64_t start = waits_.now_ms();
  const int64_t give_up = start + TOSS_LIMIT_MS;
  std::size_t tossed = 0;
  for (;;) {
    if (!waits_.sleep_ms(1)) return false;
    // Everything pending goes in one round: all of it is already here, so taking it
    // waits for nothing.
    const std::size_t pending = port_->pending();
    if (pending > 0) port_->RECVBUFFERSTR(pending, char_timeout_ms_);
    tossed += pending;
    if (!waits_.sleep_ms(1)) return false;
    const bool quiet = port_->pending() == 0;
    const int64_t now = waits_.now_ms();
    // Discarding one character per round would keep the line watched for about
    // TOSS_PACE_MS per character; a backlog taken at once must not stop the watch
    // sooner, or the rest of an answer still on its way (a slow rate, a UART that
    // delivers in batches) would be taken for the next reply.
    if (quiet && now - start >= TOSS_PACE_MS * static_cast<int64_t>(tossed)) return true;
    if (now >= give_up) return quiet;
  }
}

void SerialLine::set_rts_high() {
  if (port_) port_->SETRTSF(true);
}

}  // namespace serial
