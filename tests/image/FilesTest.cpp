// .bin / .hex readers and writers, type by path, names and sizes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ImageFiles.h"
#include "SampleImages.h"
#include "TestDirectory.h"
#include "Trace.h"

using namespace qrt::image;
namespace fs = std::filesystem;

using qrt::test::CTempDir;
using qrt::test::ReadWholeFile;
using qrt::test::WriteWholeFile;

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
  CTempDir dir;
  uint8_t buffer[4096];
  std::memset(buffer, 0x55, sizeof buffer);
  size_t n = 0;
  EXPECT_EQ(ReadBinFile(dir / "missing.bin", buffer, sizeof buffer, &n), kReadCannotOpen);
  EXPECT_EQ(ReadHexFile(dir / "missing.hex", buffer, sizeof buffer, &n), kReadCannotOpen);
  EXPECT_EQ(ReadBinFile(dir.operator/(""), buffer, sizeof buffer, &n), kReadCannotOpen);

  WriteWholeFile(dir / "big.bin", std::string(5000, '\xC7'));
  EXPECT_EQ(ReadBinFile(dir / "big.bin", buffer, sizeof buffer, &n), kReadTooLarge);
  WriteWholeFile(dir / "2049.bin", std::string(2049, '\xC7'));
  EXPECT_EQ(ReadBinFile(dir / "2049.bin", buffer, sizeof buffer, &n), kReadTooLarge);
  EXPECT_EQ(buffer[0], 0x55);

  WriteWholeFile(dir / "one.bin", std::string(1, '\xC7'));
  ASSERT_EQ(ReadBinFile(dir / "one.bin", buffer, sizeof buffer, &n), kReadOk);
  EXPECT_EQ(n, 1u);
  WriteWholeFile(dir / "2048.bin", std::string(2048, '\x61'));
  ASSERT_EQ(ReadBinFile(dir / "2048.bin", buffer, sizeof buffer, &n), kReadOk);
  EXPECT_EQ(n, 2048u);

  WriteWholeFile(dir / "bad.hex", "C7 61 GG");
  EXPECT_EQ(ReadHexFile(dir / "bad.hex", buffer, sizeof buffer, &n), kReadCorrupt);
  // A huge file of separators is refused without holding it all.
  WriteWholeFile(dir / "huge.hex", std::string(3u << 20, '\n'));
  EXPECT_EQ(ReadHexFile(dir / "huge.hex", buffer, sizeof buffer, &n), kReadTooLarge);
}

TEST(ImageFiles, WritersExactBytesAndRoundTrip) {
  CTempDir dir;
  const auto img = qrt::test::DefaultImage();
  ASSERT_EQ(WriteHexFile(dir / "a.hex", img.data(), img.size()), kWriteOk);
  const std::string hex = ReadWholeFile(dir / "a.hex");
  ASSERT_EQ(hex.size(), 768u);
  EXPECT_EQ(hex.substr(0, 6), std::string("C7\r61\r"));
  EXPECT_EQ(hex.substr(765), std::string("00\r"));
  EXPECT_EQ(hex.find('\n'), std::string::npos);

  ASSERT_EQ(WriteBinFile(dir / "a.bin", img.data(), img.size()), kWriteOk);
  EXPECT_EQ(ReadWholeFile(dir / "a.bin"), std::string(img.begin(), img.end()));

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
  CTempDir dir;
  const std::string target = dir / "t.bin";
  WriteWholeFile(target, "old");
  const uint8_t bytes[] = {1, 2, 3, 4};
  int nAsked = 0;
  EXPECT_EQ(WriteBinFile(target, bytes, 4,
                         [&](const std::string& p) {
                           ++nAsked;
                           EXPECT_EQ(p, target);
                           return false;
                         }),
            kWriteDeclined);
  EXPECT_EQ(ReadWholeFile(target), "old");
  EXPECT_EQ(WriteBinFile(target, bytes, 4, [&](const std::string&) { return ++nAsked > 0; }),
            kWriteOk);
  EXPECT_EQ(nAsked, 2);
  EXPECT_EQ(ReadWholeFile(target), std::string("\x01\x02\x03\x04", 4));
  // A new file is not asked about.
  EXPECT_EQ(WriteHexFile(dir / "new.hex", bytes, 4, [&](const std::string&) { return false; }),
            kWriteOk);

  // A target the rename cannot replace: failure, the old entry intact, no
  // temporary file left.
  fs::create_directory(dir / "d.bin");
  WriteWholeFile(dir / "d.bin/inside", "keep");
  qrt::diag::CTraceCapture trace;
  EXPECT_EQ(WriteBinFile(dir / "d.bin", bytes, 4), kWriteFailed);
  EXPECT_EQ(ReadWholeFile(dir / "d.bin/inside"), "keep");
  EXPECT_EQ(WriteBinFile(dir / "no/such/dir.bin", bytes, 4), kWriteFailed);
  EXPECT_EQ(dir.Count(), 3u);
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
