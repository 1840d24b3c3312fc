// The fax printer's parts inside one process: what the print system's arguments and job
// options become, jobs filed and taken in as rows (read back by python3-dbf), and the main
// window taking in a job printed while it runs and asking for its recipient in the editor.
#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include "app/main_screen.h"
#include "app/test_support.h"
#include "compose/compose_support.h"
#include "compose/fax_editor.h"
#include "compose/pdf_attach.h"
#include "compose/printed_jobs.h"
#include "printer/backend_job.h"
#include "support/event_wait.h"
#include "support/modal.h"
#include "support/temp_files.h"

namespace kv {
namespace {

const QString kPdf = KORVANE_SOURCE_DIR "/tests/compose/data/two_pages.pdf";

QByteArray pdfBytes() {
  QFile f(kPdf);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(FaxPrinterJob, JobOptionsMakeTheFax) {
  struct Case {
    const char *options, *title;
    PrintedJob expected;
  } cases[] = {
      {"fax-number=5550199 job-uuid=urn:uuid:1 PageSize=A4",
       "letter.pdf",
       {"5550199", "", "letter.pdf", ""}},
      {"fax-recipient='Acme Legal' fax-subject=\"Q3 figures\" fax-cover=Standard",
       "x",
       {"", "Acme Legal", "Q3 figures", "Standard"}},
      {"fax-number=' +1 555 0100 '", "", {"+1 555 0100", "", "", ""}},
      {"", "  Untitled  ", {"", "", "Untitled", ""}},
      // Escape sequences of a title or an option never reach a row or a terminal.
      {"", "\x1b]0;owned\x07Report\x1b[2J", {"", "", "]0;owned Report [2J", ""}},
      {"fax-recipient='Ann\x1b[31m' fax-subject='a\tb\xc2\x9b' fax-cover='C\x7f'",
       "x",
       {"", "Ann [31m", "a b", "C"}},
  };
  for (const Case &c : cases) {
    PrintedJob got;
    std::string error;
    ASSERT_TRUE(FaxOfJob({"7", "ann", c.title, c.options, ""}, got, error)) << error;
    EXPECT_EQ(got.faxNumber, c.expected.faxNumber) << c.options;
    EXPECT_EQ(got.recipient, c.expected.recipient) << c.options;
    EXPECT_EQ(got.subject, c.expected.subject) << c.options;
    EXPECT_EQ(got.coverTemplate, c.expected.coverTemplate) << c.options;
  }
}

// Any local user may print with any fax-number: one that is not a number refuses the job.
TEST(FaxPrinterJob, ANumberThatCannotBeDialledRefusesTheJob) {
  const std::pair<const char *, const char *> cases[] = {
      {"fax-number='555\rATZ;'", "fax-number: The fax number \"555\\rATZ;\" cannot be dialled"},
      {"fax-number=555;ATH", "it holds ';' (character 4)"},
      {"fax-number='1-800-FAX'", "it holds the letter 'F'"},
  };
  for (const auto &[options, reason] : cases) {
    PrintedJob got;
    std::string error;
    EXPECT_FALSE(FaxOfJob({"7", "ann", "t", options, ""}, got, error)) << options;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
  }
}

TEST(FaxPrinterJob, TheQueueAddressNamesTheProgramFolder) {
  const std::filesystem::path fallback = "/usr/bin";
  struct Case {
    const char *uri, *folder;
  } cases[] = {
      {"korvane-fax:/opt/korvane/bin", "/opt/korvane/bin"},
      {"korvane-fax:/tmp/a%20b/bin/", "/tmp/a b/bin/"},
      {"korvane-fax:/", "/usr/bin"},
      {"korvane-fax:", "/usr/bin"},
      {"korvane-fax:relative/bin", "/usr/bin"},
      {"korvane-fax://host/x", "/host/x"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ProgramFolderOfUri(c.uri, fallback).string(), c.folder) << c.uri;

  BackendJob job;
  std::string error;
  const char *six[] = {"korvane-fax:/", "12", "ann", "memo", "1", "fax-number=1"};
  ASSERT_TRUE(ParseBackendArgs(6, six, job, error));
  EXPECT_EQ(job.user, "ann");
  EXPECT_TRUE(job.file.empty());
  EXPECT_FALSE(ParseBackendArgs(5, six, job, error));
  EXPECT_NE(error.find("Usage"), std::string::npos);
}

class PrintedJobs : public test::ProgramDirTest {
 protected:
  QStringList printed(const char *pattern) const {
    return QDir(PrintedJobsDir()).entryList({pattern}, QDir::Files);
  }
  TSettingsLink settings;
};

TEST_F(PrintedJobs, JobsBecomeRowsAndOneWithoutANumberWaitsForTheUser) {
  QString error;
  ASSERT_TRUE(FilePrintedJob(pdfBytes(), "job7", {"5550199", "Acme Legal", "Q3", ""}, error))
      << error.toStdString();
  ASSERT_TRUE(FilePrintedJob(pdfBytes(), "job8", {"", "", "memo", ""}, error));
  TFaxRecords records;
  const TakeInResult taken = TakeInPrintedJobs(records, settings.Data);
  records.FaxTable.Close();
  EXPECT_EQ(taken.rows, 2);
  EXPECT_EQ(taken.waiting, 0);
  EXPECT_TRUE(taken.problems.isEmpty()) << taken.problems.join('\n').toStdString();
  EXPECT_TRUE(printed("*.job").isEmpty());
  EXPECT_EQ(printed("*.pdf").size(), 2);
  EXPECT_EQ(test::ReadSentRow(dir_.path(), 1), "Acme Legal|5550199|Q3");
  // The row's document is the filed PDF, named in its RTF as the editor names an attachment.
  EXPECT_TRUE(QString::fromStdString(test::readFile(path("doc.rtf").toStdString()))
                  .contains("\\kvpdfattach " + PrintedJobsDir()));
  EXPECT_EQ(test::ReadSentRow(dir_.path(), 2), "||memo");
  EXPECT_EQ(RowsAwaitingUser(), QList<int>{2});
  ForgetAwaitingRow(2);
  EXPECT_TRUE(RowsAwaitingUser().isEmpty());
}

TEST_F(PrintedJobs, DocumentsThatCannotBeFaxedLeaveNothing) {
  const QByteArray pdf = pdfBytes();
  struct Case {
    QByteArray bytes;
    const char *reason;
  } cases[] = {{"plain words, not a document", "not a PDF"},
               {pdf.left(pdf.size() / 2), "cut short"}};
  for (const Case &c : cases) {
    QString error;
    EXPECT_FALSE(FilePrintedJob(c.bytes, "job9", {"1", "", "", ""}, error));
    EXPECT_TRUE(error.contains(c.reason)) << error.toStdString();
    EXPECT_TRUE(QDir(PrintedJobsDir()).entryList(QDir::Files).isEmpty());
  }
}

TEST_F(PrintedJobs, AHeldTableKeepsTheJobAndAnUnknownCoverAsksTheUser) {
  QString error;
  ASSERT_TRUE(FilePrintedJob(pdfBytes(), "job3", {"5550199", "", "", "Nope"}, error));
  {
    TFaxRecords program;  // the running program holds its table
    ASSERT_TRUE(program.OpenFaxDBF());
    TFaxRecords backend;
    const TakeInResult held = TakeInPrintedJobs(backend, settings.Data);
    EXPECT_EQ(held.rows, 0);
    EXPECT_EQ(held.waiting, 1);
    EXPECT_EQ(printed("*.job").size(), 1);
  }
  TFaxRecords records;
  const TakeInResult taken = TakeInPrintedJobs(records, settings.Data);
  records.FaxTable.Close();
  EXPECT_EQ(taken.rows, 1);
  ASSERT_EQ(taken.problems.size(), 1);
  EXPECT_TRUE(taken.problems[0].contains("no cover sheet")) << taken.problems[0].toStdString();
  EXPECT_EQ(test::ReadSentRow(dir_.path(), 1), "|5550199|");
  EXPECT_EQ(RowsAwaitingUser(), QList<int>{1});
}

// A job printed while the program runs: its watch takes it in and, the program being in front,
// the fax editor opens on the new row with the PDF as its document.
TEST_F(PrintedJobs, TheRunningProgramAsksForTheRecipientOfAPrintedFax) {
  auto main = std::make_unique<TMainScreen>();
  main->show();
  ASSERT_TRUE(kv::test::eventually([&] { return !main->FirstActivate; }, 5000));
  main->activateWindow();
  ASSERT_TRUE(kv::test::eventually(
      [&] { return QApplication::applicationState() == Qt::ApplicationActive; }, 5000));
  bool asked = false;
  test::OnModal<TFaxEditor>([&](TFaxEditor &e) {
    asked = true;
    EXPECT_TRUE(e.FaxNumber->text().isEmpty());
    EXPECT_EQ(e.Subject->text(), "Printed memo");
    EXPECT_TRUE(e.PdfAttach->PdfView->text().contains("2 pages"))
        << e.PdfAttach->PdfView->text().toStdString();
    test::Snapshot(e, "fax_editor_printed");
    e.Recipient->setText("Ann Example");
    e.FaxNumber->setText("5550123");
    e.OKButton->click();
  });
  QString error;
  ASSERT_TRUE(FilePrintedJob(pdfBytes(), "job21", {"", "", "Printed memo", ""}, error));
  ASSERT_TRUE(kv::test::eventually([&] { return asked; }, 10000));
  ASSERT_TRUE(kv::test::eventually(
      [&] { return RowsAwaitingUser().isEmpty() && !QApplication::activeModalWidget(); }, 5000));
  main.reset();
  EXPECT_EQ(test::ReadSentRow(dir_.path(), 1), "Ann Example|5550123|Printed memo");
}

}  // namespace
}  // namespace kv
