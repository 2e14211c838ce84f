// Serial allocation across processes and crashes: flock and fork (Linux).
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

#include "ProductionLog.h"
#include "SerialCounter.h"
#include "TestDirectory.h"

using qrt::test::CTempDir;

using namespace qrt::production;
using namespace std::chrono_literals;

using qrt::test::ReadWholeFile;

TEST(SerialCounter, WaitsForTheLockThenRefuses) {
  CTempDir dir;
  std::string szPath = dir.Write("c", "000000000100\n");
  int fd = open(szPath.c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);  // another station mid-allocation
  CSerialCounter counter(szPath, 0ms);  // no real wait: refused at the first try
  uint64_t q = 0;
  std::string szError;
  EXPECT_EQ(counter.Allocate(q, szError), ESerialResult::kLocked);
  flock(fd, LOCK_UN);
  close(fd);
  ASSERT_EQ(counter.Allocate(q, szError), ESerialResult::kOk);
  EXPECT_EQ(q, 0x100u);
  EXPECT_EQ(ReadWholeFile(szPath), "000000000101\n");
}

// A counter the line's stations share through their group (0664) stays so
// when a serial is taken; the rename must not fall back to 0644.
TEST(SerialCounter, AdvancingKeepsTheFileMode) {
  CTempDir dir;
  const std::string szCounter = dir.Write("c", "000000000100\n");
  for (const mode_t mode : {0664, 0600}) {
    ASSERT_EQ(chmod(szCounter.c_str(), mode), 0);
    CSerialCounter counter(szCounter, 0ms);
    uint64_t q = 0;
    std::string szError;
    ASSERT_EQ(counter.Allocate(q, szError), ESerialResult::kOk) << szError;
    struct stat st {};
    ASSERT_EQ(stat(szCounter.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
  }
}

// Two stations on one counter, or two processes on one station's lease file
// (two runs under the same station name): every serial handed out once, none
// skipped.
TEST(SerialCounter, TwoProcessesNeverShareASerial) {
  for (const bool bLease : {false, true}) {
    SCOPED_TRACE(bLease ? "lease" : "counter");
    CTempDir dir;
    std::string szCounter = dir.Write("c", "000000000100\n");
    constexpr int kEach = 40;
    pid_t pids[2];
    for (int i = 0; i < 2; ++i) {
      pids[i] = fork();
      ASSERT_GE(pids[i], 0);
      if (pids[i] == 0) {
        CSerialCounter counter(szCounter, 10s);
        CSerialLease lease(counter, dir.File("lease"), 4);
        ISerialSource& source = bLease ? static_cast<ISerialSource&>(lease) : counter;
        std::ofstream out(dir.File("got" + std::to_string(i)));
        for (int n = 0; n < kEach; ++n) {
          uint64_t q = 0;
          std::string szError;
          if (source.Allocate(q, szError) != ESerialResult::kOk) _exit(2);
          out << q << '\n' << std::flush;
        }
        _exit(0);
      }
    }
    for (pid_t pid : pids) {
      int nStatus = 0;
      waitpid(pid, &nStatus, 0);
      ASSERT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
    }
    std::set<uint64_t> seen;
    for (int i = 0; i < 2; ++i) {
      std::ifstream in(dir.File("got" + std::to_string(i)));
      for (uint64_t q; in >> q;) EXPECT_TRUE(seen.insert(q).second) << "serial " << q << " twice";
    }
    ASSERT_EQ(seen.size(), 2u * kEach);
    EXPECT_EQ(*seen.begin(), 0x100u);
    if (bLease) continue;  // a lease takes whole blocks: the counter is past its last block
    EXPECT_EQ(*seen.rbegin(), 0x100u + 2 * kEach - 1);
    EXPECT_EQ(ReadWholeFile(szCounter), FormatSerial(0x100 + 2 * kEach) + "\n");
  }
}

// A station's lease file that is a FIFO or a link is refused at once, not
// waited on (a FIFO's open blocks until a writer comes) nor written through;
// the counter is not touched. The child's alarm ends a wait that would hang.
TEST(SerialCounter, LeaseThatIsNoRegularFileIsRefused) {
  for (const bool bFifo : {false, true}) {
    SCOPED_TRACE(bFifo ? "FIFO" : "link");
    CTempDir dir;
    const std::string szCounter = dir.Write("c", "000000000100\n");
    const std::string szLease = dir.File("lease");
    if (bFifo) {
      ASSERT_EQ(mkfifo(szLease.c_str(), 0600), 0);
    } else {
      const std::string szTarget = dir.Write("target", "000000000106 000000000107\n");
      ASSERT_EQ(symlink(szTarget.c_str(), szLease.c_str()), 0);
    }
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      alarm(20);
      CSerialCounter counter(szCounter, 0ms);
      CSerialLease lease(counter, szLease, 4);
      uint64_t q = 0;
      std::string szError;
      if (lease.Allocate(q, szError) == ESerialResult::kOk) _exit(1);
      _exit(szError.find(bFifo ? "not a regular file" : "is a link") == std::string::npos ? 2 : 0);
    }
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    ASSERT_TRUE(WIFEXITED(nStatus)) << "the lease was waited on";
    EXPECT_EQ(WEXITSTATUS(nStatus), 0) << "1: a serial from a lease that is no regular file, "
                                          "2: the refusal does not say what stands there";
    EXPECT_EQ(ReadWholeFile(szCounter), "000000000100\n");
  }
}

// A station killed after taking a serial but before writing the board: the
// serial stays used.
TEST(SerialCounter, CrashAfterAllocationDoesNotReuseTheSerial) {
  CTempDir dir;
  std::string szCounter = dir.Write("c", "0000000001ff\n");
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    CSerialCounter counter(szCounter, 10s);
    uint64_t q = 0;
    std::string szError;
    if (counter.Allocate(q, szError) == ESerialResult::kOk) {
      ssize_t n = write(fds[1], &q, sizeof(q));
      (void)n;
    }
    raise(SIGKILL);
  }
  close(fds[1]);
  uint64_t qChild = 0;
  ASSERT_EQ(read(fds[0], &qChild, sizeof(qChild)), static_cast<ssize_t>(sizeof(qChild)));
  close(fds[0]);
  int nStatus = 0;
  waitpid(pid, &nStatus, 0);
  ASSERT_TRUE(WIFSIGNALED(nStatus));
  EXPECT_EQ(qChild, 0x1FFu);
  CSerialCounter counter(szCounter, 1s);
  uint64_t q = 0;
  std::string szError;
  ASSERT_EQ(counter.Allocate(q, szError), ESerialResult::kOk);
  EXPECT_EQ(q, 0x200u);
}

