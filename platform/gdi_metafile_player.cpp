// The metafile player: enhanced and Windows metafile records drawn onto a bitmap, with solid
// pens, solid, hatched and DIB pattern brushes, polygon filling (alternate and winding), wide
// lines, Bezier paths, DIB transfers with raster operations, rectangular clip regions, and text
// through the text layer.
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <new>
#include <string>

#include "platform/gdi_metafile_internal.h"
#include "platform/gdi_text.h"

namespace {

struct PointF {
  double x, y;
};
typedef std::vector<PointF> Figure;

// Points, figures and crossings a single record may produce (bounds work on hostile files).
constexpr size_t kMaxPoints = 1u << 20;
constexpr int kBezierSteps = 16;

// v limited to 0..limit before it becomes an integer (far-off coordinates stay defined).
int32_t ClampTo(double v, int32_t limit) {
  if (!(v > 0)) return 0;
  return v >= limit ? limit : static_cast<int32_t>(v);
}

// ---- DIBs ----

// A DIB's pixel (x, y from the DIB's top row) as 0x00BBGGRR.
struct DIBView {
  int32_t width = 0, height = 0;
  bool bottomUp = true;
  uint16_t bpp = 0;
  uint32_t compression = 0;
  const uint8_t* table = nullptr;
  uint32_t tableCount = 0;
  const uint8_t* rows = nullptr;
  uint64_t rowBytes = 0;
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};

  COLORREF At(int32_t x, int32_t y) const {
    const uint8_t* row = rows + static_cast<uint64_t>(bottomUp ? height - 1 - y : y) * rowBytes;
    uint32_t idx;
    switch (bpp) {
      case 1: idx = (row[x >> 3] >> (7 - (x & 7))) & 1; break;
      case 4: idx = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF; break;
      case 8: idx = row[x]; break;
      case 24: return RGB(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]);
      case 16:
      case 32: {
        const uint32_t v = bpp == 16 ? MfU16(row + x * 2) : MfU32(row + x * 4);
        if (bpp == 32 && compression == BI_RGB) return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
        BYTE c[3];
        for (int k = 0; k < 3; ++k) {
          const uint32_t m = masks[k];
          if (!m) { c[k] = 0; continue; }
          int shift = 0;
          while (!((m >> shift) & 1)) ++shift;
          const uint32_t top = m >> shift;
          c[k] = static_cast<BYTE>(((v & m) >> shift) * 255u / top);
        }
        return RGB(c[0], c[1], c[2]);
      }
      default: return 0;
    }
    if (idx >= tableCount) return 0;
    const uint8_t* q = table + idx * 4;
    return RGB(q[2], q[1], q[0]);
  }
};

bool ParseDIB(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize, DIBView& v) {
  if (infoSize < 40) return false;
  const uint32_t hs = MfU32(info);
  if (hs < 40 || hs > infoSize) return false;
  const int32_t w = MfI32(info + 4), h = MfI32(info + 8);
  v.bpp = MfU16(info + 14);
  v.compression = MfU32(info + 16);
  const uint32_t clrUsed = MfU32(info + 32);
  if (w <= 0 || h == 0 || h == INT32_MIN || MfU16(info + 12) != 1) return false;
  if (v.bpp != 1 && v.bpp != 4 && v.bpp != 8 && v.bpp != 16 && v.bpp != 24 && v.bpp != 32) return false;
  if (!(v.compression == BI_RGB || (v.compression == BI_BITFIELDS && (v.bpp == 16 || v.bpp == 32)))) return false;
  v.width = w;
  v.bottomUp = h > 0;
  v.height = h > 0 ? h : -h;
  size_t off = hs;
  if (v.compression == BI_BITFIELDS) {
    if (hs == 40) {
      if (infoSize < 52) return false;
      off = 52;
    }
    for (int k = 0; k < 3; ++k) v.masks[k] = MfU32(info + 40 + 4 * k);
  } else if (v.bpp <= 8) {
    v.tableCount = clrUsed ? std::min<uint32_t>(clrUsed, 1u << v.bpp) : (1u << v.bpp);
    const uint32_t stored = clrUsed ? clrUsed : (1u << v.bpp);
    if (static_cast<uint64_t>(stored) * 4 > infoSize - off) {
      if (bits) return false;
      v.tableCount = static_cast<uint32_t>((infoSize - off) / 4);
    }
    v.table = info + off;
    off += static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(stored) * 4, infoSize - off));
  }
  v.rowBytes = ((static_cast<uint64_t>(w) * v.bpp + 31) / 32) * 4;
  const uint64_t need = v.rowBytes * static_cast<uint64_t>(v.height);
  if (bits) {
    if (need > bitsSize) return false;
    v.rows = bits;
  } else {  // rows follow the header and table in the same block
    if (need > infoSize - off) return false;
    v.rows = info + off;
  }
  return true;
}


// ---- Brushes and raster operations ----

// Hatch styles HS_HORIZONTAL .. HS_DIAGCROSS as 8 x 8 bit patterns (bit 7 is the left pixel).
const uint8_t kHatch[6][8] = {
    {0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00},  // horizontal
    {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08},  // vertical
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},  // forward diagonal, top left to bottom right
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},  // backward diagonal
    {0x08, 0x08, 0x08, 0xFF, 0x08, 0x08, 0x08, 0x08},  // cross
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},  // diagonal cross
};

// What a brush puts on a pixel: a solid colour, a hatch in the colour over the background (left
// alone when the background mode is transparent), or a DIB pattern. Patterns are aligned to the
// bitmap's origin.
struct Paint {
  Paint(COLORREF c = 0) : colour(c) {}  // NOLINT: a solid colour is a paint
  COLORREF colour = 0;
  int hatch = -1;
  const DIBView* pattern = nullptr;
  COLORREF bk = 0xFFFFFF;
  bool opaque = true;
  bool Solid() const { return hatch < 0 && !pattern; }
  // The colour at device pixel (x, y); false for a transparent hatch's background.
  bool At(int32_t x, int32_t y, COLORREF& c) const {
    if (pattern) {
      c = pattern->At(x % pattern->width, y % pattern->height);
      return true;
    }
    if (hatch >= 0 && !((kHatch[hatch][y & 7] << (x & 7)) & 0x80)) {
      c = bk;
      return opaque;
    }
    c = colour;
    return true;
  }
};

// A ternary raster operation (the middle byte of a ROP code) on pattern, source and
// destination, bit by bit: bit (4p + 2s + d) of the code is the result for bits p, s, d.
COLORREF Rop3(uint8_t code, COLORREF p, COLORREF s, COLORREF d) {
  uint32_t r = 0;
  for (int k = 0; k < 8; ++k)
    if ((code >> k) & 1) r |= ((k & 4) ? p : ~p) & ((k & 2) ? s : ~s) & ((k & 1) ? d : ~d);
  return r & 0xFFFFFF;
}
constexpr uint8_t kRopSrcCopy = 0xCC, kRopPatCopy = 0xF0;
inline uint8_t RopCode(uint32_t rop) { return static_cast<uint8_t>(rop >> 16); }
inline bool RopUsesPattern(uint8_t code) { return (code >> 4) != (code & 0xF); }

// ---- Clipping ----

// Pixels [x0, x1) of a row.
struct Span {
  int32_t x0, x1;
};
// A rectangle of bitmap pixels, right and bottom exclusive, already limited to the bitmap.
struct PixRect {
  int32_t x0, y0, x1, y1;
};

// A clip region over the bitmap: each row's pixels as sorted, disjoint spans. Regions are
// shared between saved states and never changed once made.
struct ClipRegion {
  std::vector<std::vector<Span>> rows;
  size_t spans = 0;
};
typedef std::shared_ptr<const ClipRegion> ClipPtr;  // null: the whole bitmap

// Region combination modes (EXTSELECTCLIPRGN).
constexpr int RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5;
// Row insertions one region may cost when built from rectangles; beyond it the region is
// taken as its bounding box (only absurd region data gets there).
constexpr uint64_t kMaxRegionWork = 1u << 22;

// out = a (mode) b for one row; xs is scratch.
void CombineRow(const std::vector<Span>& a, const std::vector<Span>& b, int mode, std::vector<Span>& out,
                std::vector<int32_t>& xs) {
  out.clear();
  xs.clear();
  for (const Span& s : a) xs.push_back(s.x0), xs.push_back(s.x1);
  for (const Span& s : b) xs.push_back(s.x0), xs.push_back(s.x1);
  std::sort(xs.begin(), xs.end());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  size_t ia = 0, ib = 0;
  for (size_t i = 0; i + 1 < xs.size(); ++i) {
    const int32_t x = xs[i];
    while (ia < a.size() && a[ia].x1 <= x) ++ia;
    while (ib < b.size() && b[ib].x1 <= x) ++ib;
    const bool inA = ia < a.size() && a[ia].x0 <= x, inB = ib < b.size() && b[ib].x0 <= x;
    bool in;
    switch (mode) {
      case RGN_AND: in = inA && inB; break;
      case RGN_OR: in = inA || inB; break;
      case RGN_XOR: in = inA != inB; break;
      case RGN_DIFF: in = inA && !inB; break;
      default: in = inB; break;
    }
    if (!in) continue;
    if (!out.empty() && out.back().x1 == x) out.back().x1 = xs[i + 1];
    else out.push_back(Span{x, xs[i + 1]});
  }
}

