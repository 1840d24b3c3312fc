#pragma once
// A fax composed from files, as `korvane-fax compose` and the fax printer make one: the cover
// sheet from a template or an RTF file, the document from a PDF, RTF or text file, appended to
// the sent-fax table the way the fax editor's Accept appends it.
#include <QString>

#include "compose/fax_row.h"

namespace kv {

class TFaxRecords;
class TRichDocument;
struct Settings;

struct ComposeSource {
  QString coverTemplate;  // a template's description (exact, else ignoring case), or empty
  QString coverFile;      // an RTF file, or empty
  QString documentFile;   // a .pdf (attached), an .rtf, or any other file read as text; or empty
};

// Loads the cover sheet (its merge fields kept: they are filled when the fax is drawn) and the
// document. False with `error` ("<file>: <why>") when a file cannot be used.
bool LoadComposition(TFaxRecords &records, const ComposeSource &source, TRichDocument &cover,
                     TRichDocument &document, QString &error);

// LoadComposition with the settings' default font, then a new row of KRV.DBF (opened when it
// is not). False with `error` naming the file and the reason; nothing is appended then.
bool AppendComposedFax(TFaxRecords &records, const Settings &settings, const ComposeSource &source,
                       const FaxRowText &text, QString &error);

}  // namespace kv
