// .bin / .hex readers and writers, type by path, names and sizes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ImageFiles.h"
#include "SampleImages.h"
#include "Trace.h"

using namespace qrt::image;
namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "qrt-files-XXXXXX").string();
    m_path = ::mkdtemp(tmpl.data());
  }
  ~TempDir() { fs::remove_all(m_path); }
  std::string operator/(const std::string& name) const { return (m_path / name).string(); }
  size_t Count() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(m_path), {}));
  }

 private:
  fs::path m_path;
};

void WriteRaw(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadRaw(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace

TEST(HexText, PairingAndSkippingRules) {
  struct Case {
    const char* name;
    std::string text;
    int result;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"as written", "C7\r61\r", kReadOk, {0xC7, 0x61}},
      {"lower case, space, CR LF", "c7 61\r\nEC", kReadOk, {0xC7, 0x61, 0xEC}},
      {"trailing digit ignored", "C76", kReadOk, {0xC7}},
      {"separator inside a pair", "C-7:6 1", kReadOk, {0xC7, 0x61}},
      {"empty", "", kReadOk, {}},
      {"only separators", "\r\n\t ,.;", kReadOk, {}},
      {"letter G", "C7G1", kReadCorrupt, {}},
      {"letter z", "c7z", kReadCorrupt, {}},
      {"letter x of 0x", "0xC7", kReadCorrupt, {}},
  };
  for (const Case& c : cases) {
    uint8_t buffer[4096];
    std::memset(buffer, 0x55, sizeof buffer);
    size_t n = 12345;
    EXPECT_EQ(DecodeHexText(c.text, buffer, sizeof buffer, &n), c.result) << c.name;
    if (c.result == kReadOk) {
      ASSERT_EQ(n, c.bytes.size()) << c.name;
      EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + n), c.bytes) << c.name;
      EXPECT_EQ(buffer[n], 0x00) << c.name;  // the buffer is cleared first
    } else {
      EXPECT_EQ(buffer[0], 0x55) << c.name;  // untouched on refusal
      EXPECT_EQ(n, 12345u) << c.name;
    }
  }
}

TEST(HexText, SizeLimit) {
  std::string text;
  for (int i = 0; i < 2048; ++i) text += "AB\r";
  uint8_t buffer[4096];
  size_t n = 0;
  EXPECT_EQ(DecodeHexText(text, buffer, sizeof buffer, &n), kReadOk);
  EXPECT_EQ(n, 2048u);
  text += "CD";
  std::memset(buffer, 0x55, sizeof buffer);
  EXPECT_EQ(DecodeHexText(text, buffer, sizeof buffer, &n), kReadTooLarge);
  EXPECT_EQ(buffer[0], 0x55);
}

TEST(ImageFiles, ReadersResults) {
  TempDir dir;
  uint8_t buffer[4096];
  std::memset(buffer, 0x55, sizeof buffer);
  size_t n = 0;
  EXPECT_EQ(ReadBinFile(dir / "missing.bin", buffer, sizeof buffer, &n), kReadCannotOpen);
  EXPECT_EQ(ReadHexFile(dir / "missing.hex", buffer, sizeof buffer, &n), kReadCannotOpen);
  EXPECT_EQ(ReadBinFile(dir.operator/(""), buffer, sizeof buffer, &n), kReadCannotOpen);

  WriteRaw(dir / "big.bin", std::string(5000, '\xC7'));
  EXPECT_EQ(ReadBinFile(dir / "big.bin", buffer, sizeof buffer, &n), kReadTooLarge);
  WriteRaw(dir / "2049.bin", std::string(2049, '\xC7'));
  EXPECT_EQ(ReadBinFile(dir / "2049.bin", buffer, sizeof buffer, &n), kReadTooLarge);
  EXPECT_EQ(buffer[0], 0x55);

  WriteRaw(dir / "one.bin", std::string(1, '\xC7'));
  ASSERT_EQ(ReadBinFile(dir / "one.bin", buffer, sizeof buffer, &n), kReadOk);
  EXPECT_EQ(n, 1u);
  WriteRaw(dir / "2048.bin", std::string(2048, '\x61'));
  ASSERT_EQ(ReadBinFile(dir / "2048.bin", buffer, sizeof buffer, &n), kReadOk);
  EXPECT_EQ(n, 2048u);

  WriteRaw(dir / "bad.hex", "C7 61 GG");
  EXPECT_EQ(ReadHexFile(dir / "bad.hex", buffer, sizeof buffer, &n), kReadCorrupt);
  // A huge file of separators is refused without holding it all.
  WriteRaw(dir / "huge.hex", std::string(3u << 20, '\n'));
  EXPECT_EQ(ReadHexFile(dir / "huge.hex", buffer, sizeof buffer, &n), kReadTooLarge);
}

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

