#include "richtext/paper_size.h"

#include <cstdlib>

namespace kv {

int PaperSizeIndex(const PageLayoutTw &page) {
  for (int i = 0; i < int(std::size(kPaperSizes)); ++i)
    if (std::abs(page.width - kPaperSizes[i].width) <= 20 &&
        std::abs(page.height - kPaperSizes[i].height) <= 20)
      return i;
  return -1;
}

PageLayoutTw LocalePageLayout(const QLocale &locale) {
  // Where Letter is the usual paper; everywhere else it is A4.
  static constexpr QLocale::Territory kLetter[] = {
      QLocale::UnitedStates, QLocale::Canada,    QLocale::Mexico,   QLocale::PuertoRico,
      QLocale::Belize,       QLocale::Chile,     QLocale::Colombia, QLocale::CostaRica,
      QLocale::Guatemala,    QLocale::Nicaragua, QLocale::Panama,   QLocale::Philippines,
      QLocale::ElSalvador,   QLocale::Venezuela};
  bool letter = false;
  for (QLocale::Territory t : kLetter) letter = letter || locale.territory() == t;
  const PaperSize &paper = kPaperSizes[letter ? 0 : 2];
  PageLayoutTw page;
  page.width = paper.width;
  page.height = paper.height;
  page.left = page.right = page.top = page.bottom = 720;
  return page;
}

}  // namespace kv
