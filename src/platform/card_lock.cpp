#include "platform/card_lock.h"

namespace platform {

std::string lock_name(const std::string& key) {
  std::string name = "zr90-card-";
  for (char c : key) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '-' || c == '_';
    name += plain ? c : '_';
  }
  return name;
}

}  // namespace platform
