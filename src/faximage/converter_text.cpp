#include "faximage/converter_text.h"

#include <algorithm>
#include <cstring>

#include "base/cp1252.h"

namespace kv {

namespace {

char toCp1252(char32_t u) {
  const int b = unicodeToCp1252(u);
  return b < 0 ? '?' : static_cast<char>(b);
}

// Decodes `raw` as UTF-8; answers false when it is not valid UTF-8.
bool decodeUtf8(const std::string &raw, std::u32string &out) {
  out.clear();
  for (std::size_t i = 0; i < raw.size();) {
    const auto b = static_cast<unsigned char>(raw[i]);
    int extra;
    char32_t u;
    if (b < 0x80) {
      extra = 0, u = b;
    } else if ((b & 0xE0) == 0xC0) {
      extra = 1, u = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2, u = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3, u = b & 0x07;
    } else {
      return false;
    }
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= raw.size()) return false;
      const auto c = static_cast<unsigned char>(raw[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      u = u << 6 | (c & 0x3F);
    }
    // Overlong forms and surrogates are not UTF-8.
    static const char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    if (u < kMin[extra] || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) return false;
    out.push_back(u);
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

class TextSource final : public LineSource {
 public:
  TextSource(ByteInput &in, TFaxFont font, bool high, int width, int leftMargin, int linesPerPage,
             int tabStop)
      : in_(in),
        fontKind_(font),
        high_(high),
        width_(width),
        leftMargin_(leftMargin),
        linesPerPage_(linesPerPage),
        tabStop_(std::max(1, tabStop)) {}

  Result open() override {
    Result r = font_.load(fontKind_, high_);
    if (r < 0) return r;
    const int cw = font_.charWidth();
    maxChars_ = static_cast<std::size_t>(std::max(0, width_ / cw - leftMargin_ / cw));
    return in_.seek(0);
  }

  Result readLine(std::uint8_t *line, std::size_t lineBytes, bool &endOfPage,
                  bool &morePages) override {
    endOfPage = morePages = false;
    if (!haveLine_) {
      Result r = nextTextLine(endOfPage, morePages);
      if (r < 0 || endOfPage) return r;
    }
    font_.drawRow(text_, row_, line, lineBytes);
    if (++row_ >= font_.rows()) haveLine_ = false;
    return ecOK;
  }

  std::uint64_t bytesRead() const override { return std::min(progress_, in_.size()); }
  std::uint64_t bytesTotal() const override { return in_.size(); }

 private:
  // Reads the raw bytes of one line: up to a line feed, a form feed (reported in `formFeed`)
  // or the end. Answers false at the end of the file with nothing read.
  Result fetch(std::string &raw, bool &formFeed, bool &got) {
    raw.clear();
    formFeed = got = false;
    std::size_t length = 0;
    for (;;) {
      const int b = in_.getByte();
      if (b < -1) return b;
      if (b < 0) break;
      got = true;
      if (b == '\n') break;
      if (b == '\f') {
        formFeed = true;
        break;
      }
      ++length;
      // Room for the 144 characters even when each takes four bytes of UTF-8.
      if (b != '\r' && raw.size() < 4 * kTextMaxLineChars) raw.push_back(static_cast<char>(b));
    }
    progress_ += length + 2;
    return ecOK;
  }

  void setText(const std::string &raw) {
    std::string text = toFaxCodePage(raw);
    if (text.size() > kTextMaxLineChars) text.resize(kTextMaxLineChars);
    text_.clear();
    for (char ch : text) {
      if (ch == '\t') {
        do text_.push_back(' ');
        while (text_.size() % static_cast<std::size_t>(tabStop_) != 0);
      } else {
        text_.push_back(ch);
      }
    }
    if (text_.size() > maxChars_) text_.resize(maxChars_);
    haveLine_ = true;
    row_ = 0;
  }

  Result nextTextLine(bool &endOfPage, bool &morePages) {
    if (breakAfterLine_) {
      breakAfterLine_ = false;
      return endPage(endOfPage, morePages);
    }
    if (linesPerPage_ > 0 && linesOnPage_ >= linesPerPage_) {
      // A form feed right where the line count breaks the page anyway makes no blank page.
      const std::uint64_t at = in_.position();
      const int b = in_.getByte();
      if (b < -1) return b;
      if (b == '\f') {
        progress_ += 1;
      } else {
        in_.seek(at);
      }
      return endPage(endOfPage, morePages);
    }
    std::string raw;
    bool formFeed, got;
    Result r = fetch(raw, formFeed, got);
    if (r < 0) return r;
    if (!got) {
      if (!anyLine_) {  // an empty file still makes one page with one blank line
        setText({});
        anyLine_ = true;
        ++linesOnPage_;
        return ecOK;
      }
      endOfPage = true;
      return ecOK;
    }
    if (formFeed && raw.empty()) return endPage(endOfPage, morePages);
    setText(raw);
    anyLine_ = true;
    ++linesOnPage_;
    breakAfterLine_ = formFeed;
    return ecOK;
  }

  Result endPage(bool &endOfPage, bool &morePages) {
    endOfPage = true;
    linesOnPage_ = 0;
    // Only a page with something after it follows; a document ending in a form feed does not
    // end with a blank page.
    morePages = in_.position() < in_.size();
    return ecOK;
  }

  ByteInput &in_;
  TFaxFont fontKind_;
  bool high_;
  int width_, leftMargin_, linesPerPage_, tabStop_;
  FaxFont font_;
  std::size_t maxChars_ = 0;
  std::string text_;
  bool haveLine_ = false;
  int row_ = 0;
  int linesOnPage_ = 0;
  bool anyLine_ = false;
  bool breakAfterLine_ = false;
  std::uint64_t progress_ = 0;
};

}  // namespace

std::string toFaxCodePage(const std::string &raw) {
  const bool ascii = std::all_of(raw.begin(), raw.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  std::u32string u;
  if (ascii || !decodeUtf8(raw, u)) return raw;
  std::string out;
  out.reserve(u.size());
  for (char32_t c : u) out.push_back(toCp1252(c));
  return out;
}

std::unique_ptr<LineSource> makeTextSource(ByteInput &in, TFaxFont font, bool highResolution,
                                           int width, int leftMargin, int linesPerPage,
                                           int tabStop) {
  return std::make_unique<TextSource>(in, font, highResolution, width, leftMargin, linesPerPage,
                                      tabStop);
}

}  // namespace kv
