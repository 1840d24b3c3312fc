// Header lines, modem strings, received file names, the history file and APF pieces.
#include "fax/fax_text.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fax/apf_io.h"
#include "fax/fax_session.h"
#include "support/child_process.h"
#include "support/temp_files.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::tm dec6(int hour, int min) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 6;
  t.tm_hour = hour;
  t.tm_min = min;
  return t;
}

TEST(FaxHeader, BuildHeaderForms) {
  EXPECT_EQ(BuildHeader("Ann", "555 1234", dec6(14, 5)),
            "Page $P of $N, Sent by Ann, $I  on 6 Dec 2026 at 02:05pm");
  EXPECT_EQ(BuildHeader("", "555", dec6(0, 7)),
            "Page $P of $N, Sent by  $I  on 6 Dec 2026 at 12:07am");
  EXPECT_EQ(BuildHeader("", "", dec6(12, 0)), "Page $P of $N, Sent  on 6 Dec 2026 at 12:00pm");
}

TEST(FaxHeader, SubstitutionOfCodes) {
  HeaderFields f;
  f.stationId = "555";
  f.sender = "Ann";
  f.faxPages = 3;
  f.coverPages = 1;
  f.now = dec6(9, 30);
  f.sendingCover = true;
  EXPECT_EQ(substituteHeader("Page $P of $N", f), "Page 1 of 4");
  f.sendingCover = false;
  f.afterCover = true;
  f.pageNumber = 1;
  EXPECT_EQ(substituteHeader("Page $p of $n", f), "Page 2 of 4");
  // Unknown codes vanish with the rest of their word; values holding $ are not re-expanded.
  f.sender = "$I$I";
  EXPECT_EQ(substituteHeader("A $Xyz B $F C", f), "A  B $I$I C");
  EXPECT_EQ(substituteHeader("$", f), "");
  EXPECT_EQ(substituteHeader(std::string(300, 'a'), f).size(), 255u);
}

TEST(FaxModemStrings, InitStringsAndModemInit) {
  EXPECT_EQ(defaultInitString(false, true), "ATE0Q0V1X4S0=0S2=43");
  EXPECT_EQ(defaultInitString(true, true), "ATE0Q0V1X3S0=0S2=43");
  EXPECT_EQ(defaultInitString(false, false), "ATE0Q0V1X2S0=0S2=43");
  EXPECT_EQ(defaultInitString(true, false), "ATE0Q0V1X1S0=0S2=43");
  EXPECT_EQ(normalizeModemInit("&c1"), "AT&C1");
  EXPECT_EQ(normalizeModemInit("at&k3"), "AT&K3");
  EXPECT_EQ(normalizeModemInit(std::string(60, 'm')).size(), 40u);
}

TEST(FaxNaming, SequenceSkipsFilesNotDirectories) {
  TempDir d;
  std::tm today = dec6(10, 0);
  EXPECT_EQ(receiveFileName(nmSequence, d.path(), "APF", today), d.file("FAX0001.APF"));
  std::ofstream(fs::path(d.path()) / "FAX0001.APF") << "x";
  std::ofstream(fs::path(d.path()) / "FAX0002.APF") << "x";
  fs::create_directory(fs::path(d.path()) / "FAX0003.APF");
  EXPECT_EQ(receiveFileName(nmSequence, d.path() + "/", "APF", today), d.file("FAX0003.APF"));
  EXPECT_EQ(receiveFileName(nmMonthDay, d.path(), "APF", today), d.file("12060001.APF"));
  EXPECT_EQ(receiveFileName(nmFixed, d.path(), "APF", today), "noname.apf");
  EXPECT_EQ(receiveFileName(nmSequence, "", "APF", today).substr(0, 3), "FAX");
}

TEST(FaxApf, WriterPagesReadBack) {
  TempDir d;
  std::string path = d.file("r.apf");
  apf::Writer w;
  ASSERT_EQ(w.create(path, "REMOTE ID"), ecOK);
  const std::uint8_t data1[] = {1, 2, 3, 4, 5};
  const std::uint8_t data2[] = {9, 9};
  ASSERT_EQ(w.beginPage(true, false), ecOK);
  ASSERT_EQ(w.write(data1, sizeof data1), ecOK);
  ASSERT_EQ(w.closePage("REMOTE ID"), ecOK);
  ASSERT_EQ(w.beginPage(false, true), ecOK);
  ASSERT_EQ(w.write(data2, sizeof data2), ecOK);
  ASSERT_EQ(w.closePage("REMOTE ID"), ecOK);
  ASSERT_EQ(w.close(), ecOK);

  std::FILE *f = nullptr;
  ApfMainHeader h;
  ASSERT_EQ(apf::openForSending(path, f, h), ecOK);
  EXPECT_EQ(h.pageCount, 2);
  ApfPageHeader ph;
  ASSERT_EQ(apf::seekPage(f, h, 2, ph), ecOK);
  EXPECT_EQ(ph.imageLength, 2u);
  EXPECT_EQ(ph.imageFlags, apfWide);
  EXPECT_EQ(std::fgetc(f), 9);
  ASSERT_EQ(apf::seekPage(f, h, 1, ph), ecOK);
  EXPECT_EQ(ph.imageFlags, apfHighResolution);
  EXPECT_EQ(apf::seekPage(f, h, 3, ph), ecReadBeyondEof);
  EXPECT_EQ(apf::seekPage(f, h, 0, ph), ecReadBeyondEof);
  std::fclose(f);

  std::ofstream(fs::path(d.path()) / "bad.apf")
      << "APF11\x1a and more than sixty-four bytes of nothing useful..";
  EXPECT_EQ(apf::openForSending(d.file("bad.apf"), f, h), ecFaxBadFormat);
  EXPECT_EQ(f, nullptr);
  EXPECT_LT(apf::openForSending(d.file("missing.apf"), f, h), 0);
}