// The region made of rects (each limited to the bitmap) on a bitmap of height h.
ClipRegion RegionOf(const std::vector<PixRect>& rects, int32_t h) {
  ClipRegion r;
  r.rows.resize(static_cast<size_t>(h));
  uint64_t work = 0;
  for (const PixRect& q : rects) work += q.x0 < q.x1 && q.y0 < q.y1 ? static_cast<uint64_t>(q.y1 - q.y0) : 0;
  if (work > kMaxRegionWork) {  // the bounding box instead
    PixRect box{INT32_MAX, INT32_MAX, 0, 0};
    for (const PixRect& q : rects)
      if (q.x0 < q.x1 && q.y0 < q.y1)
        box = PixRect{std::min(box.x0, q.x0), std::min(box.y0, q.y0), std::max(box.x1, q.x1), std::max(box.y1, q.y1)};
    return RegionOf({box}, h);
  }
  for (const PixRect& q : rects)
    if (q.x0 < q.x1)
      for (int32_t y = q.y0; y < q.y1; ++y) r.rows[static_cast<size_t>(y)].push_back(Span{q.x0, q.x1});
  std::vector<Span> merged;
  for (std::vector<Span>& row : r.rows) {
    if (row.size() > 1) {
      std::sort(row.begin(), row.end(), [](const Span& l, const Span& m) { return l.x0 < m.x0; });
      merged.clear();
      for (const Span& s : row) {
        if (!merged.empty() && s.x0 <= merged.back().x1) merged.back().x1 = std::max(merged.back().x1, s.x1);
        else merged.push_back(s);
      }
      row.swap(merged);
    }
    r.spans += row.size();
  }
  return r;
}

// cur (mode) other on a bitmap of width w; null cur is the whole bitmap.
ClipPtr Combine(const ClipPtr& cur, const ClipRegion& other, int mode, int32_t w) {
  if (mode == RGN_COPY) return std::make_shared<const ClipRegion>(other);
  auto out = std::make_shared<ClipRegion>();
  out->rows.resize(other.rows.size());
  const std::vector<Span> whole{Span{0, w}};
  std::vector<int32_t> xs;
  for (size_t y = 0; y < other.rows.size(); ++y) {
    CombineRow(cur ? cur->rows[y] : whole, other.rows[y], mode, out->rows[y], xs);
    out->spans += out->rows[y].size();
  }
  return out;
}

// The bitmap as the player draws on it: every span is cut to the clip region.
struct Canvas {
  GdiBitmap& b;
  ClipPtr clip;
  int32_t W() const { return b.width; }
  int32_t H() const { return b.height; }
  mutable std::vector<COLORREF> line;  // scratch row

  // Calls f(a, e) for the pieces of [x0, x1) on row y that the clip lets through.
  template <typename F>
  void Clipped(int32_t y, int32_t x0, int32_t x1, F f) const {
    if (!clip) {
      if (x0 < x1) f(x0, x1);
      return;
    }
    for (const Span& s : clip->rows[static_cast<size_t>(y)]) {
      if (s.x0 >= x1) break;
      const int32_t a = std::max(x0, s.x0), e = std::min(x1, s.x1);
      if (a < e) f(a, e);
    }
  }
  // Pixels [x0, x1) of row y (inside the bitmap) painted, where the clip lets them through.
  void Fill(int32_t y, int32_t x0, int32_t x1, const Paint& p) const {
    Clipped(y, x0, x1, [&](int32_t a, int32_t e) {
      if (p.Solid()) {
        GdiFillSpan(b, y, a, e, p.colour);
        return;
      }
      line.resize(static_cast<size_t>(e - a));
      int32_t run = a;  // start of the current run of painted pixels
      for (int32_t x = a; x < e; ++x)
        if (!p.At(x, y, line[static_cast<size_t>(x - a)])) {
          GdiPutRow(b, y, run, x, line.data() + (run - a));
          run = x + 1;
        }
      GdiPutRow(b, y, run, e, line.data() + (run - a));
    });
  }
  // Pixels [x0, x1) of row y combined by a raster operation of the pattern p, the source
  // colours src (none: black) and the bitmap.
  void Rop(int32_t y, int32_t x0, int32_t x1, const COLORREF* src, const Paint& p, uint8_t code) const {
    Clipped(y, x0, x1, [&](int32_t a, int32_t e) {
      line.resize(static_cast<size_t>(e - a));
      GdiGetRow(b, y, a, e, line.data());
      for (int32_t x = a; x < e; ++x) {
        COLORREF pc = 0;
        p.At(x, y, pc);
        COLORREF& d = line[static_cast<size_t>(x - a)];
        d = Rop3(code, pc, src ? src[x - x0] : 0, d);
      }
      GdiPutRow(b, y, a, e, line.data());
    });
  }
  // Pixels [x0, x1) of row y set to colours, where the clip lets them through.
  void Put(int32_t y, int32_t x0, int32_t x1, const COLORREF* colours) const {
    if (!clip) {
      GdiPutRow(b, y, x0, x1, colours);
      return;
    }
    for (const Span& s : clip->rows[static_cast<size_t>(y)]) {
      if (s.x0 >= x1) break;
      const int32_t a = std::max(x0, s.x0), e = std::min(x1, s.x1);
      if (a < e) GdiPutRow(b, y, a, e, colours + (a - x0));
    }
  }
};

// A DIB transfer's rows drawn through a canvas with a raster operation.
class CanvasSink final : public GdiDIBSink {
 public:
  CanvasSink(const Canvas& c, const Paint& p, uint8_t code) : c_(c), p_(p), code_(code) {}
  void Row(int32_t y, int32_t x0, int32_t x1, const COLORREF* colours) override {
    if (code_ == kRopSrcCopy) c_.Put(y, x0, x1, colours);
    else c_.Rop(y, x0, x1, colours, p_, code_);
  }

 private:
  const Canvas& c_;
  const Paint& p_;
  uint8_t code_;
};

// Copies pixels [x0, x1) of row y back from a saved copy of that row.
void RestorePixels(GdiBitmap& b, int32_t y, int32_t x0, int32_t x1, const uint8_t* saved) {
  if (x0 >= x1) return;
  uint8_t* row = b.Row(y);
  if (b.bitsPerPixel == 1) {
    for (int32_t x = x0; x < x1; ++x) {
      const uint8_t bit = static_cast<uint8_t>(0x80u >> (x & 7));
      row[x >> 3] = static_cast<uint8_t>((row[x >> 3] & ~bit) | (saved[x >> 3] & bit));
    }
  } else {
    const size_t bpp = b.bitsPerPixel / 8;
    std::memcpy(row + x0 * bpp, saved + x0 * bpp, static_cast<size_t>(x1 - x0) * bpp);
  }
}

// ---- Rasteriser ----

// Fills the figures (closed implicitly) with colour; winding selects the nonzero rule.
void FillFigures(const Canvas& b, const std::vector<Figure>& figures, const Paint& colour, bool winding) {
  double minY = 1e300, maxY = -1e300;
  size_t edges = 0;
  for (const Figure& f : figures) {
    for (const PointF& p : f) {
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
      minY = std::min(minY, p.y);
      maxY = std::max(maxY, p.y);
    }
    edges += f.size();
  }
  if (edges < 3) return;
  const int32_t y0 = ClampTo(std::ceil(minY - 0.5), b.H());
  const int32_t y1 = ClampTo(std::ceil(maxY - 0.5), b.H());
  struct Cross {
    double x;
    int dir;
  };
  std::vector<Cross> xs;
  for (int32_t y = y0; y < y1; ++y) {
    const double cy = y + 0.5;
    xs.clear();
    for (const Figure& f : figures) {
      const size_t n = f.size();
      for (size_t i = 0; i < n; ++i) {
        const PointF& a = f[i];
        const PointF& c = f[(i + 1) % n];
        if ((a.y <= cy) == (c.y <= cy)) continue;
        const double t = (cy - a.y) / (c.y - a.y);
        xs.push_back(Cross{a.x + t * (c.x - a.x), c.y > a.y ? 1 : -1});
      }
    }
    std::sort(xs.begin(), xs.end(), [](const Cross& l, const Cross& r) { return l.x < r.x; });
    int wind = 0;
    for (size_t i = 0; i + 1 < xs.size(); ++i) {
      wind += xs[i].dir;
      const bool inside = winding ? wind != 0 : (i % 2) == 0;
      if (!inside) continue;
      const double xa = std::max(0.0, std::ceil(xs[i].x - 0.5));
      const double xb = std::min(static_cast<double>(b.W()), std::ceil(xs[i + 1].x - 0.5));
      if (xa < xb) b.Fill(y, static_cast<int32_t>(xa), static_cast<int32_t>(xb), colour);
    }
  }
}

void FillCircle(const Canvas& b, PointF c, double r, COLORREF colour) {
  Figure f;
  const int n = r < 4 ? 12 : 32;
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n;
    f.push_back(PointF{c.x + r * std::cos(a), c.y + r * std::sin(a)});
  }
  FillFigures(b, {f}, colour, true);
}

