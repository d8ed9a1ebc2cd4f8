// durability's command line: what each call means, and each mistake's message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandLine.h"

using namespace acidkit;
using Command = DurabilityCommandLine::Command;

namespace {

TEST(DurabilityCommandLine, RunAndVerifyWithTheirOptions) {
  DurabilityCommandLine line = parseDurabilityCommandLine({"run", "--journal", "j"});
  ASSERT_EQ(line.command, Command::kRun) << line.error;
  EXPECT_EQ(line.run.journal, "j");
  EXPECT_EQ(line.run.seconds, 60);
  EXPECT_EQ(line.run.connections, 8);

  line = parseDurabilityCommandLine(
      {"run", "--seconds=600", "--connections", "16", "--journal", "/tmp/x"});
  ASSERT_EQ(line.command, Command::kRun) << line.error;
  EXPECT_EQ(line.run.seconds, 600);
  EXPECT_EQ(line.run.connections, 16);
  EXPECT_EQ(line.run.journal, "/tmp/x");

  line = parseDurabilityCommandLine({"verify", "--journal", "j"});
  ASSERT_EQ(line.command, Command::kVerify) << line.error;
  EXPECT_EQ(line.verify.journal, "j");

  for (auto args : std::vector<std::vector<std::string>>{{"--help"}, {"run", "--help"}}) {
    EXPECT_EQ(parseDurabilityCommandLine(args).command, Command::kHelp);
  }
}

TEST(DurabilityCommandLine, EachMistakeSaysWhatIsWrong) {
  struct Case {
    std::vector<std::string> args;
    const char* error;
  } cases[] = {
      {{}, "say run or verify"},
      {{"crash"}, "unknown command 'crash'"},
      {{"run"}, "run needs --journal FILE"},
      {{"verify"}, "verify needs --journal FILE"},
      {{"run", "--journal"}, "--journal needs a value"},
      {{"run", "--journal", "j", "--seconds", "0"}, "--seconds takes 1 to 86400, not '0'"},
      {{"run", "--journal", "j", "--seconds", "1e3"}, "--seconds takes 1 to 86400, not '1e3'"},
      {{"run", "--journal", "j", "--connections", "257"},
       "--connections takes 1 to 256, not '257'"},
      {{"verify", "--journal", "j", "--seconds", "3"}, "--seconds is an option of run"},
      {{"run", "--journal", "j", "--verbose"}, "unknown option '--verbose'"},
      {{"run", "--journal", "j", "extra"}, "unexpected argument 'extra'"},
  };
  for (const Case& c : cases) {
    DurabilityCommandLine line = parseDurabilityCommandLine(c.args);
    EXPECT_EQ(line.command, Command::kError) << testing::PrintToString(c.args);
    EXPECT_EQ(line.error, c.error) << testing::PrintToString(c.args);
  }
}

}  // namespace
