// fendral-cli: the table engine from the command line, for scripts and tests.
// Exit codes: 0 success, 1 engine error (message on standard error), 64 usage error.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cli_common.h"
#include "kx6_eror.h"

namespace {

struct Command {
  const char* name;
  fendral::cli::CommandFn run;
  std::vector<std::string> valuedOptions;
};

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"info", &fendral::cli::CmdInfo, {"--encoding"}},
      {"dump", &fendral::cli::CmdDump, {"--encoding", "--index", "--tag", "--filter"}},
      {"eval", &fendral::cli::CmdEval, {"--encoding"}},
      {"create", &fendral::cli::CmdCreate, {"--type", "--block-size", "--codepage"}},
      {"index", &fendral::cli::CmdIndex, {"--tag", "--key", "--for", "--encoding"}},
      {"keys", &fendral::cli::CmdKeys, {"--tag", "--seek", "--encoding"}},
      {"tags", &fendral::cli::CmdTags, {"--encoding"}},
      {"import", &fendral::cli::CmdImport, {"--encoding", "--index"}},
      {"pack", &fendral::cli::CmdPack, {"--index"}},
      {"zap", &fendral::cli::CmdZap, {"--index"}},
      {"reindex", &fendral::cli::CmdReindex, {"--index"}},
      {"copy", &fendral::cli::CmdCopy, {"--index", "--tag", "--filter"}},
      {"copy-structure", &fendral::cli::CmdCopyStructure, {}},
      {"rename", &fendral::cli::CmdRename, {"--index"}},
      {"search", &fendral::cli::CmdSearch, {"--field", "--options", "--encoding", "--index", "--tag"}},
      {"delete", &fendral::cli::CmdDelete, {"--index"}},
      {"recall", &fendral::cli::CmdRecall, {"--index"}},
      {"replace", &fendral::cli::CmdReplace, {"--index", "--encoding"}},
  };
  return commands;
}

void Usage() {
  std::fprintf(stderr, "usage: fendral-cli COMMAND ARGS...\ncommands:");
  for (const auto& c : Commands()) std::fprintf(stderr, " %s", c.name);
  std::fprintf(stderr, "\n");
}

// Engine messages may carry a carriage return; keep the report on one line.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage();
    return 64;
  }
  const std::string name = argv[1];
  for (const auto& command : Commands()) {
    if (name != command.name) continue;
    try {
      std::vector<std::string> rest(argv + 2, argv + argc);
      return command.run(fendral::cli::ParseArguments(rest, command.valuedOptions));
    } catch (const fendral::cli::UsageError& e) {
      std::fprintf(stderr, "fendral-cli %s: %s\n", name.c_str(), e.message.c_str());
      return 64;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", OneLine(e.what()).c_str());
      return 1;
    }
  }
  Usage();
  return 64;
}
