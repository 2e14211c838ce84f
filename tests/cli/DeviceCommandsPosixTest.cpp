// qrt4250-cli on Linux as a hostile neighbour meets it: output names that
// are another user's links in a shared folder or FIFOs, and a production log
// that takes no more lines. (A board's lock held by another program is met
// on the virtual board, tests/vm.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "TestDirectory.h"
#include "CliRun.h"
#include "ImageFiles.h"
#include "ProductionLog.h"
#include "RomDataMgr.h"
#include "TestEnvironment.h"

using qrt::test::CTempDir;

using qrt::test::CRun;
using qrt::test::ReadWholeFile;
using qrt::test::RunCliWith;

namespace {

// RunCliWith in a child whose files may grow to nLimit bytes at most, as on
// a disk that is full at that size. SIGXFSZ is ignored: a write that would
// pass the limit fails with EFBIG instead.
CRun RunCliWithFileSizeLimit(const std::vector<std::string>& args, rlim_t nLimit) {
  int fds[2];
  if (::pipe(fds) != 0) return {-1, "", "no pipe"};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{nLimit, nLimit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const CRun r = RunCliWith(args);
    const std::string szBoth = r.out + '\0' + r.err;
    const bool bSent = ::write(fds[1], szBoth.data(), szBoth.size()) ==
                       static_cast<ssize_t>(szBoth.size());
    ::_exit(bSent ? r.nExit : 99);
  }
  ::close(fds[1]);
  std::string szBoth;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) szBoth.append(buffer, n);
  ::close(fds[0]);
  int nStatus = 0;
  if (pid < 0 || ::waitpid(pid, &nStatus, 0) != pid || !WIFEXITED(nStatus)) return {-1, "", ""};
  const size_t nZero = szBoth.find('\0');
  return {WEXITSTATUS(nStatus), szBoth.substr(0, nZero),
          nZero == std::string::npos ? std::string() : szBoth.substr(nZero + 1)};
}

// A valid image to convert, set and write; backups of the writes go to the
// folder, not to the user's.
std::string WriteDefaultImage(const CTempDir& dir) {
  qrt::test::SetEnvironment(qrt::test::kUserStateVariable, dir.File("state"));
  const std::string szPath = dir.File("in.bin");
  qrt::image::WriteBinFile(szPath, qrt::image::g_btDefaultImage, qrt::image::kHeaderSize, {},
                           nullptr);
  return szPath;
}

}  // namespace

// Every output name given to the commands, as another user may have planted
// it in /tmp: a link to a file of ours is followed only when it is ours (or
// the folder's owner's), as the kernel does with fs.protected_symlinks. A
// private sticky folder stands in for /tmp; the link's other owner needs
// root.
TEST(DeviceCommandsPosix, OutputsThroughAnotherUsersLinkInASharedFolderAreRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "a link of another user needs root";
  CTempDir dir;
  const std::string szIn = WriteDefaultImage(dir);
  ASSERT_EQ(::mkdir(dir.File("shared").c_str(), 01777), 0);
  ASSERT_EQ(::chmod(dir.File("shared").c_str(), 01777), 0);
  const std::string szVictim = dir.Write("rc", "keep");
  for (const char* pszName : {"shared/out.bin", "shared/out.hex", "shared/log.txt"}) {
    ASSERT_EQ(::symlink(szVictim.c_str(), dir.File(pszName).c_str()), 0);
    ASSERT_EQ(::lchown(dir.File(pszName).c_str(), 4242, 4242), 0);
  }
  ASSERT_EQ(::symlink(dir.Write("mine.bin", "old").c_str(), dir.File("shared/mine.bin").c_str()),
            0);
  const std::string szBin = dir.File("shared/out.bin"), szHex = dir.File("shared/out.hex");
  const struct {
    std::vector<std::string> args;
    int nExit;
  } cases[] = {
      {{"convert", szIn, szBin}, 1},
      {{"set", szIn, szHex, "playVolume=1"}, 1},
      {{"read", "--simulate", "--eeprom", "24C02", "-o", szBin}, 1},
      {{"list", "--simulate", "--sim-save", szHex}, 1},
      {{"list", "--simulate", "--sim-log", dir.File("shared/log.txt")}, 0},  // a warning
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    const CRun r = RunCliWith(c.args);
    EXPECT_EQ(r.nExit, c.nExit) << r.err;
    EXPECT_NE(r.err.find(" is a link of another user in the shared folder "), std::string::npos)
        << r.err;
    EXPECT_EQ(ReadWholeFile(szVictim), "keep");
  }
  // A link of our own there is followed as before.
  EXPECT_EQ(RunCliWith({"convert", szIn, dir.File("shared/mine.bin")}).nExit, 0);
  EXPECT_EQ(ReadWholeFile(dir.File("mine.bin")).size(), qrt::image::kHeaderSize);
}

