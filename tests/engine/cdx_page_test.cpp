// CDX pages without a file: the header, compact leaves (byte layout, parameters, round
// trips, splits, damaged pages), branch pages, the numeric and GENERAL key forms, the
// bottom-up tree writer, and every leaf chain of the fixture CDX files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "kx6_bytes.h"
#include "kx6_cdxpage.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::FixtureFiles;
using fendral::test::ReadBytes;
using fendral::test::RunCommand;
using fendral::test::SharedDir;

using Page = std::array<uint8_t, kCdxPageSize>;

CdxKeyForm CharForm(int32_t length) { return CdxKeyForm{length, ' ', false}; }
CdxKeyForm RawForm(int32_t length) { return CdxKeyForm{length, 0, false}; }
CdxKeyForm GeneralForm(int32_t length) { return CdxKeyForm{length, ' ', true}; }

std::vector<CdxEntry> Entries(const std::vector<std::pair<std::string, uint32_t>>& keys) {
  std::vector<CdxEntry> out;
  for (const auto& [key, record] : keys) out.push_back(CdxEntry{key, record, 0});
  return out;
}

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out += digits[static_cast<uint8_t>(c) >> 4];
    out += digits[static_cast<uint8_t>(c) & 15];
  }
  return out;
}

// ---------------------------------------------------------------------------------------
// Leaf layout

TEST(CdxLeafLayout, SmithAndSmithsonPackAsDocumented) {
  const CdxKeyForm form = CharForm(10);
  const CdxLeafParams params = CdxLeafParamsFor(10, 2);
  CdxPageHead head;
  head.attributes = kCdxAttrLeaf | kCdxAttrRoot;
  Page page{};
  ASSERT_TRUE(EncodeCdxLeaf(head, form, params, Entries({{"SMITH", 1}, {"SMITHSON", 2}}), page));
  EXPECT_EQ((std::vector<uint8_t>(page.begin() + 24, page.begin() + 30)),
            (std::vector<uint8_t>{0x01, 0x00, 0x50, 0x02, 0x00, 0x25}));
  EXPECT_EQ(std::string(page.begin() + 507, page.end()), "SMITH");
  EXPECT_EQ(std::string(page.begin() + 504, page.begin() + 507), "SON");
  ByteReader r(page.data(), page.size());
  EXPECT_EQ(r.U16LE(12), 474);
  EXPECT_EQ(r.U16LE(0), 3);
  EXPECT_EQ(r.U16LE(2), 2);
  EXPECT_EQ(r.U32LE(4), kCdxNoPage);
  EXPECT_EQ(r.U32LE(8), kCdxNoPage);
  // Header bytes 14-23: record mask, the two count masks, the three bit counts, entry size.
  EXPECT_EQ(r.U32LE(14), 0xFFFFu);
  EXPECT_EQ((std::vector<uint8_t>(page.begin() + 18, page.begin() + 24)),
            (std::vector<uint8_t>{0x0F, 0x0F, 16, 4, 4, 3}));

  CdxPageHead readHead;
  CdxLeafParams readParams;
  std::vector<CdxEntry> decoded;
  std::string why;
  ASSERT_TRUE(DecodeCdxLeaf(page, form, readHead, readParams, decoded, why)) << why;
  ASSERT_EQ(decoded.size(), 2u);
  EXPECT_EQ(decoded[0].key, "SMITH");
  EXPECT_EQ(decoded[0].record, 1u);
  EXPECT_EQ(decoded[1].key, "SMITHSON");
  EXPECT_EQ(decoded[1].record, 2u);
}

