// The conversion loop: a line source chosen by the input kind, the page-width options, T.4
// coding of every raster line with the left margin, and the APF writer.
//
// The output is written under a temporary name beside the wanted one and renamed into place
// only when the whole document has converted (FileReplacement), so a failed or interrupted
// conversion leaves nothing behind and never destroys an earlier file of the same name. An
// output that is the input itself is refused before anything is written.
#include "faximage/converter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <vector>

#include "base/exceptions.h"
#include "base/file_error.h"
#include "base/file_replacement.h"
#include "base/temp_file_cleanup.h"
#include "faximage/apf_file.h"
#include "faximage/converter_source.h"
#include "faximage/converter_text.h"
#include "faximage/dither.h"
#include "faximage/t4_coder.h"

namespace kv {

namespace {

namespace fs = std::filesystem;

bool hasExtension(const std::string &name) {
  return fs::path(name).has_extension();
}

bool exists(const std::string &name) {
  struct stat st;
  return ::stat(name.c_str(), &st) == 0;
}

const char *defaultExtension(TFaxInputDocumentType t) {
  switch (t) {
    case idText:
      return "TXT";
    case idTiff:
      return "TIF";
    case idPcx:
      return "PCX";
    case idDcx:
      return "DCX";
    case idBmp:
      return "BMP";
    default:
      return "";
  }
}

// Caller-supplied lines through the three user events.
class UserSource final : public LineSource {
 public:
  UserSource(TKvCustomFaxConverter &owner, std::string name) : owner_(owner), name_(name) {}
  Result open() override {
    if (!owner_.OnReadUserLine) return ecBadArgument;
    if (owner_.OnOpenUserFile) owner_.OnOpenUserFile(owner_, name_);
    return ecOK;
  }
  Result readLine(std::uint8_t *line, std::size_t lineBytes, bool &endOfPage,
                  bool &morePages) override {
    int len = static_cast<int>(lineBytes);
    endOfPage = morePages = false;
    owner_.OnReadUserLine(owner_, line, len, endOfPage, morePages);
    // Bytes past what the handler says it filled stay white.
    if (len >= 0 && static_cast<std::size_t>(len) < lineBytes)
      std::memset(line + len, 0, lineBytes - static_cast<std::size_t>(len));
    return ecOK;
  }
  void close() override {
    if (owner_.OnCloseUserFile) owner_.OnCloseUserFile(owner_);
  }
  std::uint64_t bytesRead() const override { return 0; }
  std::uint64_t bytesTotal() const override { return 0; }

 private:
  TKvCustomFaxConverter &owner_;
  std::string name_;
};

std::atomic<unsigned> tempCounter{0};

std::string uniqueSibling(const std::string &name, const char *tag) {
  return name + "." + tag + std::to_string(::getpid()) + "-" + std::to_string(tempCounter++);
}

}  // namespace

// One run of ConvertToFile: the state built from the properties when it starts.
class FaxConversion {
 public:
  explicit FaxConversion(TKvCustomFaxConverter &c) : c_(c) {}
  ~FaxConversion() { cleanUp(); }

  Result run();

 private:
  Result openSource();
  Result pageLoop();
  Result status(bool starting, bool ending);
  Result yield();
  Result codeLine(const std::uint8_t *raster);
  Result writeWhiteLine();
  void cleanUp();
  // Record which file a failure concerns, and why, for the caller's message.
  Result inputFailed(Result r, const std::string &why = {});
  Result outputFailed(Result r, const std::string &why = {});
  Result outputFailed(Result r, int err);
  Result checkMargin();

