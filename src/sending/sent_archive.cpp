#include "sending/sent_archive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdint>
#include <span>

#include "app/storage/ttable.h"
#include "base/file_replacement.h"

namespace kv {
namespace {

// A fax file larger than this is not one the program made (99 pages at most).
constexpr qint64 kMaxFaxBytes = qint64(512) * 1024 * 1024;

QString fieldText(TTable &table, const char *name) {
  const TField *f = table.FieldByName(name);
  return f ? f->AsString().trimmed() : QString();
}

bool rowIsSent(TTable &table) {
  const TField *sent = table.FieldByName("SENT");
  return table.Active() && table.RecNo() <= table.RecCount() && sent && sent->AsBoolean();
}

// FNV-1a over what the row says about its send: stable across runs and builds.
QString rowKey(TTable &table) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (const char *name : {"DATESENT", "TIMESENT", "PHONE", "RECIPIENT", "SUBJECT"}) {
    for (unsigned char c : fieldText(table, name).toUtf8()) {
      h ^= c;
      h *= 0x100000001b3ULL;
    }
    h ^= 0x1f;  // field separator
    h *= 0x100000001b3ULL;
  }
  return QStringLiteral("%1").arg(h, 16, 16, QChar('0'));
}

QString keyOf(const QString &fileName) {
  const int dash = fileName.indexOf('-');
  return dash < 0 ? QString() : fileName.mid(dash + 1).chopped(4);
}

}  // namespace

QString SentFolder(const QString &programDir) {
  return programDir + "sent/";
}

QString SentFaxName(TTable &table) {
  if (!rowIsSent(table)) return {};
  return QString::number(table.RecNo()) + '-' + rowKey(table) + ".APF";
}

bool KeepSentFax(TTable &table, const QString &programDir, const QString &faxFile, QString &error) {
  const QString name = SentFaxName(table);
  if (name.isEmpty()) {
    error = table.FilePath() + ": the row is not marked sent";
    return false;
  }
  const QString folder = SentFolder(programDir);
  if (!QDir().mkpath(folder)) {
    error = "The folder for sent faxes " + folder + " cannot be made";
    return false;
  }
  QFile in(faxFile);
  if (!in.open(QIODevice::ReadOnly) || in.size() > kMaxFaxBytes) {
    error = faxFile + ": " + (in.isOpen() ? QStringLiteral("too large") : in.errorString());
    return false;
  }
  const QByteArray bytes = in.readAll();
  if (bytes.size() != in.size()) {
    error = faxFile + ": " + in.errorString();
    return false;
  }
  const QString target = folder + name;
  std::string problem;
  const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.constData());
  if (WriteWholeFile(QFile::encodeName(target).toStdString(),
                     std::span<const std::uint8_t>(data, std::size_t(bytes.size())), problem,
                     QFile::encodeName(faxFile).toStdString()) < 0) {
    error = "The sent fax could not be kept as " + target + ": " + QString::fromStdString(problem);
    return false;
  }
  // An earlier send of the same row is no longer its record.
  const QString mine = QString::number(table.RecNo()) + "-*.APF";
  for (const QString &old : QDir(folder).entryList({mine}, QDir::Files))
    if (old != name) QFile::remove(folder + old);
  return true;
}

QString KeptSentFax(TTable &table, const QString &programDir) {
  const QString name = SentFaxName(table);
  if (name.isEmpty()) return {};
  const QString folder = SentFolder(programDir);
  if (QFileInfo(folder + name).isFile()) return folder + name;
  // Packing moves rows only to lower numbers: a kept fax of a higher one with this key.
  const QString key = keyOf(name);
  QStringList moved;
  for (const QString &f : QDir(folder).entryList({"*-" + key + ".APF"}, QDir::Files))
    if (f.section('-', 0, 0).toInt() > table.RecNo()) moved << f;
  return moved.size() == 1 ? folder + moved[0] : QString();
}

void RemoveKeptSentFax(TTable &table, const QString &programDir) {
  const QString kept = KeptSentFax(table, programDir);
  if (!kept.isEmpty()) QFile::remove(kept);
}

}  // namespace kv
