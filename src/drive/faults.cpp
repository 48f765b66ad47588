#include "drive/faults.h"

#include <array>

#include "core/text.h"

namespace drive {

namespace {

constexpr unsigned WORD_BITS = 16;

const std::array<FaultWord, 4> FAULT_WORDS{{
    {"fault", WordRole::faults, dict::FAULTBITS},
    {"faultmask", WordRole::mask, dict::FAULTBITS},
    // The faults the drive met while it started: faults too, kept until cleared.
    {"startupstatus", WordRole::faults, dict::FAULTBITS},
    {"status", WordRole::status, dict::STATUSBITS},
}};

}  // namespace

std::span<const FaultWord> fault_words() { return FAULT_WORDS; }

const FaultWord* fault_word(std::string_view name) {
  for (const FaultWord& word : FAULT_WORDS) {
    if (core::UPSTRING(std::string(word.name)) == core::UPSTRING(std::string(name))) return &word;
  }
  return nullptr;
}

std::vector<std::string> set_bit_names(uint16_t value, std::span<const dict::BITNAME> names) {
  std::vector<std::string> set;
  for (unsigned bit = 0; bit < WORD_BITS; ++bit) {
    const auto mask = static_cast<uint16_t>(1u << bit);
    if ((value & mask) == 0) continue;
    std::string name = "bit " + std::to_string(bit);
    for (const dict::BITNAME& known : names) {
      if (known.BIT == mask) name = known.NAME;
    }
    set.push_back(name);
  }
  return set;
}

std::vector<std::string> left_out_bit_names(uint16_t mask, std::span<const dict::BITNAME> names) {
  std::vector<std::string> left_out;
  for (unsigned bit = 0; bit < WORD_BITS; ++bit) {
    const auto one = static_cast<uint16_t>(1u << bit);
    if ((mask & one) != 0) continue;
    for (const dict::BITNAME& known : names) {
      if (known.BIT == one) left_out.emplace_back(known.NAME);
    }
  }
  return left_out;
}

bool shows_fault(const FaultWord& word, uint16_t value) { return word.role == WordRole::faults && value != 0; }

}  // namespace drive
