#include "app/splash_form.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSysInfo>
#include <QVBoxLayout>

#include "app/command_line.h"
#include "app/icons.h"

namespace kv {

TSplashform::TSplashform(QWidget *parent) : QDialog(parent) {
  setObjectName("Splashform");
  setWindowTitle("About Korvane");
  setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto *picture = new QLabel(this);
  picture->setPixmap(AboutPicture(96));
  auto *name = new QLabel("Korvane", this);
  QFont big = name->font();
  big.setPointSize(16);
  big.setBold(true);
  name->setFont(big);
  auto *version = new QLabel(QStringLiteral("Version %1").arg(PackageVersion()), this);
  version->setObjectName("version");
  auto *platform =
      new QLabel(QStringLiteral("%1-bit version for Linux desktops").arg(QSysInfo::WordSize), this);
  platform->setObjectName("platform");
  auto *ok = new QPushButton("OK", this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto *texts = new QVBoxLayout;
  texts->addStretch();
  texts->addWidget(name);
  texts->addWidget(version);
  texts->addWidget(platform);
  texts->addStretch();
  auto *top = new QHBoxLayout;
  top->addWidget(picture);
  top->addSpacing(16);
  top->addLayout(texts);
  auto *bottom = new QHBoxLayout;
  bottom->addStretch();
  bottom->addWidget(ok);
  bottom->addStretch();
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 20, 20, 14);
  layout->addLayout(top);
  layout->addSpacing(12);
  layout->addLayout(bottom);
  setFixedSize(sizeHint());
}

}  // namespace kv
