#pragma once
// The production station: programs the boards present at the start, then
// each board that arrives, until interrupted. The front end says what is
// going on and programs each board (ProgramBoard).
#include <functional>
#include <string>
#include <vector>

#include "BoardId.h"

namespace USB42XX_MGR {
class IHidPlatform;
}
namespace qrt::sim {
class CSimPlatform;
}

namespace qrt::transfer {

// How the station waits.
struct STATION_HOOKS {
  // Longest wait for a hot-plug event; the period of the board search where
  // the platform delivers none.
  int nPollMs = 1000;
  // Asked before every wait with the simulated platform (null on real
  // boards); true ends the station as an interrupt does. Tests plug and
  // unplug boards here.
  std::function<bool(qrt::sim::CSimPlatform*)> fnBeforeWait;
};

class IStationView {
 public:
  virtual ~IStationView() = default;
  // The platform delivers no hot-plug events: boards are looked for every
  // nPollMs.
  virtual void OnNoHotPlug(int nPollMs) = 0;
  // Programs the boards not programmed since they were plugged (those of
  // one listing, at once); false ends the station (the run must stop).
  virtual bool OnBoards(const std::vector<USB42XX_MGR::BOARD_INFO>& vBoards) = 0;
  // A round is done: the next board may come.
  virtual void OnReady() = 0;
  // Every listing, before its new boards are programmed: the boards present
  // (a window clears the tile of a board that is gone).
  virtual void OnListed(const std::vector<USB42XX_MGR::BOARD_INFO>& /*vPresent*/) {}
  // The board search or the wait failed; the station ends.
  virtual void OnError(const std::string& szText) = 0;
};

// Runs until an interrupt (SIGINT, SIGTERM; Windows: Ctrl+C), the hooks or
// the view end it. A board that stays plugged is programmed once; one
// unplugged and plugged again is a new board (the removal event names its
// path; without events, a board missing from a listing is forgotten).
void RunStation(USB42XX_MGR::IHidPlatform& platform, qrt::sim::CSimPlatform* pSim,
                const STATION_HOOKS& hooks, IStationView& view);

}  // namespace qrt::transfer
