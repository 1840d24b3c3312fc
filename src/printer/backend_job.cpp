#include "printer/backend_job.h"

#include <cups/cups.h>

#include <QUrl>

#include "compose/fax_row.h"

namespace kv {

bool ParseBackendArgs(int argc, const char *const *argv, BackendJob &job, std::string &error) {
  if (argc != 6 && argc != 7) {
    error = "Usage: korvane-fax job-id user title copies options [file]";
    return false;
  }
  job = {argv[1], argv[2], argv[3], argv[5], argc == 7 ? argv[6] : ""};
  return true;
}

bool FaxOfJob(const BackendJob &job, PrintedJob &fax, std::string &error) {
  cups_option_t *options = nullptr;
  const int n = cupsParseOptions(job.options.c_str(), 0, &options);
  auto get = [&](const char *name) {
    const char *v = cupsGetOption(name, n, options);
    return v ? QString::fromUtf8(v) : QString();
  };
  const QString number = get("fax-number");
  PrintedJob got{number.trimmed(), JobText(get("fax-recipient")), JobText(get("fax-subject")),
                 JobText(get("fax-cover"))};
  cupsFreeOptions(n, options);
  if (got.subject.isEmpty()) got.subject = JobText(QString::fromUtf8(job.title.c_str()));
  // A control byte in a number refuses the job rather than being made a blank.
  if (QString why; !CheckFaxNumber(number, why)) {
    error = "fax-number: " + why.toStdString();
    return false;
  }
  fax = got;
  return true;
}

std::filesystem::path ProgramFolderOfUri(const std::string &uri,
                                         const std::filesystem::path &fallback) {
  const std::string::size_type colon = uri.find(':');
  const std::string rest = colon == std::string::npos ? "" : uri.substr(colon + 1);
  const std::string path = QUrl::fromPercentEncoding(QByteArray::fromStdString(rest)).toStdString();
  // Only an absolute folder is taken; "korvane-fax:/" and the like mean the installed program.
  if (path.size() < 2 || path.front() != '/') return fallback;
  return std::filesystem::path(path).lexically_normal();
}

}  // namespace kv
