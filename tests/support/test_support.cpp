#include "test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace fendral::test {

fs::path SharedDir() {
  static const fs::path dir = [] {
    if (const char* env = std::getenv("FENDRAL_SHARED_DIR")) {
      if (fs::is_directory(env)) return fs::path(env);
    }
#ifdef FENDRAL_SHARED_DIR
    if (fs::is_directory(FENDRAL_SHARED_DIR)) return fs::canonical(FENDRAL_SHARED_DIR);
#endif
    return fs::path();
  }();
  return dir;
}

fs::path FixturesDir() {
  const fs::path shared = SharedDir();
  if (shared.empty() || !fs::is_directory(shared / "fixtures")) return {};
  return shared / "fixtures";
}

std::vector<fs::path> FixtureFiles(const std::string& ext) {
  std::vector<fs::path> files;
  const fs::path root = FixturesDir();
  if (root.empty()) return files;
  std::string want = ext;
  std::transform(want.begin(), want.end(), want.begin(), ::tolower);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::string e = entry.path().extension().string();
    std::transform(e.begin(), e.end(), e.begin(), ::tolower);
    if (e == want) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TempDir::TempDir() {
  std::string templ = (fs::temp_directory_path() / "fendral-test-XXXXXX").string();
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::vector<uint8_t> ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& file, const std::vector<uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
}

int RunCommand(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::array<char, 4096> buf{};
  std::string text;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) text.append(buf.data(), n);
  const int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {
std::string PeersDir() { return (SharedDir() / "peers").string(); }
}  // namespace

bool MakePeerTables(const TempDir& dir, int seed, int records, const std::string& only) {
  return RunCommand("/usr/bin/python3 '" + PeersDir() + "/make_tables.py' '" +
                    dir.Path().string() + "' --seed " + std::to_string(seed) + " --records " +
                    std::to_string(records) + (only.empty() ? "" : " --only " + only) +
                    " >/dev/null 2>&1") == 0;
}

int PeerCheck(const std::string& expected, const std::string& table, std::string* report) {
  std::string out;
  const int rc = RunCommand("/usr/bin/python3 '" + PeersDir() + "/check_table.py' '" + expected +
                                "' '" + table + "' 2>&1",
                            &out);
  if (report)
    *report = out;
  else if (rc != 0)
    std::fputs(out.c_str(), stderr);
  return rc;
}

bool EditExpected(const std::string& expected, const std::string& out, const std::string& edit) {
  WriteText(out + ".py",
            "import json,sys\n"
            "e=json.load(open(sys.argv[1],encoding='utf-8'))\n" +
                edit + "json.dump(e,open(sys.argv[2],'w',encoding='utf-8'))\n");
  return RunCommand("/usr/bin/python3 '" + out + ".py' '" + expected + "' '" + out + "'") == 0;
}

}  // namespace fendral::test