// A one-pixel line from a to b (b's pixel excluded, as GDI draws).
void ThinLine(const Canvas& b, PointF a, PointF c, COLORREF colour) {
  const double dx = c.x - a.x, dy = c.y - a.y;
  const double len = std::max(std::fabs(dx), std::fabs(dy));
  if (!std::isfinite(len)) return;
  // Clip the parameter range to the bitmap's box (with a margin) to bound the loop.
  double t0 = 0, t1 = 1;
  auto clip = [&](double p, double q) {
    if (p == 0) return q >= 0;
    const double r = q / p;
    if (p < 0) {
      if (r > t1) return false;
      t0 = std::max(t0, r);
    } else {
      if (r < t0) return false;
      t1 = std::min(t1, r);
    }
    return true;
  };
  if (!clip(-dx, a.x + 1) || !clip(dx, b.W() + 1 - a.x) || !clip(-dy, a.y + 1) || !clip(dy, b.H() + 1 - a.y))
    return;
  // The clipped piece lies within the bitmap's box (plus a margin): its steps are bounded.
  const PointF p{a.x + t0 * dx, a.y + t0 * dy};
  const double ex = (t1 - t0) * dx, ey = (t1 - t0) * dy;
  const double steps = std::ceil(std::max(std::fabs(ex), std::fabs(ey)));
  if (!(steps >= 0) || steps > 4.0 * (b.W() + b.H() + 4)) return;
  const int64_t n = static_cast<int64_t>(steps);
  const bool last = t1 < 1;  // the end pixel is drawn only when the line was cut before it
  for (int64_t s = 0; s < n + (last ? 1 : 0); ++s) {
    // Multiply before dividing: whole-pixel steps stay exact (s / n * ex can land just below).
    const double fx = n > 0 ? std::floor(p.x + ex * static_cast<double>(s) / n) : std::floor(p.x);
    const double fy = n > 0 ? std::floor(p.y + ey * static_cast<double>(s) / n) : std::floor(p.y);
    if (fx >= 0 && fy >= 0 && fx < b.W() && fy < b.H()) {
      const int32_t x = static_cast<int32_t>(fx), y = static_cast<int32_t>(fy);
      b.Fill(y, x, x + 1, colour);
    }
  }
}

// Strokes an open (or, with closed, a closed) polyline with a pen of `width` device pixels.
void StrokeFigure(const Canvas& b, const Figure& f, bool closed, double width, COLORREF colour) {
  const size_t n = f.size();
  if (n == 0) return;
  const size_t segs = closed ? n : n - 1;
  if (width <= 1.5) {
    for (size_t i = 0; i < segs; ++i) ThinLine(b, f[i], f[(i + 1) % n], colour);
    return;
  }
  const double h = width / 2;
  for (size_t i = 0; i < segs; ++i) {
    const PointF a = f[i], c = f[(i + 1) % n];
    const double dx = c.x - a.x, dy = c.y - a.y, len = std::hypot(dx, dy);
    if (len > 0 && std::isfinite(len)) {
      const double nx = -dy / len * h, ny = dx / len * h;
      FillFigures(b, {Figure{{a.x + nx, a.y + ny}, {c.x + nx, c.y + ny}, {c.x - nx, c.y - ny}, {a.x - nx, a.y - ny}}},
                  colour, true);
    }
  }
  for (size_t i = 0; i < n; ++i) FillCircle(b, f[i], h, colour);
}

// ---- Playback state ----

struct Obj {
  enum Kind { None, Pen, Brush, Font } kind = None;
  COLORREF colour = 0;
  bool null = false;  // PS_NULL pen or BS_NULL brush
  double width = 0;   // pen width, logical units
  int hatch = -1;     // brush hatch style
  bool hasPattern = false;
  DIBView pattern;    // DIB pattern brush (rows inside the metafile's bytes)
  LOGFONTW font{};
};

struct Affine {
  double m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;
};

struct State {
  int mapMode = MM_TEXT;
  double winOrgX = 0, winOrgY = 0, winExtX = 1, winExtY = 1;
  double vpOrgX = 0, vpOrgY = 0, vpExtX = 1, vpExtY = 1;
  Affine world;
  Obj pen, brush, font;
  COLORREF textColour = 0, bkColour = 0xFFFFFF;
  int bkMode = OPAQUE;
  uint32_t textAlign = 0;  // TA_* bits
  ClipPtr clip;            // null: no clipping
  bool winding = false;
  PointF pos{0, 0};
};

// Clip spans all saved states may hold together (SaveDC beyond it is ignored).
constexpr size_t kMaxSavedSpans = 1u << 22;

// Text alignment bits (SETTEXTALIGN): the reference point's place on the text's cell.
constexpr uint32_t TA_UPDATECP = 1, TA_RIGHT = 2, TA_CENTER = 6, TA_BOTTOM = 8, TA_BASELINE = 24;

class Player {
 public:
  Player(GdiBitmap& b, const RECT& dest) : bmp_(b), dest_(dest) {
    st_.pen.kind = Obj::Pen;
    st_.pen.width = 0;
    st_.brush.kind = Obj::Brush;
    st_.brush.colour = 0xFFFFFF;
  }
  bool PlayEmf(const GdiMetafile& mf);
  bool PlayWmf(const GdiMetafile& mf);

 private:
  // Logical -> destination pixels.
  PointF Map(double x, double y) const {
    const Affine& w = st_.world;
    const double wx = x * w.m11 + y * w.m21 + w.dx, wy = x * w.m12 + y * w.m22 + w.dy;
    const double px = (wx - st_.winOrgX) * ScaleX() + st_.vpOrgX;
    const double py = (wy - st_.winOrgY) * ScaleY() + st_.vpOrgY;
    return PointF{baseX0_ + px * baseSX_, baseY0_ + py * baseSY_};
  }
  double ScaleX() const { return st_.winExtX != 0 ? st_.vpExtX / st_.winExtX : 1; }
  double ScaleY() const { return st_.winExtY != 0 ? st_.vpExtY / st_.winExtY : 1; }
  double PenWidth() const {
    if (st_.pen.width <= 1) return 1;
    return st_.pen.width * std::fabs(ScaleX() * baseSX_);
  }
  void SetMapMode(int mode);
  void FixIsotropic();
  Canvas Cv() const { return Canvas{bmp_, st_.clip, {}}; }
  Paint BrushPaint() const {
    Paint p(st_.brush.colour);
    p.hatch = st_.brush.hatch;
    p.pattern = st_.brush.hasPattern ? &st_.brush.pattern : nullptr;
    p.bk = st_.bkColour;
    p.opaque = st_.bkMode == OPAQUE;
    return p;
  }
  // A raster operation on the device rectangle between corners a and c with the brush alone.
  void PatBlt(PointF a, PointF c, uint32_t rop);
  void Draw(const std::vector<Figure>& figs, bool fill, bool closed) {
    if (fill && !st_.brush.null) FillFigures(Cv(), figs, BrushPaint(), st_.winding);
    if (!st_.pen.null)
      for (const Figure& f : figs) StrokeFigure(Cv(), f, closed, PenWidth(), st_.pen.colour);
  }
  // The device pixels of a logical rectangle (corners in either order).
  PixRect DeviceRect(double l, double t, double r, double b) const {
    const PointF a = Map(l, t), c = Map(r, b);
    return PixRect{ClampTo(std::ceil(std::min(a.x, c.x) - 0.5), bmp_.width),
                   ClampTo(std::ceil(std::min(a.y, c.y) - 0.5), bmp_.height),
                   ClampTo(std::ceil(std::max(a.x, c.x) - 0.5), bmp_.width),
                   ClampTo(std::ceil(std::max(a.y, c.y) - 0.5), bmp_.height)};
  }
  void ClipTo(const std::vector<PixRect>& rects, int mode) {
    st_.clip = Combine(st_.clip, RegionOf(rects, bmp_.height), mode, bmp_.width);
  }
  void SelectClipRegion(const uint8_t* rgn, uint32_t size, int mode);
  void Save() {
    const size_t spans = st_.clip ? st_.clip->spans : 0;
    if (saved_.size() >= 1024 || savedSpans_ + spans > kMaxSavedSpans) return;
    saved_.push_back(st_);
    savedSpans_ += spans;
  }
  // Pops n saved states; the last one popped becomes the current state.
  void Restore(size_t n) {
    for (; n > 0 && !saved_.empty(); --n) {
      savedSpans_ -= saved_.back().clip ? saved_.back().clip->spans : 0;
      if (n == 1) st_ = saved_.back();
      saved_.pop_back();
    }
  }
  void DrawDIB(double x, double y, double w, double h, int32_t xSrc, int32_t ySrc, int32_t srcW, int32_t srcH,
               const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize, uint32_t rop = SRCCOPY);
  void DrawShape(int kind, double l, double t, double r, double btm, double rw, double rh);
  void Text(double x, double y, const std::u16string& text, uint32_t options = 0, const double* rect = nullptr);
  void PathAdd(const Figure& pts, bool continueFigure);

  GdiBitmap& bmp_;
  RECT dest_;
  double baseX0_ = 0, baseY0_ = 0, baseSX_ = 1, baseSY_ = 1;
  State st_;
  std::vector<State> saved_;
  size_t savedSpans_ = 0;  // clip spans held by saved_ (bounded)
  std::vector<Obj> objects_;
  bool inPath_ = false;
  std::vector<Figure> path_;
  std::vector<bool> pathClosed_;
};

