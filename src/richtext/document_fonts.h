#pragma once
// Documents name Windows fonts. They are laid out with the metric-compatible Liberation fonts
// (Debian fonts-liberation2), so that lines and pages break where the author saw them.
#include <QString>

namespace kv {

// Makes the Windows font names resolve to their Liberation equivalents. Needs a
// QGuiApplication; calling it again does nothing.
void RegisterDocumentFonts();

// The family that is drawn for a document's font name ("Arial" -> "Liberation Sans").
QString DocumentFontFamily(const QString &name);

}  // namespace kv
