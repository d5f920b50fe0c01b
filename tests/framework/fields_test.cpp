// Field classes: typed access, text in the user's locale, and refusal of text that is not a
// value of the field's type (with a message naming the field, and nothing written).
#include <gtest/gtest.h>

#include <QLocale>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "vector_dataset.h"

namespace fendral::test {
namespace {

// Sets the default locale for one test and restores it afterwards.
class LocaleScope {
 public:
  explicit LocaleScope(const QLocale& locale) : saved_(QLocale()) {
    QLocale::setDefault(locale);
    DefaultLocaleChanged();
  }
  ~LocaleScope() {
    QLocale::setDefault(saved_);
    DefaultLocaleChanged();
  }

 private:
  QLocale saved_;
};

// A dataset holding one record with every type, in edit state.
class FieldsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.AddRow({7, QString("Ann"), 2.5, QDate(2024, 2, 29), true, QVariant()});
    ds.Open();
    ds.Edit();
  }
  TField& F(const char* name) { return *ds.FieldByName(name); }
  // Expects `text` to be refused for `field` with `message`, leaving the value unchanged.
  void ExpectRefused(const char* field, const QString& text, const std::string& message) {
    const QVariant before = F(field).Value();
    try {
      F(field).SetAsString(text);
      ADD_FAILURE() << "accepted '" << text.toStdString() << "' for " << field;
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.what(), message);
    }
    EXPECT_EQ(F(field).Value(), before);
  }

  LocaleScope locale{QLocale(QLocale::English, QLocale::UnitedStates)};
  VectorDataSet ds;
};

TEST_F(FieldsTest, DefaultFieldsFollowTheDefinitions) {
  ASSERT_EQ(ds.FieldCount(), 6);
  EXPECT_NE(dynamic_cast<TIntegerField*>(&F("ID")), nullptr);
  EXPECT_NE(dynamic_cast<TStringField*>(&F("NAME")), nullptr);
  EXPECT_NE(dynamic_cast<TFloatField*>(&F("PRICE")), nullptr);
  EXPECT_NE(dynamic_cast<TDateField*>(&F("BORN")), nullptr);
  EXPECT_NE(dynamic_cast<TBooleanField*>(&F("OK")), nullptr);
  EXPECT_NE(dynamic_cast<TMemoField*>(&F("NOTE")), nullptr);
  EXPECT_EQ(F("NAME").Size(), 10);
  EXPECT_EQ(F("PRICE").FieldNo(), 3);
  EXPECT_EQ(F("PRICE").Index(), 2);
  EXPECT_EQ(F("ID").Alignment(), Qt::AlignRight);
  EXPECT_EQ(F("NAME").Alignment(), Qt::AlignLeft);
  EXPECT_EQ(ds.FindField("name"), &F("NAME"));
  EXPECT_EQ(ds.FindField("missing"), nullptr);
  try {
    ds.FieldByName("missing");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'missing' not found");
  }
}

TEST_F(FieldsTest, TypedAccessorsConvertBetweenTypes) {
  EXPECT_EQ(F("ID").AsInteger(), 7);
  EXPECT_DOUBLE_EQ(F("ID").AsFloat(), 7.0);
  EXPECT_EQ(F("ID").AsString(), "7");
  EXPECT_EQ(F("PRICE").AsInteger(), 3);  // rounded
  EXPECT_TRUE(F("OK").AsBoolean());
  EXPECT_EQ(F("BORN").AsDateTime(), QDate(2024, 2, 29).startOfDay());
  F("PRICE").SetAsInteger(4);
  EXPECT_DOUBLE_EQ(F("PRICE").AsFloat(), 4.0);
  F("NAME").SetValue(12);
  EXPECT_EQ(F("NAME").AsString(), "12");
  F("ID").SetValue(QString("-15"));
  EXPECT_EQ(F("ID").AsInteger(), -15);
  F("BORN").SetAsDateTime(QDateTime(QDate(2000, 1, 2), QTime(13, 0)));
  EXPECT_EQ(F("BORN").Value().toDate(), QDate(2000, 1, 2));
  EXPECT_THROW(F("ID").SetValue(2.5), EDatabaseError);  // not a whole number
  F("NAME").SetAsString("abc");
  EXPECT_THROW(F("NAME").AsInteger(), EDatabaseError);
}

