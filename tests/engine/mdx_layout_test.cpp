// MDX bytes without the index machinery: the dBase IV decimal form of numbers and its
// comparable form, key forms, the header region and tag table, tag headers and page
// headers, checked against the fixture files and the peer's reading of their headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "kx6_mdx_layout.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::FixtureFiles;
using fendral::test::ReadBytes;
using fendral::test::RunCommand;
using fendral::test::SharedDir;

std::string Hex(std::span<const uint8_t> bytes) {
  std::string out;
  char buf[4];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", b);
    out += buf;
  }
  return out;
}

std::string StoredHex(double value) { return Hex(MdxStoredNumber(value)); }

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// ---------------------------------------------------------------------------------------
// The dBase IV decimal form

TEST(MdxNumbers, StoredFormOfTheDocumentedExamples) {
  // 123: exponent 3 (0x37), three digits (byte 1 = 4 x 3 + 1), digits 1 2 3 packed.
  EXPECT_EQ(StoredHex(123), "370d1230" + std::string(16, '0'));
  EXPECT_EQ(StoredHex(-123), "378d1230" + std::string(16, '0'));
  EXPECT_EQ(StoredHex(0), "3401" + std::string(20, '0'));
  EXPECT_EQ(StoredHex(-0.0), StoredHex(0));
}

TEST(MdxNumbers, StoredFormMatchesWhatStep7Wrote) {
  // Keys as they stand in the fixture files (value, stored form).
  const std::vector<std::pair<double, std::string>> seen = {
      {1, "350510"},
      {10, "360510"},
      {13, "360913"},
      {100, "370510"},
      {110, "370911"},
      {127, "370d1270"},
      {528652270, "3d21528652270000"},
      {0, "340100"},
  };
  for (const auto& [value, prefix] : seen) {
    const std::string hex = StoredHex(value);
    EXPECT_EQ(hex.substr(0, prefix.size()), prefix) << value;
    EXPECT_EQ(hex.substr(prefix.size()), std::string(24 - prefix.size(), '0')) << value;
  }
}

TEST(MdxNumbers, FractionsNegativesAndLimits) {
  EXPECT_EQ(StoredHex(0.5).substr(0, 6), "340550");
  EXPECT_EQ(StoredHex(0.05).substr(0, 6), "330550");
  EXPECT_EQ(StoredHex(-1.25).substr(0, 8), "358d1250");
  // 15 significant digits at most, rounded.
  EXPECT_EQ(StoredHex(1.0 / 3).substr(0, 20), "343d3333333333333330");
  EXPECT_EQ(StoredHex(0.1 + 0.2).substr(0, 6), "340530");
  // Beyond the exponent byte: saturation, never a wrapped exponent.
  EXPECT_EQ(StoredHex(1e300), StoredHex(1e250));
  EXPECT_EQ(StoredHex(1e300).substr(0, 4), "ff3d");
  EXPECT_EQ(StoredHex(1e-60), StoredHex(0));
  EXPECT_EQ(StoredHex(INFINITY), StoredHex(1e300));
  EXPECT_EQ(StoredHex(NAN), StoredHex(0));
}

TEST(MdxNumbers, StoredAndComparableFormsConvertBothWays) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> mantissa(-10, 10);
  std::uniform_int_distribution<int> exponent(-40, 40);
  for (int i = 0; i < 20000; ++i) {
    const double value = mantissa(rng) * std::pow(10.0, exponent(rng));
    const MdxNumber stored = MdxStoredNumber(value);
    const MdxNumber comparable = MdxComparableFromStored(stored);
    EXPECT_EQ(Hex(MdxStoredFromComparable(comparable)), Hex(stored)) << value;
    EXPECT_EQ(Hex(MdxComparableNumber(value)), Hex(comparable));
    // The stored value is the value rounded to 15 significant digits.
    char text[40];
    std::snprintf(text, sizeof text, "%.14e", value);
    EXPECT_EQ(MdxNumberValue(stored), std::strtod(text, nullptr)) << text;
  }
}

