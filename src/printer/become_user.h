#pragma once
// The print system runs the fax printer's backend as root so that it can act for any user;
// before it touches a file it becomes the user who printed, for good.
#include <pwd.h>

#include <string>

namespace kv {

// Becomes `user` (its groups too) and takes on its home, name and a private temporary folder
// in the environment. Already that user: only the environment. Another user without root:
// false with `error`. The change cannot be undone, which is checked.
bool BecomeUser(const passwd &user, std::string &error);

}  // namespace kv
