// zr90: the service workbench. Many parameters on up to eight drives in one run,
// watched, checked for faults, as text, CSV or JSON.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"
#include "config/config.h"
#include "platform/console.h"
#include "platform/streams.h"
#include "zr90/commands.h"
#include "zr90/version.h"

namespace {

using zr90::Options;

constexpr char DESCRIPTION[] =
    "zr90: service workbench for ZR90 drives.\n"
    "The link is chosen by the environment (INTERFACE, PROTOCOL, COMPORT, BAUDRATE,\n"
    "BAUDRATEMUL, IPADDR), each overridden by a named link (--link, ZR90_LINK; 'zr90 links'\n"
    "lists them) and that by its option below.";

constexpr char FOOTER[] =
    "Exit codes: 0 everything done, 1 an access, axis or verification failed,\n"
    "2 usage error, refused value, unreadable file or link that cannot come up.\n"
    "Run 'zr90 help COMMAND' for a command's options.";

constexpr std::string_view COMMANDS[] = {"list", "get", "set", "watch", "faults", "save", "diff", "restore",
                                         "completion", "help"};
// Known as well, but left out of the short reminder when no command is given (the
// help lists them).
constexpr std::string_view MORE_COMMANDS[] = {"links", "plot", "scan", "info", "console"};
// The options before a command that take a value of their own (as "--ip X"; not "--ip=X").
constexpr std::string_view VALUE_OPTIONS[] = {"-a", "--axis", "--interface", "--protocol", "--port",
                                              "--baud", "--baud-mul", "--ip", "--trace", "--link", "--links-file"};
constexpr std::size_t MAX_COMMAND_EDITS = 2;

bool listed(std::string_view word, std::span<const std::string_view> words) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

// The command as typed: the first word that is neither an option nor an option's
// value; empty when there is none.
std::string command_word(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word.empty() || word.front() != '-') return std::string(word);
    if (listed(word, VALUE_OPTIONS)) ++i;
  }
  return {};
}

// 'unknown command "gte"; did you mean "get"?', or nothing for a known command.
std::optional<std::string> unknown_command(const std::string& word) {
  if (word.empty() || listed(word, COMMANDS) || listed(word, MORE_COMMANDS)) return std::nullopt;
  std::string text = "unknown command \"" + word + "\"";
  std::vector<std::string_view> known(std::begin(COMMANDS), std::end(COMMANDS));
  known.insert(known.end(), std::begin(MORE_COMMANDS), std::end(MORE_COMMANDS));
  const std::vector<std::string> near = core::nearest_words(word, known, MAX_COMMAND_EDITS);
  if (!near.empty()) text += "; did you mean " + core::quoted_choices(near) + "?";
  return text;
}

std::string command_list() {
  std::string text;
  for (std::string_view command : COMMANDS) text += (text.empty() ? "" : ", ") + std::string(command);
  // Where a first run starts, on a line of its own.
  return text + "\nzr90: to find what is attached: scan, then info";
}

// The output options each command takes; any other is a usage error, not ignored.
struct OutputOptions {
  std::string_view command;
  bool json, csv, value, hex;
};
constexpr OutputOptions OUTPUT_OPTIONS[] = {
    {"list", true, false, false, false},    {"get", true, true, true, true},
    {"set", true, false, false, true},      {"watch", true, true, false, true},
    {"faults", true, false, false, false},  {"save", false, false, false, false},
    {"diff", true, false, false, true},     {"restore", true, false, false, true},
    {"scan", true, false, false, false},    {"info", true, false, false, false},
    {"completion", false, false, false, false}, {"help", false, false, false, false},
    {"links", true, false, false, false},   {"plot", false, false, false, false},
    {"console", false, false, false, true},
};

// Nothing when the output options given fit the command; the message otherwise.
std::optional<std::string> output_option_error(std::string_view command, const Options& options) {
  if (options.json + options.csv + options.value_only > 1) return "give one of --json, --csv and --value";
  const OutputOptions* takes = nullptr;
  for (const OutputOptions& row : OUTPUT_OPTIONS) {
    if (row.command == command) takes = &row;
  }
  if (takes == nullptr) return std::nullopt;
  const struct {
    bool given, taken;
    const char* name;
  } checks[] = {{options.json, takes->json, "--json"},
                {options.csv, takes->csv, "--csv"},
                {options.value_only, takes->value, "--value"},
                {options.hex, takes->hex, "--hex"}};
  std::string accepted;
  for (const auto& check : checks) {
    if (check.taken) accepted += (accepted.empty() ? "" : ", ") + std::string(check.name);
  }
  for (const auto& check : checks) {
    if (!check.given || check.taken) continue;
    return std::string(check.name) + " does not apply to " + std::string(command) + "; " + std::string(command) +
           (accepted.empty() ? " takes no output option" : " takes " + accepted);
  }
  return std::nullopt;
}

