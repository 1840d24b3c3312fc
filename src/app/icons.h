#pragma once
// Pictures of the button bars, drawn here so that they look the same on every desktop and
// read well as white line art on the dark teal bar.
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
// The picture of the about window: a fax machine.
QPixmap AboutPicture(int size);

}  // namespace kv
