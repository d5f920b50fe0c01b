#include "kx6_idxfile.h"

#include "kx6_eror.h"
#include "kx6_tool.h"
#include "platform/pf_file.h"
#include "platform/pf_path.h"

namespace tolvern {

namespace {

const char* const kProductionExtensions[] = {".cdx", ".mdx"};

bool ProductionExtension(const std::string& path) {
  const std::string ext = platform::ExtensionOf(path);
  for (const char* candidate : kProductionExtensions)
    if (CompareTextNoCase(ext, candidate) == 0) return true;
  return false;
}

// Whether a production index file other than the deleted one lies beside the table.
bool OtherProductionIndex(const std::string& tablePath) {
  const std::string directory = platform::DirectoryOf(tablePath);
  const std::string stem = NameWithoutExtension(tablePath);
  for (const char* ext : kProductionExtensions)
    if (platform::FindCompanion(directory, stem + ext)) return true;
  return false;
}

}  // namespace

bool IsProductionIndexOf(const std::string& tablePath, const std::string& indexPath) {
  return ProductionExtension(indexPath) &&
         CompareTextNoCase(NameWithoutExtension(tablePath), NameWithoutExtension(indexPath)) == 0 &&
         CompareText(platform::DirectoryOf(platform::CanonicalPath(tablePath)),
                     platform::DirectoryOf(platform::CanonicalPath(indexPath))) == 0;
}

void DeleteIndexFile(KXO_dBHandler& table, const std::string& path) {
  const bool production = IsProductionIndexOf(table.FileName(), path);
  table.CloseIndexFile(path);
  const int32_t result = platform::RemoveFile(path);
  if (result != 0) RaiseEngineError(result, SubCodeNone, path);
  if (production && table.ProductionIndexFlag() && !OtherProductionIndex(table.FileName())) {
    table.SetProductionIndexFlag(false);
    table.WriteHeader();
  }
}

}  // namespace tolvern
