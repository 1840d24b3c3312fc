#include "app/help_window.h"

#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

// The pages live in a static library, whose resources must be registered by hand.
static void initHelpResources() {
  Q_INIT_RESOURCE(app);
}

namespace kv {
namespace {
QPointer<THelpWindow> instance;
constexpr int kContentsTopic = 1009;
}  // namespace

QString THelpWindow::topicHtml(int topic) {
  static const bool registered = (initHelpResources(), true);
  (void)registered;
  QFile f(QStringLiteral(":/help/%1.html").arg(topic));
  if (f.open(QIODevice::ReadOnly)) return QString::fromUtf8(f.readAll());
  return QStringLiteral(
             "<h2>Help</h2><p>There is no help page for topic %1.</p>"
             "<p><a href=\"%2.html\">Contents</a></p>")
      .arg(topic)
      .arg(kContentsTopic);
}

THelpWindow::THelpWindow() : QDialog(nullptr) {
  setWindowTitle("Korvane Help");
  setAttribute(Qt::WA_DeleteOnClose);
  // The program ends with its main window, whether or not help is still open.
  setAttribute(Qt::WA_QuitOnClose, false);
  resize(560, 520);
  browser_ = new QTextBrowser(this);
  browser_->setOpenLinks(false);
  // Pages link to each other as "<topic>.html"; anything else is not ours to open.
  connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl &url) {
    bool ok = false;
    const int topic = url.fileName().section('.', 0, 0).toInt(&ok);
    if (ok) open(topic);
  });
  auto *contents = new QPushButton("&Contents", this);
  connect(contents, &QPushButton::clicked, this, [this] { open(kContentsTopic); });
  auto *close = new QPushButton("Cl&ose", this);
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  auto *buttons = new QHBoxLayout;
  buttons->addWidget(contents);
  buttons->addStretch();
  buttons->addWidget(close);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(browser_);
  layout->addLayout(buttons);
}

void THelpWindow::open(int topic) {
  topic_ = topic;
  browser_->setHtml(topicHtml(topic));
}

THelpWindow *THelpWindow::showTopic(int topic) {
  if (!instance) instance = new THelpWindow;
  instance->open(topic);
  instance->show();
  instance->raise();
  instance->activateWindow();
  return instance;
}

}  // namespace kv
