#include "Line.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <thread>

#include "DeviceWait.h"

namespace qrt::transfer {

using namespace USB42XX_MGR;

namespace {

// One board's transfer progress, handed to the line's observer under the
// run's lock.
class CBoardProgress : public IEepromObserver {
 public:
  CBoardProgress(ILineObserver& line, std::mutex& mtx, size_t nBoard)
      : m_Line(line), m_Mutex(mtx), m_nBoard(nBoard) {}
  void OnPlainMessage(const std::string&) override {}
  void OnProgress(EEepromProgress eKind, int nPercent) override {
    std::lock_guard<std::mutex> guard(m_Mutex);
    m_Line.OnBoardProgress(m_nBoard, eKind, nPercent);
  }

 private:
  ILineObserver& m_Line;
  std::mutex& m_Mutex;
  size_t m_nBoard;
};

}  // namespace

LINE_RESULT ProgramBoards(IHidPlatform& platform, const std::vector<BOARD_INFO>& vBoards,
                          PRODUCTION_SHARED& shared, const PRODUCTION_SETTINGS& settings,
                          size_t nJobs, ILineObserver& observer) {
  LINE_RESULT result;
  std::mutex mtx;  // the observer, the next board, the steps
  CSerialTurns turns;
  std::map<size_t, BOARD_STEP> steps;
  size_t nNext = 0;
  auto worker = [&] {
    for (;;) {
      size_t nBoard = 0;
      {
        std::lock_guard<std::mutex> guard(mtx);
        if (CInterruptGuard::Interrupted()) result.bInterrupted = true;
        if (nNext >= vBoards.size() || !result.szStop.empty() || result.bInterrupted) return;
        nBoard = nNext++;
        observer.OnBoardStarted(nBoard, vBoards[nBoard]);
      }
      CBoardProgress progress(observer, mtx, nBoard);
      BOARD_STEP step = ProgramBoard(
          platform, vBoards[nBoard], shared, settings, progress,
          [&](const WRITE_OUTCOME& outcome) {
            std::lock_guard<std::mutex> guard(mtx);
            observer.OnWriteFailed(nBoard, outcome);
          },
          SERIAL_TURN{&turns, nBoard});
      std::lock_guard<std::mutex> guard(mtx);
      // Every board's own reason, once: boards at once may each miss their
      // log line, and each of them must be named.
      if (!step.szStop.empty() && result.szStop.find(step.szStop) == std::string::npos) {
        result.szStop += (result.szStop.empty() ? "" : "; ") + step.szStop;
      }
      observer.OnBoardFinished(nBoard, step);
      steps.emplace(nBoard, std::move(step));
    }
  };
  const size_t nThreads = std::min(nJobs == 0 ? vBoards.size() : nJobs, vBoards.size());
  if (nThreads <= 1) {
    worker();  // one at a time: on the caller's thread
  } else {
    std::vector<std::thread> vThreads;
    for (size_t i = 0; i < nThreads; ++i) vThreads.emplace_back(worker);
    for (std::thread& t : vThreads) t.join();
  }
  for (auto& [nBoard, step] : steps) result.vSteps.push_back(std::move(step));
  return result;
}

}  // namespace qrt::transfer
