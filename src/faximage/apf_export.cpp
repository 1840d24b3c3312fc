#include "faximage/apf_export.h"

#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/error_text.h"
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
    if (Result r = unpacker_.numPages(count_); r < 0) {
      error = in + ": " + errorText(r);
      return r;
    }
    return ecOK;
  }
  int count() const { return count_; }

  Result read(int n, Page &page, std::string &error) {
    page = Page{};
    ApfReader reader;
    ApfPageLocation loc;
    Result r = reader.open(in_);
    if (r >= 0) r = reader.locatePage(n, loc);
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
  TKvFaxUnpacker unpacker_;
};

// A file written under a temporary name beside its destination.
class PendingFile {
 public:
  explicit PendingFile(const std::string &out) : out_(out) {
    temp_ = out + ".partXXXXXX";
    fd_ = mkstemp(temp_.data());
    // A scratch name is private; the finished file gets the usual permissions of a new file.
    if (fd_ >= 0) {
      const mode_t mask = umask(0);
      umask(mask);
      fchmod(fd_, 0666 & ~mask);
    }
  }
  ~PendingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) std::remove(temp_.c_str());
  }
  bool ok() const { return fd_ >= 0; }
  const std::string &path() const { return temp_; }
  // Hands the descriptor over (to libtiff).
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void closeFd() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  bool commit() {
    closeFd();
    committed_ = std::rename(temp_.c_str(), out_.c_str()) == 0;
    return committed_;
  }

 private:
  std::string out_, temp_;
  int fd_ = -1;
  bool committed_ = false;
};

Result cannotWrite(const std::string &path, std::string &error) {
  error = "cannot write " + path + ": " + std::strerror(errno);
  return ecAccessDenied;
}

// libtiff's warnings and errors go to our message instead of stderr.
thread_local std::string *g_tiffError = nullptr;
void tiffErrorHandler(const char *module, const char *fmt, va_list ap) {
  if (!g_tiffError) return;
  char buf[512];
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  *g_tiffError = std::string(module ? module : "libtiff") + ": " + buf;
}
class TiffErrors {
 public:
  explicit TiffErrors(std::string &sink) {
    g_tiffError = &sink;
    oldError_ = TIFFSetErrorHandler(tiffErrorHandler);
    oldWarning_ = TIFFSetWarningHandler(nullptr);
  }
  ~TiffErrors() {
    TIFFSetErrorHandler(oldError_);
    TIFFSetWarningHandler(oldWarning_);
    g_tiffError = nullptr;
  }

 private:
  TIFFErrorHandler oldError_, oldWarning_;
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

Result writeRows(TIFF *t, const Page &p, std::string &error, const std::string &path) {
  std::vector<std::uint8_t> row(static_cast<std::size_t>(p.widthBytes));
  for (int y = 0; y < p.height(); ++y) {
    std::memcpy(row.data(), p.rows.data() + static_cast<std::size_t>(y) * p.widthBytes, row.size());
    if (TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) < 0) {
      if (error.empty()) error = "cannot write " + path;
      return ecDiskFull;
    }
  }
  return ecOK;
}

// A page with no lines still becomes a page: one white row.
void ensureRow(Page &p) {
  if (p.height() == 0) p.rows.assign(static_cast<std::size_t>(p.widthBytes), 0);
}

// Group 4 data of one page, coded by libtiff into a scratch file and read back raw.
Result codeGroup4(const Page &p, std::vector<std::uint8_t> &out, std::string &error) {
  char scratch[] = "/tmp/korvane-g4-XXXXXX";
  const int fd = mkstemp(scratch);
  if (fd < 0) return cannotWrite(scratch, error);
  ::close(fd);
  Result r = ecOK;
  {
    TiffErrors errors(error);
    TIFF *t = TIFFOpen(scratch, "w");
    if (!t) {
      std::remove(scratch);
      return cannotWrite(scratch, error);
    }
    setPageTags(t, p, COMPRESSION_CCITTFAX4, 0, 1);
    r = writeRows(t, p, error, scratch);
    TIFFClose(t);
    if (r == ecOK) {
      t = TIFFOpen(scratch, "r");
      if (!t || TIFFNumberOfStrips(t) != 1) {
        r = ecDiskFull;
      } else {
        const tmsize_t size = static_cast<tmsize_t>(TIFFRawStripSize(t, 0));
        out.resize(static_cast<std::size_t>(std::max<tmsize_t>(size, 0)));
        if (size <= 0 || TIFFReadRawStrip(t, 0, out.data(), size) != size) r = ecDiskFull;
      }
      if (t) TIFFClose(t);
    }
  }
  std::remove(scratch);
  if (r < 0 && error.empty()) error = "cannot code a page in Group 4";
  return r;
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
  PendingFile file(out);
  if (!file.ok()) return cannotWrite(out, error);
  TiffErrors errors(error);
  TIFF *t = TIFFFdOpen(file.release(), file.path().c_str(), "w");
  if (!t) return cannotWrite(out, error);
  Result r = ecOK;
  for (int n = 1; n <= source.count() && r == ecOK; ++n) {
    if (progress) progress(n, source.count());
    Page p;
    if ((r = source.read(n, p, error)) < 0) break;
    ensureRow(p);
    setPageTags(t, p, COMPRESSION_CCITTFAX3, n - 1, source.count());
    if ((r = writeRows(t, p, error, out)) < 0) break;
    if (!TIFFWriteDirectory(t)) r = cannotWrite(out, error);
  }
  TIFFClose(t);  // closes the descriptor too
  if (r < 0) return r;
  if (!file.commit()) return cannotWrite(out, error);
  return ecOK;
}

