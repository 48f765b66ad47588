// The binary register protocol, with and without its CRC bytes, against a drive
// that answers anything. No input may crash it; a read succeeds only when the whole
// reply came and, with CRC bytes, its CRC is right by a reckoning of our own; the
// value is the reply's bytes least significant first; what a reply left over never
// reaches the next access (it is discarded before each frame), and after the last
// access it is exactly what is still on the line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "core/access.h"
#include "instant_line.h"
#include "serial/serial.h"
#include "zal/zal.h"

namespace {

using core::Width;

// Bit by bit, apart from the table the protocol uses: reflected 0x8C, from 0.
uint8_t crc_oracle(const std::string& bytes) {
  uint8_t crc = 0;
  for (char c : bytes) {
    crc ^= static_cast<uint8_t>(c);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C) : crc >> 1;
  }
  return crc;
}

// One drive per mode for the whole run: bringing a link up waits for the drive to
// settle, far too long to do per input. Each input leaves the line empty.
struct Drive {
  explicit Drive(bool crc)
      : line(fuzzing::instant_waits(),
             [this](core::Waits) {
               return std::make_unique<fuzzing::InstantDevice>(script, fuzzing::CommandEnd::each_write);
             }),
        zal(line) {
    if (!line.open("COM1", 115200, 1)) std::abort();
    const std::string cookie(1, static_cast<char>(zal::ZALCOOKIECODE_BYTE));
    if (crc) {
      // The plain probe goes unanswered, the one with CRC bytes is answered and
      // the clearing of the error count acknowledged.
      script.answers = {"", cookie + static_cast<char>(crc_oracle(cookie)),
                        std::string(1, static_cast<char>(crc_oracle(std::string(1, '\0'))))};
    } else {
      script.answers = {cookie};
    }
    if (!zal.sync() || zal.crc_enabled() != crc) std::abort();
    backend = zal::make_zal_backend(zal);
  }

  fuzzing::Script script;
  serial::SerialLine line;
  zal::ZalLink zal;
  std::unique_ptr<core::Backend> backend;
};

Drive& drive(bool crc) {
  static Drive plain(false);
  static Drive with_crc(true);
  return crc ? with_crc : plain;
}

// What the line holds, as the drive's answers pile up and the accesses take them.
class LineModel {
 public:
  void arrive(const std::string& answer) { held_ += answer; }
  // Before a frame goes out, what waits unread answers nothing being asked.
  void discard() { held_.clear(); }
  // n characters, or none and everything discarded when fewer are there.
  bool take(std::size_t n, std::string& out) {
    if (held_.size() < n) {
      held_.clear();
      return false;
    }
    out = held_.substr(0, n);
    held_.erase(0, n);
    return true;
  }
  const std::string& held() const { return held_; }

 private:
  std::string held_;
};

enum Kind { register_read, register_write, local_read, local_write };

struct Step {
  Kind kind = register_read;
  Width width = Width::byte;
  bool eeprom = false;  // through the backend: several frames, not modelled
  std::string answer;
};

// Records of the input after its first byte (bit 0: CRC mode): an operation byte
// (bits 0-1 the width, 2-3 the kind, bit 4 an EEPROM access, bit 7 the answer
// sealed with its correct CRC), a length byte (low four bits), then the answer.
std::vector<Step> steps_of(const uint8_t* data, std::size_t size) {
  static constexpr Width widths[] = {Width::byte, Width::word, Width::long_word, Width::double_word};
  std::vector<Step> steps;
  std::size_t at = 1;
  while (at + 2 <= size && steps.size() < 12) {
    Step step;
    const uint8_t op = data[at];
    step.width = widths[op & 3];
    step.kind = static_cast<Kind>((op >> 2) & 3);
    step.eeprom = (op & 0x10) != 0;
    std::size_t length = data[at + 1] & 0x0F;
    at += 2;
    if (length > size - at) length = size - at;
    step.answer.assign(reinterpret_cast<const char*>(data + at), length);
    at += length;
    if (op & 0x80) step.answer.push_back(static_cast<char>(crc_oracle(step.answer)));
    steps.push_back(std::move(step));
  }
  return steps;
}