TEST_F(FieldsTest, NullsAndClear) {
  F("NAME").Clear();
  EXPECT_TRUE(F("NAME").IsNull());
  EXPECT_EQ(F("NAME").AsString(), "");
  F("ID").SetAsString("   ");
  EXPECT_TRUE(F("ID").IsNull());
  EXPECT_EQ(F("ID").AsInteger(), 0);
  EXPECT_EQ(F("ID").DisplayText(), "");
  F("BORN").SetValue(QDate());
  EXPECT_TRUE(F("BORN").IsNull());
  EXPECT_FALSE(F("BORN").AsDateTime().isValid());
  F("OK").SetValue(QVariant());
  EXPECT_TRUE(F("OK").IsNull());
  EXPECT_FALSE(F("OK").AsBoolean());
}

TEST_F(FieldsTest, EachTypeRefusesTextThatIsNotOneOfItsValues) {
  ExpectRefused("ID", "12a", "'12a' is not a valid integer value for field 'ID'");
  ExpectRefused("ID", "1.5", "'1.5' is not a valid integer value for field 'ID'");
  ExpectRefused("ID", "99999999999",
                "99999999999 is not a valid value for field 'ID'. The allowed range is "
                "-2147483648 to 2147483647");
  ExpectRefused("PRICE", "2,5", "'2,5' is not a valid floating point value for field 'PRICE'");
  ExpectRefused("PRICE", "abc", "'abc' is not a valid floating point value for field 'PRICE'");
  ExpectRefused("PRICE", "inf", "'inf' is not a valid floating point value for field 'PRICE'");
  ExpectRefused("OK", "maybe", "'maybe' is not a valid boolean value for field 'OK'");
  ExpectRefused("BORN", "02/30/2024", "'02/30/2024' is not a valid date for field 'BORN'");
  ExpectRefused("BORN", "yesterday", "'yesterday' is not a valid date for field 'BORN'");
  ExpectRefused("NAME", "eleven chars",
                "'eleven chars' is too long for field 'NAME' (at most 10 characters)");
  F("NAME").SetDisplayLabel("Customer");
  ExpectRefused("NAME", "much too long",
                "'much too long' is too long for field 'Customer' (at "
                "most 10 characters)");
}

TEST_F(FieldsTest, IntegerRangesFollowTheType) {
  TSmallintField small("S");
  TWordField word("W");
  ds.Cancel();
  ds.Close();
  ds.ClearFields();
  // Persistent fields chosen by the program replace the default ones.
  auto& id = static_cast<TIntegerField&>(ds.AddField(std::make_unique<TSmallintField>("ID")));
  auto& price = ds.AddField(std::make_unique<TWordField>("PRICE"));
  ds.Open();
  EXPECT_EQ(ds.FieldCount(), 2);
  ds.Edit();
  id.SetAsString("-32768");
  EXPECT_EQ(id.AsInteger(), -32768);
  try {
    id.SetAsString("32768");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(),
                 "32768 is not a valid value for field 'ID'. The allowed range is -32768 to 32767");
  }
  EXPECT_THROW(price.SetAsString("-1"), EDatabaseError);
  EXPECT_THROW(price.SetAsInteger(65536), EDatabaseError);
  price.SetAsInteger(65535);
  EXPECT_EQ(price.AsInteger(), 65535);
  id.SetRange(1, 10);
  EXPECT_THROW(id.SetAsInteger(11), EDatabaseError);
  EXPECT_EQ(small.MinValue(), -32768);
  EXPECT_EQ(word.MaxValue(), 65535);
}

TEST_F(FieldsTest, BooleanTextAcceptsItsDisplayValuesAndCommonWords) {
  TField& ok = F("OK");
  EXPECT_EQ(ok.DisplayText(), "True");
  for (const char* text : {"false", "F", "no", "n", "0", "FALSE"}) {
    ok.SetAsBoolean(true);
    ok.SetAsString(text);
    EXPECT_FALSE(ok.AsBoolean()) << text;
  }
  for (const char* text : {"true", "t", "Yes", "y", "1"}) {
    ok.SetAsBoolean(false);
    ok.SetAsString(text);
    EXPECT_TRUE(ok.AsBoolean()) << text;
  }
  static_cast<TBooleanField&>(ok).SetDisplayValues("Ja;Nein");
  EXPECT_EQ(ok.DisplayText(), "Ja");
  ok.SetAsString("nein");
  EXPECT_EQ(ok.DisplayText(), "Nein");
  EXPECT_THROW(static_cast<TBooleanField&>(ok).SetDisplayValues("only one"), EDatabaseError);
}

