#include "faximage/apf_export.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string_view>
#include <vector>

#include "base/checked_writer.h"
#include "base/error_text.h"
#include "base/file_error.h"
#include "base/file_replacement.h"
#include "faximage/apf_file.h"
#include "faximage/fax_unpacker.h"

namespace kv {

namespace {

// No paper is that long: a damaged file must not make us hold gigabytes of lines.
constexpr std::size_t kMaxRows = 65536;
constexpr double kDotsPerInchX = 203.2;  // 8 pixels per millimetre
constexpr double kFineLinesPerInch = 195.58;
constexpr double kNormalLinesPerInch = 97.79;

struct Page {
  int widthBytes = 0;
  bool fine = false;
  std::vector<std::uint8_t> rows;  // widthBytes per row, 1 = black
  int height() const { return widthBytes ? static_cast<int>(rows.size() / widthBytes) : 0; }
};

// Pages as `korvane-fax unpack` gives them: every decoded line at the page's own resolution.
class PageSource {
 public:
  Result open(const std::string &in, std::string &error) {
    in_ = in;
    unpacker_.setOptions(0);
    unpacker_.setAutoScaleMode(asNone);
    unpacker_.setInFileName(in);
    Result r = unpacker_.numPages(count_);
    if (r >= 0) r = reader_.open(in);
    if (r < 0) {
      error = in + ": " + errorText(r);
      return r;
    }
    return ecOK;
  }
  int count() const { return count_; }

  // Pages read in order are found from the one before (both readers remember where they were),
  // so a file's pages are walked once.
  Result read(int n, Page &page, std::string &error) {
    page = Page{};
    ApfPageLocation loc;
    Result r = reader_.locatePage(n, loc);
    if (r < 0) {
      error = in_ + ", page " + std::to_string(n) + ": " + errorText(r);
      return r;
    }
    page.fine = loc.header.highResolution();
    page.widthBytes = loc.header.bytesPerLine();
    bool tooTall = false;
    unpacker_.OnOutputLine = [&](TKvCustomFaxUnpacker &u, bool starting, bool ending,
                                 const std::uint8_t *d, int len, int) {
      if (starting || ending) return;
      if (page.rows.size() / page.widthBytes >= kMaxRows) {
        tooTall = true;
        u.abort();
        return;
      }
      const std::size_t at = page.rows.size();
      page.rows.resize(at + page.widthBytes, 0);
      std::memcpy(page.rows.data() + at, d, std::min(len, page.widthBytes));
    };
    r = unpacker_.unpackPage(n);
    if (tooTall) {
      error = in_ + ", page " + std::to_string(n) + ": more than " + std::to_string(kMaxRows) +
              " lines; not a fax page";
      return ecFaxBadFormat;
    }
    if (r < 0) {
      error = in_ + ", page " + std::to_string(n) + ": " + errorText(r);
      return r;
    }
    return ecOK;
  }

 private:
  std::string in_;
  int count_ = 0;
  ApfReader reader_;
  TKvFaxUnpacker unpacker_;
};

Result cannotWrite(const std::string &path, Result code, const std::string &why,
                   std::string &error) {
  error = path + ": cannot be written: " + why;
  return code;
}

// The output through the one guarded way to replace a file: refused when it is the input.
Result prepareOutput(FileReplacement &file, const std::string &in, const std::string &out,
                     std::string &error) {
  if (Result r = file.prepare(out, in); r < 0) {
    error = out + ": " + file.problem();
    return r;
  }
  file.removeStaleTemporaries();
  return ecOK;
}

Result commitOutput(FileReplacement &file, std::string &error) {
  if (Result r = file.commit(); r < 0) return cannotWrite(file.target(), r, file.problem(), error);
  return ecOK;
}

// libtiff's warnings and errors become the sentence of our message instead of lines on
// stderr; the first error is the one that says what went wrong.
thread_local std::string *g_tiffError = nullptr;
void tiffErrorHandler(const char *, const char *fmt, va_list ap) {
  if (!g_tiffError || !g_tiffError->empty()) return;
  char buf[512];
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  *g_tiffError = buf;
}
void tiffWarningHandler(const char *, const char *, va_list) {}
class TiffErrors {
 public:
  TiffErrors() {
    g_tiffError = &text_;
    oldError_ = TIFFSetErrorHandler(tiffErrorHandler);
    oldWarning_ = TIFFSetWarningHandler(tiffWarningHandler);
  }
  ~TiffErrors() {
    TIFFSetErrorHandler(oldError_);
    TIFFSetWarningHandler(oldWarning_);
    g_tiffError = nullptr;
  }
  // What libtiff said, or `otherwise`.
  std::string said(const std::string &otherwise) const { return text_.empty() ? otherwise : text_; }

