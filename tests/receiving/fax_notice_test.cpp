// The notice of a received fax: its text with whatever the phone line brought as the sender,
// its way over a real session bus to a notification service, and the list of unread faxes.
#include "receiving/fax_notice.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QCoreApplication>

#include "receiving/unread_faxes.h"
#include "support/event_wait.h"
#include "support/session_bus.h"
#include "support/temp_files.h"

namespace kv {
namespace {

QCoreApplication &app() {
  static int argc = 1;
  static char name[] = "fax_notice_test";
  static char *argv[] = {name, nullptr};
  static QCoreApplication *a = QCoreApplication::instance() ? QCoreApplication::instance()
                                                            : new QCoreApplication(argc, argv);
  return *a;
}

ReceivedFax fax(std::string from, int pages, bool complete = true) {
  ReceivedFax f;
  f.file = "/somewhere/receive/FAX0001.APF";
  f.from = std::move(from);
  f.pages = pages;
  f.complete = complete;
  return f;
}

TEST(FaxNotice, TheSenderIsShownAsPlainText) {
  struct Case {
    ReceivedFax fax;
    const char *summary, *body;
  } cases[] = {
      {fax("ACME SALES", 2), "Fax received", "2 pages from ACME SALES"},
      {fax("+1 555 0142", 1), "Fax received", "1 page from +1 555 0142"},
      // Markup and terminal controls from the line stay text, or go.
      {fax("<b>Evil</b> & Co", 3), "Fax received", "3 pages from &lt;b&gt;Evil&lt;/b&gt; &amp; Co"},
      {fax("\x1b[2J\aBad\r\nGuy", 1), "Fax received", "1 page from [2JBadGuy"},
      {fax("                    ", 4), "Fax received", "4 pages from a sender that gave no name"},
      {fax("", 1, false), "Fax received incomplete", "1 page from a sender that gave no name"},
  };
  for (const Case &c : cases) {
    const FaxNotice n = ReceivedFaxNotice(c.fax);
    EXPECT_EQ(n.summary.toStdString(), c.summary) << c.fax.from;
    EXPECT_EQ(n.body.toStdString(), c.body) << c.fax.from;
  }
}

TEST(FaxNotice, ReachesTheNotificationServiceOnTheSessionBus) {
  app();
  test::SessionBus bus;
  ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
  test::NotificationListener desktop(bus.connect("desktop"));
  ASSERT_TRUE(desktop.ok());
  ASSERT_TRUE(ShowDesktopNotice(ReceivedFaxNotice(fax("<i>X</i>", 2)), bus.connect("program")));
  ASSERT_TRUE(test::eventually([&] { return !desktop.received.empty(); }, 5000));
  const test::Notification &n = desktop.received.front();
  EXPECT_EQ(n.app, "Korvane");
  EXPECT_EQ(n.summary, "Fax received");
  EXPECT_EQ(n.body, "2 pages from &lt;i&gt;X&lt;/i&gt;");
  EXPECT_EQ(n.hints.value("desktop-entry").toString(), "korvane");
  // No desktop session at all: said, nothing waits.
  EXPECT_FALSE(ShowDesktopNotice(ReceivedFaxNotice(fax("A", 1)),
                                 QDBusConnection::connectToBus("unix:path=/nonexistent", "none")));
}

TEST(UnreadFaxes, MarksComeAndGoAndSurviveInTheFolder) {
  test::TempDir dir;
  std::string problem;
  EXPECT_TRUE(LoadUnreadFaxes(dir.path(), &problem).empty());
  EXPECT_EQ(problem, "");
  EXPECT_TRUE(MarkFaxUnread(dir.path(), "FAX0002.APF", true, problem)) << problem;
  EXPECT_TRUE(MarkFaxUnread(dir.path(), "FAX0001.APF", true, problem)) << problem;
  EXPECT_TRUE(MarkFaxUnread(dir.path(), "FAX0002.APF", false, problem)) << problem;
  EXPECT_EQ(LoadUnreadFaxes(dir.path()), (std::set<std::string>{"FAX0001.APF"}));
  EXPECT_EQ(test::readFile(dir.file("UNREAD.LST")), "FAX0001.APF\n");
  // Names that would reach outside the folder are refused, and lines like them are ignored.
  for (const char *bad : {"../KRV.DBF", "", "..", "a\nb"}) {
    EXPECT_FALSE(MarkFaxUnread(dir.path(), bad, true, problem)) << bad;
    EXPECT_NE(problem, "") << bad;
  }
  test::writeFile(dir.file("UNREAD.LST"), "FAX0003.APF\r\n../x\n\n/etc/passwd\nFAX0004.APF");
  EXPECT_EQ(LoadUnreadFaxes(dir.path()), (std::set<std::string>{"FAX0003.APF", "FAX0004.APF"}));
}

TEST(UnreadFaxes, AListThatCannotBeUsedIsSaidAndKept) {
  test::TempDir dir;
  std::string problem;
  // Not a list of ours: too large to be one.
  test::writeFile(dir.file("UNREAD.LST"), std::string(2 << 20, 'x'));
  EXPECT_TRUE(LoadUnreadFaxes(dir.path(), &problem).empty());
  EXPECT_NE(problem.find(dir.file("UNREAD.LST") + ": too large"), std::string::npos) << problem;
  EXPECT_FALSE(MarkFaxUnread(dir.path(), "FAX0001.APF", true, problem));
  EXPECT_EQ(test::readFile(dir.file("UNREAD.LST")).size(), std::size_t(2 << 20));
  // A folder that cannot be written: the list stays as it was.
  test::TempDir ro;
  test::writeFile(ro.file("UNREAD.LST"), "FAX0001.APF\n");
  ::chmod(ro.path().c_str(), 0555);
  if (::geteuid() != 0) {
    EXPECT_FALSE(MarkFaxUnread(ro.path(), "FAX0001.APF", false, problem));
    EXPECT_NE(problem.find("UNREAD.LST"), std::string::npos) << problem;
    EXPECT_EQ(test::readFile(ro.file("UNREAD.LST")), "FAX0001.APF\n");
  }
  ::chmod(ro.path().c_str(), 0755);
}

}  // namespace
}  // namespace kv
