// Every help topic the code opens has a page in the program, and every link between pages leads
// to one: the topics are read from the sources, so a window added later is checked as well.
#include <QDirIterator>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTextBrowser>
#include <QTimer>
#include <map>
#include <optional>
#include <set>

#include "app/help_window.h"
#include "test_support.h"

namespace kv {
namespace {

// Topic constants (kHelpTopic = 1016) per file, and the argument of each showTopic(...) call.
struct CodeTopics {
  std::map<QString, std::map<QString, int>> constants;  // file -> name -> topic
  std::multimap<QString, QString> calls;                // file -> argument
  std::map<QString, QString> classes;                   // class -> file declaring it
  // A constant named in `file` (Class::kName: in the class's file): defined there, else in its
  // header, else in exactly one file.
  std::optional<int> resolve(QString file, QString name) const {
    if (name.contains("::")) {
      if (auto c = classes.find(name.section("::", 0, 0)); c != classes.end()) file = c->second;
      name = name.section("::", -1);
    }
    for (const QString &f : {file, QString(file).replace(".cpp", ".h")})
      if (auto it = constants.find(f); it != constants.end() && it->second.count(name))
        return it->second.at(name);
    std::set<int> values;
    for (const auto &[f, names] : constants)
      if (names.count(name)) values.insert(names.at(name));
    if (values.size() == 1) return *values.begin();
    return std::nullopt;
  }
};

CodeTopics scanSources() {
  static const QRegularExpression constant(
      R"(\b(k\w*(?:Help|Topic|Context)\w*)\s*=\s*(\d{4})\s*;)");
  static const QRegularExpression call(R"(showTopic\(\s*([\w:]+)\s*\))");
  static const QRegularExpression declaration(R"(\bclass (\w+)[^;]*\{)");
  CodeTopics t;
  QDirIterator it(KORVANE_SOURCE_DIR "/src", {"*.cpp", "*.h"}, QDir::Files,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    if (path.endsWith("help_window.cpp") || path.endsWith("help_window.h")) continue;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) continue;
    const QString text = QString::fromUtf8(f.readAll());
    for (const auto &m : constant.globalMatch(text))
      t.constants[path][m.captured(1)] = m.captured(2).toInt();
    for (const auto &m : call.globalMatch(text)) t.calls.emplace(path, m.captured(1));
    for (const auto &m : declaration.globalMatch(text)) t.classes[m.captured(1)] = path;
  }
  return t;
}

bool hasPage(int topic) {
  return !THelpWindow::topicHtml(topic).contains("There is no help page");
}

TEST(HelpPages, EveryTopicTheWindowsOpenHasAPage) {
  test::App();
  const CodeTopics code = scanSources();
  std::set<int> topics;
  for (const auto &[file, arg] : code.calls) {
    bool literal = false;
    int topic = arg.toInt(&literal);
    if (!literal) {
      const std::optional<int> found = code.resolve(file, arg);
      ASSERT_TRUE(found) << file.toStdString() << ": showTopic(" << arg.toStdString()
                         << ") names a topic this test cannot find";
      topic = *found;
    }
    topics.insert(topic);
    EXPECT_TRUE(hasPage(topic)) << file.toStdString() << " opens help topic " << topic
                                << ", which has no page";
  }
  // The windows of every subsystem open help; far fewer would mean the scan broke.
  EXPECT_GE(topics.size(), 10u);
  for (int t : {1009, 1026, 1030, 1031, 1040}) EXPECT_TRUE(hasPage(t)) << t;
}

TEST(HelpPages, LinksLeadToPagesAndTheWindowShowsThem) {
  test::App();
  static const QRegularExpression link(R"(href="(\d+)\.html")");
  ASSERT_TRUE(hasPage(1009));  // registers the pages' resources
  QDirIterator it(":/help", {"*.html"}, QDir::Files);
  int pages = 0;
  while (it.hasNext()) {
    const QString page = it.next();
    const int topic = QFileInfo(page).baseName().toInt();
    const QString html = THelpWindow::topicHtml(topic);
    ++pages;
    EXPECT_TRUE(html.startsWith("<h2>")) << page.toStdString() << " has no heading";
    for (const auto &m : link.globalMatch(html))
      EXPECT_TRUE(hasPage(m.captured(1).toInt()))
          << page.toStdString() << " links to missing topic " << m.captured(1).toStdString();
    THelpWindow *w = THelpWindow::showTopic(topic);
    EXPECT_EQ(w->currentTopic(), topic);
    EXPECT_FALSE(w->browser()->toPlainText().trimmed().isEmpty());
  }
  EXPECT_GE(pages, 14);
  // Each button of the window has a mnemonic of its own (Alt+C went to Contents, never Close).
  THelpWindow *w = THelpWindow::showTopic(1009);
  QSet<QChar> keys;
  for (const QPushButton *b : w->findChildren<QPushButton *>()) {
    const qsizetype amp = b->text().indexOf('&');
    ASSERT_GE(amp, 0) << b->text().toStdString();
    EXPECT_FALSE(keys.contains(b->text().at(amp + 1).toLower())) << b->text().toStdString();
    keys.insert(b->text().at(amp + 1).toLower());
  }
  w->close();
}

// Help left open does not keep the program running once its main window is closed.
TEST(HelpPages, TheProgramEndsWithItsMainWindowWhileHelpIsOpen) {
  QApplication &app = test::App();
  // A help window closed by an earlier test goes first, so that this one is shown afresh.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QWidget main;
  main.show();
  QPointer<THelpWindow> help = THelpWindow::showTopic(1009);
  QTimer::singleShot(0, &main, [&main] { main.close(); });
  QTimer::singleShot(5000, &app, [&app] { app.exit(1); });  // still running: help holds it
  EXPECT_EQ(app.exec(), 0);
  if (help) help->close();
}

}  // namespace
}  // namespace kv
