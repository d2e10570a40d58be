// Bytes that a vector does not zero when it grows: pictures and texel data, whose every
// byte is written by whoever makes them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

// An allocator whose new elements are left as they are, not zeroed: a decoder writes every
// byte of the picture it is given, and zeroing 4 MB first costs as much as decoding them.
// Whoever grows one with resize() writes what it added.
template <class T>
struct UnzeroedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UnzeroedAllocator<U>;
  };
  UnzeroedAllocator() = default;
  template <class U>
  UnzeroedAllocator(const UnzeroedAllocator<U>&) noexcept {}

  template <class U>
  void construct(U* at) noexcept {
    ::new (static_cast<void*>(at)) U;
  }
  template <class U, class... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};

using UnzeroedBytes = std::vector<uint8_t, UnzeroedAllocator<uint8_t>>;

// The same bytes, whichever allocator holds them.
inline bool operator==(const UnzeroedBytes& a, const std::vector<uint8_t>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}
