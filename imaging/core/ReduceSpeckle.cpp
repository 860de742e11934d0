// Crimmins speckle reduction (one iteration of hulling in four directions), in place, on each
// masked channel. Errors: 5 null image, 1 no room for the buffers, 14 stopped.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "imaging/core/ISFilters.h"
#include "imaging/core/ISOpSupport.h"

const int ISSpeckleContext::kDx[4] = {0, 1, 1, -1};
const int ISSpeckleContext::kDy[4] = {1, 0, 1, 1};

namespace {

inline uint8_t Min(uint8_t a, uint8_t b) { return a < b ? a : b; }
// a - b when a > b, else 0 (a saturating difference, as plain arithmetic that vectorises).
inline uint8_t Excess(uint8_t a, uint8_t b) { return static_cast<uint8_t>(a - Min(a, b)); }
// 1 when v is not 0, else 0.
inline uint8_t NonZero(uint8_t v) { return Min(v, 1); }

// The comparisons are written with saturating differences and minima only, which the
// compiler turns into whole-vector byte operations: q > p is NonZero(Excess(q, p)), p > q + 1
// is NonZero(Excess(Excess(p, q), 1)), and "b >= m and f > m" is
// Excess(NonZero(Excess(f, m)), NonZero(Excess(m, b))).
QRV_WIDE_VECTORS
void RaiseFirst(const uint8_t* __restrict p, const uint8_t* __restrict q, uint8_t* __restrict out, ptrdiff_t w) {
  // W = P + 1 where P[p + d] > P[p]
  for (ptrdiff_t x = 0; x < w; ++x) out[x] = static_cast<uint8_t>(p[x] + NonZero(Excess(q[x], p[x])));
}

QRV_WIDE_VECTORS
void LowerFirst(const uint8_t* __restrict p, const uint8_t* __restrict q, uint8_t* __restrict out, ptrdiff_t w) {
  // W = P - 1 where P[p] > P[p + d] + 1
  for (ptrdiff_t x = 0; x < w; ++x) out[x] = static_cast<uint8_t>(p[x] - NonZero(Excess(Excess(p[x], q[x]), 1)));
}

QRV_WIDE_VECTORS
void RaiseSecond(const uint8_t* __restrict back, const uint8_t* __restrict m, const uint8_t* __restrict fwd,
                 uint8_t* __restrict out, ptrdiff_t w) {
  // P = W + 1 where W[p - d] >= W[p] and W[p + d] > W[p]
  for (ptrdiff_t x = 0; x < w; ++x) {
    const uint8_t up = NonZero(Excess(fwd[x], m[x]));
    const uint8_t blocked = NonZero(Excess(m[x], back[x]));
    out[x] = static_cast<uint8_t>(m[x] + Excess(up, blocked));
  }
}

QRV_WIDE_VECTORS
void LowerSecond(const uint8_t* __restrict back, const uint8_t* __restrict m, const uint8_t* __restrict fwd,
                 uint8_t* __restrict out, ptrdiff_t w) {
  // P = W - 1 where W[p - d] + 1 < W[p] and W[p + d] < W[p]
  for (ptrdiff_t x = 0; x < w; ++x) {
    const uint8_t down = NonZero(Excess(Excess(m[x], back[x]), 1));
    const uint8_t below = NonZero(Excess(m[x], fwd[x]));
    out[x] = static_cast<uint8_t>(m[x] - Min(down, below));
  }
}

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
    uint8_t* out = W + ptrdiff_t(y) * stride + 1;
    if (sign > 0)
      RaiseFirst(p, p + off, out, w);
    else
      LowerFirst(p, p + off, out, w);
  }
  RefreshPaddedBorder(W, w, h);
  // Second loop: P from W.
  for (uint32_t y = 1; y <= h; ++y) {
    const uint8_t* m = W + ptrdiff_t(y) * stride + 1;
    uint8_t* out = P + ptrdiff_t(y) * stride + 1;
    if (sign > 0)
      RaiseSecond(m - off, m, m + off, out, w);
    else
      LowerSecond(m - off, m, m + off, out, w);
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

// The channel is worked in bands of rows so that the sixteen steps run in cache. One step
// looks at most two rows further than the one before it, so after all sixteen a row depends
// only on source rows less than kHalo away: a band worked together with kHalo rows of source
// on either side (and the picture's own edges where it reaches them) gives exactly the rows
// that the whole channel worked at once would.
constexpr uint32_t kHalo = 32;
constexpr uint32_t kDefaultBandRows = 256;

namespace {

// The three samples of w RGB pixels into three planes, and back.
QRV_WIDE_VECTORS
void SplitRgb(const uint8_t* __restrict s, uint8_t* __restrict r, uint8_t* __restrict g, uint8_t* __restrict b,
              size_t w) {
  for (size_t x = 0; x < w; ++x) {
    r[x] = s[3 * x];
    g[x] = s[3 * x + 1];
    b[x] = s[3 * x + 2];
  }
}

QRV_WIDE_VECTORS
void JoinRgb(const uint8_t* __restrict r, const uint8_t* __restrict g, const uint8_t* __restrict b,
             uint8_t* __restrict d, size_t w) {
  for (size_t x = 0; x < w; ++x) {
    d[3 * x] = r[x];
    d[3 * x + 1] = g[x];
    d[3 * x + 2] = b[x];
  }
}

// The masked channels worked together (one channel alone on several threads, or every channel
// at once on one thread when no progress callback listens, the reports between the channels then
// reaching nobody): the samples are taken out of the pixels once for all channels and
// put back once, each band working its rows of every channel. A channel's result depends on its
// own samples only, so the bytes are those of the channel-by-channel form.
bool ReduceSpeckleTogether(ISSpeckleContext& ctx, uint8_t* image, uint32_t width, uint32_t height, uint32_t n,
                           uint32_t rowBytes, const uint32_t* channels, uint32_t count) {
  if (width == 0 || height == 0 || count == 0) return true;
  const uint32_t band = ctx.bandRows ? ctx.bandRows : kDefaultBandRows;
  const uint32_t maxRows = static_cast<uint32_t>(std::min<uint64_t>(height, uint64_t(band) + 2 * kHalo));
  const uint64_t cells = (uint64_t(width) + 2) * (uint64_t(maxRows) + 2);
  const uint64_t plane = uint64_t(width) * height;
  ISArray<uint8_t> plain;  // the masked channels' source samples, one packed plane each
  {
    ISArray<uint8_t> probe;  // the size of every band's buffers, tried once so a refusal is error 1
    if (!ResizeScratch(plain, plane * count) || !ResizeScratch(probe, cells * count)) {
      ctx.error = IS_ERR_NOMEM;
      return false;
    }
  }
  const bool rgb = n == 3 && count == 3;  // the common case, in loops of whole vectors
  qrv::ParallelRows(height, 64, [&](uint32_t y0, uint32_t y1) {
    for (uint32_t y = y0; y < y1; ++y) {
      const uint8_t* s = image + size_t(y) * rowBytes;
      uint8_t* d = plain.Data() + size_t(y) * width;
      if (rgb) {
        SplitRgb(s, d, d + plane, d + 2 * plane, width);
        continue;
      }
      for (uint32_t k = 0; k < count; ++k)
        for (uint32_t x = 0; x < width; ++x) d[k * plane + x] = s[size_t(x) * n + channels[k]];
    }
  });
  const size_t stride = size_t(width) + 2;
  std::atomic<bool> failed{false};
  qrv::ParallelRows(height, band, [&](uint32_t from, uint32_t to) {
    ISSpeckleContext local;
    ISArray<uint8_t> padded;  // one padded buffer per channel
    if (!ResizeScratch(padded, cells * count) || !ResizeScratch(local.work, cells)) {
      failed = true;
      return;
    }
    for (uint32_t y0 = from; y0 < to; y0 = static_cast<uint32_t>(std::min<uint64_t>(to, uint64_t(y0) + band))) {
      const uint32_t y1 = static_cast<uint32_t>(std::min<uint64_t>(to, uint64_t(y0) + band));
      const uint32_t top = y0 > kHalo ? y0 - kHalo : 0;
      const uint32_t bottom = static_cast<uint32_t>(std::min<uint64_t>(height, uint64_t(y1) + kHalo));
      const uint32_t rows = bottom - top;
      for (uint32_t k = 0; k < count; ++k) {
        uint8_t* P = padded.Data() + k * cells;
        const uint8_t* src = plain.Data() + k * plane;
        for (uint32_t r = 0; r < rows; ++r)
          std::memcpy(P + (r + 1) * stride + 1, src + size_t(top + r) * width, width);
        local.width = width;
        local.height = rows;
        RefreshPaddedBorder(P, width, rows);
        for (int dir = 0; dir < 4; ++dir) CrimminsDirection(local, dir, P);
      }
      for (uint32_t y = y0; y < y1; ++y) {
        uint8_t* d = image + size_t(y) * rowBytes;
        const size_t at = (y - top + 1) * stride + 1;
        if (rgb) {
          const uint8_t* s0 = padded.Data() + at;
          JoinRgb(s0, s0 + cells, s0 + 2 * cells, d, width);
          continue;
        }
        for (uint32_t k = 0; k < count; ++k) {
          const uint8_t* s = padded.Data() + k * cells + at;
          for (uint32_t x = 0; x < width; ++x) d[size_t(x) * n + channels[k]] = s[x];
        }
      }
    }
  });
  if (failed) {
    ctx.error = IS_ERR_NOMEM;
    return false;
  }
  return true;
}

}  // namespace

bool ReduceSpeckleChannel(ISSpeckleContext& ctx, uint8_t* channel, uint32_t width, uint32_t height,
                          uint32_t rowBytes, uint32_t bytesPerPixel) {
  ctx.error = IS_ERR_OK;
  const uint32_t first = 0;  // `channel` already points at the channel's first sample
  return ReduceSpeckleTogether(ctx, channel, width, height, bytesPerPixel, rowBytes, &first, 1);
}

bool ReduceSpeckle(ISSpeckleContext& ctx, uint8_t* image, uint32_t width, uint32_t height, uint32_t bytesPerPixel,
                   uint32_t rowBytes, uint32_t channelMask) {
  ctx.error = IS_ERR_OK;
  if (!image) {
    ctx.error = IS_ERR_BADPARAM;
    return false;
  }
  // With several threads the channel-by-channel form is kept: it holds one channel's samples
  // and one padded buffer per thread at a time instead of all of them.
  if (!ProgressIsHeard() && qrv::ThreadCount() == 1) {
    std::vector<uint32_t> channels;
    for (uint32_t c = 0; c < bytesPerPixel && c < 32; ++c)
      if (channelMask & (1u << c)) channels.push_back(c);
    return ReduceSpeckleTogether(ctx, image, width, height, bytesPerPixel, rowBytes, channels.data(),
                                 static_cast<uint32_t>(channels.size()));
  }
  for (uint32_t c = 0; c < bytesPerPixel; ++c) {
    if ((channelMask & (c < 32 ? 1u << c : 0u)) &&
        !ReduceSpeckleChannel(ctx, image + c, width, height, rowBytes, bytesPerPixel))
      return false;
    if (!ProgressOrStop(ctx.error, c, 3)) return false;
  }
  return true;
}
