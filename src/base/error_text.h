#pragma once
// The program's string table and the rules that lead from a result code to its text.
#include <string>

#include "base/result_codes.h"

namespace kv {

// Texts of the string table are at most this many characters; longer ones are cut.
inline constexpr std::size_t kMaxStringLength = 80;

// Text of string id |id| in the table compiled into the program; empty when there is none.
std::string loadString(int id);

// String id of an exception's message for |code| (the sign is ignored).
int messageId(Result code);

// The message an exception made from |code| carries (empty when its id has no text).
std::string messageForCode(Result code);

// The text that fax results and windows show for a result code: like messageForCode() but
// without the telephony id case; 0 gives "OK".
std::string errorText(Result code);

// Display text of fax progress code |progress| (1..42); empty for codes without one.
std::string progressText(int progress);

// Every id that has a text, ascending (for checks over the whole table).
std::size_t stringTableSize();
int stringTableId(std::size_t index);

}  // namespace kv