void Player::SetMapMode(int mode) {
  // Fixed modes: logical units per device pixel from the 96-dpi reference device.
  double perMm = 1920.0 / 508.0, perMmY = 1080.0 / 286.0;
  st_.mapMode = mode;
  auto fixed = [&](double unitsPerMm, bool yUp) {
    st_.winExtX = unitsPerMm;
    st_.winExtY = unitsPerMm;
    st_.vpExtX = perMm;
    st_.vpExtY = yUp ? -perMmY : perMmY;
  };
  switch (mode) {
    case MM_LOMETRIC: fixed(10, true); break;
    case MM_HIMETRIC: fixed(100, true); break;
    case MM_LOENGLISH: fixed(100 / 25.4, true); break;
    case MM_HIENGLISH: fixed(1000 / 25.4, true); break;
    case MM_TWIPS: fixed(1440 / 25.4, true); break;
    case MM_ISOTROPIC:
    case MM_ANISOTROPIC: break;
    default:
      st_.mapMode = MM_TEXT;
      st_.winExtX = st_.winExtY = st_.vpExtX = st_.vpExtY = 1;
      break;
  }
}

void Player::FixIsotropic() {
  if (st_.mapMode != MM_ISOTROPIC || st_.winExtX == 0 || st_.winExtY == 0) return;
  const double sx = std::fabs(st_.vpExtX / st_.winExtX), sy = std::fabs(st_.vpExtY / st_.winExtY);
  const double s = std::min(sx, sy);
  st_.vpExtX = std::copysign(s * std::fabs(st_.winExtX), st_.vpExtX);
  st_.vpExtY = std::copysign(s * std::fabs(st_.winExtY), st_.vpExtY);
}

void Player::DrawShape(int kind, double l, double t, double r, double btm, double rw, double rh) {
  Figure f;
  const PointF a = Map(l, t), c = Map(r, btm);
  const double x0 = std::min(a.x, c.x), x1 = std::max(a.x, c.x), y0 = std::min(a.y, c.y), y1 = std::max(a.y, c.y);
  if (kind == 0) {
    f = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
  } else {
    double ex = (x1 - x0) / 2, ey = (y1 - y0) / 2;
    if (kind == 2) {
      ex = std::min(ex, std::fabs(rw * ScaleX() * baseSX_) / 2);
      ey = std::min(ey, std::fabs(rh * ScaleY() * baseSY_) / 2);
    }
    const double cx[4] = {x1 - ex, x0 + ex, x0 + ex, x1 - ex}, cy[4] = {y0 + ey, y0 + ey, y1 - ey, y1 - ey};
    const int steps = 16;
    for (int q = 0; q < 4; ++q)
      for (int i = 0; i <= steps; ++i) {
        const double ang = (q * 90.0 + 90.0 * i / steps) * M_PI / 180;
        f.push_back(PointF{cx[q] + ex * std::cos(ang), cy[q] - ey * std::sin(ang)});
      }
  }
  Draw({f}, true, true);
}

// Draws text with its reference point at logical (x, y), or at the current position (which then
// moves along the text) under TA_UPDATECP, placed on the point as the text alignment says.
// options and rect (logical left, top, right, bottom) are ETO_OPAQUE (the rectangle filled with
// the background colour) and ETO_CLIPPED (the text cut to the rectangle).
void Player::Text(double x, double y, const std::u16string& text, uint32_t options, const double* rect) {
  constexpr uint32_t ETO_OPAQUE = 2, ETO_CLIPPED = 4;
  PixRect box{0, 0, 0, 0};
  if (rect) box = DeviceRect(rect[0], rect[1], rect[2], rect[3]);
  if (rect && (options & ETO_OPAQUE))
    for (int32_t yy = box.y0; yy < box.y1; ++yy)
      if (box.x0 < box.x1) Cv().Fill(yy, box.x0, box.x1, st_.bkColour);
  if (text.empty()) return;
  ClipPtr clip = st_.clip;
  if (rect && (options & ETO_CLIPPED)) clip = Combine(clip, RegionOf({box}, bmp_.height), RGN_AND, bmp_.width);
  HDC dc = CreateCompatibleDC(nullptr);
  GdiDC* d = GdiLookupDC(dc);
  if (!d) return;
  // Draw on the player's bitmap through a temporary context.
  GdiBitmap* old = d->bitmap;
  d->bitmap = &bmp_;
  LOGFONTW lf = st_.font.font;
  if (st_.font.kind != Obj::Font) lf.lfHeight = -12;
  lf.lfHeight = static_cast<LONG>(std::lround(lf.lfHeight * std::fabs(ScaleY() * baseSY_)));
  if (lf.lfHeight == 0) lf.lfHeight = -1;
  HFONT font = CreateFontIndirectW(&lf);
  if (font) {
    HGDIOBJ prev = SelectObject(dc, font);
    SetTextColor(dc, st_.textColour);
    SetBkColor(dc, st_.bkColour);
    SetBkMode(dc, st_.bkMode);
    const WCHAR* w = reinterpret_cast<const WCHAR*>(text.data());
    const int n = static_cast<int>(text.size());
    RECT cell{0, 0, 0, 0};
    DrawTextExW(dc, w, n, &cell, DT_SINGLELINE | DT_CALCRECT, nullptr);
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    const double width = cell.right, height = cell.bottom;
    const uint32_t align = st_.textAlign;
    const bool useCP = (align & TA_UPDATECP) != 0;
    const PointF p = useCP ? Map(st_.pos.x, st_.pos.y) : Map(x, y);
    double left = p.x, top = p.y;
    if ((align & TA_CENTER) == TA_CENTER) left -= std::floor(width / 2);
    else if (align & TA_RIGHT) left -= width;
    if ((align & TA_BASELINE) == TA_BASELINE) top -= tm.tmAscent;
    else if (align & TA_BOTTOM) top -= height;
    RECT r{static_cast<LONG>(std::lround(std::max(-1e6, std::min(1e6, left)))),
           static_cast<LONG>(std::lround(std::max(-1e6, std::min(1e6, top)))), 0, 0};
    r.right = r.left + 100000;
    r.bottom = r.top + 100000;
    // The text layer draws unclipped: under a clip the rows it may touch (the cell with a cell's
    // margin above and below) are kept, and what falls outside the clip is put back.
    int32_t ry0 = 0, ry1 = 0;
    std::vector<uint8_t> keep;
    if (clip) {
      ry0 = ClampTo(r.top - height, bmp_.height);
      ry1 = ClampTo(r.top + 2 * height, bmp_.height);
      keep.assign(bmp_.bits.begin() + static_cast<ptrdiff_t>(ry0) * bmp_.rowBytes,
                  bmp_.bits.begin() + static_cast<ptrdiff_t>(ry1) * bmp_.rowBytes);
    }
    DrawTextExW(dc, w, n, &r, DT_SINGLELINE | DT_NOCLIP, nullptr);
    for (int32_t yy = ry0; yy < ry1; ++yy) {
      const uint8_t* saved = keep.data() + static_cast<size_t>(yy - ry0) * bmp_.rowBytes;
      int32_t at = 0;
      for (const Span& s : clip->rows[static_cast<size_t>(yy)]) {
        RestorePixels(bmp_, yy, at, s.x0, saved);
        at = s.x1;
      }
      RestorePixels(bmp_, yy, at, bmp_.width, saved);
    }
    if (useCP && (align & TA_CENTER) != TA_CENTER) {
      // The current position moves to the far end of the text: right for left-aligned text,
      // left for right-aligned (logical units along x).
      const double perUnit = ScaleX() * baseSX_;
      if (perUnit != 0) st_.pos.x += ((align & TA_RIGHT) ? -width : width) / perUnit;
    }
    SelectObject(dc, prev);
    DeleteObject(font);
  }
  d->bitmap = old;
  DeleteDC(dc);
}

void Player::SelectClipRegion(const uint8_t* rgn, uint32_t cb, int mode) {
  if (mode < RGN_AND || mode > RGN_COPY) return;
  if (cb == 0) {  // no region: RGN_COPY removes the clip
    if (mode == RGN_COPY) st_.clip = nullptr;
    return;
  }
  // RGNDATA: header (size, type, count, bytes, bounds), then count rectangles in device units
  // of the reference device.
  if (cb < 32) return;
  const uint32_t hs = MfU32(rgn), count = MfU32(rgn + 8);
  if (hs < 32 || hs > cb || count > (cb - hs) / 16) return;
  std::vector<PixRect> rects;
  rects.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* q = rgn + hs + 16 * static_cast<size_t>(i);
    const double l = baseX0_ + MfI32(q) * baseSX_, t = baseY0_ + MfI32(q + 4) * baseSY_;
    const double r = baseX0_ + MfI32(q + 8) * baseSX_, b = baseY0_ + MfI32(q + 12) * baseSY_;
    rects.push_back(PixRect{ClampTo(std::ceil(std::min(l, r) - 0.5), bmp_.width),
                            ClampTo(std::ceil(std::min(t, b) - 0.5), bmp_.height),
                            ClampTo(std::ceil(std::max(l, r) - 0.5), bmp_.width),
                            ClampTo(std::ceil(std::max(t, b) - 0.5), bmp_.height)});
  }
  ClipTo(rects, mode);
}

void Player::DrawDIB(double x, double y, double w, double h, int32_t xSrc, int32_t ySrc, int32_t srcW, int32_t srcH,
                     const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize, uint32_t rop) {
  const uint8_t code = RopCode(rop);
  if (RopUsesPattern(code) && st_.brush.null) return;
  const Canvas c = Cv();
  const Paint p = BrushPaint();
  CanvasSink sink(c, p, code);
  GdiDrawDIB(bmp_, x, y, w, h, xSrc, ySrc, srcW, srcH, info, infoSize, bits, bitsSize, &sink);
}