TEST(FieldLocale, NumbersAndDatesUseTheUsersLocale) {
  LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
  VectorDataSet ds;
  ds.AddRow({1234567, QString("x"), 1234.5, QDate(2024, 3, 1), false, QVariant()});
  ds.Open();
  TField& price = *ds.FieldByName("PRICE");
  EXPECT_EQ(price.DisplayText(), "1234,5");  // no group separators
  EXPECT_EQ(ds.FieldByName("ID")->DisplayText(), "1234567");
  EXPECT_EQ(ds.FieldByName("BORN")->DisplayText(), "01.03.2024");  // four-digit year
  ds.Edit();
  price.SetAsString("2,25");
  EXPECT_DOUBLE_EQ(price.AsFloat(), 2.25);
  // "1.500" is a group-separated number in German: refused rather than guessed.
  EXPECT_THROW(price.SetAsString("1.500"), EDatabaseError);
  EXPECT_DOUBLE_EQ(price.AsFloat(), 2.25);
  ds.FieldByName("BORN")->SetAsString("24.12.1999");
  EXPECT_EQ(ds.FieldByName("BORN")->Value().toDate(), QDate(1999, 12, 24));
  ds.FieldByName("BORN")->SetAsString("2001-02-03");  // ISO is always understood
  EXPECT_EQ(ds.FieldByName("BORN")->Value().toDate(), QDate(2001, 2, 3));
  static_cast<TFloatField&>(price).SetDecimals(3);
  EXPECT_EQ(price.DisplayText(), "2,250");
  EXPECT_EQ(price.EditText(), "2,25");
}

TEST_F(FieldsTest, DatesTypedWithTwoDigitYearsLandNearToday) {
  F("BORN").SetAsString("3/4/24");
  EXPECT_EQ(F("BORN").Value().toDate(), QDate(2024, 3, 4));
  F("BORN").SetAsString("3/4/87");
  EXPECT_EQ(F("BORN").Value().toDate(), QDate(1987, 3, 4));
  EXPECT_EQ(F("BORN").DisplayText(), "3/4/1987");
  static_cast<TDateField&>(F("BORN")).SetDisplayFormat("yyyy.MM.dd");
  EXPECT_EQ(F("BORN").DisplayText(), "1987.03.04");
  F("BORN").SetAsString("1990.12.31");
  EXPECT_EQ(F("BORN").Value().toDate(), QDate(1990, 12, 31));
}

TEST(FieldDateTime, TextRoundTripsAndRefusesBadTimes) {
  LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
  VectorDataSet ds;
  ds.Close();
  ds.AddField(std::make_unique<TDateTimeField>("STAMP")).SetFieldKind(fkCalculated);
  ds.AddRow(VectorDataSet::Values(1, "a"));
  ds.Open();
  ds.Edit();
  TField& stamp = *ds.FieldByName("STAMP");
  stamp.SetAsString("12/31/2023 23:59:58");
  EXPECT_EQ(stamp.AsDateTime(), QDateTime(QDate(2023, 12, 31), QTime(23, 59, 58)));
  EXPECT_EQ(stamp.DisplayText(), "12/31/2023 23:59:58");
  stamp.SetAsString(stamp.EditText());
  EXPECT_EQ(stamp.AsDateTime(), QDateTime(QDate(2023, 12, 31), QTime(23, 59, 58)));
  // A date alone is its midnight, also in a format with blanks.
  static_cast<TDateTimeField&>(stamp).SetDisplayFormat("dd MM yyyy");
  stamp.SetAsString("08 07 2020");
  EXPECT_EQ(stamp.AsDateTime(), QDateTime(QDate(2020, 7, 8), QTime(0, 0)));
  stamp.SetAsString("09 07 2020 10:11");
  EXPECT_EQ(stamp.AsDateTime(), QDateTime(QDate(2020, 7, 9), QTime(10, 11)));
  static_cast<TDateTimeField&>(stamp).SetDisplayFormat(QString());
  stamp.SetAsString("2023-01-02T03:04:05.006");
  EXPECT_EQ(stamp.AsDateTime().time().msec(), 6);
  EXPECT_EQ(stamp.DisplayText(), "1/2/2023 03:04:05.006");
  try {
    stamp.SetAsString("1/2/2023 25:00");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "'1/2/2023 25:00' is not a valid date and time for field 'STAMP'");
  }
}

