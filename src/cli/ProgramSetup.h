#pragma once
// What program sets up before it touches a board, and ends after the last:
// the base image, the serials (the counter, a station's lease of it, or a
// site's command), the log, the line's facts and hooks.
#include <memory>

#include "DeviceCommands.h"
#include "ImageSession.h"
#include "ProductionLog.h"
#include "SerialCounter.h"

namespace qrt::cli {

struct PROGRAM_SETUP {
  qrt::image::CImageSession Base;
  std::unique_ptr<qrt::production::CSerialCounter> pCounter;  // null: no counter
  std::unique_ptr<qrt::production::CSerialLease> pLease;      // --serial-block
  std::unique_ptr<qrt::production::ISerialSource> pCommand;   // --serial-command
  qrt::production::CProductionLog Log;
  qrt::transfer::LINE_FACTS Facts;
  std::vector<std::string> vBefore;
  std::vector<std::string> vAfter;
  // Where each board's serial comes from; null: none.
  qrt::production::ISerialSource* Serials() const;
};

// Checks the options and prepares the run. False (message written) when one
// is refused; nothing is touched then.
bool PrepareProgram(CCliContext& ctx, const CDeviceOptions& o, const CProgramOptions& p,
                    PROGRAM_SETUP& setup);

// The end of a run: a lease's serials not handed out are logged as
// returned-unused (and never used).
void EndProgram(CCliContext& ctx, PROGRAM_SETUP& setup);

}  // namespace qrt::cli
