#include "BoardId.h"

#include <algorithm>
#include <cstdio>

namespace USB42XX_MGR {

std::string PairText(uint16_t wVID, uint16_t wPID) {
  char sz[16];
  std::snprintf(sz, sizeof(sz), "%.4X:%.4X", wVID, wPID);
  return sz;
}

std::string BOARD_ID::Label() const {
  return szPath.empty() ? PairText(wVID, wPID) : szPath;
}

std::string BOARD_ID::ListLabel(bool bWithPath) const {
  char sz[40];
  std::snprintf(sz, sizeof(sz), "VID = 0x%.4X, PID = 0x%.4X", wVID, wPID);
  return bWithPath && !szPath.empty() ? sz + (" (" + szPath + ")") : sz;
}

bool BOARD_ID::Matches(const std::string& szText) const {
  if (szText.empty()) return false;
  return szText == szPath || szText == szUsbTopology;
}

std::vector<std::string> BoardLabels(const std::vector<BOARD_INFO>& vBoards) {
  std::vector<std::string> vLabels;
  for (const BOARD_INFO& board : vBoards) {
    const bool bShared =
        std::count_if(vBoards.begin(), vBoards.end(), [&board](const BOARD_INFO& other) {
          return other.Id.wVID == board.Id.wVID && other.Id.wPID == board.Id.wPID;
        }) > 1;
    vLabels.push_back(board.Id.ListLabel(bShared));
  }
  return vLabels;
}

}  // namespace USB42XX_MGR
