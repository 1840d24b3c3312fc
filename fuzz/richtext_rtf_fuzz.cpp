// Feeds arbitrary bytes to the RTF reader (behind a "{\rtf" start, so that the body is what
// varies), writes what it read and reads that again: the second reading must give the same
// text, and the writer's output must be stable.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <QGuiApplication>

#include "richtext/rich_document.h"

namespace {

QGuiApplication *app() {
  static int argc = 3;
  static char name[] = "rtf-fuzz", opt[] = "-platform", platform[] = "offscreen";
  static char *argv[] = {name, opt, platform, nullptr};
  static QGuiApplication *a = new QGuiApplication(argc, argv);
  return a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  app();
  QByteArray rtf(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
  if (!rtf.startsWith("{\\rtf")) rtf.prepend("{\\rtf1 ");
  kv::TRichDocument doc;
  if (!doc.LoadRtf(rtf)) __builtin_trap();
  const QByteArray written = doc.SaveRtf();
  kv::TRichDocument again;
  if (!again.LoadRtf(written)) __builtin_trap();
  if (again.toPlainText() != doc.toPlainText()) __builtin_trap();
  if (again.SaveRtf() != written) __builtin_trap();
  // Pages of what was read, at fax resolution.
  if (doc.PageCount(200) < 1) __builtin_trap();
  return 0;
}
