// The workbench's commands; each returns the run's exit code.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "zr90/session.h"

namespace zr90 {

int run_list(const Options& options, const std::vector<std::string>& patterns);
int run_get(const Options& options, const std::vector<std::string>& names);
int run_set(const Options& options, const std::vector<std::string>& assignments);
// What watch is asked for beyond the common options.
struct WatchRequest {
  bool plot = false;        // lines over the last samples instead of the table
  std::string svg;          // a chart of every sample written here at the end
  bool timestamps = false;  // the wall-clock time of each row
  bool live = false;        // decided by run_watch: a table or chart drawn on the terminal
};
int run_watch(const Options& options, const std::vector<std::string>& names, WatchRequest request);
// A CSV of watch turned into an SVG chart, to svg (standard output when empty).
int run_plot(const std::string& csv, const std::string& svg);
int run_faults(const Options& options);
// The live table (or with plot the chart) of names above a command line, on a terminal.
int run_console(const Options& options, const std::vector<std::string>& names, bool plot);
int run_completion(const std::string& shell);
int run_links(const Options& options);
int run_info(const Options& options);

struct ScanRequest {
  std::string save_name;  // --save: keep the first find as this named link
};
int run_scan(const Options& options, const ScanRequest& request);

// What save, diff and restore are asked for beyond the common options.
struct SettingsRequest {
  std::string file;               // save: where to (empty: standard output); diff: A; restore: FILE
  std::string other;              // diff: B (empty: the live drives)
  bool axes_given = false;        // --axis was on the command line
  bool ram = false;               // save --ram
  std::optional<unsigned> from;   // restore --from
  bool dry_run = false;
  bool no_backup = false;
};

int run_save(const Options& options, const SettingsRequest& request);
int run_diff(const Options& options, const SettingsRequest& request);
int run_restore(const Options& options, const SettingsRequest& request);

}  // namespace zr90
