#include "drive/links_file.h"

#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/text.h"
#include "drive/atomic_file.h"

namespace drive {

namespace {

using core::FailureKind;

constexpr std::array<std::string_view, 7> KEYS = {"interface", "protocol", "port", "baud", "baud-mul", "ip", "axis"};

// A user's file of a few links: anything near this size is not one.
constexpr std::uintmax_t MAX_FILE_BYTES = 1 << 20;

core::Failure refused(const std::string& text) { return core::fail(FailureKind::config, text); }

std::string where(const std::string& path, const toml::source_region& source) {
  return path + ": line " + std::to_string(source.begin.line) + ", column " + std::to_string(source.begin.column);
}

// The field of a link a key fills; nothing for an unknown key.
std::optional<std::string>* field_of(NamedLink& link, std::string_view key) {
  std::optional<std::string>* fields[] = {&link.interface_kind, &link.protocol, &link.port, &link.baud,
                                          &link.baud_mul,       &link.ip,       &link.axes};
  for (std::size_t i = 0; i < KEYS.size(); ++i) {
    if (KEYS[i] == key) return fields[i];
  }
  return nullptr;
}

// A number is taken as its text, so that "baud = 115200" and "baud = \"115200\"" mean
// the same and both are checked as the option's value is.
std::optional<std::string> value_text(const toml::node& node) {
  if (const auto* text = node.as_string()) return text->get();
  if (const auto* number = node.as_integer()) return std::to_string(number->get());
  if (const auto* real = node.as_floating_point()) {
    std::ostringstream out;
    out << real->get();
    return out.str();
  }
  return std::nullopt;
}

std::string key_list() {
  std::string text;
  for (std::string_view key : KEYS) text += (text.empty() ? "" : ", ") + std::string(key);
  return text;
}

core::Result<NamedLink> link_of(const std::string& name, const toml::node& node, const std::string& path) {
  const toml::table* table = node.as_table();
  if (table == nullptr) {
    return refused(where(path, node.source()) + ": " + shown_name(name) + " is not a table; a link is a [" +
                   shown_name(name) + "] table");
  }
  NamedLink link;
  link.name = name;
  for (const auto& [key, value] : *table) {
    std::optional<std::string>* field = field_of(link, key.str());
    if (field == nullptr) {
      return refused(where(path, key.source()) + ": unknown key \"" + shown_name(key.str()) + "\" in [" +
                     shown_name(name) + "]; the keys are " + key_list());
    }
    *field = value_text(value);
    if (!*field) {
      return refused(where(path, value.source()) + ": " + shown_name(key.str()) + " in [" + shown_name(name) +
                     "] must be text or a number");
    }
  }
  return link;
}

core::Result<toml::table> parsed(std::string_view text, const std::string& path) {
  try {
    return toml::parse(text, path);
  } catch (const toml::parse_error& error) {
    return refused(where(path, error.source()) + ": " + std::string(error.description()));
  }
}

// The file's text; empty for a file that does not exist.
core::Result<std::string> file_text(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return std::string();
  if (std::filesystem::is_directory(path, error)) return refused(path + " is a folder, not a links file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return refused("cannot read " + path);
  std::string text;
  char buffer[4096];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > MAX_FILE_BYTES) return refused(path + " is too large for a links file");
  }
  if (in.bad()) return refused("cannot read " + path);
  return text;
}

bool bare_key(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
  });
}

// A TOML basic string.
std::string toml_string(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\u00";
      out += core::HEXCHARS[byte >> 4];
      out += core::HEXCHARS[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

bool all_digits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string table_text(const NamedLink& link) {
  std::string text = "[" + (bare_key(link.name) ? link.name : toml_string(link.name)) + "]\n";
  NamedLink copy = link;
  for (std::string_view key : KEYS) {
    const std::optional<std::string>& value = *field_of(copy, key);
    if (!value) continue;
    // Rates and plain axis numbers read best as numbers; a number too long for TOML
    // stays text, and is refused later as the option's value would be.
    const bool number = key != "interface" && key != "protocol" && key != "port" && key != "ip" && all_digits(*value) &&
                        value->size() < 18 && (value->size() == 1 || value->front() != '0');
    text += std::string(key) + " = " + (number ? *value : toml_string(*value)) + "\n";
  }
  return text;
}

// The lines [first, last) of text (lines counted from 1), as offsets.
std::pair<std::size_t, std::size_t> line_span(std::string_view text, std::size_t first, std::size_t last) {
  std::size_t begin = text.size();
  std::size_t end = text.size();
  std::size_t line = 1;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (line == first && begin == text.size()) begin = i;
    if (line == last) {
      end = i;
      break;
    }
    if (i < text.size() && text[i] == '\n') ++line;
  }
  return {std::min(begin, end), end};
}

// The lines of text, each without its line end.
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool blank_or_comment(std::string_view line) {
  const std::size_t first = line.find_first_not_of(" \t\r");
  return first == std::string_view::npos || line[first] == '#';
}

// The line after a table's own lines (counted from 1): the next table header, less
// the blank and comment lines just above it, which belong to what follows.
std::size_t line_after_table(std::string_view text, const toml::node& table) {
  const std::size_t header = table.source().begin.line;
  if (table.as_table() != nullptr && table.as_table()->is_inline()) return table.source().end.line + 1;
  const std::vector<std::string_view> lines = lines_of(text);
  std::size_t next = lines.size() + 1;
  for (std::size_t line = header + 1; line <= lines.size(); ++line) {
    const std::string_view row = lines[line - 1];
    const std::size_t first = row.find_first_not_of(" \t");
    if (first != std::string_view::npos && row[first] == '[') {
      next = line;
      break;
    }
  }
  while (next > header + 1 && blank_or_comment(lines[next - 2])) --next;
  return next;
}

}  // namespace

