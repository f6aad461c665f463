// The clock: millisecond ticks, the local date and time with hundredths,
// sleeping, and a pseudo-random source. Tests install their own tClock so
// that nothing waits three real seconds unless it means to.
#ifndef KELVANE_RUNTIME_CLOCK_H_
#define KELVANE_RUNTIME_CLOCK_H_

#include <cstdint>

namespace kelvane {

struct tLocalTime {
  int Year = 0;  // full year, e.g. 2026
  int Month = 0;  // 1..12
  int Day = 0;    // 1..31
  int Hour = 0;
  int Min = 0;
  int Sec = 0;
  int Hundredths = 0;
  int DayOfWeek = 0;  // 0 = Sunday
};

class tClock {
 public:
  virtual ~tClock();
  virtual uint32_t Ticks() = 0;  // milliseconds, wrapping
  virtual tLocalTime Now() = 0;
  virtual void Sleep(uint32_t Ms) = 0;
};

tClock& Clock();
// Installs C (not owned); nullptr restores the real clock.
void SetClock(tClock* C);
tClock& RealClock();

inline uint32_t GetTicks() { return Clock().Ticks(); }
inline tLocalTime GetLocalTime() { return Clock().Now(); }
inline void SleepMs(uint32_t Ms) { Clock().Sleep(Ms); }

// A pseudo-random number from 0 to Limit - 1 (Limit > 0).
uint32_t RandomBelow(uint32_t Limit);

}  // namespace kelvane

#endif  // KELVANE_RUNTIME_CLOCK_H_
