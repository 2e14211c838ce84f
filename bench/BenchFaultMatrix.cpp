// The protected write (backup read, write and verify, rollback) under a
// report fault at every position, on the simulated chip's virtual clock:
// for each layout, profile and length, a refused output report or a failed
// input report at each report number of the fault-free run, alone and with
// seeded random faults (probability 0.001 per report) on top. Prints per row
// the cases, how many writes failed, how their rollbacks ended and the
// claims about the EEPROM checked; any claim that did not hold is printed
// and the exit code is 1.
//
//   bench_fault_matrix [stride 1..] [lengths, e.g. 256,512]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "FaultMatrix.h"

using USB42XX_MGR::ETransferProfile;
using qrt::test::CFaultMatrix;
using qrt::test::FAULT_MATRIX_FIGURES;

int main(int argc, char** argv) {
  const uint64_t qwStride = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
  std::vector<size_t> vLengths;
  std::istringstream lengths(argc > 2 ? argv[2] : "256,512");
  for (std::string sz; std::getline(lengths, sz, ',');) vLengths.push_back(std::stoul(sz));
  if (qwStride == 0 || vLengths.empty()) {
    std::fprintf(stderr, "usage: bench_fault_matrix [stride 1..] [lengths, e.g. 256,512]\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  std::printf("layout profile length  cases  backup-failed  write-failed  rolled-back  "
              "rollback-failed    claims  broken\n");
  FAULT_MATRIX_FIGURES total;
  for (size_t nLength : vLengths) {
    for (uint8_t nLayout : {0, 1, 2}) {
      for (ETransferProfile eProfile : {ETransferProfile::Default, ETransferProfile::Fast}) {
        const char* pszProfile = eProfile == ETransferProfile::Fast ? "fast" : "default";
        CFaultMatrix matrix(nLayout, eProfile, nLength);
        uint64_t qwOutputs = 0, qwInputs = 0;
        matrix.CleanCounts(qwOutputs, qwInputs);
        FAULT_MATRIX_FIGURES row;
        for (bool bInput : {false, true}) {
          for (uint64_t n = 1; n <= (bInput ? qwInputs : qwOutputs); n += qwStride) {
            qrt::sim::SIM_FAULTS faults;
            (bInput ? faults.dwFailInput : faults.dwRefuseOutput) = static_cast<uint32_t>(n);
            const std::string szCase = std::to_string(nLayout) + " " + pszProfile + " " +
                                       std::to_string(nLength) +
                                       (bInput ? " fail-input:" : " refuse-output:") +
                                       std::to_string(n);
            matrix.Run(faults, row, szCase);
            faults.dwRandomSeed = static_cast<uint32_t>(n);
            faults.dRandomProbability = 0.001;
            matrix.Run(faults, row, szCase + ",random:" + std::to_string(n) + ":0.001");
          }
        }
        std::printf("%6u %-7s %6zu %6llu %14llu %13llu %12llu %16llu %9llu %7llu\n",
                    static_cast<unsigned>(nLayout), pszProfile, nLength,
                    static_cast<unsigned long long>(row.nCases),
                    static_cast<unsigned long long>(row.nBackupFailed),
                    static_cast<unsigned long long>(row.nWriteFailed),
                    static_cast<unsigned long long>(row.nRolledBack),
                    static_cast<unsigned long long>(row.nRollbackFailed),
                    static_cast<unsigned long long>(row.nClaims),
                    static_cast<unsigned long long>(row.nBroken));
        std::fflush(stdout);
        total.nCases += row.nCases;
        total.nWriteFailed += row.nWriteFailed;
        total.nRollbackFailed += row.nRollbackFailed;
        total.nClaims += row.nClaims;
        total.nBroken += row.nBroken;
        total.vBroken.insert(total.vBroken.end(), row.vBroken.begin(), row.vBroken.end());
      }
    }
  }
  for (const auto& sz : total.vBroken) std::printf("broken: %s\n", sz.c_str());
  std::printf("%llu cases, %llu rollbacks (%llu failed), %llu claims, %llu broken, %.1f s\n",
              static_cast<unsigned long long>(total.nCases),
              static_cast<unsigned long long>(total.nWriteFailed),
              static_cast<unsigned long long>(total.nRollbackFailed),
              static_cast<unsigned long long>(total.nClaims),
              static_cast<unsigned long long>(total.nBroken),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return total.vBroken.empty() ? 0 : 1;
}
