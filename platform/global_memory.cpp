// Global memory blocks: a 16-byte header holding the size sits in front of every block.
#include "platform/global_memory.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kHeader = 16;  // keeps the block aligned for any scalar

struct BlockHeader {
  uint64_t size;
  uint64_t magic;
};
constexpr uint64_t kMagic = 0x51525647424C4B31ull;  // marks a live block
static_assert(sizeof(BlockHeader) == kHeader, "header layout");

BlockHeader* HeaderOf(HGLOBAL block) {
  return reinterpret_cast<BlockHeader*>(static_cast<unsigned char*>(block) - kHeader);
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, uint64_t n) {
  if (n >= kGlobalAllocLimit) return nullptr;
  size_t total = static_cast<size_t>(n) + kHeader;
  void* raw = (flags & GMEM_ZEROINIT) ? std::calloc(1, total) : std::malloc(total);
  if (!raw) return nullptr;
  auto* h = static_cast<BlockHeader*>(raw);
  h->size = n;
  h->magic = kMagic;
  return static_cast<unsigned char*>(raw) + kHeader;
}

HGLOBAL GlobalReAlloc(HGLOBAL block, uint64_t n, UINT flags) {
  if (!block) return GlobalAlloc(flags, n);
  if (n >= kGlobalAllocLimit) return nullptr;
  BlockHeader* h = HeaderOf(block);
  if (h->magic != kMagic) return nullptr;
  uint64_t old = h->size;
  void* raw = std::realloc(h, static_cast<size_t>(n) + kHeader);
  if (!raw) return nullptr;
  h = static_cast<BlockHeader*>(raw);
  h->size = n;
  unsigned char* data = static_cast<unsigned char*>(raw) + kHeader;
  if ((flags & GMEM_ZEROINIT) && n > old) std::memset(data + old, 0, static_cast<size_t>(n - old));
  return data;
}

HGLOBAL GlobalFree(HGLOBAL block) {
  if (!block) return nullptr;
  BlockHeader* h = HeaderOf(block);
  if (h->magic != kMagic) return block;  // not ours: report failure, touch nothing else
  h->magic = 0;
  std::free(h);
  return nullptr;
}

uint64_t GlobalSize(HGLOBAL block) {
  if (!block) return 0;
  BlockHeader* h = HeaderOf(block);
  return h->magic == kMagic ? h->size : 0;
}
