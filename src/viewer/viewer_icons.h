#pragma once
// Pictures of the viewer window's buttons, in the style of the program's button bars.
#include <QIcon>

namespace kv {

enum class ViewerPicture {
  First,
  Prev,
  Next,
  Last,
  ZoomIn,
  ZoomOut,
  PrinterSetup,
  Print,
  PrintPage,
  Export
};

QIcon ViewerIcon(ViewerPicture picture);

}  // namespace kv
