// The fax printer end to end: a private print scheduler with the fax printer's backend, the
// queue set up by korvane-fax printer install, jobs printed with lp becoming rows of the
// printing user's sent-fax table (read back by python3-dbf), and such a row sent over the
// simulated line with its cover sheet and the printed pages at the far end (read by OCR).
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <filesystem>

#include "../linesim/fax_images.h"
#include "app/program_dir.h"
#include "app/test_support.h"
#include "compose/compose_support.h"
#include "e2e/process.h"
#include "e2e/simulated_line.h"
#include "support/cups_scheduler.h"
#include "support/temp_files.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kTool = std::string(KORVANE_BIN_DIR) + "/korvane-fax";
const std::string kPdf = KORVANE_SOURCE_DIR "/tests/compose/data/two_pages.pdf";

uid_t ownerOf(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_uid : uid_t(-1);
}

// The PDFs filed for jobs in a program directory.
std::vector<std::string> filedPdfs(const std::string &programDir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto &e : fs::directory_iterator(programDir + "/PRINTED", ec))
    if (e.path().extension() == ".pdf") out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

class FaxPrinter : public ::testing::Test {
 protected:
  // The scheduler with the backend, and a copy of korvane-fax in `folder` (with the queue's
  // description beside it) that sets the queue up: the queue then serves that folder's program.
  void SetUp() override {
    test::App();
    for (const char *f : {"/usr/sbin/lpadmin", "/usr/bin/lp", "/usr/bin/lpstat"})
      if (!fs::exists(f)) GTEST_SKIP() << f << " is not installed";
    if (const std::string why = cups.start({{"korvane-fax", KORVANE_BACKEND}}); !why.empty())
      GTEST_SKIP() << "no private print scheduler: " << why;
  }
  void install(const std::string &folder) {
    fs::copy_file(kTool, folder + "/korvane-fax");
    fs::copy_file(std::string(KORVANE_BIN_DIR) + "/korvane-fax.ppd", folder + "/korvane-fax.ppd");
    std::string out;
    ASSERT_EQ(test::Shell(folder + "/korvane-fax printer install", &out), 0) << out;
    EXPECT_NE(out.find("Printer Korvane-Fax is set up"), std::string::npos) << out;
  }
  // Prints and waits until the scheduler has finished the job (done or given up).
  void print(const std::string &options, const std::string &file) {
    std::string out;
    ASSERT_EQ(test::Shell("lp -d Korvane-Fax " + options + " " + file, &out), 0) << out;
    for (int i = 0; i < 600; ++i) {
      if (test::Shell("lpstat -o Korvane-Fax", &out) == 0 && out.empty()) return;
      QThread::msleep(100);
    }
    FAIL() << "the job did not finish: " << out << "\n" << cups.errorLog();
  }
  static QString ocr(const std::string &tiff) {
    QProcess p;
    p.start("tesseract", {QString::fromStdString(tiff), "stdout"});
    p.waitForFinished(120000);
    return QString::fromUtf8(p.readAllStandardOutput()).simplified();
  }
  test::CupsScheduler cups;
};

// Printed by root with the fax number, a cover sheet template and a recipient: the row is in
// the program folder the queue serves, ready, and goes over the line as cover plus two pages.
// A plain text file printed too arrives as a PDF (the scheduler converts it).
TEST_F(FaxPrinter, APrintedPdfBecomesARowThatSendsOverTheLine) {
  test::LineOptions o;
  o.speed = 4;
  o.calls = 1;
  o.farReceive = "far.tif";
  test::SimulatedLine line(o);
  const std::string dir = line.programDir();
  line.appendIni(
      "[Modem]\nComPort=0\nFaxClass=1\n[User]\nName=Ann\nFax=555 0100\n"
      "[Dialing]\nDialAttempts=1\n");
  SetProgramDir(QString::fromStdString(dir));
  {
    TFaxRecords records;
    test::AddTemplate(records, "Standard");
  }
  SetProgramDir({});
  install(dir);
  print(
      "-o fax-number=5550199 -o fax-cover=Standard -o \"fax-recipient='Acme Legal'\" -t "
      "Quarterly",
      kPdf);
  test::writeFile(dir + "/notes.txt", "Notes printed as plain text\n");
  print("-o fax-number=5550123", dir + "/notes.txt");

  const std::vector<std::string> pdfs = filedPdfs(dir);
  ASSERT_EQ(pdfs.size(), 2u) << cups.errorLog();
  EXPECT_EQ(ownerOf(pdfs[0]), 0u);
  EXPECT_EQ(test::ReadSentRow(QString::fromStdString(dir), 1), "Acme Legal|5550199|Quarterly");
  EXPECT_EQ(test::ReadSentRow(QString::fromStdString(dir), 2), "|5550123|notes.txt");
  // The text filter's fonts carry no text a reader can map back, so the page is read by OCR.
  ASSERT_EQ(test::Shell("pdftoppm -r 150 -gray -png -f 1 -l 1 " + pdfs[1] + " " + dir + "/notes"),
            0);
  EXPECT_TRUE(ocr(dir + "/notes-1.png").contains("Notes printed as plain text"));
  EXPECT_TRUE(
      QDir(QString::fromStdString(dir + "/PRINTED")).entryList({"*.job", "*.ask"}).isEmpty());

  test::Process tx({kTool, "send-row", "1", "--program-dir", dir, "--speed", "4"},
                   dir + "/send-row.log");
  ASSERT_TRUE(tx.wait(150s));
  EXPECT_EQ(tx.exitCode(), 0) << tx.output() << line.log();
  EXPECT_EQ(line.finish(), 0) << line.log();
  EXPECT_EQ(test::readTiffPages(line.farReceived()).size(), 3u);
  const QString far = ocr(line.farReceived());
  for (const char *words :
       {"FAX COVER", "Acme Legal", "5550199", "Quarterly", "Alpha page with the quarterly figures",
        "Beta page with the signatures"})
    EXPECT_TRUE(far.contains(words, Qt::CaseInsensitive))
        << words << " not in: " << far.toStdString();
}

