#pragma once
// Work copies for the viewer: a fax it cannot show as it is (a TIFF) is shown through an APF
// copy. The copies of one run lie in a directory of its own under the system's temporary
// directory, which the run keeps locked while it lives. The lock goes with the process however it
// ends, so a directory nobody holds belongs to a run that was killed or crashed; the next run
// removes it. Nothing is left in the program directory, and a killed run's copies not for long.
#include <QString>

namespace kv {

class TViewWorkDir {
 public:
  // `base`: where the run's directory is made.
  explicit TViewWorkDir(QString base);
  ~TViewWorkDir();  // removes the directory with what is left in it
  TViewWorkDir(const TViewWorkDir &) = delete;
  TViewWorkDir &operator=(const TViewWorkDir &) = delete;

  // Makes a new, empty file in the run's directory for a copy of `original`, named after it
  // (its base name, .APF; -2, -3 ... when that is taken), the directory made and locked on first
  // use. Answers its path, or an empty string when the directory cannot be made.
  QString newFile(const QString &original);
  // The run's directory; empty until the first file.
  QString path() const { return dir_; }

  // Removes the directories under `base` of runs that are gone; answers how many.
  static int RemoveStale(const QString &base);
  // The program's own, under the system's temporary directory.
  static TViewWorkDir &Program();

 private:
  bool make();
  QString base_, dir_;
  int lock_ = -1;
};

}  // namespace kv
