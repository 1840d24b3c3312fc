#pragma once
// APF fax image files: a 64-byte main header, then the pages one after another, each a 16-byte
// page header and its T.4 coded image data. There is no page index; pages are found by walking
// from the first. All integers are little-endian.
//
//   main header   "APF10" 1A | date/time | sender id | page count | first page offset (64)
//   page header   image length | flags (1 fine, 2 wide, 4 line records)
//   image data    records: 16-bit length + coded bytes, one per line, then the page-end record
//
// Page headers hold no absolute offsets, so pages can be copied between files unchanged.
#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result_codes.h"
#include "faximage/t4_coder.h"

namespace kv {

inline constexpr std::size_t kApfMainHeaderSize = 64;
inline constexpr std::size_t kApfPageHeaderSize = 16;
inline constexpr std::array<std::uint8_t, 6> kApfSignature{'A', 'P', 'F', '1', '0', 0x1A};
inline constexpr std::size_t kApfMaxSenderId = 20;
// Readers take at most this many bytes of one record's data.
inline constexpr std::size_t kApfMaxRecord = 4096;

enum ApfPageFlags : std::uint16_t {
  apfHighResolution = 1,  // fine: about 196 lines per inch rather than 98
  apfWide = 2,            // 2048 pixels per line rather than 1728
  apfLineRecords = 4,     // image data is length-prefixed line records
};

// DOS packed date and time (time in the low 16 bits); 0 outside the years 1980-2099.
std::uint32_t packDosDateTime(const std::tm &t);
// Answers false when the value does not hold a plausible date.
bool unpackDosDateTime(std::uint32_t v, std::tm &t);

struct ApfMainHeader {
  std::uint32_t faxDateTime = 0;
  std::string senderId;  // at most 20 characters
  std::uint16_t pageCount = 0;
  std::uint32_t firstPageOffset = kApfMainHeaderSize;

  // The sender id is cut to 20 characters and space-padded.
  std::array<std::uint8_t, kApfMainHeaderSize> toBytes() const;
  // Fails with ecFaxBadFormat when the bytes are too few or the signature is wrong.
  static Result fromBytes(std::span<const std::uint8_t> bytes, ApfMainHeader &out);
};

struct ApfPageHeader {
  std::uint32_t imageLength = 0;
  std::uint16_t imageFlags = apfLineRecords;

  bool highResolution() const { return imageFlags & apfHighResolution; }
  bool wide() const { return imageFlags & apfWide; }
  bool lineRecords() const { return imageFlags & apfLineRecords; }
  int widthPixels() const { return wide() ? kFaxLineWide : kFaxLineNormal; }
  int bytesPerLine() const { return widthPixels() / 8; }

  std::array<std::uint8_t, kApfPageHeaderSize> toBytes() const;
  static ApfPageHeader fromBytes(std::span<const std::uint8_t, kApfPageHeaderSize> bytes);
};

// Writes an APF file page by page. The main header is written at once with PageCount 0 and
// completed by finish(); each page header is rewritten with its final length when the page
// ends, so an unfinished file still walks correctly up to its last finished page.
class ApfWriter {
 public:
  ApfWriter() = default;
  ApfWriter(const ApfWriter &) = delete;
  ApfWriter &operator=(const ApfWriter &) = delete;
  ~ApfWriter();  // closes without finishing; the file stays as far as it was written

  // Creates (or truncates) the file and writes the initial main header.
  Result create(const std::string &path);
  // Starts a page: writes its header with ImageLength 0.
  Result beginPage(bool highResolution, bool wide);
  // Writes one record: its 16-bit length, then the data (at most 65535 bytes).
  Result writeRecord(std::span<const std::uint8_t> data);
  // Codes one raster line of the page's width (1 = black, most significant bit first) and
  // writes it as a record.
  Result writeLine(const std::uint8_t *line);
  // Writes the page-end record, counts the page and rewrites the page header.
  Result endPage();
  // Fills in the sender id (cut to 20 characters) and the date, rewrites the main header and
  // closes the file. A page still open is ended first.
  Result finish(std::string_view senderId, std::time_t when = std::time(nullptr));
  // Closes and deletes the file (after a failure).
  void discard();

  bool isOpen() const { return fd_ >= 0; }
  bool inPage() const { return inPage_; }
  std::uint16_t pageCount() const { return header_.pageCount; }
  const std::string &path() const { return path_; }
  int pageWidth() const { return page_.widthPixels(); }

 private:
  Result put(const void *data, std::size_t size);
  Result flush();
  void closeFile();

  int fd_ = -1;
  std::string path_;
  ApfMainHeader header_;
  ApfPageHeader page_;
  bool inPage_ = false;
  std::uint64_t pageHeaderPos_ = 0;
  std::uint64_t filePos_ = 0;  // logical end of the file including buffered bytes
  std::vector<std::uint8_t> buffer_;
  T4Encoder encoder_;
};

// Where a page lies in its file.
struct ApfPageLocation {
  int page = 0;  // 1-based
  std::uint64_t headerOffset = 0;
  ApfPageHeader header;
  std::uint64_t dataOffset() const { return headerOffset + kApfPageHeaderSize; }
};

// Reads APF files: the main header, page walking and the coded data of a page.
class ApfReader {
 public:
  ApfReader() = default;
  ApfReader(const ApfReader &) = delete;
  ApfReader &operator=(const ApfReader &) = delete;
  ~ApfReader();

  // Opens the file and checks its main header (ecFaxBadFormat when it is not an APF file; an
  // empty name is ecFileNotFound).
  Result open(const std::string &path);
  void close();
  bool isOpen() const { return fd_ >= 0; }

  const ApfMainHeader &header() const { return header_; }
  std::uint64_t fileSize() const { return fileSize_; }

  // Walks to page n (1-based). Fails with ecFaxBadFormat when n is outside 1..PageCount or a
  // page header lies beyond the end of the file.
  Result locatePage(int n, ApfPageLocation &out);

  // Hands the page's coded data to `chunk`, one line record at a time (at most 4096 bytes of
  // each; the rest of a longer record is skipped), or in blocks of up to 4096 bytes for pages
  // without records. `consumed` counts the image data bytes used so far. Returning false from
  // `chunk` stops early with ecOK. Fails with ecFaxBadFormat when the data ends before
  // ImageLength bytes.
  using ChunkSink =
      std::function<bool(std::span<const std::uint8_t> coded, std::uint32_t consumed)>;
  Result readPageData(const ApfPageLocation &loc, const ChunkSink &chunk);

 private:
  int fd_ = -1;
  std::uint64_t fileSize_ = 0;
  ApfMainHeader header_;
  // The last page found, so that reading pages in order does not walk from the start.
  ApfPageLocation cached_;
};

// Reads every raster line of a page through the T.4 decoder. The sink receives lines of 216 or
// 256 bytes (1 = black) exactly as the APF reading rules deliver them.
Result decodeApfPage(ApfReader &reader, const ApfPageLocation &loc,
                     const T4Decoder::LineSink &sink);

// Appends all pages of `source` to `destination`; the destination keeps its own sender id and
// date. Both must exist (ecFileNotFound) and be APF files (ecFaxBadFormat).
Result AppendApfPages(const std::string &destination, const std::string &source);

}  // namespace kv
