#include "app/rebuild_ind.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QVBoxLayout>

#include "app/fax_tables.h"
#include "app/program_dir.h"
#include "app/status_line.h"
#include "app/ui_font.h"

namespace kv {

TRebuildInd::TRebuildInd(TFaxRecords &records, QWidget *parent)
    : QDialog(parent), records_(records) {
  setObjectName("RebuildInd");
  setWindowTitle("Rebuild Indexes");
  // A dialog border without system buttons: the work cannot be interrupted half way.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(288, 141);
  auto *wait = new QLabel("Please wait...", this);
  wait->setFont(UiFont(10, true));
  wait->setAlignment(Qt::AlignCenter);
  WhatAmIDoing = new QLabel(this);
  WhatAmIDoing->setObjectName("WhatAmIDoing");
  WhatAmIDoing->setAlignment(Qt::AlignCenter);
  WhatAmIDoing->setWordWrap(true);
  WhatAmIDoing->hide();
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 20, 16, 20);
  layout->addWidget(wait);
  layout->addSpacing(10);
  layout->addWidget(WhatAmIDoing);
  layout->addStretch();
}

void TRebuildInd::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  if (started_) return;
  started_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        Rebuild();
        // Closes once the request is handled, after the last message has been seen.
        QMetaObject::invokeMethod(this, &QDialog::accept, Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
}

void TRebuildInd::reject() {
  if (!working_) QDialog::reject();
}

void TRebuildInd::show(const QString &text) {
  messages_ << text;
  WhatAmIDoing->setText(text);
  WhatAmIDoing->show();
  QCoreApplication::processEvents();
}

void TRebuildInd::rebuildTable(TTable &table, TApollo &apollo, const Step &step,
                               bool messageFirst) {
  if (messageFirst) show(step.removing);
  const QString name = table.TableName();
  const QString index = ProgramDir() + IndexFileOf(name);
  apollo.CloseIndexes();
  QFile::remove(index);  // a missing index file is no error
  if (!messageFirst) show(step.removing);
  if (!apollo.Pack() && !apollo.Pack()) packFailures_ << name;
  show(step.rebuilding);
  apollo.IndexTag("", step.tag, step.key, 0, step.descending, ".not. deleted()");
  apollo.SetOrder(apollo.TagArea(step.tag));
}

void TRebuildInd::Rebuild() {
  BusyCursor busy;
  working_ = true;
  struct Done {
    bool &flag;
    ~Done() { flag = false; }
  } done{working_};
  static constexpr Step kSent{"Removing FAX file records marked for deletion", "DATESENT",
                              "datesent", true, "Rebuilding FAX file indexes"};
  static constexpr Step kRec{"Removing Received FAX records marked for deletion", "DATETIME",
                             "DTOS(DATEREC)+TIMEREC", true, "Rebuilding Received FAX indexes"};
  static constexpr Step kPhone{"Removing PHONE file records marked for deletion", "NAME", "NAME",
                               false, "Rebuilding PHONE file indexes"};
  static constexpr Step kCover{"Removing COVER file records marked for deletion", "DESCRIPT",
                               "DESCRIPT", false, "Rebuilding COVER file indexes"};

  rebuildTable(records_.FaxTable, records_.FaxApollo, kSent, true);
  rebuildTable(records_.RecTable, records_.RecApollo, kRec, false);
  if (records_.OpenPhoneDBF()) {
    rebuildTable(records_.PhoneTable, records_.PhoneApollo, kPhone, false);
    records_.PhoneTable.Close();
  }
  if (!records_.OpenCoverDBF()) return;
  rebuildTable(records_.CoverTable, records_.CoverApollo, kCover, false);
  records_.CoverTable.Close();
}

}  // namespace kv
