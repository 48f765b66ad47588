// zr90 plot: a CSV recorded by zr90 watch turned into an SVG chart.
#include <fstream>
#include <iterator>
#include <string>

#include "drive/atomic_file.h"
#include "zr90/commands.h"
#include "zr90/output.h"
#include "zr90/plot.h"

namespace zr90 {

int run_plot(const std::string& csv, const std::string& svg) {
  if (!svg.empty()) {
    if (core::Status writable = drive::check_writable(svg); !writable) {
      say(writable.error().text);
      return EXIT_USAGE;
    }
  }
  std::ifstream in(csv, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) {
    say(csv + ": cannot be read");
    return EXIT_USAGE;
  }
  const core::Result<plot::Recording> recording = plot::read_watch_csv(text);
  if (!recording) {
    say(csv + ": " + recording.error().text);
    return EXIT_USAGE;
  }
  const std::string chart = plot::svg_chart(*recording);
  if (svg.empty()) {
    if (emit(chart)) return EXIT_DONE;
    say("cannot write to standard output");
    return EXIT_USAGE;
  }
  if (core::Status written = drive::write_file_atomically(svg, chart); !written) {
    say(written.error().text);
    return EXIT_USAGE;
  }
  return EXIT_DONE;
}

}  // namespace zr90
