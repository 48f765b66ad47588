// Numbers as little-endian byte strings: how the drive's frames and the card's
// registers carry them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// Appends the low `size` bytes of value (at most 8), least significant first.
inline void append_le(std::string& bytes, uint64_t value, std::size_t size) {
  for (std::size_t i = 0; i < size && i < 8; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The number whose `size` bytes (at most 8) come least significant first; bytes
// past the end of the string count as zero, so a reply cut short reads low.
inline uint64_t read_le(std::string_view bytes, std::size_t size) {
  uint64_t value = 0;
  for (std::size_t i = 0; i < size && i < 8 && i < bytes.size(); ++i) {
    value |= static_cast<uint64_t>(static_cast<uint8_t>(bytes[i])) << (8 * i);
  }
  return value;
}

}  // namespace core
