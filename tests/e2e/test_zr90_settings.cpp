// zr90 save, diff and restore end to end: against the simulated card over UDP and
// on its serial host port, and a drive on a direct serial line. What is written is
// judged by the card's wire trace and by reading the drives again.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_card_fixture.h"
#include "test_serial_fixture.h"

namespace {

using cardtest::Card;
using cardtest::Lines;
using nlohmann::ordered_json;
using testsupport::Env;
using testsupport::RunResult;

constexpr char ZR90[] = "zr90";
constexpr uint32_t WRITEWORD = 1694498816;  // the card's write-word command, address added

RunResult zr90(const Env& env, const std::vector<std::string>& args) { return testsupport::run_tool(ZR90, args, env); }

// A folder of the test's own for settings files.
class Folder {
 public:
  Folder() : path_(testsupport::temp_path("settings")) { std::filesystem::create_directories(path_); }
  ~Folder() { std::filesystem::remove_all(path_); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) out.push_back(entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  std::string path_;
};

ordered_json json_of(const std::string& path) { return ordered_json::parse(testsupport::read_file(path)); }

void write_json(const std::string& path, const ordered_json& json) {
  std::ofstream(path) << json.dump(2);
}

// How many of the card's requests write the EEPROM word at address.
long word_writes(const Card& card, uint16_t address) {
  const std::string value = cardtest::hex_bytes(WRITEWORD + address, 4);
  const Lines requests = card.requests();
  return std::count_if(requests.begin(), requests.end(), [&](const std::string& r) {
    return r.rfind("01 C2 ", 0) == 0 && r.size() >= value.size() && r.substr(r.size() - value.size()) == value;
  });
}

// Every value of the file's drive for the axis as "name value".
Lines eeprom_of(const ordered_json& file, int axis) {
  Lines out;
  for (const auto& drive : file["drives"]) {
    if (drive["axis"] != axis) continue;
    for (const auto& [name, value] : drive["eeprom"].items()) out.push_back(name + " " + value.dump());
  }
  return out;
}

// ---- The whole round: save, change, restore, undo ----------------------------

void save_change_restore_undo(const Env& env, const std::string& axes, int changed_axis) {
  Folder folder;
  const std::string file = folder.file("line.json");
  const RunResult saved = zr90(env, {"-q", "-a", axes, "save", file});
  ASSERT_EQ(saved.exit_code, 0) << saved.err;
  const ordered_json original = json_of(file);
  EXPECT_EQ(original["format"], "zr90-settings");
  ASSERT_EQ(eeprom_of(original, changed_axis).size(), 30u);
  EXPECT_EQ(zr90(env, {"-q", "-a", axes, "diff", file}).exit_code, 0) << "the drives are as saved";

  const std::string axis = std::to_string(changed_axis);
  ASSERT_EQ(zr90(env, {"-q", "-a", axis, "set", "-y", "nvkqp=5", "nvdeadzone=77"}).exit_code, 0);
  const RunResult differs = zr90(env, {"-q", "-a", axes, "diff", file});
  EXPECT_EQ(differs.exit_code, 1);
  EXPECT_EQ(differs.lines(), (Lines{"axis name " + file + " drives", axis + " nvkqp 1200 5",
                                    axis + " nvdeadzone " + original["drives"][0]["eeprom"]["nvdeadzone"].dump() + " 77"}));

  const RunResult restored = zr90(env, {"-q", "restore", file, "-y"});
  EXPECT_EQ(restored.exit_code, 0) << restored.err;
  EXPECT_EQ(restored.lines(), (Lines{axis + " nvkqp 5 -> 1200", axis + " nvdeadzone 77 -> " +
                                         original["drives"][0]["eeprom"]["nvdeadzone"].dump()}));
  EXPECT_NE(restored.err.find("axis " + axis + ": 2 settings written and verified"), std::string::npos) << restored.err;
  EXPECT_EQ(zr90(env, {"-q", "-a", axes, "diff", file}).exit_code, 0);

  // The backup holds the state before the restore, and undoes it.
  const Lines names = folder.names();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0].rfind("line.before-", 0), 0u) << names[0];
  const std::string backup = folder.file(names[0]);
  EXPECT_EQ(zr90(env, {"-q", "restore", backup, "-y", "--no-backup"}).exit_code, 0);
  EXPECT_EQ(zr90(env, {"-q", "-a", axis, "--value", "get", "nvkqp", "nvdeadzone"}).lines(), (Lines{"5", "77"}));
  EXPECT_EQ(folder.names().size(), 2u) << "--no-backup made one";
}

