#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/harness.h"
#include "drive/atomic_file.h"
#include "drive/settings_file.h"

namespace {

using namespace drive;
using nlohmann::ordered_json;

SavedValue saved(const char* name, uint64_t bits) {
  core::Result<Parameter> parameter = find_parameter(name);
  EXPECT_TRUE(parameter.ok()) << name;
  return {*parameter, bits};
}

ordered_json minimal() {
  return ordered_json::parse(R"({"format": "zr90-settings", "version": 1,
    "drives": [{"axis": 2, "eeprom": {"nvkqp": 300, "nvkqi": -5}}]})");
}

std::string refusal(const std::string& text) {
  core::Result<SettingsFile> file = parse_settings(text);
  return file ? "accepted" : file.error().text;
}

std::string refusal_of(const ordered_json& json) { return refusal(json.dump()); }

// Files saved before the configuration locations were left out are still read: the
// locations are passed over, named once, and the rest is as it was.
TEST(DriveSettingsFile, ConfigurationLocationsInAFileAreSkipped) {
  const core::Result<SettingsFile> file = parse_settings(
      R"({"format": "zr90-settings", "version": 1, "drives": [
           {"axis": 0, "eeprom": {"nvkqp": 7, "nvFBS": 1, "nvFGS": 2}},
           {"axis": 1, "eeprom": {"nvFBS": 1, "nvFPOR": 3}}]})");
  ASSERT_TRUE(file.ok()) << file.error().text;
  EXPECT_EQ(file->skipped, (std::vector<std::string>{"nvFBS", "nvFGS", "nvFPOR"}));
  ASSERT_EQ(file->drives[0].eeprom.size(), 1u);
  EXPECT_EQ(file->drives[0].eeprom[0].parameter.name, "nvkqp");
  EXPECT_TRUE(file->drives[1].eeprom.empty());
  EXPECT_EQ(settings_text(*file).find("nvF"), std::string::npos);
}

TEST(DriveSettingsFile, SavesEveryEepromSettingButTheMarkerAndTheConfigurationLocations) {
  const std::vector<Parameter>& eeprom = saved_eeprom_parameters();
  ASSERT_EQ(eeprom.size(), 30u);
  EXPECT_EQ(eeprom.front().name, "nvmaxmodulei");
  EXPECT_EQ(eeprom.back().name, "nvcookie");
  for (const Parameter& p : eeprom) {
    EXPECT_NE(p.name, "nvinvalid");
    EXPECT_FALSE(is_configuration_location(p.name)) << p.name;
    EXPECT_EQ(p.location.memory, core::Memory::eeprom) << p.name;
  }
  for (const Parameter& p : saved_ram_parameters()) EXPECT_EQ(p.location.memory, core::Memory::ram) << p.name;
}

TEST(DriveSettingsFile, WhatIsWrittenReadsBackTheSame) {
  SettingsFile file;
  file.saved_at = "2026-12-07T18:00:00Z";
  file.saved_by = "zr90 1.0";
  file.link = {"EZAL16", "SSZAL", "192.168.1.121"};
  DriveSettings drive{5, {saved("nvkqp", 300), saved("nvkqi", 0xFFFFFFFB)}, {saved("pwm", 0xFF88)}, true};
  file.drives.push_back(drive);
  const std::string text = settings_text(file);
  // Signed types as signed numbers: a person reads -5, not 4294967291.
  EXPECT_NE(text.find("\"nvkqi\": -5"), std::string::npos) << text;
  EXPECT_NE(text.find("\"pwm\": -120"), std::string::npos) << text;
  EXPECT_NE(text.find("\"ip\": \"192.168.1.121\""), std::string::npos) << text;

  core::Result<SettingsFile> back = parse_settings(text);
  ASSERT_TRUE(back.ok()) << back.error().text;
  EXPECT_EQ(back->saved_by, "zr90 1.0");
  EXPECT_EQ(back->link.address, "192.168.1.121");
  ASSERT_NE(back->drive(5), nullptr);
  const DriveSettings& d = *back->drive(5);
  ASSERT_EQ(d.eeprom.size(), 2u);
  EXPECT_EQ(d.eeprom[1].parameter.name, "nvkqi");
  EXPECT_EQ(d.eeprom[1].bits, 0xFFFFFFFBu);
  ASSERT_TRUE(d.has_ram);
  EXPECT_EQ(d.ram[0].bits, 0xFF88u);
}

TEST(DriveSettingsFile, EditedFilesComeBackInDictionaryOrder) {
  ordered_json json = minimal();
  json["drives"][0]["eeprom"] = {{"nvdeadzone", 1}, {"nvmaxmodulei", 2}};
  core::Result<SettingsFile> file = parse_settings(json.dump());
  ASSERT_TRUE(file.ok()) << file.error().text;
  EXPECT_EQ(file->drive(2)->eeprom[0].parameter.name, "nvmaxmodulei");
  EXPECT_FALSE(file->drive(2)->has_ram);
}

