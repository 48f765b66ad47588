#include "platform/serial_port.h"

#include <algorithm>
#include <array>
#include <utility>

namespace platform {

SerialPort::SerialPort(std::unique_ptr<SerialDevice> device) : device_(std::move(device)) {}

bool SerialPort::CONNECT(const std::string& name, const std::string& device) {
  store_.clear();
  store_head_ = 0;
  open_ = device_ && device_->open(name, device);
  if (!open_) {
    last_error_ = SerialError::failed;
    return false;
  }
  device_->purge();
  last_error_ = SerialError::none;
  return true;
}

bool SerialPort::CONFIG(int32_t rate) {
  const bool ok = open_ && rate > 0 && device_->configure(rate);
  last_error_ = ok ? SerialError::none : SerialError::failed;
  return ok;
}

std::size_t SerialPort::WAITINGDATA() { return open_ ? device_->bytes_waiting() : 0; }

std::size_t SerialPort::pending() { return (store_.size() - store_head_) + WAITINGDATA(); }

bool SerialPort::fill_store(int timeout_ms) {
  if (!open_) return false;
  if (device_->bytes_waiting() == 0 && !device_->wait_readable(timeout_ms)) return false;
  // Everything the OS holds comes over in one read, so a reply costs one call per
  // batch of arrivals rather than one per character.
  std::array<uint8_t, INPUT_QUEUE_SIZE> buffer;
  const std::size_t got = device_->read_waiting(buffer.data(), buffer.size());
  if (got == 0) return false;
  if (store_head_ == store_.size()) {
    store_.clear();
    store_head_ = 0;
  }
  store_.append(reinterpret_cast<const char*>(buffer.data()), got);
  return true;
}

uint8_t SerialPort::RECVBYTE(int timeout_ms) {
  if (store_head_ == store_.size() && !fill_store(timeout_ms)) {
    last_error_ = SerialError::timeout;
    return 0;
  }
  last_error_ = SerialError::none;
  return static_cast<uint8_t>(store_[store_head_++]);
}

std::string SerialPort::RECVBUFFERSTR(std::size_t n, int timeout_ms) {
  std::string result;
  last_error_ = SerialError::none;
  while (result.size() < n) {
    if (store_head_ == store_.size() && !fill_store(timeout_ms)) {
      // A silence longer than the limit loses the whole reply: a partial one is of
      // no use to any caller.
      last_error_ = SerialError::timeout;
      return {};
    }
    const std::size_t take = std::min(n - result.size(), store_.size() - store_head_);
    result.append(store_, store_head_, take);
    store_head_ += take;
  }
  return result;
}

bool SerialPort::SENDBYTE(uint8_t c) { return SENDSTRING(std::string(1, static_cast<char>(c))); }

bool SerialPort::SENDSTRING(const std::string& s) {
  last_error_ = open_ ? device_->write_all(reinterpret_cast<const uint8_t*>(s.data()), s.size(), SEND_LIMIT_MS)
                      : SerialError::failed;
  return last_error_ == SerialError::none;
}

void SerialPort::purge() {
  store_.clear();
  store_head_ = 0;
  if (open_) device_->purge();
}

void SerialPort::SETRTSF(bool on) {
  // The line holds RTS from the open on; only asserting it is ever asked for.
  if (!open_ || !on) return;
  last_error_ = device_->set_rts() ? SerialError::none : SerialError::failed;
}

}  // namespace platform