TEST(ImageFiles, WritersExactBytesAndRoundTrip) {
  TempDir dir;
  const auto img = qrt::test::DefaultImage();
  ASSERT_EQ(WriteHexFile(dir / "a.hex", img.data(), img.size()), kWriteOk);
  const std::string hex = ReadRaw(dir / "a.hex");
  ASSERT_EQ(hex.size(), 768u);
  EXPECT_EQ(hex.substr(0, 6), std::string("C7\r61\r"));
  EXPECT_EQ(hex.substr(765), std::string("00\r"));
  EXPECT_EQ(hex.find('\n'), std::string::npos);

  ASSERT_EQ(WriteBinFile(dir / "a.bin", img.data(), img.size()), kWriteOk);
  EXPECT_EQ(ReadRaw(dir / "a.bin"), std::string(img.begin(), img.end()));

  // 2048 bytes through .hex and back.
  std::vector<uint8_t> big(2048);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + 3);
  ASSERT_EQ(WriteHexFile(dir / "big.hex", big.data(), big.size()), kWriteOk);
  EXPECT_EQ(fs::file_size(dir / "big.hex"), 6144u);
  uint8_t buffer[4096];
  size_t n = 0;
  ASSERT_EQ(ReadHexFile(dir / "big.hex", buffer, sizeof buffer, &n), kReadOk);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + n), big);
  EXPECT_EQ(dir.Count(), 3u);  // no temporary files left behind
}

