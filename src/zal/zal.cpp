#include "zal/zal.h"

#include <algorithm>
#include <optional>

#include "core/bytes.h"

namespace zal {

namespace {

using core::FailureKind;
using core::Width;

constexpr uint8_t CRC8_REFLECTED_POLY = 0x8C;

constexpr std::array<uint8_t, 256> make_crc8_table() {
  std::array<uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    auto crc = static_cast<uint8_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ CRC8_REFLECTED_POLY) : static_cast<uint8_t>(crc >> 1);
    }
    table[static_cast<std::size_t>(i)] = crc;
  }
  return table;
}

constexpr std::array<uint8_t, 256> CRC8_TABLE_VALUES = make_crc8_table();
static_assert(CRC8_TABLE_VALUES[1] == 0x5E && CRC8_TABLE_VALUES[128] == 0x8C);

// How long the drive is given to settle between the two flushes before the probes.
constexpr int SYNC_SETTLE_MS = 25;
// The probes wait this fraction of the configured character time-out.
constexpr int PROBE_TIMEOUT_DIVISOR = 20;

// A write is acknowledged, in CRC mode only, by the CRC of a single zero byte.
const std::string WRITE_ACK_BODY(1, '\0');

uint8_t size_code(uint8_t size) {
  switch (size) {
    case 1: return ZALD1_BYTE;
    case 2: return ZALD2_BYTE;
    case 4: return ZALD4_BYTE;
    default: return ZALD8_BYTE;
  }
}

uint8_t size_of(Width width) { return static_cast<uint8_t>(width); }

const char* width_name(Width width) {
  switch (width) {
    case Width::byte: return "Byte";
    case Width::word: return "Word";
    case Width::long_word: return "Long";
    default: return "Double";
  }
}

// The drive confirms an EEPROM write only by answering again once it is done.
core::Failure eeprom_write_unconfirmed(Width width) {
  return core::fail(FailureKind::timeout, std::string("EEPROM ") + width_name(width) + " Write Sync error");
}

// What a lost register reply means depends on its width: a byte goes on with
// whatever it has, a word cannot go on once the link is up, longs and doubles never.
std::optional<core::Failure> lost_reply(Width width, bool strict) {
  switch (width) {
    case Width::byte: return std::nullopt;
    case Width::word: return strict ? std::optional(serial::char_timeout()) : std::nullopt;
    case Width::long_word: return core::fail(FailureKind::timeout, "Serial Timeout Error Waiting for Long!");
    default: return core::fail(FailureKind::timeout, "Serial Timeout Error Waiting Double!");
  }
}

// A command that never went out gets no answer: the failure is what follows from the
// missing answer, and it tells why the command did not go out. Where no answer was
// awaited (a write without CRC bytes), the send's own failure is the access's.
template <class T>
core::Result<T> because(const core::Status& sent, core::Result<T> result) {
  if (sent) return result;
  if (result) return sent.error();
  result.error().detail = sent.error().detail;
  return result;
}

}  // namespace

const std::array<uint8_t, 256> CRC8TABLE = CRC8_TABLE_VALUES;

uint8_t GETCRC8(uint8_t index) { return CRC8TABLE[index]; }

uint8_t crc8(const std::string& bytes) {
  uint8_t crc = 0;
  for (char b : bytes) crc = GETCRC8(static_cast<uint8_t>(crc ^ static_cast<uint8_t>(b)));
  return crc;
}

std::string read_frame(uint8_t size, uint16_t address) {
  std::string frame;
  frame.push_back(static_cast<char>(ZALCOMMAND_BYTE | ZALA2_BYTE | size_code(size)));
  core::append_le(frame, address, 2);
  return frame;
}

std::string write_frame(uint8_t size, uint16_t address, uint64_t value) {
  std::string frame;
  frame.push_back(static_cast<char>(ZALCOMMAND_BYTE | ZALWRITE_BYTE | ZALA2_BYTE | size_code(size)));
  core::append_le(frame, address, 2);
  core::append_le(frame, value, size);
  return frame;
}

ZalLink::ZalLink(serial::SerialLine& line) : line_(line) {}

// One stray byte after a reply without CRC would otherwise be read as the first of
// the next reply and shift every one after it. Synchronising keeps its own
// discarding: its probes are judged as they come.
core::Status ZalLink::send_frame(std::string frame) {
  if (strict_) line_.discard_received();
  if (crc_enabled_) frame.push_back(static_cast<char>(crc8(frame)));
  return line_.send_string(frame);
}