// "Usage: zr90 diff [OPTIONS] FILE [OTHER]"
std::string usage_line(const CLI::App& command) {
  const std::string help = command.help("zr90");
  const std::size_t start = help.find("Usage:");
  if (start == std::string::npos) return {};
  return help.substr(start, help.find('\n', start) - start);
}

void add_link_options(CLI::App& app, Options& options) {
  app.add_option("-a,--axis", options.axes, "Axes: 2, 0,2,5, 0-3 or all (default 0)");
  app.add_option("--interface", options.interface_kind, "Interface kind: OSDEVICE, EZAL16 or OSZAL (INTERFACE)");
  app.add_option("--protocol", options.protocol, "Protocol: HEX, ZAL, SSZAL or DIRECT (PROTOCOL)");
  app.add_option("--port", options.port, "Serial port: COMn, or a device path (COMPORT)");
  app.add_option("--baud", options.baud, "Bit rate (BAUDRATE)");
  app.add_option("--baud-mul", options.baud_mul, "Bit rate divisor, 1 to 64 (BAUDRATEMUL)");
  app.add_option("--ip", options.ip, "Card address for EZAL16 (IPADDR)");
  app.add_option("--trace", options.trace_path, "Write the wire trace to FILE")->type_name("FILE");
  app.add_option("--link", options.link_name, "The link NAME of the links file; its options win over it (ZR90_LINK)")
      ->type_name("NAME");
  app.add_option("--links-file", options.links_file, "Named links from FILE, not ~/.config/zr90/links.toml")
      ->type_name("FILE");
}

void add_output_options(CLI::App& app, Options& options) {
  app.add_flag("--json", options.json, "JSON (list, get, set, watch: a line per sample, faults, diff, restore)");
  app.add_flag("--csv", options.csv, "Comma-separated values (get, watch)");
  app.add_flag("--value", options.value_only, "Values only, one a line (get)");
  app.add_flag("--hex", options.hex, "Values in hexadecimal; in JSON a NAME_hex text beside each number");
  app.add_flag("-q,--quiet", options.quiet, "No notices");
  app.add_flag("-v,--verbose", options.verbose, "Also say the link's defaults assumed (set: each write, too)");
}

// The trace may not take the place of a file the command reads or writes.
bool same_file(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code unseen;
  if (std::filesystem::equivalent(a, b, unseen)) return true;
  return std::filesystem::weakly_canonical(a, unseen) == std::filesystem::weakly_canonical(b, unseen);
}

}  // namespace

