#pragma once
// Whether received faxes can be stored in a folder: checked when receiving starts and again
// before each call is answered, so that no caller sends a fax that has nowhere to go.
#include <string>

namespace kv {

// Empty when faxes can be created in `dir` (a missing folder is made first); otherwise the
// sentence to show, naming the folder and the reason.
std::string receiveFolderProblem(const std::string &dir);

}  // namespace kv
