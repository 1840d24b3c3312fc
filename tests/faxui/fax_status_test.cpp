// The fax status window: the meter's blocks, the texts it derives, and the window as real send
// sessions against the scripted modem drive it (pages, busy count-down, Cancel and Escape).
#include "faxui/fax_status.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <cstdlib>
#include <filesystem>

#include "base/error_text.h"
#include "fax/modem_scripts.h"
#include "fax/receive_fax.h"
#include "fax/send_fax.h"
#include "fax/session_support.h"
#include "faximage/apf_file.h"
#include "support/dial.h"
#include "support/gui_app.h"
#include "support/modal.h"
#include "support/temp_files.h"

namespace kv {
namespace {

using namespace test;

TEST(Meter, BlocksForPositionStepAndWidth) {
  struct Case {
    int pos, min, max, step, width;
    MeterBlocks want;
  } cases[] = {
      {100, 0, 100, 10, 380, {37, true, 6}},  // the last whole block would cover the bevel
      {0, 0, 100, 10, 380, {0, false, 0}},
      {50, 0, 100, 10, 380, {19, false, 0}},
      {1, 0, 100, 8, 150, {1, false, 0}},
      {150, 0, 100, 10, 380, {37, true, 6}},  // beyond Max draws as Max
      {5, 0, 0, 10, 380, {0, false, 0}},      // an empty range draws nothing
  };
  for (const Case &c : cases)
    EXPECT_EQ(meterBlocks(c.pos, c.min, c.max, c.step, c.width), c.want)
        << c.pos << " " << c.step << " " << c.width;

  GuiApp();
  TKvMeter m;
  m.resize(380, 20);
  m.SetStep(10);
  int changes = 0;
  m.OnPosChange = [&](TKvMeter &) { ++changes; };
  m.SetPosition(50);
  m.SetPosition(50);
  m.SetPosition(51);  // same block count: no change event
  EXPECT_EQ(changes, 1);
  m.SetPosition(100);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(m.Blocks(), (MeterBlocks{37, true, 6}));
}

TEST(StatusTexts, MinutesNamesAndPercent) {
  EXPECT_EQ(statusMinutes(60), "  1:00");
  EXPECT_EQ(statusMinutes(605), " 10:05");
  EXPECT_EQ(statusMinutes(-3), "  0:00");
  EXPECT_EQ(statusFileName("/tmp/abcdefghijklmnopqrstuvwxyz1234.apf"), "abcdefghijklmnopqrst...");
  EXPECT_EQ(statusFileName("C:\\FAXES\\F1.APF"), "F1.APF");
  EXPECT_EQ(pagePercent(10000, 40000), 25);
  EXPECT_EQ(pagePercent(1, 200), 0);  // half: to the even neighbour
  EXPECT_EQ(pagePercent(3, 200), 2);
  EXPECT_EQ(pagePercent(5, 0), 0);
}

// What the window showed at one status event.
struct Seen {
  bool visible;
  int progress;
  QString page, status, remote, elapsed;
  int meter;
};

class StatusWindow : public ::testing::Test {
 protected:
  StatusWindow() {
    fax.FaxClass = fcClass1;
    fax.PhoneNumber = test::dialString("5551234");
    fax.StationID = "my id";
    fax.FaxFile = dir + "/a_fax_file_with_a_long_name.apf";
    fax.StatusDisplay = &status;
    fax.OnFaxStatus = [this](TKvAbstractFax &f, bool, bool last) {
      auto &d = *status.Display();
      seen.push_back({d.isVisible(), f.ProgressCode(), d.fsCurrentPage->text(),
                      d.fsStatusMsg->text(), d.fsRemoteID->text(), d.fsElapsedTime->text(),
                      d.Meter->Position()});
      if (onStatus && !last) onStatus(f);
    };
  }

  void makeApf(int pages) {
    ApfWriter w;
    ASSERT_EQ(w.create(fax.FaxFile), ecOK);
    std::vector<std::uint8_t> line(216, 0);
    for (int p = 0; p < pages; ++p) {
      ASSERT_EQ(w.beginPage(false, false), ecOK);
      for (int y = 0; y < 400; ++y) {
        line[std::size_t(y % 216)] = 0xF0;
        ASSERT_EQ(w.writeLine(line.data()), ecOK);
      }
      ASSERT_EQ(w.endPage(), ecOK);
    }
    ASSERT_EQ(w.finish("SENDER"), ecOK);
  }
  Outcome send(const std::string &script) {
    return rig.run(script, fax, [&] { fax.BeginTransmit(); });
  }