std::span<const std::string_view> link_keys() { return KEYS; }

std::string default_links_path(const config::EnvLookup& lookup) {
#ifdef _WIN32
  const std::string appdata = lookup("APPDATA");
  return appdata.empty() ? std::string() : appdata + "\\zr90\\links.toml";
#else
  // An XDG path that is not absolute is to be ignored, as the base directory rules say.
  const std::string config_home = lookup("XDG_CONFIG_HOME");
  if (!config_home.empty() && config_home.front() == '/') return config_home + "/zr90/links.toml";
  const std::string home = lookup("HOME");
  return home.empty() ? std::string() : home + "/.config/zr90/links.toml";
#endif
}

core::Result<std::vector<NamedLink>> parse_links(std::string_view text, const std::string& path) {
  core::Result<toml::table> root = parsed(text, path);
  if (!root) return root.error();
  // The reader keeps its tables by name; a user lists them as the file has them.
  std::vector<std::pair<std::string_view, const toml::node*>> tables;
  for (const auto& [name, node] : *root) tables.emplace_back(name.str(), &node);
  std::stable_sort(tables.begin(), tables.end(), [](const auto& a, const auto& b) {
    return a.second->source().begin.line < b.second->source().begin.line;
  });
  std::vector<NamedLink> links;
  for (const auto& [name, node] : tables) {
    core::Result<NamedLink> link = link_of(std::string(name), *node, path);
    if (!link) return link.error();
    links.push_back(std::move(*link));
  }
  return links;
}

core::Result<std::vector<NamedLink>> read_links(const std::string& path) {
  core::Result<std::string> text = file_text(path);
  if (!text) return text.error();
  return parse_links(*text, path);
}

core::Result<NamedLink> find_link(const std::string& path, const std::string& name) {
  core::Result<std::vector<NamedLink>> links = read_links(path);
  if (!links) return links.error();
  std::string names;
  for (const NamedLink& link : *links) {
    if (link.name == name) return link;
    names += (names.empty() ? "\"" : ", \"") + shown_name(link.name) + "\"";
  }
  std::string text = "no link \"" + shown_name(name) + "\" in " + path;
  std::error_code unseen;
  if (names.empty()) {
    text += std::filesystem::exists(path, unseen) ? "; the file holds no links" : ": there is no such file";
  } else {
    text += "; the links there: " + names;
  }
  return refused(text);
}

core::Result<std::string> with_link(std::string_view text, const std::string& path, const NamedLink& link) {
  if (link.name.empty()) return refused("a link needs a name");
  core::Result<toml::table> root = parsed(text, path);
  if (!root) return root.error();
  std::string result;
  if (const toml::node* old = root->get(link.name)) {
    const auto [begin, end] = line_span(text, old->source().begin.line, line_after_table(text, *old));
    result = std::string(text.substr(0, begin)) + table_text(link) + std::string(text.substr(end));
  } else {
    result = std::string(text);
    if (!result.empty() && result.back() != '\n') result += '\n';
    if (!result.empty()) result += '\n';
    result += table_text(link);
  }
  // What is written must read back as the link it was meant to be.
  core::Result<std::vector<NamedLink>> check = parse_links(result, path);
  if (!check) return refused("cannot put [" + shown_name(link.name) + "] into " + path + ": " + check.error().text);
  return result;
}

core::Status save_link(const std::string& path, const NamedLink& link) {
  core::Result<std::string> old = file_text(path);
  if (!old) return old.error();
  core::Result<std::string> text = with_link(*old, path, link);
  if (!text) return text.error();
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::error_code error;
  if (!folder.empty() && !std::filesystem::exists(folder, error)) {
    std::filesystem::create_directories(folder, error);
    if (error) return refused("cannot make the folder " + folder.string() + ": " + error.message());
  }
  return write_file_atomically(path, *text);
}

std::string shown_name(std::string_view name) {
  std::string shown;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      shown += c;
    } else if (byte < 0x80) {
      shown += core::escaped_controls(std::string_view(&c, 1));
    } else {
      // Beyond ASCII a name may hold look-alikes or invisible characters: each byte shows.
      shown += "\\x";
      shown += core::HEXCHARS[byte >> 4];
      shown += core::HEXCHARS[byte & 0xF];
    }
  }
  return shown;
}

std::string reach_text(const NamedLink& link) {
  std::vector<std::string> parts;
  std::string kind;
  for (const std::optional<std::string>* name : {&link.interface_kind, &link.protocol}) {
    if (!*name) continue;
    if (!kind.empty()) kind += ' ';
    kind += core::UPSTRING(**name);
  }
  if (!kind.empty()) parts.push_back(kind);
  if (link.ip) parts.push_back("card " + *link.ip);
  std::string rate;
  if (link.baud) rate = *link.baud + " bit/s" + (link.baud_mul ? " / " + *link.baud_mul : std::string());
  if (link.port) {
    parts.push_back(rate.empty() ? *link.port : *link.port + " at " + rate);
  } else if (!rate.empty()) {
    parts.push_back(rate);
  }
  if (link.axes) parts.push_back("axes " + *link.axes);
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += ", ";
    text += part;
  }
  return core::escaped_controls(text.empty() ? "(all from the environment)" : text);
}

}  // namespace drive