void Player::PatBlt(PointF a, PointF c, uint32_t rop) {
  const uint8_t code = RopCode(rop);
  if (RopUsesPattern(code) && st_.brush.null) return;
  const int32_t x0 = ClampTo(std::ceil(std::min(a.x, c.x) - 0.5), bmp_.width);
  const int32_t x1 = ClampTo(std::ceil(std::max(a.x, c.x) - 0.5), bmp_.width);
  const int32_t y0 = ClampTo(std::ceil(std::min(a.y, c.y) - 0.5), bmp_.height);
  const int32_t y1 = ClampTo(std::ceil(std::max(a.y, c.y) - 0.5), bmp_.height);
  const Canvas cv = Cv();
  const Paint p = BrushPaint();
  for (int32_t y = y0; y < y1 && x0 < x1; ++y) {
    if (code == kRopPatCopy) cv.Fill(y, x0, x1, p);
    else cv.Rop(y, x0, x1, nullptr, p, code);
  }
}

// A DIB pattern brush from a DIB inside the metafile (bits null: they follow the header).
bool PatternBrush(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize, Obj& o) {
  o = Obj{};
  o.kind = Obj::Brush;
  if (!ParseDIB(info, infoSize, bits, bitsSize, o.pattern)) return false;
  o.hasPattern = true;
  return true;
}

void Player::PathAdd(const Figure& pts, bool continueFigure) {
  if (path_.empty() || !continueFigure) {
    path_.push_back(Figure{});
    pathClosed_.push_back(false);
  }
  Figure& f = path_.back();
  if (f.size() + pts.size() > kMaxPoints) return;
  f.insert(f.end(), pts.begin(), pts.end());
}

// Bezier curve points (excluding the start) in device coordinates.
void Bezier(PointF p0, PointF p1, PointF p2, PointF p3, Figure& out) {
  for (int i = 1; i <= kBezierSteps; ++i) {
    const double t = static_cast<double>(i) / kBezierSteps, u = 1 - t;
    out.push_back(PointF{u * u * u * p0.x + 3 * u * u * t * p1.x + 3 * u * t * t * p2.x + t * t * t * p3.x,
                         u * u * u * p0.y + 3 * u * u * t * p1.y + 3 * u * t * t * p2.y + t * t * t * p3.y});
  }
}

// Reads a DIB held inside a record: header at off (size cb), bits at offBits (size cbBits).
bool RecordDIB(const uint8_t* rec, uint32_t size, uint32_t off, uint32_t cb, uint32_t offBits, uint32_t cbBits,
               const uint8_t** info, const uint8_t** bits) {
  if (cb < 40 || off > size || cb > size - off || offBits > size || cbBits > size - offBits) return false;
  *info = rec + off;
  *bits = rec + offBits;
  return true;
}

