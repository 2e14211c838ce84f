// list: the present boards by the chip probe.
#include <chrono>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "DeviceCommands.h"
#include "DeviceSession.h"
#include "ReportProtocol.h"
#include "TerminalText.h"

namespace qrt::cli {

using namespace USB42XX_MGR;
using json = nlohmann::ordered_json;

namespace {

const char* LayoutText(uint32_t dwOutputLength) {
  switch (dwOutputLength) {
    case 4:
      return "layout 1 (4-byte reports, report ID)";
    case 8:
      return "layout 2 (8-byte reports, report ID)";
    default:
      return "layout 0 (5-byte reports)";
  }
}

// One line per board: the pair, the chip, the layout and where it sits.
std::string BoardLine(const BOARD_INFO& board) {
  const BOARD_ID& id = board.Id;
  char sz[160];
  std::snprintf(sz, sizeof(sz), "VID = 0x%.4X, PID = 0x%.4X, ", id.wVID, id.wPID);
  std::string szLine = sz;
  if (!board.szProbeFailure.empty()) {
    szLine += "chip probe failed: " + board.szProbeFailure;
  } else if (!board.szHeldBy.empty()) {
    // Not probed: its reports would interleave with the other program's.
    szLine += "in use by " + board.szHeldBy;
  } else {
    std::snprintf(sz, sizeof(sz), "chip id = 0x%.4X, %s", board.wChipId,
                  LayoutText(protocol::OutputReportLengthOfLayout(board.btLayout)));
    szLine += sz;
  }
  szLine += ", path " + id.szPath;
  if (board.szProbeFailure.empty() && !id.szUsbTopology.empty()) {
    szLine += ", usb " + id.szUsbTopology;
  }
  if (board.szProbeFailure.empty() && !id.szUsbSerial.empty()) szLine += ", serial " + id.szUsbSerial;
  return szLine;
}

}  // namespace

void RunList(CCliContext& ctx, const CDeviceOptions& o) {
  const auto start = std::chrono::steady_clock::now();
  CDeviceSession session(ctx, o);
  if (!session.Open()) return;
  BOARD_LIST_OPTIONS options;
  options.bWithFailed = true;
  std::vector<BOARD_INFO> vBoards;
  if (!ListBoards(session.Platform(), options, vBoards)) {
    ctx.Fail("the device search failed");
    return;
  }
  if (vBoards.empty()) ctx.err << "no device present\n";
  // The probe of every device is what takes time, most of all on a hub full
  // of boards.
  const double dElapsedS =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (o.bJson) {
    json boards = json::array();
    for (const BOARD_INFO& board : vBoards) boards.push_back(BoardJson(board));
    ctx.PrintJson(json{{"boards", boards}, {"elapsed_s", dElapsedS}});
    return;
  }
  for (const BOARD_INFO& board : vBoards) {
    ctx.out << qrt::diag::EscapeControls(BoardLine(board)) << '\n';
  }
  // On stderr: the board lines stay the whole of stdout for scripts.
  char sz[48];
  std::snprintf(sz, sizeof(sz), "elapsed %.2f s\n", dElapsedS);
  ctx.out << std::flush;
  ctx.err << sz;
}

}  // namespace qrt::cli