// A disk that takes no more bytes (a file-size limit in a child stands in
// for a full disk): the allocation is refused, no serial handed out, and the
// counter keeps its value for the next run.
TEST(SerialCounter, FullDiskRefusesAndKeepsTheCounter) {
  CTempDir dir;
  std::string szCounter = dir.Write("c", "000000000100\n");
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4, 4};
    setrlimit(RLIMIT_FSIZE, &limit);
    CSerialCounter counter(szCounter, 1s);
    uint64_t q = 0;
    std::string szError;
    const ESerialResult e = counter.Allocate(q, szError);
    _exit(e == ESerialResult::kOk ? 1 : szError.empty() ? 2 : 0);
  }
  int nStatus = 0;
  waitpid(pid, &nStatus, 0);
  ASSERT_TRUE(WIFEXITED(nStatus));
  EXPECT_EQ(WEXITSTATUS(nStatus), 0) << "1: a serial handed out without a synced counter";
  EXPECT_EQ(ReadWholeFile(szCounter), "000000000100\n");
}

// The log removed while the run goes on: the next line is refused (the run
// stops and names the board) instead of going into a file nobody can open.
TEST(ProductionLog, RefusesLinesOnceTheLogIsRemoved) {
  CTempDir dir;
  CProductionLog log;
  std::string szError;
  ASSERT_TRUE(log.Open(dir.File("p.jsonl"), szError)) << szError;
  ASSERT_TRUE(log.AppendStart(std::string(64, '0'), szError)) << szError;
  ASSERT_EQ(unlink(dir.File("p.jsonl").c_str()), 0);
  EXPECT_FALSE(log.Append(PRODUCTION_RECORD{}, szError));
  EXPECT_NE(szError.find("removed"), std::string::npos) << szError;
}
