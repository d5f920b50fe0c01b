#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "kx6_Date.h"
#include "kx6_eror.h"
#include "platform/pf_misc.h"

namespace tolvern {
namespace {

std::string Bytes(const TkxVariant& v) {
  return std::string(reinterpret_cast<const char*>(v.Data()), v.Length());
}

TkxVariant Text(const char* text) {
  TkxVariant v;
  v.SetText(text);
  return v;
}

TkxVariant Raw(const std::vector<uint8_t>& bytes) {
  TkxVariant v;
  v.SetBytes(bytes.data(), static_cast<int32_t>(bytes.size()));
  return v;
}

TkxVariant Float(double value) {
  TkxVariant v;
  v.SetFloat(value);
  return v;
}

TkxVariant Date(int32_t day) {
  TkxVariant v;
  v.SetDate(day);
  return v;
}

TkxVariant Logical(bool value) {
  TkxVariant v;
  v.SetBoolean(value);
  return v;
}

// ------------------------------------------------------------------------------------
// Storage

TEST(VariantStorage, SettersSetTypeAndLength) {
  TkxVariant v(16);
  EXPECT_EQ(v.VariantType(), TkxVariant::kNone);
  EXPECT_EQ(v.Capacity(), 16);
  EXPECT_EQ(v.Length(), 0);
  v.SetText("hello");
  EXPECT_EQ(v.VariantType(), TkxVariant::kText);
  EXPECT_EQ(Bytes(v), "hello");
  v.SetText("abcdef", 3);
  EXPECT_EQ(Bytes(v), "abc");
  v.SetFloat(2.5);
  EXPECT_EQ(v.VariantType(), TkxVariant::kFloat);
  EXPECT_EQ(v.Length(), 8);
  v.SetDate(42);
  EXPECT_EQ(v.VariantType(), TkxVariant::kDate);
  EXPECT_EQ(v.Length(), 4);
  v.SetBoolean(true);
  EXPECT_EQ(v.VariantType(), TkxVariant::kBoolean);
  EXPECT_EQ(v.Length(), 1);
  v.SetBytes("\0\1\2", 3);
  EXPECT_EQ(v.VariantType(), TkxVariant::kBytes);
  EXPECT_EQ(Bytes(v), std::string("\0\1\2", 3));
  v.SetText(static_cast<const char*>(nullptr));
  EXPECT_EQ(v.VariantType(), TkxVariant::kText);
  EXPECT_EQ(v.Length(), 0);
}

TEST(VariantStorage, GrowsExactlyAndNeverShrinks) {
  TkxVariant v;
  v.SetText("abcdef");
  EXPECT_EQ(v.Capacity(), 6);
  const uint8_t* storage = v.Data();
  v.SetText("ab");
  EXPECT_EQ(v.Capacity(), 6);
  EXPECT_EQ(v.Data(), storage);  // reused, not reallocated
  v.SetDate(1);
  EXPECT_EQ(v.Data(), storage);
  v.SetFloat(1.0);  // 8 bytes do not fit in 6
  EXPECT_EQ(v.Capacity(), 8);
  v.SetText("0123456789");
  EXPECT_EQ(v.Capacity(), 10);
  EXPECT_EQ(Bytes(v), "0123456789");
  v.Clear();
  EXPECT_EQ(v.Capacity(), 0);
  EXPECT_EQ(v.Data(), nullptr);
  EXPECT_EQ(v.VariantType(), TkxVariant::kNone);
}

TEST(VariantStorage, SetLengthKeepsBytesAndResetsTypeOnlyWhenGrowing) {
  TkxVariant v;
  v.SetText("abc");
  v.SetLength(2);
  EXPECT_EQ(v.VariantType(), TkxVariant::kText);
  EXPECT_EQ(Bytes(v), "ab");
  v.SetLength(5);
  EXPECT_EQ(v.VariantType(), TkxVariant::kNone);
  EXPECT_EQ(Bytes(v).substr(0, 2), "ab");
  v.SetLength(-3);
  EXPECT_EQ(v.Length(), 0);
}

TEST(VariantStorage, AssignCopiesAndRefusesNone) {
  TkxVariant source(20);
  source.SetText("key");
  TkxVariant copy;
  EXPECT_TRUE(copy.Assign(source));
  EXPECT_EQ(copy.Capacity(), 20);
  EXPECT_EQ(copy.VariantType(), TkxVariant::kText);
  EXPECT_EQ(Bytes(copy), "key");
  copy.Data()[0] = 'K';
  EXPECT_EQ(Bytes(source), "key");  // separate storage

  TkxVariant none(8);
  EXPECT_FALSE(copy.Assign(none));
  EXPECT_EQ(copy.VariantType(), TkxVariant::kNone);
  EXPECT_EQ(copy.Capacity(), 0);
  EXPECT_TRUE(source.Assign(source));
  EXPECT_EQ(Bytes(source), "key");

  TkxVariant constructed(source);
  EXPECT_EQ(Bytes(constructed), "key");
  TkxVariant moved(std::move(constructed));
  EXPECT_EQ(Bytes(moved), "key");
}

TEST(VariantStorage, AppendBytesMakesRaw) {
  TkxVariant v = Text("AB");
  const uint8_t more[] = {0, 1, 2};
  v.AppendBytes(more, 3);
  EXPECT_EQ(v.VariantType(), TkxVariant::kBytes);
  EXPECT_EQ(Bytes(v), std::string("AB\0\1\2", 5));
  v.AppendBytes(nullptr, 3);
  v.AppendBytes(more, 0);
  EXPECT_EQ(v.Length(), 5);
  // Bytes of the value itself survive the storage growing under them.
  v.SetText("xyz");
  v.AppendBytes(v.Data(), v.Length());
  EXPECT_EQ(Bytes(v), "xyzxyz");
  v.SetText(reinterpret_cast<const char*>(v.Data()) + 2, 3);
  EXPECT_EQ(Bytes(v), "zxy");
  TkxVariant empty;
  empty.AppendBytes(more, 2);
  EXPECT_EQ(empty.VariantType(), TkxVariant::kBytes);
  EXPECT_EQ(empty.Length(), 2);
}

// ------------------------------------------------------------------------------------
// Text operations

TEST(VariantText, TranslateThroughTableOrSystemUpperCase) {
  std::array<uint8_t, 256> shift{};
  for (int i = 0; i < 256; ++i) shift[i] = static_cast<uint8_t>(i + 1);
  TkxVariant v = Text("abz");
  v.TranslateText(shift.data());
  EXPECT_EQ(Bytes(v), "bc{");
  v = Text("mixed Case 1");
  v.TranslateText(nullptr);
  EXPECT_EQ(Bytes(v), "MIXED CASE 1");

  TkxVariant raw = Raw({'a', 'b'});
  raw.TranslateText(nullptr);
  EXPECT_EQ(Bytes(raw), "ab");
  TkxVariant empty = Text("");
  empty.TranslateText(shift.data());
  EXPECT_EQ(empty.Length(), 0);
}

TEST(VariantText, PadAndTrim) {
  TkxVariant v = Text("ABCDE");
  v.PadText(3);
  EXPECT_EQ(Bytes(v), "ABCDE");
  v = Text("AB");
  v.PadText(5);
  EXPECT_EQ(v.VariantType(), TkxVariant::kText);
  EXPECT_EQ(Bytes(v), "AB   ");
  v.TrimText();
  EXPECT_EQ(Bytes(v), "AB");
  v = Text("   ");
  v.TrimText();
  EXPECT_EQ(v.Length(), 0);
  v = Text(" A B ");
  v.TrimText();
  EXPECT_EQ(Bytes(v), " A B");

  TkxVariant raw = Raw({'x', ' '});
  raw.PadText(6);
  raw.TrimText();
  EXPECT_EQ(Bytes(raw), "x ");
}

// ------------------------------------------------------------------------------------
// Conversions

TEST(VariantConversion, AsBoolean) {
  for (const char* t : {"T", "t", "Y", "y", "J", "j", "Tx"}) EXPECT_TRUE(Text(t).AsBoolean()) << t;
  for (const char* t : {"F", "N", "x", " T", "1"}) EXPECT_FALSE(Text(t).AsBoolean()) << t;
  EXPECT_FALSE(Float(0.9).AsBoolean());
  EXPECT_FALSE(Float(-0.9).AsBoolean());
  EXPECT_TRUE(Float(-1.2).AsBoolean());
  EXPECT_FALSE(Float(NAN).AsBoolean());
  EXPECT_TRUE(Logical(true).AsBoolean());
  EXPECT_FALSE(Logical(false).AsBoolean());
  EXPECT_TRUE(Raw({1, 0}).AsBoolean());
  EXPECT_FALSE(Raw({0, 1}).AsBoolean());
  EXPECT_FALSE(Date(2444240).AsBoolean());
  EXPECT_FALSE(Text("").AsBoolean());
  EXPECT_FALSE(TkxVariant().AsBoolean());
}

TEST(VariantConversion, AsDate) {
  EXPECT_EQ(Text("19800101").AsDate(), 2444240);
  EXPECT_EQ(Text("        ").AsDate(), 0);
  EXPECT_EQ(Float(2444240.9).AsDate(), 2444240);
  EXPECT_EQ(Float(0.0).AsDate(), 0);
  EXPECT_EQ(Float(-5.0).AsDate(), 0);
  EXPECT_EQ(Float(1.0e100).AsDate(), 0);  // the expression engine's empty date
  EXPECT_EQ(Float(NAN).AsDate(), 0);
  EXPECT_EQ(Float(1000.0).AsDate(), 0);  // before year 1: no date
  EXPECT_EQ(Date(-12).AsDate(), -12);
  int32_t day = 2451604;
  TkxVariant raw;
  raw.SetBytes(&day, 4);
  EXPECT_EQ(raw.AsDate(), 2451604);
  EXPECT_EQ(Raw({0x10}).AsDate(), 0x10);  // shorter than 4 bytes: the rest reads as 0
  EXPECT_EQ(Logical(true).AsDate(), 0);
  EXPECT_EQ(TkxVariant().AsDate(), 0);
  EXPECT_THROW(Text("not a date").AsDate(), EConvertError);
}

TEST(VariantConversion, AsFloatParsesDecimalText) {
  EXPECT_DOUBLE_EQ(Text("1.5").AsFloat(), 1.5);
  EXPECT_DOUBLE_EQ(Text("  -2.5e3 ").AsFloat(), -2500.0);
  EXPECT_DOUBLE_EQ(Text("+3").AsFloat(), 3.0);
  EXPECT_DOUBLE_EQ(Text(".5").AsFloat(), 0.5);
  EXPECT_DOUBLE_EQ(Text("7.").AsFloat(), 7.0);
  EXPECT_DOUBLE_EQ(Text("1E-2").AsFloat(), 0.01);
  EXPECT_EQ(Text("1e-400").AsFloat(), 0.0);  // underflow is a tiny number, not an error
  EXPECT_EQ(Text("").AsFloat(), 0.0);
}

TEST(VariantConversion, AsFloatRejectsWhatIsNoNumber) {
  for (const char* t : {"1,5", "abc", "   ", "1e", "1e+", "-", ".", "1.2.3", "inf", "nan", "0x10",
                        "1e999", "1 2", "--1"}) {
    try {
      Text(t).AsFloat();
      ADD_FAILURE() << "no error for '" << t << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()),
                "'" + std::string(t) + "' is not a valid floating point value");
    }
  }
}

