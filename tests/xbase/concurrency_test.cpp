// Several processes on one folder: creating a table that others create at the same moment,
// waiting for a table another process holds, and a table replaced while one waited for it.
#include <sys/wait.h>

#include <functional>
#include <map>
#include <sstream>

#include "test_util.h"

using namespace kv::xbase;

namespace {

// Started children wait at a gate until all of them are forked, then run together.
class Gate {
 public:
  Gate() { EXPECT_EQ(pipe(fds_), 0); }
  ~Gate() { close(fds_[0]); }
  void wait() {  // in a child
    close(fds_[1]);
    char c;
    while (read(fds_[0], &c, 1) > 0) {
    }
  }
  void open() { close(fds_[1]); }  // in the parent, once every child is forked

 private:
  int fds_[2];
};

// A child's report to the parent, line by line.
class Report {
 public:
  Report() { EXPECT_EQ(pipe(fds_), 0); }
  ~Report() { close(fds_[0]); }
  void say(const std::string &line) {  // in a child
    std::string l = line + "\n";
    if (write(fds_[1], l.data(), l.size()) != ssize_t(l.size())) _exit(9);
  }
  // In the parent, after the children are forked: everything they said until they ended.
  std::string readAll() {
    close(fds_[1]);
    std::string all;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds_[0], buf, sizeof buf)) > 0) all.append(buf, size_t(n));
    return all;
  }
  // Waits for one line (a child saying it got so far).
  std::string readLine() {
    std::string line;
    char c;
    while (read(fds_[0], &c, 1) == 1 && c != '\n') line += c;
    return line;
  }

 private:
  int fds_[2];
};