TEST(DriveSettingsFile, EveryFaultIsNamed) {
  EXPECT_EQ(refusal_of(minimal()), "accepted");
  // The line and column of a syntax error; the rest is the JSON reader's own words.
  const std::string syntax = refusal("{\n  \"format\": \"zr90-settings\",\n  \"version\": 1,\n  oops\n}");
  EXPECT_EQ(syntax.rfind("line 4, column 3: syntax error", 0), 0u) << syntax;
  // A number the reader cannot hold is refused like a syntax error, not thrown past us.
  EXPECT_EQ(refusal("{\"format\": \"zr90-settings\", \"version\": 1e999}"), "number overflow parsing '1e999'");

  struct Case {
    const char* path;
    ordered_json value;
    const char* message;
  };
  const Case cases[] = {
      {"/format", "other", "not a zr90 settings file (\"format\" is \"other\", not \"zr90-settings\")"},
      {"/version", 2, "format version 2 is newer than this zr90 reads (1); use a newer zr90"},
      {"/version", "1", "\"version\" must be a whole number from 1"},
      {"/drives", ordered_json::array(), "no \"drives\" in the file"},
      {"/drives/0/axis", 8, "a drive's \"axis\" must be 0 to 7, not 8"},
      {"/drives/0/eeprom/nvkqp", 70000, "axis 2: nvkqp: 70000 is out of range (0 to 65535)"},
      {"/drives/0/eeprom/nvkqp", -1, "axis 2: nvkqp: -1 is out of range (0 to 65535)"},
      {"/drives/0/eeprom/nvkqp", 3.5, "axis 2: nvkqp: 3.5 is not an integer"},
      {"/drives/0/eeprom/nvkqp", "0x20", "axis 2: nvkqp: \"0x20\" is not an integer"},
      {"/drives/0/eeprom/nvinvalid", 0, "axis 2: nvinvalid is not a setting and is never saved or restored"},
      {"/drives/0/eeprom/kqp", 0, "axis 2: kqp is a RAM parameter, not an EEPROM setting"},
      {"/drives/0/eeprom/nvkpq", 0, "axis 2: unknown parameter \"nvkpq\"; did you mean \"nvkqp\"?"},
      {"/drives/0/eeprom/NVKQP", 0, "axis 2: unknown parameter \"NVKQP\"; the dictionary writes it \"nvkqp\""},
      {"/drives/0/ram", {{"nvkqp", 0}}, "axis 2: nvkqp is an EEPROM setting, not a RAM parameter"},
      {"/drives/0/eeprom/nvkqilo", 7,
       "axis 2: nvkqi (-5) and nvkqilo (7) disagree on the EEPROM byte they share at 0x000C"},
      {"/drives/1", {{"axis", 2}, {"eeprom", ordered_json::object()}}, "axis 2: the axis appears twice"},
  };
  for (const Case& c : cases) {
    ordered_json json = minimal();
    json[ordered_json::json_pointer(c.path)] = c.value;
    EXPECT_EQ(refusal_of(json), c.message) << c.path;
  }
  ordered_json no_format = minimal();
  no_format.erase("format");
  EXPECT_EQ(refusal_of(no_format), "not a zr90 settings file (\"format\" is missing, not \"zr90-settings\")");
  EXPECT_EQ(refusal(R"({"format": "zr90-settings", "version": 1,
    "drives": [{"axis": 0, "eeprom": {"nvkqp": 1, "nvkqp": 2}}]})"),
            "\"nvkqp\" is given twice in one object");
}

TEST(DriveSettingsFile, AgreeingSharedBytesPass) {
  ordered_json json = minimal();
  json["drives"][0]["eeprom"]["nvkqilo"] = 0xFFFB;
  json["drives"][0]["eeprom"]["nvkqihi"] = 0xFFFF;
  EXPECT_EQ(refusal_of(json), "accepted");
}

class DriveSettingsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = testsupport::temp_path("settings-dir");
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) out.push_back(entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  std::string folder_;
};

TEST_F(DriveSettingsFiles, AWriteReplacesTheFileWholeAndLeavesNothingElse) {
  const std::string path = folder_ + "/axis.json";
  ASSERT_TRUE(write_file_atomically(path, "old\n").ok());
  ASSERT_TRUE(write_file_atomically(path, "new\n").ok());
  EXPECT_EQ(testsupport::read_file(path), "new\n");
  EXPECT_EQ(names(), (std::vector<std::string>{"axis.json"}));

  const core::Status refused = write_file_atomically(folder_ + "/no/such/folder/x.json", "text");
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.error().text.find("cannot write " + folder_ + "/no/such/folder/x.json"), std::string::npos);
}