TEST(VariantConversion, AsFloatOfOtherTypes) {
  EXPECT_EQ(Float(-0.25).AsFloat(), -0.25);
  double value = 12.75;
  TkxVariant raw;
  raw.SetBytes(&value, 8);
  EXPECT_EQ(raw.AsFloat(), 12.75);
  EXPECT_EQ(Raw({1, 2, 3}).AsFloat(), Raw({1, 2, 3, 0, 0, 0, 0, 0}).AsFloat());
  EXPECT_EQ(Date(2444240).AsFloat(), 2444240.0);
  EXPECT_EQ(Logical(true).AsFloat(), 1.0);
  EXPECT_EQ(Logical(false).AsFloat(), 0.0);
  EXPECT_EQ(TkxVariant().AsFloat(), 0.0);
}

TEST(VariantConversion, AsTextOfFloatsIsGeneralWithFifteenDigits) {
  EXPECT_EQ(Float(1.5).AsText(), "1.5");
  EXPECT_EQ(Float(100).AsText(), "100");
  EXPECT_EQ(Float(-42).AsText(), "-42");
  EXPECT_EQ(Float(0.1 + 0.2).AsText(), "0.3");
  EXPECT_EQ(Float(2.0 / 3.0).AsText(), "0.666666666666667");
  EXPECT_EQ(Float(1e20).AsText(), "1E+20");
  EXPECT_EQ(Float(123456789012345678.0).AsText(), "1.23456789012346E+17");
  EXPECT_EQ(Float(0.0001).AsText(), "0.0001");
  EXPECT_EQ(Float(1.5e-7).AsText(), "1.5E-07");
  EXPECT_EQ(Float(-0.0).AsText(), "0");
}

