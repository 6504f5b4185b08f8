// Memory for the many small blocks a large table of texts holds (a million
// rows hold several million): blocks of up to kLargestSmallBlock bytes are cut
// from large slabs in steps of 8 bytes, with no header of their own, where
// the general allocator adds a header to each block and rounds it up to 16
// bytes, a fifth of what a short text needs. A block given back is taken
// again by the next one of its size, from any thread; the slabs themselves
// stay with the program, ready for the next run's texts.
#ifndef TARVEL_PLATFORM_SMALL_BLOCKS_H_
#define TARVEL_PLATFORM_SMALL_BLOCKS_H_

#include <cstddef>

namespace tarvel {

inline constexpr size_t kLargestSmallBlock = 256;

// A block of at least `bytes` bytes (1 or more), aligned to 8 bytes. Larger
// blocks come from the general allocator. Throws std::bad_alloc.
void* AllocateSmallBlock(size_t bytes);

// Gives back a block from AllocateSmallBlock, with the same `bytes`.
void FreeSmallBlock(void* block, size_t bytes) noexcept;

// False where blocks come one by one from the general allocator, so that a
// memory checker (AddressSanitizer) sees each of them.
bool SmallBlocksPooled();

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_SMALL_BLOCKS_H_
