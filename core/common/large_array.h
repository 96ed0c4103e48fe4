// Arrays of megabytes that are filled once and then read many times (the
// cochlea's transfer functions): placed on 2 MiB pages where the kernel
// gives them on request, so that filling one takes a few page faults instead
// of one per 4 KiB page, which costs a short run several milliseconds.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <type_traits>

namespace korva {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

template <class T>
using LargeArray = std::unique_ptr<T[], FreeDeleter>;

// Uninitialised storage of `bytes` bytes, freed with std::free; throws
// std::bad_alloc.
void* AllocateLarge(std::size_t bytes);

// `count` elements left for the caller to write (T must need no destructor).
template <class T>
LargeArray<T> MakeLargeArray(std::size_t count) {
  static_assert(std::is_trivially_destructible_v<T>);
  return LargeArray<T>(static_cast<T*>(AllocateLarge(count * sizeof(T))));
}

}  // namespace korva
