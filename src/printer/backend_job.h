#pragma once
// What the print system hands the fax printer's backend: job id, user, title, copies, the
// job's options and its file (or standard input), and the queue's address, which names the
// folder of the program that set the queue up.
#include <filesystem>
#include <string>

#include "compose/printed_jobs.h"

namespace kv {

struct BackendJob {
  std::string id, user, title, options, file;  // file empty: the job comes on standard input
};

// The backend's exit codes the print system knows.
enum BackendExit { backendOk = 0, backendFailed = 1, backendStop = 4, backendCancel = 5 };

// argv as the print system passes it (argv[0] the queue's address): false with `error` for
// any other count.
bool ParseBackendArgs(int argc, const char *const *argv, BackendJob &job, std::string &error);

// The fax of a job: fax-number, fax-recipient, fax-cover and fax-subject options (quoted as
// the print system quotes them), the subject defaulting to the job's title. Any local user
// writes these: the texts lose their control characters (JobText) and a number that cannot
// be dialled refuses the job (false with `error` naming it).
bool FaxOfJob(const BackendJob &job, PrintedJob &fax, std::string &error);

// The program's folder the queue's address "korvane-fax:/path" names (percent-encoded);
// `fallback` for an address without a path.
std::filesystem::path ProgramFolderOfUri(const std::string &uri,
                                         const std::filesystem::path &fallback);

}  // namespace kv
