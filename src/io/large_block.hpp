// Large blocks of fresh memory, mapped on their own.
#pragma once

#include <cstddef>

namespace wk {

// Blocks of at least this size are mapped on their own, aligned to 2 MiB and
// offered to the kernel for transparent huge pages: the first touch of such
// a block then costs one page fault per 2 MiB instead of one per 4 KiB (the
// full grid of the largest case is 240 MB, an inflated export 220 MB). Where
// the kernel gives no huge pages the mapping behaves like any other.
inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// A block of at least `bytes`, its size rounded up to whole huge pages
// (what large_block_bytes gives); throws std::bad_alloc when there is no
// memory.
void* map_large_block(std::size_t bytes);
// The same as address space only: no memory is set aside for the block
// until its pages are first touched (for text whose size is known only as
// it is inflated; a page touched when none is left is a fault of the
// kernel's, not a bad_alloc).
void* reserve_large_block(std::size_t bytes);
std::size_t large_block_bytes(std::size_t bytes);
void unmap_large_block(void* p, std::size_t bytes) noexcept;

}  // namespace wk
