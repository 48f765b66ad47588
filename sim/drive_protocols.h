// The drive's side of its two host protocols: each decodes the bytes it receives
// into transactions on a DriveModel and hands every request with its reply to a sink.
// Time comes in from outside, so the decoders do no I/O and keep no clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "drive_model.h"
#include "drive_options.h"

namespace sim {

using Clock = std::chrono::steady_clock;

struct DeviceEvents {
  // A complete request and the reply the drive gives (empty: no reply).
  std::function<void(const std::string& request, const std::string& reply)> transaction;
  // Bytes the drive threw away, and why.
  std::function<void(const std::string& bytes, const std::string& why)> dropped;
};

class DriveDevice {
 public:
  virtual ~DriveDevice() = default;
  virtual void receive(uint8_t byte, Clock::time_point now) = 0;
  // The moment expire() has work to do, if any.
  virtual std::optional<Clock::time_point> deadline() const = 0;
  virtual void expire(Clock::time_point now) = 0;
  // The host flushed the line: whatever frame was in progress will never be completed.
  virtual void host_flushed(Clock::time_point now) = 0;
};

class ZalDevice : public DriveDevice {
 public:
  ZalDevice(DriveModel& model, const DriveOptions& options, DeviceEvents events);
  void receive(uint8_t byte, Clock::time_point now) override;
  std::optional<Clock::time_point> deadline() const override;
  void expire(Clock::time_point now) override;
  void host_flushed(Clock::time_point now) override;

 private:
  void accept(uint8_t byte, Clock::time_point now);
  void start_frame(uint8_t command, Clock::time_point now);
  void body_complete(Clock::time_point now);
  void answer(bool crc_mode);
  void drop(const std::string& why);
  std::string crc_byte(const std::string& body) const;

  DriveModel& model_;
  CrcMode crc_;
  bool bad_crc_;
  Clock::duration silence_;
  Clock::duration either_wait_;
  DeviceEvents events_;

  std::string frame_;           // bytes of the frame being received
  std::size_t body_size_ = 0;   // its length without a CRC byte
  Clock::time_point last_byte_{};
  bool deciding_crc_ = false;   // either mode: body complete, waiting for a CRC byte
  std::optional<uint8_t> crc_candidate_;  // a byte that matched the CRC, not yet confirmed
  Clock::time_point decide_by_{};
};

class TextDevice : public DriveDevice {
 public:
  TextDevice(DriveModel& model, const DriveOptions& options, DeviceEvents events);
  void receive(uint8_t byte, Clock::time_point now) override;
  std::optional<Clock::time_point> deadline() const override { return std::nullopt; }
  void expire(Clock::time_point) override {}
  void host_flushed(Clock::time_point now) override;

 private:
  std::string reply_to(const std::string& line);

  DriveModel& model_;
  std::string identity_;
  DeviceEvents events_;
  std::string line_;
};

}  // namespace sim
