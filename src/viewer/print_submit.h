#pragma once
// Hands a finished PDF to a print queue of the system (CUPS).
#include <QString>

#include "base/result_codes.h"

namespace kv {

// Names of the system's print queues; the default first when there is one.
QStringList SystemPrinterNames();

// Queues the file on `printer` as a job titled `title`. On failure answers ecDeviceWrite with
// the print system's reason in `error`.
Result SubmitPdf(const QString &printer, const QString &pdfPath, const QString &title, int copies,
                 QString &error);

}  // namespace kv