TEST(Zr90Settings, SaveChangeRestoreUndoThroughTheCardOverUdp) {
  auto card = cardtest::udp_card();
  save_change_restore_undo(card->env, "0,2", 2);
}

TEST(Zr90Settings, SaveChangeRestoreUndoThroughTheCardsHostPort) {
  auto card = cardtest::pty_card("either");
  save_change_restore_undo(card->env, "1", 1);
}

TEST(Zr90Settings, SaveChangeRestoreUndoOnADirectLine) {
  serialtest::Drive drive("ZAL", {});
  ASSERT_TRUE(drive.started());
  save_change_restore_undo(drive.env(), "0", 0);
}

// ---- What goes on the wire ----------------------------------------------------

TEST(Zr90Settings, SaveReadsEachAxisInOneBatchAndRestoreWritesOnlyWhatDiffers) {
  auto card = cardtest::udp_card();
  Folder folder;
  const std::string file = folder.file("all.json");
  ASSERT_EQ(zr90(card->env, {"-q", "-a", "all", "save", file}).exit_code, 0);
  EXPECT_EQ(json_of(file)["drives"].size(), 8u);
  // The non-volatile flag is set and cleared once per axis, not once per setting.
  const Lines requests = card->requests();
  const long flag_writes = std::count_if(requests.begin(), requests.end(), [](const std::string& r) {
    return r.rfind("01 C2 ", 0) == 0 && r.size() > 12 && r.substr(r.size() - 12) == " 00 00 00 EC";
  });
  EXPECT_EQ(flag_writes, 2 * 8);
  // The eight axes go side by side: every run command of the save is for all of them.
  const long all_axes = std::count(requests.begin(), requests.end(), cardtest::write_request(0x5000, 0x10FF));
  const long some_axes = std::count_if(requests.begin(), requests.end(), [](const std::string& r) {
    // A run command: the command port, 0x10 and the channel mask.
    return r.rfind("01 C2 00 50 ", 0) == 0 && r.size() == 23 && r.substr(14) == " 10 00 00" &&
           r != cardtest::write_request(0x5000, 0x10FF);
  });
  EXPECT_EQ(some_axes, 0);
  EXPECT_GE(all_axes, 2 + 30);  // the flag set and cleared, and each setting read

  // A restore of the settings the drives hold writes nothing: it sends exactly what
  // a dry run sends, which only reads.
  const std::string dry = testsupport::temp_path("dry-trace");
  const std::string real = testsupport::temp_path("real-trace");
  const RunResult planned = zr90(card->env, {"-q", "--trace", dry, "restore", file, "--dry-run"});
  EXPECT_EQ(planned.exit_code, 0);
  EXPECT_EQ(planned.out, "");
  const RunResult nothing = zr90(card->env, {"-q", "--trace", real, "restore", file, "-y"});
  EXPECT_EQ(nothing.exit_code, 0);
  EXPECT_EQ(nothing.err, "zr90: nothing to change: the drives hold the file's settings\n");
  auto sent = [](const std::string& path) {
    Lines out;
    for (const std::string& line : Card::lines_of(testsupport::read_file(path)))
      if (line.find(" > ") != std::string::npos) out.push_back(line.substr(line.find(" > ")));
    std::remove(path.c_str());
    return out;
  };
  EXPECT_EQ(sent(real), sent(dry));
  EXPECT_EQ(folder.names(), (Lines{"all.json"})) << "no backup when nothing changes";
  EXPECT_EQ(word_writes(*card, 0x0A), 0);
}