// What an access must come to, by the model of the line.
struct Expected {
  bool ok = false;
  bool corrupt = false;  // it fails because of a wrong CRC byte
  uint64_t value = 0;
};

// The CRC byte after a reply with CRC bytes: it must come and be right.
void expect_crc(LineModel& model, const std::string& body, Expected& expected) {
  std::string sent;
  expected.ok = false;
  if (!model.take(1, sent)) return;
  expected.ok = static_cast<uint8_t>(sent[0]) == crc_oracle(body);
  expected.corrupt = !expected.ok;
}

Expected expect_reply(LineModel& model, bool crc, std::size_t size) {
  Expected expected;
  std::string body;
  if (!model.take(size, body)) return expected;
  for (std::size_t i = 0; i < size; ++i) expected.value |= uint64_t{static_cast<uint8_t>(body[i])} << (8 * i);
  expected.ok = true;
  if (crc) expect_crc(model, body, expected);
  return expected;
}

// A write is acknowledged, with CRC bytes only, by the CRC of one zero byte.
Expected expect_ack(LineModel& model, bool crc, std::size_t) {
  Expected expected;
  expected.ok = true;
  if (crc) expect_crc(model, std::string(1, '\0'), expected);
  return expected;
}

// Checked only while the model holds (model not null).
template <class R>
void check(const R& result, LineModel* model, Expected (*expect)(LineModel&, bool, std::size_t), bool crc,
           std::size_t size) {
  if (!model) return;
  const Expected expected = expect(*model, crc, size);
  if (result.ok() != expected.ok) std::abort();
  if (!result.ok() && expected.corrupt != (result.error().kind == core::FailureKind::corrupt)) std::abort();
  if constexpr (!std::is_same_v<R, core::Status>) {
    if (result.ok() && *result != expected.value) std::abort();
  }
}

// Runs one step, checked against the model when there is one; false when the step
// is beyond the model, which then no longer holds.
bool run_step(Drive& d, LineModel* model, const Step& step) {
  const bool crc = d.zal.crc_enabled();
  const auto size = static_cast<std::size_t>(step.width);
  constexpr uint16_t address = 0x0820;
  constexpr uint64_t value = 0x8877665544332211ULL;
  if (step.eeprom) {
    const core::Location location{core::Memory::eeprom, step.width, address};
    if (step.kind == register_write || step.kind == local_write) {
      (void)d.backend->write(0, location, value);
    } else {
      (void)d.backend->read(0, location);
    }
    return false;
  }
  switch (step.kind) {
    case register_read:
      check(d.zal.read(step.width, address), model, expect_reply, crc, size);
      break;
    case local_read:
      check(d.zal.local_read(zal::ZALSTATUS_BYTE), model, expect_reply, crc, 1);
      break;
    case register_write:
      check(d.zal.write(step.width, address, value), model, expect_ack, crc, 0);
      break;
    case local_write:
      check(d.zal.local_write(zal::ZALSTATUS_BYTE, 0), model, expect_ack, crc, 0);
      break;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  Drive& d = drive((data[0] & 1) != 0);
  const std::vector<Step> steps = steps_of(data, size);
  for (const Step& step : steps) d.script.answers.push_back(step.answer);
  LineModel model;
  bool modelled = true;
  for (const Step& step : steps) {
    // Every access sends one frame, which brings the next answer; an EEPROM access
    // sends several, and from it on only crashes count.
    if (modelled) {
      model.discard();
      model.arrive(step.answer);
    }
    modelled = run_step(d, modelled ? &model : nullptr, step) && modelled;
  }
  if (modelled) {
    std::string rest;
    if (!d.line.receive_string(model.held().size(), rest) || rest != model.held()) std::abort();
    uint8_t extra = 0;
    if (d.line.receive_char(extra)) std::abort();
  }
  // Whatever is left goes, so that the next input starts on a quiet line.
  std::string drained;
  d.line.receive_string(1 << 20, drained);
  d.script.answers.clear();
  d.script.pending.clear();
  return 0;
}
