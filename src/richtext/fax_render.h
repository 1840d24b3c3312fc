#pragma once
// Turns rich-text documents into fax pages: each page is drawn at 200 dots per inch onto a
// 1664 x 2156 monochrome bitmap, saved as "_TMP.BMP", converted into a one-page APF file, and
// at the end all page files are joined into the first one.
#include <QString>
#include <QStringList>
#include <functional>

class QImage;

namespace kv {

class TRichDocument;

inline constexpr int kFaxPageWidth = 1664;
inline constexpr int kFaxPageHeight = 2156;
inline constexpr int kFaxPageDpi = 200;
inline constexpr int kFaxPageOffset = 49;  // left and top offset of the text on the bitmap

// What the rendering needs of its surroundings: where its files go, a way to let pending
// window messages run, and (optionally) where to say how far it got.
struct RenderContext {
  QString programDir;  // ends with a separator
  std::function<void()> letMessagesRun;
  std::function<void(const QString &)> status;
};

// An editor counts as empty for faxing when the document is empty, or when its text is
// shorter than 256 characters and each of its first 201 lines is blank.
bool IsBlankForFax(const TRichDocument &doc);

// The zoom (percent) at which an editor on a screen of `screenDpi` shows the page at 200 dots
// per inch: 208 at 96, 166 at 120. Pages themselves are always laid out at exactly 200 dpi.
int FaxZoomPercent(double screenDpi);

// The first-page name: "KRV_<n>.APF" for the smallest free n from 1 to 1000, else "KRV1.APF".
QString FirstPageFileName(const QString &programDir);

// Draws every page of `doc` and appends the page files to `pages`. Converter failures are
// raised as its exceptions; page files already written stay.
void RenderPages(TRichDocument &doc, QStringList &pages, const RenderContext &ctx);

// Converts every page of the PDF document `pdf` into one page file, appends its name to `pages`
// and answers the number of pages in it. A PDF that cannot be faxed raises EKvException saying
// why; nothing is written then.
int RenderPdfPages(const QString &pdf, QStringList &pages, const RenderContext &ctx);

// Joins the page files into the first and deletes the others; answers the first name. A
// missing file raises the file-not-found input/output error.
QString JoinPages(const QStringList &pages);

// The rendering steps of a composed fax once its cover sheet and document are loaded: nothing
// when both are blank (answers ""), else the cover's pages, then the document's (the pages of
// its attached PDF document when it has one, in place of its text), joined into
// one APF file whose name is answered; `pageCount` gets the number of pages.
QString RenderFax(TRichDocument &cover, TRichDocument &document, const RenderContext &ctx,
                  int &pageCount);

// Draws page `firstLine` of `doc` onto a white 1664 x 2156 image at 200 dpi and answers the
// next page's first line (0 at the end). `image` is RGB32 and is reused.
int DrawFaxPage(TRichDocument &doc, QImage &image, int firstLine);

// Writes `image` (anything not white counts as black) as a 1-bit BMP file.
bool SaveMonoBmp(const QImage &image, const QString &path);

}  // namespace kv