// A received file is a new one, locked while it is written; a write the disk refuses (a file
// size limit stands in for a full disk) leaves the pages before it whole.
TEST(FaxApf, WriterTakesOnlyNewNamesLocksAndKeepsWholePagesOnAFullDisk) {
  TempDir d;
  const std::string path = d.file("FAX0001.APF");
  std::ofstream(path) << "someone else's";
  apf::Writer w;
  EXPECT_EQ(w.create(path, "ID"), ecFileExists);
  EXPECT_EQ(w.create(path, "ID", true), ecOK);
  const int fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ASSERT_EQ(w.close(), ecOK);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);

  const int status = test::runInChild([&path] {
    test::limitFileSize(3500);
    apf::Writer full;
    const std::vector<std::uint8_t> block(1000, 0);
    Result r = full.create(path, "ID", true);
    for (int page = 0; r >= 0 && page < 2; ++page) {
      r = full.beginPage(false, false);
      for (int i = 0; r >= 0 && i < 2; ++i) r = full.write(block.data(), block.size());
      if (r >= 0) r = full.closePage("ID");
    }
    // The second page's second block does not fit: the page is closed with what it has.
    if (r != ecDiskFull || full.closePage("ID") != ecOK || full.close() != ecOK) return 1;
    return 0;
  });
  ASSERT_EQ(status, 0);
  std::FILE *f = nullptr;
  ApfMainHeader h;
  ASSERT_EQ(apf::openForSending(path, f, h), ecOK);
  EXPECT_EQ(h.pageCount, 2);
  ApfPageHeader ph;
  ASSERT_EQ(apf::seekPage(f, h, 2, ph), ecOK);
  EXPECT_EQ(ph.imageLength, 1000u);
  EXPECT_EQ(fs::file_size(path), kApfMainHeaderSize + 2 * kApfPageHeaderSize + 3000u);
  std::fclose(f);
}

class LogProbe : public TKvAbstractFax {
 public:
  explicit LogProbe(bool sender) : TKvAbstractFax(sender) {}
  void setError(Result r) { sessionError_ = r; }
  void setHangup(int h) { hangupResult_ = h; }
  void setPartner(const std::string &s) { setPartnerId(s); }

 protected:
  Result prepare() override { return 0; }
  void runState(FaxEvent) override {}
  bool stateReadsLines() const override { return false; }
  bool stateIsFinal() const override { return true; }
  void enterErrorState() override {}
  std::uint8_t stateNumber() const override { return 0; }
  const char *stateName() const override { return ""; }
};

std::string slurp(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(FaxHistory, RecordsPerDirection) {
  TempDir d;
  TKvFaxLog log;
  log.FaxHistoryName = d.file("KVFAX.HIS");
  LogProbe tx(true), rx(false);
  tx.setPartner("REMOTE");
  tx.setHangup(7);
  log.UpdateLog(lcTransmitOk, tx);
  tx.setError(ecFaxBusy);
  log.UpdateLog(lcTransmitFail, tx);
  log.UpdateLog(lcReceiveOk, tx);  // a receiver's code from a sender writes nothing
  rx.setError(ecTimeout);
  log.UpdateLog(lcReceiveFail, rx);
  std::string s = slurp(log.FaxHistoryName);
  EXPECT_NE(s.find("Transmit to REMOTE finished OK at "), std::string::npos);
  EXPECT_NE(s.find(" 7\r\n\r\nTransmit failed at "), std::string::npos);
  EXPECT_EQ(s.find("Receive finished"), std::string::npos);
  EXPECT_NE(s.find("Receive failed at "), std::string::npos);
  EXPECT_EQ(s.substr(s.size() - 4), "\r\n\r\n");
  EXPECT_NE(s.find("\r\n  ("), std::string::npos);

  log.FaxHistoryName.clear();
  log.UpdateLog(lcTransmitOk, tx);  // no file named: nothing written anywhere
}

}  // namespace
}  // namespace kv
