// The heap count and the memory sampler. Every global operator new and
// delete of the program is replaced here, so the count covers every
// allocation made through them; the memory report is the difference between
// the count when the sampler started and its last sample.
//
// Each block carries its size (and, for over-aligned blocks, the address
// malloc returned) in the bytes just before the caller's pointer, so an
// unsized delete knows what it frees.
#include "runtime/heap.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

// Named in a linker option of the runtime library, so that this object is
// part of every program that links the runtime even where nothing else
// would pull it from the archive.
extern "C" {
extern int kelvane_heap_anchor;
int kelvane_heap_anchor = 0;
}

namespace kelvane {

namespace {

std::atomic<intptr_t> BytesInUse{0};

// Room before the caller's pointer: the size and the malloc address, and no
// less than the alignment malloc gives.
constexpr size_t HeaderSize = alignof(std::max_align_t) > 2 * sizeof(size_t) ? alignof(std::max_align_t) : 2 * sizeof(size_t);

void* Allocate(size_t Size, size_t Align) {
  size_t Extra = HeaderSize + Align;
  if (Size > SIZE_MAX - Extra) return nullptr;
  while (true) {
    if (void* Base = std::malloc(Size + Extra)) {
      uintptr_t User = reinterpret_cast<uintptr_t>(Base) + HeaderSize;
      if (Align) User = (User + Align - 1) & ~static_cast<uintptr_t>(Align - 1);
      size_t* Info = reinterpret_cast<size_t*>(User);
      Info[-1] = Size;
      reinterpret_cast<void**>(User)[-2] = Base;
      BytesInUse.fetch_add(static_cast<intptr_t>(Size), std::memory_order_relaxed);
      return reinterpret_cast<void*>(User);
    }
    std::new_handler Handler = std::get_new_handler();
    if (!Handler) return nullptr;
    Handler();
  }
}

void* AllocateOrThrow(size_t Size, size_t Align) {
  void* P = Allocate(Size, Align);
  if (!P) throw std::bad_alloc();
  return P;
}

void Free(void* P) noexcept {
  if (!P) return;
  size_t Size = reinterpret_cast<size_t*>(P)[-1];
  void* Base = reinterpret_cast<void**>(P)[-2];
  BytesInUse.fetch_sub(static_cast<intptr_t>(Size), std::memory_order_relaxed);
  std::free(Base);
}

// The sampler thread. It is created before the base is taken (the thread's
// own bookkeeping is allocated through operator new and lives as long as the
// thread) and is released to sample only after that. Its first reading is
// taken as soon as it is released; after that it reads every 55 ms, or at
// once when the main thread asks for a reading (SampleNow).
class tSampler {
 public:
  void Start() {
    Thread_ = std::thread([this] { Loop(); });
    std::lock_guard<std::mutex> Lock(Mutex_);
    Base_ = BytesInUse.load(std::memory_order_relaxed);
    Armed_ = true;
    Wake_.notify_all();
  }
  ~tSampler() {
    if (!Thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> Lock(Mutex_);
      Stop_ = true;
    }
    Wake_.notify_all();
    Thread_.join();
  }
  // Wakes the thread and waits until it has stored a reading taken after
  // this call began; returns that reading.
  int32_t SampleNow() {
    std::unique_lock<std::mutex> Lock(Mutex_);
    const uint64_t Seen = Taken_;
    Wanted_ = true;
    Wake_.notify_all();
    TakenCv_.wait(Lock, [&] { return Taken_ != Seen || Stop_; });
    return Sample.load(std::memory_order_relaxed);
  }
  std::atomic<int32_t> Sample{0};

 private:
  void Loop() {
    std::unique_lock<std::mutex> Lock(Mutex_);
    Wake_.wait(Lock, [this] { return Armed_ || Stop_; });
    while (!Stop_) {
      Sample.store(static_cast<int32_t>(BytesInUse.load(std::memory_order_relaxed) - Base_), std::memory_order_relaxed);
      ++Taken_;
      Wanted_ = false;
      TakenCv_.notify_all();
      Wake_.wait_for(Lock, std::chrono::milliseconds(55), [this] { return Stop_ || Wanted_; });
    }
  }
  std::mutex Mutex_;
  std::condition_variable Wake_;      // the thread waits here between readings
  std::condition_variable TakenCv_;  // SampleNow waits here for a reading
  std::thread Thread_;
  intptr_t Base_ = 0;
  uint64_t Taken_ = 0;  // readings stored so far
  bool Armed_ = false;
  bool Wanted_ = false;
  bool Stop_ = false;
};

tSampler* Sampler = nullptr;

}  // namespace

int64_t HeapBytesInUse() { return BytesInUse.load(std::memory_order_relaxed); }

void StartMemorySampler() {
  if (Sampler) return;
  // A function-local static: destroyed, and so stopped and joined, when the
  // process ends through main's return or exit() on any path.
  static tSampler S;
  Sampler = &S;
  S.Start();
}

int32_t MemoryInUse() { return Sampler ? Sampler->Sample.load(std::memory_order_relaxed) : 0; }

int32_t MemoryInUseNow() { return Sampler ? Sampler->SampleNow() : 0; }

}  // namespace kelvane

using kelvane::Allocate;
using kelvane::AllocateOrThrow;
using kelvane::Free;

void* operator new(std::size_t Size) { return AllocateOrThrow(Size, 0); }
void* operator new[](std::size_t Size) { return AllocateOrThrow(Size, 0); }
void* operator new(std::size_t Size, const std::nothrow_t&) noexcept { return Allocate(Size, 0); }
void* operator new[](std::size_t Size, const std::nothrow_t&) noexcept { return Allocate(Size, 0); }
void* operator new(std::size_t Size, std::align_val_t Align) { return AllocateOrThrow(Size, static_cast<size_t>(Align)); }
void* operator new[](std::size_t Size, std::align_val_t Align) { return AllocateOrThrow(Size, static_cast<size_t>(Align)); }
void* operator new(std::size_t Size, std::align_val_t Align, const std::nothrow_t&) noexcept {
  return Allocate(Size, static_cast<size_t>(Align));
}
void* operator new[](std::size_t Size, std::align_val_t Align, const std::nothrow_t&) noexcept {
  return Allocate(Size, static_cast<size_t>(Align));
}

void operator delete(void* P) noexcept { Free(P); }
void operator delete[](void* P) noexcept { Free(P); }
void operator delete(void* P, std::size_t) noexcept { Free(P); }
void operator delete[](void* P, std::size_t) noexcept { Free(P); }
void operator delete(void* P, const std::nothrow_t&) noexcept { Free(P); }
void operator delete[](void* P, const std::nothrow_t&) noexcept { Free(P); }
void operator delete(void* P, std::align_val_t) noexcept { Free(P); }
void operator delete[](void* P, std::align_val_t) noexcept { Free(P); }
void operator delete(void* P, std::size_t, std::align_val_t) noexcept { Free(P); }
void operator delete[](void* P, std::size_t, std::align_val_t) noexcept { Free(P); }
void operator delete(void* P, std::align_val_t, const std::nothrow_t&) noexcept { Free(P); }
void operator delete[](void* P, std::align_val_t, const std::nothrow_t&) noexcept { Free(P); }
