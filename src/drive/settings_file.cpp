#include "drive/settings_file.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <regex>
#include <fstream>
#include <set>
#include <sstream>

#include "drive/reading.h"

namespace drive {

namespace {

using nlohmann::ordered_json;

core::Failure refused(const std::string& text) { return core::fail(core::FailureKind::config, text); }

const Parameter* named(const std::vector<Parameter>& parameters, std::string_view name) {
  for (const Parameter& parameter : parameters) {
    if (parameter.name == name) return &parameter;
  }
  return nullptr;
}

ordered_json values_json(const std::vector<SavedValue>& values) {
  ordered_json object = ordered_json::object();
  for (const SavedValue& v : values) {
    if (is_signed(v.parameter.type)) {
      object[v.parameter.name] = signed_value(v.parameter.type, v.bits);
    } else {
      object[v.parameter.name] = v.bits;
    }
  }
  return object;
}

// "[json.exception.parse_error.101] parse error at line 3, column 5: syntax error ..."
// in the user's words: "line 3, column 5: syntax error ..."; and a number too
// large for the reader, "[json.exception.out_of_range.406] number overflow parsing
// '1e999'", as "number overflow parsing '1e999'".
std::string syntax_message(const std::string& what) {
  const std::string marker = "parse error at ";
  if (const std::size_t at = what.find(marker); at != std::string::npos) return what.substr(at + marker.size());
  const std::size_t tag_end = what.find("] ");
  return what.rfind("[json.exception.", 0) == 0 && tag_end != std::string::npos ? what.substr(tag_end + 2) : what;
}

// A name the wrong section holds, or none at all: what the user probably meant.
std::string unknown_name_message(const std::string& name, bool eeprom_section) {
  if (name == NOT_A_SETTING) return name + " is not a setting and is never saved or restored";
  if (named(eeprom_section ? saved_ram_parameters() : saved_eeprom_parameters(), name)) {
    return name + (eeprom_section ? " is a RAM parameter, not an EEPROM setting"
                                  : " is an EEPROM setting, not a RAM parameter");
  }
  core::Result<Parameter> near = find_parameter(name);
  if (near) return "unknown parameter \"" + name + "\"; the dictionary writes it \"" + near->name + "\"";
  return near.error().text;
}

core::Result<std::vector<SavedValue>> parse_values(const ordered_json& object, bool eeprom_section,
                                                   std::vector<std::string>& skipped) {
  const std::vector<Parameter>& known = eeprom_section ? saved_eeprom_parameters() : saved_ram_parameters();
  if (!object.is_object()) return refused(std::string(eeprom_section ? "\"eeprom\"" : "\"ram\"") + " is not an object");
  std::vector<SavedValue> values;
  for (const auto& [name, value] : object.items()) {
    if (eeprom_section && is_configuration_location(name)) {
      if (std::find(skipped.begin(), skipped.end(), name) == skipped.end()) skipped.push_back(name);
      continue;
    }
    const Parameter* parameter = named(known, name);
    if (!parameter) return refused(unknown_name_message(name, eeprom_section));
    if (!value.is_number_integer()) return refused(name + ": " + value.dump() + " is not an integer");
    const std::string text = value.is_number_unsigned() ? std::to_string(value.get<uint64_t>())
                                                         : std::to_string(value.get<int64_t>());
    core::Result<uint64_t> bits = parse_value(*parameter, text);
    if (!bits) return bits.error();
    values.push_back({*parameter, width_bits(*parameter, *bits)});
  }
  // Dictionary order, whatever order a person edited them into.
  auto rank = [&known](const SavedValue& v) { return named(known, v.parameter.name) - known.data(); };
  std::sort(values.begin(), values.end(), [&](const SavedValue& a, const SavedValue& b) { return rank(a) < rank(b); });
  return values;
}

uint16_t width_bytes(const Parameter& p) { return static_cast<uint16_t>(p.location.width); }

uint8_t byte_at(const SavedValue& v, uint16_t address) {
  return static_cast<uint8_t>(v.bits >> (8 * (address - v.parameter.location.address)));
}

// nvkqi and nvkqilo are one EEPROM word seen twice: a file that gives them
// different values would leave the drive holding whichever was written last.
core::Status check_shared_bytes(const std::vector<SavedValue>& values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    for (std::size_t j = i + 1; j < values.size(); ++j) {
      const SavedValue& a = values[i];
      const SavedValue& b = values[j];
      const uint16_t first = std::max(a.parameter.location.address, b.parameter.location.address);
      const uint16_t end = std::min<uint16_t>(a.parameter.location.address + width_bytes(a.parameter),
                                              b.parameter.location.address + width_bytes(b.parameter));
      for (uint16_t address = first; address < end; ++address) {
        if (byte_at(a, address) == byte_at(b, address)) continue;
        return refused(a.parameter.name + " (" + format_value(a.parameter.type, a.bits, false) + ") and " +
                       b.parameter.name + " (" + format_value(b.parameter.type, b.bits, false) +
                       ") disagree on the EEPROM byte they share at " + address_text(address));
      }
    }
  }
  return {};
}

core::Result<DriveSettings> parse_drive(const ordered_json& entry, std::set<int>& seen, std::vector<std::string>& skipped) {
  if (!entry.is_object()) return refused("an entry of \"drives\" is not an object");
  const auto axis = entry.find("axis");
  if (axis == entry.end() || !axis->is_number_integer() || axis->get<int64_t>() < 0 || axis->get<int64_t>() > 7) {
    return refused("a drive's \"axis\" must be 0 to 7" +
                   (axis == entry.end() ? std::string() : std::string(", not ") + axis->dump()));
  }
  DriveSettings drive;
  drive.axis = static_cast<uint8_t>(axis->get<int64_t>());
  const std::string where = "axis " + std::to_string(drive.axis) + ": ";
  if (!seen.insert(drive.axis).second) return refused(where + "the axis appears twice");
  const auto eeprom = entry.find("eeprom");
  if (eeprom == entry.end()) return refused(where + "no \"eeprom\" settings");
  core::Result<std::vector<SavedValue>> settings = parse_values(*eeprom, true, skipped);
  if (!settings) return refused(where + settings.error().text);
  if (core::Status agreed = check_shared_bytes(*settings); !agreed) return refused(where + agreed.error().text);
  drive.eeprom = std::move(*settings);
  if (const auto ram = entry.find("ram"); ram != entry.end()) {
    core::Result<std::vector<SavedValue>> values = parse_values(*ram, false, skipped);
    if (!values) return refused(where + values.error().text);
    drive.ram = std::move(*values);
    drive.has_ram = true;
  }
  return drive;
}

core::Status check_header(const ordered_json& root) {
  if (!root.is_object()) return refused("not a zr90 settings file (not a JSON object)");
  const auto format = root.find("format");
  if (format == root.end() || !format->is_string() || *format != SETTINGS_FORMAT) {
    return refused("not a zr90 settings file (\"format\" is " +
                   (format == root.end() ? std::string("missing") : format->dump()) + ", not \"" + SETTINGS_FORMAT +
                   "\")");
  }
  const auto version = root.find("version");
  if (version == root.end() || !version->is_number_integer() || version->get<int64_t>() < 1) {
    return refused("\"version\" must be a whole number from 1");
  }
  if (version->get<int64_t>() > SETTINGS_VERSION) {
    return refused("format version " + version->dump() + " is newer than this zr90 reads (" +
                   std::to_string(SETTINGS_VERSION) + "); use a newer zr90");
  }
  return {};
}

std::string string_member(const ordered_json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// Keys of the objects being parsed, outermost first: a key given twice would
// otherwise silently lose one of its values.
class DuplicateKeyWatch {
 public:
  bool operator()(int depth, ordered_json::parse_event_t event, ordered_json& parsed) {
    const auto level = static_cast<std::size_t>(depth);
    if (event == ordered_json::parse_event_t::object_start) {
      keys_.resize(level);
      keys_.emplace_back();
    }
    if (event == ordered_json::parse_event_t::key && level > 0 && level <= keys_.size()) {
      const std::string key = parsed.get<std::string>();
      if (!keys_[level - 1].insert(key).second && duplicate_.empty()) duplicate_ = key;
    }
    if (event == ordered_json::parse_event_t::object_end && level < keys_.size()) keys_.resize(level);
    return true;
  }
  const std::string& duplicate() const { return duplicate_; }

 private:
  std::vector<std::set<std::string>> keys_;
  std::string duplicate_;
};

// A card on Ethernet is recorded by its address, anything else by its port.
const char* address_key(const LinkDescription& link) {
  const config::InterfaceDescriptor* known = config::interface_named(link.interface_kind);
  return known != nullptr && known->endpoint == config::Endpoint::ip_address ? "ip" : "port";
}

// "line 3, column 5"
std::string position(std::string_view text, std::size_t offset) {
  std::size_t line = 1;
  std::size_t column = 1;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
    column = text[i] == '\n' ? 1 : column + 1;
    line += text[i] == '\n' ? 1 : 0;
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// One pass over the text, before the JSON reader sees it: the reader's own work
// grows faster than the text with deep nesting or with many keys in one object.
core::Status check_shape(std::string_view text) {
  std::vector<std::size_t> members;  // of each open container, innermost last
  bool in_string = false;
  bool escaped = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\0') return refused("holds a NUL byte at " + position(text, i) + "; not a settings file");
    if (in_string) {
      in_string = !(c == '"' && !escaped);
      escaped = c == '\\' && !escaped;
      continue;
    }
    if (c == '"') in_string = true;
    if (c == '{' || c == '[') {
      members.push_back(1);
      if (members.size() > static_cast<std::size_t>(MAX_NESTING)) {
        return refused("nested deeper than " + std::to_string(MAX_NESTING) + " levels at " + position(text, i));
      }
    }
    if ((c == '}' || c == ']') && !members.empty()) members.pop_back();
    if (c == ',' && !members.empty() && ++members.back() > MAX_MEMBERS) {
      return refused("more than " + std::to_string(MAX_MEMBERS) + " entries in one object or array at " +
                     position(text, i));
    }
  }
  return {};
}

std::string local_stamp() {
  const std::time_t now = std::time(nullptr);
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", std::localtime(&now));
  return text;
}

}  // namespace

LinkDescription link_description(const config::LinkSettings& settings) {
  LinkDescription link;
  link.interface_kind = config::describe(settings.interface_kind).name;
  link.protocol = config::describe(settings.protocol).name;
  const bool by_address = config::describe(settings.interface_kind).endpoint == config::Endpoint::ip_address;
  link.address = by_address ? settings.ip_address : settings.comport;
  return link;
}

const DriveSettings* SettingsFile::drive(uint8_t axis) const {
  for (const DriveSettings& d : drives) {
    if (d.axis == axis) return &d;
  }
  return nullptr;
}

std::string settings_text(const SettingsFile& file) {
  ordered_json root;
  root["format"] = SETTINGS_FORMAT;
  root["version"] = SETTINGS_VERSION;
  root["saved_at"] = file.saved_at;
  root["saved_by"] = file.saved_by;
  ordered_json link = ordered_json::object();
  link["interface"] = file.link.interface_kind;
  link["protocol"] = file.link.protocol;
  if (!file.link.address.empty()) link[address_key(file.link)] = file.link.address;
  root["link"] = link;
  root["drives"] = ordered_json::array();
  for (const DriveSettings& drive : file.drives) {
    ordered_json entry;
    entry["axis"] = drive.axis;
    entry["eeprom"] = values_json(drive.eeprom);
    if (drive.has_ram) entry["ram"] = values_json(drive.ram);
    root["drives"].push_back(entry);
  }
  return root.dump(2) + "\n";
}

core::Result<SettingsFile> parse_settings(std::string_view text) {
  if (core::Status shape = check_shape(text); !shape) return shape.error();
  DuplicateKeyWatch watch;
  ordered_json root;
  try {
    root = ordered_json::parse(text.begin(), text.end(), std::ref(watch));
  } catch (const ordered_json::exception& error) {
    // Not only syntax: a number beyond a double's range is thrown as out_of_range.
    return refused(syntax_message(error.what()));
  }
  if (core::Status header = check_header(root); !header) return header.error();
  if (!watch.duplicate().empty()) return refused("\"" + watch.duplicate() + "\" is given twice in one object");
  SettingsFile file;
  file.saved_at = string_member(root, "saved_at");
  file.saved_by = string_member(root, "saved_by");
  if (const auto link = root.find("link"); link != root.end() && link->is_object()) {
    file.link.interface_kind = string_member(*link, "interface");
    file.link.protocol = string_member(*link, "protocol");
    file.link.address = string_member(*link, link->contains("ip") ? "ip" : "port");
  }
  const auto drives = root.find("drives");
  if (drives == root.end() || !drives->is_array() || drives->empty()) return refused("no \"drives\" in the file");
  std::set<int> seen;
  for (const ordered_json& entry : *drives) {
    core::Result<DriveSettings> drive = parse_drive(entry, seen, file.skipped);
    if (!drive) return drive.error();
    file.drives.push_back(std::move(*drive));
  }
  std::sort(file.drives.begin(), file.drives.end(), [](const auto& a, const auto& b) { return a.axis < b.axis; });
  return file;
}

core::Result<SettingsFile> read_settings_file(const std::string& path) {
  std::error_code unseen;
  if (std::filesystem::is_directory(path, unseen)) return refused(path + ": is a folder, not a settings file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return refused(path + ": cannot be read");
  // One byte more than allowed tells a file that is too large, whatever it is (/dev/zero).
  std::string text(MAX_SETTINGS_FILE_BYTES + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return refused(path + ": cannot be read");
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > MAX_SETTINGS_FILE_BYTES) {
    return refused(path + ": larger than " + std::to_string(MAX_SETTINGS_FILE_BYTES / 1024 / 1024) +
                   " MiB; not a settings file");
  }
  core::Result<SettingsFile> file = parse_settings(text);
  if (!file) return refused(path + ": " + file.error().text);
  return file;
}

std::string utc_timestamp() {
  const std::time_t now = std::time(nullptr);
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  return text;
}

std::string backup_path(const std::string& path) {
  std::string stem = path;
  const std::string suffix = ".json";
  if (stem.size() >= suffix.size() && stem.compare(stem.size() - suffix.size(), suffix.size(), suffix) == 0) {
    stem.resize(stem.size() - suffix.size());
  }
  // A backup's own backup is named after the original file, not stacked on the name.
  static const std::regex earlier_backup(R"(\.before-\d{8}T\d{6}(-\d+)?$)");
  stem = std::regex_replace(stem, earlier_backup, "");
  const std::string base = stem + ".before-" + local_stamp();
  std::string candidate = base + suffix;
  // Two restores within a second must not lose the first one's backup.
  // A name that cannot be looked at counts as free: writing it then fails with its reason.
  std::error_code unseen;
  for (int n = 2; std::filesystem::exists(candidate, unseen); ++n) candidate = base + "-" + std::to_string(n) + suffix;
  return candidate;
}

}  // namespace drive
