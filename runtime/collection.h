// Ordered collections. tCollection is the system's growable list of owned
// items in insertion order: it starts with room for 16 items and grows by 16,
// offers indexed access, append, insertion, and removal that frees the item
// (the items behind it move up). tSortedStrings keeps each string once in
// byte-wise order (unsigned bytes, a prefix first) and finds a whole string
// by binary search.
#ifndef KELVANE_RUNTIME_COLLECTION_H_
#define KELVANE_RUNTIME_COLLECTION_H_

#include <cstddef>
#include <utility>
#include <vector>

#include "runtime/short_string.h"

namespace kelvane {

template <class T>
class tCollection {
 public:
  static constexpr size_t InitialCapacity = 16;
  static constexpr size_t GrowthStep = 16;

  tCollection() = default;
  tCollection(tCollection&&) noexcept = default;
  tCollection& operator=(tCollection&&) noexcept = default;
  tCollection(const tCollection&) = default;
  tCollection& operator=(const tCollection&) = default;

  size_t Count() const { return Items_.size(); }
  bool Empty() const { return Items_.empty(); }
  // Index must be below Count().
  T& At(size_t Index) { return Items_[Index]; }
  const T& At(size_t Index) const { return Items_[Index]; }
  T& operator[](size_t Index) { return Items_[Index]; }
  const T& operator[](size_t Index) const { return Items_[Index]; }

  void Append(T Item) {
    Grow();
    Items_.push_back(std::move(Item));
  }
  // Inserts before Index (Index == Count() appends).
  void Insert(size_t Index, T Item) {
    Grow();
    if (Index > Items_.size()) Index = Items_.size();
    Items_.insert(Items_.begin() + static_cast<std::ptrdiff_t>(Index), std::move(Item));
  }
  // Removes and frees the item at Index; an index out of range does nothing.
  void RemoveAt(size_t Index) {
    if (Index < Items_.size()) Items_.erase(Items_.begin() + static_cast<std::ptrdiff_t>(Index));
  }
  // Frees every item and releases the storage.
  void Clear() {
    Items_.clear();
    Items_.shrink_to_fit();
  }
  // Frees every item and keeps the storage for the items to come: a list
  // refilled over and over (a message reused for every read) is not
  // allocated anew each time.
  void RemoveAll() { Items_.clear(); }

  typename std::vector<T>::iterator begin() { return Items_.begin(); }
  typename std::vector<T>::iterator end() { return Items_.end(); }
  typename std::vector<T>::const_iterator begin() const { return Items_.begin(); }
  typename std::vector<T>::const_iterator end() const { return Items_.end(); }

 private:
  void Grow() {
    if (Items_.size() < Items_.capacity()) return;
    size_t Want = Items_.capacity() == 0 ? InitialCapacity : Items_.capacity() + GrowthStep;
    // Large lists (tens of thousands of areas) would make a fixed step of 16
    // quadratic; past 1024 items the step grows with the list.
    if (Items_.capacity() >= 1024) Want = Items_.capacity() + Items_.capacity() / 2;
    Items_.reserve(Want);
  }

  std::vector<T> Items_;
};

using tStringList = tCollection<tShortString>;

class tSortedStrings {
 public:
  size_t Count() const { return Items_.Count(); }
  const tShortString& At(size_t Index) const { return Items_[Index]; }
  // Adds Text unless it is already held; returns true when it was added.
  bool Insert(const tShortString& Text);
  // Exact, case-sensitive, whole-string lookup.
  bool Contains(std::string_view Text) const;
  // Index of Text, or -1.
  long Search(std::string_view Text) const;
  void Clear() { Items_.Clear(); }

 private:
  // Position where Text is or would be inserted.
  size_t LowerBound(std::string_view Text) const;
  tCollection<tShortString> Items_;
};

}  // namespace kelvane

#endif  // KELVANE_RUNTIME_COLLECTION_H_
