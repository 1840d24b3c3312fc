#include <cstring>

#include "fax/send_fax.h"
#include "faximage/converter_text.h"
#include "faximage/fax_font.h"
#include "faximage/t4_coder.h"

namespace kv {

Result renderTextRows(const std::string &text, int charRows, bool fine,
                      std::vector<std::vector<std::uint8_t>> &rows) {
  (void)charRows;  // both the header line and a text cover use the standard font
  FaxFont font;
  Result r = font.load(ffStandard, fine);
  if (r < 0) return r;
  std::string cp = toFaxCodePage(text);
  rows.assign(std::size_t(font.rows()), std::vector<std::uint8_t>(kFaxBytesNormal, 0));
  for (int row = 0; row < font.rows(); ++row)
    font.drawRow(cp, row, rows[std::size_t(row)].data(), rows[std::size_t(row)].size());
  return ecOK;
}

}  // namespace kv
