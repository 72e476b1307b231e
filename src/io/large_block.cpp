#include "io/large_block.hpp"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace wk {

std::size_t large_block_bytes(std::size_t bytes) { return (bytes + kHugePageBytes - 1) & ~(kHugePageBytes - 1); }

namespace {

void* map_aligned(std::size_t bytes, int flags) {
  const std::size_t size = large_block_bytes(bytes);
  // Map one huge page more than needed and trim both ends, so that the block
  // starts on a 2 MiB boundary, where the kernel can back it with huge pages.
  const std::size_t span = size + kHugePageBytes;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | flags, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto base = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t start = (base + kHugePageBytes - 1) & ~(std::uintptr_t{kHugePageBytes} - 1);
  if (start > base) munmap(raw, start - base);
  const std::uintptr_t end = start + size;
  if (base + span > end) munmap(reinterpret_cast<void*>(end), base + span - end);
  void* block = reinterpret_cast<void*>(start);
#ifdef MADV_HUGEPAGE
  madvise(block, size, MADV_HUGEPAGE);  // advice only: a refusal changes nothing
#endif
  return block;
}

}  // namespace

void* map_large_block(std::size_t bytes) { return map_aligned(bytes, 0); }

void* reserve_large_block(std::size_t bytes) { return map_aligned(bytes, MAP_NORESERVE); }

void unmap_large_block(void* p, std::size_t bytes) noexcept { munmap(p, large_block_bytes(bytes)); }

}  // namespace wk
