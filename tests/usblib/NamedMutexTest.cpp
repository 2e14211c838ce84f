// The named device lock across threads and processes. Steps between the
// processes are ordered with pipes; nothing here waits on the clock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "NamedMutex.h"
#include "PrivateMounts.h"
#include "TestDirectory.h"

using qrt::test::CTempDir;

using namespace USB42XX_MGR;

namespace {

constexpr const char* kHidMutexName = "Global\\QRT_HidMutex_{7D2A9E41-3C5B-4A86-9F10-6E4B2C8D1A57}";

// Two pipes between a parent and one forked child. Each side closes the ends
// it does not use, so a child that dies early gives the parent end-of-file
// (a failed test) instead of a hang.
class CChannel {
 public:
  CChannel() {
    if (::pipe(m_toChild) != 0 || ::pipe(m_toParent) != 0) std::abort();
  }
  ~CChannel() {
    for (int fd : {m_toChild[0], m_toChild[1], m_toParent[0], m_toParent[1]}) {
      if (fd >= 0) ::close(fd);
    }
  }

  // Forks; the child runs fnChild and exits with its result.
  pid_t Fork(const std::function<int(CChannel&)>& fnChild) {
    pid_t pid = ::fork();
    if (pid == 0) {
      CloseEnd(m_toChild[1]);
      CloseEnd(m_toParent[0]);
      ::_exit(fnChild(*this));
    }
    CloseEnd(m_toChild[0]);
    CloseEnd(m_toParent[1]);
    return pid;
  }

  void ToChild(char c) { Put(m_toChild[1], c); }
  void ToParent(char c) { Put(m_toParent[1], c); }
  char FromChild() { return Get(m_toParent[0]); }
  char FromParent() { return Get(m_toChild[0]); }

 private:
  static void CloseEnd(int& fd) {
    ::close(fd);
    fd = -1;
  }
  static void Put(int fd, char c) {
    if (::write(fd, &c, 1) != 1) std::abort();
  }
  static char Get(int fd) {
    char c = 0;
    return ::read(fd, &c, 1) == 1 ? c : '\0';
  }