bool Player::PlayEmf(const GdiMetafile& mf) {
  const std::vector<uint8_t>& d = mf.bytes;
  const ENHMETAHEADER& h = mf.header;
  // Reference-device pixels of the frame, mapped onto the destination rectangle.
  const double devPerFrameX = h.szlDevice.cx / (h.szlMillimeters.cx * 100.0);
  const double devPerFrameY = h.szlDevice.cy / (h.szlMillimeters.cy * 100.0);
  const double fx0 = h.rclFrame.left * devPerFrameX, fy0 = h.rclFrame.top * devPerFrameY;
  const double fw = (static_cast<double>(h.rclFrame.right) - h.rclFrame.left) * devPerFrameX;
  const double fh = (static_cast<double>(h.rclFrame.bottom) - h.rclFrame.top) * devPerFrameY;
  baseSX_ = fw != 0 ? (dest_.right - dest_.left) / fw : 1;
  baseSY_ = fh != 0 ? (dest_.bottom - dest_.top) / fh : 1;
  baseX0_ = dest_.left - fx0 * baseSX_;
  baseY0_ = dest_.top - fy0 * baseSY_;
  objects_.assign(std::min<uint32_t>(h.nHandles, 65535), Obj{});

  size_t pos = 0;
  while (pos + 8 <= d.size()) {
    const uint8_t* r = d.data() + pos;
    const uint32_t type = MfU32(r), size = MfU32(r + 4);
    if (size < 8 || size % 4 != 0 || size > d.size() - pos) return false;
    pos += size;
    auto need = [&](uint32_t n) { return size >= n; };
    auto I = [&](uint32_t o) { return MfI32(r + o); };
    switch (type) {
      case EMR_EOF:
        return true;
      case EMR_SETMAPMODE:
        if (need(12)) SetMapMode(I(8));
        break;
      case EMR_SETWINDOWEXTEX:
        if (need(16) && st_.mapMode >= MM_ISOTROPIC && I(8) != 0 && I(12) != 0) {
          st_.winExtX = I(8);
          st_.winExtY = I(12);
          FixIsotropic();
        }
        break;
      case EMR_SETVIEWPORTEXTEX:
        if (need(16) && st_.mapMode >= MM_ISOTROPIC && I(8) != 0 && I(12) != 0) {
          st_.vpExtX = I(8);
          st_.vpExtY = I(12);
          FixIsotropic();
        }
        break;
      case EMR_SETWINDOWORGEX:
        if (need(16)) st_.winOrgX = I(8), st_.winOrgY = I(12);
        break;
      case EMR_SETVIEWPORTORGEX:
        if (need(16)) st_.vpOrgX = I(8), st_.vpOrgY = I(12);
        break;
      case EMR_SETBKMODE:
        if (need(12)) st_.bkMode = I(8) == TRANSPARENT ? TRANSPARENT : OPAQUE;
        break;
      case EMR_SETPOLYFILLMODE:
        if (need(12)) st_.winding = I(8) == 2;
        break;
      case EMR_SETTEXTALIGN:
        if (need(12)) st_.textAlign = MfU32(r + 8);
        break;
      case EMR_INTERSECTCLIPRECT:
      case EMR_EXCLUDECLIPRECT:
        if (need(24)) ClipTo({DeviceRect(I(8), I(12), I(16), I(20))}, type == EMR_INTERSECTCLIPRECT ? RGN_AND : RGN_DIFF);
        break;
      case EMR_EXTSELECTCLIPRGN:
        if (need(16) && MfU32(r + 8) <= size - 16) SelectClipRegion(r + 16, MfU32(r + 8), I(12));
        break;
      case EMR_SETTEXTCOLOR:
        if (need(12)) st_.textColour = MfU32(r + 8) & 0xFFFFFF;
        break;
      case EMR_SETBKCOLOR:
        if (need(12)) st_.bkColour = MfU32(r + 8) & 0xFFFFFF;
        break;
      case EMR_SAVEDC:
        Save();
        break;
      case EMR_RESTOREDC:
        if (need(12) && !saved_.empty()) {
          int32_t rel = I(8);
          if (rel < 0 && static_cast<uint32_t>(-static_cast<int64_t>(rel)) <= saved_.size())
            Restore(static_cast<size_t>(-static_cast<int64_t>(rel)));
        }
        break;
      case EMR_SETWORLDTRANSFORM:
      case EMR_MODIFYWORLDTRANSFORM:
        if (need(32)) {
          float v[6];
          for (int i = 0; i < 6; ++i) {
            uint32_t u = MfU32(r + 8 + 4 * i);
            std::memcpy(&v[i], &u, 4);
            if (!std::isfinite(v[i])) v[i] = 0;
          }
          const Affine x{v[0], v[1], v[2], v[3], v[4], v[5]};
          uint32_t modeW = type == EMR_SETWORLDTRANSFORM ? 4 : (need(36) ? MfU32(r + 32) : 0);
          Affine& w = st_.world;
          if (modeW == 1) w = Affine{};                 // MWT_IDENTITY
          else if (modeW == 4) w = x;                   // set
          else if (modeW == 2 || modeW == 3) {          // left / right multiply
            const Affine a = modeW == 2 ? x : w, b = modeW == 2 ? w : x;
            w = Affine{a.m11 * b.m11 + a.m12 * b.m21,        a.m11 * b.m12 + a.m12 * b.m22,
                       a.m21 * b.m11 + a.m22 * b.m21,        a.m21 * b.m12 + a.m22 * b.m22,
                       a.dx * b.m11 + a.dy * b.m21 + b.dx,   a.dx * b.m12 + a.dy * b.m22 + b.dy};
          }
        }
        break;
      case EMR_CREATEPEN:
        if (need(28) && MfU32(r + 8) < objects_.size()) {
          Obj o;
          o.kind = Obj::Pen;
          o.null = (MfU32(r + 12) & 0xF) == 5;
          o.width = I(16);
          o.colour = MfU32(r + 24) & 0xFFFFFF;
          objects_[MfU32(r + 8)] = o;
        }
        break;
      case EMR_EXTCREATEPEN:
        if (need(44) && MfU32(r + 8) < objects_.size()) {
          Obj o;
          o.kind = Obj::Pen;
          o.null = (MfU32(r + 28) & 0xF) == 5;
          o.width = MfU32(r + 32);
          if ((MfU32(r + 28) & 0xF0000) == 0) o.width = 1;  // cosmetic
          o.colour = MfU32(r + 40) & 0xFFFFFF;
          o.null = o.null || MfU32(r + 36) == 1;          // BS_NULL
          objects_[MfU32(r + 8)] = o;
        }
        break;
      case EMR_CREATEBRUSHINDIRECT:
        if (need(24) && MfU32(r + 8) < objects_.size()) {
          Obj o;
          o.kind = Obj::Brush;
          o.null = MfU32(r + 12) == 1;
          o.colour = MfU32(r + 16) & 0xFFFFFF;
          if (MfU32(r + 12) == 2 && MfU32(r + 20) < 6) o.hatch = static_cast<int>(MfU32(r + 20));  // BS_HATCHED
          objects_[MfU32(r + 8)] = o;
        }
        break;
      case EMR_CREATEDIBPATTERNBRUSHPT:
        if (need(32) && MfU32(r + 8) < objects_.size()) {
          const uint8_t *info, *bits;
          Obj o;
          if (!RecordDIB(r, size, MfU32(r + 16), MfU32(r + 20), MfU32(r + 24), MfU32(r + 28), &info, &bits) ||
              !PatternBrush(info, MfU32(r + 20), bits, MfU32(r + 28), o))
            o = Obj{};
          objects_[MfU32(r + 8)] = o;
        }
        break;
      case EMR_EXTCREATEFONTINDIRECTW:
        if (need(12 + 92) && MfU32(r + 8) < objects_.size()) {
          Obj o;
          o.kind = Obj::Font;
          const uint8_t* f = r + 12;
          o.font.lfHeight = MfI32(f);
          o.font.lfWidth = MfI32(f + 4);
          o.font.lfWeight = MfI32(f + 16);
          o.font.lfItalic = f[20];
          o.font.lfUnderline = f[21];
          for (int i = 0; i < 31; ++i) o.font.lfFaceName[i] = static_cast<WCHAR>(MfU16(f + 28 + 2 * i));
          objects_[MfU32(r + 8)] = o;
        }
        break;
      case EMR_SELECTOBJECT:
        if (need(12)) {
          const uint32_t i = MfU32(r + 8);
          if (i & 0x80000000u) {
            const uint32_t s = i & 0x7FFFFFFFu;
            Obj o;
            if (s <= 5) {
              static const COLORREF kBrush[5] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0};
              o.kind = Obj::Brush;
              o.null = s == 5;
              o.colour = s < 5 ? kBrush[s] : 0;
              st_.brush = o;
            } else if (s >= 6 && s <= 8) {
              o.kind = Obj::Pen;
              o.colour = s == 6 ? 0xFFFFFF : 0;
              o.null = s == 8;
              st_.pen = o;
            } else if (s >= 10 && s <= 17) {
              st_.font = Obj{};
            }
          } else if (i < objects_.size()) {
            const Obj& o = objects_[i];
            if (o.kind == Obj::Pen) st_.pen = o;
            else if (o.kind == Obj::Brush) st_.brush = o;
            else if (o.kind == Obj::Font) st_.font = o;
          }
        }
        break;
      case EMR_DELETEOBJECT:
        if (need(12) && MfU32(r + 8) < objects_.size()) objects_[MfU32(r + 8)] = Obj{};
        break;
      case EMR_RECTANGLE:
      case EMR_ELLIPSE:
        if (need(24)) DrawShape(type == EMR_RECTANGLE ? 0 : 1, I(8), I(12), I(16), I(20), 0, 0);
        break;
      case EMR_ROUNDRECT:
        if (need(32)) DrawShape(2, I(8), I(12), I(16), I(20), I(24), I(28));
        break;
      case EMR_MOVETOEX:
        if (need(16)) {
          st_.pos = PointF{static_cast<double>(I(8)), static_cast<double>(I(12))};
          if (inPath_) PathAdd(Figure{Map(st_.pos.x, st_.pos.y)}, false);
        }
        break;
      case EMR_LINETO:
        if (need(16)) {
          const PointF to{static_cast<double>(I(8)), static_cast<double>(I(12))};
          if (inPath_) PathAdd(Figure{Map(to.x, to.y)}, true);
          else if (!st_.pen.null) StrokeFigure(Cv(), Figure{Map(st_.pos.x, st_.pos.y), Map(to.x, to.y)}, false,
                                               PenWidth(), st_.pen.colour);
          st_.pos = to;
        }
        break;
      case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIER: case EMR_POLYBEZIERTO: case EMR_POLYLINETO:
      case EMR_POLYGON16: case EMR_POLYLINE16: case EMR_POLYBEZIER16: case EMR_POLYBEZIERTO16:
      case EMR_POLYLINETO16: {
        if (!need(28)) return false;
        const bool small = type >= EMR_POLYBEZIER16;
        const uint32_t count = MfU32(r + 24), ps = small ? 4 : 8;
        if (count > (size - 28) / ps) return false;
        Figure pts;
        pts.reserve(count);
        std::vector<PointF> logical;
        for (uint32_t i = 0; i < count; ++i) {
          const uint8_t* p = r + 28 + i * ps;
          const double x = small ? MfI16(p) : MfI32(p), y = small ? MfI16(p + 2) : MfI32(p + 4);
          logical.push_back(PointF{x, y});
          pts.push_back(Map(x, y));
        }
        const uint32_t base = small ? type - (EMR_POLYBEZIER16 - EMR_POLYBEZIER) : type;
        const bool to = base == EMR_POLYBEZIERTO || base == EMR_POLYLINETO;
        const bool bez = base == EMR_POLYBEZIER || base == EMR_POLYBEZIERTO;
        Figure out;
        if (bez) {
          PointF start = to ? Map(st_.pos.x, st_.pos.y) : (pts.empty() ? PointF{0, 0} : pts[0]);
          size_t i = to ? 0 : 1;
          if (!to && !pts.empty()) out.push_back(start);
          for (; i + 3 <= pts.size(); i += 3) {
            Bezier(start, pts[i], pts[i + 1], pts[i + 2], out);
            start = pts[i + 2];
          }
        } else {
          out = pts;
        }
        if (to && !logical.empty()) {
          if (!inPath_) out.insert(out.begin(), Map(st_.pos.x, st_.pos.y));
          st_.pos = logical.back();
        }
        if (inPath_) PathAdd(out, to);
        else Draw({out}, base == EMR_POLYGON, base == EMR_POLYGON);
        break;
      }
      case EMR_POLYPOLYGON: case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON16: case EMR_POLYPOLYLINE16: {
        if (!need(32)) return false;
        const bool small = type >= EMR_POLYPOLYLINE16;
        const uint32_t nPolys = MfU32(r + 24), total = MfU32(r + 28), ps = small ? 4 : 8;
        if (nPolys > (size - 32) / 4 || total > (size - 32 - nPolys * 4) / ps) return false;
        std::vector<Figure> figs;
        const uint8_t* p = r + 32 + nPolys * 4;
        uint32_t used = 0;
        for (uint32_t k = 0; k < nPolys; ++k) {
          const uint32_t c = MfU32(r + 32 + 4 * k);
          if (c > total - used) return false;
          Figure f;
          for (uint32_t i = 0; i < c; ++i, p += ps)
            f.push_back(small ? Map(MfI16(p), MfI16(p + 2)) : Map(MfI32(p), MfI32(p + 4)));
          used += c;
          figs.push_back(std::move(f));
        }
        const bool polygon = type == EMR_POLYPOLYGON || type == EMR_POLYPOLYGON16;
        Draw(figs, polygon, polygon);
        break;
      }
      case EMR_BEGINPATH:
        inPath_ = true;
        path_.clear();
        pathClosed_.clear();
        break;
      case EMR_CLOSEFIGURE:
        if (inPath_ && !pathClosed_.empty()) {
          pathClosed_.back() = true;
          const Figure& f = path_.back();
          if (!f.empty()) {
            path_.push_back(Figure{f.front()});
            pathClosed_.push_back(false);
          }
        }
        break;
      case EMR_ENDPATH:
        inPath_ = false;
        break;
      case EMR_ABORTPATH:
        inPath_ = false;
        path_.clear();
        pathClosed_.clear();
        break;
      case EMR_FILLPATH:
      case EMR_STROKEPATH:
      case EMR_STROKEANDFILLPATH: {
        std::vector<Figure> figs;
        std::vector<bool> closed;
        for (size_t i = 0; i < path_.size(); ++i)
          if (path_[i].size() > 1) figs.push_back(path_[i]), closed.push_back(pathClosed_[i]);
        if (type != EMR_STROKEPATH && !st_.brush.null) FillFigures(Cv(), figs, st_.brush.colour, st_.winding);
        if (type != EMR_FILLPATH && !st_.pen.null)
          for (size_t i = 0; i < figs.size(); ++i)
            StrokeFigure(Cv(), figs[i], closed[i], PenWidth(), st_.pen.colour);
        path_.clear();
        pathClosed_.clear();
        break;
      }
      case EMR_STRETCHDIBITS:
        if (need(80)) {
          const uint8_t *info, *bits;
          if (RecordDIB(r, size, MfU32(r + 48), MfU32(r + 52), MfU32(r + 56), MfU32(r + 60), &info, &bits)) {
            const PointF a = Map(I(24), I(28)), c = Map(static_cast<double>(I(24)) + I(72),
                                                         static_cast<double>(I(28)) + I(76));
            DrawDIB(a.x, a.y, c.x - a.x, c.y - a.y, I(32), I(36), I(40), I(44), info, MfU32(r + 52), bits,
                    MfU32(r + 60), MfU32(r + 68));
          }
        }
        break;
      case EMR_SETDIBITSTODEVICE:
        if (need(76)) {
          const uint8_t *info, *bits;
          if (RecordDIB(r, size, MfU32(r + 48), MfU32(r + 52), MfU32(r + 56), MfU32(r + 60), &info, &bits)) {
            const PointF a = Map(I(24), I(28));
            const double w = static_cast<double>(I(40)) * baseSX_, hh = I(44) * baseSY_;  // device units
            DrawDIB(a.x, a.y, w, hh, I(32), I(36), I(40), I(44), info, MfU32(r + 52), bits, MfU32(r + 60));
          }
        }
        break;
      case EMR_BITBLT:
      case EMR_STRETCHBLT:
        if (need(type == EMR_BITBLT ? 100 : 108)) {
          const PointF a = Map(I(24), I(28)), c = Map(static_cast<double>(I(24)) + I(32),
                                                       static_cast<double>(I(28)) + I(36));
          const uint32_t cbBmi = MfU32(r + 88);
          if (cbBmi == 0) {  // no source: the brush and the bitmap alone
            PatBlt(a, c, MfU32(r + 40));
            break;
          }
          const uint8_t *info, *bits;
          if (RecordDIB(r, size, MfU32(r + 84), cbBmi, MfU32(r + 92), MfU32(r + 96), &info, &bits)) {
            const int32_t sw = type == EMR_BITBLT ? I(32) : I(100), sh = type == EMR_BITBLT ? I(36) : I(104);
            DrawDIB(a.x, a.y, c.x - a.x, c.y - a.y, I(44), I(48), sw, sh, info, cbBmi, bits, MfU32(r + 96),
                    MfU32(r + 40));
          }
        }
        break;
      case EMR_EXTTEXTOUTW:
        if (need(76)) {
          const uint32_t n = MfU32(r + 44), off = MfU32(r + 48);
          if (n <= 8192 && off <= size && n * 2 <= size - off) {
            std::u16string s;
            for (uint32_t i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(MfU16(r + off + 2 * i)));
            const double box[4] = {static_cast<double>(I(56)), static_cast<double>(I(60)),
                                   static_cast<double>(I(64)), static_cast<double>(I(68))};
            Text(I(36), I(40), s, MfU32(r + 52), box);
          }
        }
        break;
      default:
        break;  // not drawn
    }
  }
  return true;
}

