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

// The region made of rects (each limited to the bitmap) on a bitmap of height h.
ClipRegion RegionOf(const std::vector<PixRect>& rects, int32_t h);
// cur (mode) other on a bitmap of width w; null cur is the whole bitmap.
ClipPtr Combine(const ClipPtr& cur, const ClipRegion& other, int mode, int32_t w);

// The surface as the player draws on it: every span is cut to the clip region.
struct Canvas {
  Surface b;
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
    Clipped(y, x0, x1, [&](int32_t a, int32_t e) {
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
    if (!clip) {
      PutRow(b, y, x0, x1, colours);
      return;
    }
    for (const Span& s : clip->rows[static_cast<size_t>(y)]) {
      if (s.x0 >= x1) break;
      const int32_t a = std::max(x0, s.x0), e = std::min(x1, s.x1);
      if (a < e) PutRow(b, y, a, e, colours + (a - x0));
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

}  // namespace metafile_player