  TKvCustomFaxConverter &c_;
  int width_ = kFaxLineNormal;
  int leftMargin_ = 0;
  bool high_ = false;
  bool doubleWidth_ = false, halfHeight_ = false;
  bool yield_ = false, yieldOften_ = false;
  int shiftBytes_ = 0;
  int page_ = 0, line_ = 0;
  std::string inName_, outName_, ditherName_;
  FileReplacement target_;
  FileInput file_;
  std::unique_ptr<LineSource> source_;
  bool sourceOpen_ = false;
  std::vector<std::uint8_t> raster_;
  T4Encoder encoder_;
  ApfWriter out_;
};

void FaxConversion::cleanUp() {
  if (source_ && sourceOpen_) source_->close();
  sourceOpen_ = false;
  source_.reset();
  file_.close();
  if (!ditherName_.empty()) {
    std::remove(ditherName_.c_str());
    UnregisterTempFile(ditherName_);
  }
  ditherName_.clear();
  if (out_.isOpen()) out_.discard();
  target_.discard();
}

Result FaxConversion::inputFailed(Result r, const std::string &why) {
  c_.errorFile_ = inName_;
  if (!why.empty()) {
    c_.errorReason_ = why;
  } else if (source_ && !source_->problem().empty()) {
    c_.errorReason_ = source_->problem();
  } else if (!file_.problem().empty()) {
    c_.errorReason_ = file_.problem();
  } else if (r == ecBadGraphicsFormat && file_.cutOff()) {
    c_.errorReason_ = "the file ends early; it is cut off";
  }
  return r;
}

Result FaxConversion::outputFailed(Result r, const std::string &why) {
  c_.errorFile_ = outName_;
  c_.errorReason_ = why;
  return r;
}

// Only a file error has a system reason worth adding.
Result FaxConversion::outputFailed(Result r, int err) {
  return outputFailed(
      r, r <= ecFileNotFound && r >= ecGeneralFailure && err ? SystemReason(err) : std::string());
}

// A margin that leaves no room for the document would make blank pages of it.
Result FaxConversion::checkMargin() {
  if (c_.LeftMargin() < 0 || leftMargin_ >= width_)
    return inputFailed(ecBadArgument, "a left margin of " + std::to_string(c_.LeftMargin()) +
                                          " pixels leaves no room on a line of " +
                                          std::to_string(width_));
  if (c_.InputDocumentType() == idText) {
    FaxFont font;
    if (font.load(c_.FontType(), high_) >= 0 &&
        width_ / font.charWidth() - leftMargin_ / font.charWidth() <= 0)
      return inputFailed(ecBadArgument, "a left margin of " + std::to_string(leftMargin_) +
                                            " pixels leaves no room for a character");
  }
  return ecOK;
}

Result FaxConversion::run() {
  c_.errorFile_.clear();
  c_.errorReason_.clear();
  const TFaxInputDocumentType type = c_.InputDocumentType();
  if (type == idNone || type == idBitmap) return ecBadArgument;
  const TFaxCvtOptions o = c_.Options();
  width_ = c_.Width() == fwWide ? kFaxLineWide : kFaxLineNormal;
  leftMargin_ = std::clamp(c_.LeftMargin(), 0, width_);
  high_ = c_.Resolution() == frHigh;
  yield_ = o & coYield;
  yieldOften_ = yield_ && (o & coYieldOften);
  inName_ = c_.resolvedInputName();
  outName_ = c_.resolvedOutputName();
  if (inName_.empty() && type != idUser) return inputFailed(ecFileNotFound, "no input file named");
  if (outName_.empty()) return outputFailed(ecFileNotFound, "no output file named");
  Result r = checkMargin();
  if (r < 0) return r;
  try {
    raster_.assign(static_cast<std::size_t>(width_ / 8), 0);
  } catch (const std::bad_alloc &) {
    return ecOutOfMemory;
  }

  if ((r = target_.prepare(outName_, type == idUser ? std::string() : inName_)) < 0)
    return outputFailed(r, target_.problem());
  target_.removeStaleTemporaries();
  // The input is opened before the output is made: waiting on a pipe leaves no file behind.
  if (type != idUser && (r = file_.open(inName_)) < 0) return inputFailed(r);
  if ((r = out_.create(target_.tempName())) < 0) return outputFailed(r, errno);
  if ((r = status(true, false)) < 0) return r;
  if ((r = openSource()) < 0) return r;
  if ((r = pageLoop()) < 0) return r;
  if ((r = status(false, true)) < 0) return r;
  source_->close();
  sourceOpen_ = false;
  if (!ditherName_.empty()) {
    std::remove(ditherName_.c_str());
    UnregisterTempFile(ditherName_);
  }
  ditherName_.clear();
  if ((r = out_.finish(c_.StationID())) < 0) return outputFailed(r, errno);
  if ((r = target_.commit()) < 0) return outputFailed(r, target_.problem());
  return ecOK;
}

Result FaxConversion::openSource() {
  const TFaxInputDocumentType type = c_.InputDocumentType();
  if (type == idUser) {
    source_ = std::make_unique<UserSource>(c_, inName_);
  } else {
    Result r;
    if (type == idBmp && bmpNeedsDither(file_)) {
      // Colour and grey pictures are dithered into a one-bit copy in the current directory;
      // when that fails the original goes on and is refused as unsupported.
      for (const std::string &dir : {std::string("."), fs::path(outName_).parent_path().string()}) {
        const std::string base = (dir.empty() ? std::string(".") : dir) + "/" + kDitherTempPrefix;
        const std::string name = uniqueSibling(base, "");
        RegisterTempFile(name);
        if (ditherBmpToMono(file_, name, width_) >= 0) {
          ditherName_ = name;
          break;
        }
        UnregisterTempFile(name);
      }
      if (!ditherName_.empty() && (r = file_.open(ditherName_)) < 0) return inputFailed(r);
      file_.seek(0);
    }
    switch (type) {
      case idText:
        source_ = makeTextSource(file_, c_.FontType(), high_, width_, leftMargin_,
                                 c_.LinesPerPage(), c_.TabStop());
        break;
      case idTiff:
        source_ = makeTiffReader(file_, width_);
        break;
      case idPcx:
        source_ = makePcxReader(file_, width_);
        break;
      case idDcx:
        source_ = makeDcxReader(file_, width_);
        break;
      default:
        source_ = makeBmpReader(file_, width_);
        break;
    }
  }
  Result r = source_->open();
  if (r < 0) return inputFailed(r);
  sourceOpen_ = true;

  // Page-width options apply to images: doubling and halving only at normal resolution.
  const int imageWidth = source_->imageWidth();
  const TFaxCvtOptions o = c_.Options();
  if (imageWidth > 0) {
    doubleWidth_ = !high_ && (o & coDoubleWidth) && 2 * imageWidth <= width_ - leftMargin_;
    halfHeight_ = !high_ && !doubleWidth_ && (o & coHalfHeight);
    if (o & coCenterImage) {
      const int spare = width_ - (doubleWidth_ ? 2 * imageWidth : imageWidth);
      if (spare > 15) shiftBytes_ = doubleWidth_ ? spare / 32 : spare / 16;
    }
  }
  return ecOK;
}

Result FaxConversion::status(bool starting, bool ending) {
  if (!c_.OnStatus) return ecOK;
  bool abort = false;
  const std::int64_t done = source_ ? static_cast<std::int64_t>(source_->bytesRead()) : 0;
  const std::int64_t total = source_ ? static_cast<std::int64_t>(source_->bytesTotal()) : 0;
  c_.OnStatus(c_, starting, ending, page_, line_, done, total, abort);
  return abort ? ecConvertAbort : ecOK;
}

Result FaxConversion::yield() {
  if (c_.MessagePump && !c_.MessagePump()) return ecGotQuitMsg;
  return ecOK;
}

Result FaxConversion::pageLoop() {
  const bool wide = width_ == kFaxLineWide;
  const std::size_t lineBytes = raster_.size();
  for (;;) {
    if (page_ >= kApfMaxPages)
      return inputFailed(ecBadArgument, "the document runs to more than " +
                                            std::to_string(kApfMaxPages) +
                                            " pages, the most one fax file holds");
    ++page_;
    line_ = 0;
    Result r = out_.beginPage(high_, wide);
    if (r < 0) return outputFailed(r, errno);
    for (int i = 0; i < c_.TopMargin(); ++i)
      if ((r = writeWhiteLine()) < 0) return outputFailed(r, errno);
    bool more = false;
    for (;;) {
      std::fill(raster_.begin(), raster_.end(), 0);
      ++line_;
      bool endOfPage = false;
      more = false;
      if ((r = source_->readLine(raster_.data(), lineBytes, endOfPage, more)) < 0)
        return inputFailed(r);
      if ((r = status(false, false)) < 0) return r;
      if (endOfPage) break;
      if (shiftBytes_ > 0) {
        const std::size_t s =
            std::min<std::size_t>(static_cast<std::size_t>(shiftBytes_), lineBytes);
        std::memmove(raster_.data() + s, raster_.data(), lineBytes - s);
        std::memset(raster_.data(), 0, s);
      }
      if (!halfHeight_ || (line_ & 1)) {
        if ((r = codeLine(raster_.data())) < 0) return outputFailed(r, errno);
      }
      if (yieldOften_ && line_ % 16 == 0 && (r = yield()) < 0) return r;
    }
    if ((r = out_.endPage()) < 0) return outputFailed(r, errno);
    if (yield_ && (r = yield()) < 0) return r;
    if (!more) return ecOK;
  }
}

Result FaxConversion::writeWhiteLine() {
  encoder_.beginRecord();
  encoder_.putRun(static_cast<std::uint32_t>(width_), false);
  encoder_.endRecord();
  return out_.writeRecord(encoder_.record());
}

// The first run is white and takes in the left margin; the raster's first W - margin pixels
// follow (each doubled for double width), and the last run is made to end exactly at W.
Result FaxConversion::codeLine(const std::uint8_t *raster) {
  const int bytes = width_ / 8;
  bool blank = true;
  for (int i = 0; i < bytes && blank; ++i) blank = raster[i] == 0;
  if (blank) return writeWhiteLine();

  encoder_.beginRecord();
  const int scale = doubleWidth_ ? 2 : 1;
  const int examined = width_ - leftMargin_;
  int pos = leftMargin_;  // output pixels covered by finished runs plus the current one so far
  int runStart = 0;       // output position where the current run began
  bool black = false;
  auto pixel = [&](int x) { return (raster[x >> 3] >> (7 - (x & 7))) & 1; };
  for (int x = 0; x < examined && pos < width_;) {
    // Whole bytes of the current colour are skipped at once.
    if ((x & 7) == 0 && x + 8 <= examined && raster[x >> 3] == (black ? 0xFF : 0x00)) {
      x += 8;
      pos += 8 * scale;
      continue;
    }
    if (pixel(x) != static_cast<int>(black)) {
      encoder_.putRun(static_cast<std::uint32_t>(std::min(pos, width_) - runStart), black);
      runStart = std::min(pos, width_);
      black = !black;
    }
    ++x;
    pos += scale;
  }
  if (runStart < width_) encoder_.putRun(static_cast<std::uint32_t>(width_ - runStart), black);
  encoder_.endRecord();
  return out_.writeRecord(encoder_.record());
}

Result TKvCustomFaxConverter::convert() {
  try {
    FaxConversion conv(*this);
    return conv.run();
  } catch (const std::bad_alloc &) {
    return ecOutOfMemory;
  }
}

void TKvCustomFaxConverter::ConvertToFile() {
  RaiseOnError(convert());
}

void TKvCustomFaxConverter::setDocumentFile(const std::string &name) {
  documentFile_ = name;
  if (!loading_) outFileName_ = fs::path(name).replace_extension(".APF").string();
}

std::string TKvCustomFaxConverter::resolvedInputName() const {
  if (documentFile_.empty() || hasExtension(documentFile_)) return documentFile_;
  const std::string ext =
      inputType_ == idUser ? defUserExtension_ : std::string(defaultExtension(inputType_));
  if (ext.empty()) return documentFile_;
  // A file named without an extension is common here; the default extension is added only
  // when the name as given does not exist.
  if (exists(documentFile_)) return documentFile_;
  const std::string dotted = ext[0] == '.' ? ext : "." + ext;
  const std::string upper = documentFile_ + dotted;
  if (exists(upper)) return upper;
  std::string lower = dotted;
  for (auto &ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return exists(documentFile_ + lower) ? documentFile_ + lower : upper;
}

std::string TKvCustomFaxConverter::resolvedOutputName() const {
  if (!outFileName_.empty())
    return hasExtension(outFileName_) ? outFileName_ : outFileName_ + ".APF";
  if (documentFile_.empty()) return {};
  return fs::path(documentFile_).replace_extension(".APF").string();
}

}  // namespace kv
