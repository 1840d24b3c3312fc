#pragma once
// Writes a text document as RTF (Windows-1252 with \uN for other characters) that other word
// processors read with the same text and formatting.
#include <QByteArray>

#include "richtext/paragraph_props.h"

class QTextDocument;

namespace kv {

QByteArray WriteRtf(const QTextDocument &doc, const PageLayoutTw &page = {});

}  // namespace kv
