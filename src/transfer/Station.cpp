#include "Station.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "BoardHandle.h"
#include "DeviceWait.h"
#include "Production.h"
#include "platform/HidPlatform.h"

namespace qrt::transfer {

using namespace USB42XX_MGR;

void RunStation(IHidPlatform& platform, qrt::sim::CSimPlatform* pSim, const STATION_HOOKS& hooks,
                IStationView& view) {
  const bool bEvents = HasDeviceEvents(platform);
  if (!bEvents) view.OnNoHotPlug(hooks.nPollMs);
  CStationBoards boards;
  // A board swapped on its port keeps its path: only its removal says so.
  platform.SetEventSink([&boards](const DEVICE_EVENT& event) {
    if (event.eKind == EDeviceEvent::Removal) boards.Removed(event.Board.szPath);
  });
  CInterruptGuard guard;
  BOARD_LIST_OPTIONS options;
  options.bWithFailed = true;
  for (bool bFirst = true;; bFirst = false) {
    std::vector<BOARD_INFO> vBoards;
    if (!ListBoards(platform, options, vBoards)) {
      view.OnError("the device search failed");
      break;
    }
    view.OnListed(vBoards);
    const std::vector<BOARD_INFO> vNew = boards.TakeNew(vBoards);
    if (!vNew.empty() && !view.OnBoards(vNew)) break;
    if (!vNew.empty() || bFirst) view.OnReady();
    if (hooks.fnBeforeWait && hooks.fnBeforeWait(pSim)) break;
    if (CInterruptGuard::Interrupted()) break;
    const EDeviceWait eWait = WaitForDeviceChange(platform, hooks.nPollMs);
    if (eWait == EDeviceWait::kInterrupted) break;
    if (eWait == EDeviceWait::kError) {
      view.OnError(std::string("waiting for boards failed: ") + std::strerror(errno));
      break;
    }
    if (eWait == EDeviceWait::kChanged) platform.DispatchEvents();
  }
  platform.SetEventSink({});
}

}  // namespace qrt::transfer
