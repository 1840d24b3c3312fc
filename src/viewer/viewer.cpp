#include "viewer/viewer.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <new>

#include "base/error_text.h"
#include "faximage/apf_file.h"
#include "viewer/page_image.h"

namespace kv {

namespace {

// One load at a time across every viewer: a page move arriving while a page decodes (from a
// timer or a nested event loop) is dropped rather than started on top of it.
bool g_busy = false;

class BusyGuard {
 public:
  explicit BusyGuard(const QCursor &cursor) {
    g_busy = true;
    QApplication::setOverrideCursor(cursor);
  }
  ~BusyGuard() {
    QApplication::restoreOverrideCursor();
    g_busy = false;
  }
  BusyGuard(const BusyGuard &) = delete;
  BusyGuard &operator=(const BusyGuard &) = delete;
};

constexpr int kJumpSteps = 10;
constexpr int kAutoScrollMs = 50;
constexpr int kFarOutside = 20;

// The local file of a drop, empty when the drop holds none.
QString droppedFile(const QMimeData *data) {
  if (!data || !data->hasUrls()) return {};
  for (const QUrl &u : data->urls())
    if (u.isLocalFile()) return u.toLocalFile();
  return {};
}

}  // namespace

TViewer::TViewer(QWidget *parent) : QAbstractScrollArea(parent) {
  setObjectName("kvViewer");
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setAcceptDrops(true);
  setAcceptDrops(true);
  viewport()->setAutoFillBackground(false);
  unpacker_.setOptions(0);  // no nested event loop while a page decodes
  autoScroll_.setInterval(kAutoScrollMs);
  connect(&autoScroll_, &QTimer::timeout, this, &TViewer::autoScrollTick);
}

TViewer::~TViewer() = default;

bool TViewer::busy() {
  return g_busy;
}

TViewer::Page *TViewer::current() {
  if (curPage_ < 1 || curPage_ > static_cast<int>(pages_.size())) return nullptr;
  return &pages_[static_cast<std::size_t>(curPage_ - 1)];
}
const TViewer::Page *TViewer::current() const {
  return const_cast<TViewer *>(this)->current();
}

bool TViewer::pageUnreadable() const {
  const Page *p = current();
  return p && p->error < 0;
}
Result TViewer::pageError() const {
  const Page *p = current();
  return p ? p->error : ecOK;
}

void TViewer::closeFile() {
  pages_.clear();
  pages_.shrink_to_fit();
  fileName_.clear();
  curPage_ = 0;
  shown_ = QImage();
  selShown_ = false;
  captured_ = false;
  autoScroll_.stop();
  updateRanges();
  viewport()->update();
}

Result TViewer::kvViewSetFile(const QString &fileName) {
  if (fileName.isEmpty()) {
    closeFile();
    return ecOK;
  }
  if (!QFileInfo(fileName).isFile()) return ecFileNotFound;
  ApfReader reader;
  if (Result r = reader.open(fileName.toStdString()); r < 0)
    return r == ecFileNotFound ? r : ecFaxBadFormat;
  const int count = reader.header().pageCount;
  reader.close();

  closeFile();
  fileName_ = fileName;
  viewport()->repaint();
  try {
    pages_.resize(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc &) {
    closeFile();
    return ecOutOfMemory;
  }
  unpacker_.setInFileName(fileName.toStdString());
  {
    BusyGuard busy(busyCursor_);
    for (int i = 0; i < count && (i == 0 || loadWhole_); ++i) decode(i);
  }
  curPage_ = count > 0 ? 1 : 0;
  rotation_ = 0;
  hMult_ = hDiv_ = vMult_ = vDiv_ = 1;
  showPage();
  return ecOK;
}

Result TViewer::decode(int index) {
  Page &p = pages_[static_cast<std::size_t>(index)];
  p.decoded = true;
  p.turns = 0;
  p.bitmap = MonoBitmap{};
  p.error = unpacker_.unpackPageToBitmap(index + 1, p.bitmap);
  // The page's own flags, for kvViewGetPageFlags.
  ApfReader reader;
  ApfPageLocation loc;
  if (reader.open(fileName_.toStdString()) >= 0 && reader.locatePage(index + 1, loc) >= 0)
    lastFlags_ = loc.header.imageFlags;
  if (p.error < 0) p.bitmap = MonoBitmap{};
  return p.error;
}

Result TViewer::turnPage(Page &p) {
  const int steps = ((rotation_ - p.turns) % 4 + 4) % 4;
  if (steps == 0) return ecOK;
  try {
    p.bitmap = RotateBitmap(p.bitmap, steps);
  } catch (const std::bad_alloc &) {
    return ecOutOfMemory;
  }
  p.turns = rotation_;
  return ecOK;
}

void TViewer::showPage() {
  if (g_busy) return;
  Page *p = current();
  if (p && !p->decoded) {
    if (!loadWhole_)
      for (auto &other : pages_)
        if (&other != p) {
          other.bitmap = MonoBitmap{};
          other.decoded = false;
          other.turns = 0;
        }
    {
      BusyGuard busy(busyCursor_);
      decode(curPage_ - 1);
    }
  }
  if (p && p->error == ecOK && turnPage(*p) < 0) {
    if (onError) onError(ecOutOfMemory);
    closeFile();
    return;
  }
  selShown_ = false;
  captured_ = false;
  autoScroll_.stop();
  rebuildImage();
  horizontalScrollBar()->setValue(0);
  verticalScrollBar()->setValue(0);
  updateRanges();
  viewport()->update();
  if (p && p->error < 0 && onError) onError(p->error);
  if (onPageChange) onPageChange();
}

void TViewer::rebuildImage() {
  const Page *p = current();
  if (!p || p->bitmap.empty()) {
    shown_ = QImage();
    return;
  }
  const int w = static_cast<int>(std::int64_t{p->bitmap.width} * hMult_ / hDiv_);
  const int h = static_cast<int>(std::int64_t{p->bitmap.height} * vMult_ / vDiv_);
  shown_ = DisplayImage(p->bitmap, std::max(w, 1), std::max(h, 1), fg_, bg_);
}

void TViewer::updateRanges() {
  const QSize client = viewport()->size();
  const QSize page = shown_.size();
  horizontalScrollBar()->setRange(0, std::max(0, page.width() - client.width()));
  verticalScrollBar()->setRange(0, std::max(0, page.height() - client.height()));
  horizontalScrollBar()->setSingleStep(hStep_);
  verticalScrollBar()->setSingleStep(vStep_);
  horizontalScrollBar()->setPageStep(hStep_ * kJumpSteps);
  verticalScrollBar()->setPageStep(vStep_ * kJumpSteps);
}

QPoint TViewer::scrollPosition() const {
  return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}
QPoint TViewer::scrollMaximum() const {
  return {horizontalScrollBar()->maximum(), verticalScrollBar()->maximum()};
}

void TViewer::scrollTo(int x, int y) {
  horizontalScrollBar()->setValue(x);  // the scroll bars clip to 0 and their maximum
  verticalScrollBar()->setValue(y);
}

void TViewer::scrollContentsBy(int dx, int dy) {
  // Moves what is on screen and repaints only the strip uncovered; a jump larger than the
  // window repaints everything.
  if (std::abs(dx) >= viewport()->width() || std::abs(dy) >= viewport()->height())
    viewport()->update();
  else
    viewport()->scroll(dx, dy);
}

void TViewer::resizeEvent(QResizeEvent *event) {
  QAbstractScrollArea::resizeEvent(event);
  updateRanges();
}

void TViewer::kvViewSetFG(QColor c) {
  fg_ = c;
  rebuildImage();
  viewport()->update();
}
void TViewer::kvViewSetBG(QColor c) {
  bg_ = c;
  rebuildImage();
  viewport()->update();
}

void TViewer::kvViewSetScale(int horizMult, int horizDiv, int vertMult, int vertDiv) {
  if (horizMult > 0) hMult_ = horizMult;
  if (horizDiv > 0) hDiv_ = horizDiv;
  if (vertMult > 0) vMult_ = vertMult;
  if (vertDiv > 0) vDiv_ = vertDiv;
  if (hMult_ == hDiv_) hMult_ = hDiv_ = 1;
  if (vMult_ == vDiv_) vMult_ = vDiv_ = 1;
  if (!updateLock_) showPage();
}

void TViewer::kvViewEndUpdate() {
  updateLock_ = false;
  showPage();
}

void TViewer::kvViewSetScroll(int horizStep, int vertStep) {
  if (horizStep > 0) hStep_ = horizStep;
  if (vertStep > 0) vStep_ = vertStep;
  updateRanges();
}

QRect TViewer::pageRect() const {
  const Page *p = current();
  if (!p || p->bitmap.empty()) return {};
  return QRect(0, 0, p->bitmap.width, p->bitmap.height);
}

Result TViewer::kvViewSelectAll() {
  const QRect r = pageRect();
  if (r.isEmpty()) return ecNoImageLoaded;
  sel_ = r;
  selShown_ = true;
  viewport()->update();
  return ecOK;
}

void TViewer::kvViewSelect(const QRect &rect) {
  sel_ = rect.normalized().intersected(pageRect());
  selShown_ = !sel_.isEmpty();
  viewport()->update();
}

Result TViewer::kvViewCopy() {
  const Page *p = current();
  if (!p || p->bitmap.empty()) return ecNoImageLoaded;
  if (!selShown_ || sel_.isEmpty()) return ecNoImageBlockMarked;
  // The selection is copied at the page's own resolution whatever the zoom, so a copy is as
  // sharp as the fax.
  const QImage img = CopyRect(p->bitmap, sel_);
  if (img.isNull()) return ecOutOfMemory;
  QApplication::clipboard()->setImage(img);
  return ecOK;
}

Result TViewer::kvViewSetWhitespace(int from, int to) {
  if (from < to || (from == 0 && to != 0) || from < 0 || to < 0) return ecBadArgument;
  unpacker_.setWhitespaceCompression(from > 0 && to > 0);
  unpacker_.setWhitespaceFrom(from);
  unpacker_.setWhitespaceTo(to);
  return ecOK;
}

void TViewer::kvViewSetAutoScale(int flags) {
  unpacker_.setAutoScaleMode(flags == 2 ? asDoubleHeight : flags == 4 ? asHalfWidth : asNone);
}

Result TViewer::kvViewGetBitmap(int page, const MonoBitmap *&bitmap) {
  bitmap = nullptr;
  if (fileName_.isEmpty()) return ecNoImageLoaded;
  if (page < 1 || page > kvViewGetNumPages()) return ecBadArgument;
  Page &p = pages_[static_cast<std::size_t>(page - 1)];
  if (!p.decoded) {
    BusyGuard busy(busyCursor_);
    decode(page - 1);
  }
  if (p.error < 0) return p.error;
  if (Result r = turnPage(p); r < 0) return r;
  bitmap = &p.bitmap;
  return ecOK;
}

Result TViewer::kvViewGotoPage(int page) {
  if (page < 1 || page > kvViewGetNumPages()) return ecBadArgument;
  if (g_busy) return ecOK;
  curPage_ = page;
  showPage();
  return ecOK;
}

void TViewer::kvViewSetDesignMode(const QString &text) {
  designMode_ = true;
  designText_ = text;
  viewport()->update();
}

Result TViewer::kvViewSetRotation(int rotation) {
  if (rotation < 0 || rotation > 3) return ecBadArgument;
  rotation_ = rotation;
  if (loadWhole_) {
    for (auto &p : pages_)
      if (p.decoded && p.error == ecOK)
        if (Result r = turnPage(p); r < 0) return r;
  } else if (Page *p = current(); p && p->error == ecOK) {
    if (Result r = turnPage(*p); r < 0) return r;
  }
  showPage();
  return ecOK;
}

QRect TViewer::kvViewGetPageDim() const {
  const QRect r = pageRect();
  return QRect(QPoint(0, 0), QPoint(r.width() - 1, r.height() - 1));
}

Result TViewer::kvViewSetLoadWholeFax(bool on) {
  loadWhole_ = on;
  if (fileName_.isEmpty()) return ecOK;
  if (on) {
    BusyGuard busy(busyCursor_);
    for (int i = 0; i < kvViewGetNumPages(); ++i)
      if (!pages_[static_cast<std::size_t>(i)].decoded) decode(i);
  } else {
    for (int i = 0; i < kvViewGetNumPages(); ++i)
      if (i != curPage_ - 1) pages_[static_cast<std::size_t>(i)] = Page{};
  }
  return ecOK;
}

void TViewer::paintEvent(QPaintEvent *) {
  QPainter painter(viewport());
  const QRect client = viewport()->rect();
  if (designMode_) {
    painter.fillRect(client, bg_);
    painter.setPen(fg_);
    painter.drawText(QPoint(3, 3 + painter.fontMetrics().ascent()), designText_);
    return;
  }
  const QPoint origin = -scrollPosition();
  const QRect page(origin, shown_.size());
  // Outside the page: background.
  QRegion outside(client);
  outside -= page;
  for (const QRect &r : outside) painter.fillRect(r, bg_);
  if (!shown_.isNull()) painter.drawImage(origin, shown_);
  if (const Page *p = current(); p && p->error < 0) {
    painter.setPen(fg_);
    painter.drawText(client.adjusted(12, 12, -12, -12),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                     QStringLiteral("Page %1 could not be read: %2 (%3)")
                         .arg(curPage_)
                         .arg(QString::fromStdString(errorText(p->error)))
                         .arg(p->error));
  }
  if (selShown_ && !sel_.isEmpty()) {
    // Inverted: the selection reads as a negative of the page.
    const QRect shownSel(
        origin.x() + static_cast<int>(std::int64_t{sel_.left()} * hMult_ / hDiv_),
        origin.y() + static_cast<int>(std::int64_t{sel_.top()} * vMult_ / vDiv_),
        std::max(1, static_cast<int>(std::int64_t{sel_.width()} * hMult_ / hDiv_)),
        std::max(1, static_cast<int>(std::int64_t{sel_.height()} * vMult_ / vDiv_)));
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.fillRect(shownSel, Qt::white);
  }
}

void TViewer::keyPressEvent(QKeyEvent *event) {
  if (captured_) return;
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  const QPoint pos = scrollPosition();
  const QPoint max = scrollMaximum();
  const int n = kvViewGetNumPages();
  switch (event->key()) {
    case Qt::Key_PageUp:
      if (ctrl)
        scrollTo(pos.x(), 0);
      else if (curPage_ > 1)
        kvViewGotoPage(curPage_ - 1);
      break;
    case Qt::Key_PageDown:
      if (ctrl)
        scrollTo(pos.x(), max.y());
      else if (curPage_ < n)
        kvViewGotoPage(curPage_ + 1);
      break;
    case Qt::Key_Home:
      if (!ctrl)
        scrollTo(0, pos.y());
      else if (curPage_ > 1)
        kvViewGotoPage(1);
      else
        scrollTo(0, 0);
      break;
    case Qt::Key_End:
      if (!ctrl)
        scrollTo(max.x(), pos.y());
      else if (curPage_ < n)
        kvViewGotoPage(n);
      else
        scrollTo(0, 0);
      break;
    case Qt::Key_Up:
      scrollBy(0, -vStep_ * (ctrl ? kJumpSteps : 1));
      break;
    case Qt::Key_Down:
      scrollBy(0, vStep_ * (ctrl ? kJumpSteps : 1));
      break;
    case Qt::Key_Left:
      scrollBy(-hStep_ * (ctrl ? kJumpSteps : 1), 0);
      break;
    case Qt::Key_Right:
      scrollBy(hStep_ * (ctrl ? kJumpSteps : 1), 0);
      break;
    default:
      if (!wndProc_ || !wndProc_(event)) QAbstractScrollArea::keyPressEvent(event);
      return;
  }
  event->accept();
}

QPoint TViewer::toPage(const QPoint &client) const {
  const QPoint d = client + scrollPosition();
  return {static_cast<int>(std::int64_t{d.x()} * hDiv_ / hMult_),
          static_cast<int>(std::int64_t{d.y()} * vDiv_ / vMult_)};
}

void TViewer::mousePressEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton || pageRect().isEmpty()) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  setFocus(Qt::MouseFocusReason);
  const QRect page = pageRect();
  QPoint p = toPage(event->position().toPoint());
  p.setX(std::clamp(p.x(), 0, page.width()));
  p.setY(std::clamp(p.y(), 0, page.height()));
  anchor_ = p;
  sel_ = QRect(p, QSize(0, 0));
  selShown_ = true;
  captured_ = true;
  lastMouse_ = event->position().toPoint();
  viewport()->update();
}