TEST(CdxLeafLayout, ParametersGrowWithTheRecordCount) {
  const CdxLeafParams small = CdxLeafParamsFor(10, 100);
  EXPECT_EQ(small.entrySize, 3);
  EXPECT_EQ(small.recordBits, 16);
  EXPECT_EQ(small.dupBits, 4);
  EXPECT_EQ(small.trailBits, 4);
  EXPECT_EQ(small.recordMask, 0xFFFFu);
  EXPECT_EQ(small.dupMask, 0x0F);
  EXPECT_EQ(small.trailMask, 0x0F);

  EXPECT_EQ(CdxLeafParamsFor(10, 65535).entrySize, 3);
  const CdxLeafParams big = CdxLeafParamsFor(10, 70000);
  EXPECT_EQ(big.entrySize, 4);
  EXPECT_EQ(big.recordBits, 24);
  EXPECT_EQ(big.recordMask, 0xFFFFFFu);

  // The count fields take the bits the key length needs: 8 -> 4, 240 -> 8, 1 -> 1.
  EXPECT_EQ(CdxLeafParamsFor(8, 1).dupBits, 4);
  const CdxLeafParams wide = CdxLeafParamsFor(240, 1);
  EXPECT_EQ(wide.dupBits, 8);
  EXPECT_EQ(wide.recordBits, 8);
  EXPECT_EQ(wide.entrySize, 3);
  EXPECT_EQ(CdxLeafParamsFor(240, 256).entrySize, 4);
  EXPECT_EQ(CdxLeafParamsFor(1, 1).dupMask, 1);

  // Every width keeps the entry's bits in step with its bytes and never passes 2^31 - 1.
  for (uint32_t highest : {0u, 255u, 70000u, 16777216u, 0x7FFFFFFFu}) {
    for (int32_t length : {1, 4, 8, 10, 20, 100, 240}) {
      const CdxLeafParams p = CdxLeafParamsFor(length, highest);
      EXPECT_GE(p.recordMask, highest);
      EXPECT_LE(p.recordMask, 0x7FFFFFFFu);
      EXPECT_EQ(p.recordBits + p.dupBits + p.trailBits, 8 * p.entrySize);
    }
  }
}

TEST(CdxLeafLayout, NumericKeysPadWithZeroBytesAndKeepNegativeTails) {
  // -48122.5 has a sortable form ending in 0xFF bytes; other programs store them as key
  // bytes (only zero bytes are trailing pad).
  const std::string negative = CdxNumberKey(-48122.5);
  EXPECT_EQ(Hex(negative), "3f1880afffffffff");
  const std::string positive = CdxNumberKey(1.0);
  EXPECT_EQ(Hex(positive), "bff0");
  const CdxKeyForm form = RawForm(8);
  const CdxLeafParams params = CdxLeafParamsFor(8, 10);
  Page page{};
  ASSERT_TRUE(EncodeCdxLeaf(CdxPageHead{kCdxAttrLeaf, 0, kCdxNoPage, kCdxNoPage}, form, params,
                            Entries({{negative, 1}, {positive, 2}}), page));
  CdxPageHead head;
  CdxLeafParams readParams;
  std::vector<CdxEntry> decoded;
  std::string why;
  ASSERT_TRUE(DecodeCdxLeaf(page, form, head, readParams, decoded, why)) << why;
  ASSERT_EQ(decoded.size(), 2u);
  EXPECT_EQ(CdxKeyNumber(decoded[0].key), -48122.5);
  EXPECT_EQ(CdxKeyNumber(decoded[1].key), 1.0);
  // Trailing count of the second key: 6 pad bytes.
  const uint32_t entry = ByteReader(page.data(), page.size()).U32LE(24 + 3) & 0xFFFFFF;
  EXPECT_EQ(entry >> 20, 6u);
}

