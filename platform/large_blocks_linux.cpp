#include "platform/large_blocks.h"

#include <malloc.h>

namespace corvantis {

namespace {

constexpr int kLargeBlockBytes = 256 * 1024;

}  // namespace

void ReturnLargeBlocksToSystem() {
  // A fixed threshold also stops glibc from raising it after each large free, which is what
  // otherwise keeps freed 4K pictures in the heap.
  mallopt(M_MMAP_THRESHOLD, kLargeBlockBytes);
}

}  // namespace corvantis
