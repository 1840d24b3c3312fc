#include "faximage/apf_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/byte_order.h"
#include "base/file_error.h"

namespace kv {

namespace {

constexpr std::size_t kWriteBuffer = 4096;

int openFile(const std::string &path, int flags, mode_t mode = 0666) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

std::uint64_t sizeOf(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Date and headers

std::uint32_t packDosDateTime(const std::tm &t) {
  const int year = t.tm_year + 1900;
  if (year < 1980 || year > 2099) return 0;
  const std::uint32_t time =
      static_cast<std::uint32_t>((t.tm_sec / 2) | (t.tm_min << 5) | (t.tm_hour << 11));
  const std::uint32_t date =
      static_cast<std::uint32_t>(t.tm_mday | ((t.tm_mon + 1) << 5) | ((year - 1980) << 9));
  return (date << 16) | (time & 0xFFFF);
}

bool unpackDosDateTime(std::uint32_t v, std::tm &t) {
  t = std::tm{};
  const std::uint32_t time = v & 0xFFFF, date = v >> 16;
  t.tm_sec = static_cast<int>((time & 0x1F) * 2);
  t.tm_min = static_cast<int>((time >> 5) & 0x3F);
  t.tm_hour = static_cast<int>(time >> 11);
  t.tm_mday = static_cast<int>(date & 0x1F);
  t.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
  t.tm_year = static_cast<int>(date >> 9) + 80;
  t.tm_isdst = -1;
  return v != 0 && t.tm_mday >= 1 && t.tm_mon >= 0 && t.tm_mon <= 11 && t.tm_hour <= 23 &&
         t.tm_min <= 59 && t.tm_sec <= 59;
}

std::array<std::uint8_t, kApfMainHeaderSize> ApfMainHeader::toBytes() const {
  std::array<std::uint8_t, kApfMainHeaderSize> b{};
  std::copy(kApfSignature.begin(), kApfSignature.end(), b.begin());
  putLe32(&b[6], faxDateTime);
  const std::size_t n = std::min(senderId.size(), kApfMaxSenderId);
  b[10] = static_cast<std::uint8_t>(n);
  std::memset(&b[11], ' ', kApfMaxSenderId);
  std::memcpy(&b[11], senderId.data(), n);
  putLe16(&b[32], pageCount);
  putLe32(&b[34], firstPageOffset);
  return b;
}

Result ApfMainHeader::fromBytes(std::span<const std::uint8_t> b, ApfMainHeader &out) {
  if (b.size() < kApfMainHeaderSize ||
      !std::equal(kApfSignature.begin(), kApfSignature.end(), b.begin()))
    return ecFaxBadFormat;
  out.faxDateTime = getLe32(&b[6]);
  // A length byte beyond the field is taken as the whole field rather than read past it.
  const std::size_t n = std::min<std::size_t>(b[10], kApfMaxSenderId);
  out.senderId.assign(reinterpret_cast<const char *>(&b[11]), n);
  out.pageCount = getLe16(&b[32]);
  out.firstPageOffset = getLe32(&b[34]);
  return ecOK;
}

std::array<std::uint8_t, kApfPageHeaderSize> ApfPageHeader::toBytes() const {
  std::array<std::uint8_t, kApfPageHeaderSize> b{};
  putLe32(&b[0], imageLength);
  putLe16(&b[4], imageFlags);
  return b;
}

ApfPageHeader ApfPageHeader::fromBytes(std::span<const std::uint8_t, kApfPageHeaderSize> b) {
  ApfPageHeader h;
  h.imageLength = getLe32(&b[0]);
  h.imageFlags = getLe16(&b[4]);
  return h;
}

// ---------------------------------------------------------------------------------------------
// Writer

ApfWriter::~ApfWriter() {
  if (fd_ >= 0) {
    flush();
    closeFile();
  }
}

void ApfWriter::closeFile() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Result ApfWriter::create(const std::string &path) {
  if (fd_ >= 0) closeFile();
  if (path.empty()) return ecFileNotFound;
  fd_ = openFile(path, O_RDWR | O_CREAT | O_TRUNC);
  if (fd_ < 0) return fileErrorCode(errno);
  path_ = path;
  header_ = ApfMainHeader{};
  inPage_ = false;
  filePos_ = 0;
  buffer_.clear();
  buffer_.reserve(kWriteBuffer);
  const auto bytes = header_.toBytes();
  return put(bytes.data(), bytes.size());
}

Result ApfWriter::flush() {
  if (buffer_.empty()) return ecOK;
  const std::uint64_t at = filePos_ - buffer_.size();
  const Result r = writeAt(fd_, buffer_.data(), buffer_.size(), at);
  buffer_.clear();
  return r;
}

Result ApfWriter::put(const void *data, std::size_t size) {
  if (fd_ < 0) return ecNotOpenOutput;
  const auto *p = static_cast<const std::uint8_t *>(data);
  if (buffer_.size() + size > kWriteBuffer) {
    if (Result r = flush(); r < 0) return r;
  }
  if (size >= kWriteBuffer) {
    const Result r = writeAt(fd_, p, size, filePos_);
    if (r < 0) return r;
  } else {
    buffer_.insert(buffer_.end(), p, p + size);
  }
  filePos_ += size;
  return ecOK;
}

Result ApfWriter::beginPage(bool highResolution, bool wide) {
  if (fd_ < 0) return ecNotOpenOutput;
  if (inPage_) {
    if (Result r = endPage(); r < 0) return r;
  }
  page_ = ApfPageHeader{};
  page_.imageFlags = static_cast<std::uint16_t>(
      apfLineRecords | (highResolution ? apfHighResolution : 0) | (wide ? apfWide : 0));
  pageHeaderPos_ = filePos_;
  const auto bytes = page_.toBytes();
  if (Result r = put(bytes.data(), bytes.size()); r < 0) return r;
  inPage_ = true;
  return ecOK;
}

Result ApfWriter::writeRecord(std::span<const std::uint8_t> data) {
  if (!inPage_) return ecBadArgument;
  if (data.size() > 0xFFFF) return ecBadArgument;
  // ImageLength is 32 bits; a page that would pass it cannot be described.
  if (std::uint64_t{page_.imageLength} + 2 + data.size() > 0xFFFFFFFFu) return ecBadArgument;
  std::uint8_t len[2];
  putLe16(len, static_cast<std::uint16_t>(data.size()));
  if (Result r = put(len, 2); r < 0) return r;
  if (Result r = put(data.data(), data.size()); r < 0) return r;
  page_.imageLength += static_cast<std::uint32_t>(2 + data.size());
  return ecOK;
}

Result ApfWriter::writeLine(const std::uint8_t *line) {
  return writeRecord(encoder_.encodeLine(line, page_.widthPixels()));
}

Result ApfWriter::endPage() {
  if (!inPage_) return ecBadArgument;
  if (Result r = writeRecord(kApfPageEndRecord); r < 0) return r;
  inPage_ = false;
  if (Result r = flush(); r < 0) return r;
  const auto bytes = page_.toBytes();
  if (Result r = writeAt(fd_, bytes.data(), bytes.size(), pageHeaderPos_); r < 0) return r;
  if (header_.pageCount == 0xFFFF) return ecBadArgument;
  ++header_.pageCount;
  return ecOK;
}

Result ApfWriter::finish(std::string_view senderId, std::time_t when) {
  if (fd_ < 0) return ecNotOpenOutput;
  if (inPage_) {
    if (Result r = endPage(); r < 0) return r;
  }
  if (Result r = flush(); r < 0) return r;
  header_.senderId.assign(senderId.substr(0, kApfMaxSenderId));
  std::tm local{};
  localtime_r(&when, &local);
  header_.faxDateTime = packDosDateTime(local);
  const auto bytes = header_.toBytes();
  Result r = writeAt(fd_, bytes.data(), bytes.size(), 0);
  if (::close(fd_) != 0 && r == ecOK) r = fileErrorCode(errno);
  fd_ = -1;
  return r;
}

void ApfWriter::discard() {
  buffer_.clear();
  closeFile();
  if (!path_.empty()) ::unlink(path_.c_str());
  inPage_ = false;
}

// ---------------------------------------------------------------------------------------------
// Reader

ApfReader::~ApfReader() {
  close();
}

void ApfReader::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  cached_ = ApfPageLocation{};
}

Result ApfReader::open(const std::string &path) {
  close();
  const Result fd = openForReading(path);
  if (fd < 0) return fd;
  fd_ = fd;
  fileSize_ = sizeOf(fd_);
  std::array<std::uint8_t, kApfMainHeaderSize> b{};
  const Result n = readAt(fd_, b.data(), b.size(), 0);
  Result r =
      n < 0 ? n
            : ApfMainHeader::fromBytes(std::span(b.data(), static_cast<std::size_t>(n)), header_);
  if (r < 0) close();
  return r;
}

Result ApfReader::locatePage(int n, ApfPageLocation &out) {
  if (fd_ < 0) return ecNotOpenInput;
  if (n < 1 || n > header_.pageCount) return ecFaxBadFormat;
  auto readHeader = [&](std::uint64_t offset, int page, ApfPageLocation &loc) -> Result {
    std::array<std::uint8_t, kApfPageHeaderSize> b{};
    if (offset + kApfPageHeaderSize > fileSize_) return ecFaxBadFormat;
    const Result got = readAt(fd_, b.data(), b.size(), offset);
    if (got < 0) return got;
    if (static_cast<std::size_t>(got) < b.size()) return ecFaxBadFormat;
    loc.page = page;
    loc.headerOffset = offset;
    loc.header = ApfPageHeader::fromBytes(b);
    return ecOK;
  };
  ApfPageLocation loc;
  if (cached_.page >= 1 && cached_.page <= n) {
    loc = cached_;
  } else if (Result r = readHeader(header_.firstPageOffset, 1, loc); r < 0) {
    return r;
  }
  while (loc.page < n) {
    const std::uint64_t next = loc.dataOffset() + loc.header.imageLength;
    if (Result r = readHeader(next, loc.page + 1, loc); r < 0) return r;
  }
  cached_ = loc;
  out = loc;
  return ecOK;
}

Result ApfReader::readPageData(const ApfPageLocation &loc, const ChunkSink &chunk) {
  if (fd_ < 0) return ecNotOpenInput;
  const std::uint32_t total = loc.header.imageLength;
  const std::uint64_t base = loc.dataOffset();
  // Reads go through a block buffer: records are small and come one after another.
  std::vector<std::uint8_t> block(64 * 1024);
  std::uint64_t blockStart = 0;
  std::size_t blockLen = 0;
  auto fetch = [&](std::uint32_t at, std::size_t size, const std::uint8_t *&ptr) -> Result {
    // Answers the bytes available (up to size) at image offset `at`.
    if (at < blockStart || at + size > blockStart + blockLen) {
      blockStart = at;
      const std::size_t want = std::min<std::uint64_t>(block.size(), total - at);
      const Result n = readAt(fd_, block.data(), want, base + at);
      if (n < 0) return n;
      blockLen = static_cast<std::size_t>(n);
    }
    ptr = block.data() + (at - blockStart);
    return static_cast<Result>(std::min<std::uint64_t>(size, blockStart + blockLen - at));
  };

  std::uint32_t consumed = 0;
  const std::uint8_t *ptr = nullptr;
  if (!loc.header.lineRecords()) {
    while (consumed < total) {
      const std::size_t want = std::min<std::uint32_t>(4096, total - consumed);
      const Result n = fetch(consumed, want, ptr);
      if (n < 0) return n;
      if (n == 0) return ecFaxBadFormat;
      consumed += static_cast<std::uint32_t>(n);
      if (!chunk(std::span(ptr, static_cast<std::size_t>(n)), consumed)) return ecOK;
    }
    return ecOK;
  }
  while (consumed < total) {
    if (total - consumed < 2) return ecFaxBadFormat;
    Result n = fetch(consumed, 2, ptr);
    if (n < 0) return n;
    if (n < 2) return ecFaxBadFormat;
    std::uint32_t len = getLe16(ptr);
    consumed += 2;
    // A record running past the page's data is taken only as far as the page goes.
    len = std::min(len, total - consumed);
    const std::size_t take = std::min<std::size_t>(len, kApfMaxRecord);
    n = fetch(consumed, take, ptr);
    if (n < 0) return n;
    if (static_cast<std::size_t>(n) < take) return ecFaxBadFormat;
    consumed += len;
    if (!chunk(std::span(ptr, take), consumed)) return ecOK;
  }
  return ecOK;
}

Result decodeApfPage(ApfReader &reader, const ApfPageLocation &loc,
                     const T4Decoder::LineSink &sink) {
  T4Decoder decoder(sink);
  const Result r =
      reader.readPageData(loc, [&](std::span<const std::uint8_t> coded, std::uint32_t) {
        return decoder.feed(coded.data(), coded.size());
      });
  if (r < 0) return r;
  decoder.finish();
  return ecOK;
}

// ---------------------------------------------------------------------------------------------
// Joining files

Result AppendApfPages(const std::string &destination, const std::string &source) {
  struct Fd {
    int fd = -1;
    ~Fd() {
      if (fd >= 0) ::close(fd);
    }
  } dst, src;

  if (destination.empty() || source.empty()) return ecFileNotFound;
  dst.fd = openFile(destination, O_RDWR);
  if (dst.fd < 0) return fileErrorCode(errno);
  const Result s = openForReading(source);
  if (s < 0) return s;
  src.fd = s;

  std::array<std::uint8_t, kApfMainHeaderSize> b{};
  ApfMainHeader dh, sh;
  Result n = readAt(dst.fd, b.data(), b.size(), 0);
  if (n < 0) return n;
  if (Result r = ApfMainHeader::fromBytes(std::span(b.data(), static_cast<std::size_t>(n)), dh);
      r < 0)
    return r;
  n = readAt(src.fd, b.data(), b.size(), 0);
  if (n < 0) return n;
  if (Result r = ApfMainHeader::fromBytes(std::span(b.data(), static_cast<std::size_t>(n)), sh);
      r < 0)
    return r;
  if (std::uint32_t{dh.pageCount} + sh.pageCount > 0xFFFF) return ecBadArgument;

  // Pages placed before the end of the header would overwrite it.
  if (dh.firstPageOffset < kApfMainHeaderSize) return ecFaxBadFormat;
  // The end of the destination's last page, found by walking its pages.
  const std::uint64_t dstSize = sizeOf(dst.fd);
  std::uint64_t end = dh.firstPageOffset;
  for (int i = 0; i < dh.pageCount; ++i) {
    std::array<std::uint8_t, kApfPageHeaderSize> ph{};
    n = readAt(dst.fd, ph.data(), ph.size(), end);
    if (n < 0) return n;
    if (static_cast<std::size_t>(n) < ph.size()) return ecFaxBadFormat;
    end += kApfPageHeaderSize + ApfPageHeader::fromBytes(ph).imageLength;
    if (end > dstSize) return ecFaxBadFormat;
  }

  // Copy the source's pages as they are, in 4096-byte blocks.
  const std::uint64_t srcSize = sizeOf(src.fd);
  if (sh.pageCount > 0 && sh.firstPageOffset + kApfPageHeaderSize > srcSize) return ecFaxBadFormat;
  std::vector<std::uint8_t> buf(4096);
  std::uint64_t from = sh.firstPageOffset, to = end;
  while (sh.pageCount > 0 && from < srcSize) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), srcSize - from));
    n = readAt(src.fd, buf.data(), want, from);
    if (n < 0) return n;
    if (n == 0) break;
    if (Result r = writeAt(dst.fd, buf.data(), static_cast<std::size_t>(n), to); r < 0) return r;
    from += static_cast<std::uint64_t>(n);
    to += static_cast<std::uint64_t>(n);
  }
  // Bytes of an earlier, longer file beyond the new end would only confuse other readers.
  if (to < dstSize && ::ftruncate(dst.fd, static_cast<off_t>(to)) != 0) return fileErrorCode(errno);

  // The header last: until it is rewritten the destination stays valid with its old pages.
  dh.pageCount = static_cast<std::uint16_t>(dh.pageCount + sh.pageCount);
  std::array<std::uint8_t, kApfMainHeaderSize> raw{};
  n = readAt(dst.fd, raw.data(), raw.size(), 0);
  if (n < 0) return n;
  putLe16(&raw[32], dh.pageCount);
  if (Result r = writeAt(dst.fd, raw.data(), raw.size(), 0); r < 0) return r;
  if (::fsync(dst.fd) != 0 && errno != EINVAL) return fileErrorCode(errno);
  return ecOK;
}

}  // namespace kv