// Random keys with shared prefixes, trailing blanks and interior blanks survive an
// encode/decode round trip in every form, and the split plan cuts them into pages that
// each fit.
TEST(CdxLeafLayout, RoundTripsAndSplitsRandomKeys) {
  std::mt19937 rng(1234);
  for (const CdxKeyForm form : {CharForm(12), RawForm(8), GeneralForm(24), CharForm(240)}) {
    for (int round = 0; round < 40; ++round) {
      std::vector<std::string> keys;
      const int n = 1 + static_cast<int>(rng() % 160);
      for (int i = 0; i < n; ++i) {
        std::string key;
        if (form.general) {
          key = CdxGeneralKey(std::string("Stra") + static_cast<char>("sSE\xDF\xE9 a"[rng() % 7]) +
                              std::to_string(rng() % 50));
        } else if (form.pad == 0) {
          key = CdxNumberKey(static_cast<double>(static_cast<int>(rng() % 2000) - 1000) / 8);
        } else {
          const int length = 1 + static_cast<int>(rng() % form.keyLength);
          for (int c = 0; c < length; ++c) key += "AB C"[rng() % 4];
          while (!key.empty() && key.back() == ' ') key.pop_back();
        }
        keys.push_back(key);
      }
      std::sort(keys.begin(), keys.end());
      std::vector<CdxEntry> entries;
      for (size_t i = 0; i < keys.size(); ++i)
        entries.push_back(CdxEntry{keys[i], static_cast<uint32_t>(i + 1), 0});
      const CdxLeafParams params = CdxLeafParamsFor(form.keyLength, 70000);
      const std::vector<size_t> parts = PlanCdxLeafSplit(entries, form, params);
      size_t start = 0;
      for (const size_t part : parts) {
        ASSERT_GT(part, 0u);
        const std::span<const CdxEntry> slice(entries.data() + start, part);
        Page page{};
        ASSERT_TRUE(
            EncodeCdxLeaf(CdxPageHead{kCdxAttrLeaf, 0, 1024, 2048}, form, params, slice, page));
        EXPECT_EQ(ByteReader(page.data(), page.size()).U16LE(12),
                  kCdxLeafArea - CdxLeafBytes(slice, form, params));
        CdxPageHead head;
        CdxLeafParams readParams;
        std::vector<CdxEntry> decoded;
        std::string why;
        ASSERT_TRUE(DecodeCdxLeaf(page, form, head, readParams, decoded, why)) << why;
        EXPECT_EQ(head.left, 1024u);
        EXPECT_EQ(head.right, 2048u);
        ASSERT_EQ(decoded.size(), part);
        for (size_t i = 0; i < part; ++i) {
          EXPECT_EQ(decoded[i].key, slice[i].key) << "key " << start + i;
          EXPECT_EQ(decoded[i].record, slice[i].record);
        }
        if (parts.size() > 1 && start + part < entries.size()) {
          EXPECT_LT(CdxLeafBytes(slice, form, params), 250);
        }
        start += part;
      }
      EXPECT_EQ(start, entries.size());
      EXPECT_EQ(parts.size() == 1, CdxLeafBytes(entries, form, params) < kCdxLeafArea);
    }
  }
}

// Other programs let a duplicate count reach into the previous key's trailing blanks
// ("AB" then "AB  C" shares four bytes); the decoder rebuilds the blanks.
TEST(CdxLeafLayout, DuplicateCountsMayCoverThePreviousKeysPad) {
  Page page{};
  ByteWriter w(page.data(), page.size());
  w.U16LE(0, 3);
  w.U16LE(2, 2);
  w.U32LE(4, kCdxNoPage);
  w.U32LE(8, kCdxNoPage);
  const CdxLeafParams p = CdxLeafParamsFor(10, 5);
  w.U32LE(14, p.recordMask);
  w.U8(18, p.dupMask);
  w.U8(19, p.trailMask);
  w.U8(20, p.recordBits);
  w.U8(21, p.dupBits);
  w.U8(22, p.trailBits);
  w.U8(23, p.entrySize);
  // "AB" (record 1, trail 8) and "AB  C" (record 2, dup 4, trail 5): stored "AB", "C".
  w.U8(24, 1);
  w.U8(25, 0);
  w.U8(26, 0x80);
  w.U8(27, 2);
  w.U8(28, 0);
  w.U8(29, 0x54);
  w.Bytes(510, "AB", 2);
  w.Bytes(509, "C", 1);
  CdxPageHead head;
  CdxLeafParams params;
  std::vector<CdxEntry> decoded;
  std::string why;
  ASSERT_TRUE(DecodeCdxLeaf(page, CharForm(10), head, params, decoded, why)) << why;
  ASSERT_EQ(decoded.size(), 2u);
  EXPECT_EQ(decoded[0].key, "AB");
  EXPECT_EQ(decoded[1].key, "AB  C");
}

