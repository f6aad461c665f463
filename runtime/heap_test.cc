#include "runtime/heap.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <new>
#include <thread>

namespace kelvane {
namespace {

// Hands a fresh allocation to a volatile store: a compiler may otherwise
// leave out a new/delete pair whose memory nobody looks at (clang does),
// and the count would rightly see nothing.
void* volatile HeldSink = nullptr;

template <class T>
T* Held(T* P) {
  HeldSink = P;
  return P;
}

TEST(Heap, CountsWhatIsHeldAndWhatIsFreed) {
  int64_t Before = HeapBytesInUse();
  char* Leak = Held(new char[100000]);
  Leak[0] = 1;
  EXPECT_GE(HeapBytesInUse() - Before, 100000);
  delete[] Leak;
  EXPECT_EQ(HeapBytesInUse(), Before);

  // Scalar, nothrow and over-aligned forms are all counted and all give
  // their bytes back.
  struct alignas(64) tWide {
    char Bytes[200];
  };
  auto* Wide = Held(new tWide);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(Wide) % 64, 0u);
  auto* Wides = Held(new tWide[3]);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(Wides) % 64, 0u);
  int* Quiet = Held(new (std::nothrow) int[10]);
  ASSERT_NE(Quiet, nullptr);
  EXPECT_GE(HeapBytesInUse() - Before, static_cast<int64_t>(4 * sizeof(tWide) + 10 * sizeof(int)));
  delete Wide;
  delete[] Wides;
  delete[] Quiet;
  EXPECT_EQ(HeapBytesInUse(), Before);
}

TEST(Heap, ImpossibleRequestThrowsOrReturnsNull) {
  int64_t Before = HeapBytesInUse();
  volatile size_t Huge = SIZE_MAX - 8;
  EXPECT_THROW((void)::operator new(Huge), std::bad_alloc);
  EXPECT_EQ(::operator new(Huge, std::nothrow), nullptr);
  EXPECT_EQ(HeapBytesInUse(), Before);
}

// Waits (without a time limit that a slow machine could miss) until the
// sampler reports a value that satisfies Ok.
template <class F>
bool SampleSoon(F Ok) {
  for (int I = 0; I < 6000; ++I) {
    if (Ok(MemoryInUse())) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(Heap, SamplerReportsTheDifferenceFromItsStart) {
  StartMemorySampler();
  StartMemorySampler();  // once is enough; a second start changes nothing
  std::unique_ptr<char[]> Block(Held(new char[300000]));
  Block[0] = 1;
  EXPECT_TRUE(SampleSoon([](int32_t V) { return V >= 300000; }));
  Block.reset();
  EXPECT_TRUE(SampleSoon([](int32_t V) { return V < 300000; }));
}

TEST(Heap, AReadingOnRequestSeesWhatWasJustAllocated) {
  // No sampling period is waited out: each reading is taken after the call
  // began, so it sees the block at once, and its release at once.
  StartMemorySampler();
  for (int Round = 0; Round < 20; ++Round) {
    int32_t Before = MemoryInUseNow();
    std::unique_ptr<char[]> Block(Held(new char[300000]));
    Block[0] = 1;
    EXPECT_GE(MemoryInUseNow() - Before, 300000);
    Block.reset();
    EXPECT_LT(MemoryInUseNow() - Before, 300000);
  }
}

}  // namespace
}  // namespace kelvane
