#include "compose/shipped_covers.h"

#include <QFile>
#include <QFileInfo>

#include "app/fax_tables.h"
#include "app/program_dir.h"
#include "app/rich_text_io.h"

namespace kv {
namespace {

struct ShippedCover {
  const char *description;
  const char *file;
};
constexpr ShippedCover kShipped[] = {
    {"Plain cover sheet", "covers/plain.rtf"},
    {"Formal cover sheet", "covers/formal.rtf"},
};

// The template's RTF as it is in the file: stored as it stands, read as any other template.
class ShippedRtf : public IRichTextControl {
 public:
  explicit ShippedRtf(QByteArray rtf) : rtf_(std::move(rtf)) {}
  void Clear() override { rtf_.clear(); }
  bool LoadRtf(const QByteArray &rtf) override {
    rtf_ = rtf;
    return true;
  }
  QByteArray SaveRtf() const override { return rtf_; }
  void Repaint() override {}

 private:
  QByteArray rtf_;
};

}  // namespace

QStringList ShippedCoverDescriptions() {
  QStringList names;
  for (const ShippedCover &c : kShipped) names << QString::fromLatin1(c.description);
  return names;
}

bool AddShippedCovers(TFaxRecords &records, QString &error) {
  error.clear();
  if (QFileInfo::exists(ProgramDir() + "KRVCOV.DBF")) return true;
  if (!records.OpenCoverDBF()) {
    error = records.OpenError();
    return false;
  }
  TTable &table = records.CoverTable;
  QStringList missing;
  bool ok = true;
  for (const ShippedCover &c : kShipped) {
    QFile file(ShippedFilePath(QString::fromLatin1(c.file)));
    if (!file.open(QIODevice::ReadOnly)) {
      missing << file.fileName() + ": " + file.errorString();
      continue;
    }
    const ShippedRtf rtf(file.read(1 << 20));
    ok = table.Append() && table.FieldByName("DESCRIPT")->SetAsString(c.description) &&
         SaveRichText(rtf, "COVER", records.CoverApollo) && table.Post();
    if (!ok) {
      error = table.FilePath() + ": " + table.LastError();
      table.Cancel();
      break;
    }
  }
  table.Close();
  if (ok && !missing.isEmpty())
    error = "The shipped cover sheet templates could not be read: " + missing.join("; ");
  return ok;
}

}  // namespace kv
