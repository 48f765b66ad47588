// The full-screen view's pieces on plain strings: what a frame change writes to the
// terminal, the table's layout, the chart's scale and dots, and the reading of watch's CSV.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "drive/parameter.h"
#include "zr90/plot.h"
#include "zr90/screen.h"
#include "zr90/table_view.h"
#include "zr90/watch_view.h"

namespace {

using zr90::screen::Frame;
using zr90::screen::Line;
using zr90::screen::Screen;
using zr90::screen::Style;

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

TEST(Screen, OnlyWhatChangedIsWrittenAgain) {
  Screen screen;
  const Frame first{{{0, "parameter", {.bold = true}}, {12, "axis 0", {}}}, {{0, "kqp", {}}, {12, "  1200", {}}}};
  const std::string all = screen.draw(first, 80, 24);
  EXPECT_EQ(all.rfind("\x1b[H\x1b[2J", 0), 0u) << "the first frame starts from a cleared screen";
  EXPECT_EQ(count(all, "parameter"), 1u);
  EXPECT_EQ(count(all, "1200"), 1u);

  const struct {
    const char* what;
    Frame next;
    std::string expected;
  } cases[] = {
      {"nothing changed", first, ""},
      {"one cell's value, drawn over itself", {first[0], {{0, "kqp", {}}, {12, "  1300", {}}}}, "\x1b[2;13H  1300"},
      {"one cell's style",
       {first[0], {{0, "kqp", {}}, {12, "  1200", {.reverse = true}}}},
       "\x1b[2;13H\x1b[0;7m  1200\x1b[0m"},
      {"a wider cell: the line again, cleared to its end",
       {first[0], {{0, "kqp", {}}, {12, "  120000", {}}}},
       "\x1b[2;1Hkqp           120000\x1b[K"},
      {"a line less: cleared", {first[0]}, "\x1b[2;1H\x1b[K"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Screen again;
    (void)again.draw(first, 80, 24);
    EXPECT_EQ(again.draw(c.next, 80, 24), c.expected);
  }
}

TEST(Screen, ClipsToTheWindowAndRepaintsWhenAsked) {
  Screen screen;
  const Frame frame{{{0, "abcdef", {}}}, {{0, "second", {}}}, {{0, "third", {}}}};
  const std::string drawn = screen.draw(frame, 4, 2);
  EXPECT_NE(drawn.find("abcd"), std::string::npos);
  EXPECT_EQ(drawn.find("abcde"), std::string::npos) << "wider than the window";
  EXPECT_EQ(drawn.find("third"), std::string::npos) << "below the window";
  EXPECT_EQ(screen.draw(frame, 4, 2), "");
  screen.invalidate();
  EXPECT_EQ(screen.draw(frame, 4, 2).rfind("\x1b[H\x1b[2J", 0), 0u);
  EXPECT_EQ(screen.plain_text(), "abcdef\nsecond\n");
}

TEST(TableLayout, ColumnsAlignAndNeverNarrow) {
  zr90::screen::TableLayout layout;
  zr90::screen::TableModel model{"parameter", {"axis 0", "axis 2"}, {{"kqp", {{"1200", {}}, {"error", {}}}}}};
  std::vector<Line> lines = layout.lines(model);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0][1].column, 11);
  EXPECT_EQ(lines[1][1].text, "  1200") << "right-aligned under its heading";
  EXPECT_EQ(lines[1][2].column, 19);
  model.rows[0].cells[0].text = "123456789";
  lines = layout.lines(model);
  EXPECT_EQ(lines[1][2].column, 22) << "a wider value moves the next column";
  model.rows[0].cells[0].text = "1";
  lines = layout.lines(model);
  EXPECT_EQ(lines[1][1].text, "        1");
  EXPECT_EQ(lines[1][2].column, 22) << "and a narrower one does not move it back";
}

TEST(PlotScale, RoundTicksAroundTheValues) {
  const struct {
    double low, high;
    int ticks;
    double want_low, want_high, want_step;
  } cases[] = {
      {0, 1000, 4, 0, 1000, 500},     {3, 97, 4, 0, 100, 50},           {-120, 130, 5, -150, 150, 50},
      {0.1, 0.27, 4, 0.1, 0.3, 0.05}, {1200, 1200, 4, 1000, 1400, 100}, {0, 0, 4, -1, 1, 0.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.low) + " to " + std::to_string(c.high));
    const zr90::plot::Scale scale = zr90::plot::nice_scale(c.low, c.high, c.ticks);
    EXPECT_DOUBLE_EQ(scale.step, c.want_step);
    EXPECT_NEAR(scale.low, c.want_low, 1e-9);
    EXPECT_NEAR(scale.high, c.want_high, 1e-9);
    EXPECT_LE(scale.low, c.low);
    EXPECT_GE(scale.high, c.high);
  }
  EXPECT_EQ(zr90::plot::tick_text(0.25, 0.05), "0.25");
  EXPECT_EQ(zr90::plot::tick_text(1000, 250), "1000");
  EXPECT_EQ(zr90::plot::tick_text(-1e-17, 0.5), "0.0");
}