  int m_toChild[2] = {-1, -1};
  int m_toParent[2] = {-1, -1};
};

// Exit code of a child, or 128 + signal number.
int WaitChild(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Whether a fresh process can take the lock right now.
bool OtherProcessCanTake(const std::string& dir) {
  CChannel channel;
  pid_t pid = channel.Fork([&](CChannel&) {
    auto mtx = CNamedMutex::Create(kHidMutexName, dir);
    if (!mtx) return 2;
    return mtx->TryAcquire() ? 0 : 1;
  });
  return WaitChild(pid) == 0;
}

// Whether another thread of this process can take the lock right now.
bool OtherThreadCanTake(const std::string& dir) {
  bool bTaken = false;
  std::thread([&] {
    auto mtx = CNamedMutex::Open(kHidMutexName, dir);
    bTaken = mtx && mtx->TryAcquire();
    if (bTaken) mtx->Release();
  }).join();
  return bTaken;
}

void Append(const std::string& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    std::abort();
  }
  ::close(fd);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A read-modify-write of a decimal counter in a file: updates get lost when
// two processes run it at once.
void IncrementCounter(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
  char buf[32] = {};
  ssize_t n = ::pread(fd, buf, sizeof(buf) - 1, 0);
  long value = n > 0 ? std::strtol(buf, nullptr, 10) : 0;
  std::string text = std::to_string(value + 1);
  if (::pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) std::abort();
  ::close(fd);
}

}  // namespace

TEST(NamedMutex, HeldLockHoldsOffAnotherProcessUntilReleased) {
  CTempDir dir;
  auto mtx = CNamedMutex::Create(kHidMutexName, dir.Path());
  ASSERT_TRUE(mtx);
  ASSERT_TRUE(mtx->Acquire());
  const std::string log = dir.File("log");

  CChannel channel;
  pid_t pid = channel.Fork([&](CChannel& ch) {
    // The child inherited the parent's handle; its own must still contend.
    auto own = CNamedMutex::Create(kHidMutexName, dir.Path());
    if (!own) return 10;
    if (own->TryAcquire()) return 11;
    if (mtx->Release()) return 12;  // the inherited handle owns nothing here
    ch.ToParent('W');
    if (!own->Acquire()) return 13;  // waits for the parent's release
    Append(log, "C+");
    own->Release();
    return 0;
  });
  ASSERT_EQ(channel.FromChild(), 'W');
  Append(log, "P-");
  EXPECT_TRUE(mtx->Release());
  EXPECT_EQ(WaitChild(pid), 0);
  EXPECT_EQ(ReadAll(log), "P-C+");
}

TEST(NamedMutex, TwoProcessesNeverOverlap) {
  CTempDir dir;
  const std::string log = dir.File("log");
  const std::string counter = dir.File("counter");
  constexpr int kRounds = 300;
  auto run = [&](char id) {
    auto mtx = CNamedMutex::Create(kHidMutexName, dir.Path());
    if (!mtx) return false;
    for (int i = 0; i < kRounds; ++i) {
      if (!mtx->Acquire()) return false;
      Append(log, std::string("+") + id);
      IncrementCounter(counter);
      Append(log, std::string("-") + id);
      if (!mtx->Release()) return false;
    }
    return true;
  };

  CChannel channel;
  pid_t pid = channel.Fork([&](CChannel& ch) {
    ch.ToParent('R');
    if (ch.FromParent() != 'G') return 20;
    return run('c') ? 0 : 21;
  });
  ASSERT_EQ(channel.FromChild(), 'R');
  channel.ToChild('G');
  EXPECT_TRUE(run('p'));
  ASSERT_EQ(WaitChild(pid), 0);

  EXPECT_EQ(ReadAll(counter), std::to_string(2 * kRounds));
  std::string text = ReadAll(log);
  ASSERT_EQ(text.size(), 4u * 2 * kRounds);
  for (size_t i = 0; i < text.size(); i += 4) {
    ASSERT_TRUE(text[i] == '+' && text[i + 2] == '-' && text[i + 1] == text[i + 3])
        << "overlap at " << i << ": " << text.substr(i, 8);
  }
}

TEST(NamedMutex, DeadOwnerReleasesTheLock) {
  for (bool bAbort : {false, true}) {
    CTempDir dir;
    auto mtx = CNamedMutex::Create(kHidMutexName, dir.Path());
    ASSERT_TRUE(mtx);
    CChannel channel;
    pid_t pid = channel.Fork([&](CChannel& ch) {
      auto own = CNamedMutex::Create(kHidMutexName, dir.Path());
      if (!own || !own->Acquire()) return 30;
      ch.ToParent('A');
      ch.FromParent();
      if (bAbort) {
        rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        std::abort();
      }
      ::_exit(0);  // no Release, no destructors
    });
    ASSERT_EQ(channel.FromChild(), 'A') << bAbort;
    EXPECT_FALSE(mtx->TryAcquire()) << bAbort;
    channel.ToChild('K');
    EXPECT_EQ(WaitChild(pid), bAbort ? 128 + SIGABRT : 0);
    EXPECT_TRUE(mtx->TryAcquire()) << bAbort;
    EXPECT_TRUE(mtx->Release());
  }
}

TEST(NamedMutex, ReentrantForTheOwningThread) {
  CTempDir dir;
  auto mtx = CNamedMutex::Create(kHidMutexName, dir.Path());
  ASSERT_TRUE(mtx);
  ASSERT_TRUE(mtx->Acquire());
  ASSERT_TRUE(mtx->Acquire());
  // A second handle of the name is the same lock for its owner.
  auto second = CNamedMutex::Open(kHidMutexName, dir.Path());
  ASSERT_TRUE(second);
  ASSERT_TRUE(second->TryAcquire());

  bool bForeignRelease = true;
  std::thread([&] { bForeignRelease = mtx->Release(); }).join();
  EXPECT_FALSE(bForeignRelease);

  for (int level = 3; level > 0; --level) {
    EXPECT_FALSE(OtherThreadCanTake(dir.Path())) << level;
    EXPECT_FALSE(OtherProcessCanTake(dir.Path())) << level;
    EXPECT_TRUE(level == 1 ? second->Release() : mtx->Release()) << level;
  }
  EXPECT_TRUE(OtherThreadCanTake(dir.Path()));
  EXPECT_TRUE(OtherProcessCanTake(dir.Path()));
  EXPECT_FALSE(mtx->Release());
}

TEST(NamedMutex, LastHandleGoneFreesTheLock) {
  CTempDir dir;
  auto mtx = CNamedMutex::Create(kHidMutexName, dir.Path());
  ASSERT_TRUE(mtx && mtx->Acquire() && mtx->Acquire());
  mtx.reset();
  EXPECT_TRUE(OtherProcessCanTake(dir.Path()));
  EXPECT_TRUE(OtherThreadCanTake(dir.Path()));
}

TEST(NamedMutex, FilesAreSharedWhateverTheUmask) {
  CTempDir dir;
  mode_t old = ::umask(077);
  const std::string lockDir = dir.File("locks");
  bool bPrepared = CNamedMutex::PrepareLockDirectory(lockDir);
  auto mtx = CNamedMutex::Create(kHidMutexName, lockDir);
  ::umask(old);
  ASSERT_TRUE(bPrepared);
  ASSERT_TRUE(mtx);
  struct stat st {};
  ASSERT_EQ(::stat(lockDir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 01777u);
  ASSERT_EQ(::stat(mtx->Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0666u);
  EXPECT_EQ(mtx->Path(), lockDir + "/QRT_HidMutex_{7D2A9E41-3C5B-4A86-9F10-6E4B2C8D1A57}");
  EXPECT_TRUE(CNamedMutex::PrepareLockDirectory(lockDir));  // exists already

  ASSERT_EQ(::symlink(lockDir.c_str(), dir.File("link").c_str()), 0);
  int err = 0;
  EXPECT_FALSE(CNamedMutex::PrepareLockDirectory(dir.File("link"), &err));
  EXPECT_EQ(err, ENOTDIR);
}

TEST(NamedMutex, LockFileNames) {
  const struct {
    std::string name;
    std::string file;
  } cases[] = {
      {"Global\\QRT_AudioMutex_{4E1B7C20-9A3D-4F5E-8C61-2B7D9E0A4F13}",
       "QRT_AudioMutex_{4E1B7C20-9A3D-4F5E-8C61-2B7D9E0A4F13}"},
      {"Plain name", "Plain name"},
      {"a/b", "a%2Fb"},
      {"a\\b", "a%5Cb"},
      {"50%", "50%25"},
      {"tab\there", "tab%09here"},
      {"Local\\x", "Local%5Cx"},
      {"", ""},
      {"Global\\", ""},
      {"..", ""},
      {std::string(201, 'n'), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CNamedMutex::LockFileName(c.name), c.file) << c.name;
}

TEST(NamedMutex, OpenAndCreateRefuseWhatIsNotTheirs) {
  CTempDir dir;
  int err = 0;
  EXPECT_FALSE(CNamedMutex::Open(kHidMutexName, dir.Path(), &err));
  EXPECT_EQ(err, ENOENT);
  EXPECT_FALSE(CNamedMutex::Create(kHidMutexName, dir.File("missing"), &err));
  EXPECT_EQ(err, ENOENT);
  EXPECT_FALSE(CNamedMutex::Create("..", dir.Path(), &err));
  EXPECT_EQ(err, EINVAL);
  ASSERT_TRUE(CNamedMutex::Create(kHidMutexName, dir.Path()));
  EXPECT_TRUE(CNamedMutex::Open(kHidMutexName, dir.Path()));

  // Planted in a world-writable folder: a symlink is not followed, a FIFO
  // neither blocks nor counts.
  std::string target = dir.Write("target", "keep");
  ASSERT_EQ(::symlink(target.c_str(), dir.File("link").c_str()), 0);
  EXPECT_FALSE(CNamedMutex::Create("link", dir.Path(), &err));
  EXPECT_EQ(err, ELOOP);
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(CNamedMutex::Open("fifo", dir.Path(), &err));
  EXPECT_EQ(err, EINVAL);
  EXPECT_EQ(ReadAll(target), "keep");
}

// A lock folder is used only when nobody else can swap its files: not a
// link, owned by root or this user, sticky when others may write to it.
TEST(NamedMutex, LockFoldersOfOthersAndLinksAreRefused) {
  CTempDir dir;
  const bool bRoot = ::geteuid() == 0;
  const struct {
    const char* pszName;
    mode_t mode;
    bool bNobodysOwn;
    bool bLink;
    int nError;  // 0: usable
  } cases[] = {
      {"sticky", 01777, false, false, 0},    {"private", 0700, false, false, 0},
      {"open", 0777, false, false, EPERM},   {"nobodys", 01777, true, false, EPERM},
      {"link", 01777, false, true, ENOTDIR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    if (c.bNobodysOwn && !bRoot) continue;  // only root can give a folder away
    const std::string folder = dir.File(c.pszName);
    const std::string real = c.bLink ? dir.File(std::string(c.pszName) + ".real") : folder;
    ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(real.c_str(), c.mode), 0);
    if (c.bNobodysOwn) {
      ASSERT_EQ(::chown(real.c_str(), 65534, 65534), 0);
    }
    if (c.bLink) {
      ASSERT_EQ(::symlink(real.c_str(), folder.c_str()), 0);
    }

    int err = 0;
    EXPECT_EQ(CNamedMutex::PrepareLockDirectory(folder, &err), c.nError == 0);
    EXPECT_EQ(err, c.nError);
    err = 0;
    auto mtx = CNamedMutex::Create(kHidMutexName, folder, &err);
    EXPECT_EQ(mtx != nullptr, c.nError == 0);
    EXPECT_EQ(err, c.nError);
    if (c.nError != 0) {
      EXPECT_TRUE(std::filesystem::is_empty(real)) << "nothing created in a refused folder";
    }
  }
}

// Today's attack on the default folders: /run/lock/qrt4250 made a plain
// file, and a link at /tmp/qrt4250-locks into a folder of the attacker's
// choice. No lock file may appear there; a sound /run/lock/qrt4250 is made
// shared with the sticky bit.
TEST(NamedMutex, DefaultFolderNeverFallsBackToAnUnsafeOne) {
  const int nResult = qrt::test::RunWithPrivateRunAndTmp([] {
    if (::close(::open("/run/lock/qrt4250", O_WRONLY | O_CREAT, 0666)) != 0) return 10;
    if (::mkdir("/tmp/victim", 0755) != 0) return 11;
    if (::symlink("/tmp/victim", "/tmp/qrt4250-locks") != 0) return 12;
    int err = 0;
    if (CNamedMutex::Create(kHidMutexName, CNamedMutex::DefaultLockDirectory(), &err)) return 1;
    if (!std::filesystem::is_empty("/tmp/victim")) return 2;

    ::unlink("/run/lock/qrt4250");
    if (CNamedMutex::DefaultLockDirectory() != "/run/lock/qrt4250") return 3;
    struct stat st {};
    if (::lstat("/run/lock/qrt4250", &st) != 0 || (st.st_mode & 07777) != 01777) return 4;
    return CNamedMutex::Create(kHidMutexName, "/run/lock/qrt4250") ? 0 : 5;
  });
  if (nResult < 0) GTEST_SKIP() << "no private mount namespace (needs root)";
  EXPECT_EQ(nResult, 0);
}

// A lock another process holds is waited for a bounded time on the caller's
// clock, and the holder can be named for the user.
TEST(NamedMutex, BoundedWaitNamesTheHolder) {
  CTempDir dir;
  auto mtx = CNamedMutex::Create(kHidMutexName, dir.Path());
  ASSERT_TRUE(mtx);
  // A second open file description conflicts like another process.
  const int fdHolder = ::open(mtx->Path().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(fdHolder, LOCK_EX), 0);

  uint32_t dwSlept = 0, dwLastWaited = 0;
  EXPECT_FALSE(mtx->AcquireWithin(
      1234, [&](uint32_t ms) { dwSlept += ms; }, [&](uint32_t ms) { dwLastWaited = ms; }));
  EXPECT_EQ(dwSlept, 1234u);
  EXPECT_EQ(dwLastWaited, 1234u);
  std::string szComm;
  std::getline(std::ifstream("/proc/self/comm"), szComm);
  EXPECT_EQ(mtx->DescribeHolder(), "process " + std::to_string(::getpid()) + " (" + szComm + ")");

  ::close(fdHolder);
  EXPECT_TRUE(mtx->AcquireWithin(0, [](uint32_t) { FAIL() << "no wait for a free lock"; }));
  EXPECT_TRUE(mtx->Release());
}
