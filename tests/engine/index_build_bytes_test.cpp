// Index builds give the same files, byte for byte, whatever the sorter does inside: NTX,
// NDX, CDX and MDX files built on generated tables are compared with the SHA-256 sums of
// files known to be right (checked against the peers by the format tests), once with the
// whole build in memory and once with a memory budget so small that every build spills.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "kx6_build.h"
#include "kx6_cdx.h"
#include "kx6_fld.h"
#include "kx6_mdx.h"
#include "kx6_ndx.h"
#include "kx6_ntx.h"
#include "kx6_sort.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::ReadBytes;
using fendral::test::TempDir;

// --- SHA-256 ---------------------------------------------------------------------------

std::string Sha256(const std::vector<uint8_t>& data) {
  static constexpr std::array<uint32_t, 64> k = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
      0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
      0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
      0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
      0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
      0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
      0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
      0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
      0xc67178f2};
  std::array<uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                               0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::vector<uint8_t> msg = data;
  const uint64_t bits = static_cast<uint64_t>(data.size()) * 8;
  msg.push_back(0x80);
  while (msg.size() % 64 != 56) msg.push_back(0);
  for (int i = 7; i >= 0; --i) msg.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  for (size_t block = 0; block < msg.size(); block += 64) {
    std::array<uint32_t, 64> w{};
    for (int i = 0; i < 16; ++i) {
      const uint8_t* p = &msg[block + 4 * static_cast<size_t>(i)];
      w[i] = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    }
    for (int i = 16; i < 64; ++i) {
      const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      const uint32_t t1 =
          hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += hh;
  }
  std::string hex;
  char part[9];
  for (uint32_t v : h) {
    std::snprintf(part, sizeof part, "%08x", v);
    hex += part;
  }
  return hex;
}

