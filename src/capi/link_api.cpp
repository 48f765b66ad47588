// The C interface's links: open and close, cancellation, reads, verified writes
// and the fault words.
#include <new>

#include "capi/internal.h"
#include "config/config.h"
#include "drive/faults.h"
#include "drive/links_file.h"
#include "drive/reading.h"
#include "drive/writing.h"
#include "platform/clock.h"

using capi::failed;
using capi::guarded;
using capi::ready;
using capi::Where;

int zr90_link::check_axes(std::span<const uint8_t> axes, zr90_error* error) const {
  const unsigned reach = config::reachable_axes(link->settings());
  for (std::size_t i = 0; i < axes.size(); ++i) {
    if (axes[i] >= reach) {
      const std::string text = reach == 1 ? "this link reaches one drive, axis 0 only" : "axes are 0 to 7";
      return failed(error, ZR90_ARGUMENT, "axis " + std::to_string(axes[i]) + ": " + text, capi::Where{axes[i]});
    }
    if (i > 0 && axes[i] <= axes[i - 1]) return failed(error, ZR90_ARGUMENT, "axes must be ascending, each once");
  }
  return ZR90_OK;
}

namespace {

config::GivenSettings given_settings(const zr90_options& options) {
  const auto given = [](const char* text) { return text ? std::optional<std::string>(text) : std::nullopt; };
  config::GivenSettings settings;
  settings.interface_kind = given(options.interface_kind);
  settings.protocol = given(options.protocol);
  settings.comport = given(options.port);
  settings.baudrate = given(options.baud);
  settings.baudrate_mul = given(options.baud_mul);
  settings.ip_address = given(options.ip);
  // As zr90 takes them: on a card only the serial-channel protocol reaches a drive.
  settings.card_protocol_by_default = true;
  return settings;
}

// What zr90 says of a link that does not come up, so that both speak alike.
std::string open_message(const core::Failure& failure, const config::LinkSettings& settings) {
  std::string text = failure.detail.empty() ? failure.text : failure.detail;
  if (failure.kind == core::FailureKind::timeout)
    text = drivelink::endpoint_text(settings) + " does not answer: " + text;
  if (text.find("Permission denied") != std::string::npos) text += "; is your user in the dialout group?";
  return text;
}

// The named link's values where the caller gave none, as zr90 --link takes them.
void fill_from(const drive::NamedLink& named, config::GivenSettings& given) {
  const auto fill = [](std::optional<std::string>& value, const std::optional<std::string>& from) {
    if (!value) value = from;
  };
  fill(given.interface_kind, named.interface_kind);
  fill(given.protocol, named.protocol);
  fill(given.comport, named.port);
  fill(given.baudrate, named.baud);
  fill(given.baudrate_mul, named.baud_mul);
  fill(given.ip_address, named.ip);
}

int open_link(const zr90_options& options, zr90_link* handle, zr90_error* error) {
  config::GivenSettings given = given_settings(options);
  if (options.link != nullptr) {
    core::Result<drive::NamedLink> named = drive::find_link(drive::default_links_path(), options.link);
    if (!named) return failed(error, ZR90_CONFIG, named.error().text);
    fill_from(*named, given);
  }
  // A handle opened again starts afresh.
  handle->link.reset();
  handle->description.clear();
  handle->notices = capi::NoticeCollector();
  core::Result<config::LinkSettings> settings = config::read_settings(given, handle->notices);
  if (!settings) return failed(error, ZR90_CONFIG, settings.error().text);
  const drivelink::StartRequest start{card::StartMode::setup,
                                      options.channels != 0 ? options.channels : core::ChannelMask{0xFF}, true, true};
  const drivelink::Context context(handle->notices, platform::system_clock(), handle->cancel);
  core::Result<std::unique_ptr<drivelink::Link>> link = drivelink::Link::open(*settings, context, start);
  if (!link) {
    if (handle->cancel.cancelled()) return failed(error, ZR90_CANCELLED, "cancelled");
    return failed(error, capi::failed(nullptr, link.error(), handle->cancel), open_message(link.error(), *settings));
  }
  handle->link = std::move(*link);
  const std::string endpoint = drivelink::endpoint_text(handle->link->settings());
  handle->description = (endpoint.empty() ? "" : endpoint + ": ") + handle->link->status();
  return ZR90_OK;
}

int failed_read(zr90_link& link, zr90_error* error, const drive::AxisValue& value, std::string_view name) {
  const Where where{value.axis, name};
  if (!link.started(value.axis)) {
    return failed(error, ZR90_NOT_STARTED, "the channel did not start; is a drive connected?", where);
  }
  return failed(error, value.value.error(), link.cancel, where);
}

// One write and its read-back on an axis, as a zr90_write.
// ends_link: the failure ends every access of the link, so nothing more is sent.
zr90_write write_one(zr90_link& link, uint8_t axis, const drive::Parameter& parameter, uint64_t bits, bool verify,
                     zr90_error* error, int& first_failure, bool& ends_link) {
  zr90_write result{ZR90_OK, axis, 0, 0};
  const auto note = [&](int code) {
    result.code = code;
    if (first_failure == ZR90_OK) first_failure = code;
    return result;
  };
  const Where where{axis, parameter.name};
  if (!link.started(axis)) {
    return note(failed(first_failure == ZR90_OK ? error : nullptr, ZR90_NOT_STARTED,
                       "the channel did not start; is a drive connected?", where));
  }
  const drive::WriteOutcome outcome = drive::write_verified(*link.link, axis, parameter, bits,
                                                            {.read_before = false, .write = true, .read_back = verify});
  result.written = outcome.written ? 1 : 0;
  if (outcome.read_back) result.read_back = capi::number_of(parameter, *outcome.read_back);
  zr90_error* first = first_failure == ZR90_OK ? error : nullptr;
  if (outcome.failure) {
    ends_link = core::ends_the_link(*outcome.failure);
    return note(failed(first, *outcome.failure, link.cancel, where));
  }
  if (outcome.mismatch) {
    const std::string text = "wrote " + drive::format_value(parameter.type, bits, false) + ", read back " +
                             drive::format_value(parameter.type, *outcome.read_back, false);
    return note(failed(first, ZR90_MISMATCH, text, where));
  }
  return result;
}

struct PlannedWrite {
  drive::Parameter parameter;
  uint64_t bits = 0;
};

// Every name and value checked before the first write, so that a refused one leaves the drives as they were.
int checked_writes(const zr90_assignment* assignments, std::size_t count, std::vector<PlannedWrite>& writes,
                   zr90_error* error) {
  for (std::size_t i = 0; i < count; ++i) {
    const char* name = assignments[i].name;
    std::vector<drive::Parameter> found;
    if (int code = capi::parameters_named({&name, 1}, found, error); code != ZR90_OK) return code;
    const drive::Parameter& p = found[0];
    if (assignments[i].value == nullptr) return failed(error, ZR90_ARGUMENT, "no value for " + p.name, {-1, p.name});
    core::Result<uint64_t> bits = drive::parse_value(p, assignments[i].value);
    if (!bits) return failed(error, ZR90_BAD_VALUE, bits.error().text, {-1, p.name});
    writes.push_back({p, *bits});
  }
  return ZR90_OK;
}

std::string bit_names(const drive::FaultWord& word, uint16_t value) {
  const std::vector<std::string> names = word.role == drive::WordRole::mask
                                             ? drive::left_out_bit_names(value, word.bits)
                                             : drive::set_bit_names(value, word.bits);
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : " ") + name;
  return text;
}

}  // namespace

