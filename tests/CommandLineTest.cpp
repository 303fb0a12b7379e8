#include <gtest/gtest.h>

#include "platform/CommandLine.h"

namespace quillon {
namespace {

TEST(CommandLine, OptionsAsBothPlatformsTakeThem) {
  EXPECT_EQ(CommandLine::Parse({"--scale", "3"}).scale, "3");
  EXPECT_EQ(CommandLine::Parse({"--verify", "Q1-A"}).verify, "Q1-A");
  EXPECT_EQ(CommandLine::Parse({"--watch", "run.txt"}).watch, "run.txt");
  EXPECT_EQ(CommandLine::Parse({"--verify"}).verify, "");  // said to be empty, not unknown
  EXPECT_TRUE(CommandLine::Parse({"--run-code"}).runCode);
  EXPECT_EQ(CommandLine::Parse({"--run-code", "x"}).wrong, "x");
  EXPECT_TRUE(CommandLine::Parse({"--daily", "--run-code"}).daily);
  EXPECT_EQ(CommandLine::Parse({"--run-code", "--daily"}).wrong, "");
  EXPECT_EQ(CommandLine::Parse({"--daily"}).wrong, "--daily");  // only --run-code takes it
  EXPECT_EQ(CommandLine::Parse({"--daily", "--fast"}).wrong, "--fast");
  EXPECT_EQ(CommandLine::Parse({"--scale=2"}).scale, "2");
  EXPECT_EQ(CommandLine::Parse({"--scale="}).scale, "");
  EXPECT_TRUE(CommandLine::Parse({"--help"}).help);
  EXPECT_TRUE(CommandLine::Parse({"-h"}).help);
  EXPECT_TRUE(CommandLine::Parse({"--version"}).version);
  EXPECT_EQ(CommandLine::Parse({"--fast", "--slow"}).wrong, "--fast");
  EXPECT_EQ(CommandLine::Parse({"--scale"}).scale, "");  // no number after it: not an unknown option
  EXPECT_EQ(CommandLine::Parse({"--scale"}).wrong, "");
  EXPECT_EQ(CommandLine::Parse({}).wrong, "");
  // Nothing asked, nothing on: a plain start plays.
  const CommandLine plain = CommandLine::Parse({});
  EXPECT_FALSE(plain.help || plain.version || plain.runCode || plain.verify || plain.watch || plain.scale);
  // What --scale says before any screen is asked; whether it fits one comes later.
  const auto problem = [](std::vector<std::string> args) { return CommandLine::Parse(args).ScaleProblem(); };
  EXPECT_EQ(problem({}), std::nullopt);
  for (const char* fine : {"1", "4", "07", "99"}) EXPECT_EQ(problem({"--scale", fine}), std::nullopt) << fine;
  EXPECT_EQ(problem({"--scale"}), "--scale needs a whole number");
  EXPECT_EQ(problem({"--scale="}), "--scale needs a whole number");
  for (const char* bad : {"0", "00", "two", "-1", "2x", " 2", "1.5"}) {
    EXPECT_EQ(problem({"--scale", bad}), "--scale takes a whole number from 1 up, not \"" + std::string(bad) + "\"");
  }
  const std::string usage = Usage("quillon", "in one place");
  EXPECT_EQ(usage.rfind("Usage: quillon [--scale N] [--watch CODE]\n       quillon --verify CODE | --run-code [--daily]\n", 0), 0u);
  EXPECT_NE(usage.find("The best score is kept in one place.\n"), std::string::npos);
  EXPECT_NE(usage.find("\n  --scale N, --scale=N   show each game pixel"), std::string::npos);  // columns
  EXPECT_NE(usage.find("\n  Space, gamepad B or X  jump low\n"), std::string::npos);  // the widest still lines up
  // Keys and options, then the environment, then the exit statuses; the message box alike.
  EXPECT_LT(usage.find("--version"), usage.find("\nEnvironment:\n  WAYLAND_DISPLAY"));
  EXPECT_LT(usage.find("\nEnvironment:\n"), usage.find("\nExit status:\n  0                      "));
  EXPECT_EQ(Usage("quillon", "x", false).find("DISPLAY"), std::string::npos);  // no such thing on Windows
  // In a message box: every entry on a line of its own as "what: does", nothing aligned with
  // runs of spaces.
  const std::string box = UsageForBox("quillon.exe", "in one place");
  for (const UsageLine& line : kUsageLines) {
    EXPECT_NE(box.find("\n" + std::string(line.what) + ": " + line.does + "\n"), std::string::npos) << line.what;
    EXPECT_NE(usage.find(line.what), std::string::npos) << line.what;
  }
  EXPECT_EQ(box.find("  "), std::string::npos) << box;
  EXPECT_LT(box.find("--version"), box.find("\nExit status:\n0: "));
  EXPECT_NE(box.find("\nExit status:\n0: "), std::string::npos);
  EXPECT_NE(box.find("\nThe best score is kept in one place."), std::string::npos);
}

}  // namespace
}  // namespace quillon
