#pragma once
// The font of the program's windows: Arial at the described sizes where Arial is installed,
// else the desktop's own font, larger or smaller by as much as the described size differs from
// the described body size.
#include <QFont>

namespace kv {

// `points` is the described size (8 is the body text of the windows).
QFont UiFont(int points, bool bold = false);

// True when the windows use Arial rather than the desktop's font.
bool UiFontIsArial();

}  // namespace kv
