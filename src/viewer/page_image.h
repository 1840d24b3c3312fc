#pragma once
// Page bitmaps as the viewer and the printer use them: quarter turns of a decoded page, and
// the pictures drawn on screen or paper. Decoded pages are 1 = black, rows of whole bytes.
#include <QColor>
#include <QImage>

#include "faximage/mono_bitmap.h"

namespace kv {

// Turns a page by `quarterTurns` clockwise quarter turns (any integer; taken mod 4). A turned
// page is exactly as wide as the old one was high, so two quarter turns equal one half turn.
// Throws std::bad_alloc when the memory cannot be had.
MonoBitmap RotateBitmap(const MonoBitmap &page, int quarterTurns);

// The page as a one-bit picture: black pixels in `fg`, white pixels in `bg`.
QImage MonoImage(const MonoBitmap &page, QColor fg = Qt::black, QColor bg = Qt::white);

// The page for a printer or PDF: one bit a pixel with black as colour 0, the form a PDF writer
// keeps as it is (losslessly) rather than turning into a compressed colour picture.
QImage PrintImage(const MonoBitmap &page);

// The page drawn at width x height for the screen. Enlarging repeats pixels (no blur);
// reducing averages the area each screen pixel stands for into a shade between `bg` and `fg`,
// so that text stays readable at a quarter of its size. The same size answers MonoImage.
QImage DisplayImage(const MonoBitmap &page, int width, int height, QColor fg = Qt::black,
                    QColor bg = Qt::white);

// The rectangle (page coordinates, clipped) as a monochrome picture for the clipboard.
QImage CopyRect(const MonoBitmap &page, const QRect &rect);

}  // namespace kv
