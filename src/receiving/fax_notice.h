#pragma once
// The desktop's notice of a received fax: a notification through the freedesktop notification
// service on the session bus, naming the sender and the pages. The sender is what the calling
// machine sent down the phone line, so it is shown as plain text whatever it holds.
#include <QDBusConnection>
#include <QString>

#include "receiving/receive_mode.h"

namespace kv {

struct FaxNotice {
  QString summary;  // "Fax received"
  QString body;     // "2 pages from ACME SALES", markup-safe
};

// The notice of `fax`: control characters of the sender dropped, markup escaped, a sender
// that gave no name said as such.
FaxNotice ReceivedFaxNotice(const ReceivedFax &fax);

// Hands the notice to the notification service on `bus` without waiting for it. False when
// the bus is not there (no desktop session); a desktop without the service just drops it.
bool ShowDesktopNotice(const FaxNotice &notice,
                       QDBusConnection bus = QDBusConnection::sessionBus());

}  // namespace kv
