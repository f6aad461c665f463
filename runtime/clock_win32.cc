// The real clock on Windows.
#include "runtime/clock.h"

// After our headers, so that its macros (ReplaceFile and the like) do not
// rename our declarations.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace kelvane {

namespace {

class tWin32Clock : public tClock {
 public:
  uint32_t Ticks() override { return GetTickCount(); }

  tLocalTime Now() override {
    SYSTEMTIME T;
    ::GetLocalTime(&T);
    tLocalTime R;
    R.Year = T.wYear;
    R.Month = T.wMonth;
    R.Day = T.wDay;
    R.Hour = T.wHour;
    R.Min = T.wMinute;
    R.Sec = T.wSecond;
    R.Hundredths = T.wMilliseconds / 10;
    R.DayOfWeek = T.wDayOfWeek;
    return R;
  }

  void Sleep(uint32_t Ms) override { ::Sleep(Ms); }
};

}  // namespace

tClock& RealClock() {
  static tWin32Clock C;
  return C;
}

}  // namespace kelvane
