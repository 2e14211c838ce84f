#pragma once
// The simulated chip as both programs, the benches and the tests set it up:
// the simulator's options (--sim-image, --sim-eeprom, ...) with one help
// text each, checked once into a SIM_SPEC, the platform built from it with
// its faults armed, and the files it leaves when it goes (--sim-save,
// --sim-log).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "SimPlatform.h"

namespace qrt::transfer {

// The simulator's options as the user gave them.
struct SIM_OPTIONS {
  std::string szImage;  // .bin/.hex seed; empty: the built-in default image
  std::string szEeprom = "24C02";
  int nLayout = 0;
  int nBoards = 1;
  std::string szSave;                // EEPROM contents at exit; board k > 1 in FILE.k.EXT
  std::string szLog;                 // board 1's report log at exit
  std::vector<std::string> vFaults;  // "[K@]SPEC" each
  bool bRealTime = false;
};

// One option of the simulator: its name, the value it takes (empty for a
// flag) and its help, the same in both programs.
struct SIM_OPTION_TEXT {
  std::string_view szName;  // "--sim-image"
  std::string_view szValue;  // "FILE"
  std::string_view szHelp;
};
// --simulate and every --sim-* option, in the order the help lists them.
const std::vector<SIM_OPTION_TEXT>& SimOptionTexts();
// The help of one of them (empty for a name that is not one).
std::string SimOptionHelp(std::string_view szName);

// The simulated device's ids.
inline constexpr uint16_t kSimVid = 0x3A7C;
inline constexpr uint16_t kSimPid = 0x4250;
inline constexpr int kMaxSimBoards = 8;

// The options checked: one chip and one fault set per board, the seed.
struct SIM_SPEC {
  std::vector<sim::SIM_CHIP_CONFIG> vChips;
  std::vector<sim::SIM_FAULTS> vFaults;
  std::vector<uint8_t> vSeed;  // EEPROM contents of every board
  std::string szSave;
  std::string szLog;
  bool bRealTime = false;
};

// Checks the options and reads the seed image. False with szError for the
// user ("--sim-eeprom must be 24C02, 24C04, 24C08 or 24C16",
// "--sim-fault: bad fault spec ...", the image file's reason), spec
// unchanged.
bool ParseSimSpec(const SIM_OPTIONS& options, SIM_SPEC& spec, std::string& szError);

// A simulated platform built from a spec, and what it leaves at the end.
class CSimRig {
 public:
  explicit CSimRig(const SIM_SPEC& spec);
  sim::CSimPlatform& Platform() { return m_Platform; }
  // Time of the simulated device since it was made, in seconds.
  double SimulatedSeconds() { return static_cast<double>(m_Platform.Clock().NowUs()) / 1e6; }
  // Writes --sim-save (every board) and --sim-log (board 1). Each failure's
  // text goes to vErrors (the EEPROM contents) or vWarnings (the log).
  void WriteFiles(std::vector<std::string>& vErrors, std::vector<std::string>& vWarnings);

 private:
  SIM_SPEC m_Spec;
  sim::CSimPlatform m_Platform;
};

// The rig of a spec: its boards "sim:1".."sim:N" seeded alike, each with its
// own faults, which count reports from the platform's first.
std::unique_ptr<CSimRig> CreateSimPlatform(const SIM_SPEC& spec);

// --sim-save's file for board k: FILE itself for board 1, else FILE with
// ".k" before the extension (chip.bin, chip.2.bin, ...).
std::string SimSaveName(const std::string& szFile, size_t nBoard);

// Writes n bytes as .bin or .hex by the path's name. False with szError
// ("\"x.txt\": the output name needs .bin or .hex", "...: cannot write the
// file: why").
bool WriteImageFileByName(const std::string& szPath, const uint8_t* pData, size_t n,
                          std::string& szError);

}  // namespace qrt::transfer
