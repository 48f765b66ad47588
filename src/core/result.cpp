#include "core/result.h"

#include "core/access.h"
#include "core/text.h"

namespace core {

namespace {

FailureScope usual_scope(FailureKind kind) {
  switch (kind) {
    case FailureKind::open:
    case FailureKind::timeout:
    case FailureKind::corrupt:
    case FailureKind::module:
    case FailureKind::interrupted:
      return FailureScope::link;
    case FailureKind::config:
    case FailureKind::missed_answer:
    case FailureKind::unsupported:
    case FailureKind::nonvolatile:
      break;
  }
  return FailureScope::channel;
}

}  // namespace

Failure fail(FailureKind kind, std::string text, FailureForm form) {
  Failure failure;
  failure.kind = kind;
  failure.scope = usual_scope(kind);
  failure.text = std::move(text);
  failure.form = form;
  return failure;
}

Failure channel_failure(FailureKind kind, std::string text, FailureForm form) {
  Failure failure = fail(kind, std::move(text), form);
  failure.scope = FailureScope::channel;
  return failure;
}

bool ends_the_link(const Failure& failure) { return failure.scope == FailureScope::link; }

std::vector<std::string> faithful_lines(const Failure& failure) {
  std::vector<std::string> lines = failure.lines_before;
  if (failure.form == FailureForm::after_empty_line) lines.emplace_back();
  // Messages are short strings, as every text the programs print.
  lines.push_back(shortstring(failure.text));
  if (failure.form == FailureForm::with_register_dump) {
    lines.insert(lines.end(), failure.dump.begin(), failure.dump.end());
  }
  return lines;
}

Result<std::vector<ChannelReading>> Backend::read_channels(ChannelMask channels, Location location) {
  std::vector<ChannelReading> readings;
  for (uint8_t channel = 0; channel < CHANNEL_COUNT; ++channel) {
    if ((channels & channel_bit(channel)) == 0) continue;
    readings.push_back({channel, read(channel, location)});
  }
  return readings;
}

Result<std::vector<uint64_t>> Backend::read_eeprom_batch(uint8_t channel, std::span<const Location> locations) {
  std::vector<uint64_t> values;
  for (const Location& location : locations) {
    Result<uint64_t> value = read(channel, location);
    if (!value) return value.error();
    values.push_back(*value);
  }
  return values;
}

Status Backend::write_eeprom_batch(uint8_t channel, std::span<const EepromWrite> writes) {
  for (const EepromWrite& w : writes) {
    Status done = write(channel, w.location, w.value);
    if (!done) return done;
  }
  return {};
}

Result<std::vector<ChannelValues>> Backend::read_eeprom_channels(ChannelMask channels,
                                                                std::span<const Location> locations) {
  std::vector<ChannelValues> results;
  for (uint8_t channel = 0; channel < CHANNEL_COUNT; ++channel) {
    if ((channels & channel_bit(channel)) == 0) continue;
    results.push_back({channel, read_eeprom_batch(channel, locations)});
  }
  return results;
}

}  // namespace core
