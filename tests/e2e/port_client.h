#pragma once
// The program's side of a pseudo-terminal port, for tests: open, write commands, read
// until a reply shows up.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace kv::test {

class PortClient {
 public:
  explicit PortClient(const std::string &path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0) {
      termios t{};
      tcgetattr(fd_, &t);
      cfmakeraw(&t);
      tcsetattr(fd_, TCSANOW, &t);
    }
  }
  ~PortClient() { close(); }
  PortClient(const PortClient &) = delete;
  PortClient &operator=(const PortClient &) = delete;

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  bool send(const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else {
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 5000) <= 0) return false;
      }
    }
    return true;
  }
  bool command(const std::string &line) { return send(line + "\r"); }
  // Echo off, verbose results and Class 1, with `extra` settings (e.g. "S0=1"); false when the
  // modem does not agree.
  bool selectClassOne(const std::string &extra = "") {
    using std::chrono::seconds;
    return isOpen() && command("ATE0V1" + extra) && expect("OK\r\n", seconds(3)) &&
           command("AT+FCLASS=1") && expect("OK\r\n", seconds(3));
  }

  // Reads until `needle` has arrived (returns true) or the time is up. Everything read is
  // kept in received(); consume() drops it up to and including the needle.
  bool waitFor(const std::string &needle, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (received_.find(needle, from_) != std::string::npos) return true;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
      if (left <= 0) return false;
      if (!readSome(static_cast<int>(left))) return false;
    }
  }
  // Like waitFor, then moves past the needle so the next wait looks only at newer input.
  bool expect(const std::string &needle, std::chrono::milliseconds limit) {
    if (!waitFor(needle, limit)) return false;
    from_ = received_.find(needle, from_) + needle.size();
    return true;
  }
  // True when the port reports end of file or an error (the modem went away).
  bool readSome(int ms) {
    pollfd p{fd_, POLLIN, 0};
    int r = ::poll(&p, 1, ms);
    if (r <= 0) return r == 0;
    char buf[4096];
    ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n > 0) {
      received_.append(buf, static_cast<std::size_t>(n));
      return true;
    }
    if (n < 0 && errno == EAGAIN) return true;
    broken_ = true;
    return false;
  }
  bool broken() const { return broken_; }
  const std::string &received() const { return received_; }
  std::string unread() const { return received_.substr(from_); }
  // Number of times `needle` occurs in what was received since `start`.
  int count(const std::string &needle, std::size_t start = 0) const {
    int n = 0;
    for (auto p = received_.find(needle, start); p != std::string::npos;
         p = received_.find(needle, p + needle.size()))
      ++n;
    return n;
  }
  std::size_t mark() const { return received_.size(); }

 private:
  int fd_ = -1;
  std::string received_;
  std::size_t from_ = 0;
  bool broken_ = false;
};

}  // namespace kv::test
