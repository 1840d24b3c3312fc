#pragma once
// Text documents drawn with the built-in fax font.
#include <memory>
#include <string>

#include "faximage/converter_source.h"
#include "faximage/fax_font.h"

namespace kv {

// At most this many characters of each text line are used.
inline constexpr std::size_t kTextMaxLineChars = 144;

// Lines of `in` drawn one font row per raster line. A form feed ends a page, as do
// `linesPerPage` lines (0 = no limit); tabs go to the next multiple of `tabStop`; a line is cut
// to what fits beside the left margin.
std::unique_ptr<LineSource> makeTextSource(ByteInput &in, TFaxFont font, bool highResolution,
                                           int width, int leftMargin, int linesPerPage,
                                           int tabStop);

// Text of a line as Windows-1252, the code page of the fax font: a line that is valid UTF-8
// with characters beyond ASCII is converted ('?' for characters the code page lacks), any
// other line is taken as it is.
std::string toFaxCodePage(const std::string &raw);

}  // namespace kv