bool Player::PlayWmf(const GdiMetafile& mf) {
  const std::vector<uint8_t>& d = mf.bytes;
  if (d.size() < 18) return false;
  // The metafile's window fills the destination rectangle.
  st_.mapMode = MM_ANISOTROPIC;
  st_.vpOrgX = dest_.left;
  st_.vpOrgY = dest_.top;
  st_.vpExtX = dest_.right - dest_.left;
  st_.vpExtY = dest_.bottom - dest_.top;
  st_.winExtX = st_.vpExtX != 0 ? st_.vpExtX : 1;
  st_.winExtY = st_.vpExtY != 0 ? st_.vpExtY : 1;
  objects_.assign(MfU16(d.data() + 10), Obj{});
  auto addObject = [&](const Obj& o) {
    for (Obj& slot : objects_)
      if (slot.kind == Obj::None && !slot.null) {
        slot = o;
        if (slot.kind == Obj::None) slot.null = true;  // a taken slot of an undrawn kind
        return;
      }
  };
  size_t pos = static_cast<size_t>(MfU16(d.data() + 2)) * 2;
  while (pos + 6 <= d.size()) {
    const uint8_t* r = d.data() + pos;
    const uint64_t words = MfU32(r);
    const uint16_t fn = MfU16(r + 4);
    if (words < 3 || words * 2 > d.size() - pos) return fn == 0;
    const uint32_t size = static_cast<uint32_t>(words * 2);
    pos += size;
    const uint8_t* p = r + 6;  // parameters
    const uint32_t np = (size - 6) / 2;
    auto S = [&](uint32_t i) { return static_cast<double>(MfI16(p + 2 * i)); };
    auto cref = [&](uint32_t i) { return MfU32(p + 2 * i) & 0xFFFFFF; };
    switch (fn) {
      case 0x0000:
        return true;
      case 0x020C:  // SETWINDOWEXT (y, x)
        if (np >= 2 && S(0) != 0 && S(1) != 0) st_.winExtY = S(0), st_.winExtX = S(1);
        break;
      case 0x020B:  // SETWINDOWORG
        if (np >= 2) st_.winOrgY = S(0), st_.winOrgX = S(1);
        break;
      case 0x0102:
        if (np >= 1) st_.bkMode = S(0) == TRANSPARENT ? TRANSPARENT : OPAQUE;
        break;
      case 0x0106:
        if (np >= 1) st_.winding = S(0) == 2;
        break;
      case 0x012E:  // SETTEXTALIGN
        if (np >= 1) st_.textAlign = MfU16(p);
        break;
      case 0x0416: case 0x0415:  // INTERSECTCLIPRECT, EXCLUDECLIPRECT (bottom, right, top, left)
        if (np >= 4) ClipTo({DeviceRect(S(3), S(2), S(1), S(0))}, fn == 0x0416 ? RGN_AND : RGN_DIFF);
        break;
      case 0x0209:
        if (np >= 2) st_.textColour = cref(0);
        break;
      case 0x0201:
        if (np >= 2) st_.bkColour = cref(0);
        break;
      case 0x001E:
        Save();
        break;
      case 0x0127:
        Restore(1);
        break;
      case 0x02FA: {  // CREATEPENINDIRECT: style, width (x, y), colour
        Obj o;
        if (np >= 5) {
          o.kind = Obj::Pen;
          o.null = (MfU16(p) & 0xF) == 5;
          o.width = S(1);
          o.colour = cref(3);
        }
        addObject(o);
        break;
      }
      case 0x02FC: {  // CREATEBRUSHINDIRECT: style, colour, hatch
        Obj o;
        if (np >= 3) {
          o.kind = Obj::Brush;
          o.null = MfU16(p) == 1;
          o.colour = cref(1);
          if (MfU16(p) == 2 && np >= 4 && MfU16(p + 6) < 6) o.hatch = MfU16(p + 6);  // BS_HATCHED
        }
        addObject(o);
        break;
      }
      case 0x02FB: {  // CREATEFONTINDIRECT
        Obj o;
        if (np >= 9) {
          o.kind = Obj::Font;
          o.font.lfHeight = MfI16(p);
          o.font.lfWeight = MfI16(p + 8);
          o.font.lfItalic = p[10];
          o.font.lfUnderline = p[11];
          for (uint32_t i = 0; i < 31 && 18 + i < np * 2 && p[18 + i]; ++i) o.font.lfFaceName[i] = p[18 + i];
        }
        addObject(o);
        break;
      }
      case 0x0142: {  // DIBCREATEPATTERNBRUSH: style, usage, packed DIB (a device bitmap for BS_PATTERN)
        Obj o;
        if (np < 2 || MfU16(p) == 3 || !PatternBrush(p + 4, size - 10, nullptr, 0, o)) o = Obj{};
        addObject(o);
        break;
      }
      case 0x00F7: case 0x01F9: case 0x06FF:  // palette, device-bitmap pattern brush, region
        addObject(Obj{});
        break;
      case 0x061D:  // PATBLT: rop (2 words), height, width, y, x
        if (np >= 6) PatBlt(Map(S(5), S(4)), Map(S(5) + S(3), S(4) + S(2)), MfU32(p));
        break;
      case 0x012D:  // SELECTOBJECT
        if (np >= 1 && MfU16(p) < objects_.size()) {
          const Obj& o = objects_[MfU16(p)];
          if (o.kind == Obj::Pen) st_.pen = o;
          else if (o.kind == Obj::Brush) st_.brush = o;
          else if (o.kind == Obj::Font) st_.font = o;
        }
        break;
      case 0x01F0:  // DELETEOBJECT
        if (np >= 1 && MfU16(p) < objects_.size()) objects_[MfU16(p)] = Obj{};
        break;
      case 0x041B: case 0x0418:  // RECTANGLE, ELLIPSE (bottom, right, top, left)
        if (np >= 4) DrawShape(fn == 0x041B ? 0 : 1, S(3), S(2), S(1), S(0), 0, 0);
        break;
      case 0x061C:  // ROUNDRECT (height, width, bottom, right, top, left)
        if (np >= 6) DrawShape(2, S(5), S(4), S(3), S(2), S(1), S(0));
        break;
      case 0x0214:
        if (np >= 2) st_.pos = PointF{S(1), S(0)};
        break;
      case 0x0213:
        if (np >= 2) {
          const PointF to{S(1), S(0)};
          if (!st_.pen.null)
            StrokeFigure(Cv(), Figure{Map(st_.pos.x, st_.pos.y), Map(to.x, to.y)}, false, PenWidth(), st_.pen.colour);
          st_.pos = to;
        }
        break;
      case 0x0324: case 0x0325: {  // POLYGON, POLYLINE
        if (np < 1) return false;
        const uint32_t n = MfU16(p);
        if (n > (np - 1) / 2) return false;
        Figure f;
        for (uint32_t i = 0; i < n; ++i) f.push_back(Map(S(1 + 2 * i), S(2 + 2 * i)));
        Draw({f}, fn == 0x0324, fn == 0x0324);
        break;
      }
      case 0x0538: {  // POLYPOLYGON
        if (np < 1) return false;
        const uint32_t nPolys = MfU16(p);
        if (nPolys > np - 1) return false;
        uint32_t at = 1 + nPolys;
        std::vector<Figure> figs;
        for (uint32_t k = 0; k < nPolys; ++k) {
          const uint32_t c = MfU16(p + 2 * (1 + k));
          if (c > (np - at) / 2) return false;
          Figure f;
          for (uint32_t i = 0; i < c; ++i, at += 2) f.push_back(Map(S(at), S(at + 1)));
          figs.push_back(std::move(f));
        }
        Draw(figs, true, true);
        break;
      }
      case 0x0521: {  // TEXTOUT: count, string (padded), y, x
        if (np < 1) break;
        const uint32_t n = MfU16(p), strWords = (n + 1) / 2;
        if (np < 1 + strWords + 2) break;
        std::u16string s;
        for (uint32_t i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(p[2 + i]));
        Text(S(1 + strWords + 1), S(1 + strWords), s);
        break;
      }
      case 0x0A32: {  // EXTTEXTOUT: y, x, count, options, [rect], string
        if (np < 4) break;
        const uint32_t n = MfU16(p + 4), opts = MfU16(p + 6);
        const uint32_t at = 8 + ((opts & 0x6) ? 8 : 0);
        if (at + n > np * 2) break;
        std::u16string s;
        for (uint32_t i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(p[at + i]));
        const double box[4] = {np >= 8 ? S(4) : 0, np >= 8 ? S(5) : 0, np >= 8 ? S(6) : 0, np >= 8 ? S(7) : 0};
        Text(S(1), S(0), s, (opts & 0x6) ? opts : 0, box);
        break;
      }
      case 0x0F43: {  // STRETCHDIB: rop(2), usage, srcH, srcW, ySrc, xSrc, dstH, dstW, yDst, xDst, DIB
        if (np < 11 + 20) break;
        const uint8_t* dib = p + 22;
        const size_t dibSize = size - 6 - 22;
        const uint32_t hs = MfU32(dib);
        if (hs < 40 || hs > dibSize) break;
        const PointF a = Map(S(10), S(9)), c = Map(S(10) + S(8), S(9) + S(7));
        DrawDIB(a.x, a.y, c.x - a.x, c.y - a.y, MfI16(p + 12), MfI16(p + 10), MfI16(p + 8), MfI16(p + 6), dib,
                dibSize, nullptr, 0, MfU32(p));
        break;
      }
      case 0x0B41: case 0x0940: {  // DIBSTRETCHBLT, DIBBITBLT
        const bool stretch = fn == 0x0B41;
        const uint32_t fixed = stretch ? 10 : 8;
        if (np == fixed + 1) {  // without a bitmap (a reserved word after the rop): the brush alone
          const double dx = S(np - 1), dy = S(np - 2), dw = S(np - 3), dh = S(np - 4);
          PatBlt(Map(dx, dy), Map(dx + dw, dy + dh), MfU32(p));
          break;
        }
        if (np < fixed + 20) break;
        const uint8_t* dib = p + fixed * 2;
        const size_t dibSize = size - 6 - fixed * 2;
        if (MfU32(dib) < 40 || MfU32(dib) > dibSize) break;
        double sw, sh, sx, sy, dh, dw, dy, dx;
        if (stretch) sh = S(2), sw = S(3), sy = S(4), sx = S(5), dh = S(6), dw = S(7), dy = S(8), dx = S(9);
        else sy = S(2), sx = S(3), dh = S(4), dw = S(5), dy = S(6), dx = S(7), sh = dh, sw = dw;
        const PointF a = Map(dx, dy), c = Map(dx + dw, dy + dh);
        DrawDIB(a.x, a.y, c.x - a.x, c.y - a.y, static_cast<int32_t>(sx), static_cast<int32_t>(sy),
                static_cast<int32_t>(sw), static_cast<int32_t>(sh), dib, dibSize, nullptr, 0, MfU32(p));
        break;
      }
      case 0x0D33: {  // SETDIBTODEV: usage, scans, start, yDib, xDib, h, w, yDst, xDst, DIB
        if (np < 9 + 20) break;
        const uint8_t* dib = p + 18;
        const size_t dibSize = size - 6 - 18;
        if (MfU32(dib) < 40 || MfU32(dib) > dibSize) break;
        const PointF a = Map(S(8), S(7));
        const double w = S(6) * ScaleX(), hh = S(5) * ScaleY();
        DrawDIB(a.x, a.y, w, hh, MfI16(p + 8), MfI16(p + 6), MfI16(p + 12), MfI16(p + 10), dib, dibSize,
                nullptr, 0);
        break;
      }
      default:
        break;
    }
  }
  return true;
}

}  // namespace