// A random double of every kind: signs, zero, fractions, integers, large and tiny
// exponents (beyond the storable range too), and near-equal neighbours.
double RandomValue(std::mt19937_64& rng) {
  std::uniform_int_distribution<int> kind(0, 7);
  std::uniform_real_distribution<double> unit(0, 1);
  std::uniform_int_distribution<int> wide(-330, 308);
  std::uniform_int_distribution<int> narrow(-60, 210);
  const double sign = unit(rng) < 0.5 ? -1 : 1;
  switch (kind(rng)) {
    case 0:
      return sign * 0.0;
    case 1:
      return sign * std::floor(unit(rng) * 100000);
    case 2:
      return sign * unit(rng);
    case 3:
      return sign * unit(rng) * std::pow(10.0, narrow(rng));
    case 4:
      return sign * unit(rng) * std::pow(10.0, wide(rng));
    case 5:
      return sign * std::nextafter(1.0, 2.0 * unit(rng));
    case 6:
      return sign * (std::floor(unit(rng) * 1000) / 8);
    default:
      return sign * unit(rng) * 1e-50;
  }
}

// The value as the stored form keeps it: 15 significant digits, saturated range.
double Kept(double value) { return MdxNumberValue(MdxStoredNumber(value)); }

TEST(MdxNumbers, ComparableFormOrdersLikeTheValues) {
  std::mt19937_64 rng(20240521);
  std::vector<double> values;
  for (int i = 0; i < 50000; ++i) values.push_back(RandomValue(rng));
  std::sort(values.begin(), values.end());
  int strict = 0;
  for (size_t i = 1; i < values.size(); ++i) {
    const double a = values[i - 1], b = values[i];
    const MdxNumber ka = MdxComparableNumber(a), kb = MdxComparableNumber(b);
    const int order = std::lexicographical_compare(ka.begin(), ka.end(), kb.begin(), kb.end())
                          ? -1
                          : (ka == kb ? 0 : 1);
    ASSERT_LE(order, 0) << a << " sorts after " << b;
    // Keys tie only when the stored form cannot tell the values apart.
    if (Kept(a) != Kept(b)) {
      ASSERT_EQ(order, -1) << a << " and " << b;
      ++strict;
    } else {
      ASSERT_EQ(order, 0) << a << " and " << b;
    }
  }
  EXPECT_GT(strict, 25000);
}

TEST(MdxNumbers, ZeroLiesBetweenNegativeAndPositiveFractions) {
  const std::vector<double> ordered = {-1e100, -123,  -1,  -0.5, -1e-40, 0,
                                       1e-40,  0.001, 0.5, 1,    45,     1e100};
  for (size_t i = 1; i < ordered.size(); ++i) {
    const MdxNumber a = MdxComparableNumber(ordered[i - 1]);
    const MdxNumber b = MdxComparableNumber(ordered[i]);
    EXPECT_TRUE(std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end()))
        << ordered[i - 1] << " < " << ordered[i];
  }
}

// ---------------------------------------------------------------------------------------
// Key forms

TEST(MdxKeys, AdjustingBringsValuesIntoKeyForm) {
  TkxVariant text;
  text.SetText("ABC \x01\t");
  MdxAdjustKey('C', text);
  EXPECT_EQ(text.AsText(), "ABC");

  TkxVariant logical;
  logical.SetBoolean(true);
  MdxAdjustKey('C', logical);
  EXPECT_EQ(logical.VariantType(), TkxVariant::kText);
  EXPECT_EQ(logical.AsText(), "T");

  TkxVariant date;
  date.SetDate(2444240);
  MdxAdjustKey('D', date);
  EXPECT_EQ(date.VariantType(), TkxVariant::kFloat);
  EXPECT_EQ(date.AsFloat(), 2444240.0);
  TkxVariant noDate;
  noDate.SetDate(0);
  MdxAdjustKey('D', noDate);
  EXPECT_EQ(noDate.AsFloat(), kMdxEmptyDate);

  TkxVariant number;
  number.SetFloat(-123);
  MdxAdjustKey('N', number);
  ASSERT_EQ(number.Length(), kMdxNumberSize);
  const MdxNumber expected = MdxComparableNumber(-123);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), number.Data()));
  // Already in key form: unchanged.
  MdxAdjustKey('N', number);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), number.Data()));
}

