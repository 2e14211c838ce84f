#pragma once
// One simulated board for the benches: the layout, EEPROM type and faults
// or timing given in the simulator's own option texts, opened as a
// transfer opens it.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "BoardHandle.h"
#include "SimSetup.h"

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
    USB42XX_MGR::BOARD_OPEN_RESULT result;
    pBoard = USB42XX_MGR::OpenBoard(Platform(), Platform().BoardOf(0), {}, result);
  }
  qrt::sim::CSimPlatform& Platform() { return pRig->Platform(); }
  uint64_t Reports() {
    return Platform().Chip(0).OutputReportCount() + Platform().Chip(0).InputReportCount();
  }

  std::unique_ptr<qrt::transfer::CSimRig> pRig;
  std::unique_ptr<USB42XX_MGR::CBoardHandle> pBoard;
};
