// korvane-fax unpack: writes pages of an APF file as PBM or PNG images.
#include <QBuffer>
#include <QImage>
#include <algorithm>
#include <cstring>
#include <ostream>
#include <vector>

#include "base/file_replacement.h"
#include "base/temp_file_cleanup.h"
#include "cli/command.h"
#include "faximage/fax_unpacker.h"

namespace kv::cli {

namespace {

constexpr std::size_t kMaxLines = 65536;

struct Page {
  int widthBytes = 0;
  std::vector<std::vector<std::uint8_t>> lines;
};

// Raw P4 PBM: 1 = black, rows padded to whole bytes (as our lines already are).
std::vector<std::uint8_t> encodePbm(const Page &p) {
  const std::string head =
      "P4\n" + std::to_string(p.widthBytes * 8) + " " + std::to_string(p.lines.size()) + "\n";
  const std::size_t row = static_cast<std::size_t>(p.widthBytes);
  std::vector<std::uint8_t> out(head.begin(), head.end());
  out.resize(head.size() + row * p.lines.size(), 0);
  std::uint8_t *dst = out.data() + head.size();
  for (const auto &l : p.lines) {
    std::copy(l.begin(), l.begin() + std::min(l.size(), row), dst);
    dst += row;
  }
  return out;
}

Result encodePng(const Page &p, std::vector<std::uint8_t> &out) {
  QImage img(p.widthBytes * 8, static_cast<int>(p.lines.size()), QImage::Format_Mono);
  if (img.isNull()) return ecOutOfMemory;
  img.setColor(0, qRgb(255, 255, 255));
  img.setColor(1, qRgb(0, 0, 0));
  for (int y = 0; y < img.height(); ++y) {
    uchar *dst = img.scanLine(y);
    std::memset(dst, 0, static_cast<std::size_t>(img.bytesPerLine()));
    const auto &l = p.lines[static_cast<std::size_t>(y)];
    std::memcpy(dst, l.data(),
                std::min<std::size_t>(l.size(), static_cast<std::size_t>(p.widthBytes)));
  }
  // 200 x 200 or 200 x 100 dots per inch is not carried: the pixels are as decoded.
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!img.save(&buffer, "PNG")) return ecOutOfMemory;
  out.assign(bytes.begin(), bytes.end());
  return ecOK;
}

int runUnpack(const Args &args, Context &ctx) {
  const std::string &in = args.positional()[0];
  const auto prefix = args.value("output");
  if (!prefix || prefix->empty())
    return usageError(ctx, "unpack", "an output prefix (-o PREFIX) is needed");
  const std::string format = args.value("format").value_or("pbm");
  if (format != "pbm" && format != "png")
    return usageError(ctx, "unpack", "format must be pbm or png");
  TKvFaxUnpacker u;
  u.setAutoScaleMode(asNone);
  if (auto s = args.value("scale")) {
    if (*s == "double-height")
      u.setAutoScaleMode(asDoubleHeight);
    else if (*s == "half-width")
      u.setAutoScaleMode(asHalfWidth);
    else if (*s != "none")
      return usageError(ctx, "unpack", "scale must be double-height, half-width or none");
  }
  u.setInFileName(in);
  // Interrupted, a half-written page goes with us.
  TempFileSignalCleanup cleanup;
  int pages = 0;
  if (Result r = u.numPages(pages); r < 0) return fail(ctx, "unpack", r, in);
  int first = 1, last = pages;
  if (auto p = args.value("page")) {
    int n = 0;
    if (!parseInt(*p, 1, 65535, n))
      return usageError(ctx, "unpack", "bad page number '" + *p + "'");
    if (n > pages)
      return fail(ctx, "unpack", ecFaxBadFormat,
                  in + " has " + std::to_string(pages) + " page(s), not " + *p);
    first = last = n;
  }
  if (pages == 0) {
    ctx.err << "korvane-fax unpack: " << in << " has no pages\n";
    return exitOk;
  }
  for (int n = first; n <= last; ++n) {
    Page page;
    bool tooTall = false;
    u.OnOutputLine = [&](TKvCustomFaxUnpacker &, bool starting, bool ending, const std::uint8_t *d,
                         int len, int) {
      if (starting || ending) return;
      // No paper is that long; a damaged file must not make us hold gigabytes of lines.
      if (page.lines.size() >= kMaxLines) {
        tooTall = true;
        u.abort();
        return;
      }
      page.widthBytes = std::max(page.widthBytes, len);
      page.lines.emplace_back(d, d + len);
    };
    if (Result r = u.unpackPage(n); tooTall) {
      ctx.err << "korvane-fax unpack: " << in << ", page " << n << ": more than " << kMaxLines
              << " lines; not a fax page\n";
      return exitFailed;
    } else if (r < 0)
      return fail(ctx, "unpack", r, in + ", page " + std::to_string(n));
    const std::string out = *prefix + "-" + std::to_string(n) + "." + format;
    if (page.lines.empty()) {
      ctx.err << "korvane-fax unpack: page " << n << " has no lines; nothing written\n";
      continue;
    }
    std::vector<std::uint8_t> bytes;
    Result r = ecOK;
    if (format == "png")
      r = encodePng(page, bytes);
    else
      bytes = encodePbm(page);
    std::string why;
    if (r >= 0) r = WriteWholeFile(out, bytes, why, in);
    if (r < 0) return fail(ctx, "unpack", r, out, why);
    ctx.out << out << ": " << page.widthBytes * 8 << " x " << page.lines.size() << "\n";
  }
  return exitOk;
}

}  // namespace

Command unpackCommand() {
  Command c;
  c.name = "unpack";
  c.synopsis = "IN.APF -o PREFIX [--format pbm|png] [--page N] [--scale double-height|half-width]";
  c.summary = "write the pages of an APF file as PBM or PNG images";
  c.description =
      "Decodes the pages of IN.APF and writes each as PREFIX-1.pbm, PREFIX-2.pbm, ... (or .png).\n"
      "Pages keep their own resolution: a normal-resolution page has half as many lines per inch\n"
      "as a fine one unless --scale evens it out.";
  c.options = {
      {"output", 'o', "PREFIX", "names of the written files: PREFIX-N.pbm"},
      {"format", 'f', "pbm|png", "image format (default pbm: raw P4, 1 = black)"},
      {"page", 'p', "N", "only page N"},
      {"scale", 0, "MODE", "double-height or half-width for normal-resolution pages"},
  };
  c.run = runUnpack;
  c.minPositional = c.maxPositional = 1;
  return c;
}

}  // namespace kv::cli
