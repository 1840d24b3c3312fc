#include "app/icons.h"

#include <QPixmap>

// The pictures are compiled into a library that programs link statically; the resource's
// initialiser must be called from outside any namespace.
static void initIconResources() {
  Q_INIT_RESOURCE(icons);
}

namespace kv {
namespace {

const char *fileOf(ButtonPicture picture) {
  switch (picture) {
    case ButtonPicture::New:
      return "new";
    case ButtonPicture::Edit:
      return "edit";
    case ButtonPicture::Clone:
      return "clone";
    case ButtonPicture::Delete:
      return "delete";
    case ButtonPicture::Send:
      return "send";
    case ButtonPicture::Receive:
      return "receive";
    case ButtonPicture::Stop:
      return "stop";
    case ButtonPicture::View:
      return "view";
    case ButtonPicture::Exit:
      return "exit";
    case ButtonPicture::Help:
      return "help";
    case ButtonPicture::Ok:
      return "ok";
    case ButtonPicture::Cancel:
      return "cancel";
    case ButtonPicture::Font:
      return "font";
    case ButtonPicture::FindModem:
      return "find-modem";
    case ButtonPicture::FaxClass:
      return "fax-class";
    case ButtonPicture::ModemReset:
      return "modem-reset";
  }
  return "help";
}

void loadPictures() {
  static const bool loaded = [] {
    initIconResources();
    return true;
  }();
  (void)loaded;
}

}  // namespace

QString ButtonIconFile(ButtonPicture picture) {
  return QStringLiteral(":/icons/%1.svg").arg(QLatin1String(fileOf(picture)));
}

QIcon ButtonIcon(ButtonPicture picture) {
  loadPictures();
  return QIcon(ButtonIconFile(picture));
}

QPixmap AboutPicture(int size) {
  loadPictures();
  return QIcon(QStringLiteral(":/icons/fax-machine.svg")).pixmap(QSize(size, size));
}

}  // namespace kv
