#include "richtext/pdf_attachment.h"

#include "base/hex_digit.h"

namespace kv {

namespace {
constexpr char kGroupStart[] = "{\\*\\kvpdfattach ";
}  // namespace

QByteArray PdfAttachmentGroup(const QString &path) {
  QByteArray out = kGroupStart;
  for (const char ch : path.toUtf8()) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\\' || c == '{' || c == '}') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c >= 0x80) {
      out += "\\'" + QByteArray::number(c, 16).rightJustified(2, '0');
    } else {
      out += ch;
    }
  }
  return out + '}';
}

QString PdfAttachmentOf(const QByteArray &rtf) {
  const qsizetype at = rtf.indexOf(kGroupStart);
  if (at < 0) return {};
  QByteArray bytes;
  for (qsizetype i = at + qsizetype(sizeof kGroupStart) - 1; i < rtf.size(); ++i) {
    const char c = rtf[i];
    if (c == '}') return QString::fromUtf8(bytes);
    if (c == '{') return {};
    if (c != '\\') {
      if (c != '\r' && c != '\n') bytes += c;
      continue;
    }
    if (++i >= rtf.size()) break;
    if (rtf[i] == '\'' && i + 2 < rtf.size() && HexDigitValue(rtf[i + 1]) >= 0 &&
        HexDigitValue(rtf[i + 2]) >= 0) {
      bytes += static_cast<char>(HexDigitValue(rtf[i + 1]) * 16 + HexDigitValue(rtf[i + 2]));
      i += 2;
    } else if (rtf[i] == '\\' || rtf[i] == '{' || rtf[i] == '}') {
      bytes += rtf[i];
    } else {
      return {};  // not a group this program wrote
    }
  }
  return {};  // the group never closes
}

QByteArray WithPdfAttachment(const QByteArray &rtf, const QString &path) {
  if (path.isEmpty()) return rtf;
  const qsizetype close = rtf.lastIndexOf('}');
  if (close < 0) return rtf;
  return rtf.left(close) + PdfAttachmentGroup(path) + rtf.mid(close);
}

}  // namespace kv