  QApplication &app = GuiApp();  // before the window
  SessionRig rig;
  kv::test::TempDir tmp{"kvstatus"};
  std::string dir = tmp.path();
  TKvFaxStatus status;
  TKvSendFax fax;
  std::vector<Seen> seen;
  std::function<void(TKvAbstractFax &)> onStatus;
};

TEST_F(StatusWindow, FollowsATwoPageFaxAndHidesAtTheEnd) {
  makeApf(2);
  bool shot = false;
  onStatus = [&](TKvAbstractFax &f) {
    const int at = status.Display()->Meter->Position();
    if (!shot && f.PageNumber() == 2 && at > 20 && at < 80) {
      shot = true;
      Snapshot(*status.Display(), "fax_status_sending");
    }
  };
  Outcome o = send(kSendInit + negotiation() + pageAndEnd(false) + pageAndEnd(true));
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, ecOK);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_TRUE(seen.front().visible);
  EXPECT_FALSE(status.Visible());
  EXPECT_EQ(status.Fax(), nullptr);
  bool page1 = false, page2 = false, remote = false, meter = false, clock = false;
  for (const Seen &s : seen) {
    page1 |= s.page == "1";
    page2 |= s.page == "2";
    remote |= s.remote.trimmed() == "FAR END";
    meter |= s.meter > 0;
    clock |= s.progress >= fpSendPage && s.progress <= fpPageOk && s.elapsed != "00:00";
  }
  EXPECT_TRUE(page1 && page2);
  EXPECT_TRUE(remote);
  EXPECT_TRUE(meter);
  EXPECT_TRUE(clock) << "the elapsed time runs from the session parameters on";
  auto &d = *status.Display();
  EXPECT_EQ(d.fsPhoneNumber->text(), "5551234");
  EXPECT_EQ(d.fsFaxFileName->text(), "a_fax_file_with_a_lo...");
  EXPECT_EQ(d.fsTotalPages->text(), "2");
  EXPECT_EQ(d.fsConnectBPS->text(), "9600");
  EXPECT_FALSE(d.ElapsedRunning() || d.RedialRunning());
}

TEST_F(StatusWindow, BusyLineCountsDownToTheRedial) {
  makeApf(1);
  fax.DialAttempts = 2;
  fax.SetDialRetryWait(2);
  onStatus = [this](TKvAbstractFax &f) {
    if (f.ProgressCode() == fpBusyWait) Snapshot(*status.Display(), "fax_status_busy");
  };
  Outcome o = send(kSendInit + "> ATDT5551234\n< BUSY\n> ATDT5551234\n< BUSY\n");
  ASSERT_TRUE(o.finished);
  const QString busy = QString::fromStdString(progressText(fpBusyWait));
  bool counted = false;
  for (const Seen &s : seen)
    if (s.progress == fpBusyWait)
      counted |= s.status == busy + "  0:02" || s.status == busy + "  0:01";
  EXPECT_TRUE(counted);
}

// The window's Cancel button and the Escape key both end the call, as the user gives them
// between status events.
TEST_F(StatusWindow, CancelAndEscapeEndTheCall) {
  makeApf(1);
  for (bool escape : {false, true}) {
    seen.clear();
    bool given = false;
    onStatus = [&](TKvAbstractFax &f) {
      if (f.ProgressCode() != fpDialing || given) return;
      given = true;
      MainThread::instance().post([&] {
        auto *d = status.Display();
        if (escape) {
          QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
          QApplication::sendEvent(d, &key);
        } else {
          d->fsCancel->click();
        }
      });
    };
    Outcome o = send(kSendInit + "> ATDT5551234\nwait 300\n>~ .*ATH0\n< OK\n");
    ASSERT_TRUE(o.finished) << escape;
    EXPECT_EQ(o.code, ecCancelRequested) << escape;
    EXPECT_FALSE(status.Visible());
  }
}

TEST(StatusReceiver, NoBarAndNoCaller) {
  GuiApp();
  TKvFaxStatus status;
  TKvReceiveFax rx;
  rx.FaxFile = "/var/fax/FAX0001.APF";
  status.UpdateDisplay(rx, true, false);
  auto &d = *status.Display();
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(d.fsLabel19->text(), "Page progress: N/A");
  EXPECT_TRUE(d.Meter->isHidden());
  EXPECT_EQ(d.fsDialAttempt->text(), "1");
  EXPECT_EQ(d.fsPhoneNumber->text(), "");
  EXPECT_EQ(d.fsFaxFileName->text(), "FAX0001.APF");
  EXPECT_EQ(d.fsCurrentPage->text(), "<cover page>");
  status.UpdateDisplay(rx, false, true);
  EXPECT_FALSE(d.isVisible());
}

}  // namespace
}  // namespace kv
