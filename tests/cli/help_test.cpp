// The command line's help, version and option checks, and the manual page that must
// describe every command, option, exit status and lock protocol the help names.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "cli_test_util.h"
#include "fendral_version.h"

namespace fendral::test {
namespace {

const std::string kManPage = std::string(FENDRAL_CLI_TESTS_DIR) + "/../../data/fendral-cli.1";

// The manual page's text with the roff escapes of dashes undone.
std::string ManText() {
  std::string text = ReadText(kManPage);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '-') continue;
    out += text[i];
  }
  return out;
}

// The text of the manual page's section `name` (from .SH name to the next .SH).
std::string ManSection(const std::string& man, const std::string& name) {
  const size_t start = man.find(".SH " + name + "\n");
  if (start == std::string::npos) return "";
  const size_t end = man.find("\n.SH ", start + 1);
  return man.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The command names of the general usage: the indented lines of its command list.
std::vector<std::string> ListedCommands(const std::string& usage) {
  std::vector<std::string> names;
  std::istringstream in(usage);
  std::string line;
  const std::regex entry("^  ([a-z-]+) +\\S.*$");
  std::smatch m;
  while (std::getline(in, line))
    if (std::regex_match(line, m, entry)) names.push_back(m[1]);
  return names;
}

std::set<std::string> OptionsIn(const std::string& text) {
  std::set<std::string> options;
  const std::regex option("--[a-z][a-z-]*");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
       it != std::sregex_iterator(); ++it)
    options.insert(it->str());
  return options;
}

TEST(CliHelp, EveryCommandsHelpGoesToStandardOutputAndTheManualDescribesIt) {
  std::string usage, err;
  ASSERT_EQ(RunCli("--help", &usage, &err), 0);
  EXPECT_TRUE(err.empty()) << err;
  const std::vector<std::string> commands = ListedCommands(usage);
  EXPECT_EQ(commands.size(), 21u) << usage;

  const std::string man = ManText();
  ASSERT_FALSE(man.empty()) << kManPage;
  const std::string manCommands = ManSection(man, "COMMANDS");
  const std::string manOptions = ManSection(man, "OPTIONS");
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    std::string help;
    ASSERT_EQ(RunCli(command + " --help", &help, &err), 0) << err;
    EXPECT_TRUE(err.empty()) << err;
    EXPECT_EQ(help.rfind("usage: fendral-cli " + command + " ", 0), 0u) << help;
    // -h is the same, also after other arguments.
    std::string shortHelp;
    EXPECT_EQ(RunCli(command + " TABLE -h", &shortHelp), 0);
    EXPECT_EQ(shortHelp, help);

    const size_t entry = manCommands.find(".BI \"" + command + " ");
    ASSERT_NE(entry, std::string::npos) << "the manual lists no command " << command;
    const size_t next = manCommands.find("\n.TP", entry);
    const std::string manEntry = manCommands.substr(entry, next - entry);
    for (const std::string& option : OptionsIn(help)) {
      if (option == "--help") continue;
      EXPECT_NE(manEntry.find(option), std::string::npos) << option << " missing from " << manEntry;
      const bool described = manOptions.find(".BI " + option + " ") != std::string::npos ||
                             manOptions.find(".B " + option + "\n") != std::string::npos;
      EXPECT_TRUE(described) << option << " is not described under OPTIONS";
    }
  }
  EXPECT_NE(manOptions.find(".BR -h \", \" --help"), std::string::npos);
  EXPECT_NE(manOptions.find("--version"), std::string::npos);
}

TEST(CliHelp, TheManualNamesEveryExitStatusAndLockProtocol) {
  std::string usage;
  ASSERT_EQ(RunCli("--help", &usage), 0);
  const std::string man = ManText();
  const std::string exits = ManSection(man, "EXIT STATUS");
  const std::regex status("(\\d+) [a-z]");
  const std::string statusText = usage.substr(usage.find("Exit status:"));
  int count = 0;
  for (auto it = std::sregex_iterator(statusText.begin(), statusText.end(), status);
       it != std::sregex_iterator(); ++it, ++count)
    EXPECT_NE(exits.find(".B " + (*it)[1].str() + "\n"), std::string::npos) << (*it)[1];
  EXPECT_EQ(count, 5) << statusText;

  std::string help;
  ASSERT_EQ(RunCli("info --help", &help), 0);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(help, m, std::regex("--lock-protocol ([a-z0-9|]+)")));
  const std::string protocols = ManSection(man, "LOCK PROTOCOLS");
  std::istringstream names(m[1].str());
  std::string name;
  int protocolCount = 0;
  while (std::getline(names, name, '|')) {
    ++protocolCount;
    EXPECT_NE(protocols.find(".B " + name + "\n"), std::string::npos) << name;
  }
  EXPECT_EQ(protocolCount, 5);
}

TEST(CliHelp, VersionAndUnknownOptions) {
  std::string out, err;
  EXPECT_EQ(RunCli("--version", &out), 0);
  EXPECT_EQ(out, std::string("fendral-cli ") + FENDRAL_VERSION + "\n");

  // Unknown options are refused, naming the option, before any file is touched.
  TempDir dir;
  EXPECT_EQ(RunCli("--frobnicate", &out, &err), 64);
  EXPECT_NE(err.find("unknown option --frobnicate"), std::string::npos) << err;
  EXPECT_EQ(RunCli("info " + Quote(dir.File("t.dbf")) + " --verbose", &out, &err), 64);
  EXPECT_NE(err.find("fendral-cli info: unknown option --verbose"), std::string::npos) << err;
  // A flag of another command is unknown to this one.
  EXPECT_EQ(RunCli("dump " + Quote(dir.File("t.dbf")) + " --unique", &out, &err), 64);
  EXPECT_NE(err.find("unknown option --unique"), std::string::npos) << err;
  EXPECT_EQ(RunCli("nosuchcommand", &out, &err), 64);
  EXPECT_NE(err.find("unknown command nosuchcommand"), std::string::npos) << err;

  // After "--" a dash starts a value: here a text to search for in a new table.
  const std::string table = dir.File("t.dbf");
  ASSERT_EQ(RunCli("create " + Quote(table) + " --type dbase3 NAME:C:10"), 0);
  WriteText(dir.File("in.jsonl"), "{\"fields\": {\"NAME\": \"--x\"}}\n");
  ASSERT_EQ(RunCli("import " + Quote(table) + " " + Quote(dir.File("in.jsonl"))), 0);
  EXPECT_EQ(RunCli("search " + Quote(table) + " -- --x", &out, &err), 0) << err;
  EXPECT_EQ(out, "{\"recno\": 1, \"field\": 1}\n");
}

}  // namespace
}  // namespace fendral::test
