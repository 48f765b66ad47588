// What the C interface's sources share: the objects behind its opaque handles and
// the one way a failure becomes a zr90_error.
#pragma once

#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "capi/zr90.h"
#include "core/clock.h"
#include "core/reporter.h"
#include "core/result.h"
#include "drive/parameter.h"
#include "drive/settings_file.h"
#include "link/link.h"

namespace capi {

// Keeps the link's notices for the caller to read: the library never prints.
class NoticeCollector final : public core::Reporter {
 public:
  void notice(std::string_view line) override { text_ += std::string(line) + "\n"; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// What a failure is about, besides its text.
struct Where {
  Where(int axis = -1, std::string_view name = {}) : axis(axis), name(name) {}
  int axis;
  std::string_view name;
};

// Fills error (when given) and returns the code, so that a call ends with
// `return failed(...)`.
int failed(zr90_error* error, int code, const std::string& message, const Where& where = {});
// A failure of the drive layer: its kind's code, or ZR90_CANCELLED once the token was set.
int failed(zr90_error* error, const core::Failure& failure, const core::CancelToken& cancel, const Where& where = {});

// Every name looked up by the workbench's rules, added to parameters; the first unknown one fails.
int parameters_named(std::span<const char* const> names, std::vector<drive::Parameter>& parameters, zr90_error* error);

// Exceptions end at the interface: a C caller cannot catch them.
template <class Body>
int guarded(zr90_error* error, Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return failed(error, ZR90_NO_MEMORY, "out of memory");
  } catch (const std::exception& e) {
    return failed(error, ZR90_ARGUMENT, e.what());
  }
}

// Every call that reaches the drives starts here: an open link given, not cancelled.
int ready(const zr90_link* link, zr90_error* error);

// The value as the C interface gives it: signed types sign-extended.
int64_t number_of(const drive::Parameter& parameter, uint64_t bits);

}  // namespace capi

struct zr90_link {
  // Set from any thread or a signal handler; every wait of the link looks at it.
  core::CancelToken cancel;
  capi::NoticeCollector notices;
  std::unique_ptr<drivelink::Link> link;
  std::string description;

  // The axes are ascending, each once, and reached by the link; else ZR90_ARGUMENT.
  int check_axes(std::span<const uint8_t> axes, zr90_error* error) const;
  bool started(uint8_t axis) const { return (link->not_started() & core::channel_bit(axis)) == 0; }
};

struct zr90_settings {
  drive::SettingsFile file;
  // The file it was read from, which names a restore's backup; empty when taken from drives.
  std::string source;
};
