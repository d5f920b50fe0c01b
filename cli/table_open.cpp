#include "table_open.h"

#include "kx6_indx.h"
#include "platform/pf_path.h"
#include "text_codec.h"

namespace fendral::cli {

std::unique_ptr<tolvern::KXO_dBHandler> OpenTable(const std::string& path, const Arguments& args,
                                                  const OpenOptions& options) {
  const int protocol = LockProtocolOption(args);
  auto table = std::make_unique<tolvern::KXO_dBHandler>(path, options.readWrite, options.shared);
  table->SetLockProtocol(protocol);
  if (options.productionIndex) table->OpenProductionIndex();
  for (const auto& file : args.Options("--index")) {
    // Names on the command line are relative to the working directory.
    const int result = table->OpenIndexFile(tolvern::platform::AbsolutePath(file));
    if (result == -1) continue;  // already open (the production index named again)
    if (result != 0) throw tolvern::ETolvernError("Cannot open index file " + file);
  }
  std::string tag = args.Option("--tag").value_or("");
  if (tag.empty() && !args.Options("--index").empty()) {
    // A single index file with a single tag needs no --tag.
    const std::string only = tolvern::platform::AbsolutePath(args.Options("--index").back());
    for (int slot = 1; slot <= tolvern::KXO_dBHandler::kMaxIndexFiles; ++slot) {
      tolvern::KXobjIndexFile* file = table->IndexFile(slot);
      if (file && file->SameFile(only) && file->TagCount() == 1) {
        tag = file->TagAt(0)->TagName();
      }
    }
  }
  if (!tag.empty()) table->SelectOrder(tag, false);
  if (args.Flag("--hide-deleted")) table->SetShowDeleted(false);
  if (auto filter = args.Option("--filter")) {
    // Literals in the filter are compared with table text: bring them into its code page.
    const TextCodec codec(TableEncoding(args, table->CodePageMark()));
    std::string source;
    if (!codec.FromUtf8(*filter, source))
      throw UsageError{"the filter has characters the table's code page cannot hold"};
    table->SetFilterExpression(source);
    table->SetFilterActive(true);
  }
  return table;
}

}  // namespace fendral::cli
