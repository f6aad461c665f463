// Heap accounting. A counting global operator new/delete keeps the number of
// bytes the program holds on the heap; the memory sampler reads it, and the
// memory report shows the difference between start and end.
#ifndef KELVANE_RUNTIME_HEAP_H_
#define KELVANE_RUNTIME_HEAP_H_

#include <cstdint>

namespace kelvane {

// Bytes allocated through operator new and not yet freed.
int64_t HeapBytesInUse();

// The memory sampler: records the heap total as its base, then a background
// thread sets MemoryInUse() to (total - base) every 55 ms. Stopped at exit.
void StartMemorySampler();
// The last sample (0 until the first pass). Read by the main thread only.
int32_t MemoryInUse();
// Asks the sampler for a reading and waits until it has taken one after
// this call began (well under a millisecond; no sampling period is waited
// out). 0 when the sampler was never started.
int32_t MemoryInUseNow();

}  // namespace kelvane

#endif  // KELVANE_RUNTIME_HEAP_H_