// Damaged leaves: counts that reach outside the page are refused, never read.
TEST(CdxLeafLayout, RefusesLeavesWhoseCountsDoNotFit) {
  const CdxKeyForm form = CharForm(10);
  Page good{};
  ASSERT_TRUE(EncodeCdxLeaf(CdxPageHead{3, 0, kCdxNoPage, kCdxNoPage}, form,
                            CdxLeafParamsFor(10, 9),
                            Entries({{"ALPHA", 1}, {"ALPHABET", 2}, {"BETA", 3}}), good));
  auto decodeFails = [&](const Page& page) {
    CdxPageHead head;
    CdxLeafParams params;
    std::vector<CdxEntry> entries;
    std::string why;
    const bool ok = DecodeCdxLeaf(page, form, head, params, entries, why);
    if (!ok) {
      EXPECT_FALSE(why.empty());
    }
    return !ok;
  };
  EXPECT_FALSE(decodeFails(good));
  Page bad = good;
  ByteWriter(bad.data(), bad.size()).U16LE(2, 200);  // 200 entries of 3 bytes > 488
  EXPECT_TRUE(decodeFails(bad));
  bad = good;
  bad[23] = 0;  // entry size 0 with keys
  EXPECT_TRUE(decodeFails(bad));
  bad = good;
  bad[20] = 30;  // 30 + 4 + 4 bits in 3 bytes
  EXPECT_TRUE(decodeFails(bad));
  bad = good;
  bad[26] = good[26] | 0x01;  // first key with a duplicate count
  EXPECT_TRUE(decodeFails(bad));
  bad = good;
  bad[29] = 0xFF;  // dup 15 + trail 15 > 10
  EXPECT_TRUE(decodeFails(bad));
  bad = good;
  ByteWriter(bad.data(), bad.size()).U16LE(2, 160);  // keys would overlap the entries
  EXPECT_TRUE(decodeFails(bad));
  bad = good;
  bad[0] = 1;  // a branch
  EXPECT_TRUE(decodeFails(bad));

  // Every single-byte change of the header and entries either decodes within the page
  // or is refused.
  for (size_t at = 0; at < 40; ++at) {
    for (const uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
      bad = good;
      bad[at] = value;
      CdxPageHead head;
      CdxLeafParams params;
      std::vector<CdxEntry> entries;
      std::string why;
      if (DecodeCdxLeaf(bad, form, head, params, entries, why)) {
        for (const auto& e : entries) EXPECT_LE(e.key.size(), 10u);
      }
    }
  }
}

// ---------------------------------------------------------------------------------------
// Branch pages

