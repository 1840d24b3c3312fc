// The serial device layer on termios: exclusive open, line settings, modem lines, event waits.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>

#include "comm/device_layer.h"

namespace kv {

namespace {

struct BaudEntry {
  std::uint32_t baud;
  speed_t code;
};
const BaudEntry kBauds[] = {
    {50, B50},         {75, B75},         {110, B110},        {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},        {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},      {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},  {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}};

bool baudCode(std::uint32_t baud, speed_t &code) {
  for (auto &e : kBauds)
    if (e.baud == baud) {
      code = e.code;
      return true;
    }
  return false;
}

std::uint32_t baudValue(speed_t code) {
  for (auto &e : kBauds)
    if (e.code == code) return e.baud;
  return 0;
}

struct Device {
  int fd = -1;
  bool attached = false;
  bool hasLines = true;  // false once TIOCMGET said the device has none (a pty)
  int lastLines = -1;
  serial_icounter_struct icount{};
  bool hasCounters = false;
  std::uint16_t pendingErrors = 0;
  LineSettings line;
};

class SerialLayer : public DeviceOps {
 public:
  Result clearBreak(int h) override { return ioctlResult(h, TIOCCBRK); }
  Result setBreak(int h) override { return ioctlResult(h, TIOCSBRK); }

  Result close(int h) override {
    std::lock_guard lk(mu_);
    auto it = devs_.find(h);
    if (it == devs_.end()) return ecNotOpen;
    // Return the line to its plain state for the next program; flock and TIOCEXCL end with
    // the descriptor.
    ioctl(h, TIOCNXCL);
    ::close(h);
    devs_.erase(it);
    return ecOK;
  }

  Result escape(int h, int fn) override {
    int bits = 0;
    bool set = false;
    switch (fn) {
      case 3:
        bits = TIOCM_RTS;
        set = true;
        break;
      case 4:
        bits = TIOCM_RTS;
        break;
      case 5:
        bits = TIOCM_DTR;
        set = true;
        break;
      case 6:
        bits = TIOCM_DTR;
        break;
      default:
        return ecOK;
    }
    // A device without modem lines refuses; the state is still remembered by the port.
    ioctl(h, set ? TIOCMBIS : TIOCMBIC, &bits);
    return ecOK;
  }

  Result flush(int h, int which) override {
    if (!known(h)) return ecNotOpen;
    if (tcflush(h, which == 1 ? TCIFLUSH : TCOFLUSH) != 0) return -errno;
    return ecOK;
  }

  Result status(int h, DeviceStatus &st) override {
    std::lock_guard lk(mu_);
    auto it = devs_.find(h);
    if (it == devs_.end()) return ecNotOpen;
    collectErrors(it->second);
    st.errors = it->second.pendingErrors;
    it->second.pendingErrors = 0;
    int n = 0;
    st.inQueue = ioctl(h, FIONREAD, &n) == 0 && n > 0 ? std::uint32_t(n) : 0;
    n = 0;
    st.outQueue = ioctl(h, TIOCOUTQ, &n) == 0 && n > 0 ? std::uint32_t(n) : 0;
    return ecOK;
  }

  Result getLine(int h, LineSettings &ls) override {
    std::lock_guard lk(mu_);
    auto it = devs_.find(h);
    if (it == devs_.end()) return ecNotOpen;
    ls = it->second.line;
    termios t{};
    if (tcgetattr(h, &t) == 0) {
      std::uint32_t b = baudValue(cfgetospeed(&t));
      if (b) ls.baud = b;
    }
    return ecOK;
  }

  Result open(const std::string &name) override {
    int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return openError(errno);
    // TIOCEXCL keeps other programs from opening the line (root is not stopped by it); the
    // lock covers programs that use flock, as most serial tools do.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int e = errno;
      ::close(fd);
      return e == EWOULDBLOCK ? ecAlreadyOpen : -e;
    }
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
      ::close(fd);
      return ecBadId;  // not a serial device
    }
    ioctl(fd, TIOCEXCL);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
    Device d;
    d.fd = fd;
    serial_icounter_struct ic{};
    if (ioctl(fd, TIOCGICOUNT, &ic) == 0) {
      d.hasCounters = true;
      d.icount = ic;
    }
    std::lock_guard lk(mu_);
    devs_[fd] = d;
    return fd;
  }

  Result read(int h, void *buf, std::size_t n) override {
    if (!known(h)) return ecNotOpen;
    for (;;) {
      ssize_t r = ::read(h, buf, n);
      // With VMIN and VTIME 0 an empty tty reads as 0, not EAGAIN; a line that is gone shows
      // as EIO here and as a hang-up in the event wait.
      if (r >= 0) return Result(r);
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      return ecDeviceRead;
    }
  }

