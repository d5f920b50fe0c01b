// Field mapping and values: every fixture table the engine opens, read through the
// dataset core, gives for every field of every record what `fendral-cli dump` gives.
#include <gtest/gtest.h>

#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QLocale>
#include <cmath>
#include <map>
#include <vector>

#include "component_test_util.h"
#include "dataset_support.h"
#include "kx6_eror.h"
#include "tv_table.h"

namespace fendral {
namespace {

using tolvern::PosNext;
using tolvern::PosTop;

// The dataset field kind Part of the mapping table asks for, from the descriptor alone.
bool KindMatches(const tolvern::DbfFieldInfo& f, bool visual, TTVFieldKind kind) {
  switch (f.type) {
    case 'C':
      return kind == TTVFieldKind::String;
    case 'N':
    case 'F':
      if (f.decimals > 0 || f.length >= 11) return kind == TTVFieldKind::Float;
      return kind == (f.length < 5 ? TTVFieldKind::SmallInt : TTVFieldKind::Integer);
    case 'D':
      return kind == TTVFieldKind::Date;
    case 'L':
      return kind == TTVFieldKind::Boolean;
    case 'M':
      return kind == TTVFieldKind::Memo;
    case 'B':
      return kind == (visual ? TTVFieldKind::Float : TTVFieldKind::Blob);
    case 'Y':
      return visual && kind == TTVFieldKind::Float;
    case 'G':
      return kind == TTVFieldKind::Blob;
    case 'I':
      return kind == TTVFieldKind::Integer;
    case 'T':
      return kind == TTVFieldKind::DateTime;
    default:
      return false;
  }
}

// Compares one value with the dump's; answers a description of the difference or "".
std::string Compare(TTVTableCore& core, const uint8_t* buffer, const TTVFieldDef& def,
                    const QJsonValue& dumped) {
  const QVariant mine = core.Value(buffer, def);
  auto differ = [&](const QString& have) {
    return (def.name + QStringLiteral(": ours ") + have + QStringLiteral(", dump ") +
            QString::fromUtf8(QJsonDocument(QJsonArray{dumped}).toJson(QJsonDocument::Compact)))
        .toStdString();
  };
  switch (def.kind) {
    case TTVFieldKind::String: {
      const QString want = dumped.isNull() ? QString() : dumped.toString();
      const QString have = mine.isValid() ? mine.toString() : QString();
      return have == want ? "" : differ(have);
    }
    case TTVFieldKind::SmallInt:
    case TTVFieldKind::Integer:
    case TTVFieldKind::Float: {
      if (dumped.isNull() || !mine.isValid())
        return dumped.isNull() == !mine.isValid() ? "" : differ(mine.toString());
      double want = dumped.isDouble() ? dumped.toDouble() : dumped.toString().toDouble();
      if (def.kind != TTVFieldKind::Float) want = std::round(want);
      const double have = mine.toDouble();
      return std::fabs(have - want) <= 1e-9 * std::max(1.0, std::fabs(want))
                 ? ""
                 : differ(QString::number(have, 'g', 17));
    }
    case TTVFieldKind::Date: {
      const QString have =
          mine.isValid() ? mine.toDate().toString(QStringLiteral("yyyy-MM-dd")) : QString();
      return have == dumped.toString() ? "" : differ(have);
    }
    case TTVFieldKind::Boolean: {
      if (dumped.isNull()) return mine.isValid() ? differ(mine.toString()) : "";
      return mine.isValid() && mine.toBool() == dumped.toBool() ? "" : differ(mine.toString());
    }
    case TTVFieldKind::DateTime: {
      const QString have =
          mine.isValid() ? mine.toDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
                         : QString();
      return have == dumped.toString() ? "" : differ(have);
    }
    case TTVFieldKind::Memo:
    case TTVFieldKind::Blob: {
      if (dumped.isNull()) return mine.toBool() ? differ(QStringLiteral("a memo")) : "";
      const QByteArray bytes = core.Memo(buffer, def.fieldNo);
      const QString have = def.kind == TTVFieldKind::Blob
                               ? QString::fromLatin1(bytes.toBase64())
                               : core.CodePage().Decode(bytes.constData(), bytes.size());
      return have == dumped.toString() ? "" : differ(have.left(40));
    }
  }
  return "unknown kind";
}

TEST(FieldValues, EveryFixtureFieldEqualsTheCommandLineDump) {
  REQUIRE_SHARED();
  int tables = 0;
  int values = 0;
  for (const auto& path : test::FixtureFiles(".dbf")) {
    SCOPED_TRACE(path.string());
    TTVTableCore core;
    TTVTableCore::OpenOptions options;
    options.readOnly = true;
    options.useDeleted = true;
    try {
      core.Open(path.string(), options);
    } catch (const std::exception&) {
      continue;  // tables the engine refuses are not the dataset's business
    }
    std::string dump;
    if (test::RunCli("dump " + test::Quote(path.string()), &dump) != 0) continue;
    std::string page = CodePageForLanguageMark(core.Table().CodePageMark());
    core.SetCodePage(page.empty() ? "CP437" : page);
    const std::vector<TTVFieldDef> defs = MapTableFields(core.Table(), core.CodePage());
    const bool visual = core.Table().Version() == tolvern::kVersionVisual;
    for (const TTVFieldDef& def : defs) {
      const auto& f = core.Table().Fields()[static_cast<size_t>(def.fieldNo - 1)];
      EXPECT_TRUE(KindMatches(f, visual, def.kind)) << f.name << " " << f.type;
    }
    // A JSON object keeps one value per name: fields whose name repeats are left out.
    std::map<QString, int> nameCount;
    for (const TTVFieldDef& def : defs) ++nameCount[def.name];
    const std::vector<QJsonObject> lines = test::JsonLines(dump);
    std::vector<uint8_t> buffer(static_cast<size_t>(core.BufferSize()));
    size_t line = 0;
    for (auto r = core.Fetch(PosTop, buffer.data()); r == TTVTableCore::FetchResult::Ok;
         r = core.Fetch(PosNext, buffer.data()), ++line) {
      ASSERT_LT(line, lines.size());
      const QJsonObject& want = lines[line];
      ASSERT_EQ(core.RecNo(buffer.data()), want.value(QStringLiteral("recno")).toInt());
      const QJsonObject fields = want.value(QStringLiteral("fields")).toObject();
      for (const TTVFieldDef& def : defs) {
        if (nameCount[def.name] > 1) continue;
        // The dump shows a timestamp outside 0x30 tables as its raw text.
        if (def.kind == TTVFieldKind::DateTime && !visual) continue;
        const std::string diff = Compare(core, buffer.data(), def, fields.value(def.name));
        EXPECT_EQ(diff, "") << "record " << core.RecNo(buffer.data());
        ++values;
      }
    }
    EXPECT_EQ(line, lines.size());
    ++tables;
  }
  EXPECT_GT(tables, 100);
  EXPECT_GT(values, 10000);
}

// A dataset whose fields always format their values: the reference for the texts made
// straight from the stored form.
class ValueTextDataSet : public TTolvernDataSet {
 protected:
  bool GetFieldStored(const TField&, const TRecordBuffer&, TStoredValue&) const override {
    return false;
  }
};

// Digits a double cannot carry (more than 15 significant): only there may the two differ.
bool WiderThanADouble(const QString& text) {
  int digits = 0;
  bool leading = true;
  for (const QChar c : text) {
    if (!c.isDigit()) continue;
    if (leading && c == QLatin1Char('0')) continue;
    leading = false;
    ++digits;
  }
  return digits > 15;
}

// A field's display text, or the error reading it gave (a damaged memo file).
QString TextOrError(TTolvernDataSet& ds, int field) {
  try {
    return ds.FieldDisplayText(*ds.Field(field));
  } catch (const std::exception& e) {
    return QStringLiteral("error: ") + QString::fromUtf8(e.what());
  }
}

TEST(FieldValues, DisplayTextsFromTheStoredFormEqualTheValuesTexts) {
  REQUIRE_SHARED();
  const QLocale saved;
  int tables = 0;
  int texts = 0;
  // A locale with a decimal comma and day names in its short format exercises the locale
  // parts of both paths.
  for (const QLocale& locale : {QLocale(QLocale::C), QLocale(QLocale::German, QLocale::Germany)}) {
    QLocale::setDefault(locale);
    DefaultLocaleChanged();
    for (const auto& path : test::FixtureFiles(".dbf")) {
      SCOPED_TRACE(path.string());
      TTolvernDataSet stored;
      ValueTextDataSet valued;
      try {
        for (TTolvernDataSet* ds : {static_cast<TTolvernDataSet*>(&stored),
                                    static_cast<TTolvernDataSet*>(&valued)}) {
          ds->SetReadOnly(true);
          ds->SetUseDeleted(true);
          test::OpenTable(*ds, path.string());
        }
      } catch (const std::exception&) {
        continue;  // tables the engine refuses
      }
      ASSERT_EQ(stored.FieldCount(), valued.FieldCount());
      stored.First();
      for (valued.First(); !valued.Eof(); valued.Next(), stored.Next()) {
        ASSERT_FALSE(stored.Eof());
        for (int i = 0; i < valued.FieldCount(); ++i) {
          const QString want = TextOrError(valued, i);
          const QString have = TextOrError(stored, i);
          if (have != want && WiderThanADouble(have)) continue;
          EXPECT_EQ(have, want) << valued.Field(i)->FieldName().toStdString() << " record "
                                << valued.RecNo();
          ++texts;
        }
      }
      EXPECT_TRUE(stored.Eof());
      ++tables;
    }
  }
  QLocale::setDefault(saved);
  DefaultLocaleChanged();
  EXPECT_GT(tables, 200);
  EXPECT_GT(texts, 20000);
}

}  // namespace
}  // namespace fendral
