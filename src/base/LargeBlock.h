#pragma once

// Memory for the large blocks of a conversion.
//   LargeBlock::Allocate / AllocateZeroed / AllocateSparse / Reallocate - the
//                 block, or nullptr
//                 when it cannot be had (Reallocate then keeps the old one).
//   LargeBlock::Free - releases a block of these (nullptr is ignored).
//   LargeBlock::Discard - gives back the pages of part of a block.
//   LargeBlock::ReturnFreeHeap - gives the heap's free memory back to the
//                 system.

#include <cstddef>

// Memory for the large working blocks of a conversion (black masks, segment
// lists, read and text buffers). A drawing sheet touches hundreds of
// megabytes, so where the system allows, a block is memory of its own that
// starts on a large-page boundary, is backed by large pages (every first touch
// of a small page costs a fault; blocks of a megabyte or more take whole large
// pages) and grows without being copied. Otherwise they are malloc, calloc,
// realloc and free. A failure returns nullptr.
namespace LargeBlock {

void *Allocate(std::size_t bytes);
// Every byte 0 (fresh pages are not written twice).
void *AllocateZeroed(std::size_t bytes);
// The same on small pages only, for a block of which only scattered parts
// are written: a large page would take in the whole neighbourhood of each.
void *AllocateSparse(std::size_t bytes);
// Contents kept up to the smaller size; the old block is released on success.
void *Reallocate(void *block, std::size_t bytes);
void Free(void *block);

// Gives back the memory of the whole pages within bytes from..from + count - 1
// of a block, where the system can: those bytes are not to be read again
// (they read 0, or what they held). For a block read once and then dropped.
void Discard(void *from, std::size_t count);

// Gives what the ordinary heap holds free back to the system (where it can):
// between two steps of a conversion, so that the small records one step freed
// do not stay resident under the next step's blocks. The heap keeps freed
// memory of its threads' arenas otherwise.
void ReturnFreeHeap();

} // namespace LargeBlock
