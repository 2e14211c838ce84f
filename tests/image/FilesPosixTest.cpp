// The readers and writers against POSIX file types and modes: FIFOs, the
// umask. Linux only.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "ImageFiles.h"
#include "TestDirectory.h"

using namespace qrt::image;
namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() : m_path(qrt::test::MakeTestDirectory("qrt-files-")) {}
  ~TempDir() { fs::remove_all(m_path); }
  std::string operator/(const std::string& name) const { return (m_path / name).string(); }

 private:
  fs::path m_path;
};

}  // namespace

// A FIFO (or other special file) under an image's name is refused at once:
// the readers must not wait for a writer that never comes, nor read a
// stream that never ends. Run in a child so that a reader that blocks fails
// the test (killed by its alarm) instead of hanging it.
TEST(ImageFiles, ReadersRefuseFifosWithoutBlocking) {
  TempDir dir;
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
  TempDir dir;
  const mode_t old = ::umask(022);
  const uint8_t b = 0xC7;
  ASSERT_EQ(WriteBinFile(dir / "m.bin", &b, 1), kWriteOk);
  ::umask(old);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "m.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}
