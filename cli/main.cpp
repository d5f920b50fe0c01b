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
      {"info", &fendral::cli::CmdInfo, {"--encoding", "--lock-protocol"}},
      {"dump",
       &fendral::cli::CmdDump,
       {"--encoding", "--index", "--tag", "--filter", "--lock-protocol"}},
      {"eval", &fendral::cli::CmdEval, {"--encoding", "--lock-protocol"}},
      {"create", &fendral::cli::CmdCreate, {"--type", "--block-size", "--codepage"}},
      {"index",
       &fendral::cli::CmdIndex,
       {"--tag", "--key", "--for", "--encoding", "--lock-protocol"}},
      {"keys", &fendral::cli::CmdKeys, {"--tag", "--seek", "--encoding", "--lock-protocol"}},
      {"tags", &fendral::cli::CmdTags, {"--encoding", "--lock-protocol"}},
      {"import", &fendral::cli::CmdImport, {"--encoding", "--index", "--lock-protocol"}},
      {"pack", &fendral::cli::CmdPack, {"--index", "--lock-protocol"}},
      {"zap", &fendral::cli::CmdZap, {"--index", "--lock-protocol"}},
      {"reindex", &fendral::cli::CmdReindex, {"--index", "--lock-protocol"}},
      {"copy", &fendral::cli::CmdCopy, {"--index", "--tag", "--filter", "--lock-protocol"}},
      {"copy-structure", &fendral::cli::CmdCopyStructure, {"--lock-protocol"}},
      {"rename", &fendral::cli::CmdRename, {"--index", "--lock-protocol"}},
      {"search",
       &fendral::cli::CmdSearch,
       {"--field", "--options", "--encoding", "--index", "--tag", "--lock-protocol"}},
      {"delete", &fendral::cli::CmdDelete, {"--index", "--lock-protocol"}},
      {"recall", &fendral::cli::CmdRecall, {"--index", "--lock-protocol"}},
      {"replace", &fendral::cli::CmdReplace, {"--index", "--encoding", "--lock-protocol"}},
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