 private:
  std::string text_;
  TIFFErrorHandler oldError_, oldWarning_;
};

// A TIFF file in memory, for coding a page without a scratch file.
struct MemoryTiff {
  std::vector<std::uint8_t> bytes;
  std::uint64_t pos = 0;

  static tmsize_t read(thandle_t h, void *buf, tmsize_t size) {
    auto &m = *static_cast<MemoryTiff *>(h);
    const std::uint64_t n =
        m.pos >= m.bytes.size()
            ? 0
            : std::min<std::uint64_t>(static_cast<std::uint64_t>(size), m.bytes.size() - m.pos);
    std::memcpy(buf, m.bytes.data() + m.pos, n);
    m.pos += n;
    return static_cast<tmsize_t>(n);
  }
  static tmsize_t write(thandle_t h, void *buf, tmsize_t size) {
    auto &m = *static_cast<MemoryTiff *>(h);
    const std::uint64_t end = m.pos + static_cast<std::uint64_t>(size);
    if (end > m.bytes.size()) m.bytes.resize(end);
    std::memcpy(m.bytes.data() + m.pos, buf, static_cast<std::size_t>(size));
    m.pos = end;
    return size;
  }
  static toff_t seek(thandle_t h, toff_t off, int whence) {
    auto &m = *static_cast<MemoryTiff *>(h);
    const std::uint64_t base = whence == SEEK_CUR ? m.pos : whence == SEEK_END ? m.bytes.size() : 0;
    m.pos = base + off;
    return m.pos;
  }
  static int close(thandle_t) { return 0; }
  static toff_t size(thandle_t h) { return static_cast<MemoryTiff *>(h)->bytes.size(); }
  static int map(thandle_t, void **, toff_t *) { return 0; }
  static void unmap(thandle_t, void *, toff_t) {}

  TIFF *open(const char *mode) {
    pos = 0;
    return TIFFClientOpen("page", mode, this, read, write, seek, close, size, map, unmap);
  }
};

void setPageTags(TIFF *t, const Page &p, int compression, int pageIndex, int pageCount) {
  TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.widthBytes * 8);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height());
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, std::max(p.height(), 1));
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0f);
  TIFFSetField(t, TIFFTAG_YRESOLUTION, p.fine ? 196.0f : 98.0f);
  TIFFSetField(t, TIFFTAG_PAGENUMBER, pageIndex, pageCount);
  if (compression == COMPRESSION_CCITTFAX3) {
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_FILLBITS);
    TIFFSetField(t, TIFFTAG_CLEANFAXDATA, CLEANFAXDATA_CLEAN);
  } else if (compression == COMPRESSION_CCITTFAX4) {
    TIFFSetField(t, TIFFTAG_GROUP4OPTIONS, 0);
  }
  TIFFSetField(t, TIFFTAG_SOFTWARE, "Korvane");
}

// False when libtiff could not take a row (it said why through its error handler).
bool writeRows(TIFF *t, const Page &p) {
  std::vector<std::uint8_t> row(static_cast<std::size_t>(p.widthBytes));
  for (int y = 0; y < p.height(); ++y) {
    std::memcpy(row.data(), p.rows.data() + static_cast<std::size_t>(y) * p.widthBytes, row.size());
    if (TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) < 0) return false;
  }
  return true;
}

