#include "platform/pf_text.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

namespace tolvern::platform {

namespace {

const iconv_t kNoIconv = reinterpret_cast<iconv_t>(static_cast<intptr_t>(-1));
constexpr size_t kIconvError = static_cast<size_t>(-1);
constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8.

// A name iconv would take for something other than the code page it names is refused:
// the empty name means the locale's character set, and suffixes ("//TRANSLIT",
// "//IGNORE") change the error behaviour promised here.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos;
}

// An owned iconv conversion descriptor.
class Iconv {
 public:
  Iconv() = default;
  Iconv(const std::string& to, const std::string& from)
      : cd_(IsPlainName(to) && IsPlainName(from) ? ::iconv_open(to.c_str(), from.c_str())
                                                 : kNoIconv) {}
  ~Iconv() {
    if (cd_ != kNoIconv) ::iconv_close(cd_);
  }
  Iconv(Iconv&& other) noexcept : cd_(std::exchange(other.cd_, kNoIconv)) {}
  Iconv& operator=(Iconv&& other) noexcept {
    std::swap(cd_, other.cd_);
    return *this;
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool Valid() const { return cd_ != kNoIconv; }

  void Reset() { ::iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

  // Converts the whole of [in, in + inLength) into `out` (capacity `outCapacity`),
  // including any closing shift sequence. Answers the bytes written, or -1 on failure.
  long ConvertWhole(const char* in, size_t inLength, char* out, size_t outCapacity) {
    Reset();
    char* inPtr = const_cast<char*>(in);
    size_t inLeft = inLength;
    char* outPtr = out;
    size_t outLeft = outCapacity;
    if (::iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == kIconvError || inLeft != 0) return -1;
    if (::iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == kIconvError) return -1;
    return static_cast<long>(outPtr - out);
  }

  iconv_t Get() const { return cd_; }

 private:
  iconv_t cd_ = kNoIconv;
};

using ByteTable = std::array<unsigned char, 256>;

ByteTable IdentityTable() {
  ByteTable table{};
  for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<unsigned char>(i);
  return table;
}

// Byte b of `from` as one byte of `to`; bytes without a single-byte counterpart
// keep their value.
ByteTable BuildTranslation(const std::string& from, const std::string& to) {
  ByteTable table = IdentityTable();
  Iconv cd(to, from);
  if (!cd.Valid()) return table;
  for (size_t b = 0; b < table.size(); ++b) {
    const char in = static_cast<char>(b);
    char out[16];
    if (cd.ConvertWhole(&in, 1, out, sizeof out) == 1) {
      table[b] = static_cast<unsigned char>(out[0]);
    }
  }
  return table;
}

// The wide-character case functions of a UTF-8 C locale, whatever the global locale.
locale_t CaseLocale() {
  static const locale_t locale = [] {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      if (locale_t l = ::newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr))) return l;
    }
    return static_cast<locale_t>(nullptr);
  }();
  return locale;
}

wint_t MapCase(wint_t c, bool upper) {
  if (locale_t l = CaseLocale()) return upper ? ::towupper_l(c, l) : ::towlower_l(c, l);
  return upper ? ::towupper(c) : ::towlower(c);
}

void BuildCaseTables(const std::string& ansi, ByteTable& upper, ByteTable& lower) {
  upper = IdentityTable();
  lower = IdentityTable();
  Iconv toWide("WCHAR_T", ansi);
  Iconv fromWide(ansi, "WCHAR_T");
  if (toWide.Valid() && fromWide.Valid()) {
    for (size_t b = 0; b < upper.size(); ++b) {
      const char in = static_cast<char>(b);
      wchar_t wide[4];
      const long n = toWide.ConvertWhole(&in, 1, reinterpret_cast<char*>(wide), sizeof wide);
      if (n != static_cast<long>(sizeof(wchar_t))) continue;
      for (const bool toUpper : {true, false}) {
        const wint_t mapped = MapCase(static_cast<wint_t>(wide[0]), toUpper);
        if (mapped == static_cast<wint_t>(wide[0])) continue;
        const auto back = static_cast<wchar_t>(mapped);
        char out[16];
        if (fromWide.ConvertWhole(reinterpret_cast<const char*>(&back), sizeof back, out,
                                  sizeof out) == 1) {
          (toUpper ? upper : lower)[b] = static_cast<unsigned char>(out[0]);
        }
      }
    }
  }
  for (int c = 'a'; c <= 'z'; ++c) {
    upper[static_cast<size_t>(c)] = static_cast<unsigned char>(c - 'a' + 'A');
    lower[static_cast<size_t>(c - 'a' + 'A')] = static_cast<unsigned char>(c);
  }
}

struct CodePageTables {
  std::string oem;
  std::string ansi;
  ByteTable oemToAnsi;
  ByteTable ansiToOem;
  ByteTable upper;
  ByteTable lower;
};

std::unique_ptr<CodePageTables> BuildTables(const std::string& oem, const std::string& ansi) {
  auto tables = std::make_unique<CodePageTables>();
  tables->oem = oem;
  tables->ansi = ansi;
  tables->oemToAnsi = BuildTranslation(oem, ansi);
  tables->ansiToOem = BuildTranslation(ansi, oem);
  BuildCaseTables(ansi, tables->upper, tables->lower);
  return tables;
}

