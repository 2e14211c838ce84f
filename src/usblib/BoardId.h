#pragma once
// A board: one chip on the bus, named by where it sits. The enumeration
// makes BOARD_IDs, hot-plug events carry them, the board choice and the
// transfers take them. Label() is the one way a board is named for the
// user, in backup names and in the production log.
#include <cstdint>
#include <string>
#include <vector>

namespace USB42XX_MGR {

// "3A7C:4250": the one place a VID/PID pair is written this way.
std::string PairText(uint16_t wVID, uint16_t wPID);

struct BOARD_ID {
  std::string szPath;  // hidraw node, Windows interface path, "sim:N"; empty when not known
  uint16_t wVID = 0;
  uint16_t wPID = 0;
  std::string szUsbSerial;    // the USB serial string; empty when the platform does not read it
  std::string szUsbTopology;  // bus and ports, "1-2.3"; empty when not known

  // Its path, else its pair ("3A7C:4250") for a board the enumeration could
  // not name.
  std::string Label() const;
  // How the device list names it: "VID = 0x3A7C, PID = 0x4250", with
  // bWithPath and a known path " (sim:2)" behind it.
  std::string ListLabel(bool bWithPath) const;
  // True when szText is its path or its USB topology; an empty text names
  // no board.
  bool Matches(const std::string& szText) const;
};

// A listed board: who it is and what its chip probe found.
struct BOARD_INFO {
  BOARD_ID Id;
  uint16_t wChipId = 0;
  uint8_t btLayout = 0;  // report layout 0, 1 or 2
  // Why the chip did not answer the probe (chip id and layout are then not
  // known); empty when it answered.
  std::string szProbeFailure;
  // Who held the board's lock while it was listed ("process 1234
  // (qrt4250-cli)"): it was not probed then. Empty when it was.
  std::string szHeldBy;
};

// The device list's labels, index for index: a board whose pair another
// board of the listing shares is named with its path (two identical boards
// differ only there), the others without.
std::vector<std::string> BoardLabels(const std::vector<BOARD_INFO>& vBoards);

}  // namespace USB42XX_MGR
