#pragma once
// Return in a form: a combo box or spin box takes it to finish its entry and a text editor to
// start a paragraph, so a window must not take it as its Accept there.
class QKeyEvent;
class QWidget;

namespace kv {

// True when `focus` is (or lies inside) a combo box, spin box or multi-line text editor.
bool ReturnBelongsToControl(const QWidget *focus);

// A plain Return or Enter.
bool IsPlainReturn(const QKeyEvent *e);

}  // namespace kv
