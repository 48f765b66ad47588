// Named links kept for later runs: what `zr90 scan --save NAME` stores.
#pragma once

#include <optional>
#include <string>

#include "core/result.h"
#include "zr90/session.h"

namespace zr90 {

// A link by the values of zr90's options, as a scan found it; a value left empty is
// not stored.
struct FoundLink {
  std::optional<std::string> interface_kind;
  std::optional<std::string> protocol;
  std::optional<std::string> port;
  std::optional<std::string> baud;
  std::optional<std::string> ip;
};

// Adds the link under name to the links file the options name, or replaces the one
// of that name.
core::Status save_found_link(const Options& options, const std::string& name, const FoundLink& link);

}  // namespace zr90
