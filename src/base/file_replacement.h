#pragma once
// Writing a file the user named. The new contents go to a temporary file beside it, which
// replaces the old file only once it is complete and on disk; a failure, or a signal ending the
// process, leaves the old file as it was and no temporary behind. Before anything is written the
// name is checked the way a careful copy would check it: an existing file must be writable by
// this user, and it keeps its mode and, where the system allows, its owner.
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

#include "base/result_codes.h"

namespace kv {

class FileReplacement {
 public:
  FileReplacement() = default;
  FileReplacement(const FileReplacement &) = delete;
  FileReplacement &operator=(const FileReplacement &) = delete;
  ~FileReplacement() { discard(); }

  // Checks `target` and names the temporary. Refused with a sentence in problem(): a missing or
  // unusable directory (ecPathNotFound), a directory, device or pipe as the target, an existing
  // file this user may not write, a directory this user may not create files in
  // (ecAccessDenied), and the file `input` itself however it is spelled (ecBadArgument).
  Result prepare(const std::string &target, const std::string &input = {});
  // The same for a command that reads several files (empty names are skipped).
  Result prepare(const std::string &target, std::initializer_list<std::string> inputs);

  const std::string &target() const { return target_; }
  // Where the contents are to be written.
  const std::string &tempName() const { return temp_; }
  // Creates the temporary for reading and writing, with the permissions of any new file;
  // answers the descriptor or a negative result code (problem() says why).
  Result createTemp();
  // Removes the temporaries that replacements killed outright left in the target's directory.
  void removeStaleTemporaries();

  // When an old file is replaced: flushes the temporary to disk and gives it the old file's
  // mode and owner. Then renames it over the target. On failure the temporary is removed.
  Result commit();
  // Removes the temporary, if any.
  void discard();

  const std::string &problem() const { return problem_; }

 private:
  Result refuse(Result code, std::string why);

  std::string target_, real_, temp_, problem_;
  bool replacing_ = false;
  unsigned mode_ = 0;
  unsigned uid_ = 0, gid_ = 0;
};

// Writes `bytes` as the whole of `target` through a FileReplacement, refusing the file `input`.
// On failure `problem` says why and the target is untouched.
Result WriteWholeFile(const std::string &target, std::span<const std::uint8_t> bytes,
                      std::string &problem, const std::string &input = {});

// Removes the temporaries that replacements killed outright left in `dir`.
void RemoveStaleTemporaries(const std::string &dir);

// Whether the two names are one file (hard links and symbolic links included).
bool IsSameFile(const std::string &a, const std::string &b);

// The system's sentence for an errno value ("No space left on device").
std::string SystemReason(int err);

}  // namespace kv
