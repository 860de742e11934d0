// Global memory over the C heap: fixed blocks that carry their own size. Zero fill on request;
// every request of kGlobalAllocLimit bytes or more is refused.
#pragma once

#include "platform/win32_types.h"

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// The largest request plus one: blocks of this many bytes or more are never handed out.
constexpr uint64_t kGlobalAllocLimit = 0x7FFDEFFFu;

// A new block of n bytes (n may be 0), or null. The handle is the block's address.
HGLOBAL GlobalAlloc(UINT flags, uint64_t n);
// Resizes a block, keeping its contents up to the smaller size; bytes added are zero when
// GMEM_ZEROINIT is given. Null on failure, the old block then stays valid.
HGLOBAL GlobalReAlloc(HGLOBAL block, uint64_t n, UINT flags);
// Frees a block; null on success (also for null), as the platform does.
HGLOBAL GlobalFree(HGLOBAL block);
// The size the block was allocated with; 0 for null.
uint64_t GlobalSize(HGLOBAL block);