extern "C" {

ZR90_API int zr90_open(const zr90_options* options, zr90_link** link, zr90_error* error) {
  if (link == nullptr) return failed(error, ZR90_ARGUMENT, "no place for the link");
  *link = nullptr;
  zr90_link* handle = zr90_link_new();
  if (handle == nullptr) return failed(error, ZR90_NO_MEMORY, "out of memory");
  const int code = zr90_link_open(handle, options, error);
  if (code == ZR90_OK) {
    *link = handle;
  } else {
    zr90_close(handle);
  }
  return code;
}

ZR90_API zr90_link* zr90_link_new(void) { return new (std::nothrow) zr90_link(); }

ZR90_API int zr90_link_open(zr90_link* link, const zr90_options* options, zr90_error* error) {
  if (link == nullptr) return failed(error, ZR90_ARGUMENT, "no link");
  const zr90_options none{};
  return guarded(error, [&]() -> int { return open_link(options != nullptr ? *options : none, link, error); });
}

ZR90_API int zr90_open_environment(zr90_link** link, zr90_error* error) { return zr90_open(nullptr, link, error); }

ZR90_API void zr90_close(zr90_link* link) { delete link; }

ZR90_API void zr90_cancel(zr90_link* link) {
  if (link != nullptr) link->cancel.cancel();
}

ZR90_API void zr90_clear_cancel(zr90_link* link) {
  if (link != nullptr) link->cancel.reset();
}

ZR90_API const char* zr90_description(const zr90_link* link) { return link ? link->description.c_str() : ""; }

ZR90_API const char* zr90_notices(const zr90_link* link) { return link ? link->notices.text().c_str() : ""; }

ZR90_API unsigned zr90_axis_count(const zr90_link* link) {
  return link && link->link ? config::reachable_axes(link->link->settings()) : 0;
}

ZR90_API uint8_t zr90_not_started(const zr90_link* link) { return link && link->link ? link->link->not_started() : 0; }

ZR90_API int zr90_get(zr90_link* link, const char* name, unsigned axis, int64_t* value, zr90_error* error) {
  if (value == nullptr || axis > 0xFF) return failed(error, ZR90_ARGUMENT, "no place for the value, or a bad axis");
  const uint8_t one_axis = static_cast<uint8_t>(axis);
  zr90_reading reading{};
  const int code = zr90_get_many(link, &name, 1, &one_axis, 1, &reading, error);
  if (code == ZR90_OK) *value = reading.value;
  return code;
}

ZR90_API int zr90_get_many(zr90_link* link, const char* const* names, size_t name_count, const uint8_t* axes,
                           size_t axis_count, zr90_reading* readings, zr90_error* error) {
  if (int code = ready(link, error); code != ZR90_OK) return code;
  if ((names == nullptr && name_count > 0) || (axes == nullptr && axis_count > 0) ||
      (readings == nullptr && name_count * axis_count > 0)) {
    return failed(error, ZR90_ARGUMENT, "NULL names, axes or readings");
  }
  return guarded(error, [&]() -> int {
    const std::span<const uint8_t> axis_span(axes, axis_count);
    if (int code = link->check_axes(axis_span, error); code != ZR90_OK) return code;
    std::vector<drive::Parameter> parameters;
    if (int code = capi::parameters_named({names, name_count}, parameters, error); code != ZR90_OK) return code;
    int first_failure = ZR90_OK;
    for (std::size_t n = 0; n < parameters.size(); ++n) {
      const drive::Parameter& parameter = parameters[n];
      const std::vector<drive::AxisValue> values =
          drive::read_on_axes(*link->link, axis_span, link->link->not_started(), parameter);
      for (std::size_t a = 0; a < values.size(); ++a) {
        zr90_reading& reading = readings[n * axis_count + a];
        reading = zr90_reading{ZR90_OK, values[a].axis, 0};
        if (values[a].value) {
          reading.value = capi::number_of(parameter, *values[a].value);
          continue;
        }
        reading.code = failed_read(*link, first_failure == ZR90_OK ? error : nullptr, values[a], parameter.name);
        if (first_failure == ZR90_OK) first_failure = reading.code;
      }
    }
    return first_failure;
  });
}

ZR90_API int zr90_set(zr90_link* link, const char* name, const char* value, unsigned axis, int verify,
                      zr90_error* error) {
  if (axis > 0xFF) return failed(error, ZR90_ARGUMENT, "axes are 0 to 7", capi::Where{static_cast<int>(axis)});
  const uint8_t one_axis = static_cast<uint8_t>(axis);
  const zr90_assignment assignment{name, value};
  return zr90_set_many(link, &assignment, 1, &one_axis, 1, verify, nullptr, error);
}

ZR90_API int zr90_set_many(zr90_link* link, const zr90_assignment* assignments, size_t count, const uint8_t* axes,
                           size_t axis_count, int verify, zr90_write* results, zr90_error* error) {
  if (int code = ready(link, error); code != ZR90_OK) return code;
  if ((assignments == nullptr && count > 0) || (axes == nullptr && axis_count > 0)) {
    return failed(error, ZR90_ARGUMENT, "NULL assignments or axes");
  }
  return guarded(error, [&]() -> int {
    const std::span<const uint8_t> axis_span(axes, axis_count);
    if (int code = link->check_axes(axis_span, error); code != ZR90_OK) return code;
    std::vector<PlannedWrite> writes;
    if (int code = checked_writes(assignments, count, writes, error); code != ZR90_OK) return code;
    int first_failure = ZR90_OK;
    bool stopped = false;
    for (std::size_t n = 0; n < writes.size(); ++n) {
      for (std::size_t a = 0; a < axis_count; ++a) {
        zr90_write result{ZR90_CANCELLED, axes[a], 0, 0};
        stopped = stopped || link->cancel.cancelled();
        if (!stopped) {
          bool ends_link = false;
          result = write_one(*link, axes[a], writes[n].parameter, writes[n].bits, verify != 0, error, first_failure,
                             ends_link);
          // Nothing is sent after a failure that ends the link; a cancel ends the call.
          stopped = ends_link || result.code == ZR90_CANCELLED;
        } else if (first_failure == ZR90_OK) {
          first_failure = failed(error, ZR90_CANCELLED, "cancelled", {axes[a], writes[n].parameter.name});
        }
        if (results != nullptr) results[n * axis_count + a] = result;
      }
    }
    return first_failure;
  });
}

ZR90_API int zr90_read_faults(zr90_link* link, unsigned axis, zr90_faults* faults, zr90_error* error) {
  if (faults == nullptr || axis > 0xFF) return failed(error, ZR90_ARGUMENT, "no place for the faults, or a bad axis");
  const std::span<const drive::FaultWord> words = drive::fault_words();
  std::vector<const char*> names;
  for (const drive::FaultWord& word : words) names.push_back(word.name.data());
  std::vector<zr90_reading> readings(words.size());
  const uint8_t one_axis = static_cast<uint8_t>(axis);
  const int code = zr90_get_many(link, names.data(), names.size(), &one_axis, 1, readings.data(), error);
  if (code != ZR90_OK) return code;
  *faults = zr90_faults{};
  for (std::size_t w = 0; w < words.size() && w < std::size(faults->words); ++w) {
    zr90_fault_word& out = faults->words[w];
    const auto value = static_cast<uint16_t>(readings[w].value);
    out.name = words[w].name.data();
    out.role = static_cast<int>(words[w].role);
    out.value = value;
    out.shows_fault = drive::shows_fault(words[w], value) ? 1 : 0;
    const std::string bits = bit_names(words[w], value);
    bits.copy(out.bits, sizeof out.bits - 1);
    out.bits[std::min(bits.size(), sizeof out.bits - 1)] = '\0';
    faults->any_fault = faults->any_fault || out.shows_fault;
    faults->count = w + 1;
  }
  return ZR90_OK;
}

}  // extern "C"
