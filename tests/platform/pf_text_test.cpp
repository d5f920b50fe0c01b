// 8-bit text services: OEM <-> ANSI tables, ANSI case tables, UTF-8 conversion.
#include "platform/pf_text.h"

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

using namespace tolvern::platform;

std::string Byte(unsigned value) { return std::string(1, static_cast<char>(value)); }

// Every test starts from, and leaves behind, the default pair.
class PlatformText : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SetCodePages("CP866", "CP1251")); }
  void TearDown() override { SetCodePages("CP866", "CP1251"); }
};

// The 66 Cyrillic letters: CP866 (А-п 0x80-0xAF, р-я 0xE0-0xEF, Ё 0xF0, ё 0xF1) and
// CP1251 (А-я 0xC0-0xFF, Ё 0xA8, ё 0xB8).
struct LetterPair {
  unsigned oem;
  unsigned ansi;
};

std::vector<LetterPair> CyrillicLetters() {
  std::vector<LetterPair> pairs;
  for (unsigned i = 0; i < 48; ++i) pairs.push_back({0x80 + i, 0xC0 + i});
  for (unsigned i = 0; i < 16; ++i) pairs.push_back({0xE0 + i, 0xF0 + i});
  pairs.push_back({0xF0, 0xA8});
  pairs.push_back({0xF1, 0xB8});
  return pairs;
}

// ---------------------------------------------------------------------------------------
// OEM <-> ANSI

TEST_F(PlatformText, DefaultPairIsCp866AndCp1251) {
  EXPECT_EQ(OemCodePage(), "CP866");
  EXPECT_EQ(AnsiCodePage(), "CP1251");
}

TEST_F(PlatformText, CyrillicLettersRoundTripBetweenCp866AndCp1251) {
  const auto letters = CyrillicLetters();
  ASSERT_EQ(letters.size(), 66u);
  for (const auto& [oem, ansi] : letters) {
    EXPECT_EQ(OemToAnsi(Byte(oem)), Byte(ansi)) << std::hex << "OEM 0x" << oem;
    EXPECT_EQ(AnsiToOem(Byte(ansi)), Byte(oem)) << std::hex << "ANSI 0x" << ansi;
  }
  // "Привет" in CP866 and CP1251.
  const std::string oem = "\x8F\xE0\xA8\xA2\xA5\xE2";
  const std::string ansi = "\xCF\xF0\xE8\xE2\xE5\xF2";
  EXPECT_EQ(OemToAnsi(oem), ansi);
  EXPECT_EQ(AnsiToOem(ansi), oem);
}

TEST_F(PlatformText, AsciiAndUnmatchedBytesStayUnchanged) {
  std::string ascii;
  for (unsigned c = 0; c < 0x80; ++c) ascii += Byte(c);
  EXPECT_EQ(OemToAnsi(ascii), ascii);
  EXPECT_EQ(AnsiToOem(ascii), ascii);
  // CP866 0xB0 (light shade) has no CP1251 counterpart; CP1251 0x98 is undefined.
  EXPECT_EQ(OemToAnsi(Byte(0xB0)), Byte(0xB0));
  EXPECT_EQ(AnsiToOem(Byte(0x98)), Byte(0x98));
  // Both code pages have the no-break space, at different places.
  EXPECT_EQ(OemToAnsi(Byte(0xFF)), Byte(0xA0));
}

TEST_F(PlatformText, InPlaceConversionTouchesOnlyTheGivenLength) {
  char text[] = "\x80\x80\x80";
  OemToAnsi(text, 2);
  EXPECT_EQ(std::string(text, 3), "\xC0\xC0\x80");
  AnsiToOem(text, 1);
  EXPECT_EQ(std::string(text, 3), "\x80\xC0\x80");
  OemToAnsi(text, 0);
  EXPECT_EQ(std::string(text, 3), "\x80\xC0\x80");
}

TEST_F(PlatformText, SettingAnotherPairRebuildsTheTables) {
  ASSERT_TRUE(SetCodePages("CP437", "CP1252"));
  EXPECT_EQ(OemCodePage(), "CP437");
  EXPECT_EQ(AnsiCodePage(), "CP1252");
  EXPECT_EQ(OemToAnsi(Byte(0x81)), Byte(0xFC));  // ü
  EXPECT_EQ(AnsiToOem(Byte(0xE9)), Byte(0x82));  // é
  EXPECT_EQ(AnsiUpper(Byte(0xFC)), Byte(0xDC));  // ü -> Ü
  EXPECT_EQ(AnsiUpper(Byte(0xFF)), Byte(0x9F));  // ÿ -> Ÿ, outside Latin-1
  EXPECT_EQ(AnsiUpper(Byte(0xE0)), Byte(0xC0));  // à -> À, not а -> А

  ASSERT_TRUE(SetCodePages("CP866", "CP1251"));
  EXPECT_EQ(OemToAnsi(Byte(0x81)), Byte(0xC1));
}