TEST(ImageFiles, OverwriteQuestionAndFailuresKeepTheOldFile) {
  TempDir dir;
  const std::string target = dir / "t.bin";
  WriteRaw(target, "old");
  const uint8_t bytes[] = {1, 2, 3, 4};
  int nAsked = 0;
  EXPECT_EQ(WriteBinFile(target, bytes, 4,
                         [&](const std::string& p) {
                           ++nAsked;
                           EXPECT_EQ(p, target);
                           return false;
                         }),
            kWriteDeclined);
  EXPECT_EQ(ReadRaw(target), "old");
  EXPECT_EQ(WriteBinFile(target, bytes, 4, [&](const std::string&) { return ++nAsked > 0; }),
            kWriteOk);
  EXPECT_EQ(nAsked, 2);
  EXPECT_EQ(ReadRaw(target), std::string("\x01\x02\x03\x04", 4));
  // A new file is not asked about.
  EXPECT_EQ(WriteHexFile(dir / "new.hex", bytes, 4, [&](const std::string&) { return false; }),
            kWriteOk);

  // A target the rename cannot replace: failure, the old entry intact, no
  // temporary file left.
  fs::create_directory(dir / "d.bin");
  WriteRaw(dir / "d.bin/inside", "keep");
  qrt::diag::CTraceCapture trace;
  EXPECT_EQ(WriteBinFile(dir / "d.bin", bytes, 4), kWriteFailed);
  EXPECT_EQ(ReadRaw(dir / "d.bin/inside"), "keep");
  EXPECT_EQ(WriteBinFile(dir / "no/such/dir.bin", bytes, 4), kWriteFailed);
  EXPECT_EQ(dir.Count(), 3u);
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

TEST(ImageFiles, TypeByPath) {
  struct Case {
    const char* path;
    EImageFileType type;
  };
  const Case cases[] = {
      {"D:\\x.bin.hex", EImageFileType::kBin},     {"D:\\My.Bins\\a.hex", EImageFileType::kBin},
      {"image.HEX", EImageFileType::kHex},         {"/tmp/a.Bin", EImageFileType::kBin},
      {"/tmp/image", EImageFileType::kUnknown},    {"/tmp/a.bi", EImageFileType::kUnknown},
      {"/tmp/hex.he.x", EImageFileType::kUnknown},
  };
  for (const Case& c : cases) EXPECT_EQ(GetImageFileTypeByPath(c.path), c.type) << c.path;
}

TEST(ImageFiles, SaveNameGetsItsExtension) {
  struct Case {
    const char* name;
    EImageFileType type;
    const char* result;
  };
  const Case cases[] = {
      {"image", EImageFileType::kBin, "image.bin"},
      {"Image.Bin", EImageFileType::kBin, "Image.Bin"},
      {"image.hex", EImageFileType::kBin, "image.hex.bin"},
      {"image", EImageFileType::kHex, "image.hex"},
      {"a.HEX", EImageFileType::kHex, "a.HEX"},
  };
  for (const Case& c : cases) EXPECT_EQ(AppendImageExtension(c.name, c.type), c.result) << c.name;
}

TEST(ImageFiles, DefaultFileNameWithAFixedDate) {
  const auto day = [] { return CUtcDate{2024, 3, 5}; };
  struct Case {
    uint32_t dwSize;
    const char* name;
  };
  const Case cases[] = {
      {512, "QRT4250-VID=3A7C-PID=4250-24C04-20240305"},
      {256, "QRT4250-VID=3A7C-PID=4250-24C02-20240305"},
      {1024, "QRT4250-VID=3A7C-PID=4250-24C08-20240305"},
      {2048, "QRT4250-VID=3A7C-PID=4250-24C16-20240305"},
      {300, "QRT4250-VID=3A7C-PID=4250-24C02-20240305"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MakeDefaultFileName(0x3A7C, 0x4250, c.dwSize, day), c.name) << c.dwSize;
  EXPECT_EQ(MakeDefaultFileName(0x00AB, 0x000C, 256,
                                [] {
                                  return CUtcDate{999, 12, 31};
                                }),
            "QRT4250-VID=00AB-PID=000C-24C02-09991231");
}

TEST(ImageFiles, EepromTypeNames) {
  EXPECT_EQ(RomSizeFromEepromType("24c08"), 1024u);
  EXPECT_EQ(RomSizeFromEepromType("24C16"), 2048u);
  EXPECT_EQ(RomSizeFromEepromType("24C32"), 0u);
  EXPECT_EQ(EepromNumber(1024), 8);
  EXPECT_EQ(NormaliseRomSize(513), 256u);
}

// Replacing an existing output file: through a link to its target, the
// owner and mode kept, a name as long as the folder allows.
TEST(ImageFiles, ReplacingKeepsLinksOwnerModeAndTakesLongNames) {
  TempDir dir;
  const uint8_t bytes[] = {0xC7, 0x61};
  const std::string szNew("\xC7\x61", 2);

  WriteRaw(dir / "real.bin", "old");
  fs::create_symlink(dir / "real.bin", dir / "link.bin");
  ASSERT_EQ(WriteBinFile(dir / "link.bin", bytes, 2), kWriteOk);
  EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
  EXPECT_EQ(ReadRaw(dir / "real.bin"), szNew);

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
  EXPECT_EQ(ReadRaw(dir / szLong), "\xC7");

  const std::string target = dir / "owned.bin";
  WriteRaw(target, "old");
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
  EXPECT_EQ(ReadRaw(target), szNew);
  EXPECT_EQ(dir.Count(), 5u);  // no temporary file left
}

// A file the user may not write is refused, even in a folder where the user
// could create and rename files. Root writes anything, so as root the write
// runs in a child that has become "nobody".
TEST(ImageFiles, ReadOnlyFileOfAWritableFolderIsRefused) {
  TempDir dir;
  const std::string folder = dir / "shared";
  fs::create_directory(folder);
  ASSERT_EQ(::chmod((dir / "").c_str(), 0755), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
  const std::string target = folder + "/ro.bin";
  WriteRaw(target, "old");
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
  EXPECT_EQ(ReadRaw(target), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);
}
