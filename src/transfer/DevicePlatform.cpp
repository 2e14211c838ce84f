#include "DevicePlatform.h"

#include "BoardHandle.h"
#include "platform/SystemPlatform.h"

namespace qrt::transfer {

using namespace USB42XX_MGR;

std::unique_ptr<CDevicePlatform> CDevicePlatform::Create(bool bSimulate,
                                                         const SIM_OPTIONS& options,
                                                         std::string& szError) {
  std::unique_ptr<CDevicePlatform> pPlatform(new CDevicePlatform);
  if (!bSimulate) {
    pPlatform->m_pSystem = CreateSystemPlatform();
    return pPlatform;
  }
  SIM_SPEC spec;
  if (!ParseSimSpec(options, spec, szError)) return nullptr;
  pPlatform->m_pSim = CreateSimPlatform(spec);
  return pPlatform;
}

CDevicePlatform::~CDevicePlatform() = default;

IHidPlatform& CDevicePlatform::Platform() {
  if (m_pSim) return m_pSim->Platform();
  return *m_pSystem;
}

sim::CSimPlatform* CDevicePlatform::Simulator() {
  return m_pSim ? &m_pSim->Platform() : nullptr;
}

std::optional<double> CDevicePlatform::SimulatedSeconds() {
  if (!m_pSim) return std::nullopt;
  return m_pSim->SimulatedSeconds();
}

void CDevicePlatform::Finish(std::vector<std::string>& vErrors,
                             std::vector<std::string>& vWarnings) {
  // A program without an event loop hands an unplug of its run on here.
  Platform().DispatchEvents();
  if (m_pSim) m_pSim->WriteFiles(vErrors, vWarnings);
}

bool ChooseBoard(IHidPlatform& platform, const BOARD_CHOICE& choice, BOARD_INFO& chosen,
                 std::string& szError) {
  BOARD_LIST_OPTIONS options;
  options.bWithFailed = true;
  std::vector<BOARD_INFO> vBoards;
  if (!ListBoards(platform, options, vBoards)) {
    szError = "the device search failed";
    return false;
  }
  const BOARD_INFO* pChosen = nullptr;
  if (!choice.szPath.empty()) {
    for (const BOARD_INFO& board : vBoards) {
      if (board.Id.Matches(choice.szPath)) {
        pChosen = &board;
        break;
      }
    }
    if (pChosen == nullptr) {
      szError = "no board at " + choice.szPath;
      return false;
    }
    if (choice.bPair && (pChosen->Id.wVID != choice.wVid || pChosen->Id.wPID != choice.wPid)) {
      szError = "the board at " + choice.szPath + " is " +
                PairText(pChosen->Id.wVID, pChosen->Id.wPID) + ", not " +
                PairText(choice.wVid, choice.wPid);
      return false;
    }
  } else {
    uint16_t wVid = choice.wVid, wPid = choice.wPid;
    if (!choice.bPair) {
      if (vBoards.empty()) {
        szError = "no device present";
        return false;
      }
      wVid = vBoards.front().Id.wVID;
      wPid = vBoards.front().Id.wPID;
    }
    int nMatches = 0;
    for (const BOARD_INFO& board : vBoards) {
      if (board.Id.wVID != wVid || board.Id.wPID != wPid) continue;
      if (pChosen == nullptr) pChosen = &board;
      ++nMatches;
    }
    if (nMatches == 0) {
      szError = "device " + PairText(wVid, wPid) + " is not present";
      return false;
    }
    if (nMatches > 1) {
      szError = std::to_string(nMatches) + " boards match " + PairText(wVid, wPid) +
                "; choose one with --path";
      return false;
    }
  }
  if (!pChosen->szProbeFailure.empty()) {
    szError = "the board at " + pChosen->Id.Label() + ": chip probe failed: " +
              pChosen->szProbeFailure;
    return false;
  }
  chosen = *pChosen;
  return true;
}

}  // namespace qrt::transfer
