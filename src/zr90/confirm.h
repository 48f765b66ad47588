// Writes that persist in a drive: a person confirms them at a terminal, or a script
// says -y.
#pragma once

#include <string>

#include "zr90/session.h"

namespace zr90 {

// True with -y or a terminal to ask at; otherwise the refusal has been said.
bool can_confirm(const Options& options);

// True with -y, or when the person answers the question (on standard error) with y;
// otherwise "nothing written" has been said.
bool confirmed(const Options& options, const std::string& question);

}  // namespace zr90
