#pragma once
// Comparing the words an independent reader (OCR) finds on fax pages with the words a document
// holds: both sides cut into lower-case words of letters and digits, then the share of the
// expected words (counted with repeats) that the reader found.
#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace kv::test {

// The standard output of a shell command ("" when it cannot be started).
inline std::string commandOutput(const std::string &cmd) {
  std::string out;
  if (FILE *p = popen((cmd + " 2>/dev/null").c_str(), "r")) {
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    pclose(p);
  }
  return out;
}

// Words of two or more letters or digits; other characters separate words.
inline std::vector<std::string> plainWords(const std::string &text) {
  std::vector<std::string> words;
  std::string w;
  for (char ch : text + ' ') {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c)) {
      w += static_cast<char>(std::tolower(c));
    } else {
      if (w.size() >= 2) words.push_back(w);
      w.clear();
    }
  }
  return words;
}

// The share (0..1) of `expected` found in `found`, each found word used once.
inline double wordRecall(const std::vector<std::string> &expected,
                         const std::vector<std::string> &found) {
  if (expected.empty()) return 1.0;
  std::map<std::string, int> have;
  for (const auto &w : found) ++have[w];
  int hits = 0;
  for (const auto &w : expected)
    if (auto it = have.find(w); it != have.end() && it->second > 0) {
      --it->second;
      ++hits;
    }
  return static_cast<double>(hits) / static_cast<double>(expected.size());
}

}  // namespace kv::test