Result ExportApfToPdf(const std::string &in, const std::string &out, std::string &error,
                      const ExportProgress &progress) {
  PageSource source;
  if (Result r = openPages(in, source, error); r < 0) return r;
  PendingFile file(out);
  if (!file.ok()) return cannotWrite(out, error);
  file.closeFd();
  std::ofstream pdf(file.path(), std::ios::binary | std::ios::trunc);
  if (!pdf) return cannotWrite(out, error);

  // Objects: 1 catalog, 2 page tree, then per page: page, contents, image.
  const int pages = source.count();
  std::vector<std::streamoff> offsets(static_cast<std::size_t>(3 + 3 * pages), 0);
  auto begin = [&](int id) {
    offsets[static_cast<std::size_t>(id)] = pdf.tellp();
    pdf << id << " 0 obj\n";
  };
  pdf << "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  begin(1);
  pdf << "<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
  begin(2);
  pdf << "<< /Type /Pages /Count " << pages << " /Kids [";
  for (int n = 0; n < pages; ++n) pdf << " " << 3 + 3 * n << " 0 R";
  pdf << " ] >>\nendobj\n";

  for (int n = 1; n <= pages; ++n) {
    if (progress) progress(n, pages);
    Page p;
    if (Result r = source.read(n, p, error); r < 0) return r;
    ensureRow(p);
    std::vector<std::uint8_t> g4;
    if (Result r = codeGroup4(p, g4, error); r < 0) return r;
    const int w = p.widthBytes * 8, h = p.height();
    // The true size of the page: 8 pixels a millimetre across, 3.85 or 7.7 lines down.
    const double pw = w / kDotsPerInchX * 72.0;
    const double ph = h / (p.fine ? kFineLinesPerInch : kNormalLinesPerInch) * 72.0;
    const int pageId = 3 + 3 * (n - 1), contentId = pageId + 1, imageId = pageId + 2;
    begin(pageId);
    pdf << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " << number(pw) << " " << number(ph)
        << "] /Resources << /XObject << /Im" << n << " " << imageId << " 0 R >> >> /Contents "
        << contentId << " 0 R >>\nendobj\n";
    const std::string content =
        "q " + number(pw) + " 0 0 " + number(ph) + " 0 0 cm /Im" + std::to_string(n) + " Do Q\n";
    begin(contentId);
    pdf << "<< /Length " << content.size() << " >>\nstream\n" << content << "endstream\nendobj\n";
    begin(imageId);
    pdf << "<< /Type /XObject /Subtype /Image /Width " << w << " /Height " << h
        << " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /CCITTFaxDecode"
        << " /DecodeParms << /K -1 /Columns " << w << " /Rows " << h << " /BlackIs1 false >>"
        << " /Length " << g4.size() << " >>\nstream\n";
    pdf.write(reinterpret_cast<const char *>(g4.data()), static_cast<std::streamsize>(g4.size()));
    pdf << "\nendstream\nendobj\n";
  }
  const std::streamoff xref = pdf.tellp();
  pdf << "xref\n0 " << offsets.size() << "\n0000000000 65535 f \n";
  for (std::size_t i = 1; i < offsets.size(); ++i) {
    char line[24];
    std::snprintf(line, sizeof line, "%010lld 00000 n \n", static_cast<long long>(offsets[i]));
    pdf << line;
  }
  pdf << "trailer\n<< /Size " << offsets.size() << " /Root 1 0 R >>\nstartxref\n"
      << xref << "\n%%EOF\n";
  pdf.close();
  if (!pdf) return cannotWrite(out, error);
  if (!file.commit()) return cannotWrite(out, error);
  return ecOK;
}

Result ExportApf(const std::string &in, const std::string &out, std::string &error,
                 const ExportProgress &progress) {
  std::string ext =
      out.substr(out.find_last_of('.') == std::string::npos ? out.size() : out.find_last_of('.'));
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == ".pdf") return ExportApfToPdf(in, out, error, progress);
  if (ext == ".tif" || ext == ".tiff") return ExportApfToTiff(in, out, error, progress);
  error = "the output must end in .pdf, .tif or .tiff: " + out;
  return ecBadArgument;
}

}  // namespace kv
