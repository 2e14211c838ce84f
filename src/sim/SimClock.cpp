#include "SimClock.h"

#include <chrono>
#include <thread>

namespace qrt::sim {
namespace {

int64_t MonotonicNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

CSimClock::CSimClock(bool bRealTime) : m_bRealTime(bRealTime), m_nStartNs(MonotonicNs()) {}

uint64_t CSimClock::NowUs() const {
  if (!m_bRealTime) return m_qwVirtualUs.load();
  return static_cast<uint64_t>((MonotonicNs() - m_nStartNs) / 1000);
}

void CSimClock::Advance(uint64_t qwMicroseconds) {
  if (qwMicroseconds == 0) return;
  if (m_bRealTime) {
    std::this_thread::sleep_for(std::chrono::microseconds(qwMicroseconds));
  } else {
    m_qwVirtualUs += qwMicroseconds;
  }
}

}  // namespace qrt::sim
