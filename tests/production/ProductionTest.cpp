// The counter file's bad inputs, the log's lines and backup names (every OS;
// the lock between processes is in ProductionProcessTest.cpp).
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "Backup.h"
#include "ProductionLog.h"
#include "SerialCounter.h"
#include "TestDirectory.h"
#include "TestDirectory.h"

using qrt::test::CTempDir;

using namespace qrt::production;
using namespace std::chrono_literals;

using qrt::test::ReadWholeFile;

TEST(SerialCounter, RefusesBadCounterFilesAndLeavesThemAlone) {
  // Only the whole file is the counter: a number followed by more is refused.
  const std::string szTrailing = "000000000100" + std::string(60, '\n') + "GARBAGE";
  struct {
    const char* pszContent;  // nullptr: no file
    ESerialResult eExpected;
  } cases[] = {
      {nullptr, ESerialResult::kMissing},
      {"", ESerialResult::kMalformed},
      {"100\n", ESerialResult::kMalformed},
      {"00000000010G\n", ESerialResult::kMalformed},
      {"0000000001000\n", ESerialResult::kMalformed},
      {" 00000000010\n", ESerialResult::kMalformed},
      {"1000000000000\n", ESerialResult::kExhausted},
      {szTrailing.c_str(), ESerialResult::kMalformed},
      {"000000000100\n\n", ESerialResult::kMalformed},
      {"000000000100\r", ESerialResult::kMalformed},
      {"000000000100\n\r\n", ESerialResult::kMalformed},
      {"1000000000000\nX", ESerialResult::kMalformed},
  };
  for (const auto& c : cases) {
    CTempDir dir;
    std::string szPath = dir.File("c");
    if (c.pszContent) dir.Write("c", c.pszContent);
    CSerialCounter counter(szPath, 50ms);
    uint64_t q = 0;
    std::string szError;
    EXPECT_EQ(counter.Allocate(q, szError), c.eExpected) << (c.pszContent ? c.pszContent : "none");
    EXPECT_FALSE(szError.empty());
    if (c.pszContent) {
      EXPECT_EQ(ReadWholeFile(szPath), c.pszContent);
    }
  }
}

// The number alone, with LF or with CRLF (a counter made on Windows or in an
// editor there): each gives its serial and becomes the next one.
TEST(SerialCounter, TakesTheNumberWithOrWithoutALineEnd) {
  for (const char* pszContent : {"0000000001fE", "0000000001FE\n", "0000000001FE\r\n"}) {
    SCOPED_TRACE(pszContent);
    CTempDir dir;
    CSerialCounter counter(dir.Write("c", pszContent), 50ms);
    uint64_t q = 0;
    std::string szError;
    ASSERT_EQ(counter.Allocate(q, szError), ESerialResult::kOk) << szError;
    EXPECT_EQ(q, 0x1FEu);
    EXPECT_EQ(ReadWholeFile(counter.Path()), "0000000001FF\n");
  }
}

TEST(SerialCounter, HandsOutTheLastSerialThenRefuses) {
  CTempDir dir;
  CSerialCounter counter(dir.File("c"), 50ms);
  std::string szError;
  ASSERT_EQ(counter.CreateIfMissing(0xFFFFFFFFFFFE, szError), ESerialResult::kOk);
  // A second start value neither resets an existing counter nor leaves a
  // copy beside it (a station's every Start gives the start again).
  ASSERT_EQ(counter.CreateIfMissing(0x100, szError), ESerialResult::kOk);
  EXPECT_EQ(dir.Count(), 1u);
  uint64_t q = 0;
  ASSERT_EQ(counter.Allocate(q, szError), ESerialResult::kOk);
  EXPECT_EQ(q, 0xFFFFFFFFFFFEu);
  ASSERT_EQ(counter.Allocate(q, szError), ESerialResult::kOk);
  EXPECT_EQ(q, kLastSerial);
  EXPECT_EQ(counter.Allocate(q, szError), ESerialResult::kExhausted);
  EXPECT_EQ(counter.Allocate(q, szError), ESerialResult::kExhausted);
}