TEST(IndexBuildBytes, Sha256OfKnownTexts) {
  EXPECT_EQ(Sha256({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  const std::string abc = "abc";
  EXPECT_EQ(Sha256(std::vector<uint8_t>(abc.begin(), abc.end())),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// --- the tables --------------------------------------------------------------------------

// `count` records of NAME C 20, CITY C 15, AMOUNT N 12 2, BORN D, FLAG L from a fixed
// pseudo-random sequence: repeated names and cities, blank names, negative amounts,
// empty dates, names with lower-case letters and bytes above 127.
std::string MakeTable(const TempDir& dir, const std::string& file, int count, uint32_t seed) {
  const std::string path = dir.File(file);
  {
    KXO_DBFBuild build(path);
    build.AddField("NAME", 'C', 20, 0);
    build.AddField("CITY", 'C', 15, 0);
    build.AddField("AMOUNT", 'N', 12, 2);
    build.AddField("BORN", 'D', 8, 0);
    build.AddField("FLAG", 'L', 1, 0);
    build.WriteTable();
  }
  static const char* const first[] = {"anna",  "Boris", "CLARA", "dmitri",   "Eva",
                                      "FELIX", "greta", "Hugo",  "\xC9mile", "Zo\xEB"};
  static const char* const cities[] = {"Berlin", "Moscow", "oslo", "Paris", "Rome", "Wien", ""};
  uint32_t state = seed;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  KXO_dBaseFld table(path, true, false);
  char text[64];
  for (int i = 1; i <= count; ++i) {
    table.BlankRecord();
    const uint32_t r = next();
    if (r % 97 != 0) {
      std::snprintf(text, sizeof text, "%s %05u", first[r % 10], next() % (count / 3 + 1));
      table.PutFieldByName("NAME", text);
    }
    table.PutFieldByName("CITY", cities[next() % 7]);
    std::snprintf(text, sizeof text, "%.2f",
                  (static_cast<double>(next() % 2000000) - 600000.0) / 100.0);
    table.PutFieldByName("AMOUNT", text);
    const uint32_t d = next();
    if (d % 23 != 0) {
      std::snprintf(text, sizeof text, "%04u%02u%02u", 1900 + d % 130, 1 + (d >> 8) % 12,
                    1 + (d >> 12) % 28);
      table.PutFieldByName("BORN", text);
    }
    table.PutLogicalByName("FLAG", next() % 3 == 0);
    table.AppendRecord();
  }
  return path;
}

struct TagSpec {
  const char* name;
  const char* key;
  const char* forExpr;
  bool ascending;
  bool unique;
};

const std::vector<TagSpec>& Tags() {
  static const std::vector<TagSpec> tags = {
      {"NAME", "NAME", "", true, false},
      {"UNAMECITY", "UPPER(NAME)+CITY", "", true, false},
      {"BORNAMT", "DTOS(BORN)+STR(AMOUNT,12,2)", "", true, false},
      {"AMOUNT", "AMOUNT", "", true, false},
      {"BORN", "BORN", "", true, false},
      {"NAMEDESC", "NAME", "", false, false},
      {"CITYU", "CITY", "", true, true},
      {"NAMEFLAG", "NAME", "FLAG", true, false},
  };
  return tags;
}

// The SHA-256 of every file a build writes, in a fixed order. The MDX header's two dates
// (the day of the build) are left out.
std::vector<std::string> BuildAll(const TempDir& dir, const std::string& tablePath,
                                  const std::string& prefix) {
  std::vector<std::string> sums;
  KXO_dBaseFld table(tablePath, true, false);
  for (size_t i = 0; i < Tags().size(); ++i) {
    const TagSpec& t = Tags()[i];
    const std::string path = dir.File(prefix + std::to_string(i) + ".ntx");
    {
      KXobjNTXFile index(&table, path, true, true, true, false);
      index.TagAdd(t.name, t.key, t.forExpr, t.ascending, t.unique);
    }
    sums.push_back(Sha256(ReadBytes(path)));
  }
  // NDX files: ascending keys of each type, with and without unique.
  for (size_t i : {0u, 1u, 2u, 3u, 4u, 6u}) {
    const TagSpec& t = Tags()[i];
    const std::string path = dir.File(prefix + std::to_string(i) + ".ndx");
    {
      KXobjNDXFile index(&table, path, true, true, true, false);
      index.TagAdd(t.name, t.key, t.forExpr, true, t.unique);
    }
    sums.push_back(Sha256(ReadBytes(path)));
  }
  {
    const std::string path = dir.File(prefix + ".cdx");
    {
      KXobjCDXFile index(&table, path, true, true, true, false);
      for (const TagSpec& t : Tags()) index.TagAdd(t.name, t.key, t.forExpr, t.ascending, t.unique);
    }
    sums.push_back(Sha256(ReadBytes(path)));
  }
  {
    const std::string path = dir.File(prefix + ".mdx");
    {
      KXobjMDXFile index(&table, path, true, true, true, false);
      for (const TagSpec& t : Tags()) index.TagAdd(t.name, t.key, t.forExpr, t.ascending, t.unique);
    }
    std::vector<uint8_t> bytes = ReadBytes(path);
    for (size_t at : {1u, 2u, 3u, 44u, 45u, 46u})
      if (at < bytes.size()) bytes[at] = 0;
    sums.push_back(Sha256(bytes));
  }
  return sums;
}

std::string Joined(const std::vector<std::string>& sums) {
  std::string out;
  for (const std::string& s : sums) out += "      \"" + s + "\",\n";
  return out;
}

class SortBudget {
 public:
  explicit SortBudget(size_t bytes) : previous_(TkxSort::SetDefaultMemoryBudget(bytes)) {}
  ~SortBudget() { TkxSort::SetDefaultMemoryBudget(previous_); }

 private:
  size_t previous_;
};

TEST(IndexBuildBytes, TheDefaultBudgetReachesNewSortersOnly) {
  TkxSort before(20, false, true, nullptr);
  {
    SortBudget small(128 * 1024);
    TkxSort after(20, false, true, nullptr);
    TkxVariant key(32);
    for (int32_t i = 1; i <= 20000; ++i) {
      const std::string text = "KEY " + std::to_string((i * 7919) % 20000);
      key.SetText(text);
      after.InsertKey(key, i);
      before.InsertKey(key, i);
    }
    EXPECT_GT(after.SpilledRuns(), 0u);
    EXPECT_EQ(before.SpilledRuns(), 0u);
    // Spilled or not, the same pairs in the same order.
    TkxVariant a(32), b(32);
    int32_t ra = 0, rb = 0, n = 0;
    while (after.RetrieveKey(a, ra)) {
      ASSERT_TRUE(before.RetrieveKey(b, rb));
      ASSERT_EQ(std::string(reinterpret_cast<const char*>(a.Data()), a.Length()),
                std::string(reinterpret_cast<const char*>(b.Data()), b.Length()));
      ASSERT_EQ(ra, rb);
      ++n;
    }
    EXPECT_EQ(n, 20000);
  }
  EXPECT_EQ(TkxSort::SetDefaultMemoryBudget(TkxSort::kDefaultMemoryBudget),
            TkxSort::kDefaultMemoryBudget);
}

TEST(IndexBuildBytes, FilesStayTheSameInMemoryAndSpilled) {
  TempDir dir;
  const std::string table = MakeTable(dir, "big.dbf", 30000, 20261208u);
  const std::vector<std::string> expected = {
      "a62c92bd56031e42fe7a98478ca8de34b02881e066b468c623b676cd0597b96b",
      "29e04061191f2632cd184e817304f8e12bdf7cfdee920a4f2490c47c23f3ad22",
      "6e146ab46cdaa91929a45c84f0a9e7211b83d2b4350cf9f9097dcdbde9505eda",
      "7fd513f2ffa44d883b9350358c547843a702650fc92f3f43bf580a084cbcebbf",
      "c60c8e3c71b7b67b33bfeb67150e545e9c6f36427f2907bfbe81feb0d5edd9cb",
      "99ac2b0d584d8f73c7d3d8b9766be9836175072d463955931481fc4bb0e4165c",
      "4a10155b9b1b9c3e23e21853f0102002f7d5cdd47e4feee4e3e035b9eb7c66c1",
      "21f20f7669fc7e72c17a784ff4c46865607949517cd35f13914770f7de053fb3",
      "75686d7d33bf6a0fbb7b8d2dc5616c55b77c43ed04df8485f3662ae164953fe7",
      "33e562f17f29d08f758b3c0bf7e3da1640a1acc9ee5d0904180660240a6cf8e3",
      "f2c52b5e7053cfe07f199ffdcb3ff32247fca65bc7b7741b559ba844f17fc4a1",
      "2f825902107aaee6309b47b89a8ab176f54cfccd777e3f7a2fa3f5694a088d52",
      "92243518c0df5c9f0c31d9136f648d94ead46a782ce7fd30def5847076aff668",
      "eef01e39732b275694b6cd6225228a524935c7d0f062131d79547abb6c6e99c9",
      "0a6ed1cb97bc6f89583614994534d6e2f38b0c3085aa8fac5dfd311d61877c49",
      "86882969bfd740a509fbc391c15ee6b99bfd73eb3bdcca41e071114c5b341da4",
  };
  const std::vector<std::string> inMemory = BuildAll(dir, table, "m");
  EXPECT_EQ(inMemory, expected) << "got:\n" << Joined(inMemory);
  {
    SortBudget small(128 * 1024);
    const std::vector<std::string> spilled = BuildAll(dir, table, "s");
    EXPECT_EQ(spilled, expected) << "got:\n" << Joined(spilled);
  }
}

TEST(IndexBuildBytes, SmallTablesWithFewKeys) {
  TempDir dir;
  const std::string table = MakeTable(dir, "small.dbf", 40, 7u);
  const std::vector<std::string> expected = {
      "540d32edfae7deb4e407ef8c4e176b78a86fb118771aadca2b766dd7922387fc",
      "b2b151afba9f362024dfbd4e7508b6a6cd11b6e448466506bf2ae502cd172738",
      "3719743dbc2fd1e3e00718d1be2dbc57b3301955741021ca7dd024d1cb323445",
      "18ce08ac1b75ec436e4ea936352797d7389c4ced5797db2426b90046d3a70dc4",
      "30b13dbef97fc13fc197d45b3e6d8cda62ea961ef2c355c50fec238d2c07dbca",
      "4e4d8745d0878919417ef3ec97666f0ef7b076fef6cde4eacb9b318b44b58da2",
      "d36ae0760b85448d9c802c647d7e047989b3f86fe0cb2d3b5b1e6084d69ed498",
      "132b771c8465d9bc0333bf733f333590f0d696682c5ed843a0cf36dab0f7fbbe",
      "994f662003e932d4f3f154194bfde54d040486a76a885ebc1a6bb8e2be665391",
      "0183e2c48882b724b45c01f0c26093ac727d79078a844daf5a75bbab5829f1df",
      "e3f2cd00e34a66fa3977d15596bf8eaaa763dfda1b2b2cc9ca68995a792832bc",
      "c5ca0edf5907a47cb1bf820d013be7dc62810ebc9280f8750d581171765aa7c5",
      "44ed9e70a674d243dfbefd6665f3f125312e6a1069b6c3598cae2cc271fd12d4",
      "0daadd075bab457e621ccba5f1711c8e048782cdfd51b3c12afc3bcc45982bd4",
      "3f42b9a8af14b2175ef961d1379926aa06a77bf7b8bb0df5ecc6ae041370a022",
      "6a1a9b5c9fade0b12da8b08f9cdaaff22ebea1fc678529a1c99210d77e151541",
  };
  const std::vector<std::string> sums = BuildAll(dir, table, "x");
  EXPECT_EQ(sums, expected) << "got:\n" << Joined(sums);
}

}  // namespace
}  // namespace tolvern
