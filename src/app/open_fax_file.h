#pragma once
// A fax file handed to the program from outside (its command line, a later start, the demo line):
// shown in a viewer window of its own, an APF file as it is and a TIFF fax through a temporary APF
// copy.
#include <QString>

class QWidget;

namespace kv {

enum class FaxFileKind { Apf, Tiff, Other };

// Told by the file's first bytes, not its name; a missing or unreadable file is Other.
FaxFileKind FaxFileKindOf(const QString &path);

// Opens `path` in a new viewer window over `parent` (or over the modal window on top) without
// waiting for it to close. Answers the viewer, or nullptr after telling the user why not.
class TFaxViewer;
TFaxViewer *OpenFaxInViewer(QWidget *parent, const QString &path);

}  // namespace kv
