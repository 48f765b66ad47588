// The system's clock for the library's waits: monotonic, and its sleeps block in the
// operating system in slices that look at the token.
#pragma once

#include "core/clock.h"

namespace platform {

core::Clock& system_clock();

}  // namespace platform
