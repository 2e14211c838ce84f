// Modelled production throughput of a 24C16 board on the simulated chip's
// virtual clock: the protected write as write and program run it (backup
// read, write, full read-back and comparison), for a blank part and for a
// programmed part that only gets a new serial, in both profiles, writing
// only the units that differ and (--write-all) every unit.
//
// Boards at once are modelled, not run: each board is its own simulated
// chip on its own virtual clock, so N boards take as long as the slowest of
// them. The model assumes each board sits on its own full-speed interrupt
// endpoint that carries one report per 1 ms frame, with no contention for
// the bus between boards, and no host CPU time. A hub shared by many boards
// and the host's own work would lower the figures for 4 and 8 boards; the
// operator's time to plug boards is not counted either.
//
//   bench_program [latency us, 1000] [write cycle us, 5000]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchBoard.h"
#include "EepromProcedure.h"
#include "ImageSession.h"
#include "ProtectedWrite.h"
#include "SettingsRules.h"

using namespace USB42XX_MGR;

namespace {

constexpr uint32_t kSize = 2048;  // 24C16

// The built-in default image at the 24C16 size with the serial in the
// header and its string switched on, as program builds each board's image.
std::vector<uint8_t> BoardImage(uint64_t qwSerial) {
  qrt::image::CImageSession session;
  session.SetRomSize(kSize);
  char szSerial[16];
  std::snprintf(szSerial, sizeof(szSerial), "%012llX", static_cast<unsigned long long>(qwSerial));
  qrt::editor::ParseSerialNumber(szSerial, session.m_RecInternalOpt.btSerialNumber);
  session.m_RecInternalOpt.btSerialNumberCtrl = 1;
  std::vector<uint8_t> vImage(qrt::image::kMaxImageSize, 0xFF);
  size_t nSize = 0;
  if (session.BuildOutputImage(vImage.data(), &nSize) != qrt::image::EBuildResult::kOk ||
      nSize != kSize) {
    std::fprintf(stderr, "cannot build the image\n");
    std::exit(2);
  }
  vImage.resize(kSize);
  return vImage;
}

struct Board {
  double dSeconds = 0;  // device time of the protected write
  size_t nWritten = 0;  // bytes sent
  bool bOk = false;
};

// One board: holds vBefore, gets the image of qwSerial.
Board Program(const std::vector<uint8_t>& vBefore, uint64_t qwSerial, ETransferProfile eProfile,
              bool bWriteAll, uint32_t dwLatencyUs, uint32_t dwWriteCycleUs,
              const std::filesystem::path& backupFolder) {
  CBenchBoard bench(0, "24C16",
                    "latency-us:" + std::to_string(dwLatencyUs) +
                        ",write-cycle-us:" + std::to_string(dwWriteCycleUs));
  qrt::sim::CSimPlatform& platform = bench.Platform();
  platform.Chip(0).SetEepromContents(vBefore.data(), vBefore.size());
  EEPROM_TRANSFER_SETTINGS settings;
  settings.m_bReportId = bench.pBoard->ReportIdFlag();
  settings.m_Profile.eKind = eProfile;
  settings.m_Profile.dwWriteCycleMs = (dwWriteCycleUs + 999) / 1000;
  settings.m_Profile.bWriteAll = bWriteAll;
  qrt::transfer::PROTECTED_WRITE_OPTIONS options;
  static int nBackup = 0;
  options.szBackupFile = (backupFolder / ("b" + std::to_string(++nBackup) + ".bin")).string();
  class CSilent : public IEepromObserver {
    void OnPlainMessage(const std::string&) override {}
    void OnProgress(EEepromProgress, int) override {}
  } silent;
  const std::vector<uint8_t> vImage = BoardImage(qwSerial);
  const uint64_t qwStart = platform.Clock().NowUs();
  const qrt::transfer::WRITE_OUTCOME outcome = qrt::transfer::ProtectedWrite(
      *bench.pBoard, settings, silent, vImage.data(), vImage.size(), options);
  Board board;
  board.dSeconds = static_cast<double>(platform.Clock().NowUs() - qwStart) / 1e6;
  board.nWritten = outcome.nBytesWritten;
  board.bOk = outcome.Passed() && platform.Chip(0).Eeprom() == vImage &&
              platform.Chip(0).Violations().empty();
  return board;
}

}  // namespace