TEST(Zr90Settings, DryRunShowsThePlanAndWritesNothing) {
  auto card = cardtest::udp_card();
  Folder folder;
  const std::string file = folder.file("a.json");
  ASSERT_EQ(zr90(card->env, {"-q", "-a", "3", "save", file}).exit_code, 0);
  ASSERT_EQ(zr90(card->env, {"-q", "-a", "3", "set", "-y", "nvkdp=9"}).exit_code, 0);
  const long before = word_writes(*card, 0x12);
  const RunResult plan = zr90(card->env, {"-q", "restore", file, "--dry-run"});
  EXPECT_EQ(plan.exit_code, 0);
  EXPECT_EQ(plan.lines(), (Lines{"3 nvkdp 9 -> 1000"}));
  EXPECT_EQ(plan.err, "zr90: dry run: 1 setting would change on axis 3; nothing written\n");
  EXPECT_EQ(word_writes(*card, 0x12), before);
  EXPECT_EQ(folder.names(), (Lines{"a.json"}));

  // The same as JSON, planned and then written, each change with its outcome.
  const ordered_json planned = ordered_json::parse(zr90(card->env, {"-q", "--json", "restore", file, "--dry-run"}).out);
  EXPECT_EQ(planned, ordered_json::parse(R"([{"axis": 3, "name": "nvkdp", "old": 9, "new": 1000, "outcome": "planned"}])"));
  const RunResult written = zr90(card->env, {"-q", "--json", "restore", file, "-y", "--no-backup"});
  EXPECT_EQ(written.exit_code, 0) << written.err;
  EXPECT_EQ(ordered_json::parse(written.out)[0]["outcome"], "verified");
}

TEST(Zr90Settings, ARestoreThatCanReadNoAxisSaysSo) {
  Folder folder;
  const std::string file = folder.file("a.json");
  {
    auto source = cardtest::udp_card();
    ASSERT_EQ(zr90(source->env, {"-q", "-a", "4", "save", file}).exit_code, 0);
  }
  auto card = cardtest::udp_card({"--fault", "nodrive=4"});
  const RunResult r = zr90(card->env, {"-q", "restore", file, "-y"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("zr90: no axis could be read; nothing written\n"), std::string::npos) << r.err;
  EXPECT_EQ(folder.names(), (Lines{"a.json"}));
}

// ---- Refusals: nothing is sent -----------------------------------------------------

TEST(Zr90Settings, AFileWithAFaultOrARefusedRequestSendsNothing) {
  Folder folder;
  const std::string good = folder.file("good.json");
  {
    auto source = cardtest::udp_card();
    ASSERT_EQ(zr90(source->env, {"-q", "-a", "0,1", "save", good}).exit_code, 0);
  }
  auto card = cardtest::udp_card();
  ordered_json json = json_of(good);
  json["drives"][1]["eeprom"]["nvdeadzone"] = 65536;
  const std::string bad = folder.file("bad.json");
  write_json(bad, json);
  ordered_json newer = json_of(good);
  newer["version"] = 7;
  const std::string future = folder.file("future.json");
  write_json(future, newer);
  const std::string broken = folder.file("broken.json");
  std::ofstream(broken) << "{\n\"format\": \"zr90-settings\",\n";
  ordered_json hostile = json_of(good);
  hostile["drives"][0]["eeprom"]["\x1b]0;owned\x07\x1b[2J"] = 1;
  const std::string escape = folder.file("escape.json");
  write_json(escape, hostile);

  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"restore", bad, "-y"}, "zr90: " + bad + ": axis 1: nvdeadzone: 65536 is out of range (0 to 65535); nothing written\n"},
      {{"restore", future, "-y"},
       "zr90: " + future + ": format version 7 is newer than this zr90 reads (1); use a newer zr90; nothing written\n"},
      {{"restore", good, "-y", "-a", "4"},
       "zr90: " + good + ": holds no axis 4; give --from AXIS to copy another axis's settings onto it\n"},
      {{"restore", good, "--from", "5", "-y"}, "zr90: " + good + ": holds no axis 5 to copy from\n"},
      {{"restore", good}, "zr90: refusing to write EEPROM settings without a terminal to confirm them; give -y to write them\n"},
      {{"diff", bad}, "zr90: " + bad + ": axis 1: nvdeadzone: 65536 is out of range (0 to 65535)\n"},
      {{"diff", good, folder.file("none.json")}, "zr90: " + folder.file("none.json") + ": cannot be read\n"},
      {{"diff", good, "-a", "6"}, "zr90: the file holds no axis 6\n"},
      // A name from a file reaches the terminal with its control characters escaped.
      {{"diff", escape}, "zr90: " + escape + ": axis 0: unknown parameter \"\\x1B]0;owned\\x07\\x1B[2J\"\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = zr90(card->env, c.args);
    EXPECT_EQ(r.exit_code, 2) << c.message;
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, "");
  }
  const RunResult syntax = zr90(card->env, {"restore", broken, "-y"});
  EXPECT_EQ(syntax.exit_code, 2);
  EXPECT_EQ(syntax.err.rfind("zr90: " + broken + ": line 3", 0), 0u) << syntax.err;
  EXPECT_TRUE(card->wire().empty()) << "something was sent";
}