// A page with no lines still becomes a page: one white row.
void ensureRow(Page &p) {
  if (p.height() == 0) p.rows.assign(static_cast<std::size_t>(p.widthBytes), 0);
}

// Group 4 data of one page, coded by libtiff in memory and read back raw.
Result codeGroup4(const Page &p, std::vector<std::uint8_t> &out, std::string &error) {
  TiffErrors errors;
  MemoryTiff file;
  TIFF *t = file.open("w");
  bool ok = t != nullptr;
  if (ok) {
    setPageTags(t, p, COMPRESSION_CCITTFAX4, 0, 1);
    ok = writeRows(t, p) && TIFFWriteDirectory(t);
    TIFFClose(t);
  }
  t = ok ? file.open("rm") : nullptr;
  ok = t && TIFFNumberOfStrips(t) == 1;
  if (ok) {
    const tmsize_t size = static_cast<tmsize_t>(TIFFRawStripSize(t, 0));
    out.resize(static_cast<std::size_t>(std::max<tmsize_t>(size, 0)));
    ok = size > 0 && TIFFReadRawStrip(t, 0, out.data(), size) == size;
  }
  if (t) TIFFClose(t);
  if (ok) return ecOK;
  error = "a page cannot be coded in Group 4: " + errors.said("no data");
  return ecOutOfMemory;
}

std::string number(double v) {
  std::ostringstream s;
  s.setf(std::ios::fixed);
  s.precision(2);
  s << v;
  return s.str();
}

// Both exports refuse a file without pages before they create anything.
Result openPages(const std::string &in, PageSource &source, std::string &error) {
  error.clear();
  if (Result r = source.open(in, error); r < 0) return r;
  if (source.count() == 0) {
    error = in + " has no pages";
    return ecFaxBadFormat;
  }
  return ecOK;
}

}  // namespace

Result ExportApfToTiff(const std::string &in, const std::string &out, std::string &error,
                       const ExportProgress &progress) {
  PageSource source;
  if (Result r = openPages(in, source, error); r < 0) return r;
  FileReplacement file;
  if (Result r = prepareOutput(file, in, out, error); r < 0) return r;
  const int fd = file.createTemp();
  if (fd < 0) return cannotWrite(out, fd, file.problem(), error);
  TiffErrors errors;
  // Named after the destination, so that whatever libtiff says names the file the user gave.
  TIFF *t = TIFFFdOpen(fd, out.c_str(), "w");
  if (!t) {
    ::close(fd);
    return cannotWrite(out, ecOutOfMemory, errors.said("not as a TIFF file"), error);
  }
  Result r = ecOK;
  bool written = true;
  for (int n = 1; n <= source.count() && written; ++n) {
    if (progress) progress(n, source.count());
    Page p;
    if ((r = source.read(n, p, error)) < 0) break;
    ensureRow(p);
    setPageTags(t, p, COMPRESSION_CCITTFAX3, n - 1, source.count());
    written = writeRows(t, p) && TIFFWriteDirectory(t);
  }
  // Whatever libtiff still holds goes out now, where a failure can be seen.
  if (r == ecOK && written) written = TIFFFlush(t);
  // libtiff's own words do not carry the system's reason, which is what the user can act on.
  const int writeError = written ? 0 : errno;
  TIFFClose(t);  // closes the descriptor too
  if (r < 0) return r;
  if (!written)
    return cannotWrite(out, writeError ? fileErrorCode(writeError) : ecDiskFull,
                       writeError ? SystemReason(writeError) : errors.said("writing failed"),
                       error);
  return commitOutput(file, error);
}