TEST_F(FieldsTest, ValidateAndChangeEvents) {
  int changes = 0;
  F("ID").OnChange = [&](TField&) { ++changes; };
  F("ID").OnValidate = [](TField& f) {
    if (f.AsInteger() < 0) DatabaseError("ID must not be negative");
  };
  F("ID").SetAsInteger(5);
  EXPECT_EQ(changes, 1);
  EXPECT_THROW(F("ID").SetAsInteger(-1), EDatabaseError);
  EXPECT_EQ(F("ID").AsInteger(), 5);  // the refused value is not kept
  EXPECT_EQ(changes, 1);
}

TEST(FieldDefs, TextDefinitionsAndDuplicates) {
  TFieldDefs defs;
  const TFieldDef& name = defs.AddFromText("Name;1;10;0");
  EXPECT_EQ(name.DataType, ftString);
  EXPECT_EQ(name.Size, 10);
  EXPECT_EQ(name.FieldNo, 1);
  EXPECT_EQ(defs.AddFromText("Field;4;0;0").DataType, ftWord);
  EXPECT_TRUE(defs.AddFromText("Must;3;0;1").Required);
  EXPECT_THROW(defs.AddFromText("NAME;1;5;0"), EDatabaseError);  // names ignore case
  EXPECT_THROW(defs.AddFromText("Bad;99;0;0"), EDatabaseError);
  EXPECT_THROW(defs.AddFromText("Bad;1"), EDatabaseError);
  EXPECT_THROW(defs.AddFromText(";1;1;0"), EDatabaseError);
  EXPECT_THROW(defs.AddFromText("Bad;1;x;0"), EDatabaseError);
  EXPECT_EQ(defs.Count(), 3);
  EXPECT_EQ(defs.IndexOf("must"), 2);
}

}  // namespace
// Dates are shown exactly as Qt's own formatting shows them, for the locale's short format
// and for display formats with names, quotes and two-digit years, in several locales, and
// the text follows a change of the default locale.
TEST(FieldLocale, DateTextsAreQtsOwnForEveryPatternAndLocale) {
  VectorDataSet ds;
  ds.AddRow({1, QString("x"), 1.0, QDate(2024, 3, 1), false, QVariant()});
  ds.Open();
  ds.Edit();
  auto& born = static_cast<TDateField&>(*ds.FieldByName("BORN"));
  const QList<QLocale> locales{QLocale(QLocale::English, QLocale::UnitedStates),
                               QLocale(QLocale::German, QLocale::Germany),
                               QLocale(QLocale::French, QLocale::France),
                               QLocale(QLocale::Russian, QLocale::Russia)};
  const QStringList formats{QString(), "dd.MM.yyyy", "d MMM yyyy", "dddd, d MMMM yyyy",
                            "'Day' d 'of' M, ''yy", "yyyyMMdd", "ddd MMM d yy"};
  const QList<QDate> dates{QDate(2024, 2, 29), QDate(1999, 12, 31), QDate(2001, 1, 1),
                           QDate(987, 7, 4), QDate(1900, 11, 9)};
  for (const QLocale& locale : locales) {
    LocaleScope scope(locale);
    for (const QString& format : formats) {
      born.SetDisplayFormat(format);
      const QString pattern =
          !format.isEmpty() ? format : QLocale().dateFormat(QLocale::ShortFormat);
      for (const QDate& date : dates) {
        born.SetValue(date);
        QString expected = QLocale().toString(date, pattern);
        if (format.isEmpty() && !pattern.contains(QLatin1String("yyyy")))
          expected = QLocale().toString(date, QString(pattern).replace("yy", "yyyy"));
        EXPECT_EQ(born.DisplayText(), expected)
            << locale.name().toStdString() << " '" << pattern.toStdString() << "'";
      }
    }
  }
}