TEST(CdxBranchLayout, StoresKeysPaddedWithBigEndianNumbers) {
  const CdxKeyForm form = CharForm(10);
  EXPECT_EQ(CdxBranchCapacity(10), 27);
  EXPECT_EQ(CdxBranchCapacity(240), 2);
  Page page{};
  const std::vector<CdxEntry> entries = {{"ADAMS", 7, 1536}, {"ZED", 0x01020304, 0x0A0B0C00}};
  EncodeCdxBranch(CdxPageHead{kCdxAttrRoot, 0, kCdxNoPage, kCdxNoPage}, form, entries, ' ', page);
  EXPECT_EQ(std::string(page.begin() + 12, page.begin() + 22), "ADAMS     ");
  EXPECT_EQ((std::vector<uint8_t>(page.begin() + 22, page.begin() + 30)),
            (std::vector<uint8_t>{0, 0, 0, 7, 0, 0, 6, 0}));
  EXPECT_EQ((std::vector<uint8_t>(page.begin() + 40, page.begin() + 48)),
            (std::vector<uint8_t>{1, 2, 3, 4, 0x0A, 0x0B, 0x0C, 0}));
  EXPECT_EQ(page[511], ' ');
  CdxPageHead head;
  std::vector<CdxEntry> decoded;
  std::string why;
  ASSERT_TRUE(DecodeCdxBranch(page, form, head, decoded, why)) << why;
  EXPECT_EQ(head.attributes, kCdxAttrRoot);
  ASSERT_EQ(decoded.size(), 2u);
  EXPECT_EQ(decoded[0].key, "ADAMS");
  EXPECT_EQ(decoded[1].record, 0x01020304u);
  EXPECT_EQ(decoded[1].child, 0x0A0B0C00u);

  ByteWriter(page.data(), page.size()).U16LE(2, 28);
  EXPECT_FALSE(DecodeCdxBranch(page, form, head, decoded, why));
  ByteWriter(page.data(), page.size()).U16LE(0, 2);
  EXPECT_FALSE(DecodeCdxBranch(page, form, head, decoded, why));

  EXPECT_EQ(PlanCdxBranchSplit(28, 27), (std::vector<size_t>{14, 14}));
  EXPECT_EQ(PlanCdxBranchSplit(27, 27), (std::vector<size_t>{27}));
  EXPECT_EQ(PlanCdxBranchSplit(60, 27), (std::vector<size_t>{27, 17, 16}));
}

TEST(CdxBranchLayout, GeneralKeysStoreTrailingMarksAsNibbles) {
  const CdxKeyForm form = GeneralForm(20);
  const std::string key = CdxGeneralKey("\xE9t\xE9");  // e-acute, t, e-acute
  EXPECT_EQ(Hex(key), "667766f1f1");
  Page page{};
  EncodeCdxBranch(CdxPageHead{0, 0, kCdxNoPage, kCdxNoPage}, form, {{CdxEntry{key, 3, 512}}}, ' ',
                  page);
  EXPECT_EQ(Hex(std::string(page.begin() + 12, page.begin() + 17)), "6677660101");
  EXPECT_EQ(page[17], ' ');
  CdxPageHead head;
  std::vector<CdxEntry> decoded;
  std::string why;
  ASSERT_TRUE(DecodeCdxBranch(page, form, head, decoded, why)) << why;
  EXPECT_EQ(decoded.at(0).key, key);
}

// ---------------------------------------------------------------------------------------
// Key forms

TEST(CdxKeyForms, NumbersSortBytewiseAndComeBackExactly) {
  const std::vector<double> values = {-1e300, -48122.5, -1.5, -1.0, -0.05,      0.0,
                                      1e-300, 0.05,     1.0,  2.5,  9999999.99, 1e300};
  std::vector<std::string> keys;
  for (const double v : values) {
    keys.push_back(CdxNumberKey(v));
    EXPECT_EQ(CdxKeyNumber(keys.back()), v);
    EXPECT_TRUE(keys.back().empty() || keys.back().back() != '\0');
  }
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  EXPECT_EQ(CdxNumberKey(-0.0), CdxNumberKey(0.0));
  EXPECT_EQ(Hex(CdxNumberKey(0.0)), "80");
  // A Julian day number: 2 460 000 (2023-02-24).
  EXPECT_EQ(Hex(CdxNumberKey(2460000.0)), "c142c4b0");
}

