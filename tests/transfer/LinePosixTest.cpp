// A production line on simulated boards, each on its own virtual clock and
// thread: retries, a burned serial, rework, a refusing --before hook, and
// two stations (processes) leasing blocks of one counter.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "Line.h"
#include "SettingsRules.h"
#include "SimSetup.h"
#include "Command.h"
#include "TestDirectory.h"
#include "TestEnvironment.h"

namespace {

using namespace qrt::transfer;
using qrt::production::FormatSerial;
using json = nlohmann::ordered_json;  // keys in the order written

// The keys of every board's line, the same in the log and program --json.
const std::vector<std::string> kRecordKeys = {
    "time",       "station",       "operator",     "work_order",      "tool_version", "path",
    "usb_serial", "eeprom",        "profile",      "golden",          "golden_sha256", "vid",
    "pid",        "serial",        "previous_serial", "rework",       "attempts",     "result",
    "code",       "mismatch_at",   "elapsed_s",    "device_s",        "image_sha256", "backup",
    "reason",     "note"};

// Every start, progress and finish, checked for coming one at a time.
class CRecordingObserver : public ILineObserver {
 public:
  void OnBoardStarted(size_t nBoard, const USB42XX_MGR::BOARD_INFO&) override {
    Enter();
    vStarted.push_back(nBoard);
    Leave();
  }
  void OnBoardProgress(size_t nBoard, USB42XX_MGR::EEepromProgress, int nPercent) override {
    Enter();
    nLastPercent[nBoard] = nPercent;
    Leave();
  }
  void OnBoardFinished(size_t nBoard, const BOARD_STEP&) override {
    Enter();
    vFinished.push_back(nBoard);
    Leave();
  }
  std::vector<size_t> vStarted, vFinished;
  std::map<size_t, int> nLastPercent;
  bool bOverlapped = false;

