#include "receiving/fax_notice.h"

#include <QDBusMessage>
#include <QVariantMap>

namespace kv {

FaxNotice ReceivedFaxNotice(const ReceivedFax &fax) {
  QString from;
  for (QChar c : QString::fromLatin1(fax.from.data(), qsizetype(fax.from.size())))
    if (c.isPrint()) from += c;
  from = from.simplified();
  FaxNotice n;
  n.summary = fax.complete ? "Fax received" : "Fax received incomplete";
  const QString pages = fax.pages == 1 ? "1 page" : QString("%1 pages").arg(fax.pages);
  // Notification services may read the body as markup: the sender's text must stay text.
  n.body = from.isEmpty() ? pages + " from a sender that gave no name"
                          : pages + " from " + from.toHtmlEscaped();
  return n;
}

bool ShowDesktopNotice(const FaxNotice &notice, QDBusConnection bus) {
  if (!bus.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                     "/org/freedesktop/Notifications",
                                                     "org.freedesktop.Notifications", "Notify");
  QVariantMap hints;
  hints["desktop-entry"] = QString("korvane");
  hints["category"] = QString("transfer.complete");
  call << QString("Korvane") << uint(0) << QString("korvane") << notice.summary << notice.body
       << QStringList() << hints << int(-1);
  return bus.send(call);
}

}  // namespace kv