TEST(MdxKeys, EncodeAndDecodeRoundTripEveryKeyType) {
  std::vector<uint8_t> slot(12);
  TkxVariant key, back;
  key.SetText("AB");
  MdxEncodeKey('C', key, std::span(slot).first(5));
  EXPECT_EQ(std::string(slot.begin(), slot.begin() + 5), "AB   ");
  MdxDecodeKey('C', std::span(slot).first(5), back);
  EXPECT_EQ(back.AsText(), "AB");

  key.SetFloat(2451545);
  MdxEncodeKey('D', key, std::span(slot).first(8));
  MdxDecodeKey('D', std::span(slot).first(8), back);
  EXPECT_EQ(back.AsFloat(), 2451545.0);

  key.SetFloat(-0.125);
  MdxAdjustKey('N', key);
  MdxEncodeKey('N', key, slot);
  EXPECT_EQ(Hex(slot), StoredHex(-0.125));
  MdxDecodeKey('N', slot, back);
  EXPECT_TRUE(std::equal(back.Data(), back.Data() + 12, key.Data()));

  // Blank and NUL padding both disappear; a key that starts with NUL is empty.
  const uint8_t nulPadded[] = {'X', 0, 0, ' '};
  MdxDecodeKey('C', nulPadded, back);
  EXPECT_EQ(back.AsText(), "X");
  const uint8_t nulFirst[] = {0, 'Y', ' ', ' '};
  MdxDecodeKey('C', nulFirst, back);
  EXPECT_EQ(back.Length(), 0);
}

TEST(MdxKeys, SentinelsLieBeyondEveryRealKey) {
  int32_t position;
  TkxVariant above, below, real;
  for (char type : {'C', 'N', 'D'}) {
    MdxSentinelKey(type, false, above);
    MdxSentinelKey(type, true, below);
    for (double v : {-1e9, 0.0, 1.0, 2451545.0, 1e99}) {
      if (type == 'C') {
        real.SetText(std::to_string(v));
      } else {
        real.SetFloat(v);
        if (type == 'D' && v < 1) continue;
        MdxAdjustKey(type, real);
      }
      EXPECT_EQ(real.CompareVariants(above, position, nullptr, 0), -1) << type << v;
      EXPECT_EQ(real.CompareVariants(below, position, nullptr, 0), 1) << type << v;
    }
  }
}

// ---------------------------------------------------------------------------------------
// Header region and tag table

TEST(MdxHeader, FreshRegionHoldsTheFieldsOfANewFile) {
  const MdxHeaderRegion region = MdxHeaderRegion::Fresh("Sales", 2024, 5, 21);
  const auto& b = region.Bytes();
  ASSERT_EQ(b.size(), 2048u);
  EXPECT_EQ(b[0], 2);
  EXPECT_EQ(b[1], 24);
  EXPECT_EQ(b[2], 5);
  EXPECT_EQ(b[3], 21);
  EXPECT_EQ(std::string(b.begin() + 4, b.begin() + 10), std::string("Sales\0", 6));
  EXPECT_EQ(b[44], 24);
  EXPECT_EQ(b[46], 21);
  EXPECT_EQ(region.PageUnits(), 2);
  EXPECT_EQ(region.PageBytes(), 1024);
  EXPECT_TRUE(region.ProductionFlag());
  EXPECT_EQ(region.SlotCount(), 48);
  EXPECT_EQ(b[26], 32);
  EXPECT_EQ(region.TagCount(), 0);
  EXPECT_EQ(region.NextFreeBlock(), 4);
}

TEST(MdxHeader, TagTableIsAChainInListOrder) {
  MdxHeaderRegion region = MdxHeaderRegion::Fresh("T", 2024, 1, 1);
  std::vector<MdxTagSlot> slots(3);
  const char* names[] = {"ALPHA", "BETA", "GAMMA"};
  for (int i = 0; i < 3; ++i) {
    slots[i].name = names[i];
    slots[i].headerBlock = 4 + 4 * i;
    slots[i].keyType = "CND"[i];
  }
  slots[1].image[25] = 0x77;  // a byte the format does not define travels with the tag
  region.SetTagTable(slots);
  const auto& b = region.Bytes();
  EXPECT_EQ(region.TagCount(), 3);
  // Right links of slots 0..3: 1, 2, 3, 0; parents 0, 1, 2; no left links.
  for (int j = 0; j <= 3; ++j) EXPECT_EQ(b[512 + 32 * j + 17], j < 3 ? j + 1 : 0) << j;
  for (int j = 1; j <= 3; ++j) {
    EXPECT_EQ(b[512 + 32 * j + 16], 0);
    EXPECT_EQ(b[512 + 32 * j + 18], j - 1);
    EXPECT_EQ(b[512 + 32 * j + 19], 2);
    const MdxTagSlot slot = region.Slot(j);
    EXPECT_EQ(slot.name, names[j - 1]);
    EXPECT_EQ(slot.headerBlock, 4 * j);
    EXPECT_EQ(slot.keyType, "CND"[j - 1]);
  }
  EXPECT_EQ(b[512 + 64 + 25], 0x77);
}