 private:
  void Enter() { bOverlapped |= m_bInside.exchange(true); }
  void Leave() { m_bInside = false; }
  std::atomic<bool> m_bInside = false;
};

// One station: nBoards simulated boards with these faults, programmed at
// once, serials leased from the shared counter in blocks of 10.
struct STATION {
  std::string szName;
  std::vector<std::string> vFaults;
  int nBoards;
};

struct STATION_RUN {
  LINE_RESULT Result;
  CRecordingObserver Observer;
  uint64_t qwReturnedFirst = 0, qwReturnedLast = 0;
  bool bReturned = false;
  double dModelledS = 0;
};

void RunStationOn(const STATION& station, const qrt::test::CTempDir& dir,
                  const std::vector<uint8_t>* pReworkSeed, STATION_RUN& run) {
  SIM_OPTIONS options;
  options.nBoards = station.nBoards;
  options.vFaults = station.vFaults;
  options.bBoardClocks = true;
  SIM_SPEC spec;
  std::string szError;
  ASSERT_TRUE(ParseSimSpec(options, spec, szError)) << szError;
  std::unique_ptr<CSimRig> pRig = CreateSimPlatform(spec);
  qrt::sim::CSimPlatform& platform = pRig->Platform();
  if (pReworkSeed != nullptr) {  // board 4 comes back holding its serial
    platform.Chip(3).SetEepromContents(pReworkSeed->data(), pReworkSeed->size());
  }
  qrt::image::CImageSession base;
  qrt::production::CSerialCounter counter(dir / "counter");
  qrt::production::CSerialLease lease(counter, dir / ("lease-" + station.szName), 10);
  qrt::production::CProductionLog log;
  ASSERT_TRUE(log.Open(dir / ("log-" + station.szName), szError)) << szError;
  PRODUCTION_SHARED shared{base, &lease, log};
  shared.Facts.szStation = station.szName;
  shared.Facts.szWorkOrder = "WO-7";
  shared.eRework = ERework::kKeepSerial;
  // The fixture's own check: socket 5 has no board seated.
  shared.vBefore = {"sh", "-c", "test \"$QRT_PATH\" != sim:5 || { echo not seated; exit 4; }"};
  // The label printer: what it is told, and it jams on board 1.
  shared.vAfter = {"sh", "-c",
                   "echo \"$QRT_PATH $QRT_SERIAL $QRT_RESULT\" >> \"$0\"; "
                   "test \"$QRT_PATH\" != sim:1 || { echo label printer jammed; exit 2; }",
                   dir / ("labels-" + station.szName)};
  PRODUCTION_SETTINGS settings;
  settings.bModelledTime = true;
  std::vector<USB42XX_MGR::BOARD_INFO> vBoards;
  USB42XX_MGR::BOARD_LIST_OPTIONS listing;
  ASSERT_TRUE(USB42XX_MGR::ListBoards(platform, listing, vBoards));
  run.Result = ProgramBoards(platform, vBoards, shared, settings, 0, run.Observer);
  run.bReturned = lease.ReturnUnused(run.qwReturnedFirst, run.qwReturnedLast, szError);
  if (run.bReturned) {
    ASSERT_TRUE(log.AppendReturned(station.szName, run.qwReturnedFirst, run.qwReturnedLast, szError));
  }
  run.dModelledS = pRig->SimulatedSeconds();
}

std::vector<json> LogLines(const std::string& szPath) {
  std::vector<json> lines;
  std::ifstream f(szPath);
  for (std::string s; std::getline(f, s);) lines.push_back(json::parse(s));
  return lines;
}

TEST(LinePosix, BoardsAtOnceWithRetriesReworkHooksAndLeases) {
  qrt::test::CTempDir dir;
  ASSERT_TRUE(qrt::test::SetEnvironment(qrt::test::kUserStateVariable, dir / "state"));
  dir.Write("counter", "000000000100\n");
  // The reworked board's EEPROM: the golden image with serial 000000000ABC.
  qrt::image::CImageSession reworked;
  qrt::editor::ParseSerialNumber("000000000ABC", reworked.m_RecInternalOpt.btSerialNumber);
  reworked.m_RecInternalOpt.btSerialNumberCtrl = 1;
  uint8_t btImage[qrt::image::kMaxImageSize];
  size_t nSize = 0;
  ASSERT_EQ(reworked.BuildOutputImage(btImage, &nSize), qrt::image::EBuildResult::kOk);
  const std::vector<uint8_t> vReworkSeed(btImage, btImage + nSize);

  // The other station, in its own process, takes its blocks meanwhile.
  const STATION other{"B", {}, 3};
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    STATION_RUN run;
    RunStationOn(other, dir, nullptr, run);
    _exit(run.Result.vSteps.size() == 3 && run.bReturned ? 0 : 1);
  }
  // The faults sit in the serial, which every board gets anew (a unit that
  // already holds its byte is not written, so a fault there never fires).
  const STATION mine{"A", {"2@flip-once:0x20", "3@flip:0x20"}, 5};
  STATION_RUN run;
  RunStationOn(mine, dir, &vReworkSeed, run);
  int nStatus = 0;
  ASSERT_EQ(waitpid(pid, &nStatus, 0), pid);
  ASSERT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);

  // Every board started and finished once, the calls one at a time, each
  // board's verify seen to its end.
  EXPECT_FALSE(run.Observer.bOverlapped);
  EXPECT_EQ(std::set<size_t>(run.Observer.vStarted.begin(), run.Observer.vStarted.end()).size(), 5u);
  EXPECT_EQ(run.Observer.vFinished.size(), 5u);
  for (size_t nBoard : {0u, 1u, 2u, 3u}) EXPECT_EQ(run.Observer.nLastPercent[nBoard], 100) << nBoard;
  ASSERT_EQ(run.Result.vSteps.size(), 5u);

  // What each board's line says (in the order of the boards).
  const struct {
    const char* pszResult;
    int nAttempts;
    int nSerial;  // the lease's first + n; -1 none, -2 the rework's
    const char* pszPrevious;
    bool bRework;
    const char* pszReason;  // the start of it; "" null
  } expected[] = {
      {"fail", 1, 0, "", false, "--after failed: exit status 2: label printer jammed"},
      {"pass", 2, 1, "", false, ""},  // flip-once: passes on the retry
      // flip: every attempt rolled back (the flipped bit already holds the
      // old value, so the rollback verifies), then its serial is burned.
      {"rolled-back", 2, 2, "", false, "verify failed: data differ at 0x0020"},
      {"pass", 1, -2, "000000000ABC", true, ""},
      {"fail", 0, -1, "", false, "--before refused the board: exit status 4: not seated"},
  };
  std::map<std::string, json> last;  // each board's last line
  std::vector<json> vRetries;
  std::set<std::string> setSerials;
  std::vector<json> vLog = LogLines(dir / "log-A");
  for (const json& j : LogLines(dir / "log-B")) {
    if (!j.contains("event") && !j["serial"].is_null()) {
      EXPECT_TRUE(setSerials.insert(j["serial"]).second) << j;
    }
  }
  ASSERT_FALSE(vLog.empty());
  EXPECT_EQ(vLog.back()["event"], "returned-unused");
  for (const json& j : vLog) {
    if (j.contains("event")) continue;
    std::vector<std::string> vKeys;
    for (auto it = j.begin(); it != j.end(); ++it) vKeys.push_back(it.key());
    EXPECT_EQ(vKeys, kRecordKeys);
    if (j["result"] == "retry") {
      vRetries.push_back(j);
    } else {
      last[j["path"]] = j;
      // Each serial once over both stations (a retry writes the same one).
      if (!j["serial"].is_null() && !j["rework"].get<bool>()) {
        EXPECT_TRUE(setSerials.insert(j["serial"]).second) << j;
      }
    }
  }
  ASSERT_EQ(last.size(), 5u);
  // Serials in the boards' order from the lease: 3 taken, 7 returned.
  ASSERT_TRUE(run.bReturned);
  const uint64_t qwFirst = run.qwReturnedFirst - 3;
  const auto serialOf = [&](int n) {
    return n == -1 ? json(nullptr) : json(n == -2 ? "000000000ABC" : FormatSerial(qwFirst + n));
  };
  const std::string szLabels = qrt::test::ReadWholeFile(dir / "labels-A");
  for (size_t i = 0; i < 5; ++i) {
    const auto& e = expected[i];
    const json& j = last["sim:" + std::to_string(i + 1)];
    SCOPED_TRACE(j.dump());
    EXPECT_EQ(j["result"], e.pszResult);
    EXPECT_EQ(j["attempts"], e.nAttempts);
    EXPECT_EQ(j["serial"], serialOf(e.nSerial));
    EXPECT_EQ(j["previous_serial"], *e.pszPrevious ? json(e.pszPrevious) : json(nullptr));
    EXPECT_EQ(j["rework"], e.bRework);
    if (*e.pszReason) {
      EXPECT_EQ(j["reason"].get<std::string>().rfind(e.pszReason, 0), 0u);
    } else {
      EXPECT_TRUE(j["reason"].is_null());
    }
    EXPECT_EQ(j["station"], "A");
    // The after hook was told what the line says (a board --before refused
    // never gets to it).
    if (e.nAttempts > 0) {
      const std::string szTold = j["path"].get<std::string>() + " " +
                                 (j["serial"].is_null() ? "" : j["serial"].get<std::string>()) +
                                 " " + (i == 0 ? "pass" : j["result"].get<std::string>());
      EXPECT_NE(szLabels.find(szTold + "\n"), std::string::npos) << szLabels;
    }
    EXPECT_EQ(j["work_order"], "WO-7");
    EXPECT_EQ(j["eeprom"], "24C02");
    // Boards written ran on their own clocks: each one's modelled time.
    if (e.nAttempts > 0) {
      EXPECT_GT(j["device_s"].get<double>(), 0.1);
    }
  }
  ASSERT_EQ(vRetries.size(), 2u);
  for (const json& j : vRetries) {
    const int nBoard = j["path"] == "sim:2" ? 1 : 2;
    EXPECT_EQ(j["path"], "sim:" + std::to_string(nBoard + 1));
    EXPECT_EQ(j["serial"], serialOf(nBoard));  // a retry keeps the board's serial
    EXPECT_EQ(j["mismatch_at"], 0x20);
    EXPECT_EQ(j["backup"], last[j["path"].get<std::string>()]["backup"]);  // one backup per board
  }
  // The boards' modelled time is the sum of their clocks, not the wall.
  double dDeviceS = 0;
  for (const auto& [szPath, j] : last) dDeviceS += j["device_s"].is_null() ? 0 : j["device_s"].get<double>();
  EXPECT_GE(run.dModelledS + 0.01, dDeviceS);

  // Each station leased one block of 10: the counter is past both, the
  // serials a station did not use are returned, never handed out.
  EXPECT_EQ(qrt::test::ReadWholeFile(dir / "counter"), "000000000114\n");
  EXPECT_EQ(run.qwReturnedLast - run.qwReturnedFirst + 1, 7u);
  for (uint64_t q = run.qwReturnedFirst; q <= run.qwReturnedLast; ++q) {
    EXPECT_EQ(setSerials.count(FormatSerial(q)), 0u);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "lease-A"));
}

