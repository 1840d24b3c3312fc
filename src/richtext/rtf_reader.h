#pragma once
// Reads RTF into a text document: character formatting (fonts, sizes, bold, italic, underline,
// strike, colours), paragraph formatting (alignment, indents, spacing, line height, tab stops,
// page breaks), text in the document's code page and in Unicode, tables as tab-separated rows
// and merge fields (see merge_field.h). Pictures, objects and destinations it does not know
// are skipped without losing the text around them.
#include <QString>
#include <optional>

#include <string_view>
#include "richtext/paragraph_props.h"

class QTextDocument;

namespace kv {

// Hostile input is bounded by these: deeper groups share the state of the deepest one kept,
// further font and colour table entries are dropped.
inline constexpr int kRtfMaxDepth = 1000;
inline constexpr int kRtfMaxFonts = 4096;
inline constexpr int kRtfMaxColors = 4096;
inline constexpr int kRtfMaxCells = 64;

struct RtfReadResult {
  bool ok = false;
  QString error;  // why the input was refused, or a note on what was cut ("" when clean)
  // The paper and margins the document names (\paperw, \paperh, \margl...), when it names a
  // paper size.
  std::optional<PageLayoutTw> page;
};

// True when the bytes start (after blanks) with "{\rtf".
bool LooksLikeRtf(std::string_view bytes);

// Replaces the document's content with the RTF. Paragraph attributes are laid out for `dpi`.
// Input that is not RTF is refused (the document is left empty); damaged RTF is read as far
// as it goes.
RtfReadResult ReadRtf(std::string_view rtf, QTextDocument &doc, double dpi);

}  // namespace kv
