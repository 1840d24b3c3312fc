#pragma once
// A print scheduler of the test's own: cupsd on a private socket with its configuration, spool
// and logs in a scratch folder, so that a test never touches the system's print queues.
// CUPS_SERVER points the print commands of the test process at it. Stopped at the end.
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QThread>
#include <array>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_files.h"

namespace kv::test {

// Runs a shell command; answers its exit status and, when asked, its output and errors.
inline int Shell(const std::string &cmd, std::string *out = nullptr) {
  std::string text;
  FILE *p = popen((cmd + (out ? " 2>&1" : " 2>/dev/null")).c_str(), "r");
  if (!p) return -1;
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) text.append(buf.data(), n);
  const int status = pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class CupsScheduler {
 public:
  ~CupsScheduler() {
    if (cupsd_.state() != QProcess::NotRunning) {
      cupsd_.terminate();
      cupsd_.waitForFinished(5000);
    }
    if (!socket_.empty()) unsetenv("CUPS_SERVER");
  }
  // Starts it; empty when it runs, otherwise why it could not. `backends` (name, program) are
  // added to the system's backends, installed as root-only programs so that the scheduler runs
  // them as root, as it runs an installed one.
  std::string start(const std::vector<std::pair<std::string, std::string>> &backends = {}) {
    namespace fs = std::filesystem;
    if (geteuid() != 0) return "the scheduler's backends run as root only for root";
    if (!fs::exists("/usr/sbin/cupsd")) return "/usr/sbin/cupsd is not installed";
    const std::string d = dir_.path();
    // The scheduler's filters run as another user and must reach their folders.
    fs::permissions(d, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
    for (const char *sub : {"root/ppd", "spool", "tmp", "cache", "state", "log"})
      fs::create_directories(d + "/" + sub);
    fs::permissions(d + "/tmp", fs::perms::all | fs::perms::sticky_bit);
    std::string serverBin = "/usr/lib/cups";
    if (!backends.empty()) {
      // The system's programs by links, the backend folder a real one holding ours too.
      serverBin = d + "/bin";
      fs::create_directories(serverBin + "/backend");
      for (const auto &e : fs::directory_iterator("/usr/lib/cups"))
        if (e.path().filename() != "backend")
          fs::create_directory_symlink(e.path(), serverBin + "/" + e.path().filename().string());
      for (const auto &e : fs::directory_iterator("/usr/lib/cups/backend"))
        fs::create_symlink(e.path(), serverBin + "/backend/" + e.path().filename().string());
      for (const auto &[name, program] : backends) {
        const std::string to = serverBin + "/backend/" + name;
        fs::copy_file(program, to);
        fs::permissions(to, fs::perms::owner_all, fs::perm_options::replace);
      }
    }
    socket_ = d + "/cups.sock";
    writeFile(d + "/cupsd.conf", "Listen " + socket_ +
                                     "\nLogLevel info\n<Location />\n  Order allow,deny\n"
                                     "  Allow all\n</Location>\n");
    std::string files;
    for (const auto &[key, sub] : std::initializer_list<std::pair<const char *, const char *>>{
             {"ServerRoot", "root"},
             {"RequestRoot", "spool"},
             {"TempDir", "tmp"},
             {"CacheDir", "cache"},
             {"StateDir", "state"},
             {"ErrorLog", "log/error_log"},
             {"AccessLog", "log/access_log"},
             {"PageLog", "log/page_log"}})
      files += std::string(key) + " " + d + "/" + sub + "\n";
    files += "ServerBin " + serverBin + "\nDataDir /usr/share/cups\nSystemGroup root\n";
    writeFile(d + "/cups-files.conf", files);
    cupsd_.start("/usr/sbin/cupsd", {"-f", "-c", QString::fromStdString(d + "/cupsd.conf"), "-s",
                                     QString::fromStdString(d + "/cups-files.conf")});
    if (!cupsd_.waitForStarted(5000)) return "cupsd did not start";
    setenv("CUPS_SERVER", socket_.c_str(), 1);
    for (int i = 0; i < 50 && !fs::exists(socket_); ++i) QThread::msleep(100);
    if (!fs::exists(socket_)) return "cupsd did not open its socket";
    return {};
  }
  std::string errorLog() const { return readFile(dir_.file("log/error_log")); }
  const TempDir &dir() const { return dir_; }

 private:
  TempDir dir_{"korvane-cups-"};
  std::string socket_;
  QProcess cupsd_;
};

}  // namespace kv::test