// A site's serial command and the hooks' runner: what each outcome says.
TEST(LinePosix, CommandsBesideTheBoards) {
  const struct {
    const char* pszCommand;
    int nTimeOutMs;
    const char* pszSerial;  // nullptr: refused
    const char* pszSays;    // the refusal's text
  } cases[] = {
      {"printf '0000000000AB\\r\\n'", 5000, "0000000000AB", ""},
      {"echo 00AB", 5000, nullptr, "--serial-command printed no serial of 12 hex digits: \"00AB\""},
      {"sh -c 'echo \"pool empty\" >&2; exit 3'", 5000, nullptr,
       "--serial-command: exit status 3: pool empty"},
      {"sleep 5", 100, nullptr, "--serial-command: killed after 0.1 s"},
      {"/nonexistent/serials", 5000, nullptr,
       "--serial-command: cannot run it: /nonexistent/serials: No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszCommand);
    std::vector<std::string> vWords;
    std::string szError;
    ASSERT_TRUE(SplitCommand(c.pszCommand, vWords, szError)) << szError;
    CSerialCommand command(vWords, {}, c.nTimeOutMs);
    uint64_t qwSerial = 0;
    const auto e = command.Allocate(qwSerial, szError);
    if (c.pszSerial != nullptr) {
      ASSERT_EQ(e, qrt::production::ESerialResult::kOk) << szError;
      EXPECT_EQ(FormatSerial(qwSerial), c.pszSerial);
    } else {
      EXPECT_EQ(e, qrt::production::ESerialResult::kRefused);
      EXPECT_EQ(szError, c.pszSays);
    }
  }
  std::vector<std::string> vWords;
  std::string szError;
  EXPECT_TRUE(SplitCommand(R"(a "b c" 'd"e' f\ g)", vWords, szError));
  EXPECT_EQ(vWords, (std::vector<std::string>{"a", "b c", "d\"e", "f g"}));
  EXPECT_FALSE(SplitCommand("a 'b", vWords, szError));
  EXPECT_FALSE(SplitCommand("  ", vWords, szError));
}

}  // namespace
