// The engine's simulator set-up, shared by both programs, the benches and
// the tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "HidrawPlatform.h"
#include "Line.h"
#include "SimSetup.h"
#include "SimTestSupport.h"
#include "Station.h"
#include "TestDirectory.h"

namespace {

using qrt::transfer::SIM_OPTIONS;
using qrt::transfer::SIM_SPEC;

// Options refused with the words the user sees, whichever program reads them;
// the seed goes through the image readers (a .hex file is text).
TEST(SimSetup, OptionsAreCheckedAndTheSeedIsReadAsAnImageFile) {
  qrt::test::CTempDir dir;
  std::vector<uint8_t> vImage(256);
  for (size_t i = 0; i < vImage.size(); ++i) vImage[i] = static_cast<uint8_t>(i * 7 + 1);
  std::string szHex;
  for (uint8_t bt : vImage) {
    char sz[4];
    std::snprintf(sz, sizeof sz, "%02x\r", bt);
    szHex += sz;
  }
  const std::string szSeed = dir.Write("seed.hex", szHex);
  struct {
    SIM_OPTIONS options;
    const char* pszError;  // empty: accepted
  } cases[] = {
      {{szSeed, "24C04", 2, 3, {}, {}, {"2@flip:0x10", "latency-us:5"}, false}, ""},
      {{"", "24C32", 0, 1, {}, {}, {}, false}, "--sim-eeprom must be 24C02, 24C04, 24C08 or 24C16"},
      {{"", "24C02", 3, 1, {}, {}, {}, false}, "--sim-layout must be 0, 1 or 2"},
      {{"", "24C02", 0, 9, {}, {}, {}, false}, "--sim-boards must be 1 to 8"},
      {{"", "24C02", 0, 2, {}, {}, {"3@stay-busy"}, false}, "--sim-fault: "},
      {{dir.File("none.bin"), "24C02", 0, 1, {}, {}, {}, false}, "none.bin\": "},
  };
  for (const auto& c : cases) {
    SIM_SPEC spec;
    std::string szError;
    const bool bOk = qrt::transfer::ParseSimSpec(c.options, spec, szError);
    EXPECT_EQ(bOk, *c.pszError == '\0') << szError;
    if (!bOk) {
      EXPECT_NE(szError.find(c.pszError), std::string::npos) << szError;
    }
  }
  SIM_SPEC spec;
  std::string szError;
  ASSERT_TRUE(qrt::transfer::ParseSimSpec(cases[0].options, spec, szError));
  auto pRig = qrt::transfer::CreateSimPlatform(spec);
  ASSERT_EQ(pRig->Platform().DeviceCount(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const auto& eeprom = pRig->Platform().Chip(i).Eeprom();
    EXPECT_EQ(eeprom.size(), 512u);
    EXPECT_TRUE(std::equal(vImage.begin(), vImage.end(), eeprom.begin())) << i;
    EXPECT_EQ(pRig->Platform().Chip(i).ReportLength(), 8u);
  }
  EXPECT_EQ(pRig->Platform().BoardOf(2).Label(), "sim:3");
#ifndef _WIN32
  // A FIFO under the seed's name is refused at once instead of waited on.
  SIM_OPTIONS fifo;
  fifo.szImage = dir.File("fifo.bin");
  ASSERT_EQ(::mkfifo(fifo.szImage.c_str(), 0600), 0);
  EXPECT_FALSE(qrt::transfer::ParseSimSpec(fifo, spec, szError));
  EXPECT_NE(szError.find("fifo.bin\": Load File fail (cannot open)"), std::string::npos) << szError;
#endif
}

}  // namespace

namespace {

// Records, per listing, the boards the station hands over as new.
class CNewBoards : public qrt::transfer::IStationView {
 public:
  std::vector<std::string> m_vNow;
  void OnNoHotPlug(int) override { m_bPolls = true; }
  bool OnBoards(const std::vector<USB42XX_MGR::BOARD_INFO>& vBoards) override {
    for (const auto& board : vBoards) m_vNow.push_back(board.Id.szPath);
    return true;
  }
  void OnReady() override {}
  void OnError(const std::string& szText) override { ADD_FAILURE() << szText; }
  bool m_bPolls = false;
};

}  // namespace

// The station on two boards at /dev/hidraw1 and /dev/hidraw10. Polling, a
// board missing from one listing is new when it is back (and its neighbour
// is not). With events, a swap between two listings is seen by its removal
// alone, and /dev/hidraw1 leaving is not /dev/hidraw10 leaving.
TEST(Station, EachBoardOnceWhileItStaysPluggedAtHidrawPaths) {
  enum EAction { kUnplug1, kPlug1, kSwap1, kSwap10 };
  const struct {
    bool bEvents;
    std::vector<std::vector<EAction>> vRounds;  // before each wait
    std::vector<std::vector<std::string>> vNew;  // per listing, the first included
  } cases[] = {
      {false,
       {{kUnplug1}, {kPlug1}, {}},
       {{"/dev/hidraw1", "/dev/hidraw10"}, {}, {"/dev/hidraw1"}, {}}},
      {true,
       {{kSwap1}, {kSwap10}, {kUnplug1}, {kPlug1}},
       {{"/dev/hidraw1", "/dev/hidraw10"},
        {"/dev/hidraw1"},
        {"/dev/hidraw10"},
        {},
        {"/dev/hidraw1"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bEvents ? "events" : "polling");
    qrt::sim::CSimPlatform sim;
    for (int i = 0; i < 2; ++i) sim.AddDevice(qrt::test::SimDevice(0x3A7C, 0x4250, 1, 256));
    qrt::test::CHidrawPlatform platform(sim, {"/dev/hidraw1", "/dev/hidraw10"}, c.bEvents);
    CNewBoards view;
    std::vector<std::vector<std::string>> vSeen;
    qrt::transfer::STATION_HOOKS hooks;
    hooks.nPollMs = 0;
    hooks.fnBeforeWait = [&](qrt::sim::CSimPlatform*) {
      vSeen.push_back(std::exchange(view.m_vNow, {}));
      if (vSeen.size() > c.vRounds.size()) return true;
      for (const EAction e : c.vRounds[vSeen.size() - 1]) {
        if (e == kUnplug1 || e == kSwap1) sim.Unplug(0);
        if (e == kPlug1 || e == kSwap1) sim.Plug(0);
        if (e == kSwap10) {
          sim.Unplug(1);
          sim.Plug(1);
        }
      }
      return false;
    };
    qrt::transfer::RunStation(platform, &sim, hooks, view);
    EXPECT_EQ(view.m_bPolls, !c.bEvents);
    EXPECT_EQ(vSeen, c.vNew);
  }
}

namespace {

// A serial source that answers from a script, one result per board; the
// serials it hands out count up from 0x100.
class CScriptedSerials : public qrt::production::ISerialSource {
 public:
  explicit CScriptedSerials(std::vector<qrt::production::ESerialResult> vResults)
      : m_vResults(std::move(vResults)) {}
  qrt::production::ESerialResult Allocate(uint64_t& qwSerial, std::string& szError) override {
    const auto e = m_vResults.at(m_nCalls++);
    if (e == qrt::production::ESerialResult::kOk) {
      qwSerial = m_qwNext++;
    } else {
      szError = "the source gave none";
    }
    return e;
  }

 private:
  std::vector<qrt::production::ESerialResult> m_vResults;
  size_t m_nCalls = 0;
  uint64_t m_qwNext = 0x100;
};

class CQuietLine : public qrt::transfer::ILineObserver {
 public:
  void OnBoardStarted(size_t, const USB42XX_MGR::BOARD_INFO&) override {}
  void OnBoardProgress(size_t, USB42XX_MGR::EEepromProgress, int) override {}
  void OnBoardFinished(size_t, const qrt::transfer::BOARD_STEP&) override {}
};

}  // namespace

// The start-up check saw serials, then the source fails for board 2 (another
// station took the last one, or the site's system said no): board 2 keeps
// what it held and is logged failed without a serial; a refusal fails that
// board alone, anything else stops the run there. The --after hook (that
// one cannot run) comes for every board done, never for the one that stops
// the run: no label for a board that got no serial.
TEST(Line, ASerialThatFailsAfterTheStartLeavesTheBoardUntouched) {
  using E = qrt::production::ESerialResult;
  const struct {
    E eSecond;
    bool bStops;
  } cases[] = {{E::kExhausted, true}, {E::kRefused, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.eSecond));
    qrt::test::CTempDir dir;
    qrt::sim::CSimPlatform sim;
    for (int i = 0; i < 3; ++i) sim.AddDevice(qrt::test::SimDevice(0x3A7C, 0x4250, 1, 256));
    const std::vector<uint8_t> vHeld = sim.Chip(1).Eeprom();
    qrt::image::CImageSession base;
    CScriptedSerials serials({E::kOk, c.eSecond, E::kOk});
    qrt::production::CProductionLog log;
    std::string szError;
    ASSERT_TRUE(log.Open(dir.File("log"), szError)) << szError;
    qrt::transfer::PRODUCTION_SHARED shared{base, &serials, log};
    shared.vAfter = {dir.File("no-such-hook")};
    std::vector<USB42XX_MGR::BOARD_INFO> vBoards;
    ASSERT_TRUE(USB42XX_MGR::ListBoards(sim, {}, vBoards));
    ASSERT_EQ(vBoards.size(), 3u);
    CQuietLine quiet;
    const auto result = qrt::transfer::ProgramBoards(sim, vBoards, shared, {}, 1, quiet);
    ASSERT_EQ(result.vSteps.size(), c.bStops ? 2u : 3u);
    EXPECT_EQ(result.szStop.empty(), !c.bStops) << result.szStop;
    EXPECT_EQ(result.vSteps[0].Record.qwSerial, 0x100u);
    const auto& record = result.vSteps[1].Record;
    EXPECT_EQ(record.szNote.find("--after") == std::string::npos, c.bStops) << record.szNote;
    EXPECT_EQ(record.szResult, "fail");
    EXPECT_FALSE(record.qwSerial);
    EXPECT_NE(record.szReason.find("the source gave none"), std::string::npos) << record.szReason;
    EXPECT_EQ(sim.Chip(1).Eeprom(), vHeld) << "the board without a serial was written";
    if (!c.bStops) {
      EXPECT_EQ(result.vSteps[2].Record.qwSerial, 0x101u);
    }
  }
}

// A log that takes no more lines while boards are programmed at once: every
// board whose line is missing is named in the run's stop, not only the
// first one to finish (the others passed on screen and are in no log).
TEST(Line, EveryBoardWithoutItsLogLineIsNamed) {
  qrt::sim::CSimPlatform sim;
  sim.UseBoardClocks();  // boards at once, each on its own modelled time
  for (int i = 0; i < 3; ++i) sim.AddDevice(qrt::test::SimDevice(0x3A7C, 0x4250, 1, 256));
  qrt::image::CImageSession base;
  qrt::production::CProductionLog log;  // never opened: every append fails
  qrt::transfer::PRODUCTION_SHARED shared{base, nullptr, log};
  std::vector<USB42XX_MGR::BOARD_INFO> vBoards;
  ASSERT_TRUE(USB42XX_MGR::ListBoards(sim, {}, vBoards));
  CQuietLine quiet;
  const auto result = qrt::transfer::ProgramBoards(sim, vBoards, shared, {}, 0, quiet);
  ASSERT_FALSE(result.vSteps.empty());
  for (const auto& step : result.vSteps) {
    EXPECT_NE(result.szStop.find("no line for board " + step.Record.szPath),
              std::string::npos)
        << result.szStop;
  }
}
