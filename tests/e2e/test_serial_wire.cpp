// The exact bytes the tools put on the line, read from the simulator's wire trace.
#include "test_serial_fixture.h"

namespace {

using namespace serialtest;

// Request lines only ("> .."), one frame each.
Lines requests(const Lines& trace) {
  Lines out;
  for (const auto& l : trace)
    if (l.rfind("> ", 0) == 0) out.push_back(l.substr(2));
  return out;
}

TEST(SerialWire, ZalWithoutCrcSendsBareFrames) {
  Drive drive("ZAL", {});
  ASSERT_TRUE(drive.started());
  RunResult r = drive.poke({"null+0x0A34", "BEEF", "h"});
  EXPECT_EQ(r.exit_code, 0);
  // The cookie probe, then the word write, which is not acknowledged.
  EXPECT_EQ(drive.trace(), (Lines{"> DF", "< 5A", "> 65 34 12 EF BE"}));

  drive.mark();
  r = drive.peek({"kqi"});
  EXPECT_EQ(drive.since_mark(), (Lines{"> DF", "< 5A", "> 46 14 08", "< 70 11 01 00"}));
}

TEST(SerialWire, EepromWordWriteRaisesAndClearsTheNonVolatileFlag) {
  Drive drive("ZAL", {});
  ASSERT_TRUE(drive.started());
  RunResult r = drive.poke({"nvkqp", "1234", "h"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(drive.trace(), (Lines{"> DF", "< 5A", "> EC 01", "> 65 0A 00 34 12", "> DF", "< 5A", "> EC 00"}));
  drive.mark();
  r = drive.peek({"nvkqi"});
  EXPECT_EQ(drive.since_mark(), (Lines{"> DF", "< 5A", "> EC 01", "> 46 0C 00", "< 70 11 01 00", "> EC 00"}));
}

TEST(SerialWire, CrcOnlyDriveIsFoundByTheSecondProbe) {
  Drive drive("ZAL", {"--crc", "on"});
  ASSERT_TRUE(drive.started());
  RunResult r = drive.peek({"null+0x0A34"});
  EXPECT_EQ(r.lines(), Lines{"Data     0"});
  EXPECT_EQ(drive.trace(), (Lines{
                               "> DF",  // the plain probe: the drive waits for a CRC byte...
                               "# dropped: partial frame, line silent",
                               "> " + hex_bytes(with_crc("\xDF")),
                               "< " + hex_bytes(with_crc("\x5A")),
                               "> " + hex_bytes(with_crc(std::string("\xE1\x00", 2))),
                               "< 00",  // the acknowledge: the CRC of a body of one 00
                               "> 45 34 12 " + hex_bytes(std::string(1, static_cast<char>(crc8("\x45\x34\x12")))),
                               "< 00 00 00",
                           }));
  // The documented frame of a byte read shares the address bytes: 44 34 12 98.
  EXPECT_EQ(crc8("\x44\x34\x12"), 0x98);
}

TEST(SerialWire, CrcModeWritesAreAcknowledged) {
  Drive drive("ZAL", {"--crc", "on"});
  ASSERT_TRUE(drive.started());
  drive.mark();
  RunResult r = drive.poke({"nvcookie", "1"});
  EXPECT_EQ(r.exit_code, 0);
  Lines sent = requests(drive.since_mark());
  ASSERT_EQ(sent.size(), 7u);  // DF, DF+C, E1 00 C, EC 01 C, 65.. C, DF C, EC 00 C
  EXPECT_EQ(sent[3], hex_bytes(with_crc("\xEC\x01")));
  EXPECT_EQ(sent[4], hex_bytes(with_crc(std::string("\x65\x7E\x00\x01\x00", 5))));
  EXPECT_EQ(sent[5], hex_bytes(with_crc("\xDF")));
  EXPECT_EQ(sent[6], hex_bytes(with_crc(std::string("\xEC\x00", 2))));
}

TEST(SerialWire, EitherDriveIsSpokenToWithoutCrc) {
  Drive drive("ZAL", {"--crc", "either"});
  ASSERT_TRUE(drive.started());
  RunResult r = drive.peek({"kqp"});
  EXPECT_EQ(r.lines(), Lines{"Data  1200"});
  EXPECT_EQ(drive.trace(), (Lines{"> DF", "< 5A", "> 45 12 08", "< B0 04"}));
}

TEST(SerialWire, TextProtocolCommands) {
  Drive drive("HEX", {});
  ASSERT_TRUE(drive.started());
  // Register 0x0010 (null+0xF810 wraps to it) is read at word address 0x0820.
  RunResult r = drive.peek({"null+0xF810"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(requests(drive.trace()),
            (Lines{hex_bytes("x\r"), hex_bytes("x\r"), hex_bytes("II\r"), hex_bytes("RW0820\r")}));

  drive.mark();
  drive.poke({"nvcookie", "1"});
  EXPECT_EQ(requests(drive.since_mark()).back(), hex_bytes("We007E0001\r"));

  drive.mark();
  drive.poke({"kqi", "11223344", "h"});  // split into two words, low word first
  Lines sent = requests(drive.since_mark());
  ASSERT_EQ(sent.size(), 5u);
  EXPECT_EQ(sent[3], hex_bytes("WW18283344\r"));
  EXPECT_EQ(sent[4], hex_bytes("WW182A1122\r"));

  drive.mark();
  drive.poke({"biggercookie", "1122334455667788", "h"});
  sent = requests(drive.since_mark());
  ASSERT_EQ(sent.size(), 7u);
  EXPECT_EQ(Lines(sent.begin() + 3, sent.end()), (Lines{hex_bytes("WW18FC7788\r"), hex_bytes("WW18FE5566\r"),
                                                        hex_bytes("WW19003344\r"), hex_bytes("WW19021122\r")}));
  r = drive.peek({"biggercookie", "h"});
  EXPECT_EQ(r.lines(), Lines{"Data 1122334455667788"});
}

TEST(SerialWire, TextProtocolRefusesAccessesItHasNoCommandFor) {
  Drive drive("HEX", {});
  ASSERT_TRUE(drive.started());
  for (const auto& tool : {"parmpeek", "parmpoke"}) {
    SCOPED_TRACE(tool);
    drive.mark();
    std::vector<std::string> args{"nvkqi"};
    if (std::string(tool) == "parmpoke") args.push_back("5");
    RunResult r = drive.run(tool, args);
    EXPECT_EQ(r.exit_code, 2);
    Lines lines = r.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "");
    EXPECT_NE(lines[1].find("EEPROM long"), std::string::npos) << lines[1];
    // Only the synchronisation went out.
    EXPECT_EQ(requests(drive.since_mark()), (Lines{hex_bytes("x\r"), hex_bytes("x\r"), hex_bytes("II\r")}));
  }
  RunResult r = drive.peek({"nvkqilo", "h"});
  EXPECT_EQ(r.lines(), Lines{"Data 1170"});  // and the value is still there
}

}  // namespace
