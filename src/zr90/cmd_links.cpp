// zr90 links: the named links of the links file and what each reaches; no link opened.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "core/text.h"
#include "drive/links_file.h"
#include "zr90/commands.h"
#include "zr90/output.h"

namespace zr90 {

namespace {

nlohmann::ordered_json link_json(const drive::NamedLink& link) {
  nlohmann::ordered_json row = {{"name", link.name}};
  const std::optional<std::string>* fields[] = {&link.interface_kind, &link.protocol, &link.port, &link.baud,
                                                &link.baud_mul,       &link.ip,       &link.axes};
  const std::span<const std::string_view> keys = drive::link_keys();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (*fields[i]) row[std::string(keys[i])] = **fields[i];
  }
  row["reaches"] = drive::reach_text(link);
  return row;
}

std::string link_table(const std::vector<drive::NamedLink>& links) {
  std::size_t width = 0;
  for (const drive::NamedLink& link : links) width = std::max(width, drive::shown_name(link.name).size());
  std::string table;
  for (const drive::NamedLink& link : links) {
    table += core::PADWITHSPACES(drive::shown_name(link.name), static_cast<int16_t>(width)) + "  " +
             drive::reach_text(link) + "\n";
  }
  return table;
}

}  // namespace

int run_links(const Options& options) {
  const std::string path = links_file_path(options);
  if (path.empty()) {
    say("no links file: give --links-file FILE (no HOME to find the usual one)");
    return EXIT_USAGE;
  }
  const core::Result<std::vector<drive::NamedLink>> links = drive::read_links(path);
  if (!links) {
    say(links.error().text);
    return EXIT_USAGE;
  }
  if (links->empty() && !options.json) {
    say("no named links in " + path);
    return EXIT_DONE;
  }
  std::string text;
  if (options.json) {
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const drive::NamedLink& link : *links) rows.push_back(link_json(link));
    text = rows.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  } else {
    text = link_table(*links);
  }
  return emit(text) ? EXIT_DONE : EXIT_FAILED;
}

}  // namespace zr90
