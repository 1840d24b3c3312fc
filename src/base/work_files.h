#pragma once
// Scratch files that a command makes beside its data and removes again. Each name carries the id
// of the process that made it (<prefix><pid>-<n><suffix>), so a later run can tell the files of a
// process that was killed outright from those of one still at work, and remove only the former.
#include <string>
#include <string_view>

namespace kv {

// A name for a new work file in `dir` ("" is the current directory; a trailing '/' is allowed)
// that no file has yet.
std::string WorkFileName(const std::string &dir, std::string_view prefix, std::string_view suffix);

// Removes the work files of this prefix and suffix in `dir` whose process no longer runs.
// Answers how many were removed.
int RemoveStaleWorkFiles(const std::string &dir, std::string_view prefix, std::string_view suffix);
// The same for work files named <any name><marker><pid>-<n>: the temporaries made beside files
// of every name.
int RemoveStaleMarkedFiles(const std::string &dir, std::string_view marker);

}  // namespace kv