// In CRC mode every answer ends with the CRC of its body, and that character is
// then the last one awaited: whether it came decides `answered`. Once the link is
// up a missing or wrong CRC abandons the access; while synchronising, only the
// absence counts.
core::Status ZalLink::receive_crc(const std::string& body, bool& answered) {
  if (!crc_enabled_) return {};
  uint8_t received = 0;
  answered = line_.receive_char(received);
  if (!strict_) return {};
  if (!answered) return serial::char_timeout();
  if (received != crc8(body)) return core::fail(FailureKind::corrupt, "CRC Error!");
  return {};
}

core::Result<uint64_t> ZalLink::finish_read(const std::string& body, uint8_t size, bool answered) {
  core::Status crc = receive_crc(body, answered);
  if (!crc) return crc.error();
  const uint64_t value = core::read_le(body, size);
  if (!answered) return serial::missed_answer(value);
  return value;
}

core::Status ZalLink::receive_ack() {
  bool answered = true;
  core::Status crc = receive_crc(WRITE_ACK_BODY, answered);
  if (!crc) return crc;
  if (!answered) return serial::missed_answer(0);
  return {};
}

core::Result<uint64_t> ZalLink::read(Width width, uint16_t address) {
  const core::Status sent = send_frame(read_frame(size_of(width), address));
  return because(sent, read_reply(width));
}

core::Result<uint64_t> ZalLink::read_reply(Width width) {
  const uint8_t size = size_of(width);
  std::string body;
  bool answered = line_.receive_string(size, body);
  if (!answered) {
    if (std::optional<core::Failure> failure = lost_reply(width, strict_)) return *failure;
    // A byte read goes on as a missed answer; a word read that may go on (while
    // synchronising) goes on as if nothing was missed.
    answered = width != Width::byte;
  }
  return finish_read(body, size, answered);
}

core::Status ZalLink::write(Width width, uint16_t address, uint64_t value) {
  const core::Status sent = send_frame(write_frame(size_of(width), address, value));
  return because(sent, receive_ack());
}

core::Result<uint8_t> ZalLink::local_read(uint8_t reg) {
  const core::Status sent = send_frame(std::string(1, static_cast<char>(reg)));
  std::string body;
  const bool answered = line_.receive_string(1, body);
  core::Result<uint64_t> value = because(sent, finish_read(body, 1, answered));
  if (!value) return value.error();
  return static_cast<uint8_t>(*value);
}

core::Status ZalLink::local_write(uint8_t reg, uint8_t value) {
  std::string frame;
  frame.push_back(static_cast<char>(reg | ZALWRITE_BYTE));
  frame.push_back(static_cast<char>(value));
  const core::Status sent = send_frame(frame);
  return because(sent, receive_ack());
}

// True when the drive answers the cookie; a drive that did not answer in time or
// answered something else is false, a transport failure is the failure.
core::Result<bool> ZalLink::cookie_answered() {
  core::Result<uint8_t> cookie = local_read(ZALREADCOOKIE_BYTE);
  if (!cookie) {
    if (cookie.error().kind == FailureKind::missed_answer) return false;
    return cookie.error();
  }
  return *cookie == ZALCOOKIECODE_BYTE;
}

core::Status ZalLink::select_eeprom(bool on) {
  return local_write(ZALNONVOL_FLAG, on ? ZALNONVOLEEPROM_BYTE : ZALFALSE_FLAG);
}

// A failure that abandons the access leaves the flag set, as the drive was left
// when such a failure ended the run.
core::Result<uint64_t> ZalLink::read_eeprom(Width width, uint16_t address) {
  if (core::Status selected = select_eeprom(true); !selected) return selected.error();
  core::Result<uint64_t> value = read(width, address);
  if (!value && value.error().kind != FailureKind::missed_answer) return value;
  if (core::Status cleared = select_eeprom(false); !cleared) return cleared.error();
  return value;
}

core::Status ZalLink::write_eeprom(Width width, uint16_t address, uint64_t value) {
  if (core::Status selected = select_eeprom(true); !selected) return selected;
  if (core::Status written = write_eeprom_selected(width, address, value); !written) return written;
  return select_eeprom(false);
}

core::Status ZalLink::write_eeprom_selected(Width width, uint16_t address, uint64_t value) {
  if (core::Status written = write(width, address, value); !written) return written;
  core::Result<bool> confirmed = cookie_answered();
  if (!confirmed) return confirmed.error();
  if (!*confirmed) return eeprom_write_unconfirmed(width);
  return {};
}

