#include "drive_protocols.h"

#include "zal/zal.h"

namespace sim {

ZalDevice::ZalDevice(DriveModel& model, const DriveOptions& options, DeviceEvents events)
    : model_(model),
      crc_(options.crc),
      bad_crc_(options.faults.bad_crc),
      silence_(std::chrono::milliseconds(options.silence_ms)),
      either_wait_(std::chrono::milliseconds(options.either_wait_ms)),
      events_(std::move(events)) {}

void ZalDevice::receive(uint8_t byte, Clock::time_point now) {
  if (deciding_crc_) {
    if (!crc_candidate_) {
      if (zal::crc8(frame_) == byte) {
        crc_candidate_ = byte;
        return;
      }
      // Not this frame's CRC: the frame was plain, and the byte starts the next one.
      deciding_crc_ = false;
      answer(false);
    } else {
      // A host in CRC mode waits for the answer after the CRC byte; one that keeps
      // sending is in plain mode, and the byte that looked like a CRC (a write's
      // next command, say 66 after EC 01) began its next frame.
      uint8_t first = *crc_candidate_;
      crc_candidate_.reset();
      deciding_crc_ = false;
      answer(false);
      accept(first, now);
      receive(byte, now);
      return;
    }
  }
  accept(byte, now);
}

void ZalDevice::accept(uint8_t byte, Clock::time_point now) {
  if (frame_.empty()) {
    start_frame(byte, now);
    return;
  }
  frame_.push_back(static_cast<char>(byte));
  last_byte_ = now;
  if (frame_.size() == body_size_) {
    body_complete(now);
  } else if (frame_.size() == body_size_ + 1) {
    // Only in CRC mode does a frame run past its body.
    if (zal::crc8(frame_.substr(0, body_size_)) == static_cast<uint8_t>(frame_.back())) {
      answer(true);
    } else {
      model_.count_crc_error();
      drop("wrong CRC");
    }
  }
}

void ZalDevice::start_frame(uint8_t command, Clock::time_point now) {
  int data = DriveModel::request_data_size(command);
  if (data < 0) {
    events_.dropped(std::string(1, static_cast<char>(command)), "unknown command");
    return;
  }
  frame_.assign(1, static_cast<char>(command));
  body_size_ = 1 + (DriveModel::has_address(command) ? 2 : 0) + static_cast<std::size_t>(data);
  last_byte_ = now;
  if (body_size_ == 1) body_complete(now);
}

void ZalDevice::body_complete(Clock::time_point now) {
  switch (crc_) {
    case CrcMode::off:
      answer(false);
      break;
    case CrcMode::on:
      break;  // the CRC byte is still to come
    case CrcMode::either:
      deciding_crc_ = true;
      decide_by_ = now + either_wait_;
      break;
  }
}

std::optional<Clock::time_point> ZalDevice::deadline() const {
  if (deciding_crc_) return decide_by_;
  if (!frame_.empty()) return last_byte_ + silence_;
  return std::nullopt;
}

void ZalDevice::expire(Clock::time_point now) {
  if (deciding_crc_) {
    if (now < decide_by_) return;
    deciding_crc_ = false;
    bool crc_mode = crc_candidate_.has_value();
    if (crc_mode) frame_.push_back(static_cast<char>(*crc_candidate_));
    crc_candidate_.reset();
    answer(crc_mode);
    return;
  }
  if (!frame_.empty() && now >= last_byte_ + silence_) drop("partial frame, line silent");
}

void ZalDevice::host_flushed(Clock::time_point now) {
  if (deciding_crc_) {
    // The frame itself was complete; only its CRC byte could still have come.
    decide_by_ = now;
    expire(now);
  } else if (!frame_.empty()) {
    drop("partial frame, host flushed the line");
  }
}

std::string ZalDevice::crc_byte(const std::string& body) const {
  uint8_t crc = zal::crc8(body);
  if (bad_crc_) crc ^= 0xFF;
  return std::string(1, static_cast<char>(crc));
}

// Decodes the frame in frame_ (body, plus its CRC byte in CRC mode) and runs it.
void ZalDevice::answer(bool crc_mode) {
  const std::string request = frame_;
  frame_.clear();
  auto at = [&](std::size_t i) { return static_cast<uint8_t>(request[i]); };
  uint8_t command = at(0);
  uint16_t address = 0;
  std::size_t pos = 1;
  if (DriveModel::has_address(command)) {
    address = static_cast<uint16_t>(at(1) | (at(2) << 8));
    pos = 3;
  }
  uint64_t value = 0;
  int in_size = DriveModel::request_data_size(command);
  for (int i = 0; i < in_size; ++i) value |= uint64_t{at(pos + i)} << (8 * i);

  uint64_t read_value = 0;
  model_.execute(command, address, value, read_value);

  std::string reply;
  int out_size = DriveModel::reply_data_size(command);
  for (int i = 0; i < out_size; ++i) reply.push_back(static_cast<char>(read_value >> (8 * i)));
  if (crc_mode) reply += crc_byte(out_size > 0 ? reply : std::string(1, '\0'));
  events_.transaction(request, reply);
}

void ZalDevice::drop(const std::string& why) {
  std::string bytes = frame_;
  frame_.clear();
  events_.dropped(bytes, why);
}

}  // namespace sim
