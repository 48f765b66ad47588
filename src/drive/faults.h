// What the drive's fault and status words mean: which words there are, the names of
// their bits, and whether a drive has a fault.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dictionary/dictionary.h"

namespace drive {

enum class WordRole : uint8_t {
  faults,   // a set bit is a fault
  mask,     // a set bit lets that fault act; a clear one leaves it out
  status,   // a set bit is a state, not a fault
};

struct FaultWord {
  std::string_view name;  // the parameter that holds it
  WordRole role;
  std::span<const dict::BITNAME> bits;
};

// fault, faultmask, startupstatus, status: in the order a report shows them.
std::span<const FaultWord> fault_words();

// The word a parameter of the dictionary holds (its name without an offset, in any
// letter case); nothing for a parameter that is no fault or status word.
const FaultWord* fault_word(std::string_view name);

// The names of the bits set in value, lowest first; "bit N" for a bit without one.
std::vector<std::string> set_bit_names(uint16_t value, std::span<const dict::BITNAME> names);

// The named bits a mask leaves out (clear in it), lowest first.
std::vector<std::string> left_out_bit_names(uint16_t mask, std::span<const dict::BITNAME> names);

// True when the word of that role shows a fault: a fault bit set in a fault word.
bool shows_fault(const FaultWord& word, uint16_t value);

}  // namespace drive
