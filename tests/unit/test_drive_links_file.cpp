#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "drive/links_file.h"
#include "support/harness.h"

namespace {

using drive::NamedLink;

NamedLink bench(const std::string& port, const std::string& name = "bench") {
  NamedLink link;
  link.name = name;
  link.interface_kind = "OSDEVICE";
  link.port = port;
  link.baud = "115200";
  return link;
}

TEST(LinksFile, AddingOrReplacingALinkKeepsEverythingElse) {
  const std::string table = "[bench]\ninterface = \"OSDEVICE\"\nport = \"COM3\"\nbaud = 115200\n";
  const struct {
    const char* what;
    std::string before;
    std::string after;
  } cases[] = {
      {"a new file", "", table},
      {"after another table and its comment", "# the line\n[line2]\nip = \"10.0.0.2\"",
       "# the line\n[line2]\nip = \"10.0.0.2\"\n\n" + table},
      {"in place, the next table's comment kept",
       "# top\n[bench]\nport = \"COM1\"\nprotocol = \"HEX\"\n\n# the card\n[card]\nip = \"10.0.0.2\"\n",
       "# top\n" + table + "\n# the card\n[card]\nip = \"10.0.0.2\"\n"},
      {"the last table", "[card]\nip = \"10.0.0.2\"\n\n[bench]\nport = \"COM1\"\n",
       "[card]\nip = \"10.0.0.2\"\n\n" + table},
      {"an inline table", "bench = { port = \"COM1\" }\n[card]\nip = \"10.0.0.2\"\n",
       table + "[card]\nip = \"10.0.0.2\"\n"},
  };
  for (const auto& c : cases) {
    const core::Result<std::string> text = drive::with_link(c.before, "links.toml", bench("COM3"));
    ASSERT_TRUE(text.ok()) << c.what << ": " << text.error().text;
    EXPECT_EQ(*text, c.after) << c.what;
  }
}

TEST(LinksFile, WhatIsWrittenReadsBackAsTheLink) {
  NamedLink odd = bench("/dev/serial/by-id/usb-\"x\"\\1", "my bench");
  // Whole strings, not literals assigned in place: GCC 12 sees a false overlap there (-Wrestrict).
  odd.axes = std::string("0-3");
  odd.baud_mul = std::string("2");
  const core::Result<std::string> text = drive::with_link("", "links.toml", odd);
  ASSERT_TRUE(text.ok()) << text.error().text;
  EXPECT_EQ(text->substr(0, text->find('\n')), "[\"my bench\"]");
  const core::Result<std::vector<NamedLink>> links = drive::parse_links(*text, "links.toml");
  ASSERT_TRUE(links.ok()) << links.error().text;
  ASSERT_EQ(links->size(), 1u);
  const NamedLink& back = links->front();
  EXPECT_EQ(back.name, odd.name);
  EXPECT_EQ(back.port, odd.port);
  EXPECT_EQ(back.axes, odd.axes);
  EXPECT_EQ(back.baud, odd.baud);
  EXPECT_EQ(back.baud_mul, odd.baud_mul);
  EXPECT_FALSE(back.ip);
}

TEST(LinksFile, SavingMakesTheFolderAndRefusesToOverwriteABrokenFile) {
  const std::filesystem::path folder = testsupport::temp_path("links-unit");
  const std::string path = (folder / "zr90" / "links.toml").string();
  ASSERT_TRUE(drive::save_link(path, bench("COM1")).ok());
  ASSERT_TRUE(drive::save_link(path, bench("COM2")).ok());
  const core::Result<NamedLink> found = drive::find_link(path, "bench");
  ASSERT_TRUE(found.ok()) << found.error().text;
  EXPECT_EQ(found->port, "COM2");

  std::ofstream(path, std::ios::binary) << "[bench\n";
  const core::Status refused = drive::save_link(path, bench("COM3"));
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().text.rfind(path + ": line 1, column ", 0), 0u) << refused.error().text;
  EXPECT_EQ(testsupport::read_file(path), "[bench\n");
  std::filesystem::remove_all(folder);
}

TEST(LinksFile, TheDefaultPlaceFollowsTheEnvironment) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows keeps it under %APPDATA%";
#endif
  const struct {
    std::map<std::string, std::string> env;
    std::string path;
  } cases[] = {
      {{{"XDG_CONFIG_HOME", "/x"}, {"HOME", "/h"}}, "/x/zr90/links.toml"},
      // A relative XDG path is ignored, as the base directory rules say.
      {{{"XDG_CONFIG_HOME", "x"}, {"HOME", "/h"}}, "/h/.config/zr90/links.toml"},
      {{{"HOME", "/h"}}, "/h/.config/zr90/links.toml"},
      {{}, ""},
  };
  for (const auto& c : cases) {
    const auto lookup = [&c](const char* name) {
      const auto found = c.env.find(name);
      return found == c.env.end() ? std::string() : found->second;
    };
    EXPECT_EQ(drive::default_links_path(lookup), c.path);
  }
}

TEST(LinksFile, NamesAreShownWithoutAnythingThatCouldSteerATerminal) {
  const struct {
    std::string name, shown;
  } cases[] = {{"bench-2_a", "bench-2_a"}, {"a\x1b[2Jb", "a\\x1B[2Jb"}, {"caf\xc3\xa9", "caf\\xC3\\xA9"},
               {"a\tb", "a\\tb"}};
  for (const auto& c : cases) EXPECT_EQ(drive::shown_name(c.name), c.shown);
}

}  // namespace
