// Fax files handed to the program from outside: a later start passes them to the running
// instance, which shows each in a viewer; TIFF faxes through a temporary APF copy.
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QTest>
#include <memory>

#include "app/open_fax_file.h"
#include "app/single_instance.h"
#include "app/view_work_dir.h"
#include "faximage/apf_export.h"
#include "support/event_wait.h"
#include "support/fax_files.h"
#include "test_support.h"
#include "viewer/fax_viewer_window.h"

namespace kv {
namespace {

class OpenFaxFileTest : public test::ProgramDirTest {
 protected:
  // A fax of `pages` pages, as APF and as the TIFF the viewer's export makes of it.
  QString makeApf(const QString &name, int pages) {
    std::vector<test::FaxPage> p(pages, {test::markedPage(1728, 400, 100, 100, 300, 50)});
    const QString file = dir_.filePath(name);
    EXPECT_TRUE(test::writeApf(file.toStdString(), p));
    return file;
  }
  QString makeTiff(const QString &name, int pages) {
    const QString apf = makeApf(name + ".src.apf", pages);
    std::string error;
    const QString tiff = dir_.filePath(name);
    EXPECT_GE(ExportApfToTiff(apf.toStdString(), tiff.toStdString(), error), 0) << error;
    QFile::remove(apf);
    return tiff;
  }
  // Made once the fixture's application exists.
  std::unique_ptr<QWidget> windowOwner = (test::App(), std::make_unique<QWidget>());
  QWidget &window = *windowOwner;
};

TEST_F(OpenFaxFileTest, ApfAndTiffOpenInAViewerOtherFilesAreRefused) {
  QFile::copy(KORVANE_SOURCE_DIR "/README.md", dir_.filePath("notes.txt"));
  struct Case {
    QString file;
    int pages;        // 0: refused
    QString message;  // part of the error shown when refused
  } cases[] = {
      {makeApf("two.apf", 2), 2, {}},
      {makeTiff("three.tif", 3), 3, {}},
      {dir_.filePath("notes.txt"), 0, "is not a fax file"},
      {dir_.filePath("missing.apf"), 0, "does not exist"},
  };
  window.show();
  for (const Case &c : cases) {
    shown.clear();
    const QStringList before = QDir(dir_.path()).entryList(QDir::Files);
    QPointer<TFaxViewer> viewer = OpenFaxInViewer(&window, c.file);
    if (c.pages == 0) {
      EXPECT_EQ(viewer, nullptr) << c.file.toStdString();
      ASSERT_EQ(shown.size(), 1u) << c.file.toStdString();
      EXPECT_TRUE(shown[0].text.contains(c.message)) << shown[0].text.toStdString();
      continue;
    }
    ASSERT_NE(viewer, nullptr) << c.file.toStdString() << ": "
                               << (shown.empty() ? "" : shown[0].text.toStdString());
    EXPECT_TRUE(shown.empty());
    ASSERT_TRUE(kv::test::eventually([&] { return viewer->isVisible(); }, 5000));
    ASSERT_TRUE(
        kv::test::eventually([&] { return viewer->FaxViewer->PageCount() == c.pages; }, 5000));
    EXPECT_TRUE(viewer->PageText().startsWith(QFileInfo(c.file).fileName()));
    // Exported beside the fax itself, never into a work copy's directory that goes away.
    EXPECT_EQ(viewer->ExportSuggestion(),
              dir_.filePath(QFileInfo(c.file).completeBaseName() + ".pdf"));
    // A TIFF is shown through a work copy outside the program directory, gone with its viewer.
    auto copies = [] {
      const QString work = TViewWorkDir::Program().path();
      return work.isEmpty() ? 0 : QDir(work).entryList(QDir::Files).size();
    };
    EXPECT_EQ(copies(), c.file.endsWith(".tif") ? 1 : 0);
    viewer->close();
    ASSERT_TRUE(kv::test::eventually([&] { return viewer.isNull(); }, 5000));
    EXPECT_EQ(copies(), 0) << c.file.toStdString();
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), before) << c.file.toStdString();
  }
}

// The real program as a later start, with files on its command line, against this process as
// the running instance: each file reaches it with its full path, then it is asked to come forward.
TEST_F(OpenFaxFileTest, ALaterStartHandsItsFilesToTheRunningInstance) {
  const QString name = QString("korvane-open-%1").arg(QCoreApplication::applicationPid());
  const QString exe = dir_.filePath(name);
  ASSERT_TRUE(QFile::copy(KORVANE_BIN_DIR "/korvane", exe));
  TPreviousInstance running(name);
  ASSERT_FALSE(running.existed());
  TJustOne justOne(running);
  QStringList opened;
  QObject::connect(&justOne, &TJustOne::openRequested, [&](const QString &p) { opened << p; });
  justOne.serve(&window);

  const QString apf = makeApf("a fax.apf", 1);
  QProcess later;
  later.setWorkingDirectory(dir_.path());
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  later.setProcessEnvironment(env);
  later.start(exe, {"a fax.apf", "/elsewhere/b.tif"});
  ASSERT_TRUE(later.waitForStarted());
  ASSERT_TRUE(kv::test::eventually([&] { return later.state() == QProcess::NotRunning; }, 15000));
  EXPECT_EQ(later.exitCode(), 0) << later.readAllStandardError().toStdString();
  EXPECT_EQ(opened, QStringList({apf, "/elsewhere/b.tif"}));
  EXPECT_TRUE(window.isVisible());
}

}  // namespace
}  // namespace kv
