// Named links kept for later runs: what `zr90 scan --save NAME` stores.
#pragma once

#include <string>

#include "core/result.h"

namespace zr90 {

// A link by the values of zr90's options; an empty value is left out.
struct NamedLink {
  std::string interface_kind;
  std::string protocol;
  std::string port;
  std::string baud;
  std::string ip;
};

// Adds the link under name to the links file, or replaces the one of that name.
core::Status store_named_link(const std::string& name, const NamedLink& link);

}  // namespace zr90