TEST(MdxHeader, TagTableLinksOfRealFilesAreRebuiltAsTheyStand) {
  REQUIRE_SHARED();
  int compared = 0;
  for (const auto& file : FixtureFiles(".mdx")) {
    const std::vector<uint8_t> bytes = ReadBytes(file);
    MdxHeaderRegion region;
    std::string problem;
    ASSERT_TRUE(MdxHeaderRegion::Parse(bytes, static_cast<int64_t>(bytes.size()), region, problem));
    std::vector<MdxTagSlot> slots;
    for (int j = 1; j <= region.TagCount(); ++j) slots.push_back(region.Slot(j));
    if (slots.empty()) continue;
    MdxHeaderRegion rebuilt = region;
    rebuilt.SetTagTable(slots);
    // The writers insert their tags into a name tree in slot order: so does this engine,
    // and the tables come out byte for byte.
    EXPECT_EQ(
        std::vector<uint8_t>(rebuilt.Bytes().begin() + 512,
                             rebuilt.Bytes().begin() + 512 + 32 * (slots.size() + 1)),
        std::vector<uint8_t>(bytes.begin() + 512, bytes.begin() + 512 + 32 * (slots.size() + 1)))
        << file;
    ++compared;
  }
  EXPECT_GT(compared, 5);
}

TEST(MdxHeader, ParseRefusesDamagedRegions) {
  std::vector<uint8_t> file = MdxHeaderRegion::Fresh("T", 2024, 1, 1).Bytes();
  MdxHeaderRegion region;
  std::string problem;
  ASSERT_TRUE(MdxHeaderRegion::Parse(file, 2048, region, problem)) << problem;

  auto refused = [&](std::vector<uint8_t> bytes, int64_t size) {
    problem.clear();
    const bool ok = MdxHeaderRegion::Parse(bytes, size, region, problem);
    return !ok && !problem.empty();
  };
  std::vector<uint8_t> small = file;
  small[20] = 1;  // 512-byte pages: a 512-byte region has no room for the tag table
  small[22] = 0;
  small[23] = 2;
  EXPECT_TRUE(refused(small, 2048));
  std::vector<uint8_t> odd = file;
  odd[22] = 0x01;  // page bytes not a whole number of blocks
  EXPECT_TRUE(refused(odd, 2048));
  std::vector<uint8_t> crowded = file;
  crowded[28] = 49;  // more tags than slots
  EXPECT_TRUE(refused(crowded, 2048));
  std::vector<uint8_t> outside = file;
  outside[28] = 1;
  outside[512 + 32] = 200;  // header block past the end
  EXPECT_TRUE(refused(outside, 4096));
  std::vector<uint8_t> inside = file;
  inside[28] = 1;
  inside[512 + 32] = 1;  // header block inside the header region
  EXPECT_TRUE(refused(inside, 4096));
  EXPECT_TRUE(refused(std::vector<uint8_t>(file.begin(), file.begin() + 40), 40));
}

TEST(MdxHeader, TagHeaderSerializeKeepsUndefinedBytes) {
  MdxTagHeader header;
  header.SetGeometry('C', 10, 1024);
  EXPECT_EQ(header.entryLength, 16);
  EXPECT_EQ(header.maxKeys, 63);
  header.image.assign(1024, 0);
  header.image[20] = 0x2d;  // written by other programs, meaning unknown
  header.image[300] = 'x';
  header.keyExpression = "NAME";
  header.forExpression = ".NOT. DELETED()";
  header.unique = true;
  header.descending = true;
  header.rootBlock = 6;
  header.firstPage = 6;
  header.lastPage = 8;
  const std::vector<uint8_t> page = header.Serialize(1024);
  EXPECT_EQ(page[20], 0x2d);
  EXPECT_EQ(page[300], 'x');
  EXPECT_EQ(page[8], 0x58);
  EXPECT_EQ(page[23], 0x40);
  EXPECT_EQ(page[245], 1);
  EXPECT_EQ(page[246], 1);

  MdxTagHeader back;
  std::string problem;
  ASSERT_TRUE(MdxTagHeader::Parse(page, 4, 10, back, problem)) << problem;
  EXPECT_EQ(back.keyExpression, "NAME");
  EXPECT_EQ(back.forExpression, ".NOT. DELETED()");
  EXPECT_TRUE(back.unique);
  EXPECT_TRUE(back.descending);
  EXPECT_EQ(back.rootBlock, 6);
  EXPECT_EQ(back.lastPage, 8);

  std::vector<uint8_t> bad = page;
  bad[14] = 200;  // more keys per page than fit
  EXPECT_FALSE(MdxTagHeader::Parse(bad, 4, 10, back, problem));
  bad = page;
  bad[9] = 'Q';
  EXPECT_FALSE(MdxTagHeader::Parse(bad, 4, 10, back, problem));
  bad = page;
  bad[0] = 9;  // root past the end of a 10-block file (a page is 2 blocks)
  EXPECT_FALSE(MdxTagHeader::Parse(bad, 4, 10, back, problem));
}