int main(int argc, char** argv) {
  const long nLatencyUs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000;
  const long nWriteCycleUs = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 5000;
  if (nLatencyUs < 0 || nLatencyUs > 100000 || nWriteCycleUs < 0 || nWriteCycleUs > 100000) {
    std::fprintf(stderr, "usage: bench_program [latency us, 1000] [write cycle us, 5000]\n");
    return 2;
  }
  const uint32_t dwLatencyUs = static_cast<uint32_t>(nLatencyUs);
  const uint32_t dwWriteCycleUs = static_cast<uint32_t>(nWriteCycleUs);
  std::error_code ec;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("bench_program." +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(folder, ec);

  std::printf(
      "Programming a 24C16 (built-in image, serial in the header): backup read, write,\n"
      "read-back and comparison, on the simulated chip's virtual clock: %ld us per HID\n"
      "report, EEPROM write cycle %ld us.\n"
      "blank:     the part is erased (0xFF)\n"
      "reprogram: the part holds the image with serial N and gets serial N+1\n\n",
      nLatencyUs, nWriteCycleUs);
  const std::vector<uint8_t> vBlank(kSize, 0xFF);
  const ETransferProfile profiles[] = {ETransferProfile::Default, ETransferProfile::Fast};
  const char* const pszProfiles[] = {"default", "fast"};
  struct Job {
    const char* pszName;
    bool bBlank;
  } const jobs[] = {{"blank", true}, {"reprogram", false}};
  bool bAllOk = true;
  std::printf("%-8s %-10s | %11s %9s | %11s %9s\n", "profile", "board", "write-all s", "bytes",
              "changed s", "bytes");
  for (int p = 0; p < 2; ++p) {
    for (int j = 0; j < 2; ++j) {
      const uint64_t qwSerial = 0x100;
      const std::vector<uint8_t> vBefore = jobs[j].bBlank ? vBlank : BoardImage(qwSerial - 1);
      const Board all =
          Program(vBefore, qwSerial, profiles[p], true, dwLatencyUs, dwWriteCycleUs, folder);
      const Board changed =
          Program(vBefore, qwSerial, profiles[p], false, dwLatencyUs, dwWriteCycleUs, folder);
      bAllOk = bAllOk && all.bOk && changed.bOk;
      std::printf("%-8s %-10s | %11.2f %9zu | %11.2f %9zu%s\n", pszProfiles[p], jobs[j].pszName,
                  all.dSeconds, all.nWritten, changed.dSeconds, changed.nWritten,
                  all.bOk && changed.bOk ? "" : "  FAILED");
    }
  }

  // Boards at once: each on its own chip and clock, serials N, N+1, ...;
  // the round lasts as long as its slowest board.
  std::printf(
      "\nBoards per hour, boards programmed at once (changed units only). Model: every\n"
      "board on its own full-speed interrupt endpoint, one report per 1 ms frame, no\n"
      "contention between boards on the bus, no host CPU time, no time to plug boards.\n\n");
  std::printf("%-8s %-10s", "profile", "board");
  const int nCounts[] = {1, 2, 4, 8};
  for (int n : nCounts) std::printf(" %9d", n);
  std::printf("\n");
  for (int p = 0; p < 2; ++p) {
    for (int j = 0; j < 2; ++j) {
      std::printf("%-8s %-10s", pszProfiles[p], jobs[j].pszName);
      for (int n : nCounts) {
        double dRound = 0;
        for (int k = 0; k < n; ++k) {
          const uint64_t qwSerial = 0x100 + static_cast<uint64_t>(k);
          const std::vector<uint8_t> vBefore = jobs[j].bBlank ? vBlank : BoardImage(qwSerial - 1);
          const Board b =
              Program(vBefore, qwSerial, profiles[p], false, dwLatencyUs, dwWriteCycleUs, folder);
          bAllOk = bAllOk && b.bOk;
          dRound = std::max(dRound, b.dSeconds);
        }
        std::printf(" %9.0f", n * 3600.0 / dRound);
      }
      std::printf("\n");
    }
  }
  std::filesystem::remove_all(folder, ec);
  if (!bAllOk) std::printf("\nFAILED: a board did not end with its image\n");
  return bAllOk ? 0 : 1;
}
