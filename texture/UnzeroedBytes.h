// Bytes that a vector does not zero when it grows: pictures and texel data, whose every
// byte is written by whoever makes them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

// An allocator whose new elements are left as they are, not zeroed: a decoder writes every
// byte of the picture it is given, and zeroing 4 MB first costs as much as decoding them.
// Whoever grows one with resize() writes what it added.
template <class T>
struct UnzeroedAllocator : std::allocator<T> {
  static constexpr size_t kAlignment = 64;

  // The byte of each block that starts a cache line: 0 but for texel data, whose main
  // level, nearly all of its bytes, comes after the smaller levels (Texture::SizeData).
  size_t lineStart = 0;

  UnzeroedAllocator() = default;
  explicit UnzeroedAllocator(size_t lineStartByte) noexcept : lineStart(lineStartByte % kAlignment) {}
  template <class U>
  UnzeroedAllocator(const UnzeroedAllocator<U>& other) noexcept : lineStart(other.lineStart) {}

  // A copy or a move takes the source's placement with its bytes. Any allocator frees any
  // block, but only one of the same placement may reuse another's memory.
  using propagate_on_container_copy_assignment = std::true_type;
  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_swap = std::true_type;
  using is_always_equal = std::false_type;
  template <class U>
  bool operator==(const UnzeroedAllocator<U>& other) const noexcept { return lineStart == other.lineStart; }

  // Byte lineStart on a cache line: the codec's widest steps store whole lines, and a block
  // that malloc aligns to 16 bytes would split each store in two. The byte before the block
  // says how far into what malloc gave it starts (1 to 64), which the aligned forms of
  // operator new, slower by a good part of a small picture's decode, would not need.
  T* allocate(size_t n) {
    if (n > (size_t(-1) - kAlignment) / sizeof(T)) throw std::bad_array_new_length();
    auto* given = static_cast<uint8_t*>(std::malloc(n * sizeof(T) + kAlignment));
    if (given == nullptr) throw std::bad_alloc();
    const uintptr_t lineByteAtFirst = reinterpret_cast<uintptr_t>(given) + 1 + lineStart;  // were skip 1
    const size_t skip = 1 + (kAlignment - lineByteAtFirst % kAlignment) % kAlignment;
    given[skip - 1] = uint8_t(skip);
    return reinterpret_cast<T*>(given + skip);
  }
  void deallocate(T* p, size_t) noexcept {
    auto* block = reinterpret_cast<uint8_t*>(p);
    std::free(block - block[-1]);
  }

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
