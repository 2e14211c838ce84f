// Two tables of the EEPROM transfer on the simulated chip.
//
// 1. Reports per EEPROM byte and host time per byte for the read and the
//    verified write at zero latency, for each report layout. The protocol
//    needs 10 reports per byte read and 12 per byte written in layout 0 when
//    the busy bit clears at the first status read; the fixed cost of a call
//    (busy wait, enable bit, block select) is shown apart.
// 2. The modelled time on a real board: the whole read and write procedures
//    (registers, probe read, transfer, read-back) on the
//    simulated chip's virtual clock, which charges a fixed time per HID report
//    and lets the host's delays pass; per layout and EEPROM size, for the
//    default and the fast profile side by side.
//
//   bench_transfer [bytes 1..2048] [busy reads 0..9] [latency us] [write cycle us]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BoardHandle.h"
#include "EepromProcedure.h"
#include "SimSetup.h"

using namespace USB42XX_MGR;

namespace {

// One simulated board of the layout and EEPROM type with the faults and
// timing given (the simulator's own option texts), opened.
struct CBenchBoard {
  CBenchBoard(uint8_t nLayout, const std::string& szEeprom, const std::string& szFaults) {
    qrt::transfer::SIM_OPTIONS options;
    options.szEeprom = szEeprom;
    options.nLayout = nLayout;
    if (!szFaults.empty()) options.vFaults.push_back(szFaults);
    qrt::transfer::SIM_SPEC spec;
    std::string szError;
    if (!qrt::transfer::ParseSimSpec(options, spec, szError)) {
      std::fprintf(stderr, "%s\n", szError.c_str());
      std::exit(2);
    }
    pRig = qrt::transfer::CreateSimPlatform(spec);
    Platform().Chip(0).SetReportLogEnabled(false);
    BOARD_OPEN_RESULT result;
    pBoard = OpenBoard(Platform(), Platform().BoardOf(0), {}, result);
  }
  qrt::sim::CSimPlatform& Platform() { return pRig->Platform(); }
  uint64_t Reports() {
    return Platform().Chip(0).OutputReportCount() + Platform().Chip(0).InputReportCount();
  }

  std::unique_ptr<qrt::transfer::CSimRig> pRig;
  std::unique_ptr<CBoardHandle> pBoard;
};

struct Figures {
  uint64_t qwReports = 0;
  double dSeconds = 0;
};

enum class EOp { Read, Write, VerifiedWrite };

Figures Run(uint8_t nLayout, EOp eOp, uint16_t wLength, uint32_t dwBusyReads) {
  CBenchBoard bench(nLayout, "24C16", "busy-reads:" + std::to_string(dwBusyReads));
  CBoardHandle& board = *bench.pBoard;
  const uint64_t qwOpened = bench.Reports();  // the probe of the open is not the call's
  uint8_t btReportId = nLayout == 0 ? 0 : 1;
  std::vector<uint8_t> data(4096, 0x5A);
  auto start = std::chrono::steady_clock::now();
  int r = 0;
  if (eOp == EOp::Read) {
    r = board.ReadI2C(1, 0, data.data(), wLength, 128, nullptr, 0, btReportId);
  } else {
    // The delay lets the EEPROM finish its write cycle (virtual time).
    r = board.WriteI2C(1, 0, data.data(), wLength, 128, nullptr, 5, btReportId);
    if (r == 0 && eOp == EOp::VerifiedWrite) {
      r = board.ReadI2C(1, 0, data.data(), wLength, 128, nullptr, 5, btReportId);
    }
  }
  auto stop = std::chrono::steady_clock::now();
  if (r != 0) std::fprintf(stderr, "transfer failed: code %d\n", r);
  Figures f;
  f.qwReports = bench.Reports() - qwOpened;
  f.dSeconds = std::chrono::duration<double>(stop - start).count();
  return f;
}

// ---- modelled time ----

// Notes the device time when the write phase of a verified write ends.
class CTimingObserver : public IEepromObserver {
 public:
  explicit CTimingObserver(qrt::sim::CSimClock& clock) : m_Clock(clock) {}
  void OnPlainMessage(const std::string&) override {}
  void OnProgress(EEepromProgress eKind, int) override {
    if (eKind == EEepromProgress::Write) qwWriteEndUs = m_Clock.NowUs();
  }
  uint64_t qwWriteEndUs = 0;

