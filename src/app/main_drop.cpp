// Files dropped on the main window: a PDF document starts a new fax with it as the document, a
// fax file opens in the viewer.
#include <QTabBar>
#include <QTimer>

#include "app/file_drop.h"
#include "app/main_screen.h"
#include "app/open_fax_file.h"

namespace kv {

void TMainScreen::setupFileDrop() {
  TFileDrop::Install(
      this,
      [](const QString &path) {
        return IsPdfFile(path) || FaxFileKindOf(path) != FaxFileKind::Other;
      },
      // After the drop has ended: the file manager waits for it, and the editor is modal.
      [this](const QString &path) {
        QTimer::singleShot(0, this, [this, path] { OpenDroppedFile(path); });
      });
}

void TMainScreen::OpenDroppedFile(const QString &path) {
  if (closed_) return;
  if (!IsPdfFile(path)) {
    OpenFaxInViewer(this, path);
    return;
  }
  // New faxes are made on the Sent list.
  TabSet1->setCurrentIndex(0);
  DroppedPdf = path;
  NewbuttonClick();
  DroppedPdf.clear();
}

}  // namespace kv