// A FIFO under any output name is refused at once: nothing waits for a
// reader, nothing goes into it, and it stays a FIFO. The test keeps a reader
// open, so a program that wrote to it would not hang but be seen.
TEST(DeviceCommandsPosix, NoOutputIsWrittenIntoAFifo) {
  CTempDir dir;
  const std::string szIn = WriteDefaultImage(dir);
  const std::string szFifo = dir.File("fifo.bin");
  ASSERT_EQ(::mkfifo(szFifo.c_str(), 0600), 0);
  const int fdReader = ::open(szFifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fdReader, 0);
  const std::string szLog = dir.File("p.jsonl");
  const struct {
    std::vector<std::string> args;
    int nExit;
  } cases[] = {
      {{"convert", szIn, szFifo}, 1},
      {{"read", "--simulate", "--eeprom", "24C02", "-o", szFifo}, 1},
      {{"list", "--simulate", "--sim-save", szFifo}, 1},
      {{"list", "--simulate", "--sim-log", szFifo}, 0},  // a warning
      {{"write", szIn, "--simulate", "--backup", szFifo}, 1},
      {{"program", "--image", szIn, "--log", szFifo, "--simulate"}, 1},
      {{"program", "--image", szIn, "--log", szLog, "--serial-file", szFifo, "--simulate"}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[c.args.size() - 2]);
    const CRun r = RunCliWith(c.args);
    EXPECT_EQ(r.nExit, c.nExit) << r.err;
    EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
    struct stat st {};
    EXPECT_TRUE(::lstat(szFifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    char c1 = 0;
    EXPECT_LE(::read(fdReader, &c1, 1), 0) << "bytes went into the FIFO";
  }
  ::close(fdReader);
}

// The production log must take a line before any board is touched: a
// device (/dev/full) or a full disk stops the run there, with the counter
// as it was. When it fills later, the run stops after the board whose line
// is missing and says which one; the next board is not touched.
TEST(DeviceCommandsPosix, ProgramStopsWhereTheLogTakesNoLine) {
  CTempDir dir;
  const std::string szIn = WriteDefaultImage(dir);
  const std::string szEarlier = std::string(1500, ' ') + "{}\n";  // an earlier run's lines
  // The start line's length does not vary: a UTC time and a SHA-256.
  const size_t nStart =
      qrt::production::ProductionStartLine(qrt::production::UtcTimeText(), std::string(64, '0'))
          .size() + 1;
  const struct {
    const char* pszLog;  // nullptr: the file p.jsonl
    rlim_t nLimit;       // 0: none
    bool bFirstBoard;    // board 1 programmed, then the stop
  } cases[] = {
      {"/dev/full", 0, false},
      {nullptr, szEarlier.size() + 10, false},
      {nullptr, szEarlier.size() + nStart + 10, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.nLimit);
    const std::string szLog = c.pszLog ? c.pszLog : dir.Write("p.jsonl", szEarlier);
    dir.Write("c", "000000000100\n");
    std::filesystem::remove(dir.File("s.bin"));
    std::filesystem::remove(dir.File("s.2.bin"));
    const std::vector<std::string> args = {
        "program", "--image",    szIn, "--serial-file", dir.File("c"), "--log",       szLog,
        "--all",   "--simulate", "--sim-boards",  "2",           "--sim-save", dir.File("s.bin")};
    const CRun r = c.nLimit ? RunCliWithFileSizeLimit(args, c.nLimit) : RunCliWith(args);
    EXPECT_EQ(r.nExit, 1) << r.err;
    EXPECT_EQ(ReadWholeFile(dir.File("s.2.bin")),
              c.bFirstBoard ? std::string(reinterpret_cast<const char*>(qrt::image::g_btDefaultImage),
                                          qrt::image::kHeaderSize)
                            : "")
        << "board 2 was touched";
    if (!c.bFirstBoard) {
      EXPECT_NE(r.err.find("; no board was touched"), std::string::npos) << r.err;
      EXPECT_EQ(ReadWholeFile(dir.File("c")), "000000000100\n");
      EXPECT_FALSE(std::filesystem::exists(dir.File("s.bin")));
      continue;
    }
    EXPECT_NE(r.err.find("; the log has no line for board sim:1 (serial 000000000100), pass; the "
                         "run stops"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("1 passed, 0 failed, 1 serial(s) used (000000000100)"), std::string::npos)
        << r.out;
    EXPECT_EQ(ReadWholeFile(dir.File("c")), "000000000101\n");
    const std::string szLogText = ReadWholeFile(szLog);
    // Only the start line was added: no piece of board 1's line is left.
    ASSERT_EQ(szLogText.size(), szEarlier.size() + nStart);
    EXPECT_EQ(nlohmann::json::parse(szLogText.substr(szEarlier.size()))["event"], "start");
  }
}
