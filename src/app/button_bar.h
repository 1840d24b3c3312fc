#pragma once
// The button bar of the program's windows: a dark teal strip with flat buttons showing a picture
// beside white text.
#include <QString>

#include "app/icons.h"

class QToolButton;
class QWidget;

namespace kv {

// An empty bar, 45 pixels high, laid out left to right.
QWidget *MakeButtonBar(QWidget *parent);
// Appends a 30-pixel button with its hint (pop-up and status line) to a bar.
QToolButton *AddBarButton(QWidget *bar, const QString &name, const QString &caption,
                          const QString &hint, ButtonPicture picture);
// Pushes the buttons added after it to the right end of the bar.
void AddBarStretch(QWidget *bar);

}  // namespace kv
