// What every call of the C interface shares: errors, name lookup, the values'
// numbers, and the version and the dictionary's parameters.
#include <cstdlib>
#include <cstring>
#include <regex>

#include "capi/internal.h"
#include "dictionary/dictionary.h"
#include "drive/value_type.h"
#include "zr90/version.h"

namespace capi {

namespace {

void copy_text(char* target, std::size_t size, std::string_view text) {
  const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
  // An empty view may have no data at all, which memcpy must not be given.
  if (n > 0) std::memcpy(target, text.data(), n);
  target[n] = '\0';
}

int code_of(core::FailureKind kind) {
  switch (kind) {
    case core::FailureKind::config:
      return ZR90_CONFIG;
    case core::FailureKind::open:
      return ZR90_OPEN;
    case core::FailureKind::missed_answer:
    case core::FailureKind::timeout:
      return ZR90_TIMEOUT;
    case core::FailureKind::corrupt:
      return ZR90_CORRUPT;
    case core::FailureKind::module:
      return ZR90_MODULE;
    case core::FailureKind::unsupported:
      return ZR90_UNSUPPORTED;
    case core::FailureKind::nonvolatile:
      return ZR90_NONVOLATILE;
    case core::FailureKind::interrupted:
      return ZR90_CANCELLED;
  }
  return ZR90_OPEN;
}

// A settings file's refusal names its place as "line 3, column 5" in the text.
void put_position(zr90_error* error, const std::string& message) {
  static const std::regex place(R"(line (\d+), column (\d+))");
  std::smatch found;
  if (std::regex_search(message, found, place)) {
    error->line = std::atoi(found[1].str().c_str());
    error->column = std::atoi(found[2].str().c_str());
  }
}

}  // namespace

int failed(zr90_error* error, int code, const std::string& message, const Where& where) {
  if (error == nullptr) return code;
  *error = zr90_error{};
  error->code = code;
  error->axis = where.axis;
  copy_text(error->name, sizeof error->name, where.name);
  copy_text(error->message, sizeof error->message, message);
  if (code == ZR90_SETTINGS) put_position(error, message);
  return code;
}

int failed(zr90_error* error, const core::Failure& failure, const core::CancelToken& cancel, const Where& where) {
  // A wait cut short by the token ends in whatever failure the protocol meets then.
  if (cancel.cancelled()) return failed(error, ZR90_CANCELLED, "cancelled", where);
  const std::string& text = failure.detail.empty() ? failure.text : failure.detail;
  return failed(error, code_of(failure.kind), text, where);
}

int parameters_named(std::span<const char* const> names, std::vector<drive::Parameter>& parameters, zr90_error* error) {
  for (const char* name : names) {
    if (name == nullptr) return failed(error, ZR90_ARGUMENT, "a parameter name is NULL");
    core::Result<drive::Parameter> parameter = drive::find_parameter(name);
    if (!parameter) return failed(error, ZR90_UNKNOWN_NAME, parameter.error().text, capi::Where{-1, name});
    parameters.push_back(std::move(*parameter));
  }
  return ZR90_OK;
}

int ready(const zr90_link* link, zr90_error* error) {
  if (link == nullptr || !link->link) return failed(error, ZR90_ARGUMENT, "no open link");
  if (link->cancel.cancelled()) return failed(error, ZR90_CANCELLED, "cancelled");
  return ZR90_OK;
}

int64_t number_of(const drive::Parameter& parameter, uint64_t bits) {
  return drive::signed_value(parameter.type, bits);
}

}  // namespace capi

namespace {

void describe_row(const dict::ZORNPARAMREC& row, zr90_parameter* parameter) {
  const drive::ValueType& type = drive::value_type(row.PARMTYPE);
  *parameter = zr90_parameter{};
  parameter->name = row.PARMNAME;
  parameter->address = static_cast<uint16_t>(row.PARMLOC);
  parameter->type = type.name.data();  // the table's names are literals
  parameter->memory = !type.memory ? "" : *type.memory == core::Memory::eeprom ? "eeprom" : "ram";
  parameter->width = type.width;
  parameter->is_signed = type.is_signed ? 1 : 0;
  parameter->lowest = type.lowest;
  parameter->highest = type.highest;
}

}  // namespace

extern "C" {

ZR90_API const char* zr90_version(void) { return ZR90_VERSION; }

ZR90_API const char* zr90_code_name(int code) {
  static const char* const NAMES[] = {"ok",          "argument",  "unknown name", "bad value", "config",
                                      "open",        "timeout",   "corrupt",      "module",    "unsupported",
                                      "nonvolatile", "cancelled", "not started",  "mismatch",  "settings",
                                      "file",        "no memory"};
  return code >= 0 && code < static_cast<int>(std::size(NAMES)) ? NAMES[code] : "unknown";
}

ZR90_API size_t zr90_parameter_count(void) { return dict::ZORNPARAMS.size(); }

ZR90_API int zr90_parameter_at(size_t index, zr90_parameter* parameter) {
  if (parameter == nullptr || index >= dict::ZORNPARAMS.size()) return ZR90_ARGUMENT;
  describe_row(dict::ZORNPARAMS[index], parameter);
  return ZR90_OK;
}

ZR90_API int zr90_parameter_info(const char* name, zr90_parameter* parameter, zr90_error* error) {
  if (name == nullptr || parameter == nullptr) return capi::failed(error, ZR90_ARGUMENT, "NULL name or parameter");
  core::Result<std::optional<drive::Parameter>> found =
      drive::look_up(name, {.unknown_name = drive::UnknownName::suggest, .single_value_only = false});
  if (!found) return capi::failed(error, ZR90_UNKNOWN_NAME, found.error().text, capi::Where{-1, name});
  for (const dict::ZORNPARAMREC& row : dict::ZORNPARAMS) {
    if (row.PARMNAME == (*found)->row_name) {
      describe_row(row, parameter);
      // "name+offset" is its own address.
      parameter->address = (*found)->address;
      return ZR90_OK;
    }
  }
  return capi::failed(error, ZR90_UNKNOWN_NAME, std::string("unknown parameter \"") + name + "\"",
                      capi::Where{-1, name});
}

ZR90_API void zr90_free(void* memory) { std::free(memory); }

}  // extern "C"
