#pragma once
// Text from outside the program (a far end's fax id, rows another program wrote) shown on a
// terminal. Control characters, which a terminal would act on rather than show (escape
// sequences, carriage returns, the C1 range, DEL), are written as \xHH; the rest as UTF-8.
#include <string>
#include <string_view>

namespace kv {

// `quoted`: the text is shown between double quotes, so '"' and '\' get a backslash too.
std::string PrintableText(std::u32string_view text, bool quoted = false);
// Windows-1252 bytes; its five unassigned bytes are shown as \xHH like the controls.
std::string PrintableCp1252(std::string_view bytes, bool quoted = false);

}  // namespace kv
