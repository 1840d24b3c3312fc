#include "richtext/document_fonts.h"

#include <QFont>

namespace kv {
namespace {

struct Alias {
  const char *windows;
  const char *liberation;
};

constexpr Alias kAliases[] = {
    {"Arial", "Liberation Sans"},
    {"Helvetica", "Liberation Sans"},
    {"Arial Narrow", "Liberation Sans Narrow"},
    {"Times New Roman", "Liberation Serif"},
    {"Times", "Liberation Serif"},
    {"Courier New", "Liberation Mono"},
    {"Courier", "Liberation Mono"},
};

}  // namespace

void RegisterDocumentFonts() {
  static const bool done = [] {
    for (const Alias &a : kAliases)
      QFont::insertSubstitution(QString::fromLatin1(a.windows), QString::fromLatin1(a.liberation));
    return true;
  }();
  (void)done;
}

QString DocumentFontFamily(const QString &name) {
  for (const Alias &a : kAliases)
    if (name.compare(QLatin1String(a.windows), Qt::CaseInsensitive) == 0)
      return QString::fromLatin1(a.liberation);
  return name;
}

}  // namespace kv
