#include "receiving/unread_faxes.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <span>

#include "base/file_replacement.h"

namespace kv {

namespace {

// Far more than any receive folder's names (12 characters a line).
constexpr long kMaxListBytes = 1 << 20;

std::string listPath(const std::string &receiveDir) {
  return receiveDir + "/" + kUnreadListName;
}

// A name of the receive folder itself: no directory part, nothing a line could hide.
bool plainName(const std::string &name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
  for (unsigned char c : name)
    if (c == '/' || c < 0x20 || c == 0x7f) return false;
  return true;
}

}  // namespace

std::set<std::string> LoadUnreadFaxes(const std::string &receiveDir, std::string *problem) {
  std::set<std::string> names;
  const std::string path = listPath(receiveDir);
  auto fail = [&](const std::string &why) {
    if (problem) *problem = path + ": " + why;
    return std::set<std::string>{};
  };
  if (problem) problem->clear();
  struct stat st;
  std::memset(&st, 0, sizeof st);
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? names : fail(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return fail("not a plain file");
  if (st.st_size > kMaxListBytes) return fail("too large for a list of unread faxes");
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(std::strerror(errno));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (plainName(line)) names.insert(line);
  }
  return names;
}

bool MarkFaxUnread(const std::string &receiveDir, const std::string &faxFile, bool unread,
                   std::string &problem) {
  problem.clear();
  if (!plainName(faxFile)) {
    problem = "\"" + faxFile + "\" is not a file of the receive folder";
    return false;
  }
  std::set<std::string> names = LoadUnreadFaxes(receiveDir, &problem);
  if (!problem.empty()) return false;
  if ((names.count(faxFile) > 0) == unread) return true;
  if (unread)
    names.insert(faxFile);
  else
    names.erase(faxFile);
  std::string text;
  for (const std::string &n : names) text += n + "\n";
  const auto *bytes = reinterpret_cast<const std::uint8_t *>(text.data());
  return WriteWholeFile(listPath(receiveDir), std::span(bytes, text.size()), problem) == 0;
}

}  // namespace kv