// The flag is cleared even after a failure, unlike a single access: a drive left
// with its EEPROM selected would take the link's next RAM accesses there. The
// first failure is the one returned.
core::Result<std::vector<uint64_t>> ZalLink::read_eeprom_batch(std::span<const core::Location> locations) {
  if (core::Status selected = select_eeprom(true); !selected) return selected.error();
  std::vector<uint64_t> values;
  for (const core::Location& location : locations) {
    core::Result<uint64_t> value = read(location.width, location.address);
    if (!value) {
      (void)select_eeprom(false);
      return value.error();
    }
    values.push_back(*value);
  }
  if (core::Status cleared = select_eeprom(false); !cleared) return cleared.error();
  return values;
}

core::Status ZalLink::write_eeprom_batch(std::span<const core::EepromWrite> writes) {
  if (core::Status selected = select_eeprom(true); !selected) return selected;
  for (const core::EepromWrite& w : writes) {
    core::Status written = write_eeprom_selected(w.location.width, w.location.address, w.value);
    if (!written) {
      (void)select_eeprom(false);
      return written;
    }
  }
  return select_eeprom(false);
}

// The two probes: the cookie without CRC bytes, then with them. CRC mode stays on
// only when the drive answered the second. Probes do not fail, they are answered
// or not.
std::optional<std::string> ZalLink::probe_drive() {
  auto answered = [this] {
    const core::Result<bool> cookie = cookie_answered();
    return cookie.ok() && *cookie;
  };
  if (answered()) return "Using ZAL Serial Interface";
  crc_enabled_ = true;
  if (answered()) {
    // Errors the drive counted while the probes went unrecognised are no errors.
    (void)local_write(ZALSTATUS_BYTE, 0);
    return "Using ZAL Serial Interface With CRCs";
  }
  crc_enabled_ = false;
  return std::nullopt;
}

core::Result<std::string> ZalLink::sync() {
  strict_ = false;
  crc_enabled_ = false;
  bool quiet = line_.toss_chars();
  quiet = line_.waits().sleep_ms(SYNC_SETTLE_MS) && quiet;
  quiet = line_.toss_chars() && quiet;

  const int saved_timeout_ms = line_.char_timeout_ms();
  line_.set_char_timeout_ms(saved_timeout_ms / PROBE_TIMEOUT_DIVISOR);
  // A line that never falls quiet may carry the cookie's value by chance; that is
  // not a drive answering, so it is not probed at all.
  std::optional<std::string> status = quiet ? probe_drive() : std::nullopt;
  line_.set_char_timeout_ms(saved_timeout_ms);
  strict_ = true;
  if (!status) return core::fail(FailureKind::open, "ZAL Serial Communication failed !");
  return *status;
}

namespace {

bool all_eeprom(std::span<const core::Location> locations) {
  return std::all_of(locations.begin(), locations.end(),
                     [](const core::Location& l) { return l.memory == core::Memory::eeprom; });
}

bool all_eeprom(std::span<const core::EepromWrite> writes) {
  return std::all_of(writes.begin(), writes.end(),
                     [](const core::EepromWrite& w) { return w.location.memory == core::Memory::eeprom; });
}

// One drive on the line: channels mean nothing here.
class ZalBackend final : public core::Backend {
 public:
  explicit ZalBackend(ZalLink& zal) : zal_(zal) {}

  core::Result<uint64_t> read(uint8_t, core::Location location) override {
    if (location.memory == core::Memory::eeprom) return zal_.read_eeprom(location.width, location.address);
    return zal_.read(location.width, location.address);
  }

  core::Status write(uint8_t, core::Location location, uint64_t value) override {
    if (location.memory == core::Memory::eeprom) return zal_.write_eeprom(location.width, location.address, value);
    return zal_.write(location.width, location.address, value);
  }

  // A batch that strays into RAM must not be read with the EEPROM selected.
  core::Result<std::vector<uint64_t>> read_eeprom_batch(uint8_t channel,
                                                        std::span<const core::Location> locations) override {
    if (!all_eeprom(locations)) return Backend::read_eeprom_batch(channel, locations);
    return zal_.read_eeprom_batch(locations);
  }

  core::Status write_eeprom_batch(uint8_t channel, std::span<const core::EepromWrite> writes) override {
    if (!all_eeprom(writes)) return Backend::write_eeprom_batch(channel, writes);
    return zal_.write_eeprom_batch(writes);
  }

 private:
  ZalLink& zal_;
};

}  // namespace

std::unique_ptr<core::Backend> make_zal_backend(ZalLink& zal) { return std::make_unique<ZalBackend>(zal); }

}  // namespace zal