TEST_F(PlatformText, UnknownCodePageKeepsTheOldPair) {
  EXPECT_FALSE(SetCodePages("NO-SUCH-CODEPAGE", "CP1252"));
  EXPECT_FALSE(SetCodePages("CP437", "NO-SUCH-CODEPAGE"));
  EXPECT_FALSE(SetCodePages("", "CP1252"));
  EXPECT_EQ(OemCodePage(), "CP866");
  EXPECT_EQ(AnsiCodePage(), "CP1251");
  EXPECT_EQ(OemToAnsi(Byte(0x80)), Byte(0xC0));
}

// ---------------------------------------------------------------------------------------
// Case tables of the ANSI code page

TEST_F(PlatformText, Cp1251LettersChangeCase) {
  EXPECT_EQ(AnsiUpper(static_cast<unsigned char>(0xE0)), 0xC0);  // а -> А
  EXPECT_EQ(AnsiUpper(static_cast<unsigned char>(0xFF)), 0xDF);  // я -> Я
  EXPECT_EQ(AnsiUpper(static_cast<unsigned char>(0xB8)), 0xA8);  // ё -> Ё
  EXPECT_EQ(AnsiLower(static_cast<unsigned char>(0xC0)), 0xE0);
  EXPECT_EQ(AnsiLower(static_cast<unsigned char>(0xA8)), 0xB8);
  for (unsigned c = 0xC0; c <= 0xDF; ++c) {
    EXPECT_EQ(AnsiLower(static_cast<unsigned char>(c)), c + 0x20);
    EXPECT_EQ(AnsiUpper(static_cast<unsigned char>(c + 0x20)), c);
    EXPECT_EQ(AnsiUpper(static_cast<unsigned char>(c)), c) << "already upper";
  }
}

TEST_F(PlatformText, AsciiLettersAlwaysChangeCase) {
  EXPECT_EQ(AnsiUpper(static_cast<unsigned char>('a')), 'A');
  EXPECT_EQ(AnsiUpper(static_cast<unsigned char>('z')), 'Z');
  EXPECT_EQ(AnsiLower(static_cast<unsigned char>('Q')), 'q');
  for (const unsigned char c : {'0', '9', ' ', '_', '@', '[', '`', '{'}) {
    EXPECT_EQ(AnsiUpper(c), c);
    EXPECT_EQ(AnsiLower(c), c);
  }
  EXPECT_EQ(AnsiUpper(std::string("sales \xEF\xF0\xE8\xF5\xEE\xE4 2024")),
            "SALES \xCF\xD0\xC8\xD5\xCE\xC4 2024");
  EXPECT_EQ(AnsiLower(std::string("SALES \xCF\xD0\xC8\xD5\xCE\xC4")),
            "sales \xEF\xF0\xE8\xF5\xEE\xE4");
}

TEST_F(PlatformText, BytesWithoutCaseStayUnchanged) {
  // Punctuation, the undefined 0x98, the no-break space and the numero sign.
  for (const unsigned c : {0x98u, 0xA0u, 0xB9u, 0x85u, 0xABu}) {
    EXPECT_EQ(AnsiUpper(static_cast<unsigned char>(c)), c);
    EXPECT_EQ(AnsiLower(static_cast<unsigned char>(c)), c);
  }
}

TEST_F(PlatformText, InPlaceCasingTouchesOnlyTheGivenLength) {
  char text[] = "abc";
  AnsiUpperInPlace(text, 2);
  EXPECT_STREQ(text, "ABc");
  AnsiLowerInPlace(text, 1);
  EXPECT_STREQ(text, "aBc");
}