TEST(CdxKeyForms, GeneralCollationWeighsLettersAndMarks) {
  // Straße and STRASSE share their primary weights (sharp s expands to s s).
  const std::string a = CdxGeneralKey(
      "Stra\xDF"
      "e");
  const std::string b = CdxGeneralKey("STRASSE");
  EXPECT_EQ(a.substr(0, 7), b.substr(0, 7));
  EXPECT_EQ(Hex(b), "76777560767666");
  // What FoxPro wrote for "Fer" and "D.1.C" in a fixture's GENERAL tags.
  EXPECT_EQ(Hex(CdxGeneralKey("Fer")), "676675");
  EXPECT_EQ(Hex(CdxGeneralKey("D.1.C")), "641f571f62");
  // Case folds to the same weight; an accent adds a mark after the weights.
  EXPECT_EQ(CdxGeneralKey("abc"), CdxGeneralKey("ABC"));
  EXPECT_EQ(Hex(CdxGeneralKey("\xE9")), "66f1");
  EXPECT_LT(CdxGeneralKey("e"), CdxGeneralKey("\xE9"));
  EXPECT_LT(CdxGeneralKey("\xE9"), CdxGeneralKey("f"));
  // The expansions: OE, AE, thorn.
  EXPECT_EQ(Hex(CdxGeneralKey("\x8C")), "7266");
  EXPECT_EQ(Hex(CdxGeneralKey("\xC6")), "6066");
  EXPECT_EQ(Hex(CdxGeneralKey("\xDE")), "7769");
}

// ---------------------------------------------------------------------------------------
// Tree writer

// An in-memory file of pages for the writer.
struct PageStore {
  std::map<uint32_t, Page> pages;
  uint32_t next = 1024;

  CdxTreeWriter::NewPageFn NewPage() {
    return [this] {
      const uint32_t page = next;
      next += kCdxPageSize;
      return page;
    };
  }
  CdxTreeWriter::WritePageFn Write() {
    return [this](uint32_t offset, std::span<const uint8_t> bytes) {
      Page& page = pages[offset];
      std::copy_n(bytes.begin(), kCdxPageSize, page.begin());
    };
  }
};

struct WalkResult {
  std::vector<CdxEntry> keys;
  int levels = 0;
  int leaves = 0;
};

// Walks a tree: checks every branch entry against its child's last key, the sibling
// links in both directions and the root bit, and collects the leaf keys in order.
WalkResult WalkTree(const PageStore& store, uint32_t root, const CdxKeyForm& form) {
  WalkResult result;
  std::vector<uint32_t> level = {root};
  while (!level.empty()) {
    ++result.levels;
    std::vector<uint32_t> below;
    uint32_t expectLeft = kCdxNoPage;
    for (size_t i = 0; i < level.size(); ++i) {
      const Page& page = store.pages.at(level[i]);
      CdxPageHead head = ReadCdxPageHead(page);
      EXPECT_EQ(head.IsRoot(), result.levels == 1);
      EXPECT_EQ(head.left, expectLeft);
      EXPECT_EQ(head.right, i + 1 < level.size() ? level[i + 1] : kCdxNoPage);
      expectLeft = level[i];
      std::string why;
      std::vector<CdxEntry> entries;
      if (head.IsLeaf()) {
        CdxLeafParams params;
        EXPECT_TRUE(DecodeCdxLeaf(page, form, head, params, entries, why)) << why;
        ++result.leaves;
        result.keys.insert(result.keys.end(), entries.begin(), entries.end());
      } else {
        EXPECT_TRUE(DecodeCdxBranch(page, form, head, entries, why)) << why;
        for (const auto& e : entries) {
          below.push_back(e.child);
          const Page& child = store.pages.at(e.child);
          std::vector<CdxEntry> childEntries;
          CdxPageHead childHead;
          CdxLeafParams params;
          if (ReadCdxPageHead(child).IsLeaf())
            DecodeCdxLeaf(child, form, childHead, params, childEntries, why);
          else
            DecodeCdxBranch(child, form, childHead, childEntries, why);
          EXPECT_FALSE(childEntries.empty());
          if (!childEntries.empty()) {
            EXPECT_EQ(e.key, childEntries.back().key);
            EXPECT_EQ(e.record, childEntries.back().record);
          }
        }
      }
    }
    level = below;
  }
  return result;
}

