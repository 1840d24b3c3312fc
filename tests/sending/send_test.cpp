// What a send takes from the settings and gives back, how it reaches the sender, and the
// outcome written into the row (read back by python3-dbf).
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <sstream>

#include "app/test_support.h"
#include "base/error_text.h"
#include "fax/send_fax.h"
#include "scriptmodem/script_modem.h"
#include "sending/row_send.h"
#include "sending/send_commands.h"
#include "sending/send_options.h"
#include "sending/sent_archive.h"
#include "support/sent_rows.h"

namespace kv {
namespace {

Settings someSettings() {
  Settings s;
  s.comPort = 2;
  s.userName = "Ann";
  s.userFax = "555 0100";
  s.dialPrefix = "9,";
  s.modemInit = "X3";
  s.dialAttempts = 4;
  s.retryWait = 30;
  s.dialTimeout = 45;
  s.faxClass = 2;
  s.toneOrPulse = 1;
  s.blindDial = true;
  s.ignoreBusy = true;
  s.maximumBps = 14400;
  return s;
}

TEST(SendOptions, SettingsGoInAndComeBackUnchangedButForTextsThatAreNoNumbers) {
  const Settings s = someSettings();
  Settings back;
  OptionsToSettings(OptionsFromSettings(s), back);
  back.resetString = s.resetString;
  EXPECT_EQ(back, s);

  struct Case {
    std::string attempts, retry, timeout;
    int wantAttempts, wantRetry, wantTimeout;
  } cases[] = {
      {"7", " 12 ", "90", 7, 12, 90},
      {"x", "12", "", 4, 12, 45},       // each text on its own: the others are still taken
      {"-1", "1e3", "+20", 4, 30, 20},  // no negative counts; "+20" is a number
  };
  for (const Case &c : cases) {
    SendOptions o = OptionsFromSettings(s);
    o.dialAttempts = c.attempts;
    o.retryWait = c.retry;
    o.timeout = c.timeout;
    Settings t = s;
    OptionsToSettings(o, t);
    EXPECT_EQ(t.dialAttempts, c.wantAttempts) << c.attempts;
    EXPECT_EQ(t.retryWait, c.wantRetry) << c.retry;
    EXPECT_EQ(t.dialTimeout, c.wantTimeout) << c.timeout;
  }
}

TEST(SendOptions, TheSenderGetsWhatTheWindowShows) {
  std::tm now{};
  now.tm_mday = 6;
  now.tm_mon = 11;
  now.tm_year = 126;
  now.tm_hour = 14;
  now.tm_min = 5;
  struct Case {
    const char *what;
    std::function<void(SendOptions &)> change;
    std::function<void(const TKvSendFax &)> check;
  } cases[] = {
      {"settings as stored", [](SendOptions &) {},
       [](const TKvSendFax &f) {
         EXPECT_EQ(f.DesiredBPS, 14400);
         EXPECT_FALSE(f.ToneDial);
         EXPECT_TRUE(f.BlindDial);
         EXPECT_FALSE(f.DetectBusy);
         EXPECT_EQ(f.FaxClass, fcClass2);
         EXPECT_EQ(f.DialAttempts, 4);
         EXPECT_EQ(f.DialRetryWait(), 30);
         EXPECT_EQ(f.DialWait(), 45);
         EXPECT_EQ(f.ModemInit(), "ATX3");
         EXPECT_EQ(f.StationID, "555 0100");
         EXPECT_EQ(f.DialPrefix.dialled(), "9,");
         EXPECT_EQ(f.PhoneNumber.dialled(), "5551234");
         EXPECT_EQ(f.FaxFile, "/d/KRV_1.APF");
         EXPECT_EQ(f.HeaderLine, "Page $P of $N, Sent by Ann, $I  on 6 Dec 2026 at 02:05pm");
       }},
      {"a rate position outside the list", [](SendOptions &o) { o.rateItem = 9; },
       [](const TKvSendFax &f) { EXPECT_EQ(f.DesiredBPS, 9600); }},
      {"auto detect", [](SendOptions &o) { o.faxClassItem = 0; },
       [](const TKvSendFax &f) { EXPECT_EQ(f.FaxClass, fcDetect); }},
      {"an init command with AT in it is taken as it is",
       [](SendOptions &o) { o.modemInit = "ATS7=90"; },
       [](const TKvSendFax &f) { EXPECT_EQ(f.ModemInit(), "ATS7=90"); }},
      {"attempts not a number: it and the two after it keep the sender's values",
       [](SendOptions &o) {
         o.dialAttempts = "many";
         o.retryWait = "5";
       },
       [](const TKvSendFax &f) {
         EXPECT_EQ(f.DialAttempts, 3);
         EXPECT_EQ(f.DialRetryWait(), 60);
         EXPECT_EQ(f.DialWait(), 60);
       }},
      {"retry wait not a number: attempts still taken", [](SendOptions &o) { o.retryWait = ""; },
       [](const TKvSendFax &f) {
         EXPECT_EQ(f.DialAttempts, 4);
         EXPECT_EQ(f.DialRetryWait(), 60);
         EXPECT_EQ(f.DialWait(), 60);
       }},
      {"no name: two blanks after by", [](SendOptions &o) { o.name.clear(); },
       [](const TKvSendFax &f) {
         EXPECT_EQ(f.HeaderLine, "Page $P of $N, Sent by  $I  on 6 Dec 2026 at 02:05pm");
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    SendOptions o = OptionsFromSettings(someSettings());
    c.change(o);
    TKvSendFax fax;
    Dialling dial;
    std::string reason;
    ASSERT_TRUE(ParseDialling(o, "5551234", dial, reason)) << reason;
    ConfigureSender(fax, o, "/d/KRV_1.APF", dial, now);
    c.check(fax);
  }
}

// The number of a row and the prefix of the settings reach the modem only as dial strings:
// formatting dropped, "+" made the international prefix, anything else refused with why.
TEST(SendOptions, NumberAndPrefixAreCheckedBeforeTheyReachTheSender) {
  struct Case {
    const char *prefix, *international, *phone;
    const char *dialled;  // prefix and number as dialled, or null when refused
    const char *reason;
  } cases[] = {
      {"9,", "", "555-1234", "9,5551234", ""},
      {"9,", "00", "+1 (555) 014-2", "9,0015550142", ""},
      {"", "", "+1 (555) 014-2", "15550142", ""},
      {"9,", "", "555\rATZ;", nullptr, "The fax number \"555\\rATZ;\" cannot be dialled"},
      {"9;ATZ", "", "5551234", nullptr, "The dial prefix \"9;ATZ\" cannot be dialled"},
      {"9,", "0\n", "+15551234", nullptr, "The international prefix \"0\\n\""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.phone);
    Settings s = someSettings();
    s.dialPrefix = c.prefix;
    s.internationalPrefix = c.international;
    Dialling dial;
    std::string reason;
    const bool ok = ParseDialling(OptionsFromSettings(s), c.phone, dial, reason);
    ASSERT_EQ(ok, c.dialled != nullptr) << reason;
    if (ok) {
      EXPECT_EQ(dial.prefix.dialled() + dial.number.dialled(), c.dialled);
      EXPECT_EQ(dial.number.typed(), c.phone);
    } else {
      EXPECT_EQ(reason.find(c.reason), 0u) << reason;
    }
  }
}

TEST(SendOptions, ResultTexts) {
  EXPECT_EQ(SendResultText(0), "Sent");
  EXPECT_EQ(SendResultText(ecFaxBusy), errorText(ecFaxBusy));
  EXPECT_NE(SendResultText(ecFaxBusy), "Sent");
  for (auto [text, sent] :
       {std::pair{"Sent", true}, {"ok", true}, {"SENT ", false}, {"Cancelled", false}, {"", false}})
    EXPECT_EQ(ResultMeansSent(text), sent) << text;
}

class RowResult : public test::ProgramDirTest {};

TEST_F(RowResult, SentSetsTheDateAndTimeOtherResultsOnlyPagesAndText) {
  TFaxRecords records;
  ASSERT_TRUE(test::AddSentRow(records, "Cover", "Body", {"Acme", "5551234", "Offer"}));
  const int recno = records.FaxTable.RecNo();
  const QDateTime first(QDate(2026, 12, 6), QTime(14, 5, 31));
  struct Step {
    int pages;
    QString result;
    QDateTime when;
    QString want;
  } steps[] = {
      {2, "Cancelled", first, "False|||2|Cancelled"},
      {3, "Sent", first, "True|2026-12-06|14:05|3|Sent"},
      // A later failure keeps the earlier success; a later success overwrites date and time.
      {3, QString::fromStdString(errorText(ecFaxBusy)), first.addDays(1),
       "True|2026-12-06|14:05|3|" + QString::fromStdString(errorText(ecFaxBusy))},
      {3, "OK", first.addDays(2), "True|2026-12-08|14:05|3|OK"},
  };
  for (const Step &s : steps) {
    QString error;
    ASSERT_TRUE(WriteSendResult(records.FaxTable, s.pages, s.result, s.when, error))
        << error.toStdString();
    EXPECT_EQ(records.FaxTable.RecNo(), recno);
    records.FaxTable.Close();
    EXPECT_EQ(test::ReadSendColumns(dir_.path(), recno).toStdString(), s.want.toStdString());
    ASSERT_TRUE(records.OpenFaxDBF());
    ASSERT_TRUE(records.FaxTable.GotoRecord(recno));
  }
  EXPECT_EQ(SendCaption(records.FaxTable), "Send Fax: [Acme - Offer]");
}

// A sent fax is kept under a name made of its row number and a key of what the row says about
// the send: never from the row's text, one kept file a row, found again after the table was
// packed, and none for a row not sent.
TEST_F(RowResult, TheSentFaxIsKeptUnderANameFromItsRow) {
  TFaxRecords records;
  TTable &t = records.FaxTable;
  ASSERT_TRUE(test::AddSentRow(records, "Cover", "Body", {"../../etc", "5551234", "a/b\\c"}));
  const QString dir = dir_.path() + '/';
  const QString fax = dir + "work.apf";
  auto writeFax = [&](const QByteArray &bytes) {
    QFile f(fax);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  };
  writeFax("first send");
  QString error;
  EXPECT_FALSE(KeepSentFax(t, dir, fax, error));  // not sent yet
  EXPECT_EQ(KeptSentFax(t, dir), "");
  const QDateTime when(QDate(2026, 12, 6), QTime(14, 5));
  ASSERT_TRUE(WriteSendResult(t, 1, "Sent", when, error)) << error.toStdString();
  ASSERT_TRUE(KeepSentFax(t, dir, fax, error)) << error.toStdString();
  const QString name = SentFaxName(t);
  EXPECT_TRUE(QRegularExpression("^1-[0-9a-f]{16}\\.APF$").match(name).hasMatch())
      << name.toStdString();
  EXPECT_EQ(QDir(SentFolder(dir)).entryList(QDir::Files), QStringList{name});
  EXPECT_EQ(KeptSentFax(t, dir), SentFolder(dir) + name);

  // Sent again later: the new pages are the record, the old file goes.
  writeFax("second send");
  ASSERT_TRUE(WriteSendResult(t, 1, "Sent", when.addDays(1), error));
  ASSERT_TRUE(KeepSentFax(t, dir, fax, error)) << error.toStdString();
  const QStringList kept = QDir(SentFolder(dir)).entryList(QDir::Files);
  ASSERT_EQ(kept.size(), 1);
  EXPECT_NE(kept[0], name);
  QFile keptFile(KeptSentFax(t, dir));
  ASSERT_TRUE(keptFile.open(QIODevice::ReadOnly));
  EXPECT_EQ(keptFile.readAll(), "second send");
  keptFile.close();

  // Packing moved the row from 3 to 1: found by its key; another row's file is not taken.
  ASSERT_TRUE(QFile::rename(SentFolder(dir) + kept[0], SentFolder(dir) + "3" + kept[0].mid(1)));
  EXPECT_EQ(KeptSentFax(t, dir), SentFolder(dir) + "3" + kept[0].mid(1));
  ASSERT_TRUE(WriteSendResult(t, 1, "Sent", when.addDays(2), error));
  EXPECT_EQ(KeptSentFax(t, dir), "");
}

// PHONE of a row may hold anything another program wrote: send-row refuses a number that is
// not one before the modem hears a byte, and leaves the row as it was.
TEST_F(RowResult, SendRowRefusesARowWhoseNumberIsNotANumber) {
  {
    TFaxRecords records;
    ASSERT_TRUE(test::AddSentRow(records, "Cover", "Body", {"Acme", "5551234", "Offer"}));
    TTable &t = records.FaxTable;
    ASSERT_TRUE(t.Edit());
    ASSERT_TRUE(t.FieldByName("PHONE")->SetAsString("555\rATZ;"));
    ASSERT_TRUE(t.Post());
  }
  const QString before = test::ReadSendColumns(dir_.path(), 1);
  static const bool added = [] {
    cli::addCommands(cli::sendingCommands());
    return true;
  }();
  (void)added;
  ScriptModem modem(ModemScript::parse("silence 300\n"));
  std::ostringstream out, err;
  cli::Context ctx{out, err};
  const std::vector<std::string> args{"send-row", "--program-dir", dir_.path().toStdString(),
                                      "--device", modem.path(),    "1"};
  const int code = cli::runTool(args, ctx);
  EXPECT_EQ(code, cli::exitFailed);
  EXPECT_NE(err.str().find("row 1 of "), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("The fax number \"555\\rATZ;\" cannot be dialled: it holds a "
                           "carriage return (character 4)"),
            std::string::npos)
      << err.str();
  const ScriptReport report = modem.finish(std::chrono::seconds(2));
  EXPECT_TRUE(report.ok()) << report.describe();
  EXPECT_EQ(test::ReadSendColumns(dir_.path(), 1), before);
}

}  // namespace
}  // namespace kv
