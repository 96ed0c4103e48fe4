#include "core/common/large_array.h"

#include <sys/mman.h>

#include <new>

namespace korva {

void* AllocateLarge(std::size_t bytes) {
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  if (bytes >= kHugePage) {
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    if (void* p = std::aligned_alloc(kHugePage, rounded)) {
      // Only advice: where huge pages are off, the pages are ordinary ones.
      madvise(p, rounded, MADV_HUGEPAGE);
      return p;
    }
  } else if (void* p = std::malloc(bytes == 0 ? 1 : bytes)) {
    return p;
  }
  throw std::bad_alloc();
}

}  // namespace korva