// ---- diff ---------------------------------------------------------------------------

TEST(Zr90Settings, DiffOfTwoFiles) {
  auto card = cardtest::udp_card();
  Folder folder;
  const std::string a = folder.file("a.json");
  const std::string b = folder.file("b.json");
  ASSERT_EQ(zr90(card->env, {"-q", "-a", "0,1", "save", a}).exit_code, 0);
  ordered_json other = json_of(a);
  other["drives"][1]["eeprom"]["nvkqp"] = 40;
  other["drives"][1]["eeprom"].erase("nvdeadzone");
  other["drives"].erase(0);
  write_json(b, other);

  const RunResult r = zr90(card->env, {"diff", a, b, "-a", "1"});
  EXPECT_EQ(r.exit_code, 1);
  const std::string deadzone = json_of(a)["drives"][1]["eeprom"]["nvdeadzone"].dump();
  EXPECT_EQ(r.lines(), (Lines{"axis name " + a + " " + b, "1 nvkqp 1200 40", "1 nvdeadzone " + deadzone + " -"}));
  const ordered_json rows = ordered_json::parse(zr90(card->env, {"diff", a, b, "-a", "1", "--json"}).out);
  EXPECT_EQ(rows[1], ordered_json({{"axis", 1}, {"name", "nvdeadzone"}, {"a", std::stoi(deadzone)}, {"b", nullptr}}));

  // By default the axes of A: axis 0 is missing from B altogether, which is one line.
  EXPECT_EQ(zr90(card->env, {"diff", a, b}).lines(),
            (Lines{"axis name " + a + " " + b, "0 only in " + a, "1 nvkqp 1200 40", "1 nvdeadzone " + deadzone + " -"}));
  EXPECT_EQ(zr90(card->env, {"diff", a, a}).out, "");
  EXPECT_EQ(zr90(card->env, {"diff", b, a}).lines().size(), 3u) << "only the axes of A";
  EXPECT_EQ(zr90(card->env, {"diff", b, a, "-a", "0,1"}).lines()[1], "0 only in " + a);
}

// ---- Cloning ---------------------------------------------------------------------

