#pragma once
// The boards a run works on and the choice of one: the simulated boards of
// the simulator's options or the machine's own, the board the user names
// (by path, by pair, or the only one of the first pair), and what the run
// leaves at its end.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BoardId.h"
#include "DeviceIdStore.h"
#include "SimSetup.h"

namespace USB42XX_MGR {
class IHidPlatform;
}

namespace qrt::transfer {

class CDevicePlatform {
 public:
  // The simulated boards of options when bSimulate, else the machine's
  // (CreateSystemPlatform). Null with szError when the options are refused.
  static std::unique_ptr<CDevicePlatform> Create(bool bSimulate, const SIM_OPTIONS& options,
                                                 std::string& szError);
  ~CDevicePlatform();
  CDevicePlatform(const CDevicePlatform&) = delete;
  CDevicePlatform& operator=(const CDevicePlatform&) = delete;

  USB42XX_MGR::IHidPlatform& Platform();
  // The simulated platform; null on the machine's boards.
  sim::CSimPlatform* Simulator();
  // Time of the simulated device since it was made, in seconds; none on the
  // machine's boards.
  std::optional<double> SimulatedSeconds();
  // Hands pending hot-plug events on and writes the simulator's files; the
  // texts of what failed in vErrors and vWarnings.
  void Finish(std::vector<std::string>& vErrors, std::vector<std::string>& vWarnings);

 private:
  CDevicePlatform() = default;
  std::unique_ptr<CSimRig> m_pSim;
  std::unique_ptr<USB42XX_MGR::IHidPlatform> m_pSystem;
};

// The device-id store of a program that searches by the chip probe (the
// device-id check off): the groups are never consulted.
class CEmptyDeviceIdStore : public USB42XX_MGR::IDeviceIdStore {
 public:
  bool OpenGroup(const std::string&) override { return false; }
  bool ReadValue(const std::string&, const std::string&, std::string&) override { return false; }
};

// Which board a command works on.
struct BOARD_CHOICE {
  std::string szPath;  // the board at this path or USB topology; empty: by pair
  bool bPair = false;  // wVid/wPid given; else the first listed board's pair
  uint16_t wVid = 0;
  uint16_t wPid = 0;
};

// Lists the boards (with those whose probe failed) and picks the one choice
// names: by path, else the only board of the pair. Two boards of one pair
// are refused without a path: picking one would program the wrong unit.
// False with szError for the user ("no board at sim:3", "2 boards match
// 3A7C:4250; choose one with --path", "the board at sim:2: chip probe
// failed: ...", ...).
bool ChooseBoard(USB42XX_MGR::IHidPlatform& platform, const BOARD_CHOICE& choice,
                 USB42XX_MGR::BOARD_INFO& chosen, std::string& szError);

}  // namespace qrt::transfer