void GdiPutRow(GdiBitmap& bitmap, int32_t y, int32_t x0, int32_t x1, const COLORREF* colours) {
  uint8_t* row = bitmap.Row(y);
  switch (bitmap.bitsPerPixel) {
    case 1:
      for (int32_t x = x0; x < x1; ++x) {
        const uint8_t bit = static_cast<uint8_t>(0x80u >> (x & 7));
        if (GdiColourIsLight(colours[x - x0])) row[x >> 3] |= bit;
        else row[x >> 3] &= static_cast<uint8_t>(~bit);
      }
      break;
    case 24:
    case 32: {
      const int32_t n = bitmap.bitsPerPixel / 8;
      for (int32_t x = x0; x < x1; ++x) {
        uint8_t* q = row + static_cast<size_t>(x) * n;
        const COLORREF c = colours[x - x0];
        q[0] = GetBValue(c), q[1] = GetGValue(c), q[2] = GetRValue(c);
        if (n == 4) q[3] = 0;
      }
      break;
    }
    default:
      break;
  }
}

void GdiGetRow(const GdiBitmap& bitmap, int32_t y, int32_t x0, int32_t x1, COLORREF* colours) {
  const uint8_t* row = bitmap.Row(y);
  switch (bitmap.bitsPerPixel) {
    case 1:
      for (int32_t x = x0; x < x1; ++x) colours[x - x0] = (row[x >> 3] & (0x80u >> (x & 7))) ? 0xFFFFFFu : 0u;
      break;
    case 24:
    case 32: {
      const int32_t n = bitmap.bitsPerPixel / 8;
      for (int32_t x = x0; x < x1; ++x) {
        const uint8_t* q = row + static_cast<size_t>(x) * n;
        colours[x - x0] = RGB(q[2], q[1], q[0]);
      }
      break;
    }
    default:
      std::fill(colours, colours + (x1 - x0), 0u);
      break;
  }
}

bool GdiDrawDIB(GdiBitmap& bitmap, double x, double y, double w, double h, int32_t xSrc, int32_t ySrc, int32_t srcW,
                int32_t srcH, const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize,
                GdiDIBSink* sink) {
  DIBView v;
  if (!ParseDIB(info, infoSize, bits, bitsSize, v)) return false;
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(w) || !std::isfinite(h)) return false;
  if (srcW == 0 || srcH == 0 || w == 0 || h == 0) return true;
  // Source rectangle in top-down rows: a bottom-up DIB counts ySrc from its lower edge.
  const double sx0 = xSrc, sw = srcW;
  const double sy0 = v.bottomUp ? static_cast<double>(v.height) - ySrc - srcH : ySrc;
  const double sh = srcH;
  const double dx0 = std::min(x, x + w), dx1 = std::max(x, x + w);
  const double dy0 = std::min(y, y + h), dy1 = std::max(y, y + h);
  int32_t px0 = ClampTo(std::ceil(dx0 - 0.5), bitmap.width);
  int32_t px1 = ClampTo(std::ceil(dx1 - 0.5), bitmap.width);
  const int32_t py0 = ClampTo(std::ceil(dy0 - 0.5), bitmap.height);
  const int32_t py1 = ClampTo(std::ceil(dy1 - 0.5), bitmap.height);
  if (px0 >= px1 || py0 >= py1) return true;
  std::vector<int32_t> colOf(static_cast<size_t>(px1 - px0));
  for (int32_t px = px0; px < px1; ++px) {
    double t = (px + 0.5 - x) / w;  // 0..1 along the (possibly mirrored) destination
    const double s = std::floor(sx0 + t * sw);
    colOf[static_cast<size_t>(px - px0)] = s < 0 || s >= v.width ? -1 : static_cast<int32_t>(s);
  }
  // Columns inside the source form one run (the mapping is monotonic).
  int32_t c0 = 0, c1 = px1 - px0;
  while (c0 < c1 && colOf[static_cast<size_t>(c0)] < 0) ++c0;
  while (c1 > c0 && colOf[static_cast<size_t>(c1 - 1)] < 0) --c1;
  if (c0 >= c1) return true;
  std::vector<COLORREF> line(static_cast<size_t>(c1 - c0));
  for (int32_t py = py0; py < py1; ++py) {
    const double t = (py + 0.5 - y) / h;
    const double s = std::floor(sy0 + t * sh);
    if (s < 0 || s >= v.height) continue;
    const int32_t sy = static_cast<int32_t>(s);
    for (int32_t c = c0; c < c1; ++c) line[static_cast<size_t>(c - c0)] = v.At(colOf[static_cast<size_t>(c)], sy);
    if (sink) sink->Row(py, px0 + c0, px0 + c1, line.data());
    else GdiPutRow(bitmap, py, px0 + c0, px0 + c1, line.data());
  }
  return true;
}

bool GdiPlayMetafile(const GdiMetafile& mf, GdiBitmap& bitmap, const RECT& dest) {
  try {
    Player p(bitmap, dest);
    return mf.isWmf ? p.PlayWmf(mf) : p.PlayEmf(mf);
  } catch (const std::bad_alloc&) {
    return false;
  }
}
