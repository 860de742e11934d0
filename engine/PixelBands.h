// Whole rows of a picture shared out over the thread pool: the pixel filters run their per-pixel
// loops on ranges of pixel indices that begin and end on row boundaries.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/thread_pool.h"

// Runs fn(first, last) over pixel index ranges [first, last) that together cover the
// width x height pixels exactly once; each range is at least about 64K pixels of whole rows.
template <typename Fn>
void ForPixelBands(int width, int height, const Fn& fn) {
  if (width <= 0 || height <= 0) return;
  const uint64_t w = static_cast<uint64_t>(width);
  const uint32_t minRows = static_cast<uint32_t>(std::max<uint64_t>(1, 65536 / w));
  qrv::ParallelRows(static_cast<uint32_t>(height), minRows,
                    [&](uint32_t y0, uint32_t y1) { fn(uint64_t(y0) * w, uint64_t(y1) * w); });
}
