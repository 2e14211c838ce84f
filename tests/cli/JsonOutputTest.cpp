// qrt4250-cli --json: one document on every exit, an "error" in it on every
// failure, and text that is not UTF-8 kept as \xHH instead of ending the
// program. Also what a write says on stderr, and the timing options' ranges.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CliRun.h"
#include "ImageFiles.h"
#include "SampleImages.h"
#include "TestDirectory.h"
#include "TestEnvironment.h"

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

using qrt::test::CRun;
using qrt::test::RunCliWith;

class JsonOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Dir = qrt::test::MakeTestDirectory("qrt-cli-json-");
    ASSERT_FALSE(m_Dir.empty());
    ASSERT_TRUE(SetState("state"));
    const auto image = qrt::test::DefaultImage();
    qrt::image::WriteBinFile(P("in.bin"), image.data(), image.size());
    auto noSignature = image;
    noSignature[0] = 0;
    qrt::image::WriteBinFile(P("nosig.bin"), noSignature.data(), noSignature.size());
  }
  void TearDown() override { fs::remove_all(m_Dir); }
  std::string P(const std::string& name) const { return (m_Dir / name).string(); }
  // Backups of every write go below this folder of the test's own.
  bool SetState(const std::string& name) {
    return qrt::test::SetEnvironment(qrt::test::kUserStateVariable, P(name));
  }

  // The whole of stdout as exactly one JSON document (discarded otherwise).
  static json Document(const CRun& r) { return json::parse(r.out, nullptr, false); }

  fs::path m_Dir;
};

}  // namespace

// Every failure with --json: the exit status the command has without it, one
// document on stdout with the error text, one error line on stderr.
TEST_F(JsonOutputTest, EveryFailurePrintsOneDocumentWithTheError) {
  struct SCase {
    std::vector<std::string> args;
    int nExit;
    std::string szError;  // a part of the "error" text
  };
  const std::vector<std::string> read = {"read", "--eeprom", "24C02", "-o", P("x.bin"), "--simulate"};
  const auto with = [](std::vector<std::string> base, std::initializer_list<std::string> more) {
    base.insert(base.end(), more);
    return base;
  };
  const SCase cases[] = {
      // Options refused before any command runs.
      {with(read, {"--lock-timeout", "-1", "--json"}), 1, "--lock-timeout"},
      {{"write", P("in.bin"), "--profile", "slow", "--json"}, 1, "--profile"},
      {{"list", "--json", "--xml"}, 1, "--xml"},
      {{"read", "--eeprom", "24C02", "--simulate", "--json"}, 1, "--output is required"},
      {{"program", "--json", "--simulate", "--image", P("in.bin")}, 1, "--log is required"},
      {{"convert", P("in.bin"), P("x.bin"), "--json"}, 1, "--json"},
      {{"deviceid", "encode", "--json"}, 1, "PATTERN is required"},
      {with(read, {"--read-delay", "4294967295", "--json"}), 1,
       "--read-delay: Value 4294967295 not in range 0 to 1000"},
      {with(read, {"--read-timeout", "0", "--json"}), 1, "--read-timeout: Value 0 not in range 1 to 60000"},
      {{"write", P("in.bin"), "--simulate", "--write-timeout", "99999999", "--json"}, 1,
       "--write-timeout: Value 99999999 not in range 1 to 60000"},
      {{"verify", P("in.bin"), "--simulate", "--write-delay", "1001", "--json"}, 1,
       "--write-delay: Value 1001 not in range 0 to 1000"},
      // Refusals of the commands themselves.
      {{"template", "export", "--json"}, 1, "IMAGE or --builtin"},
      {{"template", "export", P("nosig.bin")}, 1, "nosig.bin"},  // always JSON
      {{"template", "export", "--xml"}, 1, "--xml"},
      {{"show", P("nosig.bin"), "--json"}, 1, "nosig.bin"},
      {{"show", "--json"}, 1, "FILE or --builtin"},
      {{"diff", P("in.bin"), P("none.bin"), "--json"}, 2, "none.bin"},
      {{"diff", "device", "device", "--json", "--simulate"}, 2, "both the chosen board"},
      {with(read, {"--json", "--path", "sim:\xFF"}), 1, "no board at sim:\\xFF"},
      {{"program", "--json", "--simulate", "--image", P("in.bin"), "--log", P("p.jsonl"),
        "--sim-fault", "stay-busy"},
       1, "1 of 1 board(s) failed"},
  };
  for (const SCase& c : cases) {
    const CRun r = RunCliWith(c.args);
    SCOPED_TRACE(c.args[0] + " " + c.szError + "\nout: " + r.out + "\nerr: " + r.err);
    EXPECT_EQ(r.nExit, c.nExit);
    const json j = Document(r);
    ASSERT_TRUE(j.is_object());
    ASSERT_TRUE(j.contains("error") && j["error"].is_string());
    EXPECT_NE(j["error"].get<std::string>().find(c.szError), std::string::npos);
    EXPECT_EQ(r.err.find("qrt4250-cli: error: "), r.err.rfind("qrt4250-cli: error: "));
  }
}

