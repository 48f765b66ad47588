#include "zr90/axes.h"

#include <algorithm>
#include <charconv>

namespace zr90 {

namespace {

std::optional<uint8_t> axis_number(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value >= core::CHANNEL_COUNT) {
    return std::nullopt;
  }
  return static_cast<uint8_t>(value);
}

}  // namespace

std::optional<std::vector<uint8_t>> parse_axes(std::string_view text) {
  if (text == "all") text = "0-7";
  core::ChannelMask mask = 0;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    const std::size_t dash = item.find('-');
    const std::optional<uint8_t> first = axis_number(item.substr(0, dash));
    const std::optional<uint8_t> last = dash == std::string_view::npos ? first : axis_number(item.substr(dash + 1));
    if (!first || !last || *last < *first) return std::nullopt;
    for (unsigned axis = *first; axis <= *last; ++axis) mask |= core::channel_bit(static_cast<uint8_t>(axis));
    if (comma == std::string_view::npos) break;
    text = text.substr(comma + 1);
  }
  std::vector<uint8_t> axes;
  for (uint8_t axis = 0; axis < core::CHANNEL_COUNT; ++axis) {
    if ((mask & core::channel_bit(axis)) != 0) axes.push_back(axis);
  }
  return axes;
}

std::string axes_text(const std::vector<uint8_t>& axes) {
  std::string text;
  for (uint8_t axis : axes) {
    if (!text.empty()) text += ',';
    text += std::to_string(axis);
  }
  return text;
}

}  // namespace zr90
