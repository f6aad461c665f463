// The real clock on POSIX: monotonic ticks, local time, sleep.
#include <time.h>

#include <cerrno>

#include "runtime/clock.h"

namespace kelvane {

namespace {

class tPosixClock : public tClock {
 public:
  uint32_t Ticks() override {
    timespec T;
    clock_gettime(CLOCK_MONOTONIC, &T);
    return static_cast<uint32_t>(static_cast<uint64_t>(T.tv_sec) * 1000u + static_cast<uint64_t>(T.tv_nsec) / 1000000u);
  }

  tLocalTime Now() override {
    timespec T;
    clock_gettime(CLOCK_REALTIME, &T);
    time_t Secs = T.tv_sec;
    tm L;
    localtime_r(&Secs, &L);
    tLocalTime R;
    R.Year = L.tm_year + 1900;
    R.Month = L.tm_mon + 1;
    R.Day = L.tm_mday;
    R.Hour = L.tm_hour;
    R.Min = L.tm_min;
    R.Sec = L.tm_sec > 59 ? 59 : L.tm_sec;  // a leap second is shown as :59
    R.Hundredths = static_cast<int>(T.tv_nsec / 10000000);
    R.DayOfWeek = L.tm_wday;
    return R;
  }

  void Sleep(uint32_t Ms) override {
    timespec Left{static_cast<time_t>(Ms / 1000), static_cast<long>(Ms % 1000) * 1000000L};
    while (nanosleep(&Left, &Left) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

tClock& RealClock() {
  static tPosixClock C;
  return C;
}

}  // namespace kelvane
