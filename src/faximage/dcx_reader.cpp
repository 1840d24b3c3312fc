// Multi-page PCX (DCX): a magic number, a table of up to 1024 page offsets ended by 0, and a PCX
// image at each offset.
#include <algorithm>
#include <vector>

#include "base/byte_order.h"
#include "faximage/pcx_reader.h"

namespace kv {

namespace {

constexpr std::uint32_t kDcxMagic = 987654321;
constexpr int kDcxMaxPages = 1024;

class DcxReader final : public LineSource {
 public:
  DcxReader(ByteInput &in, int maxWidth) : in_(in), page_(in, maxWidth) {}

  Result open() override {
    std::uint8_t w[4];
    Result r = in_.seek(0);
    if (r >= 0) r = in_.readExact(w, 4);
    if (r < 0) return r;
    if (getLe32(w) != kDcxMagic) return ecBadGraphicsFormat;
    for (int i = 0; i < kDcxMaxPages; ++i) {
      r = in_.read(w, 4);
      if (r < 0) return r;
      if (r < 4) break;  // a table cut off by the end of the file ends there
      const std::uint32_t off = getLe32(w);
      if (off == 0) break;
      offsets_.push_back(off);
    }
    if (offsets_.empty()) return ecBadGraphicsFormat;
    // A page's data ends where the next page starts.
    ends_.resize(offsets_.size());
    for (std::size_t i = 0; i < offsets_.size(); ++i) {
      std::uint64_t end = in_.size();
      for (std::uint32_t o : offsets_)
        if (o > offsets_[i]) end = std::min<std::uint64_t>(end, o);
      ends_[i] = end;
    }
    return openPage(0);
  }

  Result readLine(std::uint8_t *line, std::size_t lineBytes, bool &endOfPage,
                  bool &morePages) override {
    morePages = false;
    Result r = page_.readLine(line, lineBytes, endOfPage);
    if (r == ecBadGraphicsFormat)
      return refuse("page " + std::to_string(current_ + 1) + ": " + page_.problem());
    if (r < 0 || !endOfPage) return r;
    done_ += page_.bytesRead();
    if (current_ + 1 < offsets_.size()) {
      morePages = true;
      return openPage(current_ + 1);
    }
    return ecOK;
  }

  int imageWidth() const override { return page_.width(); }
  // Pages may share bytes (a table naming one page twice); progress never passes the file.
  std::uint64_t bytesRead() const override {
    return std::min<std::uint64_t>(done_ + page_.bytesRead(), in_.size());
  }
  std::uint64_t bytesTotal() const override { return in_.size(); }

 private:
  Result openPage(std::size_t i) {
    current_ = i;
    return page_.open(offsets_[i], ends_[i]);
  }

  ByteInput &in_;
  PcxPage page_;
  std::vector<std::uint32_t> offsets_;
  std::vector<std::uint64_t> ends_;
  std::size_t current_ = 0;
  std::uint64_t done_ = 0;
};

}  // namespace

std::unique_ptr<LineSource> makeDcxReader(ByteInput &in, int maxWidth) {
  return std::make_unique<DcxReader>(in, maxWidth);
}

}  // namespace kv
