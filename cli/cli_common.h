// Shared pieces of fendral-cli: argument handling, JSON text, code pages, errors.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fendral::cli {

// Thrown for a command line that cannot be run; main prints it and exits 64.
struct UsageError {
  std::string message;
};

// Parsed arguments: positionals in order, options by name (repeatable ones keep all).
struct Arguments {
  std::vector<std::string> positional;
  std::multimap<std::string, std::string> options;  // "--encoding" -> "CP866"
  std::vector<std::string> flags;                    // "--unique"

  std::optional<std::string> Option(const std::string& name) const;
  std::vector<std::string> Options(const std::string& name) const;
  bool Flag(const std::string& name) const;
};

// Splits argv; `valued` lists the options that take a value, `flags` those that take none.
// Any other option is a usage error naming it; after "--" every argument is positional.
Arguments ParseArguments(const std::vector<std::string>& args,
                         const std::vector<std::string>& valued,
                         const std::vector<std::string>& flags);

// A JSON string literal of UTF-8 text.
std::string JsonString(const std::string& utf8);
// A JSON number for a double: integral values without a fraction, others in the
// shortest form that reads back the same; non-finite values become null.
std::string JsonNumber(double value);

// The iconv name of the code page that a table's language mark (header byte 29)
// names, or CP437 when the mark is unknown.
std::string CodePageForMark(uint8_t mark);
// The code page to decode a table's text: --encoding when given, else from the mark.
std::string TableEncoding(const Arguments& args, uint8_t mark);

// The lock protocol of --lock-protocol auto|default|dbase4|clipper|foxpro (auto when
// absent): a protocol number or tolvern::kLockProtocolAuto.
int LockProtocolOption(const Arguments& args);

using CommandFn = int (*)(const Arguments& args);
int CmdInfo(const Arguments& args);
int CmdDump(const Arguments& args);
int CmdEval(const Arguments& args);
int CmdCreate(const Arguments& args);
int CmdImport(const Arguments& args);
int CmdIndex(const Arguments& args);
int CmdKeys(const Arguments& args);
int CmdTags(const Arguments& args);
int CmdPack(const Arguments& args);
int CmdZap(const Arguments& args);
int CmdReindex(const Arguments& args);
int CmdCopy(const Arguments& args);
int CmdCopyStructure(const Arguments& args);
int CmdRename(const Arguments& args);
int CmdSearch(const Arguments& args);
int CmdDelete(const Arguments& args);
int CmdRecall(const Arguments& args);
int CmdReplace(const Arguments& args);
int CmdExport(const Arguments& args);
int CmdVerify(const Arguments& args);
int CmdRepair(const Arguments& args);

}  // namespace fendral::cli