TEST(CdxTreeWriter, LaysDownLevelsThatWalkBackInOrder) {
  for (const int count : {0, 1, 37, 5000, 60000}) {
    PageStore store;
    const CdxKeyForm form = CharForm(20);
    CdxTreeWriter writer(form, static_cast<uint32_t>(count), store.NewPage(), store.Write());
    std::vector<std::string> keys;
    for (int i = 0; i < count; ++i) {
      char text[32];
      std::snprintf(text, sizeof text, "K%07d", i / 3);
      keys.push_back(text);
    }
    for (int i = 0; i < count; ++i) writer.Add(keys[static_cast<size_t>(i)], i + 1);
    const uint32_t root = writer.Finish();
    const WalkResult walk = WalkTree(store, root, form);
    ASSERT_EQ(walk.keys.size(), static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      EXPECT_EQ(walk.keys[static_cast<size_t>(i)].key, keys[static_cast<size_t>(i)]);
      EXPECT_EQ(walk.keys[static_cast<size_t>(i)].record, static_cast<uint32_t>(i + 1));
    }
    if (count == 0) {
      const Page& page = store.pages.at(root);
      ByteReader r(page.data(), page.size());
      EXPECT_EQ(r.U16LE(0), 3);
      EXPECT_EQ(r.U16LE(2), 0);
      EXPECT_EQ(r.U16LE(12), 488);
      EXPECT_EQ(r.U8(23), 3);
    }
    if (count == 60000) {
      EXPECT_GE(walk.levels, 3);
    }
    // Every page the writer took was written.
    EXPECT_EQ(store.pages.size(), (store.next - 1024) / kCdxPageSize);
  }
}

// Leaves are closed when fewer than two full entries (key length + 8 + entry size each)
// would fit, or a quarter of the page for long keys, which still share their leaves.
TEST(CdxTreeWriter, LeavesKeepRoomForLaterKeys) {
  for (const int32_t length : {10, 200}) {
    PageStore store;
    const CdxKeyForm form = CharForm(length);
    CdxTreeWriter writer(form, 100000, store.NewPage(), store.Write());
    for (int i = 0; i < 3000; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "X%d", 100000 + i * 7);
      writer.Add(key, i + 1);
    }
    const uint32_t root = writer.Finish();
    const WalkResult walk = WalkTree(store, root, form);
    EXPECT_EQ(walk.keys.size(), 3000u);
    const int reserve = std::min(2 * (4 + length + 8), 488 / 4);
    int closed = 0;
    for (const auto& [offset, page] : store.pages) {
      const CdxPageHead head = ReadCdxPageHead(page);
      if (!head.IsLeaf() || head.right == kCdxNoPage) continue;
      const int free = ByteReader(page.data(), page.size()).U16LE(12);
      EXPECT_LT(free, reserve);
      EXPECT_GE(free, 0);
      EXPECT_GT(head.count, 20);
      ++closed;
    }
    EXPECT_GT(closed, 10);
  }
}

// ---------------------------------------------------------------------------------------
// Fixture leaf chains

