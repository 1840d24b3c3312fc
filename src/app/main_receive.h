#pragma once
// The received faxes the user has not viewed, as the main window shows them: a count on the
// Received tab, a mark on each unread row, the tray icon's tip. Part of main_receive.cpp.
#include <QString>

namespace kv {

class TMainScreen;

// Reads the receive folder's unread list again and shows it; called whenever rows or the
// list may have changed.
void ShowUnreadFaxes(TMainScreen &window);
// The received fax file `faxFile` (name only) has been viewed: its mark goes.
void MarkReceivedFaxViewed(TMainScreen &window, const QString &faxFile);

}  // namespace kv