TEST(Zr90Settings, OneAxisSettingsCopiedOntoOthers) {
  auto card = cardtest::udp_card();
  Folder folder;
  const std::string file = folder.file("two.json");
  ASSERT_EQ(zr90(card->env, {"-q", "-a", "2", "set", "-y", "nvkqp=321", "nvkqi=0xFFFFFFF9"}).exit_code, 0);
  ASSERT_EQ(zr90(card->env, {"-q", "-a", "2", "save", file}).exit_code, 0);

  const RunResult onto5 = zr90(card->env, {"-q", "restore", file, "--from", "2", "--axis", "5,6", "-y"});
  EXPECT_EQ(onto5.exit_code, 0) << onto5.err;
  EXPECT_EQ(zr90(card->env, {"-q", "-a", "5,6", "--value", "get", "nvkqp", "nvkqi"}).lines(),
            (Lines{"321", "321", "-7", "-7"}));
  // nvkqilo and nvkqihi are the bytes of nvkqi: read back, not written a second time.
  EXPECT_EQ(word_writes(*card, 0x0C), 0) << "nvkqilo written on its own";
  EXPECT_EQ(zr90(card->env, {"-q", "-a", "5", "diff", file}).exit_code, 2) << "the file holds no axis 5";
  EXPECT_EQ(zr90(card->env, {"-q", "-a", "2,5,6", "diff", file}).exit_code, 2);
  EXPECT_EQ(zr90(card->env, {"-q", "-a", "1", "get", "nvkqp"}).lines(), (Lines{"nvkqp 1200"})) << "axis 1 untouched";
}

// ---- Faults --------------------------------------------------------------------------

TEST(Zr90Settings, AnAxisThatCannotBeReadIsLeftOutOfTheFile) {
  auto card = cardtest::udp_card({"--fault", "nodrive=1"});
  Folder folder;
  const std::string file = folder.file("some.json");
  const RunResult r = zr90(card->env, {"-q", "-a", "0-2", "save", file});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "zr90: axis 1: the channel did not start; is a drive connected?\n");
  const ordered_json json = json_of(file);
  ASSERT_EQ(json["drives"].size(), 2u);
  EXPECT_EQ(json["drives"][1]["axis"], 2);

  const std::string none = folder.file("none.json");
  const RunResult nothing = zr90(card->env, {"-q", "-a", "1", "save", none});
  EXPECT_EQ(nothing.exit_code, 1);
  EXPECT_FALSE(std::filesystem::exists(none));
}