 private:
  qrt::sim::CSimClock& m_Clock;
};

struct Modelled {
  double dRead = 0, dWrite = 0, dVerified = 0;  // seconds of device time
  bool bOk = true;
};

// One read and one verified write of the whole EEPROM with the procedures
// the window and the CLI use, each on a fresh device.
Modelled Model(uint8_t nLayout, uint32_t dwSize, ETransferProfile eProfile, uint32_t dwLatencyUs,
               uint32_t dwWriteCycleUs) {
  Modelled m;
  std::vector<uint8_t> image(dwSize), load(4096);
  for (size_t i = 0; i < dwSize; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  for (bool bWrite : {false, true}) {
    static const char* const kTypes[] = {"24C02", "24C04", "24C08", "24C16"};
    const int nType = dwSize >= 2048 ? 3 : dwSize >= 1024 ? 2 : dwSize >= 512 ? 1 : 0;
    CBenchBoard bench(nLayout, kTypes[nType],
                      "latency-us:" + std::to_string(dwLatencyUs) +
                          ",write-cycle-us:" + std::to_string(dwWriteCycleUs));
    qrt::sim::CSimPlatform& platform = bench.Platform();
    CTimingObserver observer(platform.Clock());
    CEepromProcedure procedure(*bench.pBoard, observer);
    auto& s = procedure.Settings();
    s.m_dwRomSize = dwSize;
    s.m_bReportId = bench.pBoard->ReportIdFlag();
    s.m_Profile.eKind = eProfile;
    s.m_Profile.dwWriteCycleMs = (dwWriteCycleUs + 999) / 1000;
    uint64_t qwStart = platform.Clock().NowUs();
    int r = bWrite ? procedure.WriteDataToEEPROM(image.data(), dwSize, load.data(), load.size())
                   : procedure.ReadDataFromEEPROM(load.data(), load.size());
    double dSeconds = static_cast<double>(platform.Clock().NowUs() - qwStart) / 1e6;
    m.bOk = m.bOk && r == 0 && platform.Chip(0).Violations().empty();
    if (bWrite) {
      m.dVerified = dSeconds;
      m.dWrite = static_cast<double>(observer.qwWriteEndUs - qwStart) / 1e6;
    } else {
      m.dRead = dSeconds;
    }
  }
  return m;
}

void PrintModel(uint32_t dwLatencyUs, uint32_t dwWriteCycleUs) {
  std::printf(
      "\nModelled time on a real board (seconds): %u us per HID report, EEPROM write cycle "
      "%u us.\n"
      "default: byte mode, 5 ms delay after every byte read and written (the window's "
      "procedure)\n"
      "fast:    word mode, no delay after a read unit, %u ms after a written unit\n"
      "write = the write phase of the verified write (registers, probe, units)\n\n",
      dwLatencyUs, dwWriteCycleUs, (dwWriteCycleUs + 999) / 1000);
  std::printf("%-14s | %-27s | %-27s |\n", "", "default", "fast");
  std::printf("%-7s %-6s | %8s %8s %9s | %8s %8s %9s | %6s\n", "layout", "EEPROM", "read", "write",
              "verified", "read", "write", "verified", "ratio");
  const char* names[] = {"24C02", "24C04", "24C08", "24C16"};
  for (uint8_t nLayout : {0, 1, 2}) {
    for (int nType = 0; nType < 4; ++nType) {
      uint32_t dwSize = 256u << nType;
      Modelled d = Model(nLayout, dwSize, ETransferProfile::Default, dwLatencyUs, dwWriteCycleUs);
      Modelled f = Model(nLayout, dwSize, ETransferProfile::Fast, dwLatencyUs, dwWriteCycleUs);
      std::printf("%-7u %-6s | %8.2f %8.2f %9.2f | %8.2f %8.2f %9.2f | %6.2f%s\n", nLayout,
                  names[nType], d.dRead, d.dWrite, d.dVerified, f.dRead, f.dWrite, f.dVerified,
                  f.dVerified / d.dVerified, d.bOk && f.bOk ? "" : "  FAILED");
    }
  }
  std::printf(
      "\nratio = fast / default for the verified write. Floor within the chip's protocol: the\n"
      "write cycles alone, one per word-mode unit: 1024 x %u us = %.2f s for a 24C16.\n",
      dwWriteCycleUs, 1024.0 * dwWriteCycleUs / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  long nBytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 2048;
  long nBusy = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 0;
  long nLatencyUs = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 1000;
  long nWriteCycleUs = argc > 4 ? std::strtol(argv[4], nullptr, 10) : 5000;
  if (nBytes < 1 || nBytes > 2048 || nBusy < 0 || nBusy > 9 || nLatencyUs < 0 ||
      nLatencyUs > 100000 || nWriteCycleUs < 0 || nWriteCycleUs > 100000) {
    std::fprintf(stderr,
                 "usage: bench_transfer [bytes 1..2048] [busy reads 0..9] [latency us, 1000] "
                 "[write cycle us, 5000]\n");
    return 2;
  }
  uint16_t wLength = static_cast<uint16_t>(nBytes);
  std::printf("EEPROM transfer on the simulated chip, %u bytes, zero latency, %ld busy reads\n\n",
              wLength, nBusy);
  std::printf("%-7s %-15s %14s %16s %13s %14s\n", "layout", "operation", "reports/byte",
              "fixed reports", "host us/byte", "bytes/s (host)");
  const struct {
    EOp eOp;
    const char* pszName;
  } ops[] = {{EOp::Read, "read"}, {EOp::Write, "write"}, {EOp::VerifiedWrite, "verified write"}};
  for (uint8_t nLayout : {0, 1, 2}) {
    for (const auto& op : ops) {
      Figures fixed = Run(nLayout, op.eOp, 0, static_cast<uint32_t>(nBusy));
      Figures f = Run(nLayout, op.eOp, wLength, static_cast<uint32_t>(nBusy));
      // Block selects are part of the per-byte cost: one per 256 bytes.
      double dPerByte = static_cast<double>(f.qwReports - fixed.qwReports) / wLength;
      std::printf("%-7u %-15s %14.2f %16llu %13.2f %14.0f\n", nLayout, op.pszName, dPerByte,
                  static_cast<unsigned long long>(fixed.qwReports), f.dSeconds * 1e6 / wLength,
                  wLength / f.dSeconds);
    }
  }
  std::printf(
      "\nper byte and layout 0 with the busy bit clear at the first status read:\n"
      "  read  = control read + write, command write, one status read, data read = 10\n"
      "  write = status read, data write, control read + write, command write,\n"
      "          status read = 12\n");
  PrintModel(static_cast<uint32_t>(nLatencyUs), static_cast<uint32_t>(nWriteCycleUs));
  return 0;
}