TEST_F(DriveSettingsFiles, AReplacedFileKeepsItsPermissionsAndANewOneGetsTheUsualOnes) {
  namespace fs = std::filesystem;
  using fs::perms;
  const std::string kept = folder_ + "/kept.json";
  const std::string fresh = folder_ + "/fresh.json";
  // A umask that would take the others' read permission from the kept file too.
  const mode_t before = ::umask(027);
  const bool first = write_file_atomically(kept, "old\n").ok();
  fs::permissions(kept, perms::owner_read | perms::owner_write | perms::others_read);
  const bool again = write_file_atomically(kept, "new\n").ok();
  const bool created = write_file_atomically(fresh, "text").ok();
  ::umask(before);
  ASSERT_TRUE(first && again && created);
  EXPECT_EQ(testsupport::read_file(kept), "new\n");
  EXPECT_EQ(fs::status(kept).permissions(), perms::owner_read | perms::owner_write | perms::others_read);
  EXPECT_EQ(fs::status(fresh).permissions(), perms::owner_read | perms::owner_write | perms::group_read);
  EXPECT_EQ(names(), (std::vector<std::string>{"fresh.json", "kept.json"}));
}

TEST_F(DriveSettingsFiles, BackupsSitBesideTheFileAndNeverReplaceOne) {
  const std::string path = folder_ + "/line2.json";
  const std::string first = backup_path(path);
  ASSERT_EQ(first.rfind(folder_ + "/line2.before-", 0), 0u) << first;
  EXPECT_EQ(first.size(), (folder_ + "/line2.before-20261207T180000.json").size()) << first;
  ASSERT_TRUE(write_file_atomically(first, "kept").ok());
  const std::string second = backup_path(path);
  EXPECT_NE(second, first);
  const std::string plain = backup_path(folder_ + "/plain");
  EXPECT_EQ(plain.rfind(folder_ + "/plain.before-", 0), 0u) << plain;
  EXPECT_EQ(plain.substr(plain.size() - 5), ".json");
  // Restoring a backup keeps its own backup beside the original's name.
  const std::string of_backup = backup_path(second);
  EXPECT_EQ(of_backup.rfind(folder_ + "/line2.before-", 0), 0u) << of_backup;
  EXPECT_EQ(of_backup.find(".before-", of_backup.find(".before-") + 1), std::string::npos) << of_backup;
}

TEST_F(DriveSettingsFiles, ReadingNamesTheFile) {
  const std::string path = folder_ + "/bad.json";
  ASSERT_TRUE(write_file_atomically(path, "{}").ok());
  core::Result<SettingsFile> file = read_settings_file(path);
  ASSERT_FALSE(file.ok());
  EXPECT_EQ(file.error().text, path + ": not a zr90 settings file (\"format\" is missing, not \"zr90-settings\")");
  EXPECT_EQ(read_settings_file(folder_ + "/none.json").error().text, folder_ + "/none.json: cannot be read");
}

// Each form a hostile file may take is refused with what is wrong, in time that
// grows with the text alone.
TEST_F(DriveSettingsFiles, FilesBeyondTheLimitsAreRefusedSayingWhy) {
  const std::string deep = std::string(20000, '[') + std::string(20000, ']');
  std::string many_keys = "{";
  for (int i = 0; i < 300000; ++i) many_keys += (i > 0 ? ",\"k" : "\"k") + std::to_string(i) + "\":1";
  many_keys += "}";
  const struct {
    std::string text;
    const char* message;
  } cases[] = {
      {"{\"x\":" + deep + "}", "nested deeper than 8 levels at line 1, column 13"},
      {"{\n\"a\": [[[[[[[[1]]]]]]]]}", "nested deeper than 8 levels at line 2, column 13"},
      {many_keys, "more than 4096 entries in one object or array at line 1, column 39851"},
      {std::string("{\"format\": \"zr90-settings\"}\0{}", 30), "holds a NUL byte at line 1, column 28; not a settings file"},
      // Brackets inside strings are text, not nesting.
      {"{\"[[[[[[[[[[\": 1}", "not a zr90 settings file (\"format\" is missing, not \"zr90-settings\")"},
  };
  for (const auto& c : cases) {
    const core::Result<SettingsFile> file = parse_settings(c.text);
    ASSERT_FALSE(file.ok()) << c.message;
    EXPECT_EQ(file.error().text, c.message);
  }
  EXPECT_NE(parse_settings("{\"format\": \"zr90-settings\", \"version\": 1} {}").error().text.find("syntax error"),
            std::string::npos);

  const std::string large = folder_ + "/large.json";
  ASSERT_TRUE(write_file_atomically(large, std::string(MAX_SETTINGS_FILE_BYTES + 1, ' ')).ok());
  EXPECT_EQ(read_settings_file(large).error().text, large + ": larger than 1 MiB; not a settings file");
  EXPECT_EQ(read_settings_file(folder_).error().text, folder_ + ": is a folder, not a settings file");
}

}  // namespace