// Float texts are Qt's own fixed-point texts (no group separators) in every locale, with
// fixed decimals and shortest, for values that round, tiny and huge values and negatives.
TEST(FieldLocale, FloatTextsAreQtsOwnInEveryLocale) {
  VectorDataSet ds;
  ds.AddRow({1, QString("x"), 1.0, QDate(2024, 3, 1), false, QVariant()});
  ds.Open();
  ds.Edit();
  auto& price = static_cast<TFloatField&>(*ds.FieldByName("PRICE"));
  const QList<QLocale> locales{QLocale(QLocale::English, QLocale::UnitedStates),
                               QLocale(QLocale::German, QLocale::Germany),
                               QLocale(QLocale::French, QLocale::France),
                               QLocale(QLocale::Russian, QLocale::Russia),
                               QLocale(QLocale::Arabic, QLocale::Egypt)};
  const std::vector<double> values{0.0,   1.005,  -2.5,     0.5,  9.995, 99.5, 1234.5678,
                                   1e-7,  0.3,    -0.4,     0.125, 2.675, 5e-324, -1e20,
                                   0.1 + 0.2, 999999.99999, 123456789012.345};
  for (const QLocale& locale : locales) {
    LocaleScope scope(locale);
    QLocale numbers;
    numbers.setNumberOptions(QLocale::OmitGroupSeparator);
    for (int decimals : {-1, 0, 2, 4}) {
      price.SetDecimals(decimals);
      for (double value : values) {
        price.SetAsFloat(value);
        QString expected;
        if (decimals >= 0) {
          expected = numbers.toString(value, 'f', decimals);
        } else {
          char buffer[64];
          std::snprintf(buffer, sizeof buffer, "%.*g", price.Precision(), value);
          expected =
              numbers.toString(std::strtod(buffer, nullptr), 'f', QLocale::FloatingPointShortest);
        }
        EXPECT_EQ(price.DisplayText(), expected)
            << locale.name().toStdString() << " " << value << " decimals " << decimals;
      }
    }
  }
}

}  // namespace fendral::test

namespace fendral::test {
namespace {

// A dataset that also hands its fields a stored form of chosen values (by field number).
class StoredFormDataSet : public VectorDataSet {
 public:
  std::map<int, std::string> digits;
  std::map<int, QString> texts;

 protected:
  bool GetFieldStored(const TField& field, const TRecordBuffer&,
                      TStoredValue& stored) const override {
    if (const auto d = digits.find(field.FieldNo()); d != digits.end()) {
      stored.digits = d->second;
      return true;
    }
    if (const auto t = texts.find(field.FieldNo()); t != texts.end()) {
      stored.text = t->second;
      return true;
    }
    return false;
  }
};

TEST(FieldStoredForm, CanonicalDigitsAreShownAsStoredAndAnythingElseGoesThroughTheValue) {
  LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
  StoredFormDataSet ds;
  ds.AddRow({12, QString("name"), 1.5, QDate(2024, 2, 29), true, QVariant()});
  ds.Open();
  auto& price = static_cast<TFloatField&>(*ds.FieldByName("PRICE"));
  auto& born = static_cast<TDateField&>(*ds.FieldByName("BORN"));
  price.SetDecimals(2);
  born.SetDisplayFormat(QStringLiteral("dddd, dd.MM.yy"));
  const auto shown = [&ds](const char* field, const std::string& stored) {
    ds.digits[ds.FieldByName(field)->FieldNo()] = stored;
    const QString text = ds.FieldByName(field)->DisplayText();
    ds.digits.clear();
    return text;
  };
  // Digits a double cannot carry are kept.
  EXPECT_EQ(shown("PRICE", "-12345678901234567890.12"), "-12345678901234567890,12");
  EXPECT_EQ(shown("PRICE", "0.05"), "0,05");
  // Not in the form fixed decimals write: the value (1.5) is formatted instead.
  for (const char* odd : {"1.5", "1.500", "01.50", ".50", "+1.50", "-0.00", "1e2", "1,50", "1.5x"})
    EXPECT_EQ(shown("PRICE", odd), "1,50") << odd;
  price.SetDecimals(-1);
  EXPECT_EQ(shown("PRICE", "7.00"), "1,5");  // no fixed decimals: always the value
  EXPECT_EQ(shown("ID", "-42"), "-42");
  for (const char* odd : {"042", "4.2", "-0", "1234567890123456789"})
    EXPECT_EQ(shown("ID", odd), "12") << odd;
  EXPECT_EQ(shown("BORN", "20240301"), "Freitag, 01.03.24");
  for (const char* odd : {"20230229", "2024031", "2024-3-1", "00000000"})
    EXPECT_EQ(shown("BORN", odd), "Donnerstag, 29.02.24") << odd;
  EXPECT_EQ(shown("OK", "F"), "False");
  EXPECT_EQ(shown("OK", "?"), "True");
  ds.texts[ds.FieldByName("NAME")->FieldNo()] = QStringLiteral("stored");
  EXPECT_EQ(ds.FieldByName("NAME")->DisplayText(), "stored");
  EXPECT_EQ(ds.FieldByName("NAME")->Value().toString(), "name");  // values never use it
}

}  // namespace
}  // namespace fendral::test