std::string chart_text(const std::vector<Line>& lines) {
  std::string text;
  for (const Line& line : lines) {
    for (const auto& span : line) text += span.text;
    text += "\n";
  }
  return text;
}

TEST(BrailleChart, EachSeriesInItsColourScaledToWhatIsShown) {
  const std::vector<double> rising{0, 10, 20, 30, 40, 50, 60, 70};
  const std::vector<double> flat(8, 35);
  const zr90::plot::Series series[] = {{"iq", rising, 6}, {"busv", flat, 3}};
  const std::vector<Line> lines = zr90::plot::braille_chart(series, 12, 4);
  ASSERT_EQ(lines.size(), 4u);
  const std::string text = chart_text(lines);
  EXPECT_NE(text.find("80┤"), std::string::npos) << text;
  EXPECT_NE(text.find(" 0┤"), std::string::npos) << text;
  bool seen[8] = {};
  for (const Line& line : lines) {
    for (const auto& span : line) seen[span.style.colour] = true;
  }
  EXPECT_TRUE(seen[6] && seen[3]) << "each series draws in its own colour";
  // The newest value at the right edge: the last column of the top row holds the 70.
  EXPECT_NE(lines[0].back().text.back(), ' ') << text;
}

TEST(BrailleChart, AGapWhereAReadFailed) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> values{5, 5, nan, nan, nan, nan, 5, 5};
  const zr90::plot::Series series[] = {{"kqp", values, 2}};
  const std::string text = chart_text(zr90::plot::braille_chart(series, 10, 1));
  // Two values a character: the four missing ones leave two characters blank.
  EXPECT_NE(text.find("⠤  ⠤\n"), std::string::npos) << text;
}

TEST(WatchCsv, ReadsWhatWatchWrites) {
  const struct {
    const char* text;
    std::size_t names, samples;
    const char* error;  // the failure's start, or empty
  } cases[] = {
      {"ms,busv,iu\n0,3250,-12\n100,3251,\n", 2, 2, ""},
      {"time,ms,fault\r\n2026-12-08T20:00:00.000Z,0,0x0004\r\n", 1, 1, ""},
      {"ms,kqp\n", 1, 0, ""},
      {"", 0, 0, "line 1: empty"},
      {"a,b\n1,2\n", 0, 0, "line 1: not the header"},
      {"ms,kqp\n0,1,2\n", 0, 0, "line 2: 3 cells"},
      {"ms,kqp\n0,x\n", 0, 0, "line 2: \"x\" is not a number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const core::Result<zr90::plot::Recording> read = zr90::plot::read_watch_csv(c.text);
    if (*c.error != '\0') {
      ASSERT_FALSE(read);
      EXPECT_EQ(read.error().text.rfind(c.error, 0), 0u) << read.error().text;
      continue;
    }
    ASSERT_TRUE(read) << read.error().text;
    EXPECT_EQ(read->names.size(), c.names);
    EXPECT_EQ(read->ms.size(), c.samples);
  }
  const core::Result<zr90::plot::Recording> read = zr90::plot::read_watch_csv("ms,fault,iu\n0,0x0004,\n");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->values[0][0], 4);
  EXPECT_TRUE(std::isnan(read->values[1][0])) << "a failed read is a gap";
}

// The console's log and command line stay on the last rows, whatever the table's
// height: a table too tall for the window gives up its last rows, never the prompt.
TEST(WatchView, AFooterKeepsToTheBottomRows) {
  std::vector<drive::Parameter> parameters;
  for (const char* name : {"kqp", "kqi", "busv", "iq", "fault"}) parameters.push_back(*drive::find_parameter(name));
  const struct {
    int rows;
    std::size_t parameters_shown;  // the first ones; the header, a blank line and the headings come first
  } cases[] = {{24, 5}, {9, 4}, {5, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rows);
    const auto start = zr90::WatchView::Clock::now();
    zr90::WatchView view({parameters, {0}, "OSDEVICE ZAL COM1", zr90::WatchView::Mode::table, false, "zr90 console"},
                         start);
    view.set_footer({{{0, "set kqp 1 -> 2, read back", {}}}, {{0, "> get kq", {}}}});
    ASSERT_TRUE(view.frame(start, 80, c.rows, true));
    const std::string text = view.plain_text();
    EXPECT_EQ(count(text, "\n"), static_cast<std::size_t>(c.rows));
    EXPECT_TRUE(text.ends_with("set kqp 1 -> 2, read back\n> get kq\n")) << text;
    EXPECT_EQ(text.rfind("zr90 console  OSDEVICE ZAL COM1", 0), 0u) << text;
    for (std::size_t p = 0; p < parameters.size(); ++p) {
      // Not sampled yet: the row is its label alone.
      const bool shown = text.find("\n" + parameters[p].name + "\n") != std::string::npos;
      EXPECT_EQ(shown, p < c.parameters_shown) << parameters[p].name;
    }
  }
}

}  // namespace
