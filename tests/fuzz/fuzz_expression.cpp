// Fuzz target: arbitrary expression text compiled and evaluated against a small table.
// Each input either gives a value or raises ETolvernExpression (or the engine's error).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "kx6_Date.h"
#include "kx6_build.h"
#include "kx6_eror.h"
#include "kx6_fld.h"
#include "kx6_sql.h"

namespace {

tolvern::KXO_dBaseFld& Table() {
  static std::unique_ptr<tolvern::KXO_dBaseFld> table = [] {
    const std::string path = fuzz::ScratchDir() + "/t.dbf";
    {
      tolvern::KXO_DBFBuild builder(path);
      builder.AddField("NAME", 'C', 10, 0);
      builder.AddField("AMOUNT", 'N', 8, 2);
      builder.AddField("BORN", 'D', 8, 0);
      builder.AddField("OK", 'L', 1, 0);
      builder.WriteTable();
    }
    auto t = std::make_unique<tolvern::KXO_dBaseFld>(path, true, false);
    t->BlankRecord();
    t->PutFieldByName("NAME", "SMITH");
    t->PutNumberByName("AMOUNT", 12.5);
    t->PutFieldByName("BORN", "19800101");
    t->AppendRecord();
    t->GetRecord(1);
    return t;
  }();
  return *table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    tolvern::TkxExpHandler handler(Table().ExpressionLink(), text);
    tolvern::TkxExpValue value;
    handler.EvaluateToBuffer(value);
    tolvern::TkxVariant variant;
    handler.EvaluateToVariant(variant);
    const std::string back = handler.ExpressionText();
    tolvern::TkxExpHandler again(Table().ExpressionLink(), back);
  } catch (const tolvern::ETolvernExpression&) {
  } catch (const tolvern::ETolvernError&) {
  } catch (const tolvern::EConvertError&) {
  }
  return 0;
}
