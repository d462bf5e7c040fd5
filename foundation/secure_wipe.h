// Wiping memory that held text or key material before it is freed.
//
// SecureWipe overwrites a block with zeros in a way the compiler may not
// drop as a dead store, even when the block is freed right after.
// WipedArray is an owned heap array that is wiped that way whenever it lets
// its block go (Reset, reassignment, destruction). Every buffer of the
// foundation that held user text, passwords or keys goes through one of
// them on its way out.
//
// SecureWipe is stateless and callable from any thread on memory the caller
// owns; a WipedArray belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <new>
#include <string.h>
#include <utility>

inline void SecureWipe(void* block, std::size_t bytes) {
  if (block != nullptr && bytes != 0) explicit_bzero(block, bytes);
}

template <typename T>
class WipedArray {
 public:
  WipedArray() = default;
  WipedArray(const WipedArray&) = delete;
  WipedArray& operator=(const WipedArray&) = delete;
  WipedArray(WipedArray&& other) noexcept
      : items_(std::exchange(other.items_, nullptr)),
        count_(std::exchange(other.count_, 0)) {}
  WipedArray& operator=(WipedArray&& other) noexcept {
    if (this != &other) {
      Reset();
      items_ = std::exchange(other.items_, nullptr);
      count_ = std::exchange(other.count_, 0);
    }
    return *this;
  }
  ~WipedArray() { Reset(); }

  // Replaces the block with `count` zeroed elements; false, leaving the
  // array empty, when the memory cannot be had.
  bool Allocate(std::size_t count) {
    Reset();
    items_ = new (std::nothrow) T[count]();
    if (items_ == nullptr) return false;
    count_ = count;
    return true;
  }

  // Wipes and frees the block.
  void Reset() {
    SecureWipe(items_, count_ * sizeof(T));
    delete[] items_;
    items_ = nullptr;
    count_ = 0;
  }

  T* get() const { return items_; }
  std::size_t size() const { return count_; }

 private:
  T* items_ = nullptr;
  std::size_t count_ = 0;
};