TEST(Zr90Settings, AStuckNonVolatileFlagStopsTheRestoreAndSaysWhatHappened) {
  auto card = cardtest::udp_card({"--fault", "nonvol-stuck"});
  Folder folder;
  const std::string file = folder.file("stuck.json");
  ASSERT_EQ(zr90(card->env, {"-q", "-a", "0", "save", file}).exit_code, 0);
  ordered_json json = json_of(file);
  json["drives"][0]["eeprom"]["nvkqp"] = 1;
  json["drives"][0]["eeprom"]["nvkdp"] = 2;
  write_json(file, json);
  const RunResult r = zr90(card->env, {"-q", "restore", file, "-y", "--no-backup"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("nvkqp: Broken Old buggy bit file in use cycle ZR90 power"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("axis 0: not confirmed, may or may not be written: nvkqp; not written: nvkdp"), std::string::npos)
      << r.err;
  EXPECT_EQ(word_writes(*card, 0x12), 0) << "nvkdp was written after the flag stuck";
}

TEST(Zr90Settings, ACardThatFallsSilentHalfwayReportsExactlyWhatWasWritten) {
  // How many register reads a save, a set and a full restore take, on a card of
  // its own; then a card that falls silent in the middle of the third write.
  Folder folder;
  const std::string file = folder.file("four.json");
  const std::vector<std::string> changes{"nvkqp=1", "nvkdp=2", "nvdeadzone=3", "nvfaultmask=4"};
  long save_reads = 0;
  long set_reads = 0;
  long restore_reads = 0;
  {
    auto probe = cardtest::udp_card();
    auto replies = [&] {
      const Lines wire = probe->wire();
      return static_cast<long>(std::count_if(wire.begin(), wire.end(), [](const std::string& l) { return l[0] == '<'; }));
    };
    ASSERT_EQ(zr90(probe->env, {"-q", "save", file}).exit_code, 0);
    save_reads = replies();
    std::vector<std::string> set{"-q", "set", "-y"};
    set.insert(set.end(), changes.begin(), changes.end());
    ASSERT_EQ(zr90(probe->env, set).exit_code, 0);
    set_reads = replies() - save_reads;
    ASSERT_EQ(zr90(probe->env, {"-q", "restore", file, "-y", "--no-backup"}).exit_code, 0);
    restore_reads = replies() - save_reads - set_reads;
  }
  const long dry_reads = save_reads;  // opening the link and one batch read, as a save
  // Each write's share, the restore's last read of what it wrote included: that read
  // comes after every write, so the silence, a little after two writes, falls in the third.
  const long per_write = (restore_reads - dry_reads) / 4;
  const long silent_after = save_reads + set_reads + dry_reads + 2 * per_write + per_write / 5;
  auto card = cardtest::udp_card({"--fault", "silent-after=" + std::to_string(silent_after)});
  ASSERT_EQ(zr90(card->env, {"-q", "save", file}).exit_code, 0);
  std::vector<std::string> set{"-q", "set", "-y"};
  set.insert(set.end(), changes.begin(), changes.end());
  ASSERT_EQ(zr90(card->env, set).exit_code, 0);
  const RunResult r = zr90(card->env, {"-q", "restore", file, "-y", "--no-backup"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.lines(), (Lines{"0 nvkqp 1 -> 1200", "0 nvkdp 2 -> 1000"}));
  EXPECT_NE(r.err.find("zr90: axis 0: nvdeadzone: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("written and verified: nvkqp, nvkdp; not confirmed, may or may not be written: nvdeadzone; "
                       "not written: nvfaultmask"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(word_writes(*card, 0x20), 1) << "only the set wrote nvfaultmask";
}

// ---- Ctrl-C --------------------------------------------------------------------------

TEST(Zr90Settings, CtrlCFinishesTheWriteInProgressAndSaysWhatWasLeft) {
  if (testsupport::running_windows_build()) GTEST_SKIP() << "SIGINT reaches a Windows program differently";
  serialtest::Drive drive("ZAL", {"--fault", "delay=30"});
  ASSERT_TRUE(drive.started());
  Folder folder;
  const std::string file = folder.file("slow.json");
  ASSERT_EQ(drive.run(ZR90, {"-q", "save", file}).exit_code, 0);
  ordered_json json = json_of(file);
  const char* names[] = {"nvkqp", "nvkdp", "nvdeadzone", "nvfaultmask", "nvbusoverv", "nvbrakeonv", "nvbrakeoffv", "nvpwmrate"};
  for (const char* name : names) json["drives"][0]["eeprom"][name] = 11;
  write_json(file, json);

  testsupport::ToolProcess tool(ZR90, {"-q", "restore", file, "-y", "--no-backup"}, drive.env());
  ASSERT_TRUE(tool.wait_for_lines(1, 60000));
  tool.interrupt();
  const RunResult r = tool.finish(60000);
  drive.trace();
  EXPECT_EQ(r.exit_code, 1);
  const Lines written = r.lines();
  ASSERT_GE(written.size(), 1u);
  ASSERT_LT(written.size(), 8u) << "the interrupt came too late to test anything";
  // Every setting the restore says it wrote is in the drive; the others are not,
  // and RAM reads reach RAM again: the flag was cleared.
  std::vector<std::string> get{"-q", "--value", "get", "kqp"};
  get.insert(get.end(), std::begin(names), std::end(names));
  const Lines now = drive.run(ZR90, get).lines();
  ASSERT_EQ(now.size(), 9u);
  EXPECT_EQ(now[0], "1200") << "kqp read from RAM";
  for (std::size_t i = 0; i < 8; ++i) {
    if (i < written.size()) EXPECT_EQ(now[i + 1], "11") << names[i];
    else EXPECT_NE(now[i + 1], "11") << names[i];
  }
}

}  // namespace
