#include "LogManager.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TestDirectory.h"

namespace fs = std::filesystem;
using qrt::diag::CLogManager;
using qrt::diag::SLocalTime;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class LogManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Dir = qrt::test::MakeTestDirectory("qrt-log-");
    ASSERT_FALSE(m_Dir.empty());
    CLogManager::ResetDumpCounterForTests();
  }
  void TearDown() override { fs::remove_all(m_Dir); }

  CLogManager MakeLog() {
    return CLogManager([this] { return m_Now; }, [this] { return m_szCwd; });
  }

  std::vector<std::string> DirectoryEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_Dir)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path m_Dir;
  SLocalTime m_Now{2024, 3, 5, 15, 30, 5};
  std::string m_szCwd;
};

}  // namespace

TEST_F(LogManagerTest, DateAndTimeTextsAndLogFileName) {
  m_Now = {2024, 3, 5, 9, 7, 3};
  CLogManager log = MakeLog();
  EXPECT_EQ(log.GetDateString(), "2024_0305");
  EXPECT_EQ(log.GetTimeString(), "090703");
  EXPECT_EQ(log.GetWideTimeString(), "0907.03");
  EXPECT_EQ(log.MakeLogFileName(), "./2024_0305_LogFile.txt");
}

TEST_F(LogManagerTest, LineTextsByCode) {
  const struct {
    int code;
    int value;
    const char* text;
  } cases[] = {
      {1, 128, "[Read]readTimeOut        = 128"},
      {2, 5, "[Read]continueSleepTime  = 5"},
      {3, 64, "[Write]WriteTimeOut      = 64"},
      {4, 2, "[Write]continueSleepTime = 2"},
      {5, 0, "===  READ EEPROM  ==="},
      {6, 0, "===  WRITE EEPROM  ==="},
      {7, 8002, "write fail,(8002)"},
      {8, -1, "read fail(-1)"},
      {9, 0, "*** compare data ok"},
      {10, 0, "*** compare data error."},
      {42, 7, "[Write]42 = 7"},
  };
  for (const auto& c : cases) EXPECT_EQ(CLogManager::LineText(c.code, c.value), c.text);
}

TEST_F(LogManagerTest, LinesAppendWithCrLfAndANewDayStartsANewFile) {
  fs::path previous = fs::current_path();
  fs::current_path(m_Dir);
  {
    CLogManager log = MakeLog();
    ASSERT_TRUE(log.Open(log.MakeLogFileName()));
    log.WriteLine(5);
    log.WriteLine(1, 128);
    log.Close();
    m_Now.nSecond = 9;
    ASSERT_TRUE(log.Open(log.MakeLogFileName()));
    log.WriteLine(2, 5);
    log.Close();
    log.WriteLine(9);  // closed: dropped
    m_Now = {2024, 3, 6, 0, 0, 1};
    ASSERT_TRUE(log.Open(log.MakeLogFileName()));
    log.WriteLine(6);
  }
  fs::current_path(previous);
  EXPECT_EQ(ReadFile(m_Dir / "2024_0305_LogFile.txt"),
            "15:30:05    ===  READ EEPROM  ===\r\n"
            "15:30:05    [Read]readTimeOut        = 128\r\n"
            "15:30:09    [Read]continueSleepTime  = 5\r\n");
  EXPECT_EQ(ReadFile(m_Dir / "2024_0306_LogFile.txt"), "00:00:01    ===  WRITE EEPROM  ===\r\n");
}

TEST_F(LogManagerTest, OpenFailureDropsLinesQuietly) {
  CLogManager log = MakeLog();
  EXPECT_FALSE(log.Open((m_Dir / "no-such-dir" / "x.txt").string()));
  log.WriteLine(5);
  EXPECT_FALSE(log.IsOpen());
}

TEST_F(LogManagerTest, DumpsShareOneCounterAndCompareWritesBothFiles) {
  m_szCwd = m_Dir.string();
  CLogManager log = MakeLog();
  const uint8_t read[4] = {0xC7, 0x61, 0xEC, 0x17};
  const uint8_t written[4] = {0xC7, 0x61, 0xEC, 0x18};
  std::string first = log.DumpReadData(read, sizeof(read));
  EXPECT_EQ(fs::path(first).filename(), "2024_0305_153005_ReadData-R_001.bin");
  EXPECT_TRUE(log.DumpCompareData(read, written, sizeof(read)));
  EXPECT_EQ(DirectoryEntries(), (std::vector<std::string>{"2024_0305_153005_ReadData-R_001.bin",
                                                          "2024_0305_153005_ReadWrite-R_002.bin",
                                                          "2024_0305_153005_ReadWrite-W_002.bin"}));
  EXPECT_EQ(ReadFile(m_Dir / "2024_0305_153005_ReadWrite-W_002.bin"),
            std::string(reinterpret_cast<const char*>(written), 4));
  EXPECT_EQ(ReadFile(m_Dir / "2024_0305_153005_ReadWrite-R_002.bin"),
            std::string(reinterpret_cast<const char*>(read), 4));
}

TEST_F(LogManagerTest, UnknownOrUnwritableDirectorySkipsTheDumpButCounts) {
  CLogManager log = MakeLog();
  const uint8_t data[2] = {1, 2};
  m_szCwd.clear();
  EXPECT_EQ(log.DumpReadData(data, 2), "");
  m_szCwd = (m_Dir / "gone").string();
  EXPECT_FALSE(log.DumpCompareData(data, data, 2));
  m_szCwd = m_Dir.string();
  EXPECT_EQ(fs::path(log.DumpReadData(data, 2)).filename(), "2024_0305_153005_ReadData-R_003.bin");
}

// The log and dump names are predictable and the current directory may be
// shared: a planted link must not lead the writes to its target, and a name
// already taken must not be overwritten.
TEST_F(LogManagerTest, LinksAndTakenNamesAreNeverWrittenThrough) {
  const fs::path victim = m_Dir / "victim";
  std::ofstream(victim, std::ios::binary) << "keep";
  const std::string stamp = "2024_0305_153005_";
  std::error_code ec;
  fs::create_symlink(victim, m_Dir / "2024_0305_LogFile.txt", ec);
  if (!ec) fs::create_symlink(victim, m_Dir / (stamp + "ReadData-R_001.bin"), ec);
  // Windows grants links to administrators or in developer mode only.
  if (ec) GTEST_SKIP() << "cannot create links here: " << ec.message();
  std::ofstream(m_Dir / (stamp + "ReadWrite-W_003.bin"), std::ios::binary) << "other";

  m_szCwd = m_Dir.string();
  CLogManager log = MakeLog();
  EXPECT_FALSE(log.Open((m_Dir / "2024_0305_LogFile.txt").string()));
  log.WriteLine(5);
  const uint8_t data[2] = {0xC7, 0x61};
  EXPECT_EQ(fs::path(log.DumpReadData(data, 2)).filename(), stamp + "ReadData-R_002.bin");
  // 003 is taken for one file of the pair, so both go to 004.
  EXPECT_TRUE(log.DumpCompareData(data, data, 2));

  EXPECT_EQ(ReadFile(victim), "keep");
  EXPECT_EQ(ReadFile(m_Dir / (stamp + "ReadWrite-W_003.bin")), "other");
  EXPECT_EQ(
      DirectoryEntries(),
      (std::vector<std::string>{stamp + "ReadData-R_001.bin", stamp + "ReadData-R_002.bin",
                                stamp + "ReadWrite-R_004.bin", stamp + "ReadWrite-W_003.bin",
                                stamp + "ReadWrite-W_004.bin", "2024_0305_LogFile.txt", "victim"}));
}
