#pragma once
// Scratch directories and whole-file reads and writes, shared by the tests of every subsystem.
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kv::test {

// Makes a new directory under $TMPDIR (or /tmp) whose name starts with `prefix`.
inline std::string makeTempDir(std::string_view prefix) {
  const char *base = getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/";
  templ.append(prefix).append("XXXXXX");
  if (!mkdtemp(templ.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp");
  return templ;
}

// True when $KORVANE_KEEP_SCRATCH is set: scratch directories (the programs' logs and traces,
// the line's log) stay for a look after a failed run under load.
inline bool keepScratch() {
  const char *keep = getenv("KORVANE_KEEP_SCRATCH");
  return keep && *keep;
}

// A fresh temporary directory, removed with everything in it by the destructor.
class TempDir {
 public:
  explicit TempDir(std::string_view prefix = "korvane-test-") : path_(makeTempDir(prefix)) {}
  ~TempDir() {
    if (keepScratch()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }
  // Names of the files in the directory, sorted, for checking that nothing was left behind.
  std::vector<std::string> entries() const {
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(path_))
      out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  std::string path_;
};

// The whole file; empty when it cannot be read.
inline std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::uint8_t> readBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string &path, std::string_view data) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(data.data(), static_cast<std::streamsize>(data.size()));
}

inline void writeBytes(const std::string &path, const std::vector<std::uint8_t> &data) {
  writeFile(path, std::string_view(reinterpret_cast<const char *>(data.data()), data.size()));
}

}  // namespace kv::test
