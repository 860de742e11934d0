// Crimmins speckle reduction (one iteration of hulling in four directions), in place, on each
// masked channel. Errors: 5 null image, 1 no room for the buffers, 14 stopped.
#include <cstring>

#include "imaging/core/ISFilters.h"
#include "imaging/core/ISOpSupport.h"

const int ISSpeckleContext::kDx[4] = {0, 1, 1, -1};
const int ISSpeckleContext::kDy[4] = {1, 0, 1, 1};

namespace {

// a - b when a > b, else 0 (a saturating difference the compiler vectorises).
inline uint8_t Excess(uint8_t a, uint8_t b) { return a > b ? static_cast<uint8_t>(a - b) : 0; }

}  // namespace

void RefreshPaddedBorder(uint8_t* padded, uint32_t width, uint32_t height) {
  const size_t stride = size_t(width) + 2;
  for (uint32_t y = 1; y <= height; ++y) {
    uint8_t* row = padded + y * stride;
    row[0] = row[1];
    row[width + 1] = row[width];
  }
  std::memcpy(padded, padded + stride, stride);
  std::memcpy(padded + (size_t(height) + 1) * stride, padded + size_t(height) * stride, stride);
}

void CrimminsStep(ISSpeckleContext& ctx, int dx, int dy, int sign, uint8_t* padded) {
  const uint32_t w = ctx.width, h = ctx.height;
  const ptrdiff_t stride = ptrdiff_t(w) + 2;
  const ptrdiff_t off = ptrdiff_t(dy) * stride + dx;
  uint8_t* P = padded;
  uint8_t* W = ctx.work.Data();
  // First loop: W from P. Outside positions read the nearest edge sample (the border).
  for (uint32_t y = 1; y <= h; ++y) {
    const uint8_t* p = P + ptrdiff_t(y) * stride + 1;
    const uint8_t* q = p + off;
    uint8_t* out = W + ptrdiff_t(y) * stride + 1;
    if (sign > 0) {
      for (uint32_t x = 0; x < w; ++x) out[x] = static_cast<uint8_t>(p[x] + (q[x] > p[x] ? 1 : 0));
    } else {
      // p > q + 1, in whole numbers
      for (uint32_t x = 0; x < w; ++x) out[x] = static_cast<uint8_t>(p[x] - (Excess(p[x], q[x]) > 1 ? 1 : 0));
    }
  }
  RefreshPaddedBorder(W, w, h);
  // Second loop: P from W.
  for (uint32_t y = 1; y <= h; ++y) {
    const uint8_t* m = W + ptrdiff_t(y) * stride + 1;
    const uint8_t* back = m - off;
    const uint8_t* fwd = m + off;
    uint8_t* out = P + ptrdiff_t(y) * stride + 1;
    if (sign > 0) {
      for (uint32_t x = 0; x < w; ++x)
        out[x] = static_cast<uint8_t>(m[x] + ((back[x] >= m[x]) & (fwd[x] > m[x]) ? 1 : 0));
    } else {
      // back + 1 < m and fwd < m, in whole numbers
      for (uint32_t x = 0; x < w; ++x)
        out[x] = static_cast<uint8_t>(m[x] - ((Excess(m[x], back[x]) > 1) & (fwd[x] < m[x]) ? 1 : 0));
    }
  }
  RefreshPaddedBorder(P, w, h);
}

void CrimminsDirection(ISSpeckleContext& ctx, int direction, uint8_t* padded) {
  const int dx = ISSpeckleContext::kDx[direction], dy = ISSpeckleContext::kDy[direction];
  CrimminsStep(ctx, dx, dy, +1, padded);
  CrimminsStep(ctx, -dx, -dy, +1, padded);
  CrimminsStep(ctx, -dx, -dy, -1, padded);
  CrimminsStep(ctx, dx, dy, -1, padded);
  // Each step rewrites the whole work buffer, border included, so it needs no clearing here.
}

bool ReduceSpeckleChannel(ISSpeckleContext& ctx, uint8_t* channel, uint32_t width, uint32_t height,
                          uint32_t rowBytes, uint32_t bytesPerPixel) {
  ctx.error = IS_ERR_OK;
  if (width == 0 || height == 0) return true;
  const uint64_t cells = (uint64_t(width) + 2) * (uint64_t(height) + 2);
  ISArray<uint8_t> padded;
  if (!ResizeScratch(padded, cells) || !ResizeScratch(ctx.work, cells)) {
    ctx.error = IS_ERR_NOMEM;
    return false;
  }
  ctx.width = width;
  ctx.height = height;
  const size_t stride = size_t(width) + 2;
  const uint32_t n = bytesPerPixel;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* s = channel + size_t(y) * rowBytes;
    uint8_t* d = padded.Data() + (y + 1) * stride + 1;
    for (uint32_t x = 0; x < width; ++x) d[x] = s[size_t(x) * n];
  }
  RefreshPaddedBorder(padded.Data(), width, height);
  for (int dir = 0; dir < 4; ++dir) CrimminsDirection(ctx, dir, padded.Data());
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* d = channel + size_t(y) * rowBytes;
    const uint8_t* s = padded.Data() + (y + 1) * stride + 1;
    for (uint32_t x = 0; x < width; ++x) d[size_t(x) * n] = s[x];
  }
  ctx.work.Free();
  return true;
}

bool ReduceSpeckle(ISSpeckleContext& ctx, uint8_t* image, uint32_t width, uint32_t height, uint32_t bytesPerPixel,
                   uint32_t rowBytes, uint32_t channelMask) {
  ctx.error = IS_ERR_OK;
  if (!image) {
    ctx.error = IS_ERR_BADPARAM;
    return false;
  }
  for (uint32_t c = 0; c < bytesPerPixel; ++c) {
    if ((channelMask & (c < 32 ? 1u << c : 0u)) &&
        !ReduceSpeckleChannel(ctx, image + c, width, height, rowBytes, bytesPerPixel))
      return false;
    if (!ProgressOrStop(ctx.error, c, 3)) return false;
  }
  return true;
}
