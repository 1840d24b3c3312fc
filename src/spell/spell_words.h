#pragma once
// Where the words of a text lie, and their Windows-1252 form for the checker.
#include <QString>
#include <string>

namespace kv::spell {

// Finds the next word at or after `from`: a run of letters and digits, with apostrophes
// (straight, backtick or typographic) allowed between letters. Runs holding a digit (part
// numbers, "2nd") are passed over. False when the text holds no further word.
bool findWord(const QString &text, int from, int &start, int &length);

// The word in Windows-1252 with typographic apostrophes made straight; false when a character
// has no place in the code page (the word cannot be checked).
bool toSpellBytes(const QString &word, std::string &out);
QString fromSpellBytes(const std::string &bytes);

}  // namespace kv::spell