TEST(MdxPages, PageKindComesFromTheFieldAfterTheLastKey) {
  std::vector<uint8_t> page(1024, 0);
  MdxPageInfo info;
  std::string problem;
  page[0] = 2;
  ASSERT_TRUE(MdxReadPageInfo(page, 16, info, problem));
  EXPECT_FALSE(info.branch);
  EXPECT_EQ(info.entryCount, 2);
  page[8 + 32] = 9;  // entry 2's pointer
  ASSERT_TRUE(MdxReadPageInfo(page, 16, info, problem));
  EXPECT_TRUE(info.branch);
  EXPECT_EQ(info.entryCount, 3);
  // A leaf filled to the last byte has no pointer field.
  std::fill(page.begin(), page.end(), 0xAA);
  page[0] = 127;
  page[1] = page[2] = page[3] = 0;
  ASSERT_TRUE(MdxReadPageInfo(page, 8, info, problem));
  EXPECT_FALSE(info.branch);
  page[0] = 128;
  EXPECT_FALSE(MdxReadPageInfo(page, 8, info, problem));
}

// ---------------------------------------------------------------------------------------
// Fixture files against the peer's reading of their headers.

// One line per tag as inspect_fixture.py (standard-library Python) reads the header:
// slot name block type length max entry unique descending root key-expression | FOR.
std::string PeerTagLines(const std::string& file) {
  const std::string script =
      "import sys,json; sys.path.insert(0, sys.argv[1]); import inspect_fixture as f\n"
      "r = f.inspect_mdx(sys.argv[2], open(sys.argv[2], 'rb').read())\n"
      "print(r.get('tags_in_use', -1), r.get('block_units'), r.get('block_bytes'),"
      " r.get('next_free_block'))\n"
      "for t in r.get('tags', []):\n"
      "  print(t['slot'], t['name'], t['header_block'], t['key_type_9'], t['key_length_12'],"
      " t['max_keys_14'], t['entry_len_18'], int(t['unique']), int(t['descending']),"
      " t['root_block'], t['key_expr'] + '|' + t['for_expr_762'])\n";
  std::string out;
  const std::string peers = (SharedDir() / "peers").string();
  RunCommand("python3 -c " + Quote(script) + " " + Quote(peers) + " " + Quote(file), &out);
  return out;
}

TEST(MdxFixtures, EveryHeaderAndTagReadsAsThePeerReadsIt) {
  REQUIRE_SHARED();
  const auto files = FixtureFiles(".mdx");
  ASSERT_FALSE(files.empty());
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    const std::vector<uint8_t> bytes = ReadBytes(file);
    MdxHeaderRegion region;
    std::string problem;
    ASSERT_TRUE(MdxHeaderRegion::Parse(bytes, static_cast<int64_t>(bytes.size()), region, problem))
        << problem;
    std::ostringstream ours;
    ours << region.TagCount() << ' ' << region.PageUnits() << ' ' << region.PageBytes() << ' '
         << region.NextFreeBlock() << '\n';
    for (int j = 1; j <= region.TagCount(); ++j) {
      const MdxTagSlot slot = region.Slot(j);
      const size_t at = static_cast<size_t>(slot.headerBlock) * kMdxBlockSize;
      MdxTagHeader header;
      ASSERT_TRUE(MdxTagHeader::Parse(
          std::span(bytes).subspan(at, region.PageBytes()), region.RegionSize() / kMdxBlockSize,
          static_cast<int64_t>(bytes.size() / kMdxBlockSize), header, problem))
          << slot.name << ": " << problem;
      ours << j << ' ' << slot.name << ' ' << slot.headerBlock << ' ' << header.keyType << ' '
           << header.keyLength << ' ' << header.maxKeys << ' ' << header.entryLength << ' '
           << header.unique << ' ' << header.descending << ' ' << header.rootBlock << ' '
           << header.keyExpression << '|' << header.forExpression << '\n';
      // Real files hold (page size - 8) div entry length keys per page.
      EXPECT_EQ(header.maxKeys, (region.PageBytes() - 8) / header.entryLength) << slot.name;
    }
    EXPECT_EQ(ours.str(), PeerTagLines(file.string()));
  }
}

}  // namespace
}  // namespace tolvern
