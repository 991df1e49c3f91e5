#include "tools/sim/control.h"

#include <gtest/gtest.h>

#include <sstream>

namespace qz381::sim {
namespace {

using Kind = ControlCommand::Kind;

TEST(ControlCommandTest, ReadsEachCommand) {
  std::string error;
  auto c = ParseControlCommand("  cartridge second empty\r", &error);
  ASSERT_TRUE(c) << error;
  EXPECT_EQ(c->kind, Kind::kCartridge);
  EXPECT_TRUE(c->second_cartridge);
  EXPECT_EQ(c->cartridge, Cartridge::kEmpty);

  c = ParseControlCommand("cartridge removed", &error);
  ASSERT_TRUE(c) << error;
  EXPECT_FALSE(c->second_cartridge);
  EXPECT_EQ(c->cartridge, Cartridge::kRemoved);

  c = ParseControlCommand("send 10 00 000f", &error);
  ASSERT_TRUE(c) << error;
  EXPECT_EQ(c->bytes, std::string("\x10\x00\x00\x0F", 4));

  c = ParseControlCommand("baud 19200", &error);
  ASSERT_TRUE(c) << error;
  EXPECT_EQ(c->number, 19200u);
}

TEST(ControlCommandTest, RefusesWhatIsNoCommand) {
  struct {
    const char* line;
    const char* error;
  } cases[] = {
      {"cover ajar", "usage: cover open|close"}, {"baud fast", "usage: baud N (0: no limit)"},
      {"sleep -5", "usage: sleep MS"},           {"send 1", "send: odd number of hex digits"},
      {"send zz", "send: not a hex byte: zz"},   {"online now", "usage: online"},
      {"reboot", "unknown command: reboot"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseControlCommand(c.line, &error)) << c.line;
    EXPECT_EQ(error, c.error) << c.line;
  }
  std::string error = "stale";
  EXPECT_FALSE(ParseControlCommand("   # a comment", &error));
  EXPECT_EQ(error, "");
}

TEST(ScenarioTest, ReportsTheLineOfAMistakeBeforeRunningAnything) {
  std::istringstream good("at 100 cover open\n\nsleep 5\n# note\npaper end\n");
  std::vector<ScenarioStep> steps;
  std::string error;
  ASSERT_TRUE(ParseScenario(good, &steps, &error)) << error;
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].at, std::chrono::milliseconds(100));
  EXPECT_EQ(steps[0].command.kind, Kind::kCover);
  EXPECT_EQ(steps[1].command.kind, Kind::kSleep);
  EXPECT_EQ(steps[2].line, 5);

  std::istringstream bad("cover open\nat soon cover close\n");
  EXPECT_FALSE(ParseScenario(bad, &steps, &error));
  EXPECT_EQ(error, "line 2: usage: at MS command");
  std::istringstream bad_command("cover open\n\nat 5 paper gone\n");
  EXPECT_FALSE(ParseScenario(bad_command, &steps, &error));
  EXPECT_EQ(error, "line 3: usage: paper ok|near|end");
}

}  // namespace
}  // namespace qz381::sim