int main(int argc, char** argv) {
  // Data that goes nowhere is a failed run, whatever the command.
  if (!platform::output_is_open()) {
    std::fputs("zr90: standard output is closed; nothing done\n", stderr);
    return zr90::EXIT_USAGE;
  }
  platform::console::guard_standard_streams();
  Options options;
  std::vector<std::string> arguments;
  std::string shell;
  std::string help_topic;

  CLI::App app{DESCRIPTION, "zr90"};
  app.footer(FOOTER);
  // Every option starts with a dash on every system: an argument "/tmp/x.json" is a
  // path, also on Windows.
  app.allow_windows_style_options(false);
  app.set_version_flag("-V,--version", std::string("zr90 ") + ZR90_VERSION + " (ZR90 service tools)");
  app.require_subcommand(1);
  app.fallthrough();
  add_link_options(app, options);
  add_output_options(app, options);

  CLI::App* list = app.add_subcommand("list", "List the parameters: name, address, type, memory");
  list->add_option("PATTERN", arguments, "Case-insensitive wildcards ('nv*', '*fault*')");

  CLI::App* get = app.add_subcommand("get", "Read parameters on each axis");
  get->add_option("NAME", arguments, "NAME or NAME+OFFSET")->required();

  CLI::App* set = app.add_subcommand("set", "Write parameters on each axis, each value read back");
  set->add_option("ASSIGNMENT", arguments, "NAME=VALUE")->required();
  set->add_flag("-y,--yes", options.yes, "Write EEPROM settings without asking");
  set->add_flag("--no-verify", options.no_verify, "Do not read each value back");
  set->add_flag("-v,--verbose", options.verbose, "Print NAME OLD -> NEW for each write");

  CLI::App* watch = app.add_subcommand("watch", "Read parameters again and again (q, Esc or Ctrl-C ends)");
  watch->add_option("NAME", arguments, "NAME or NAME+OFFSET")->required();
  watch->add_option("--interval", options.interval_ms, "Milliseconds between samples; 0: as fast as the link allows")
      ->check(CLI::Range(0, 3600000));
  watch->add_option("--count", options.count, "Stop after N samples")->check(CLI::PositiveNumber);
  zr90::WatchRequest watching;
  watch->add_flag("--plot", watching.plot, "On a terminal: lines over the last samples instead of the table");
  watch->add_option("--svg", watching.svg, "At the end, write a chart of every sample to FILE (SVG)")->type_name("FILE");
  watch->add_flag("--timestamps", watching.timestamps, "Text, CSV and JSON: the UTC time of each sample first");
  watch->footer("On a terminal (without --csv and --json) a table drawn in place, a row per parameter and a column\n"
                "per axis: space pauses, m shows each value's minimum and maximum, r resets them.");

  bool console_plot = false;
  CLI::App* console =
      app.add_subcommand("console", "Watch parameters and read, write and watch more on a command line");
  console->add_option("NAME", arguments, "NAME or NAME+OFFSET to watch from the start");
  console->add_option("--interval", options.interval_ms, "Milliseconds between samples; 0: as fast as the link allows")
      ->check(CLI::Range(0, 3600000));
  console->add_flag("--plot", console_plot, "Lines over the last samples instead of the table");
  console->footer("On a terminal only: the table (or chart) of the watched values, a log and a command line\n"
                  "(get, set, add, remove, axes, interval, plot, faults, save, help, quit). Tab completes,\n"
                  "up and down recall; Ctrl-C cancels the command running, twice on an empty line ends.");

  std::string plot_csv;
  std::string plot_svg;
  CLI::App* plot = app.add_subcommand("plot", "Turn a CSV of 'watch --csv' into an SVG chart");
  plot->add_option("FILE", plot_csv, "CSV written by zr90 watch --csv")->required();
  plot->add_option("-o,--output", plot_svg, "SVG file to write (standard output without it)")->type_name("FILE");

  app.add_subcommand("faults", "Read and decode the fault and status words")
      ->footer("An axis without a fault is one line, 'no faults'.\n"
               "Exit codes: 0 no axis has a fault, 1 an axis has a fault bit set (or could not be read),\n"
               "2 usage or link error.");

  zr90::SettingsRequest settings;
  CLI::App* save = app.add_subcommand("save", "Save every EEPROM setting of each axis to a settings file");
  save->add_option("FILE", settings.file, "Settings file to write (standard output without it)");
  save->add_flag("--ram", settings.ram, "Save the RAM parameters too (never restored)");

  CLI::App* diff = app.add_subcommand("diff", "Compare two settings files, or a file with the drives");
  diff->add_option("FILE", settings.file, "Settings file")->required();
  diff->add_option("OTHER", settings.other, "Settings file (the live drives without it)");
  diff->footer("Prints a header naming the two sides (FILE, and OTHER or 'drives'), then AXIS NAME VALUE VALUE\n"
               "for each difference ('-' where a side lacks the setting); an axis one side lacks is one line.\n"
               "Exit codes: 0 the same, 1 different, 2 unreadable file or link error.");

  CLI::App* restore = app.add_subcommand("restore", "Write a settings file's EEPROM settings back to the drives");
  restore->add_option("FILE", settings.file, "Settings file")->required();
  restore->add_option("--from", settings.from, "Take the settings the file holds for this axis (onto --axis)")
      ->check(CLI::Range(0, 7))
      ->type_name("AXIS");
  restore->add_flag("--dry-run", settings.dry_run, "Show what would change; write nothing");
  restore->add_flag("--no-backup", settings.no_backup, "Do not save the drives' settings before writing");
  restore->add_flag("-y,--yes", options.yes, "Write without asking");
  restore->footer("Restores the axes the file holds, or those of --axis. 'zr90 restore line.json --from 2\n"
                  "--axis 5' puts the settings saved for axis 2 on axis 5 (a replacement drive).\n"
                  "The whole file is checked first; only the settings that differ are written, each read\n"
                  "back. Before the first write the drives' settings are saved next to FILE as\n"
                  "NAME.before-YYYYMMDDTHHMMSS.json; restoring that file undoes the restore.\n"
                  "Exit codes: 0 every write verified, 1 a write failed or was interrupted,\n"
                  "2 a bad file, usage, no terminal to confirm (give -y) or a link error; nothing written.");

  zr90::ScanRequest scan_request;
  CLI::App* scan = app.add_subcommand("scan", "Find drives and cards on the serial ports and at addresses");
  scan->add_option("--save", scan_request.save_name, "Keep the first find as the named link NAME")->type_name("NAME");
  scan->footer("Probes the serial ports of this machine, or those of --port (COM1,/dev/ttyUSB0), at the rates of\n"
               "--baud (115200,9600; eight usual rates by default), and the card addresses of --ip\n"
               "(192.168.1.20,192.168.1.0/24; at most 256). With --ip alone, no serial port is probed.\n"
               "Probing sends bytes to whatever is attached to a port.\n"
               "Exit codes: 0 something was found, 1 nothing was found, 2 usage error.");

  app.add_subcommand("info", "Show the card and the drives at the end of the link: what they are, faults")
      ->footer("On a card, every channel is started to learn which have a drive; without --axis the drives\n"
               "shown are those found.");

  CLI::App* completion = app.add_subcommand("completion", "Print a completion script");
  completion->add_option("SHELL", shell, "bash or powershell")->required()->check(CLI::IsMember({"bash", "powershell"}));

  CLI::App* links = app.add_subcommand("links", "List the named links and what each reaches");
  links->footer("The links file holds a [NAME] table for each link, its keys named as the link options:\n"
                "interface, protocol, port, baud, baud-mul, ip and axis. 'zr90 --link NAME' takes the\n"
                "link from it; an option given wins over the link, the link over the environment.");

  CLI::App* help = app.add_subcommand("help", "Show the help of a command");
  help->add_option("COMMAND", help_topic);

  const std::string typed_command = command_word(argc, argv);
  if (const std::optional<std::string> unknown = unknown_command(typed_command)) {
    std::fprintf(stderr, "zr90: %s\nRun 'zr90 --help' for the commands and options.\n", unknown->c_str());
    return zr90::EXIT_USAGE;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help and version go to standard output with exit 0; mistakes to standard error.
    if (error.get_exit_code() == 0) return app.exit(error);
    std::string text = error.what();
    if (typed_command.empty() && dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
      text = "a command is required: " + command_list();
    } else if (!typed_command.empty()) {
      text = typed_command + ": " + text + "\n" + usage_line(*app.get_subcommand(typed_command));
    }
    std::fprintf(stderr, "zr90: %s\nRun 'zr90 --help' for the commands and options.\n", text.c_str());
    return zr90::EXIT_USAGE;
  }

  if (help->parsed()) {
    if (help_topic.empty()) {
      std::fputs(app.get_formatter()->make_help(&app, "zr90", CLI::AppFormatMode::Normal).c_str(), stdout);
      return zr90::EXIT_DONE;
    }
    if (const std::optional<std::string> unknown = unknown_command(help_topic)) {
      std::fprintf(stderr, "zr90: %s\nRun 'zr90 --help' for the commands and options.\n", unknown->c_str());
      return zr90::EXIT_USAGE;
    }
    std::fputs(app.get_subcommand(help_topic)->help("zr90").c_str(), stdout);
    return zr90::EXIT_DONE;
  }
  if (const std::optional<std::string> misfit = output_option_error(typed_command, options)) {
    std::fprintf(stderr, "zr90: %s\n", misfit->c_str());
    return zr90::EXIT_USAGE;
  }
  // Reading commands end at once on Ctrl-C; writing ones finish the write in progress.
  options.interrupt_ends_waits = !(set->parsed() || restore->parsed());
  if (list->parsed()) return zr90::run_list(options, arguments);
  if (completion->parsed()) return zr90::run_completion(shell);
  if (links->parsed()) return zr90::run_links(options);
  if (plot->parsed()) return zr90::run_plot(plot_csv, plot_svg);
  if (scan->parsed()) return zr90::run_scan(options, scan_request);
  // Only the commands that open a link read the named one.
  settings.axes_given = app.get_option("--axis")->count() > 0;
  options.axes_given = settings.axes_given;
  if (!zr90::take_named_link(options)) return zr90::EXIT_USAGE;
  if (get->parsed()) return zr90::run_get(options, arguments);
  if (set->parsed()) return zr90::run_set(options, arguments);
  if (typed_command == "info") return zr90::run_info(options);
  const std::string trace = !options.trace_path.empty() ? options.trace_path : config::process_environment("ZR90_TRACE");
  for (const std::string& file : {settings.file, settings.other}) {
    if (!(save->parsed() || diff->parsed() || restore->parsed()) || !same_file(trace, file)) continue;
    std::fprintf(stderr, "zr90: the trace file %s is the settings file %s too; give the trace another name\n",
                 trace.c_str(), file.c_str());
    return zr90::EXIT_USAGE;
  }
  if (watch->parsed() && same_file(trace, watching.svg)) {
    std::fprintf(stderr, "zr90: the trace file %s is the chart %s too; give the trace another name\n", trace.c_str(),
                 watching.svg.c_str());
    return zr90::EXIT_USAGE;
  }
  if (watch->parsed()) return zr90::run_watch(options, arguments, watching);
  if (console->parsed()) return zr90::run_console(options, arguments, console_plot);
  if (save->parsed()) return zr90::run_save(options, settings);
  if (diff->parsed()) return zr90::run_diff(options, settings);
  if (restore->parsed()) return zr90::run_restore(options, settings);
  return zr90::run_faults(options);
}