TEST(ProductionLog, AppendsOneParsableLinePerBoard) {
  CTempDir dir;
  std::string szPath = dir.Write("p.jsonl", "{\"earlier\": 1}\n");
  CProductionLog log;
  std::string szError;
  ASSERT_TRUE(log.Open(szPath, szError)) << szError;
  PRODUCTION_RECORD r;
  r.szPath = "sim:2\xff";  // invalid UTF-8 from outside must not throw
  r.wVid = 0x3A7C;
  r.wPid = 0x4250;
  r.qwSerial = 0x101;
  r.szResult = "rolled-back";
  r.nCode = 8002;
  ASSERT_TRUE(log.Append(r, szError)) << szError;
  r.qwSerial.reset();
  r.szBackup = "/b/x.bin";
  ASSERT_TRUE(log.Append(r, szError)) << szError;
  std::istringstream lines(ReadWholeFile(szPath));
  std::string szLine;
  std::getline(lines, szLine);
  std::getline(lines, szLine);
  auto j = nlohmann::json::parse(szLine);
  EXPECT_EQ(j["vid"], "3A7C");
  EXPECT_EQ(j["serial"], "000000000101");
  EXPECT_EQ(j["result"], "rolled-back");
  EXPECT_TRUE(j["backup"].is_null());
  std::getline(lines, szLine);
  j = nlohmann::json::parse(szLine);
  EXPECT_TRUE(j["serial"].is_null());
  EXPECT_EQ(j["backup"], "/b/x.bin");
  EXPECT_FALSE(std::getline(lines, szLine));
}

TEST(ProductionLog, FindsTheSerialsEarlierRunsUsed) {
  CTempDir dir;
  const auto board = [](uint64_t qwSerial, const char* pszResult) {
    PRODUCTION_RECORD r;
    r.qwSerial = qwSerial;
    r.szResult = pszResult;
    return ProductionLogLine(r) + "\n";
  };
  PRODUCTION_RECORD unusable;
  unusable.szResult = "fail";
  unusable.nCode = -1;
  const std::string szLog =
      ProductionStartLine("t", "00000000010400000000010400000000010400000000010400000000") +
      "\n" + board(0x100, "pass") + board(0x101, "rolled-back") + board(0x102, "retry") +
      ProductionLogLine(unusable) + "\n" +
      "{\"serial\": \"000000000103\", \"result\": \"pa\n" +             // damaged
      "{\"serial\": \"000000000105\", \"note\": \"" + std::string(70000, 'x') + "\"}\n" +
      R"({"serial": "00000000abcd", "result": "pass"})" "\n" +
      R"({"event": "returned-unused", "first": "000000000108", "last": "00000000010F"})" "\n" +
      board(0x110, "pass").substr(0, board(0x110, "pass").size() - 1);  // no line end yet
  const std::string szPath = dir.Write("p.jsonl", szLog);
  const struct {
    uint64_t qwSerial;
    ELogSerial eWanted;
  } kCases[] = {
      {0x100, ELogSerial::kUsed},   {0x101, ELogSerial::kUsed},   {0x102, ELogSerial::kUsed},
      {0x103, ELogSerial::kUnused},  // only in a damaged line
      {0x104, ELogSerial::kUnused},  // only inside the start line's hash
      {0x105, ELogSerial::kUnused},  // only in a line too long for the log
      {0x107, ELogSerial::kUnused}, {0x108, ELogSerial::kUsed},   {0x10F, ELogSerial::kUsed},
      {0x110, ELogSerial::kUsed},   {0xABCD, ELogSerial::kUsed},  {0x111, ELogSerial::kUnused},
  };
  for (const auto& c : kCases) {
    std::string szError;
    EXPECT_EQ(FindSerialInLog(szPath, c.qwSerial, szError), c.eWanted) << FormatSerial(c.qwSerial);
  }
  std::string szError;
  EXPECT_EQ(FindSerialInLog(dir / "none.jsonl", 0x100, szError), ELogSerial::kUnused);
  EXPECT_EQ(FindSerialInLog(dir.Path(), 0x100, szError), ELogSerial::kUnreadable);
  EXPECT_NE(szError.find(dir.Path()), std::string::npos) << szError;
}

