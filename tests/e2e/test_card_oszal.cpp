// Both tools through the simulated card's ZAL serial host port (OSZAL), with the
// card expecting CRC bytes, refusing them, or taking either.
#include <gtest/gtest.h>

#include <algorithm>

#include "test_card_fixture.h"

namespace {

using namespace cardtest;
using testsupport::run_tool;

// The first frames on the line: the synchronisation, then the cookie register read.
struct CrcCase {
  const char* mode;
  Lines first_frames;
};

TEST(CardOszal, ReadsAndWritesThroughTheHostPortInEveryCrcMode) {
  const CrcCase cases[] = {
      {"off", {"> DF", "< 5A", "> 46 00 01", "< FE CA AA 55"}},
      // The card ignores the probe without CRC; the tools then clear its status.
      {"on", {"> DF", "> DF 16", "< 5A A5", "> E1 00 B1", "< 00", "> 46 00 01 BE", "< FE CA AA 55 B0"}},
      {"either", {"> DF", "< 5A", "> 46 00 01", "< FE CA AA 55"}},
  };
  for (const CrcCase& c : cases) {
    SCOPED_TRACE(c.mode);
    auto card = pty_card(c.mode);
    auto peek = run_tool(PEEK, {"kqp", "2"}, card->env);
    EXPECT_EQ(peek.lines(), (Lines{BAUD_NOTICE, "Data  1200"}));
    EXPECT_EQ(peek.exit_code, 0);
    Lines wire = card->wire();
    ASSERT_GE(wire.size(), c.first_frames.size());
    EXPECT_EQ(Lines(wire.begin(), wire.begin() + static_cast<long>(c.first_frames.size())), c.first_frames);

    auto poke = run_tool(POKE, {"nvkqi", "-2", "7"}, card->env);
    EXPECT_EQ(poke.lines(), (Lines{BAUD_NOTICE}));
    EXPECT_EQ(poke.exit_code, 0);
    EXPECT_EQ(run_tool(PEEK, {"nvkqi", "7"}, card->env).lines(), (Lines{BAUD_NOTICE, "Data         -2"}));
    EXPECT_EQ(run_tool(PEEK, {"biggercookie", "0", "h"}, card->env).lines(),
              (Lines{BAUD_NOTICE, "Data 123456789ABCDEF0"}));
  }
}

// The OSZAL link runs at 115200 whatever is configured, and so does the channel.
TEST(CardOszal, ChannelRateIsTheHostPortRate) {
  // With CRC every write is acknowledged, so each frame is a chunk of its own.
  auto card = pty_card("on");
  Env env = card->env;
  env["BAUDRATE"] = "9600";
  ASSERT_EQ(run_tool(PEEK, {"kqp", "1"}, env).exit_code, 0);
  // 115200 is 00 C2 01 00 least significant first, written byte by byte to module
  // RAM from 0x80 + 42 = 0xAA: the second byte goes to 0xAB.
  Lines requests = card->requests();
  auto starts = [](const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; };
  auto at = std::find_if(requests.begin(), requests.end(),
                         [&](const std::string& r) { return starts(r, "66 00 51 C2 00 00 00"); });
  ASSERT_NE(at, requests.end());
  ASSERT_NE(at + 1, requests.end());
  EXPECT_TRUE(starts(*(at + 1), "66 00 50 AB A0 00 00")) << *(at + 1);
}

TEST(CardOszal, SilentHostPortFailsTheSynchronisation) {
  auto card = pty_card("either", {"--fault", "silent"});
  auto result = run_tool(PEEK, {"kqp", "2"}, card->env);
  EXPECT_EQ(result.lines(), (Lines{BAUD_NOTICE, "", "ZAL Serial Communication failed !"}));
  EXPECT_EQ(result.exit_code, 2);
}

TEST(CardOszal, CardThatStopsAnsweringEndsTheRegisterRead) {
  auto card = pty_card("on", {"--fault", "silent-after=5"});
  auto result = run_tool(PEEK, {"kqp", "2"}, card->env);
  EXPECT_EQ(result.lines(), (Lines{BAUD_NOTICE, "", "Serial Timeout Error Waiting for Long!"}));
  EXPECT_EQ(result.exit_code, 2);
}

TEST(CardOszal, RunFailureThroughTheHostPort) {
  auto card = pty_card("on", {"--fault", "runfail"});
  auto result = run_tool(POKE, {"kqp", "3", "4"}, card->env);
  EXPECT_EQ(result.lines(), (Lines{BAUD_NOTICE, "SSZAL Transfer Failed"}));
  EXPECT_EQ(result.exit_code, 2);
}

}  // namespace