void TViewer::extendSelection(const QPoint &client) {
  const QRect page = pageRect();
  QPoint p = toPage(client);
  p.setX(std::clamp(p.x(), 0, page.width()));
  p.setY(std::clamp(p.y(), 0, page.height()));
  // Kept normalised: the corner being dragged is whichever lies opposite the anchor.
  sel_ = QRect(QPoint(std::min(anchor_.x(), p.x()), std::min(anchor_.y(), p.y())),
               QPoint(std::max(anchor_.x(), p.x()) - 1, std::max(anchor_.y(), p.y()) - 1));
  viewport()->update();
}

void TViewer::mouseMoveEvent(QMouseEvent *event) {
  if (!captured_) return;
  lastMouse_ = event->position().toPoint();
  extendSelection(lastMouse_);
  const bool outside = !viewport()->rect().contains(lastMouse_);
  if (outside && !autoScroll_.isActive())
    autoScroll_.start();
  else if (!outside)
    autoScroll_.stop();
}

void TViewer::autoScrollTick() {
  if (!captured_) {
    autoScroll_.stop();
    return;
  }
  const QRect client = viewport()->rect();
  auto steps = [](int pos, int lo, int hi) {
    if (pos < lo) return lo - pos > kFarOutside ? -2 : -1;
    if (pos > hi) return pos - hi > kFarOutside ? 2 : 1;
    return 0;
  };
  const int sx = steps(lastMouse_.x(), client.left(), client.right());
  const int sy = steps(lastMouse_.y(), client.top(), client.bottom());
  if (!sx && !sy) {
    autoScroll_.stop();
    return;
  }
  scrollBy(sx * hStep_, sy * vStep_);
  extendSelection(lastMouse_);
}

void TViewer::mouseReleaseEvent(QMouseEvent *event) {
  if (!captured_ || event->button() != Qt::LeftButton) return;
  captured_ = false;
  autoScroll_.stop();
  extendSelection(event->position().toPoint());
  if (sel_.width() <= 0 || sel_.height() <= 0) {
    selShown_ = false;
    sel_ = QRect();
  }
  viewport()->update();
}

void TViewer::dragEnterEvent(QDragEnterEvent *event) {
  if (!droppedFile(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    event->ignore();
}
void TViewer::dragMoveEvent(QDragMoveEvent *event) {
  if (!droppedFile(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    event->ignore();
}

void TViewer::dropEvent(QDropEvent *event) {
  const QString file = droppedFile(event->mimeData());
  if (file.isEmpty()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  // A file that is not a fax leaves the page shown as it was.
  if (Result r = kvViewSetFile(file); r < 0) {
    if (onError) onError(r);
    return;
  }
  if (onDropFile) onDropFile(file);
}

}  // namespace kv
