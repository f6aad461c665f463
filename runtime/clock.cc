// The replaceable clock and the pseudo-random source.
#include "runtime/clock.h"

#include <atomic>

namespace kelvane {

namespace {
tClock* Current = nullptr;
std::atomic<uint32_t> RandomState{0};
}  // namespace

tClock::~tClock() = default;

tClock& Clock() { return Current ? *Current : RealClock(); }
void SetClock(tClock* C) { Current = C; }

uint32_t RandomBelow(uint32_t Limit) {
  if (Limit <= 1) return 0;
  // xorshift32, seeded once from the real clock; its numbers only need to
  // differ from run to run and from call to call (MSGID serials).
  uint32_t X = RandomState.load(std::memory_order_relaxed);
  if (X == 0) {
    tLocalTime T = RealClock().Now();
    X = RealClock().Ticks() ^ (static_cast<uint32_t>(T.Sec * 100 + T.Hundredths) * 2654435761u) ^
        static_cast<uint32_t>(T.Min << 20 | T.Hour << 26);
    if (X == 0) X = 0x9E3779B9u;
  }
  X ^= X << 13;
  X ^= X >> 17;
  X ^= X << 5;
  RandomState.store(X, std::memory_order_relaxed);
  // Multiply-shift keeps the high bits, which are the better ones.
  return static_cast<uint32_t>((static_cast<uint64_t>(X) * Limit) >> 32);
}

}  // namespace kelvane
