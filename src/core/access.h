// The vocabulary of drive access that every protocol backend speaks: where a value
// lives, how wide it is, and the small interface a backend implements. The link
// chooses one backend when it opens; nothing above it knows which.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "core/result.h"

namespace core {

enum class Memory : uint8_t { ram, eeprom };

// Bytes of a value: byte, word, long, double (a 64-bit integer, never floating point).
enum class Width : uint8_t { byte = 1, word = 2, long_word = 4, double_word = 8 };

// The value's bits of the width and nothing above them: what travels, and what a
// negative value becomes (its two's complement there).
constexpr uint64_t width_bits(Width width, uint64_t value) {
  const unsigned bits = 8u * static_cast<unsigned>(width);
  return bits >= 64 ? value : value & ((uint64_t{1} << bits) - 1);
}

struct Location {
  Memory memory = Memory::ram;
  Width width = Width::word;
  uint16_t address = 0;
};

// Channels of the card's serial-channel module, one bit each (bit k = channel k).
using ChannelMask = uint8_t;
inline constexpr uint8_t CHANNEL_COUNT = 8;
inline constexpr ChannelMask channel_bit(uint8_t channel) {
  return channel < CHANNEL_COUNT ? static_cast<ChannelMask>(1u << channel) : 0;
}

struct ChannelReading {
  uint8_t channel = 0;
  Result<uint64_t> value = Failure{};
};

struct ChannelValues {
  uint8_t channel = 0;
  Result<std::vector<uint64_t>> values = Failure{};
};

struct EepromWrite {
  Location location;
  uint64_t value = 0;
};

// One implementation per protocol. Values travel as the raw bits of their width
// (low bits of a uint64_t); the caller gives them a sign. A backend that reaches one
// drive only ignores the channel.
class Backend {
 public:
  virtual ~Backend() = default;
  Backend() = default;
  Backend(const Backend&) = delete;
  Backend& operator=(const Backend&) = delete;

  virtual Result<uint64_t> read(uint8_t channel, Location location) = 0;
  virtual Status write(uint8_t channel, Location location, uint64_t value) = 0;

  // The same location on every channel of the mask, ascending. The outer failure is
  // one that ends every channel's access (the transport); the others are per channel.
  // By default one channel after another.
  virtual Result<std::vector<ChannelReading>> read_channels(ChannelMask channels, Location location);

  // EEPROM words or longs of one channel with the non-volatile flag set once for the
  // whole batch (set, the accesses, cleared). By default one access after another.
  virtual Result<std::vector<uint64_t>> read_eeprom_batch(uint8_t channel, std::span<const Location> locations);
  virtual Status write_eeprom_batch(uint8_t channel, std::span<const EepromWrite> writes);

  // The same EEPROM batch on every channel of the mask, ascending, side by side where
  // the transport allows it. The outer failure is one that ends every channel's
  // reads; the others are per channel. By default one channel's batch after another.
  virtual Result<std::vector<ChannelValues>> read_eeprom_channels(ChannelMask channels,
                                                                  std::span<const Location> locations);
};

}  // namespace core