TEST(VariantConversion, AsTextOfOtherTypes) {
  const std::string saved = platform::ShortDateFormat();
  platform::SetShortDateFormat("DD.MM.YY");
  EXPECT_EQ(Date(2444240).AsText(), "01.01.1980");
  EXPECT_EQ(Date(0).AsText(), "");
  platform::SetShortDateFormat(saved);
  EXPECT_EQ(Logical(true).AsText(), "T");
  EXPECT_EQ(Logical(false).AsText(), "F");
  EXPECT_EQ(Text("abc ").AsText(), "abc ");
  EXPECT_EQ(Raw({'a', 0, 'b'}).AsText(), std::string("a\0b", 3));
  EXPECT_EQ(TkxVariant().AsText(), "");
}

// ------------------------------------------------------------------------------------
// Compare

int Compare(const TkxVariant& a, const TkxVariant& b, int32_t& position,
            const uint8_t* table = nullptr, int prefixResult = -1) {
  return a.CompareVariants(b, position, table, prefixResult);
}

TEST(VariantCompare, TextPrefixAnswersPrefixResult) {
  int32_t position = -1;
  for (int prefix : {-1, 0, 1}) {
    EXPECT_EQ(Compare(Text("AB"), Text("ABC"), position, nullptr, prefix), prefix);
    EXPECT_EQ(position, 3);
  }
  EXPECT_EQ(Compare(Text("AB"), Text("ABC"), position, nullptr, 7), 1);  // reduced
  EXPECT_EQ(Compare(Text("ABC"), Text("AB"), position, nullptr, 0), 1);
  EXPECT_EQ(position, 3);
  EXPECT_EQ(Compare(Text("ABC"), Text("ABC"), position), 0);
  EXPECT_EQ(position, 4);
  EXPECT_EQ(Compare(Text("ABC"), Text("AXC"), position), -1);
  EXPECT_EQ(position, 2);
  // Raw values have no prefix rule: the shorter one is less.
  EXPECT_EQ(Compare(Raw({1, 2}), Raw({1, 2, 3}), position, nullptr, 0), -1);
  EXPECT_EQ(position, 3);
}

