#pragma once
// The fax viewer control as a component: holds the published properties and events and
// forwards them to its viewer window (viewer.h). Failed operations raise the exception of the
// error code (base/exceptions.h).
#include <QFrame>
#include <functional>

#include "faximage/fax_unpacker.h"
#include "viewer/viewer.h"

namespace kv {

class TKvCustomFaxViewer;
using TViewerErrorEvent = std::function<void(TKvCustomFaxViewer &sender, Result errorCode)>;
using TViewerFileDropEvent =
    std::function<void(TKvCustomFaxViewer &sender, const QString &fileName)>;
using TViewerNotifyEvent = std::function<void(TKvCustomFaxViewer &sender)>;

enum TBorderStyle { bsNone, bsSingle };

class TKvCustomFaxViewer : public QFrame {
  Q_OBJECT
 public:
  explicit TKvCustomFaxViewer(QWidget *parent = nullptr, bool designTime = false);
  ~TKvCustomFaxViewer() override;

  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle s);
  QColor FGColor() const { return fg_; }
  void SetFGColor(QColor c);
  QColor BGColor() const { return bg_; }
  void SetBGColor(QColor c);
  bool Scaling() const { return scaling_; }
  void SetScaling(bool on);
  int HorizMult() const { return hMult_; }
  void SetHorizMult(int v);
  int HorizDiv() const { return hDiv_; }
  void SetHorizDiv(int v);
  int VertMult() const { return vMult_; }
  void SetVertMult(int v);
  int VertDiv() const { return vDiv_; }
  void SetVertDiv(int v);
  TAutoScaleMode AutoScaleMode() const { return autoScale_; }
  void SetAutoScaleMode(TAutoScaleMode m);
  bool WhitespaceCompression() const { return wsOn_; }
  void SetWhitespaceCompression(bool on);
  int WhitespaceFrom() const { return wsFrom_; }
  void SetWhitespaceFrom(int n);
  int WhitespaceTo() const { return wsTo_; }
  void SetWhitespaceTo(int n);
  int HorizScroll() const { return viewer_->horizStep(); }
  void SetHorizScroll(int n) { viewer_->kvViewSetScroll(n, 0); }
  int VertScroll() const { return viewer_->vertStep(); }
  void SetVertScroll(int n) { viewer_->kvViewSetScroll(0, n); }
  bool AcceptDragged() const { return acceptDragged_; }
  void SetAcceptDragged(bool on);
  bool LoadWholeFax() const { return viewer_->loadWholeFax(); }
  void SetLoadWholeFax(bool on);
  QCursor BusyCursor() const { return busyCursor_; }
  void SetBusyCursor(const QCursor &c);
  QString FileName() const { return viewer_->fileName(); }
  // Loads the file (rotation back to none, the four factors to 1); raises on failure.
  void SetFileName(const QString &name);

  void FirstPage();
  void LastPage();
  void NextPage();
  void PrevPage();
  int ActivePage() const { return viewer_->kvViewGetCurPage(); }
  // Raises EBadArgument for 0 or a page beyond the page count.
  void SetActivePage(int page);
  int PageCount() const { return viewer_->kvViewGetNumPages(); }
  int PageWidth() const { return viewer_->kvViewGetPageDim().width(); }
  int Rotation() const { return viewer_->rotation(); }
  void SetRotation(int r);
  void BeginUpdate() { viewer_->kvViewStartUpdate(); }
  void EndUpdate() { viewer_->kvViewEndUpdate(); }
  void SelectAll();
  void CopyToClipboard();

  TViewerNotifyEvent OnPageChange;
  TViewerErrorEvent OnViewerError;
  TViewerFileDropEvent OnDropFile;

  TViewer *viewer() const { return viewer_; }

 private:
  void sendScale();
  void sendWhitespace();

  TViewer *viewer_;
  TBorderStyle borderStyle_ = bsSingle;
  QColor fg_ = Qt::black, bg_ = Qt::white;
  bool scaling_ = false;
  int hMult_ = 1, hDiv_ = 1, vMult_ = 1, vDiv_ = 1;
  TAutoScaleMode autoScale_ = asDoubleHeight;
  bool wsOn_ = false;
  int wsFrom_ = 0, wsTo_ = 0;
  bool acceptDragged_ = true;
  QCursor busyCursor_ = Qt::ArrowCursor;
};

class TKvFaxViewer : public TKvCustomFaxViewer {
  Q_OBJECT
 public:
  using TKvCustomFaxViewer::TKvCustomFaxViewer;
};

}  // namespace kv
