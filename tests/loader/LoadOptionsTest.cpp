// The loaders' shared command line: what each kind of mistake says, and what
// a good line sets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options.h"

namespace {

struct Parsed {
  LoadCommand command;
  LoadCommandLine line;
  std::string error;
};

Parsed parse(std::vector<std::string> args, const LoaderExtras& extras) {
  args.insert(args.begin(), "acidkit-load");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  Parsed parsed;
  parsed.command = parseLoadCommandLine(static_cast<int>(args.size()), argv.data(), extras,
                                        &parsed.line, &parsed.error);
  return parsed;
}

const LoaderExtras kMariaDb{.socket = true, .checkOnly = true, .rowByRow = true};

TEST(LoadOptions, EachMistakeSaysWhatIsWrong) {
  struct Case {
    std::vector<std::string> args;
    LoaderExtras extras;
    const char* error;
  } cases[] = {
      {{"--database", "d"}, kMariaDb, "--warehouses W is required"},
      {{"--warehouses", "1"}, kMariaDb, "--database NAME is required"},
      {{"--warehouses", "0", "--database", "d"}, kMariaDb, "from 1 to 10000, got '0'"},
      {{"--warehouses", "10001", "--database", "d"}, kMariaDb, "from 1 to 10000"},
      {{"--warehouses", "2x", "--database", "d"}, kMariaDb, "got '2x'"},
      {{"--warehouses", "-1", "--database", "d"}, kMariaDb, "got '-1'"},
      {{"--warehouses", "1", "--database", "a b"}, kMariaDb, "letters, digits or underscores"},
      {{"--warehouses", "1", "--database", "d;DROP"}, kMariaDb, "letters, digits"},
      {{"--warehouses", "1", "--database", std::string(65, 'a')}, kMariaDb, "1 to 64"},
      {{"--warehouses", "1", "--database", "d", "--threads", "65"}, kMariaDb, "from 1 to 64"},
      {{"--warehouses", "1", "--database", "d", "--seed", "-3"}, kMariaDb, "whole number >= 0"},
      {{"--warehouses", "1", "--database", "d", "--port", "70000"}, kMariaDb, "1 to 65535"},
      {{"--warehouses", "1", "--database", "d", "--socket", "s", "--host", "h"},
       kMariaDb,
       "either --socket or --host"},
      {{"--warehouses", "1", "--database"}, kMariaDb, "--database needs a value"},
      {{"--warehouses", "1", "--database", "d", "--bogus"}, kMariaDb, "unknown argument '--bogus'"},
      {{"--warehouses", "1", "--database", "d", "stray"}, kMariaDb, "unknown argument 'stray'"},
      // acidkit-load's own options are unknown to acidkit-load-pg.
      {{"--warehouses", "1", "--database", "d", "--check-only"}, {}, "unknown argument"},
      {{"--warehouses", "1", "--database", "d", "--socket", "s"}, {}, "unknown argument"},
  };
  for (const Case& c : cases) {
    const Parsed parsed = parse(c.args, c.extras);
    const std::string line = testing::PrintToString(c.args);
    EXPECT_EQ(parsed.command, LoadCommand::kError) << line;
    EXPECT_NE(parsed.error.find(c.error), std::string::npos)
        << line << " said: " << parsed.error << "; expected: " << c.error;
  }
}

TEST(LoadOptions, AGoodLineSetsWhatItNames) {
  const Parsed all = parse({"--warehouses=12", "--database", "acidkit_x", "--host", "127.0.0.1",
                            "--port", "23306", "--user", "u", "--password", "", "--seed", "7",
                            "--replace", "--threads", "3", "--row-by-row"},
                           kMariaDb);
  ASSERT_EQ(all.command, LoadCommand::kLoad) << all.error;
  EXPECT_EQ(all.line.warehouses, 12);
  EXPECT_EQ(all.line.database, "acidkit_x");
  EXPECT_EQ(all.line.host, "127.0.0.1");
  EXPECT_EQ(all.line.port, 23306);
  EXPECT_EQ(all.line.user, "u");
  EXPECT_TRUE(all.line.passwordGiven);  // an empty password is still a password
  EXPECT_EQ(all.line.seed, 7u);
  EXPECT_TRUE(all.line.seedGiven && all.line.replace && all.line.rowByRow);
  EXPECT_EQ(all.line.threads, 3);
  EXPECT_FALSE(all.line.checkOnly);

  // --check-only needs no warehouse count; -h and --help anywhere ask for help.
  const Parsed check = parse({"--check-only", "--database", "d"}, kMariaDb);
  EXPECT_EQ(check.command, LoadCommand::kLoad) << check.error;
  EXPECT_EQ(check.line.warehouses, 0);
  EXPECT_EQ(parse({"--warehouses", "x", "--help"}, kMariaDb).command, LoadCommand::kHelp);
  EXPECT_EQ(parse({"-h"}, {}).command, LoadCommand::kHelp);
}

}  // namespace