// A user of the computer who prints gets the fax in the outbox of its own data folder, written
// as that user; a job of a user the computer does not know is refused and writes nothing. Both
// leave the queue working, and remove takes it away.
TEST_F(FaxPrinter, JobsGoToThePrintingUsersOwnOutbox) {
  if (!fs::exists("/usr/sbin/useradd")) GTEST_SKIP() << "useradd is not installed";
  test::TempDir base("korvane-home-");
  fs::permissions(base.path(),
                  fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  const std::string home = base.file("home"), user = "kvfax" + std::to_string(getpid());
  std::string out;
  ASSERT_EQ(
      test::Shell("/usr/sbin/useradd -M -N -s /usr/sbin/nologin -d " + home + " " + user, &out), 0)
      << out;
  struct Remove {
    std::string user;
    ~Remove() { test::Shell("/usr/sbin/userdel " + user); }
  } remove{user};
  const passwd *pw = getpwnam(user.c_str());
  ASSERT_NE(pw, nullptr);
  const uid_t uid = pw->pw_uid;
  fs::create_directories(home);
  ASSERT_EQ(chown(home.c_str(), uid, pw->pw_gid), 0);

  // The program's folder is root's: the user's own data folder takes its place.
  test::TempDir program("korvane-prog-");
  install(program.path());
  print("-U " + user + " -o fax-number=5550199", kPdf);
  print("-U nosuchuser" + std::to_string(getpid()) + " -o fax-number=1", kPdf);
  // Any user may print with any options: a number holding modem commands is refused.
  print("-U " + user + " -o 'fax-number=555;ATZ'", kPdf);
  const std::string outbox = home + "/.local/share/korvane";
  const std::vector<std::string> pdfs = filedPdfs(outbox);
  ASSERT_EQ(pdfs.size(), 1u) << cups.errorLog();
  EXPECT_EQ(ownerOf(pdfs[0]), uid);
  EXPECT_EQ(ownerOf(outbox + "/KRV.DBF"), uid);
  EXPECT_EQ(test::ReadSentRow(QString::fromStdString(outbox), 1), "|5550199|two_pages.pdf");
  EXPECT_TRUE(filedPdfs(program.path()).empty());
  EXPECT_FALSE(fs::exists(program.file("KRV.DBF")));
  EXPECT_NE(cups.errorLog().find("is not a user of this computer"), std::string::npos)
      << cups.errorLog();
  EXPECT_NE(cups.errorLog().find("cannot be dialled: it holds"), std::string::npos)
      << cups.errorLog();

  ASSERT_EQ(test::Shell(program.path() + "/korvane-fax printer remove", &out), 0) << out;
  EXPECT_NE(test::Shell(program.path() + "/korvane-fax printer remove", &out), 0);
  EXPECT_NE(out.find("there is no printer named Korvane-Fax"), std::string::npos) << out;
}

// Without a print system to talk to, or without the rights to set up a printer, the command
// says so and what to do.
TEST(FaxPrinterSetup, RefusalsSayWhatToDo) {
  struct Case {
    std::string command, message;
  } cases[] = {
      {"CUPS_SERVER=/nonexistent/cups.sock " + kTool + " printer install",
       "the print system (CUPS) is not running"},
      {"runuser -u nobody -- " + kTool + " printer remove", "needs an administrator"},
      {kTool + " printer frobnicate", "install or remove"},
  };
  for (const Case &c : cases) {
    // Another user runs the tool only as root, and only where that user may reach the build.
    if (c.command.starts_with("runuser") &&
        (geteuid() != 0 || test::Shell("runuser -u nobody -- test -x " + kTool) != 0))
      continue;
    std::string out;
    EXPECT_NE(test::Shell(c.command, &out), 0) << c.command;
    EXPECT_NE(out.find(c.message), std::string::npos) << c.command << ": " << out;
  }
}

}  // namespace
}  // namespace kv
