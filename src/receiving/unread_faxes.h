#pragma once
// Which received faxes the user has not viewed yet. The received-fax table has no field for it
// (and its layout is read by other programs), so the names of the unread files are kept in a
// small list beside them in the receive folder, one name a line. Receive mode adds a fax when
// its row is written; viewing it takes it off. Names without a row simply do not count.
#include <set>
#include <string>

namespace kv {

inline constexpr const char *kUnreadListName = "UNREAD.LST";

// The list in `receiveDir`: names of plain files only; an absent list is empty. A list that
// cannot be read, or is larger than any list of ours, reads as empty with `problem` saying why.
std::set<std::string> LoadUnreadFaxes(const std::string &receiveDir,
                                      std::string *problem = nullptr);

// Adds or removes one file name; false with `problem` naming the list when it could not be
// written (the list is then as it was).
bool MarkFaxUnread(const std::string &receiveDir, const std::string &faxFile, bool unread,
                   std::string &problem);

}  // namespace kv
