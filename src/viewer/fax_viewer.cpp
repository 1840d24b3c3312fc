#include "viewer/fax_viewer.h"

#include <QVBoxLayout>

#include "base/exceptions.h"

namespace kv {

namespace {
int autoScaleFlags(TAutoScaleMode m) {
  return m == asDoubleHeight ? 2 : m == asHalfWidth ? 4 : 0;
}
}  // namespace

TKvCustomFaxViewer::TKvCustomFaxViewer(QWidget *parent, bool designTime) : QFrame(parent) {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  viewer_ = new TViewer(this);
  layout->addWidget(viewer_);
  setFocusProxy(viewer_);
  SetBorderStyle(bsSingle);
  viewer_->onPageChange = [this] {
    if (OnPageChange) OnPageChange(*this);
  };
  viewer_->onError = [this](Result code) {
    if (OnViewerError) OnViewerError(*this, code);
  };
  viewer_->onDropFile = [this](const QString &name) {
    if (OnDropFile) OnDropFile(*this, name);
  };
  // What the window is told when it is made.
  if (designTime) viewer_->kvViewSetDesignMode(QStringLiteral("Fax Viewer"));
  viewer_->kvViewSetFG(fg_);
  viewer_->kvViewSetBG(bg_);
  viewer_->kvViewSetScroll(8, 8);
  viewer_->kvViewSetAutoScale(autoScaleFlags(autoScale_));
  viewer_->kvViewSetBusyCursor(busyCursor_);
}

TKvCustomFaxViewer::~TKvCustomFaxViewer() = default;

void TKvCustomFaxViewer::SetBorderStyle(TBorderStyle s) {
  borderStyle_ = s;
  viewer_->setFrameShape(s == bsSingle ? QFrame::StyledPanel : QFrame::NoFrame);
}

void TKvCustomFaxViewer::SetFGColor(QColor c) {
  fg_ = c;
  viewer_->kvViewSetFG(c);
}
void TKvCustomFaxViewer::SetBGColor(QColor c) {
  bg_ = c;
  viewer_->kvViewSetBG(c);
}

void TKvCustomFaxViewer::sendScale() {
  if (scaling_)
    viewer_->kvViewSetScale(hMult_, hDiv_, vMult_, vDiv_);
  else
    viewer_->kvViewSetScale(1, 1, 1, 1);
}

void TKvCustomFaxViewer::SetScaling(bool on) {
  scaling_ = on;
  sendScale();
}
void TKvCustomFaxViewer::SetHorizMult(int v) {
  if (v <= 0) return;
  hMult_ = v;
  if (scaling_) sendScale();
}
void TKvCustomFaxViewer::SetHorizDiv(int v) {
  if (v <= 0) return;
  hDiv_ = v;
  if (scaling_) sendScale();
}
void TKvCustomFaxViewer::SetVertMult(int v) {
  if (v <= 0) return;
  vMult_ = v;
  if (scaling_) sendScale();
}
void TKvCustomFaxViewer::SetVertDiv(int v) {
  if (v <= 0) return;
  vDiv_ = v;
  if (scaling_) sendScale();
}

void TKvCustomFaxViewer::SetAutoScaleMode(TAutoScaleMode m) {
  autoScale_ = m;
  viewer_->kvViewSetAutoScale(autoScaleFlags(m));
}

void TKvCustomFaxViewer::sendWhitespace() {
  RaiseOnError(wsOn_ ? viewer_->kvViewSetWhitespace(wsFrom_, wsTo_)
                     : viewer_->kvViewSetWhitespace(0, 0));
}
void TKvCustomFaxViewer::SetWhitespaceCompression(bool on) {
  wsOn_ = on;
  sendWhitespace();
}
void TKvCustomFaxViewer::SetWhitespaceFrom(int n) {
  wsFrom_ = n;
  // Limits are checked as a pair once both are set (From may not be below To).
  if (wsOn_ && wsFrom_ >= wsTo_) sendWhitespace();
}
void TKvCustomFaxViewer::SetWhitespaceTo(int n) {
  wsTo_ = n;
  if (wsOn_) sendWhitespace();
}

void TKvCustomFaxViewer::SetAcceptDragged(bool on) {
  acceptDragged_ = on;
  viewer_->setAcceptDrops(on);
  viewer_->viewport()->setAcceptDrops(on);
}

void TKvCustomFaxViewer::SetLoadWholeFax(bool on) {
  RaiseOnError(viewer_->kvViewSetLoadWholeFax(on));
}

void TKvCustomFaxViewer::SetBusyCursor(const QCursor &c) {
  busyCursor_ = c;
  viewer_->kvViewSetBusyCursor(c);
}

void TKvCustomFaxViewer::SetFileName(const QString &name) {
  RaiseOnError(viewer_->kvViewSetFile(name));
  // A new file starts unturned and unscaled.
  hMult_ = hDiv_ = vMult_ = vDiv_ = 1;
}

void TKvCustomFaxViewer::FirstPage() {
  if (FileName().isEmpty() || PageCount() == 0) return;
  viewer_->kvViewGotoPage(1);
}
void TKvCustomFaxViewer::LastPage() {
  if (FileName().isEmpty() || PageCount() == 0) return;
  viewer_->kvViewGotoPage(PageCount());
}
void TKvCustomFaxViewer::NextPage() {
  if (FileName().isEmpty() || ActivePage() >= PageCount()) return;
  viewer_->kvViewGotoPage(ActivePage() + 1);
}
void TKvCustomFaxViewer::PrevPage() {
  if (FileName().isEmpty() || ActivePage() <= 1) return;
  viewer_->kvViewGotoPage(ActivePage() - 1);
}

void TKvCustomFaxViewer::SetActivePage(int page) {
  RaiseOnError(viewer_->kvViewGotoPage(page));
}

void TKvCustomFaxViewer::SetRotation(int r) {
  RaiseOnError(viewer_->kvViewSetRotation(r));
}

void TKvCustomFaxViewer::SelectAll() {
  RaiseOnError(viewer_->kvViewSelectAll());
}
void TKvCustomFaxViewer::CopyToClipboard() {
  RaiseOnError(viewer_->kvViewCopy());
}

}  // namespace kv