// Reads the leaf chain of the tag whose header is at `header`: descends the first
// entries to the leftmost leaf and follows right siblings, refusing loops.
bool WalkFixtureTag(const std::vector<uint8_t>& file, uint32_t header, bool directory,
                    std::vector<CdxEntry>& keys, std::string& why) {
  keys.clear();
  auto fail = [&why](const char* reason) {
    why = reason;
    return false;
  };
  if (header + static_cast<uint64_t>(kCdxHeaderSize) > file.size()) return fail("header");
  CdxHeader h;
  if (!ParseCdxHeader(std::span(file.data() + header, kCdxHeaderSize), h, why)) return false;
  if (h.signature == kCdxSignatureBinary) return fail("binary tag");
  CdxKeyForm form{h.keyLength, ' ', false};
  if (!directory && h.Collation() == CdxCollation::General) form.general = true;
  auto pageAt = [&](uint32_t offset) -> const uint8_t* {
    if (offset % kCdxPageSize != 0 || offset + static_cast<uint64_t>(kCdxPageSize) > file.size())
      return nullptr;
    return file.data() + offset;
  };
  uint32_t page = h.root;
  for (int depth = 0;; ++depth) {
    const uint8_t* bytes = pageAt(page);
    if (!bytes || depth > 64) return fail("descent");
    const std::span<const uint8_t> span(bytes, kCdxPageSize);
    if (ReadCdxPageHead(span).IsLeaf()) break;
    CdxPageHead head;
    std::vector<CdxEntry> entries;
    if (!DecodeCdxBranch(span, form, head, entries, why)) return false;
    if (entries.empty()) return fail("empty branch");
    page = entries[0].child;
  }
  std::set<uint32_t> seen;
  while (page != kCdxNoPage) {
    const uint8_t* bytes = pageAt(page);
    if (!bytes || !seen.insert(page).second) return fail("chain");
    CdxPageHead head;
    CdxLeafParams params;
    std::vector<CdxEntry> entries;
    if (!DecodeCdxLeaf(std::span(bytes, kCdxPageSize), form, head, params, entries, why))
      return false;
    keys.insert(keys.end(), entries.begin(), entries.end());
    page = head.right;
  }
  return true;
}

// Every tag of every fixture CDX: the leaf chain decodes, and its key count is the one
// inspect_fixture.py counts for it.
TEST(CdxFixtureChains, EveryTagDecodesWithTheInspectorsKeyCount) {
  REQUIRE_SHARED();
  const auto files = FixtureFiles(".cdx");
  ASSERT_GT(files.size(), 80u);
  std::string list;
  for (const auto& f : files) list += " '" + f.string() + "'";
  std::string json;
  ASSERT_EQ(RunCommand("python3 '" + (SharedDir() / "peers/inspect_fixture.py").string() +
                           "' --json" + list,
                       &json),
            0);
  // One JSON object per line and file; per tag its header offset and its key count.
  std::istringstream lines(json);
  std::string line;
  size_t fileIndex = 0;
  int tagsCompared = 0;
  const std::regex tagPattern("\"header_offset\": (\\d+)");
  const std::regex keysPattern("\"keys\": (\\d+)");
  while (std::getline(lines, line)) {
    ASSERT_LT(fileIndex, files.size());
    const auto bytes = ReadBytes(files[fileIndex]);
    SCOPED_TRACE(files[fileIndex].string());
    ++fileIndex;
    std::vector<CdxEntry> directory;
    std::string why;
    ASSERT_TRUE(WalkFixtureTag(bytes, 0, true, directory, why)) << why;
    std::vector<std::pair<size_t, size_t>> offsets;
    for (auto it = std::sregex_iterator(line.begin(), line.end(), tagPattern);
         it != std::sregex_iterator(); ++it)
      offsets.emplace_back(static_cast<size_t>(it->position()), std::stoul((*it)[1]));
    ASSERT_EQ(offsets.size(), directory.size());
    for (size_t t = 0; t < offsets.size(); ++t) {
      EXPECT_EQ(offsets[t].second, directory[t].record);
      const size_t end = t + 1 < offsets.size() ? offsets[t + 1].first : line.size();
      const std::string part = line.substr(offsets[t].first, end - offsets[t].first);
      std::smatch m;
      std::vector<CdxEntry> keys;
      const bool ok = WalkFixtureTag(bytes, directory[t].record, false, keys, why);
      if (!std::regex_search(part, m, keysPattern)) {
        EXPECT_FALSE(ok) << "tag " << directory[t].key << " unreadable for the inspector";
        continue;
      }
      if (!ok && why == "binary tag") continue;
      ASSERT_TRUE(ok) << directory[t].key << ": " << why;
      EXPECT_EQ(keys.size(), std::stoul(m[1])) << directory[t].key;
      ++tagsCompared;
    }
  }
  EXPECT_EQ(fileIndex, files.size());
  EXPECT_GT(tagsCompared, 200);
}

}  // namespace
}  // namespace tolvern
