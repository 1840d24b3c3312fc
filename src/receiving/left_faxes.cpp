#include "receiving/left_faxes.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <set>

#include "app/storage/ttable.h"
#include "base/file_error.h"
#include "base/file_replacement.h"
#include "faximage/apf_file.h"
#include "receiving/received_file.h"

namespace kv {

namespace {

constexpr const char *kAdoptedNote = "Incomplete: found after the program stopped";

std::set<std::string> namesInTable(TTable &table) {
  std::set<std::string> names;
  for (int r = 0; r < table.RowCount(); ++r)
    names.insert(table.ValueAt(r, "FAXFILE").toString().trimmed().toStdString());
  return names;
}

// An open descriptor that closes (and so unlocks) when it goes.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// Rewrites the page count of the file's main header; false when it could not.
bool countPages(int fd, int pages) {
  std::array<std::uint8_t, kApfMainHeaderSize> b{};
  ApfMainHeader h;
  if (readAt(fd, b.data(), b.size(), 0) != Result(b.size()) || ApfMainHeader::fromBytes(b, h) < 0)
    return false;
  h.pageCount = std::uint16_t(pages);
  const auto out = h.toBytes();
  return writeAt(fd, out.data(), out.size(), 0) == ecOK && ::fsync(fd) == 0;
}

}  // namespace

bool IsReceivedFaxName(const std::string &name) {
  return name.size() == 11 && name.starts_with("FAX") && name.ends_with(".APF") &&
         std::all_of(name.begin() + 3, name.begin() + 7,
                     [](char c) { return c >= '0' && c <= '9'; });
}

std::string LeftFaxes::report() const {
  if (empty()) return {};
  std::string text;
  auto line = [&text](const std::string &s) { text += (text.empty() ? "" : "\r") + s; };
  for (const ReceivedFax &f : adopted)
    line(std::filesystem::path(f.file).filename().string() + " (" + std::to_string(f.pages) +
         " page(s)) was found after the program stopped and is now in the list of received "
         "faxes.");
  for (const std::string &f : removed)
    line(std::filesystem::path(f).filename().string() +
         " was found after the program stopped without a readable page and was removed.");
  for (const std::string &f : failed) line(f);
  return text;
}

LeftFaxes AdoptLeftFaxes(TTable &table, const std::string &receiveDir) {
  namespace fs = std::filesystem;
  LeftFaxes out;
  const std::set<std::string> named = namesInTable(table);
  std::vector<fs::path> candidates;
  std::error_code ec;
  for (const fs::directory_entry &e : fs::directory_iterator(receiveDir, ec)) {
    const std::string name = e.path().filename().string();
    if (IsReceivedFaxName(name) && !named.count(name) && e.is_regular_file(ec))
      candidates.push_back(e.path());
  }
  std::sort(candidates.begin(), candidates.end());
  for (const fs::path &p : candidates) {
    const std::string file = p.string();
    Fd f;
    f.fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (f.fd < 0 && (errno == EACCES || errno == EROFS))
      f.fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (f.fd < 0) {
      if (errno != ENOENT)
        out.failed.push_back(p.filename().string() +
                             " could not be checked: " + SystemReason(errno));
      continue;
    }
    // A receiver holds its file locked while it writes: that fax is not left behind.
    if (::flock(f.fd, LOCK_EX | LOCK_NB) != 0) continue;
    struct stat st = {};
    if (::fstat(f.fd, &st) != 0 || st.st_nlink == 0) continue;  // removed meanwhile
    const ReadBack rb = ReadReceivedFile(file);
    if (rb.pages == 0) {
      // Removed under the lock, so a receiver that has just created it sees its name go and
      // takes another.
      if (::unlink(file.c_str()) == 0)
        out.removed.push_back(file);
      else
        out.failed.push_back(p.filename().string() +
                             " could not be removed: " + SystemReason(errno));
      continue;
    }
    // Pages the header counts but the disk never got (a power cut) are no longer counted, so
    // that the file opens with the pages its row gives.
    if (rb.pages < rb.claimed) countPages(f.fd, rb.pages);
    ReceivedFax fax;
    fax.file = file;
    fax.pages = rb.pages;
    fax.notes = kAdoptedNote;
    fax.complete = false;
    fax.when = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
    if (ApfReader reader; reader.open(file) >= 0) {
      std::string id = reader.header().senderId;
      id.erase(id.find_last_not_of(' ') + 1);
      fax.from = id;
    }
    if (AppendReceivedRow(table, fax))
      out.adopted.push_back(fax);
    else
      out.failed.push_back(p.filename().string() +
                           " was found after the program stopped but could not be added to the "
                           "list: " +
                           table.LastError().toStdString());
  }
  return out;
}

}  // namespace kv