// Every pair's tables are built once and kept for the life of the process, so a reader
// holding the current pointer never sees them go; readers only load the pointer.
struct TableStore {
  std::mutex mutex;
  std::vector<std::unique_ptr<CodePageTables>> built;
  std::atomic<const CodePageTables*> current{nullptr};
};

TableStore& Store() {
  static TableStore store;
  return store;
}

// With the store's mutex held.
const CodePageTables* FindOrBuild(TableStore& store, const std::string& oem,
                                  const std::string& ansi) {
  for (const auto& t : store.built) {
    if (t->oem == oem && t->ansi == ansi) return t.get();
  }
  store.built.push_back(BuildTables(oem, ansi));
  return store.built.back().get();
}

const CodePageTables& Tables() {
  TableStore& store = Store();
  if (const CodePageTables* t = store.current.load(std::memory_order_acquire)) return *t;
  std::lock_guard<std::mutex> guard(store.mutex);
  const CodePageTables* t = store.current.load(std::memory_order_relaxed);
  if (!t) {
    t = FindOrBuild(store, "CP866", "CP1251");
    store.current.store(t, std::memory_order_release);
  }
  return *t;
}

void Translate(const ByteTable& table, char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    text[i] = static_cast<char>(table[static_cast<unsigned char>(text[i])]);
  }
}

// A per-thread cache of the descriptors of ToUtf8/FromUtf8 (iconv_open loads modules
// and is far slower than a short conversion). A descriptor is used by one thread only.
Iconv& CachedIconv(const std::string& to, const std::string& from) {
  thread_local std::map<std::pair<std::string, std::string>, Iconv> cache;
  auto key = std::make_pair(to, from);
  if (auto it = cache.find(key); it != cache.end()) {
    it->second.Reset();
    return it->second;
  }
  Iconv cd(to, from);
  if (!cd.Valid()) {
    const int err = errno;
    const std::string& name = IsKnownCodePage(from) ? to : from;
    if (!IsPlainName(to) || !IsPlainName(from) || err == EINVAL)
      throw std::invalid_argument("unknown code page '" + name + "'");
    throw std::system_error(err, std::generic_category(), "iconv_open");
  }
  if (cache.size() >= 32) cache.clear();
  return cache.emplace(std::move(key), std::move(cd)).first->second;
}

}  // namespace

bool SetCodePages(const std::string& oem, const std::string& ansi) {
  if (!IsKnownCodePage(oem) || !IsKnownCodePage(ansi)) return false;
  TableStore& store = Store();
  std::lock_guard<std::mutex> guard(store.mutex);
  store.current.store(FindOrBuild(store, oem, ansi), std::memory_order_release);
  return true;
}

std::string OemCodePage() { return Tables().oem; }
std::string AnsiCodePage() { return Tables().ansi; }

void OemToAnsi(char* text, size_t length) { Translate(Tables().oemToAnsi, text, length); }
void AnsiToOem(char* text, size_t length) { Translate(Tables().ansiToOem, text, length); }

std::string OemToAnsi(std::string text) {
  OemToAnsi(text.data(), text.size());
  return text;
}

std::string AnsiToOem(std::string text) {
  AnsiToOem(text.data(), text.size());
  return text;
}

unsigned char AnsiUpper(unsigned char c) { return Tables().upper[c]; }
unsigned char AnsiLower(unsigned char c) { return Tables().lower[c]; }
void AnsiUpperInPlace(char* text, size_t length) { Translate(Tables().upper, text, length); }
void AnsiLowerInPlace(char* text, size_t length) { Translate(Tables().lower, text, length); }

std::string AnsiUpper(std::string text) {
  AnsiUpperInPlace(text.data(), text.size());
  return text;
}

std::string AnsiLower(std::string text) {
  AnsiLowerInPlace(text.data(), text.size());
  return text;
}

std::string ToUtf8(const std::string& bytes, const std::string& from) {
  Iconv& cd = CachedIconv("UTF-8", from);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  char* inPtr = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    const size_t rc = ::iconv(cd.Get(), &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    if (rc != kIconvError || errno == E2BIG) continue;
    // An invalid or incomplete sequence (or a byte the code page leaves undefined):
    // one replacement character for its first byte, then go on after it.
    out += kReplacement;
    ++inPtr;
    --inLeft;
  }
  char* outPtr = buffer;
  size_t outLeft = sizeof buffer;
  ::iconv(cd.Get(), nullptr, nullptr, &outPtr, &outLeft);
  out.append(buffer, static_cast<size_t>(outPtr - buffer));
  return out;
}

bool FromUtf8(const std::string& text, const std::string& to, std::string& out) {
  Iconv& cd = CachedIconv(to, "UTF-8");
  out.clear();
  out.reserve(text.size());
  char* inPtr = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    const size_t rc = ::iconv(cd.Get(), &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    if (rc != kIconvError || errno == E2BIG) continue;
    return false;  // No counterpart, or invalid UTF-8.
  }
  char* outPtr = buffer;
  size_t outLeft = sizeof buffer;
  if (::iconv(cd.Get(), nullptr, nullptr, &outPtr, &outLeft) == kIconvError) return false;
  out.append(buffer, static_cast<size_t>(outPtr - buffer));
  return true;
}

bool IsKnownCodePage(const std::string& name) {
  return Iconv("UTF-8", name).Valid() && Iconv(name, "UTF-8").Valid();
}

}  // namespace tolvern::platform
