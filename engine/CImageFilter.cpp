// Pixel filters of the correction engine. Per-pixel work goes through small tables or integer
// arithmetic that give exactly the values of the double formulas they replace; scratch
// memory is held in RAII buffers, and a failed allocation leaves the picture as it was.
#include "engine/CImageFilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

#include "engine/CScratchBuffer.h"
#include "engine/PixelBands.h"
#include "platform/wide_vectors.h"
#include "engine/CToneCurve.h"
#include "qrv/imaging.h"

namespace {

// Pixel count of a picture; false for negative sides.
bool PixelCount(int width, int height, uint64_t& n) {
  if (width < 0 || height < 0) return false;
  n = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  return true;
}

// 0.299 R, 0.587 G and 0.114 B as the doubles the luminance formula multiplies out, so that
// the sum of three look-ups is bit for bit the formula's value.
struct LumaTables {
  double r[256];
  double g[256];
  double b[256];
  LumaTables() {
    for (int i = 0; i < 256; ++i) {
      r[i] = 0.299 * i;
      g[i] = 0.587 * i;
      b[i] = 0.114 * i;
    }
  }
};
const LumaTables& Luma() {
  static const LumaTables tables;
  return tables;
}

// trunc(d * keep + s * add) for every byte: the blend's sum of the two weighted values, in
// whole vectors of doubles (each lane the scalar arithmetic).
QRV_WIDE_VECTORS
void MixBytes(BYTE* d, const BYTE* s, uint64_t count, double keep, double add) {
  for (uint64_t i = 0; i < count; ++i) d[i] = static_cast<BYTE>(static_cast<int>(d[i] * keep + s[i] * add));
}

inline BYTE ClampByte(int v) { return static_cast<BYTE>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

inline int Med3(int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

// Luminance map of n pixels and its histogram, in one pass; four partial histograms keep runs
// of equal values from stalling on one counter.
void LuminanceWithHistogramOf(const BYTE* image, uint64_t n, BYTE* y, uint64_t* histogram) {
  const LumaTables& t = Luma();
  uint64_t partial[4][256] = {};
  uint64_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const BYTE* p = image + 3 * i;
    const BYTE y0 = static_cast<BYTE>(static_cast<int>(t.r[p[0]] + t.g[p[1]] + t.b[p[2]]));
    const BYTE y1 = static_cast<BYTE>(static_cast<int>(t.r[p[3]] + t.g[p[4]] + t.b[p[5]]));
    const BYTE y2 = static_cast<BYTE>(static_cast<int>(t.r[p[6]] + t.g[p[7]] + t.b[p[8]]));
    const BYTE y3 = static_cast<BYTE>(static_cast<int>(t.r[p[9]] + t.g[p[10]] + t.b[p[11]]));
    y[i] = y0;
    y[i + 1] = y1;
    y[i + 2] = y2;
    y[i + 3] = y3;
    ++partial[0][y0];
    ++partial[1][y1];
    ++partial[2][y2];
    ++partial[3][y3];
  }
  for (; i < n; ++i) {
    const BYTE* p = image + 3 * i;
    y[i] = static_cast<BYTE>(static_cast<int>(t.r[p[0]] + t.g[p[1]] + t.b[p[2]]));
    ++partial[0][y[i]];
  }
  for (int v = 0; v < 256; ++v) histogram[v] = partial[0][v] + partial[1][v] + partial[2][v] + partial[3][v];
}

// The same over the whole picture, bands side by side; counts add up in any order.
void LuminanceWithHistogram(const BYTE* image, int width, int height, BYTE* y, uint64_t* histogram) {
  std::fill(histogram, histogram + 256, uint64_t(0));
  std::mutex lock;
  ForPixelBands(width, height, [&](uint64_t first, uint64_t last) {
    uint64_t band[256];
    LuminanceWithHistogramOf(image + 3 * first, last - first, y + first, band);
    std::lock_guard<std::mutex> hold(lock);
    for (int v = 0; v < 256; ++v) histogram[v] += band[v];
  });
}

}  // namespace

BOOL CImageFilter::ToLuminance(const BYTE* image, int width, int height, BYTE* map) {
  uint64_t n = 0;
  if (!image || !map || !PixelCount(width, height, n)) return FALSE;
  const LumaTables& t = Luma();
  ForPixelBands(width, height, [&](uint64_t first, uint64_t last) {
    for (uint64_t i = first; i < last; ++i) {
      const BYTE* p = image + 3 * i;
      map[i] = static_cast<BYTE>(static_cast<int>(t.r[p[0]] + t.g[p[1]] + t.b[p[2]]));
    }
  });
  return TRUE;
}

void CImageFilter::FindPoints(const uint64_t* histogram, uint64_t n, double lowPercent, double highPercent) {
  lowPercent = std::min(std::max(lowPercent, 0.0), 100.0);
  highPercent = std::min(std::max(highPercent, 0.0), 100.0);
  const double total = static_cast<double>(n);
  const int64_t lowCount = static_cast<int64_t>(total * lowPercent / 100);
  const int64_t highCount = static_cast<int64_t>(total * (1 - highPercent / 100));
  int64_t black = -1;
  int64_t white = -1;
  int64_t sum = 0;
  for (int v = 0; v < 256; ++v) {
    sum += static_cast<int64_t>(histogram[v]);
    if (black < 0 && sum >= lowCount) black = v;
    if (sum >= highCount) {
      white = v;
      break;
    }
  }
  const int64_t cap = static_cast<int64_t>(n);
  black = std::min(std::max<int64_t>(black, 0), cap);
  white = std::min(std::max<int64_t>(white, 0), cap);
  blackPoint = static_cast<int32_t>(std::min(black, white));
  whitePoint = static_cast<int32_t>(std::max(black, white));
}

BOOL CImageFilter::StretchLevels(BYTE* image, int width, int height, bool findPoints, double lowPercent,
                                 double highPercent) {
  uint64_t n = 0;
  if (!image || !PixelCount(width, height, n)) return FALSE;
  if (n == 0) return TRUE;
  CScratchBuffer<BYTE> map;
  if (!map.Allocate(n)) return FALSE;
  BYTE* y = map.get();

  if (findPoints) {
    uint64_t histogram[256];
    LuminanceWithHistogram(image, width, height, y, histogram);
    FindPoints(histogram, n, lowPercent, highPercent);
  } else {
    ToLuminance(image, width, height, y);
  }

  // Equal points would divide by zero: the luminance then stays as it is.
  if (whitePoint == blackPoint) return TRUE;

  // Each pixel moves by d = Y - stretch(Y); shift[Y][c] = clamp(c - d).
  const double scale = 255 / static_cast<double>(whitePoint - blackPoint);
  CScratchBuffer<BYTE> shiftTable;
  if (!shiftTable.Allocate(256 * 256)) return FALSE;
  BYTE* shift = shiftTable.get();
  for (int v = 0; v < 256; ++v) {
    const int stretched = ClampByte(static_cast<int>((v - blackPoint) * scale));
    const int d = v - stretched;
    for (int c = 0; c < 256; ++c) shift[v * 256 + c] = ClampByte(c - d);
  }
  ForPixelBands(width, height, [&](uint64_t first, uint64_t last) {
    // Copies that no byte store can reach, so they stay in registers.
    const BYTE* const shifts = shift;
    const BYTE* const luma = y;
    BYTE* const pixels = image;
    for (uint64_t i = first; i < last; ++i) {
      const BYTE* row = shifts + luma[i] * 256;
      BYTE* p = pixels + 3 * i;
      p[0] = row[p[0]];
      p[1] = row[p[1]];
      p[2] = row[p[2]];
    }
  });
  return TRUE;
}

BOOL CImageFilter::AutoLevels(BYTE* image, int width, int height, int lowClip, int highClip) {
  const double lowPercent = lowClip * 100.0 / 255.0;
  const double highPercent = (255 - highClip) * 100.0 / 255.0;
  return StretchLevels(image, width, height, true, lowPercent, highPercent);
}

BOOL CImageFilter::ApplyLevels(BYTE* image, int width, int height) {
  return StretchLevels(image, width, height, false, 0.0, 0.0);
}

BOOL CImageFilter::Blend(BYTE* destination, int width, int height, const BYTE* source, int sourceWidth,
                         int sourceHeight, double opacity, int integerMode) {
  uint64_t n = 0;
  if (!destination || !source || destination == source || width != sourceWidth || height != sourceHeight ||
      !PixelCount(width, height, n))
    return FALSE;
  double a = opacity;
  if (!(a >= 0.0)) a = 0.0;
  if (a > 1.0) a = 1.0;
  const uint64_t bytes = n * 3;
  if (a == 1.0) {
    std::memcpy(destination, source, static_cast<size_t>(bytes));
    return TRUE;
  }
  if (integerMode == 0) {
    // trunc(keep[d] + add[s]) with keep[v] = v * (1 - a) and add[v] = v * a, worked out per byte.
    ForPixelBands(width, height, [&](uint64_t first, uint64_t last) {
      MixBytes(destination + 3 * first, source + 3 * first, 3 * (last - first), 1 - a, a);
    });
    return TRUE;
  }
  // The sum of the truncated parts: one 64K table of results, indexed by destination byte * 256
  // + source byte.
  int keepByte[256];
  int addByte[256];
  for (int v = 0; v < 256; ++v) {
    keepByte[v] = static_cast<int>(v * (1 - a));
    addByte[v] = static_cast<int>(v * a);
  }
  CScratchBuffer<BYTE> mixTable;
  if (!mixTable.Allocate(256 * 256)) return FALSE;
  BYTE* mix = mixTable.get();
  for (int d = 0; d < 256; ++d)
    for (int s = 0; s < 256; ++s) mix[d * 256 + s] = static_cast<BYTE>(keepByte[d] + addByte[s]);
  ForPixelBands(width, height, [&](uint64_t first, uint64_t last) {
    for (uint64_t i = 3 * first; i < 3 * last; ++i) destination[i] = mix[destination[i] * 256 + source[i]];
  });
  return TRUE;
}

BOOL CImageFilter::Gamma(BYTE* image, int width, int height, double gamma) {
  if (!image || !(gamma >= 0.0)) return FALSE;
  const double e = gamma == 0.0 ? 1.0 : 1 / gamma;
  BYTE table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<BYTE>(static_cast<int>(std::pow(i / 256.0, e) * 256.0));
  return ApplyLut(image, width, height, 7, table);
}

BOOL CImageFilter::ApplyLut(BYTE* image, int width, int height, int channelMask, const BYTE* table) {
  uint64_t n = 0;
  if (!image || !table || (channelMask & 0xFF) == 0 || !PixelCount(width, height, n)) return FALSE;
  ForPixelBands(width, height, [&](uint64_t first, uint64_t last) {
    // Copies that no byte store can reach, so they stay in registers.
    const BYTE* const lut = table;
    BYTE* const pixels = image;
    const int mask = channelMask;
    if ((mask & 7) == 7) {
      for (uint64_t i = 3 * first; i < 3 * last; ++i) pixels[i] = lut[pixels[i]];
      return;
    }
    for (int c = 0; c < 3; ++c) {
      if (!(mask & (1 << c))) continue;
      BYTE* p = pixels + c;
      for (uint64_t i = first; i < last; ++i) p[3 * i] = lut[p[3 * i]];
    }
  });
  return TRUE;
}

void CImageFilter::ColorCastGamma(BYTE* image, int width, int height, double gamma, int mode) {
  if (!image || gamma == 1.0 || gamma == 0.0) return;
  CToneCurve curve;
  curve.SetLevels3(0, 255, 0, 255, gamma);
  if (mode == 1 && gamma < 1.0) {
    const double g2 = 1.0 - (1.0 - gamma) / 1.8;
    curve.SetLevels2(0, 255, 0, 255, g2);
    curve.ApplyAll(image, width, height);
  } else {
    curve.ApplyThird(image, width, height);
  }
}

BOOL CImageFilter::SmoothSkin(BYTE* image, int width, int height, double radius, int pinkTones) {
  uint64_t n = 0;
  if (!image || !PixelCount(width, height, n)) return FALSE;
  if (n == 0) return TRUE;
  const uint64_t bytes = n * 3;
  if (bytes / 3 != n || static_cast<uint64_t>(width) * 3 > 0xFFFFFFFFull) return FALSE;
  CScratchBuffer<BYTE> softHolder;
  CScratchBuffer<BYTE> otherHolder;
  if (!softHolder.Allocate(bytes) || !otherHolder.Allocate(bytes)) return FALSE;
  // Passes = max(trunc(3 radius), 1); a radius that is not a number or absurdly large must
  // not turn into an undefined conversion or an endless run, so the count is held to 255.
  const double scaled = radius * 3.0;
  const int passes = !(scaled >= 1.0) ? 1 : (scaled >= 255.0 ? 255 : static_cast<int>(scaled));
  const DWORD w = static_cast<DWORD>(width);
  const DWORD h = static_cast<DWORD>(height);
  const DWORD rowBytes = w * 3;
  std::memcpy(softHolder.get(), image, static_cast<size_t>(bytes));
  for (int pass = 0; pass < passes; ++pass) {
    if (!ISSoftenImage(softHolder.get(), w, h, 3, rowBytes, otherHolder.get(), rowBytes, 100, 7)) return FALSE;
    softHolder.swap(otherHolder);  // the softened picture becomes the next pass's source
  }
  if (!ISSharpenImage(image, w, h, 3, rowBytes, otherHolder.get(), rowBytes, 40, 7)) return FALSE;
  const BYTE* soft = softHolder.get();
  const BYTE* sharp = otherHolder.get();
  ForPixelBands(width, height, [&](uint64_t first, uint64_t last) {
    for (uint64_t i = first; i < last; ++i) {
      BYTE* o = image + 3 * i;
      const BYTE* a = soft + 3 * i;
      const BYTE* s = sharp + 3 * i;
      const int m = (a[0] + a[1] + a[2]) / 3;
      const int k = 255 - m;
      int c[3];
      for (int ch = 0; ch < 3; ++ch) c[ch] = ((((o[ch] * m + s[ch] * k) >> 8) * k) + a[ch] * m) >> 8;
      if (pinkTones) {
        const int d = std::max(c[0] - c[1], 0);
        const int t[3] = {c[0] < 128 ? c[0] * 450 / 255 : 255 - (255 - c[0]) * 60 / 255,
                          c[1] < 128 ? c[1] * 360 / 255 : 255 - (255 - c[1]) * 150 / 255,
                          c[2] < 128 ? c[2] * 366 / 255 : 255 - (255 - c[2]) * 144 / 255};
        for (int ch = 0; ch < 3; ++ch) c[ch] = (c[ch] * (255 - d) + t[ch] * d) >> 8;
      }
      o[0] = static_cast<BYTE>(c[0]);
      o[1] = static_cast<BYTE>(c[1]);
      o[2] = static_cast<BYTE>(c[2]);
    }
  });
  return TRUE;
}

void CImageFilter::Saturation(BYTE* image, int width, int height, int amount) {
  uint64_t n = 0;
  if (!image || !PixelCount(width, height, n)) return;
  const int s = amount - 128;
  if (s == 0 || s < -256 || s > 256) return;
  // out[Y][c] = clamp((c (s + 256) - s Y + 127) / 256); values below 0 end at 0 whether the
  // division truncates or floors, so the table stores the clamped quotient.
  CScratchBuffer<BYTE> tableHolder;
  if (!tableHolder.Allocate(256 * 256)) return;
  BYTE* table = tableHolder.get();
  for (int y = 0; y < 256; ++y)
    for (int c = 0; c < 256; ++c) {
      int v = (c * (s + 256) - s * y + 127) / 256;
      table[y * 256 + c] = static_cast<BYTE>(v >= 256 ? 255 : (v < 0 ? 0 : v));
    }
  ForPixelBands(width, height, [&](uint64_t first, uint64_t last) {
    // Copies that no byte store can reach, so they stay in registers.
    const BYTE* const rows = table;
    BYTE* const pixels = image;
    for (uint64_t i = first; i < last; ++i) {
      BYTE* p = pixels + 3 * i;
      const int y = (77 * p[0] + 151 * p[1] + 28 * p[2]) >> 8;
      const BYTE* row = rows + y * 256;
      p[0] = row[p[0]];
      p[1] = row[p[1]];
      p[2] = row[p[2]];
    }
  });
}

void CImageFilter::SubtractFrame(BYTE* output, int width, int height, const BYTE* a, const BYTE* b) {
  uint64_t n = 0;
  if (!output || !a || !b || !PixelCount(width, height, n)) return;
  ForPixelBands(width, height, [&](uint64_t first, uint64_t last) {
    for (uint64_t i = 3 * first; i < 3 * last; ++i) {
      const int d = a[i] - b[i];
      output[i] = static_cast<BYTE>(d > 0 ? d : 0);
    }
  });
}

BYTE CImageFilter::Median9(const BYTE* v) {
  // Sort each column of three; the median is the middle of (largest low, middle of the
  // middles, smallest high).
  int lo[3];
  int mid[3];
  int hi[3];
  for (int c = 0; c < 3; ++c) {
    int a = v[c];
    int b = v[3 + c];
    int d = v[6 + c];
    lo[c] = std::min(std::min(a, b), d);
    hi[c] = std::max(std::max(a, b), d);
    mid[c] = Med3(a, b, d);
  }
  return static_cast<BYTE>(Med3(std::max(std::max(lo[0], lo[1]), lo[2]), Med3(mid[0], mid[1], mid[2]),
                                std::min(std::min(hi[0], hi[1]), hi[2])));
}

BOOL CImageFilter::RemoveHotPixels(BYTE* output, int width, int height, const BYTE* source, int strength,
                                   int window) {
  uint64_t n = 0;
  if (!output || !source || !PixelCount(width, height, n)) return FALSE;
  // An odd window, so the pixel sits in its middle and the middle rank is a true median.
  int size = std::min(std::max(window, 3), 9);
  if (size % 2 == 0) ++size;
  const int r = (size - 1) / 2;
  double a = strength / 255.0;
  a = std::min(std::max(a, 0.0), 1.0);
  if (width <= 2 * r || height <= 2 * r || a == 0.0) return TRUE;  // nothing would change

  const size_t w = static_cast<size_t>(width);
  // Each band of output rows reads the source rows its windows reach through a ring of its own;
  // the sizes are tried once here, so that a refusal leaves the output unchanged.
  {
    CScratchBuffer<BYTE> ringProbe;
    CScratchBuffer<BYTE> medianProbe;
    if (!ringProbe.Allocate(static_cast<uint64_t>(size) * 3 * w) || !medianProbe.Allocate(6 * w)) return FALSE;
  }
  // Blend of the candidate into the current output: trunc(cand * a + out * (1 - a)).
  CScratchBuffer<BYTE> mixHolder;
  BYTE* mix = nullptr;
  if (a < 1.0) {
    if (!mixHolder.Allocate(256 * 256)) return FALSE;
    mix = mixHolder.get();
    for (int c = 0; c < 256; ++c)
      for (int o = 0; o < 256; ++o) mix[c * 256 + o] = static_cast<BYTE>(static_cast<int>(c * a + o * (1 - a)));
  }
  double t[13];
  double keep[13];
  for (int k = 0; k <= 12; ++k) {
    t[k] = k / 12.0;
    keep[k] = 1 - t[k];
  }

  auto band = [&](int yFrom, int yTo) {
    // A ring of `size` source rows split into R, G and B planes, and the medians of one row.
    CScratchBuffer<BYTE> ringHolder;
    CScratchBuffer<BYTE> medianHolder;
    if (!ringHolder.Allocate(static_cast<uint64_t>(size) * 3 * w) || !medianHolder.Allocate(6 * w))
      throw std::bad_alloc();
    BYTE* ring = ringHolder.get();
    BYTE* med = medianHolder.get();  // three rows of medians, then three scratch rows for 3x3
    auto plane = [&](int c, int row) { return ring + (static_cast<size_t>(row % size) * 3 + c) * w; };
    auto load = [&](int row) {
      const BYTE* s = source + static_cast<size_t>(row) * w * 3;
      BYTE* pr = plane(0, row);
      BYTE* pg = plane(1, row);
      BYTE* pb = plane(2, row);
      for (size_t x = 0; x < w; ++x) {
        pr[x] = s[3 * x];
        pg[x] = s[3 * x + 1];
        pb[x] = s[3 * x + 2];
      }
    };

    for (int row = yFrom - r; row < yFrom + r; ++row) load(row);
    for (int y = yFrom; y < yTo; ++y) {
      load(y + r);  // the ring now holds rows y - r .. y + r; the output's row y is not yet written
      const int x0 = r;
      const int x1 = width - r;  // exclusive
      for (int c = 0; c < 3; ++c) {
        BYTE* m = med + c * w;
        if (size == 3) {
          const BYTE* above = plane(c, y - 1);
          const BYTE* mid = plane(c, y);
          const BYTE* below = plane(c, y + 1);
          BYTE* lo = med + 3 * w;
          BYTE* md = med + 4 * w;
          BYTE* hi = med + 5 * w;
          for (size_t x = 0; x < w; ++x) {
            const BYTE p = above[x], q = mid[x], s = below[x];
            const BYTE mn = std::min(p, q), mx = std::max(p, q);
            lo[x] = std::min(mn, s);
            hi[x] = std::max(mx, s);
            md[x] = std::max(mn, std::min(mx, s));
          }
          for (int x = x0; x < x1; ++x) {
            const BYTE l = std::max(std::max(lo[x - 1], lo[x]), lo[x + 1]);
            const BYTE h = std::min(std::min(hi[x - 1], hi[x]), hi[x + 1]);
            const BYTE mm = std::max(std::min(md[x - 1], md[x]), std::min(std::max(md[x - 1], md[x]), md[x + 1]));
            m[x] = std::max(std::min(l, mm), std::min(std::max(l, mm), h));
          }
        } else {
          // Sliding histogram along the row: each step drops the column that leaves the
          // window and adds the one that enters, then walks the median to the element of
          // rank (size^2 - 1) / 2; `below` counts the samples under the current median.
          const int rank = (size * size - 1) / 2;
          int hist[256] = {};
          const BYTE* rows[9];
          for (int dy = -r; dy <= r; ++dy) rows[dy + r] = plane(c, y + dy);
          for (int i = 0; i < size; ++i)
            for (int dx = 0; dx < size; ++dx) ++hist[rows[i][dx]];
          int median = 0;
          int below = 0;
          for (int x = x0; x < x1; ++x) {
            if (x > x0) {
              for (int i = 0; i < size; ++i) {
                const int out = rows[i][x - r - 1];
                const int in = rows[i][x + r];
                --hist[out];
                if (out < median) --below;
                ++hist[in];
                if (in < median) ++below;
              }
            }
            if (below > rank) {
              while (below > rank) below -= hist[--median];
            } else {
              while (below + hist[median] <= rank) below += hist[median++];
            }
            m[x] = static_cast<BYTE>(median);
          }
        }
      }
      const BYTE* pr = plane(0, y);
      const BYTE* pg = plane(1, y);
      const BYTE* pb = plane(2, y);
      const BYTE* mr = med;
      const BYTE* mg = med + w;
      const BYTE* mb = med + 2 * w;
      BYTE* out = output + static_cast<size_t>(y) * w * 3;
      for (int x = x0; x < x1; ++x) {
        const int p[3] = {pr[x], pg[x], pb[x]};
        const int m[3] = {mr[x], mg[x], mb[x]};
        const int pAvg = (p[0] + p[1] + p[2]) / 3;
        const int mAvg = (m[0] + m[1] + m[2]) / 3;
        const int k = std::min(std::abs(pAvg - mAvg), 12);
        BYTE* o = out + 3 * x;
        for (int c = 0; c < 3; ++c) {
          int cand = p[c];
          if (k != 0) cand = std::min(static_cast<int>(p[c] * keep[k] + m[c] * t[k]), p[c]);
          o[c] = mix ? mix[cand * 256 + o[c]] : static_cast<BYTE>(cand);
        }
      }
    }
  };
  // Bands side by side read source rows that a neighbour band may be writing when the output
  // is the source itself (or overlaps it): then the rows run in one piece, in order.
  const BYTE* outEnd = output + n * 3;
  const BYTE* srcEnd = source + n * 3;
  const bool overlap = output < srcEnd && source < outEnd;
  try {
    if (overlap)
      band(r, height - r);
    else
      qrv::ParallelRows(static_cast<uint32_t>(height - 2 * r), 16, [&](uint32_t a0, uint32_t a1) {
        band(r + static_cast<int>(a0), r + static_cast<int>(a1));
      });
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  return TRUE;
}
