#include "app/open_fax_file.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/dialogs.h"
#include "app/view_work_dir.h"
#include "faximage/tiff_fax_import.h"
#include "viewer/fax_viewer_window.h"

namespace kv {

FaxFileKind FaxFileKindOf(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return FaxFileKind::Other;
  const QByteArray head = f.read(6);
  if (head == QByteArray("APF10\x1a", 6)) return FaxFileKind::Apf;
  if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)))
    return FaxFileKind::Tiff;
  return FaxFileKind::Other;
}

namespace {
// The TIFF's pages as a temporary APF file named after it in the run's work directory, or an
// empty name after telling the user why not.
QString convertTiff(QWidget *parent, const QString &path) {
  const QString out = TViewWorkDir::Program().newFile(path);
  if (out.isEmpty()) {
    Dialogs::error(parent, "Cannot make a work file in " + QDir::tempPath());
    return {};
  }
  std::string why;
  if (ImportTiffFax(path.toStdString(), out.toStdString(), why) < 0) {
    QFile::remove(out);
    Dialogs::error(parent, QString::fromStdString(why));
    return {};
  }
  return out;
}
}  // namespace

TFaxViewer *OpenFaxInViewer(QWidget *parent, const QString &path) {
  if (QWidget *modal = QApplication::activeModalWidget()) parent = modal;
  QString apf = path;
  bool temporary = false;
  switch (FaxFileKindOf(path)) {
    case FaxFileKind::Apf:
      break;
    case FaxFileKind::Tiff:
      apf = convertTiff(parent, path);
      if (apf.isEmpty()) return nullptr;
      temporary = true;
      break;
    case FaxFileKind::Other:
      Dialogs::error(parent, QFileInfo::exists(path) ? path + " is not a fax file (APF or TIFF)"
                                                     : path + " does not exist");
      return nullptr;
  }
  auto *viewer = new TFaxViewer(parent);
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->FileName = apf;
  viewer->Title = QFileInfo(path).fileName();
  viewer->ShownFile = path;
  viewer->FaxPrinter.FaxHeader.Caption = QFileInfo(path).fileName();
  if (temporary) QObject::connect(viewer, &QObject::destroyed, [apf] { QFile::remove(apf); });
  // Modal like every other window of the program, but the caller goes on.
  viewer->open();
  return viewer;
}

}  // namespace kv