TEST(Backup, NamesAreSafeAndNeverReplaceAnEarlierBackup) {
  struct {
    const char* pszPath;
    const char* pszName;
  } names[] = {
      {"sim:1", "20261209T101500Z_3A7C-4250_sim-1.bin"},
      {"/dev/hidraw3", "20261209T101500Z_3A7C-4250_hidraw3.bin"},
      {"../../etc/x", "20261209T101500Z_3A7C-4250_-.-..-etc-x.bin"},
      {"", "20261209T101500Z_3A7C-4250_board.bin"},
  };
  const std::time_t t = 1796811300;  // 2026-12-09 10:15:00 UTC
  for (const auto& n : names) EXPECT_EQ(BackupFileName(t, 0x3A7C, 0x4250, n.pszPath), n.pszName);

  CTempDir dir;
  std::string szFolder = dir.File("state/qrt4250/backups");
  const uint8_t a[] = {1, 2, 3}, b[] = {4, 5};
  std::string szFirst, szSecond, szError;
  ASSERT_TRUE(SaveBackup("", szFolder, t, 0x3A7C, 0x4250, "sim:1", a, 3, szFirst, szError));
  ASSERT_TRUE(SaveBackup("", szFolder, t, 0x3A7C, 0x4250, "sim:1", b, 2, szSecond, szError));
  const std::filesystem::path first(szFirst), second(szSecond);
  EXPECT_EQ(first.parent_path(), std::filesystem::path(szFolder));
  EXPECT_EQ(first.filename(), "20261209T101500Z_3A7C-4250_sim-1.bin");
  EXPECT_EQ(second.parent_path(), std::filesystem::path(szFolder));
  EXPECT_EQ(second.filename(), "20261209T101500Z_3A7C-4250_sim-1-2.bin");
  EXPECT_EQ(ReadWholeFile(szFirst), std::string("\1\2\3"));
  EXPECT_EQ(ReadWholeFile(szSecond), std::string("\4\5"));
  // A folder that cannot be made refuses the backup.
  EXPECT_FALSE(SaveBackup("", szFirst + "/sub", t, 1, 2, "p", a, 3, szSecond, szError));
  EXPECT_FALSE(szError.empty());
}

// A work order's range and a station's lease of blocks: nothing is handed
// out past the range's last serial, a block is cut at it, a lease left by a
// crash goes on from its file, and a file that is no lease is refused. At
// the end the lease gives back what it still holds, and nothing once used up.
TEST(SerialCounter, WorkOrderRangeAndStationLease) {
  CTempDir dir;
  const struct {
    const char* pszLease;  // the station file before; nullptr: none
    uint64_t qwLast;       // the work order's last serial
    std::vector<int64_t> vSerials;  // handed out in turn; -1: refused (kExhausted/kMalformed)
    const char* pszCounter;         // the counter after
    std::vector<uint64_t> vReturned;  // the lease's unused (first, last); empty: none
  } cases[] = {
      {nullptr, 0x104, {0x100, 0x101, 0x102, 0x103, 0x104, -1}, "000000000105\n", {}},
      // One block of 4 at once, then the next one.
      {"", 0xFFFF, {0x100, 0x101, 0x102, 0x103, 0x104}, "000000000108\n", {0x105, 0x107}},
      // The block cut at the range's end, then nothing more.
      {"", 0x101, {0x100, 0x101, -1}, "000000000102\n", {}},
      {"000000000106 000000000107\r\n", 0xFFFF, {0x106, 0x107, 0x100}, "000000000104\n",
       {0x101, 0x103}},
      {"000000000106\n", 0xFFFF, {-1}, "000000000100\n", {}},
      // A lease left by a crash reaches past this work order's last serial:
      // what is past it stays unused, and the counter is not touched.
      {"000000000106 000000000107\n", 0x106, {0x106, -1, -1}, "000000000100\n", {0x107, 0x107}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszLease ? c.pszLease : "counter");
    const std::string szCounter = dir.Write("c", "000000000100\n");
    std::filesystem::remove(dir / "lease");
    if (c.pszLease != nullptr && *c.pszLease) dir.Write("lease", c.pszLease);
    CSerialCounter counter(szCounter, 0ms);
    counter.SetLast(c.qwLast);
    CSerialLease lease(counter, dir / "lease", 4);
    ISerialSource& source = c.pszLease ? static_cast<ISerialSource&>(lease) : counter;
    for (int64_t nExpected : c.vSerials) {
      uint64_t q = 0;
      std::string szError;
      const ESerialResult e = source.Allocate(q, szError);
      EXPECT_EQ(e == ESerialResult::kOk ? static_cast<int64_t>(q) : -1, nExpected) << szError;
    }
    EXPECT_EQ(ReadWholeFile(szCounter), c.pszCounter);
    if (c.pszLease == nullptr) continue;
    std::vector<uint64_t> vReturned(2);
    std::string szError;
    if (!lease.ReturnUnused(vReturned[0], vReturned[1], szError)) vReturned.clear();
    EXPECT_EQ(vReturned, c.vReturned);
  }
}
