// Clipping of the player: regions of spans built from rectangles and combined in every mode,
// and the bitmap as the player draws on it, every span cut to the clip region.
#pragma once

#include <algorithm>
#include <memory>

#include "platform/gdi_metafile_paint.h"
#include "platform/gdi_metafile_surface.h"

namespace metafile_player {

// Pixels [x0, x1) of a row.
struct Span {
  int32_t x0, x1;
};
// A rectangle of bitmap pixels, right and bottom exclusive, already limited to the bitmap.
struct PixRect {
  int32_t x0, y0, x1, y1;
};

// A clip region over the bitmap: each row's pixels as sorted, disjoint spans, the rows' spans
// one after another. Regions are shared between saved states and never changed once made.
struct ClipRegion {
  std::vector<uint32_t> start;  // row y's spans are spans[start[y]] .. spans[start[y + 1] - 1]
  std::vector<Span> spans;
  const Span* Begin(int32_t y) const { return spans.data() + start[static_cast<size_t>(y)]; }
  const Span* End(int32_t y) const { return spans.data() + start[static_cast<size_t>(y) + 1]; }
  // The work of going through the region: a row each, and its spans.
  size_t Size() const { return start.size() + spans.size(); }
};
typedef std::shared_ptr<const ClipRegion> ClipPtr;  // null: the whole bitmap

// Region combination modes (EXTSELECTCLIPRGN).
constexpr int RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5;
// Row insertions one region may cost when built from rectangles; beyond it the region is
// taken as its bounding box (only absurd region data gets there).
constexpr uint64_t kMaxRegionWork = 1u << 22;

// The region made of rects (each limited to the bitmap) on a bitmap of height h.
ClipRegion RegionOf(const std::vector<PixRect>& rects, int32_t h);
// cur (mode) other on a bitmap of width w; null cur is the whole bitmap.
ClipPtr Combine(const ClipPtr& cur, const ClipRegion& other, int mode, int32_t w);

// The surface as the player draws on it: every span is cut to the clip region, and its pixels
// and the clip spans it meets are spent from the meter (a span goes undrawn once the meter is
// out). A pixel of a pattern costs kPatternPixel, one of a raster operation kRopPixel.
struct Canvas {
  Surface b;
  ClipPtr clip;
  Meter* meter;
  int32_t W() const { return b.width; }
  int32_t H() const { return b.height; }
  mutable std::vector<COLORREF> line;  // scratch row

  // Calls f(a, e) for the pieces of [x0, x1) on row y that the clip lets through, after spending
  // weight per pixel of [x0, x1) and one per clip span met; nothing once the meter is out.
  template <typename F>
  void Clipped(int32_t y, int32_t x0, int32_t x1, uint64_t weight, F f) const {
    if (x0 >= x1 || !meter->Spend(weight * static_cast<uint64_t>(x1 - x0))) return;
    if (!clip) {
      f(x0, x1);
      return;
    }
    uint64_t met = 0;
    for (const Span *s = clip->Begin(y), *end = clip->End(y); s != end && s->x0 < x1; ++s) {
      ++met;
      const int32_t a = std::max(x0, s->x0), e = std::min(x1, s->x1);
      if (a < e) f(a, e);
    }
    meter->Spend(met);
  }
  // Pixels [x0, x1) of row y (inside the bitmap) painted, where the clip lets them through.
  void Fill(int32_t y, int32_t x0, int32_t x1, const Paint& p) const {
    Clipped(y, x0, x1, p.Solid() ? 1 : kPatternPixel, [&](int32_t a, int32_t e) {
      if (p.Solid()) {
        FillSpan(b, y, a, e, p.colour);
        return;
      }
      line.resize(static_cast<size_t>(e - a));
      int32_t run = a;  // start of the current run of painted pixels
      for (int32_t x = a; x < e; ++x)
        if (!p.At(x, y, line[static_cast<size_t>(x - a)])) {
          PutRow(b, y, run, x, line.data() + (run - a));
          run = x + 1;
        }
      PutRow(b, y, run, e, line.data() + (run - a));
    });
  }
  // Pixels [x0, x1) of row y combined by a raster operation of the pattern p, the source
  // colours src (none: black) and the bitmap.
  void Rop(int32_t y, int32_t x0, int32_t x1, const COLORREF* src, const Paint& p, uint8_t code) const {
    Clipped(y, x0, x1, kRopPixel, [&](int32_t a, int32_t e) {
      line.resize(static_cast<size_t>(e - a));
      GetRow(b, y, a, e, line.data());
      for (int32_t x = a; x < e; ++x) {
        COLORREF pc = 0;
        p.At(x, y, pc);
        COLORREF& d = line[static_cast<size_t>(x - a)];
        d = Rop3(code, pc, src ? src[x - x0] : 0, d);
      }
      PutRow(b, y, a, e, line.data());
    });
  }
  // Pixels [x0, x1) of row y set to colours, where the clip lets them through.
  void Put(int32_t y, int32_t x0, int32_t x1, const COLORREF* colours) const {
    Clipped(y, x0, x1, 1, [&](int32_t a, int32_t e) { PutRow(b, y, a, e, colours + (a - x0)); });
  }
};

// A DIB transfer's rows drawn through a canvas with a raster operation.
class CanvasSink final : public GdiDIBSink {
 public:
  CanvasSink(const Canvas& c, const Paint& p, uint8_t code) : c_(c), p_(p), code_(code) {}
  bool Row(int32_t y, int32_t x0, int32_t x1, const COLORREF* colours) override {
    if (!c_.meter->Spend(kDIBPixel * static_cast<uint64_t>(x1 - x0))) return false;
    if (code_ == kRopSrcCopy) c_.Put(y, x0, x1, colours);
    else c_.Rop(y, x0, x1, colours, p_, code_);
    return !c_.meter->Out();
  }

 private:
  const Canvas& c_;
  const Paint& p_;
  uint8_t code_;
};

}  // namespace metafile_player