int Forked(const std::function<int()> &body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

int ExitCode(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

Settings Waiting(int seconds) {
  Settings s;
  s.durable = false;
  s.lockTimeout = seconds;
  return s;
}

}  // namespace

// What every program does on its first start: create the table when there is none, open it,
// append. Four at once on a folder without tables, many times over: every row any of them was
// told is written is in the one table afterwards, memo and all.
TEST(ConcurrentPrograms, CreatorsStartingTogetherLoseNoRow) {
  for (int trial = 0; trial < 15; ++trial) {
    kvtest::TempDir dir;
    const std::string path = dir / "KRV.DBF";
    Gate gate;
    Report report;
    std::vector<pid_t> children;
    for (int p = 0; p < 4; ++p)
      children.push_back(Forked([&, p] {
        gate.wait();
        if (!std::filesystem::exists(path)) Table::Create(path, kvtest::FaxFields());
        std::unique_ptr<Table> t;
        Status st;
        for (int k = 0; k < 500; ++k) {  // a program that is told "in use" tries again
          if ((st = Table::Open(path, Waiting(1), &t)).code != kv::ecAccessDenied) break;
          usleep(10000);
        }
        if (!st) {
          report.say("! " + st.message);
          return 1;
        }
        for (int i = 0; i < 3; ++i) {
          const std::string name = "p" + std::to_string(p) + "-" + std::to_string(i);
          Record r = t->BlankRecord();
          r.PutString(0, name);
          r.PutMemo(8, "cover of " + name);
          uint32_t recno = 0;
          if (!t->Append(r, &recno)) return 2;
          report.say(std::to_string(recno) + " " + name);
        }
        return t->Close() ? 0 : 3;
      }));
    gate.open();
    const std::string said = report.readAll();
    for (pid_t c : children) EXPECT_EQ(ExitCode(c), 0) << said;
    std::unique_ptr<Table> t;
    ASSERT_TRUE(Table::Open(path, Waiting(1), &t));
    EXPECT_EQ(t->RecCount(), 12u) << said;
    std::istringstream lines(said);
    uint32_t recno;
    std::string name;
    while (lines >> recno >> name) {
      Record r;
      ASSERT_TRUE(t->ReadRecord(recno, &r)) << "trial " << trial << ": row " << name;
      EXPECT_EQ(r.GetString(0), name) << "trial " << trial << ", row " << recno;
      std::string memo;
      EXPECT_TRUE(t->ReadMemo(r, 8, &memo));
      EXPECT_EQ(memo, "cover of " + r.GetString(0)) << "trial " << trial;
    }
    if (HasFailure()) break;
  }
}

// A table another process holds for a moment is waited for, up to the lock timeout; one held
// beyond it is refused, saying so.
TEST(ConcurrentPrograms, AnOpenWaitsForTheTableItsHolderIsAboutToClose) {
  kvtest::TempDir dir;
  const std::string path = dir / "KRV.DBF";
  ASSERT_TRUE(Table::Create(path, kvtest::FaxFields()));
  Report report;
  Gate release;
  pid_t holder = Forked([&] {
    std::unique_ptr<Table> t;
    if (!Table::Open(path, Waiting(1), &t)) return 1;
    report.say("holding");
    release.wait();
    usleep(200000);
    return 0;
  });
  ASSERT_EQ(report.readLine(), "holding");
  std::unique_ptr<Table> t;
  Status refused = Table::Open(path, Waiting(0), &t);
  EXPECT_EQ(refused.code, kv::ecAccessDenied);
  EXPECT_NE(refused.message.find("in use by another program"), std::string::npos);
  release.open();
  Status st = Table::Open(path, Waiting(30), &t);
  EXPECT_TRUE(st) << st.message;
  EXPECT_EQ(ExitCode(holder), 0);
}

// The holder packs the table (new files renamed over the old ones) while another process
// waits for it: the waiting one works on the packed table, not on the file that had the name
// when it started waiting.
TEST(ConcurrentPrograms, AWaiterGetsTheTableItsHolderReplaced) {
  kvtest::TempDir dir;
  const std::string path = dir / "KRV.DBF";
  ASSERT_TRUE(Table::Create(path, kvtest::FaxFields()));
  {
    std::unique_ptr<Table> t;
    ASSERT_TRUE(Table::Open(path, Waiting(1), &t));
    for (const char *s : {"kept", "deleted"}) {
      Record r = t->BlankRecord();
      r.PutString(0, s);
      ASSERT_TRUE(t->Append(r, nullptr));
    }
    ASSERT_TRUE(t->SetDeleted(2, true));
  }
  Report report;
  Gate pack;
  pid_t holder = Forked([&] {
    std::unique_ptr<Table> t;
    if (!Table::Open(path, Waiting(1), &t)) return 1;
    report.say("holding");
    pack.wait();
    usleep(100000);  // the other process is waiting for the lock by now
    return t->Pack() ? 0 : 2;
  });
  ASSERT_EQ(report.readLine(), "holding");
  pack.open();
  std::unique_ptr<Table> t;
  Status st = Table::Open(path, Waiting(30), &t);
  ASSERT_TRUE(st) << st.message;
  EXPECT_EQ(ExitCode(holder), 0);
  Record r = t->BlankRecord();
  r.PutString(0, "added while waiting");
  ASSERT_TRUE(t->Append(r, nullptr));
  t.reset();
  ASSERT_TRUE(Table::Open(path, Waiting(1), &t));
  ASSERT_EQ(t->RecCount(), 2u);
  ASSERT_TRUE(t->ReadRecord(2, &r));
  EXPECT_EQ(r.GetString(0), "added while waiting");
}

// Creating never writes over a file: a table that exists is reported and left as it is, and a
// memo file whose table is gone is moved aside with its texts, not emptied. Nothing of the
// creation is left beside the table.
TEST(TableFiles, CreatingKeepsEveryFileThatIsThere) {
  kvtest::TempDir dir;
  const std::string path = dir / "KRV.DBF";
  ASSERT_TRUE(Table::Create(path, kvtest::FaxFields()));
  const std::string table = kv::test::readFile(path);
  Status again = Table::Create(path, kvtest::FaxFields());
  EXPECT_EQ(again.code, kv::ecFileExists);
  EXPECT_NE(again.message.find("exists already"), std::string::npos) << again.message;
  EXPECT_EQ(kv::test::readFile(path), table);

  const std::string memos = "memo file of a table deleted by hand" + std::string(600, 'm');
  std::filesystem::remove(path);
  kv::test::writeFile(dir / "KRV.FPT", memos);
  // Work files of a creator killed outright go; those of one still at work stay.
  const pid_t dead = Forked([] { return 0; });
  ExitCode(dead);
  const std::string killed = "KRV.FPT." + std::to_string(dead) + "-0~";
  const std::string working = "KRV.DBF." + std::to_string(getpid()) + "-999~";
  kv::test::writeFile(dir / killed, "half a memo file");
  kv::test::writeFile(dir / working, "half a table");
  ASSERT_TRUE(Table::Create(path, kvtest::FaxFields()));
  EXPECT_EQ(kv::test::readFile(dir / "KRV.FPT.orphan"), memos);
  std::unique_ptr<Table> t;
  ASSERT_TRUE(Table::Open(path, Waiting(1), &t));
  Record r = t->BlankRecord();
  r.PutMemo(8, "new");
  EXPECT_TRUE(t->Append(r, nullptr));
  t.reset();
  // Nothing else is left beside the table: no work files of the creation.
  EXPECT_TRUE(std::filesystem::remove(dir / working));  // it was still there
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"KRV.DBF", "KRV.FPT", "KRV.FPT.orphan"}));
}
