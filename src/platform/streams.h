// The standard streams as the program found them.
#pragma once

namespace platform {

// False when the program was started with standard output closed (">&-"): what it
// writes there would go nowhere, or onto whatever takes the descriptor next.
// Asked before console::guard_standard_streams puts /dev/null in its place.
bool output_is_open();

}  // namespace platform