TEST_F(PlatformText, TablesAreSafeToReadFromManyThreads) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (size_t t = 0; t < failures.size(); ++t) {
    threads.emplace_back([&failures, t] {
      for (int i = 0; i < 2000; ++i) {
        if (AnsiUpper(static_cast<unsigned char>(0xE0)) != 0xC0) ++failures[t];
        if (OemToAnsi(Byte(0x80)) != Byte(0xC0)) ++failures[t];
        if (ToUtf8(Byte(0x80), "CP866") != "\xD0\x90") ++failures[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const int f : failures) EXPECT_EQ(f, 0);
}

// ---------------------------------------------------------------------------------------
// UTF-8

TEST_F(PlatformText, ToUtf8ConvertsOemCodePages) {
  EXPECT_EQ(ToUtf8("\x80\xE1\x9B", "CP437"), "\xC3\x87\xC3\x9F\xC2\xA2");  // Ç ß ¢
  EXPECT_EQ(ToUtf8("\xB0\xDB", "CP437"), "\xE2\x96\x91\xE2\x96\x88");      // ░ █
  EXPECT_EQ(ToUtf8("\x80\xAF\xF1", "CP866"), "\xD0\x90\xD0\xBF\xD1\x91");  // А п ё
  EXPECT_EQ(ToUtf8("plain ASCII", "CP866"), "plain ASCII");
  EXPECT_EQ(ToUtf8("", "CP866"), "");
  EXPECT_EQ(ToUtf8(std::string("a\0b", 3), "CP1251"), std::string("a\0b", 3));
}

TEST_F(PlatformText, ToUtf8ReplacesBytesThatCannotBeConverted) {
  EXPECT_EQ(ToUtf8("a\x98z", "CP1251"), "a\xEF\xBF\xBDz");                 // undefined in CP1251
  EXPECT_EQ(ToUtf8("a\xC3(z", "UTF-8"), "a\xEF\xBF\xBD(z");                // broken UTF-8
  EXPECT_EQ(ToUtf8("ok\xE2\x82", "UTF-8"), "ok\xEF\xBF\xBD\xEF\xBF\xBD");  // cut short
}

TEST_F(PlatformText, ToUtf8HandlesLongText) {
  std::string text;
  for (int i = 0; i < 10000; ++i) text += static_cast<char>(0x80 + i % 48);  // А-п
  const std::string utf8 = ToUtf8(text, "CP866");
  EXPECT_EQ(utf8.size(), 2 * text.size());
  std::string back;
  ASSERT_TRUE(FromUtf8(utf8, "CP866", back));
  EXPECT_EQ(back, text);
}

TEST_F(PlatformText, UnknownCodePageNameThrows) {
  EXPECT_THROW(ToUtf8("x", "NO-SUCH-CODEPAGE"), std::invalid_argument);
  std::string out;
  EXPECT_THROW(FromUtf8("x", "NO-SUCH-CODEPAGE", out), std::invalid_argument);
  EXPECT_THROW(ToUtf8("x", ""), std::invalid_argument);
}

TEST_F(PlatformText, FromUtf8ConvertsOrReportsMissingCharacters) {
  std::string out;
  ASSERT_TRUE(FromUtf8("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "CP1251", out));
  EXPECT_EQ(out, "\xCF\xF0\xE8\xE2\xE5\xF2");  // Привет
  ASSERT_TRUE(FromUtf8("\xC3\x87", "CP437", out));
  EXPECT_EQ(out, "\x80");
  ASSERT_TRUE(FromUtf8("", "CP437", out));
  EXPECT_EQ(out, "");

  EXPECT_FALSE(FromUtf8("price \xE2\x82\xAC", "CP866", out)) << "no euro sign in CP866";
  EXPECT_FALSE(FromUtf8("\xD0\x90", "CP437", out)) << "no Cyrillic in CP437";
  EXPECT_FALSE(FromUtf8("bad \xC3(", "CP1252", out)) << "invalid UTF-8";
  EXPECT_FALSE(FromUtf8("cut \xD0", "CP1251", out)) << "incomplete UTF-8";
}

TEST_F(PlatformText, KnownCodePages) {
  EXPECT_TRUE(IsKnownCodePage("CP866"));
  EXPECT_TRUE(IsKnownCodePage("CP1251"));
  EXPECT_TRUE(IsKnownCodePage("CP437"));
  EXPECT_TRUE(IsKnownCodePage("UTF-8"));
  EXPECT_FALSE(IsKnownCodePage("NO-SUCH-CODEPAGE"));
  EXPECT_FALSE(IsKnownCodePage(""));
  EXPECT_FALSE(IsKnownCodePage("CP1251//TRANSLIT"));
}

}  // namespace