// File names, board paths and the backup folder reach the documents as the
// user gave them; bytes that are not UTF-8 come out as \xHH.
TEST_F(JsonOutputTest, TextThatIsNotUtf8IsEscapedNotFatal) {
  struct SCase {
    std::vector<std::string> args;
    std::string szState;  // the user's state folder (backups)
    int nExit;
    std::string szPointer, szText;  // the value at the pointer contains the text
  };
  const SCase cases[] = {
#ifndef _WIN32  // names Windows cannot store
      {{"read", "--eeprom", "24C02", "-o", P("x\xFF.bin"), "--simulate", "--json"}, "state", 0,
       "/file", P("x\\xFF.bin")},
      {{"write", P("in.bin"), "--simulate", "--json"}, "s\xFE", 0, "/backup", P("s\\xFE")},
      {{"program", "--json", "--simulate", "--image", P("in.bin"), "--log", P("p.jsonl")}, "p\xFE",
       0, "/boards/0/backup", P("p\\xFE")},
#endif
      // Relative names: a path made of the test folder would be converted on Windows.
      {{"template", "export", "t\xC3.bin"}, "state", 1, "/error", "\"t\\xC3.bin\""},
      {{"diff", P("in.bin"), "d\x80.bin", "--json"}, "state", 2, "/error", "\"d\\x80.bin\""},
      {{"write", P("in.bin"), "--simulate", "--json", "--path", "sim:\xFF"}, "state", 1, "/error",
       "sim:\\xFF"},
  };
  for (const SCase& c : cases) {
    ASSERT_TRUE(SetState(c.szState));
    const CRun r = RunCliWith(c.args);
    SCOPED_TRACE(c.args[0] + " " + c.szText + "\nout: " + r.out + "\nerr: " + r.err);
    EXPECT_EQ(r.nExit, c.nExit);
    const json j = Document(r);
    ASSERT_FALSE(j.is_discarded());
    EXPECT_NE(j.value(json::json_pointer(c.szPointer), "").find(c.szText), std::string::npos);
  }
#ifndef _WIN32
  EXPECT_TRUE(fs::exists(P("x\xFF.bin")));
  // The production log line names the backup the same way.
  // The board's line is the last; the run's start line comes first.
  const std::string szLog = qrt::test::ReadWholeFile(P("p.jsonl"));
  const size_t nLast = szLog.find_last_of('\n', szLog.size() - 2);
  const json line = json::parse(szLog.substr(nLast == std::string::npos ? 0 : nLast + 1), nullptr, false);
  ASSERT_TRUE(line.is_object());
  EXPECT_EQ(line["backup"].get<std::string>().find(P("p\\xFE")), 0u);
#endif
}

// A write's backup read is part of the write: its "Load data from EEPROM OK!"
// is not printed, the result line says it all. A read still reports it.
TEST_F(JsonOutputTest, WriteSaysOnlyItsOwnLines) {
  struct SCase {
    std::vector<std::string> args;
    const char* pszErr;
  };
  const SCase cases[] = {
      {{"write", P("in.bin"), "--simulate"}, ""},
      {{"restore", P("in.bin"), "--simulate"}, ""},
      {{"program", "--simulate", "--image", P("in.bin"), "--log", P("p.jsonl")}, ""},
      {{"read", "--eeprom", "24C02", "-o", P("r.bin"), "--simulate"}, "Load data from EEPROM OK!\n"},
  };
  for (const SCase& c : cases) {
    const CRun r = RunCliWith(c.args);
    EXPECT_EQ(r.nExit, 0) << c.args[0] << ": " << r.err;
    EXPECT_EQ(r.err, c.pszErr) << c.args[0];
  }
}

// The timing options take the window's ranges, both ends included.
TEST_F(JsonOutputTest, TimingOptionsTakeTheEndsOfTheirRanges) {
  for (const char* pszEnd : {"low", "high"}) {
    const bool bLow = pszEnd[0] == 'l';
    const CRun r = RunCliWith({"write", P("in.bin"), "--simulate", "--no-backup", "--read-timeout",
                               bLow ? "1" : "60000", "--read-delay", bLow ? "0" : "1000",
                               "--write-timeout", bLow ? "1" : "60000", "--write-delay",
                               bLow ? "0" : "1000", "--sim-fault", "write-cycle-us:0"});
    EXPECT_EQ(r.nExit, 0) << pszEnd << ": " << r.err;
  }
}
