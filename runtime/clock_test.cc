#include "runtime/clock.h"

#include <gtest/gtest.h>

#include <ctime>
#include <set>

namespace kelvane {
namespace {

TEST(Clock, LocalTimeAgreesWithTheCLibrary) {
  // Retried when the second turns between the two readings.
  for (int Try = 0; Try < 5; ++Try) {
    std::time_t Before = std::time(nullptr);
    tLocalTime T = RealClock().Now();
    std::time_t After = std::time(nullptr);
    if (Before != After) continue;
    std::tm L = *std::localtime(&Before);
    EXPECT_EQ(T.Year, L.tm_year + 1900);
    EXPECT_EQ(T.Month, L.tm_mon + 1);
    EXPECT_EQ(T.Day, L.tm_mday);
    EXPECT_EQ(T.Hour, L.tm_hour);
    EXPECT_EQ(T.Min, L.tm_min);
    EXPECT_EQ(T.Sec, L.tm_sec);
    EXPECT_EQ(T.DayOfWeek, L.tm_wday);
    EXPECT_GE(T.Hundredths, 0);
    EXPECT_LE(T.Hundredths, 99);
    return;
  }
  FAIL() << "the second kept turning";
}

TEST(Clock, TicksDoNotRunBackwardsAcrossASleep) {
  uint32_t A = RealClock().Ticks();
  RealClock().Sleep(20);
  uint32_t B = RealClock().Ticks();
  EXPECT_GE(B - A, 1u);           // wrapping arithmetic, as callers use it
  EXPECT_LT(B - A, 0x80000000u);  // not backwards
}

class tFixedClock : public tClock {
 public:
  uint32_t Ticks() override { return 42; }
  tLocalTime Now() override { return tLocalTime{}; }
  void Sleep(uint32_t Ms) override { Slept += Ms; }
  uint32_t Slept = 0;
};

TEST(Clock, InstalledClockReplacesTheRealOne) {
  tFixedClock Fixed;
  SetClock(&Fixed);
  SleepMs(3000);  // does not wait
  EXPECT_EQ(GetTicks(), 42u);
  EXPECT_EQ(Fixed.Slept, 3000u);
  SetClock(nullptr);
  EXPECT_EQ(&Clock(), &RealClock());
}

TEST(Clock, RandomBelowStaysInRangeAndVaries) {
  std::set<uint32_t> Seen;
  for (int I = 0; I < 2000; ++I) {
    uint32_t V = RandomBelow(65535);
    ASSERT_LT(V, 65535u);
    Seen.insert(V);
  }
  EXPECT_GT(Seen.size(), 1000u);
  EXPECT_EQ(RandomBelow(1), 0u);
}

}  // namespace
}  // namespace kelvane
