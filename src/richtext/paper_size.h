#pragma once
// The paper a document is laid out on: Letter, Legal or A4, in twips, and the one the user's
// locale uses (Letter in the Americas that use it, A4 elsewhere).
#include <QLocale>
#include <QString>

#include "richtext/paragraph_props.h"

namespace kv {

struct PaperSize {
  const char *name;
  int width, height;  // twips
};
inline constexpr PaperSize kPaperSizes[] = {
    {"Letter", 12240, 15840},
    {"Legal", 12240, 20160},
    {"A4", 11906, 16838},
};

// The index in kPaperSizes of the paper `page` is (within a few twips), or -1.
int PaperSizeIndex(const PageLayoutTw &page);

// The paper of `locale` with half-inch margins.
PageLayoutTw LocalePageLayout(const QLocale &locale = QLocale());

}  // namespace kv
