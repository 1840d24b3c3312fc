#pragma once
// Pictures of the button bars, drawn from the SVG files among the program's resources so that
// they look the same on every desktop, stay sharp at any scale and read well on the dark bar.
#include <QIcon>

namespace kv {

enum class ButtonPicture {
  New,
  Edit,
  Clone,
  Delete,
  Send,
  Receive,
  Stop,
  View,
  Exit,
  Help,
  Ok,
  Cancel,
  Font,
  FindModem,
  FaxClass,
  ModemReset
};

QIcon ButtonIcon(ButtonPicture picture);
// The resource path of the picture's SVG file.
QString ButtonIconFile(ButtonPicture picture);
// The picture of the about window: a fax machine.
QPixmap AboutPicture(int size);

}  // namespace kv
