#pragma once

namespace corvantis {

// Has every heap block of 256 KiB or more mapped on its own and returned to the system when freed.
// One clip's pictures and encoder frames then never stay in the heap to add to the next clip's
// peak. Call before the first large allocation.
void ReturnLargeBlocksToSystem();

}  // namespace corvantis
