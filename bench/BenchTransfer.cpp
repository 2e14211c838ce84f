// Reports per EEPROM byte and host time per byte for the EEPROM read and the
// verified write, on the simulated chip at zero latency, for each report
// layout. The protocol needs 10 reports per byte read and 12 per byte written
// in layout 0 when the busy bit clears at the first status read; the fixed
// cost of a call (busy wait, enable bit, block select) is shown apart.
//
//   bench_transfer [EEPROM bytes, default 2048] [busy reads, default 0]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SimPlatform.h"
#include "UsbHidMgr.h"

using namespace USB42XX_MGR;
using qrt::sim::CSimPlatform;

namespace {

constexpr uint16_t kVid = 0x3A7C;
constexpr uint16_t kPid = 0x4250;

struct Figures {
  uint64_t qwReports = 0;
  double dSeconds = 0;
};

enum class EOp { Read, Write, VerifiedWrite };

Figures Run(uint8_t nLayout, EOp eOp, uint16_t wLength, uint32_t dwBusyReads) {
  CSimPlatform platform;
  qrt::sim::SIM_DEVICE_CONFIG config;
  config.wVID = kVid;
  config.wPID = kPid;
  config.Chip.nLayout = nLayout;
  config.Chip.dwEepromSize = 2048;
  config.Chip.dwBusyReads = dwBusyReads;
  platform.AddDevice(config);
  platform.Chip(0).SetReportLogEnabled(false);
  CUsbHidMgr hid(platform);
  uint8_t btReportId = nLayout == 0 ? 0 : 1;
  std::vector<uint8_t> data(4096, 0x5A);
  auto start = std::chrono::steady_clock::now();
  int r = 0;
  if (eOp == EOp::Read) {
    r = hid.ReadI2C(kVid, kPid, 1, 0, data.data(), wLength, 128, nullptr, 0, nLayout, btReportId);
  } else {
    // The delay lets the EEPROM finish its write cycle (virtual time).
    r = hid.WriteI2C(kVid, kPid, 1, 0, data.data(), wLength, 128, nullptr, 5, nLayout, btReportId);
    if (r == 0 && eOp == EOp::VerifiedWrite) {
      r = hid.ReadI2C(kVid, kPid, 1, 0, data.data(), wLength, 128, nullptr, 5, nLayout, btReportId);
    }
  }
  auto stop = std::chrono::steady_clock::now();
  if (r != 0) std::fprintf(stderr, "transfer failed: code %d\n", r);
  Figures f;
  f.qwReports = platform.Chip(0).OutputReportCount() + platform.Chip(0).InputReportCount();
  f.dSeconds = std::chrono::duration<double>(stop - start).count();
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  long nBytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 2048;
  long nBusy = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 0;
  if (nBytes < 1 || nBytes > 2048 || nBusy < 0 || nBusy > 9) {
    std::fprintf(stderr, "usage: bench_transfer [bytes 1..2048] [busy reads 0..9]\n");
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
  return 0;
}
