#include "base/work_files.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>

namespace kv {

namespace {

std::atomic<unsigned> workCounter{0};

std::string joined(const std::string &dir, std::string_view name) {
  if (dir.empty()) return std::string(name);
  std::string path = dir;
  if (path.back() != '/') path += '/';
  return path.append(name);
}

bool exists(const std::string &path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Another user's process answers EPERM: it runs, and its files are not ours to judge.
bool processRuns(pid_t pid) {
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

// The owner's id when `name` is <prefix><pid>-<digits><suffix>, else 0.
pid_t ownerOf(std::string_view name, std::string_view prefix, std::string_view suffix) {
  if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) ||
      !name.ends_with(suffix))
    return 0;
  const std::string_view middle =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  const auto dash = middle.find('-');
  if (dash == std::string_view::npos || dash + 1 == middle.size()) return 0;
  for (char c : middle.substr(dash + 1))
    if (c < '0' || c > '9') return 0;
  pid_t pid = 0;
  const auto [end, ec] = std::from_chars(middle.data(), middle.data() + dash, pid);
  return ec == std::errc() && end == middle.data() + dash ? pid : 0;
}

}  // namespace

std::string WorkFileName(const std::string &dir, std::string_view prefix, std::string_view suffix) {
  const std::string owner = std::to_string(::getpid()) + "-";
  for (;;) {
    std::string name(prefix);
    name.append(owner).append(std::to_string(workCounter++)).append(suffix);
    std::string path = joined(dir, name);
    // A file of that name outlived a process of the same id before a restart.
    if (!exists(path)) return path;
  }
}

namespace {

// Removes the files of `dir` for which `owner` names a process that no longer runs.
template <typename Owner>
int removeStale(const std::string &dir, const Owner &owner) {
  DIR *d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return 0;
  int removed = 0;
  while (const dirent *e = ::readdir(d)) {
    const pid_t pid = owner(std::string_view(e->d_name));
    if (pid <= 0 || processRuns(pid)) continue;
    if (::unlink(joined(dir, e->d_name).c_str()) == 0) ++removed;
  }
  ::closedir(d);
  return removed;
}

}  // namespace

int RemoveStaleWorkFiles(const std::string &dir, std::string_view prefix, std::string_view suffix) {
  return removeStale(dir, [&](std::string_view name) { return ownerOf(name, prefix, suffix); });
}

int RemoveStaleMarkedFiles(const std::string &dir, std::string_view marker) {
  return removeStale(dir, [&](std::string_view name) -> pid_t {
    const auto at = name.rfind(marker);
    if (at == std::string_view::npos || at == 0) return 0;
    return ownerOf(name, name.substr(0, at + marker.size()), "");
  });
}

}  // namespace kv
