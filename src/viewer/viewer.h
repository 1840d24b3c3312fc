#pragma once
// The viewer window of the fax viewer control: owns the pages of one APF file, decodes them
// through the unpacker, and shows one at a time scaled and turned, with scrolling, keyboard
// paging, a rectangular selection for the clipboard, and loading of a dropped file.
//
// Operations are the window's own (kvView...); the component (fax_viewer.h) holds the
// properties and forwards to them. Results are codes: 0 or an error code of base/result_codes.h.
#include <QAbstractScrollArea>
#include <QCursor>
#include <QImage>
#include <QTimer>
#include <functional>
#include <vector>

#include "base/result_codes.h"
#include "faximage/fax_unpacker.h"

namespace kv {

class TViewer : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit TViewer(QWidget *parent = nullptr);
  ~TViewer() override;

  // Loads an APF file and shows page 1; an empty name closes the file. A page that cannot be
  // decoded does not stop the file from opening: it is reported and shown as unreadable.
  Result kvViewSetFile(const QString &fileName);
  void kvViewSetFG(QColor c);
  void kvViewSetBG(QColor c);
  // A pair of equal factors is kept as 1/1; factors below 1 are ignored.
  void kvViewSetScale(int horizMult, int horizDiv, int vertMult, int vertDiv);
  // 0 leaves a step as it is.
  void kvViewSetScroll(int horizStep, int vertStep);
  Result kvViewSelectAll();
  // Rectangle in page coordinates, clipped to the page.
  void kvViewSelect(const QRect &rect);
  Result kvViewCopy();
  // Keys the viewer does not use go to this handler (answering whether it took the key).
  void kvViewSetWndProc(std::function<bool(QKeyEvent *)> handler) { wndProc_ = std::move(handler); }
  Result kvViewSetWhitespace(int from, int to);
  // The page's bitmap as turned for display, decoding it when needed.
  Result kvViewGetBitmap(int page, const MonoBitmap *&bitmap);
  int kvViewGetNumPages() const { return static_cast<int>(pages_.size()); }
  void kvViewStartUpdate() { updateLock_ = true; }
  void kvViewEndUpdate();
  Result kvViewGotoPage(int page);
  int kvViewGetCurPage() const { return fileName_.isEmpty() ? 0 : curPage_; }
  void kvViewSetDesignMode(const QString &text);
  Result kvViewSetRotation(int rotation);
  // Unpacker scaling of normal-resolution pages: 2 double height, 4 half width, 0 none.
  void kvViewSetAutoScale(int flags);
  QRect kvViewGetPageDim() const;
  Result kvViewSetLoadWholeFax(bool on);
  void kvViewSetBusyCursor(const QCursor &cursor) { busyCursor_ = cursor; }
  std::uint16_t kvViewGetPageFlags() const { return lastFlags_; }

  // Notifications to the component.
  std::function<void()> onPageChange;
  std::function<void(Result code)> onError;
  std::function<void(const QString &fileName)> onDropFile;

  // State, for the component and for tests.
  const QString &fileName() const { return fileName_; }
  int rotation() const { return rotation_; }
  int horizMult() const { return hMult_; }
  int horizDiv() const { return hDiv_; }
  int vertMult() const { return vMult_; }
  int vertDiv() const { return vDiv_; }
  int horizStep() const { return hStep_; }
  int vertStep() const { return vStep_; }
  bool loadWholeFax() const { return loadWhole_; }
  QRect selection() const { return selShown_ ? sel_ : QRect(); }
  QSize displayedSize() const { return shown_.size(); }
  QPoint scrollPosition() const;
  QPoint scrollMaximum() const;
  // True when the current page could not be decoded (it is shown as a notice instead).
  bool pageUnreadable() const;
  // Result code of the current page's failed decoding, 0 when it was read.
  Result pageError() const;
  // The picture drawn for the current page (foreground and background applied, scaled).
  const QImage &shownImage() const { return shown_; }
  // A load is under way in some viewer; page moves are ignored meanwhile.
  static bool busy();

 protected:
  void paintEvent(QPaintEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  void scrollContentsBy(int dx, int dy) override;
  void keyPressEvent(QKeyEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dragMoveEvent(QDragMoveEvent *event) override;
  void dropEvent(QDropEvent *event) override;

 private:
  struct Page {
    MonoBitmap bitmap;  // empty until decoded
    bool decoded = false;
    int turns = 0;  // quarter turns applied to `bitmap`
    Result error = ecOK;
  };

  void closeFile();
  // Decodes a page into the table (with the busy cursor); answers the unpacker's code.
  Result decode(int index);
  Result turnPage(Page &p);
  void showPage();
  void rebuildImage();
  void updateRanges();
  void scrollTo(int x, int y);
  void scrollBy(int dx, int dy) { scrollTo(scrollPosition().x() + dx, scrollPosition().y() + dy); }
  QPoint toPage(const QPoint &client) const;
  void extendSelection(const QPoint &client);
  void autoScrollTick();
  QRect pageRect() const;
  Page *current();
  const Page *current() const;

  TKvFaxUnpacker unpacker_;
  QString fileName_;
  std::vector<Page> pages_;
  int curPage_ = 0;
  int hMult_ = 1, hDiv_ = 1, vMult_ = 1, vDiv_ = 1;
  int rotation_ = 0;
  int hStep_ = 8, vStep_ = 8;
  QColor fg_ = Qt::black, bg_ = Qt::white;
  bool loadWhole_ = false;
  QCursor busyCursor_ = Qt::ArrowCursor;
  QRect sel_;
  bool selShown_ = false;
  QPoint anchor_;  // fixed corner of a selection being dragged
  bool captured_ = false;
  QTimer autoScroll_;
  QPoint lastMouse_;
  bool updateLock_ = false;
  bool designMode_ = false;
  QString designText_;
  std::uint16_t lastFlags_ = 0;
  QImage shown_;
  std::function<bool(QKeyEvent *)> wndProc_;
};

}  // namespace kv
