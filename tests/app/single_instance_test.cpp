// Starting the program twice: the second start brings the first forward and ends.
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include "app/single_instance.h"
#include "test_support.h"

namespace kv {
namespace {

TEST(SingleInstanceTest, ASecondStartRaisesTheFirstAndEnds) {
  test::App();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  // A name of its own keeps this run apart from any other instance on the machine.
  const QString name = QString("korvane-it-%1").arg(QCoreApplication::applicationPid());
  const QString exe = dir.filePath(name);
  ASSERT_TRUE(test::CopyProgram(dir.path(), name));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");

  QProcess first;
  first.setProcessEnvironment(env);
  first.setProgram(exe);
  first.start();
  ASSERT_TRUE(first.waitForStarted());
  // Up once it listens for later starts; by then its tables exist in its own directory.
  const QString server = name + "-" + QString::number(getuid());
  ASSERT_TRUE(test::ListensWithin(server, 15000));
  EXPECT_TRUE(QFile::exists(dir.filePath("KRV.DBF")));
  EXPECT_TRUE(QFile::exists(dir.filePath("KRVREC.DBF")));

  QProcess second;
  second.setProcessEnvironment(env);
  second.start(exe, {});
  ASSERT_TRUE(second.waitForFinished(15000));
  // 0: the first instance answered that its window came forward.
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
  EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
  EXPECT_EQ(first.state(), QProcess::Running);

  first.terminate();
  if (!first.waitForFinished(5000)) first.kill();
  first.waitForFinished(5000);
}

TEST(SingleInstanceTest, TheLockIsPerNameAndFreedWithItsOwner) {
  const QString name = QString("korvane-lock-%1").arg(QCoreApplication::applicationPid());
  {
    TPreviousInstance one(name);
    EXPECT_FALSE(one.existed());
    TPreviousInstance two(name);
    EXPECT_TRUE(two.existed());
    TPreviousInstance other(name + "-other");
    EXPECT_FALSE(other.existed());
  }
  TPreviousInstance again(name);
  EXPECT_FALSE(again.existed());
}

}  // namespace
}  // namespace kv