TEST(VariantCompare, BytesAreUnsignedAndTableAppliesToTextOnly) {
  int32_t position;
  EXPECT_EQ(Compare(Text("\x80"), Text("\x7f"), position), 1);
  std::array<uint8_t, 256> fold{};
  for (int i = 0; i < 256; ++i) fold[i] = static_cast<uint8_t>(i >= 'a' && i <= 'z' ? i - 32 : i);
  EXPECT_EQ(Compare(Text("abc"), Text("ABC"), position, fold.data()), 0);
  EXPECT_EQ(Compare(Text("abc"), Text("ABD"), position, fold.data()), -1);
  EXPECT_EQ(Compare(Raw({'a'}), Raw({'A'}), position, fold.data()), 1);
  // Raw compared with text takes the text type, table and prefix rule included.
  EXPECT_EQ(Compare(Raw({'a', 'b'}), Text("ABC"), position, fold.data(), 0), 0);
}

TEST(VariantCompare, TypeMismatchRaisesEngineError) {
  int32_t position;
  try {
    Compare(Text("1"), Float(1), position);
    ADD_FAILURE() << "no error";
  } catch (const ETolvernError& e) {
    EXPECT_STREQ(e.what(), "Variant types mismatch for compare");
  }
  // The type check comes before the empty-value rule.
  TkxVariant emptyText = Text("");
  TkxVariant emptyDate = Date(1);
  emptyDate.SetLength(0);
  EXPECT_THROW(Compare(emptyText, emptyDate, position), ETolvernError);
  EXPECT_THROW(Compare(TkxVariant(), Text("a"), position), ETolvernError);
  EXPECT_THROW(Compare(Float(1), Logical(true), position), ETolvernError);
}

TEST(VariantCompare, NoneOtherAndEmptyValues) {
  int32_t position = 9;
  EXPECT_EQ(Compare(Text("a"), TkxVariant(), position), 1);
  EXPECT_EQ(position, 0);
  EXPECT_EQ(Compare(Text(""), Text("a"), position), -1);
  EXPECT_EQ(Compare(Text("a"), Text(""), position), 1);
  EXPECT_EQ(Compare(Text(""), Text(""), position), 0);
  EXPECT_EQ(position, 0);
}

TEST(VariantCompare, RawComparesAsTheOtherType) {
  int32_t position;
  double two = 2.0;
  TkxVariant raw;
  raw.SetBytes(&two, 8);
  EXPECT_EQ(Compare(raw, Float(3.0), position), -1);
  EXPECT_EQ(Compare(raw, Float(2.0), position), 0);
  EXPECT_EQ(Compare(Float(3.0), raw, position), 1);
  int32_t day = 100;
  raw.SetBytes(&day, 4);
  EXPECT_EQ(Compare(raw, Date(-5), position), 1);
  // A raw value too short for the type compares without reading past its bytes.
  EXPECT_EQ(Compare(Raw({1}), Float(1.0), position), -1);
}

TEST(VariantCompare, NumbersDatesAndLogicals) {
  int32_t position;
  EXPECT_EQ(Compare(Float(-1.5), Float(-1.25), position), -1);
  EXPECT_EQ(Compare(Float(1e10), Float(1e10), position), 0);
  EXPECT_EQ(Compare(Date(-5), Date(3), position), -1);
  EXPECT_EQ(Compare(Date(2444240), Date(2444239), position), 1);
  EXPECT_EQ(Compare(Logical(true), Logical(true), position), 0);
  EXPECT_EQ(Compare(Logical(true), Logical(false), position), 1);
  EXPECT_EQ(Compare(Logical(false), Logical(true), position), -1);
}

}  // namespace
}  // namespace tolvern
