#pragma once
// Fax pages for line tests: made by efix from text, read back with libtiff as bitmaps.
#include <string>
#include <vector>

namespace kv::test {

struct Bitmap {
  int width = 0, height = 0;
  std::vector<std::string> rows;  // packed, MSB first, 1 = black
};

// Every page of a TIFF file, decoded. Empty when the file cannot be read.
std::vector<Bitmap> readTiffPages(const std::string &path);

// Writes one fax page (1728 wide, fine or normal resolution, G3) per text into dir/page.NNN
// with efix; returns the file names.
std::vector<std::string> makeFaxPages(const std::string &dir, const std::vector<std::string> &texts,
                                      bool fine = true);

// Rows of `got` from `offset` on that differ from `want`, counted from want's row `fromRow`;
// a height mismatch counts the missing rows as different.
int differingRows(const Bitmap &want, const Bitmap &got, int offset, int fromRow = 0);

}  // namespace kv::test