  Result setLine(int h, const LineSettings &ls) override {
    std::lock_guard lk(mu_);
    auto it = devs_.find(h);
    if (it == devs_.end()) return ecNotOpen;
    termios t{};
    if (tcgetattr(h, &t) != 0) return ecNotSupported;
    speed_t sp;
    if (!baudCode(ls.baud, sp)) return ecNotSupported;
    cfsetispeed(&t, sp);
    cfsetospeed(&t, sp);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (ls.dataBits) {
      case 5:
        t.c_cflag |= CS5;
        break;
      case 6:
        t.c_cflag |= CS6;
        break;
      case 7:
        t.c_cflag |= CS7;
        break;
      case 8:
        t.c_cflag |= CS8;
        break;
      default:
        return ecNotSupported;
    }
    switch (ls.parity) {
      case 0:
        break;
      case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
      case 2:
        t.c_cflag |= PARENB;
        break;
      case 3:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
      case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
      default:
        return ecNotSupported;
    }
    if (ls.stopBits != 0) t.c_cflag |= CSTOPB;  // one and a half is two on this hardware
    // The line has one hardware handshake: RTS/CTS both ways.
    if (ls.rtsControl == fcHandshake || ls.outxCtsFlow) t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (ls.outX) t.c_iflag |= IXON;
    if (ls.inX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = cc_t(ls.xonChar);
    t.c_cc[VSTOP] = cc_t(ls.xoffChar);
    if (tcsetattr(h, TCSANOW, &t) != 0) return ecNotSupported;
    int bits = TIOCM_DTR;
    ioctl(h, ls.dtrControl == fcOff ? TIOCMBIC : TIOCMBIS, &bits);
    if (ls.rtsControl != fcHandshake) {
      bits = TIOCM_RTS;
      ioctl(h, ls.rtsControl == fcOff ? TIOCMBIC : TIOCMBIS, &bits);
    }
    it->second.line = ls;
    return ecOK;
  }

  Result transmitChar(int h, char c) override {
    if (!known(h)) return ecNotOpen;
    return ::write(h, &c, 1) == 1 ? ecOK : ecDeviceWrite;
  }

  Result write(int h, const void *buf, std::size_t n) override {
    if (!known(h)) return ecNotOpen;
    for (;;) {
      ssize_t r = ::write(h, buf, n);
      if (r >= 0) return Result(r);
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      return ecDeviceWrite;
    }
  }

  Result attach(int h, bool on) override {
    std::lock_guard lk(mu_);
    if (on) {
      Device d;
      d.fd = h;
      d.attached = true;
      devs_[h] = d;
    } else {
      devs_.erase(h);
    }
    return ecOK;
  }

  // The kernel's queues have fixed sizes; the rings above them give the sizes asked for.
  Result setupQueues(int h, std::uint16_t, std::uint16_t) override { return known(h) ? 1 : 0; }

  Result modemLines(int h) override {
    std::lock_guard lk(mu_);
    auto it = devs_.find(h);
    if (it == devs_.end()) return ecNotOpen;
    return readLines(it->second);
  }

  Result waitEvent(int h, std::uint32_t mask, int wakeFd) override {
    bool lines = false;
    {
      std::lock_guard lk(mu_);
      auto it = devs_.find(h);
      if (it == devs_.end()) return ecNotOpen;
      lines = it->second.hasLines || it->second.hasCounters;
    }
    for (;;) {
      pollfd p[2] = {{h, short((mask & evRxChar) ? POLLIN : 0), 0}, {wakeFd, POLLIN, 0}};
      // Modem lines and line errors have no descriptor event; where the device has them they
      // are compared at this period. A pty has neither, and its wait has no period at all.
      int r = ::poll(p, 2, lines ? kLinePeriodMs : -1);
      if (r < 0) {
        if (errno == EINTR) continue;
        return -errno;
      }
      if (p[1].revents) return 0;
      std::uint32_t ev = 0;
      if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) ev |= evDeviceLost;
      if (p[0].revents & POLLIN) ev |= evRxChar;
      if (lines) ev |= lineEvents(h) & mask;
      if (ev) return Result(ev);
    }
  }

