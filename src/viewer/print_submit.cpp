#include "viewer/print_submit.h"

#include <cups/cups.h>

#include <QFile>
#include <QStringList>

namespace kv {

QStringList SystemPrinterNames() {
  QStringList names;
  cups_dest_t *dests = nullptr;
  const int n = cupsGetDests(&dests);
  for (int i = 0; i < n; ++i) {
    const QString name = QString::fromLocal8Bit(dests[i].name);
    if (dests[i].instance) continue;
    if (dests[i].is_default)
      names.prepend(name);
    else
      names.append(name);
  }
  cupsFreeDests(n, dests);
  return names;
}

Result SubmitPdf(const QString &printer, const QString &pdfPath, const QString &title, int copies,
                 QString &error) {
  cups_option_t *options = nullptr;
  int count = 0;
  count = cupsAddOption("document-format", "application/pdf", count, &options);
  if (copies > 1)
    count = cupsAddOption("copies", QByteArray::number(copies).constData(), count, &options);
  const int job =
      cupsPrintFile(printer.toLocal8Bit().constData(), QFile::encodeName(pdfPath).constData(),
                    title.toUtf8().constData(), count, options);
  cupsFreeOptions(count, options);
  if (job > 0) return ecOK;
  error = QString::fromUtf8(cupsLastErrorString());
  return ecDeviceWrite;
}

}  // namespace kv
