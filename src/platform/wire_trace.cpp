#include "platform/wire_trace.h"

#include <cerrno>
#include <utility>

namespace platform {

WireTrace::WireTrace(const std::string& path)
    // Binary: the same line ends on every system, so traces compare line by line.
    : file_(std::fopen(path.c_str(), "wb")), start_(std::chrono::steady_clock::now()) {}

WireTrace::~WireTrace() {
  if (file_ != nullptr) std::fclose(file_);
}

std::string WireTrace::format(double elapsed_ms, char direction, const uint8_t* data, std::size_t size, bool text) {
  static constexpr char HEX[] = "0123456789ABCDEF";
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%.3f %c", elapsed_ms, direction);
  std::string out = stamp;
  for (std::size_t i = 0; i < size; ++i) {
    out += ' ';
    out += HEX[data[i] >> 4];
    out += HEX[data[i] & 0xF];
  }
  if (!text) return out;
  out += " \"";
  for (std::size_t i = 0; i < size; ++i) {
    const uint8_t c = data[i];
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += HEX[c >> 4];
      out += HEX[c & 0xF];
    }
  }
  return out + '"';
}

// Flushed per line, so that the trace is whole up to the moment a run was stopped.
void WireTrace::line(char direction, const uint8_t* data, std::size_t size) {
  if (file_ == nullptr || size == 0) return;
  const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start_;
  const std::string text = format(elapsed.count(), direction, data, size, show_text_) + '\n';
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), file_) == text.size() && std::fflush(file_) == 0;
  if (!written && write_error_ == 0) write_error_ = errno != 0 ? errno : EIO;
}

namespace {

class TracedSerialDevice final : public SerialDevice {
 public:
  TracedSerialDevice(std::unique_ptr<SerialDevice> inner, WireTrace& trace) : inner_(std::move(inner)), trace_(trace) {}

  bool open(const std::string& name, const std::string& device) override { return inner_->open(name, device); }
  bool configure(int32_t rate) override { return inner_->configure(rate); }
  std::size_t bytes_waiting() override { return inner_->bytes_waiting(); }
  bool wait_readable(int timeout_ms) override { return inner_->wait_readable(timeout_ms); }
  std::size_t read_waiting(uint8_t* buffer, std::size_t max) override {
    const std::size_t got = inner_->read_waiting(buffer, max);
    trace_.received(buffer, got);
    return got;
  }
  SerialError write_all(const uint8_t* data, std::size_t size, int timeout_ms) override {
    trace_.sent(data, size);
    return inner_->write_all(data, size, timeout_ms);
  }
  void purge() override { inner_->purge(); }
  bool set_rts() override { return inner_->set_rts(); }
  std::string last_error_text() const override { return inner_->last_error_text(); }
  std::string path() const override { return inner_->path(); }
  bool in_use() const override { return inner_->in_use(); }

 private:
  std::unique_ptr<SerialDevice> inner_;
  WireTrace& trace_;
};

class TracedUdpSocket final : public UdpSocket {
 public:
  TracedUdpSocket(std::unique_ptr<UdpSocket> inner, WireTrace& trace) : inner_(std::move(inner)), trace_(trace) {}

  bool connect(const std::string& address, const std::string& port) override { return inner_->connect(address, port); }
  std::size_t discard_pending() override { return inner_->discard_pending(); }
  bool send(const std::string& bytes) override {
    trace_.sent(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return inner_->send(bytes);
  }
  std::string receive_packet(int timeout_ms) override {
    std::string bytes = inner_->receive_packet(timeout_ms);
    trace_.received(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return bytes;
  }
  int last_error() const override { return inner_->last_error(); }
  std::string last_error_text() const override { return inner_->last_error_text(); }

 private:
  std::unique_ptr<UdpSocket> inner_;
  WireTrace& trace_;
};

}  // namespace

std::unique_ptr<SerialDevice> traced(std::unique_ptr<SerialDevice> device, WireTrace& trace) {
  return std::make_unique<TracedSerialDevice>(std::move(device), trace);
}

std::unique_ptr<UdpSocket> traced(std::unique_ptr<UdpSocket> socket, WireTrace& trace) {
  return std::make_unique<TracedUdpSocket>(std::move(socket), trace);
}

}  // namespace platform
