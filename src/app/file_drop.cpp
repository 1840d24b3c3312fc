#include "app/file_drop.h"

#include <QAbstractScrollArea>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace kv {

TFileDrop::TFileDrop(QObject *parent, Wanted wanted, Take take)
    : QObject(parent), wanted_(std::move(wanted)), take_(std::move(take)) {}

TFileDrop *TFileDrop::Install(QWidget *target, Wanted wanted, Take take) {
  auto *drop = new TFileDrop(target, std::move(wanted), std::move(take));
  target->setAcceptDrops(true);
  target->installEventFilter(drop);
  // A scroll area's drops arrive at its viewport.
  if (auto *area = qobject_cast<QAbstractScrollArea *>(target)) {
    area->viewport()->setAcceptDrops(true);
    area->viewport()->installEventFilter(drop);
  }
  return drop;
}

QStringList TFileDrop::LocalFiles(const QMimeData *mime) {
  QStringList files;
  if (!mime || !mime->hasUrls()) return files;
  for (const QUrl &url : mime->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  return files;
}

QStringList TFileDrop::wantedFiles(const QMimeData *mime) const {
  QStringList files;
  for (const QString &f : LocalFiles(mime))
    if (wanted_ && wanted_(f)) files << f;
  return files;
}

bool TFileDrop::eventFilter(QObject *watched, QEvent *event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
      auto *drop = static_cast<QDropEvent *>(event);
      if (LocalFiles(drop->mimeData()).isEmpty()) break;  // text and the like: the control's
      const QStringList files = wantedFiles(drop->mimeData());
      if (files.isEmpty()) {
        drop->ignore();
        return true;
      }
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      if (event->type() == QEvent::Drop && take_)
        for (const QString &f : files) take_(f);
      return true;
    }
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

bool IsPdfFile(const QString &path) {
  QFile f(path);
  // Readers allow a little before the header, as some writers put it there.
  return f.open(QIODevice::ReadOnly) && f.read(1024).contains("%PDF-");
}

}  // namespace kv
