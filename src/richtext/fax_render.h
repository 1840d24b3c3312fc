#pragma once
// Turns rich-text documents into fax pages: each page is drawn at 200 dots per inch onto a
// 1664 x 2156 monochrome bitmap, saved as a work bitmap, converted into a one-page APF file and
// joined to the first page's file. Work files carry the process id in their names
// (KRV_<pid>-<n>.APF, KRVAX<pid>-<n>.APF, _TMP<pid>-<n>.BMP): they are removed on failure and
// when a signal ends the process, and those of processes that no longer run at the next start.
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "richtext/merge_field.h"
#include "richtext/paragraph_props.h"

class QImage;

namespace kv {

class TRichDocument;

inline constexpr int kFaxPageWidth = 1664;
inline constexpr int kFaxPageHeight = 2156;
inline constexpr int kFaxPageDpi = 200;
inline constexpr int kFaxPageOffset = 49;  // left and top offset of the text on the bitmap

// The height of the fax page a document's paper is drawn on: 2156 lines for Letter, longer for
// longer paper (A4, Legal), so that a whole page of text fits.
int FaxPageHeight(const PageLayoutTw &page);

// What the rendering needs of its surroundings: where its files go, a way to let pending
// window messages run, and (optionally) where to say how far it got: the status line of the
// windows, a progress line of the commands.
struct RenderContext {
  QString programDir;  // ends with a separator
  std::function<void()> letMessagesRun;
  std::function<void(const QString &)> status;
  // When set, the cover's merge fields are filled with these values as the fax is drawn
  // (the page count is counted then); otherwise they are drawn as their labels.
  std::optional<MergeValues> merge;
};

// An editor counts as empty for faxing when the document is empty, or when its text is
// shorter than 256 characters and each of its first 201 lines is blank.
bool IsBlankForFax(const TRichDocument &doc);

// The zoom (percent) at which an editor on a screen of `screenDpi` shows the page at 200 dots
// per inch: 208 at 96, 166 at 120. Pages themselves are always laid out at exactly 200 dpi.
int FaxZoomPercent(double screenDpi);

// A free first-page name of this process: "KRV_<pid>-<n>.APF".
QString FirstPageFileName(const QString &programDir);

// Removes the work files of rendering processes that no longer run.
void RemoveStaleRenderFiles(const QString &programDir);

// Draws every page of `doc` into the first page file (`pages` gets its name when it is empty)
// and answers the number of pages drawn. Converter failures are raised as its exceptions; the
// page being made is removed then, the files in `pages` stay. Each page is announced on the
// status ("Drawing page N..."), numbered after `pagesBefore` pages of the same fax.
int RenderPages(TRichDocument &doc, QStringList &pages, const RenderContext &ctx,
                int pagesBefore = 0);

// Converts every page of the PDF document `pdf` into the first page file as RenderPages does
// and answers the number of pages. A PDF that cannot be faxed raises EKvException saying why.
int RenderPdfPages(const QString &pdf, QStringList &pages, const RenderContext &ctx);

// Joins the page files into the first and deletes the others; answers the first name. A
// missing file raises the file-not-found input/output error.
QString JoinPages(const QStringList &pages);

// The rendering steps of a composed fax once its cover sheet and document are loaded: nothing
// when both are blank (answers ""), else the cover's pages, then the document's (the pages of
// its attached PDF document when it has one, in place of its text), joined into
// one APF file whose name is answered; `pageCount` gets the number of pages. With merge values
// in `ctx` the cover's fields are filled in `cover` first. The answered file is the caller's
// to remove; on failure nothing is left.
QString RenderFax(TRichDocument &cover, TRichDocument &document, const RenderContext &ctx,
                  int &pageCount);

// Draws page `firstLine` of `doc` onto a white 1664 x FaxPageHeight image at 200 dpi and answers
// the next page's first line (0 at the end). `image` is RGB32 and is reused.
int DrawFaxPage(TRichDocument &doc, QImage &image, int firstLine);

// Writes `image` (anything not white counts as black) as a 1-bit BMP file. False, with the
// system's reason in `why`, when the file cannot be written whole.
bool SaveMonoBmp(const QImage &image, const QString &path, QString *why = nullptr);

}  // namespace kv
