#include "BoardId.h"

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

bool BOARD_ID::Matches(const std::string& szText) const {
  if (szText.empty()) return false;
  return szText == szPath || szText == szUsbTopology;
}

}  // namespace USB42XX_MGR
