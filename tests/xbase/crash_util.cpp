// A writer killed with SIGKILL at random points: every posted row survives, the table opens,
// and the index either matches or is reported and rebuilt.
#include <signal.h>
#include <sys/wait.h>

#include <map>
#include <random>
#include <sstream>

#include "test_util.h"

using namespace kv::xbase;

namespace kvtest {

// Runs `rounds` kill cycles on one table; each cycle forks a writer that appends and edits
// and reports every posted row through a pipe before it is killed after a random delay.
void KillWriterRounds(int rounds, int seed) {
  TempDir dir;
  ASSERT_TRUE(Table::Create(dir / "KRV.DBF", FaxFields()));
  {
    std::unique_ptr<Table> t;
    ASSERT_TRUE(Table::Open(dir / "KRV.DBF", {}, &t));
    ASSERT_TRUE(t->IndexTag("DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true));
  }
  std::mt19937 rng{uint32_t(seed)};
  std::map<uint32_t, std::string> posted;  // recno -> subject the writer confirmed
  for (int round = 0; round < rounds; ++round) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      std::unique_ptr<Table> t;
      if (!Table::Open(dir / "KRV.DBF", {}, &t)) _exit(3);
      for (int i = 0;; ++i) {
        std::string subject = "r" + std::to_string(round) + "-" + std::to_string(i);
        Record r = t->BlankRecord();
        uint32_t recno = 0;
        if (i % 4 == 3 && t->RecCount() > 0) {
          recno = 1 + uint32_t(i * 7919) % t->RecCount();
          if (!t->ReadRecord(recno, &r)) _exit(4);
          r.PutString(0, subject);
          r.PutDate(2, {2024, 1 + i % 12, 1 + i % 28});
          r.PutMemo(9, subject + std::string(size_t(i % 200), '.'));
          if (!t->Update(recno, r)) _exit(5);
        } else {
          r.PutString(0, subject);
          r.PutMemo(8, subject);
          if (!t->Append(r, &recno)) _exit(6);
        }
        std::string line = std::to_string(recno) + " " + subject + "\n";
        if (write(fds[1], line.data(), line.size()) != ssize_t(line.size())) _exit(7);
      }
    }
    close(fds[1]);
    usleep(useconds_t(2000 + rng() % 40000));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    std::string reported;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) reported.append(buf, size_t(n));
    close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "writer ended by itself, status " << status;
    std::istringstream in(reported);
    uint32_t recno;
    std::string subject;
    int lastSeq = -1;
    while (in >> recno >> subject) {
      posted[recno] = subject;
      lastSeq = std::stoi(subject.substr(subject.find('-') + 1));
    }
    // The one operation under way at the kill may or may not have landed; anything else
    // must read exactly as confirmed.
    auto inFlight = [&](const std::string &s) {
      std::string prefix = "r" + std::to_string(round) + "-";
      return s.rfind(prefix, 0) == 0 && std::stoi(s.substr(prefix.size())) == lastSeq + 1;
    };

    std::unique_ptr<Table> t;
    Status st = Table::Open(dir / "KRV.DBF", {}, &t);
    ASSERT_TRUE(st) << st.message;
    for (auto &[rec, subj] : posted) {
      Record r;
      ASSERT_TRUE(t->ReadRecord(rec, &r)) << "posted row " << rec << " lost in round " << round;
      std::string now = r.GetString(0);
      ASSERT_TRUE(now == subj || inFlight(now))
          << "row " << rec << " reads \"" << now << "\", confirmed \"" << subj << "\"";
      std::string memo;
      ASSERT_TRUE(t->ReadMemo(r, 8, &memo));
      if (!r.IsBlank(9) || r.MemoBlock(9)) {
        ASSERT_TRUE(t->ReadMemo(r, 9, &memo));
        ASSERT_EQ(memo.substr(0, now.size()), now) << "document memo of row " << rec;
      }
      posted[rec] = now;
    }
    if (t->IndexDamaged()) {
      ASSERT_TRUE(t->Reindex());
    }
    IndexReport rep = t->CheckIndexes();
    ASSERT_TRUE(rep.ok) << (rep.problems.empty() ? "" : rep.problems[0]);
  }
}

}  // namespace kvtest
