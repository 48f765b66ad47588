#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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
  // A name that is not a bare TOML key is quoted, and reads back as it was.
  const core::Result<std::string> quoted = drive::with_link("", "links.toml", bench("COM3", "my \"bench\""));
  ASSERT_TRUE(quoted.ok()) << quoted.error().text;
  EXPECT_EQ(quoted->substr(0, quoted->find('\n')), "[\"my \\\"bench\\\"\"]");
  for (const auto& c : cases) {
    const core::Result<std::string> text = drive::with_link(c.before, "links.toml", bench("COM3"));
    ASSERT_TRUE(text.ok()) << c.what << ": " << text.error().text;
    EXPECT_EQ(*text, c.after) << c.what;
  }
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

}  // namespace