Result ExportApfToPdf(const std::string &in, const std::string &out, std::string &error,
                      const ExportProgress &progress) {
  PageSource source;
  if (Result r = openPages(in, source, error); r < 0) return r;
  FileReplacement file;
  if (Result r = prepareOutput(file, in, out, error); r < 0) return r;
  const int fd = file.createTemp();
  if (fd < 0) return cannotWrite(out, fd, file.problem(), error);
  CheckedWriter pdf(fd);

  // Objects: 1 catalog, 2 page tree, then per page: page, contents, image.
  const int pages = source.count();
  std::vector<std::uint64_t> offsets(static_cast<std::size_t>(3 + 3 * pages), 0);
  auto begin = [&](int id) {
    offsets[static_cast<std::size_t>(id)] = pdf.position();
    pdf.put(std::to_string(id) + " 0 obj\n");
  };
  pdf.put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  begin(1);
  pdf.put("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
  begin(2);
  std::string kids = "<< /Type /Pages /Count " + std::to_string(pages) + " /Kids [";
  for (int n = 0; n < pages; ++n) kids += " " + std::to_string(3 + 3 * n) + " 0 R";
  pdf.put(kids + " ] >>\nendobj\n");

  for (int n = 1; n <= pages; ++n) {
    if (progress) progress(n, pages);
    Page p;
    if (Result r = source.read(n, p, error); r < 0) return r;
    ensureRow(p);
    std::vector<std::uint8_t> g4;
    if (Result r = codeGroup4(p, g4, error); r < 0) return r;
    const int w = p.widthBytes * 8, h = p.height();
    // The true size of the page: 8 pixels a millimetre across, 3.85 or 7.7 lines down.
    const std::string pw = number(w / kDotsPerInchX * 72.0);
    const std::string ph = number(h / (p.fine ? kFineLinesPerInch : kNormalLinesPerInch) * 72.0);
    const int pageId = 3 + 3 * (n - 1), contentId = pageId + 1, imageId = pageId + 2;
    const std::string im = "/Im" + std::to_string(n);
    begin(pageId);
    pdf.put("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + pw + " " + ph +
            "] /Resources << /XObject << " + im + " " + std::to_string(imageId) +
            " 0 R >> >> /Contents " + std::to_string(contentId) + " 0 R >>\nendobj\n");
    const std::string content = "q " + pw + " 0 0 " + ph + " 0 0 cm " + im + " Do Q\n";
    begin(contentId);
    pdf.put("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
            "endstream\nendobj\n");
    begin(imageId);
    pdf.put("<< /Type /XObject /Subtype /Image /Width " + std::to_string(w) + " /Height " +
            std::to_string(h) +
            " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /CCITTFaxDecode"
            " /DecodeParms << /K -1 /Columns " +
            std::to_string(w) + " /Rows " + std::to_string(h) + " /BlackIs1 false >> /Length " +
            std::to_string(g4.size()) + " >>\nstream\n");
    pdf.put(std::string_view(reinterpret_cast<const char *>(g4.data()), g4.size()));
    pdf.put("\nendstream\nendobj\n");
  }
  const std::uint64_t xref = pdf.position();
  pdf.put("xref\n0 " + std::to_string(offsets.size()) + "\n0000000000 65535 f \n");
  for (std::size_t i = 1; i < offsets.size(); ++i) {
    char line[24];
    std::snprintf(line, sizeof line, "%010llu 00000 n \n",
                  static_cast<unsigned long long>(offsets[i]));
    pdf.put(line);
  }
  pdf.put("trailer\n<< /Size " + std::to_string(offsets.size()) + " /Root 1 0 R >>\nstartxref\n" +
          std::to_string(xref) + "\n%%EOF\n");
  if (Result r = pdf.close(); r < 0) return cannotWrite(out, r, pdf.systemReason(), error);
  return commitOutput(file, error);
}

namespace {

std::string lowerExtension(const std::string &name) {
  const auto dot = name.find_last_of('.');
  std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

}  // namespace

bool IsExportName(const std::string &out) {
  const std::string ext = lowerExtension(out);
  return ext == ".pdf" || ext == ".tif" || ext == ".tiff";
}

Result ExportApf(const std::string &in, const std::string &out, std::string &error,
                 const ExportProgress &progress) {
  if (!IsExportName(out)) {
    error = "the output must end in .pdf, .tif or .tiff: " + out;
    return ecBadArgument;
  }
  if (lowerExtension(out) == ".pdf") return ExportApfToPdf(in, out, error, progress);
  return ExportApfToTiff(in, out, error, progress);
}

}  // namespace kv
