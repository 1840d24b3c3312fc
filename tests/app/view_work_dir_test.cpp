// The viewer's work copies: named after their originals in one directory per run, gone with the
// run, and a killed run's directory removed by the next one while live runs keep theirs.
#include <signal.h>

#include <gtest/gtest.h>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app/view_work_dir.h"
#include "support/child_process.h"

namespace kv {
namespace {

QStringList entries(const QString &dir) {
  return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
}

TEST(ViewWorkDir, CopiesAreNamedAfterTheirOriginalsAndGoWithTheRun) {
  QTemporaryDir base;
  QString dir;
  {
    TViewWorkDir work(base.path());
    EXPECT_TRUE(work.path().isEmpty());  // nothing made until a copy is needed
    const struct {
      QString original, name;
    } cases[] = {
        {"/somewhere/far-1.tif", "far-1.APF"},
        {"/elsewhere/far-1.tiff", "far-1-2.APF"},  // the first name is taken
        {"far-1.tif", "far-1-3.APF"},
        {"/x/letter.fax.tif", "letter.fax.APF"},
        {"/x/.tif", "fax.APF"},
    };
    for (const auto &c : cases) {
      const QString file = work.newFile(c.original);
      EXPECT_EQ(QFileInfo(file).fileName(), c.name) << c.original.toStdString();
      EXPECT_TRUE(QFileInfo(file).isFile());
    }
    dir = work.path();
    EXPECT_TRUE(dir.startsWith(base.path() + "/korvane-view-")) << dir.toStdString();
    EXPECT_EQ(entries(base.path()).size(), 1);
  }
  EXPECT_FALSE(QFileInfo::exists(dir));
  EXPECT_TRUE(entries(base.path()).isEmpty());
}

TEST(ViewWorkDir, AKilledRunsCopiesGoAtTheNextStartLiveRunsKeepTheirs) {
  QTemporaryDir base;
  // A run killed while its viewer was open: its directory and copy stay behind.
  const int ended = test::runInChild([&] {
    TViewWorkDir work(base.path());
    if (work.newFile("/x/far-1.tif").isEmpty()) return 1;
    raise(SIGKILL);
    return 2;
  });
  ASSERT_EQ(ended, 128 + SIGKILL);
  ASSERT_EQ(entries(base.path()).size(), 1);
  const QString killed = base.path() + "/" + entries(base.path())[0];
  EXPECT_EQ(entries(killed), QStringList{"far-1.APF"});

  // A run that is alive (this one), and a directory that is not a work directory.
  TViewWorkDir live(base.path());
  const QString mine = live.newFile("/x/sample.tif");
  ASSERT_FALSE(mine.isEmpty());
  ASSERT_TRUE(QDir(base.path()).mkdir("korvane-other"));

  EXPECT_EQ(TViewWorkDir::RemoveStale(base.path()), 1);
  EXPECT_FALSE(QFileInfo::exists(killed));
  EXPECT_TRUE(QFileInfo(mine).isFile());
  EXPECT_TRUE(QFileInfo::exists(base.path() + "/korvane-other"));
  EXPECT_EQ(TViewWorkDir::RemoveStale(base.path()), 0);
  // The live run still makes copies where it did.
  EXPECT_EQ(QFileInfo(live.newFile("/y/sample.tif")).path() + '/', live.path());
}

}  // namespace
}  // namespace kv