  Result waitWritable(int h, int wakeFd, int timeoutMs) override {
    for (;;) {
      pollfd p[2] = {{h, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
      int r = ::poll(p, 2, timeoutMs);
      if (r < 0) {
        if (errno == EINTR) continue;
        return -errno;
      }
      if (r == 0) return 0;
      if (p[1].revents) return 2;
      if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return ecDeviceWrite;
      return 1;
    }
  }

 private:
  static constexpr int kLinePeriodMs = 100;

  static Result openError(int e) {
    switch (e) {
      case ENOENT:
      case ENODEV:
      case ENXIO:
        return ecFileNotFound;
      case ENOTDIR:
        return ecPathNotFound;
      case EACCES:
      case EPERM:
        return ecAccessDenied;
      case EBUSY:
        return ecAlreadyOpen;
      case ENOMEM:
        return ecOutOfMemory;
      default:
        return -e;
    }
  }

  bool known(int h) {
    std::lock_guard lk(mu_);
    return devs_.count(h) != 0;
  }

  Result ioctlResult(int h, unsigned long req) {
    if (!known(h)) return ecNotOpen;
    return ioctl(h, req) == 0 ? ecOK : ecNotSupported;
  }

  static Result readLines(Device &d) {
    if (!d.hasLines) return ecNotSupported;
    int st = 0;
    if (ioctl(d.fd, TIOCMGET, &st) != 0) {
      if (errno == ENOTTY || errno == EINVAL) d.hasLines = false;
      return ecNotSupported;
    }
    int v = 0;
    if (st & TIOCM_CTS) v |= msCTS;
    if (st & TIOCM_DSR) v |= msDSR;
    if (st & TIOCM_RNG) v |= msRI;
    if (st & TIOCM_CAR) v |= msDCD;
    return v;
  }

  // Collects error counter increases into pendingErrors.
  static void collectErrors(Device &d) {
    if (!d.hasCounters) return;
    serial_icounter_struct ic{};
    if (ioctl(d.fd, TIOCGICOUNT, &ic) != 0) return;
    if (ic.buf_overrun != d.icount.buf_overrun) d.pendingErrors |= leRxOver;
    if (ic.overrun != d.icount.overrun) d.pendingErrors |= leOverrun;
    if (ic.parity != d.icount.parity) d.pendingErrors |= leParity;
    if (ic.frame != d.icount.frame) d.pendingErrors |= leFraming;
    if (ic.brk != d.icount.brk) d.pendingErrors |= leBreak;
    d.icount = ic;
  }

  std::uint32_t lineEvents(int h) {
    std::lock_guard lk(mu_);
    auto it = devs_.find(h);
    if (it == devs_.end()) return 0;
    Device &d = it->second;
    std::uint32_t ev = 0;
    Result v = readLines(d);
    if (v >= 0) {
      if (d.lastLines >= 0) {
        int diff = v ^ d.lastLines;
        if (diff & msCTS) ev |= evCts;
        if (diff & msDSR) ev |= evDsr;
        if (diff & msDCD) ev |= evRlsd;
        if (diff & msRI) ev |= (v & msRI) ? evRing : evRingTe;
      }
      d.lastLines = v;
    }
    std::uint16_t before = d.pendingErrors;
    collectErrors(d);
    std::uint16_t fresh = d.pendingErrors & ~before;
    if (fresh & leBreak) ev |= evBreak;
    if (fresh & ~leBreak) ev |= evErr;
    return ev;
  }

  std::mutex mu_;
  std::map<int, Device> devs_;
};

std::mutex g_mu;
DeviceLayerInstaller g_other;
std::function<std::string(int)> g_resolver;

}  // namespace

Result DeviceOps::buildLine(const std::string &text, LineSettings &out) {
  // "baud,parity,data,stop" as in 19200,N,8,1; missing fields keep their value.
  std::stringstream ss(text);
  std::string field;
  int i = 0;
  LineSettings ls = out;
  while (std::getline(ss, field, ',')) {
    field.erase(0, field.find_first_not_of(" \t"));
    while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.pop_back();
    if (field.empty()) {
      ++i;
      continue;
    }
    char *end = nullptr;
    switch (i) {
      case 0: {
        unsigned long b = std::strtoul(field.c_str(), &end, 10);
        if (*end || b == 0 || b > 4000000) return ecBaudRate;
        ls.baud = std::uint32_t(b);
        break;
      }
      case 1: {
        const char *p = "NOEMS";
        const char *hit = field.size() == 1 ? std::strchr(p, std::toupper(field[0])) : nullptr;
        if (!hit) return ecDefault;
        ls.parity = std::uint8_t(hit - p);
        break;
      }
      case 2: {
        long d = std::strtol(field.c_str(), &end, 10);
        if (*end || d < 5 || d > 8) return ecByteSize;
        ls.dataBits = std::uint8_t(d);
        break;
      }
      case 3:
        if (field == "1")
          ls.stopBits = 0;
        else if (field == "1.5")
          ls.stopBits = 1;
        else if (field == "2")
          ls.stopBits = 2;
        else
          return ecDefault;
        break;
      default:
        return ecDefault;
    }
    ++i;
  }
  out = ls;
  return ecOK;
}

std::shared_ptr<DeviceOps> SerialDeviceLayer() {
  static std::shared_ptr<DeviceOps> layer = std::make_shared<SerialLayer>();
  return layer;
}

void SetOtherDeviceInstaller(DeviceLayerInstaller installer) {
  std::lock_guard lk(g_mu);
  g_other = std::move(installer);
}

std::shared_ptr<DeviceOps> InstallDeviceLayer(TDeviceLayer dl) {
  if (dl == dlWin32) return SerialDeviceLayer();
  if (dl == dlOther) {
    DeviceLayerInstaller inst;
    {
      std::lock_guard lk(g_mu);
      inst = g_other;
    }
    if (inst) return inst();
  }
  return nullptr;
}

std::string PortDeviceName(int n) {
  std::function<std::string(int)> r;
  {
    std::lock_guard lk(g_mu);
    r = g_resolver;
  }
  std::string name = r ? r(n) : std::string();
  if (name.empty()) name = "/dev/ttyS" + std::to_string(n - 1);
  return name;
}

void SetPortDeviceResolver(std::function<std::string(int)> resolver) {
  std::lock_guard lk(g_mu);
  g_resolver = std::move(resolver);
}

}  // namespace kv
