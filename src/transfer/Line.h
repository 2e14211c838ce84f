#pragma once
// A production line's boards programmed at once: each board on a thread of
// its own with its own handle and lock, at most a given number at a time.
// The observer hears of each board as it starts, progresses and finishes,
// from the boards' threads; a front end (the CLI's lines, a window's tiles)
// shows it from there.
#include <cstddef>
#include <vector>

#include "Production.h"

namespace qrt::transfer {

// What a front end hears of a run. The calls come from the boards' threads,
// one at a time (the run serialises them), nBoard being the board's index
// in the list given to ProgramBoards.
class ILineObserver {
 public:
  virtual ~ILineObserver() = default;
  virtual void OnBoardStarted(size_t nBoard, const USB42XX_MGR::BOARD_INFO& board) = 0;
  // Read 1..100, Write 0..70, Verify 70..100, as a transfer reports them.
  virtual void OnBoardProgress(size_t nBoard, USB42XX_MGR::EEepromProgress eKind,
                               int nPercent) = 0;
  // A write failed, before its rollback.
  virtual void OnWriteFailed(size_t /*nBoard*/, const WRITE_OUTCOME& /*outcome*/) {}
  // The board is done and its line is in the log.
  virtual void OnBoardFinished(size_t nBoard, const BOARD_STEP& step) = 0;
};

struct LINE_RESULT {
  // One per board started, in the order of the list.
  std::vector<BOARD_STEP> vSteps;
  // Why boards were left unstarted: the boards' steps that said the run must
  // stop (each distinct szStop, joined by "; "), or an interrupt came. Empty
  // when no step said so.
  std::string szStop;
  bool bInterrupted = false;
};

// Programs vBoards, at most nJobs at once (0: all of them). Serials go out
// in the order of the list. No board starts after one says the run must
// stop or after an interrupt (CInterruptGuard); boards already running
// finish.
LINE_RESULT ProgramBoards(USB42XX_MGR::IHidPlatform& platform,
                          const std::vector<USB42XX_MGR::BOARD_INFO>& vBoards,
                          PRODUCTION_SHARED& shared, const PRODUCTION_SETTINGS& settings,
                          size_t nJobs, ILineObserver& observer);

}  // namespace qrt::transfer
