// The readers and writers against POSIX file types and modes: FIFOs, the
// umask, links, owners. Linux only.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ImageFiles.h"
#include "TestDirectory.h"
#include "Trace.h"

using namespace qrt::image;
namespace fs = std::filesystem;

using qrt::test::CTempDir;
using qrt::test::ReadWholeFile;
using qrt::test::WriteWholeFile;

// A FIFO (or other special file) under an image's name is refused at once:
// the readers must not wait for a writer that never comes, nor read a
// stream that never ends. Run in a child so that a reader that blocks fails
// the test (killed by its alarm) instead of hanging it.
TEST(ImageFiles, ReadersRefuseFifosWithoutBlocking) {
  CTempDir dir;
  for (const char* pszName : {"pipe.bin", "pipe.hex"}) {
    const std::string path = dir / pszName;
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::alarm(20);  // only a reader that blocks ever gets this far
      uint8_t buffer[4096];
      size_t n = 0;
      const bool bBin = GetImageFileTypeByPath(path) == EImageFileType::kBin;
      const int r = bBin ? ReadBinFile(path, buffer, sizeof buffer, &n)
                         : ReadHexFile(path, buffer, sizeof buffer, &n);
      ::_exit(r);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << pszName << " blocked (signal " << WTERMSIG(status) << ")";
    EXPECT_EQ(WEXITSTATUS(status), kReadCannotOpen) << pszName;
  }
}

TEST(ImageFiles, NewFilesGetTheUsualMode) {
  CTempDir dir;
  const mode_t old = ::umask(022);
  const uint8_t b = 0xC7;
  ASSERT_EQ(WriteBinFile(dir / "m.bin", &b, 1), kWriteOk);
  ::umask(old);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "m.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

// Replacing an existing output file: through a link to its target, the
// owner and mode kept, a name as long as the folder allows.
TEST(ImageFiles, ReplacingKeepsLinksOwnerModeAndTakesLongNames) {
  CTempDir dir;
  const uint8_t bytes[] = {0xC7, 0x61};
  const std::string szNew("\xC7\x61", 2);

  WriteWholeFile(dir / "real.bin", "old");
  fs::create_symlink(dir / "real.bin", dir / "link.bin");
  ASSERT_EQ(WriteBinFile(dir / "link.bin", bytes, 2), kWriteOk);
  EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
  EXPECT_EQ(ReadWholeFile(dir / "real.bin"), szNew);

  // A link that leads nowhere is refused rather than replaced by a file.
  fs::create_symlink(dir / "missing.bin", dir / "dangling.bin");
  std::string szWhy;
  EXPECT_EQ(WriteBinFile(dir / "dangling.bin", bytes, 2, {}, &szWhy), kWriteFailed);
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.bin"));
  EXPECT_FALSE(szWhy.empty());

  // 252 characters plus ".bin" is a legal name; the temporary name must fit.
  const std::string szLong = std::string(251, 'n') + ".bin";
  ASSERT_EQ(WriteBinFile(dir / szLong, bytes, 2), kWriteOk);
  ASSERT_EQ(WriteBinFile(dir / szLong, bytes, 1), kWriteOk);
  EXPECT_EQ(ReadWholeFile(dir / szLong), "\xC7");

  const std::string target = dir / "owned.bin";
  WriteWholeFile(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  const bool bRoot = ::geteuid() == 0;
  if (bRoot) {
    ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(WriteBinFile(target, bytes, 2), kWriteOk);
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (bRoot) {
    EXPECT_EQ(st.st_uid, 65534u);
  }
  EXPECT_EQ(ReadWholeFile(target), szNew);
  EXPECT_EQ(dir.Count(), 5u);  // no temporary file left
}

// A file the user may not write is refused, even in a folder where the user
// could create and rename files. Root writes anything, so as root the write
// runs in a child that has become "nobody".
TEST(ImageFiles, ReadOnlyFileOfAWritableFolderIsRefused) {
  CTempDir dir;
  const std::string folder = dir / "shared";
  fs::create_directory(folder);
  ASSERT_EQ(::chmod((dir / "").c_str(), 0755), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
  const std::string target = folder + "/ro.bin";
  WriteWholeFile(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
  const uint8_t bytes[] = {0xC7, 0x61};

  auto attempt = [&]() -> int {
    std::string szWhy;
    if (WriteBinFile(target, bytes, 2, {}, &szWhy) != kWriteFailed) return 1;
    return szWhy == std::strerror(EACCES) ? 0 : 2;
  };
  int nResult = 0;
  if (::geteuid() == 0) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 ? attempt() : 3);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    nResult = WEXITSTATUS(status);
  } else {
    nResult = attempt();
  }
  EXPECT_EQ(nResult, 0);
  EXPECT_EQ(ReadWholeFile(target), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);
}
