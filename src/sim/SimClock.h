#pragma once
// Time of the simulated chip. In virtual mode the clock only moves when the
// chip charges report latency or the host sleeps, so tests and benchmarks run
// a 2048-byte verified write in milliseconds and never wait in real time. In
// real-time mode it follows the monotonic clock and sleeps really sleep (the
// demo).
#include <atomic>
#include <cstdint>

namespace qrt::sim {

class CSimClock {
 public:
  explicit CSimClock(bool bRealTime = false);

  bool IsRealTime() const { return m_bRealTime; }

  // Microseconds since the clock was made.
  uint64_t NowUs() const;

  // Milliseconds, wrapping at 2^32 like the Windows tick count.
  uint32_t GetTickCount() const { return static_cast<uint32_t>(NowUs() / 1000); }

  // Lets dwMicroseconds pass: added to the virtual time, or slept in
  // real-time mode.
  void Advance(uint64_t qwMicroseconds);

  void Sleep(uint32_t dwMilliseconds) { Advance(static_cast<uint64_t>(dwMilliseconds) * 1000); }

 private:
  bool m_bRealTime;
  // Atomic: the host's lock waits and polls may sleep on it from the
  // threads of boards programmed at once.
  std::atomic<uint64_t> m_qwVirtualUs = 0;
  int64_t m_nStartNs = 0;
};

}  // namespace qrt::sim
