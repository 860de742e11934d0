// The player's playback state: objects, mapping, saved states, the path, and the drawing
// operations that records call (shapes, text, DIB transfers, brush blits, clip regions).
#pragma once

#include <cmath>
#include <string>

#include "platform/gdi_metafile_raster.h"

namespace metafile_player {

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

// Fonts a playback keeps made for the text records after.
constexpr size_t kFontsKept = 16;

// Text alignment bits (SETTEXTALIGN): the reference point's place on the text's cell.
constexpr uint32_t TA_UPDATECP = 1, TA_RIGHT = 2, TA_CENTER = 6, TA_BOTTOM = 8, TA_BASELINE = 24;

class Player {
 public:
  // workLimit: the meter's limit (UINT64_MAX: none).
  Player(const Surface& s, const RECT& dest, uint64_t workLimit) : surf_(s), dest_(dest), meter_(workLimit) {
    st_.pen.kind = Obj::Pen;
    st_.pen.width = 0;
    st_.brush.kind = Obj::Brush;
    st_.brush.colour = 0xFFFFFF;
  }
  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;
  MetafileEnd PlayEmf(const GdiMetafile& mf);
  MetafileEnd PlayWmf(const GdiMetafile& mf);
  uint64_t Work() const { return meter_.Used(); }
  uint32_t Records() const { return records_; }          // records played
  uint64_t BytesPlayed() const { return bytesPlayed_; }  // bytes of the records played, from the start

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
  Canvas Cv() const { return Canvas{surf_, st_.clip, &meter_, {}}; }
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
    return PixRect{ClampTo(std::ceil(std::min(a.x, c.x) - 0.5), surf_.width),
                   ClampTo(std::ceil(std::min(a.y, c.y) - 0.5), surf_.height),
                   ClampTo(std::ceil(std::max(a.x, c.x) - 0.5), surf_.width),
                   ClampTo(std::ceil(std::max(a.y, c.y) - 0.5), surf_.height)};
  }
  void ClipTo(const std::vector<PixRect>& rects, int mode) {
    if (SpendRegion(rects)) st_.clip = Combine(st_.clip, RegionOf(rects, surf_.height), mode, surf_.width);
  }
  // A region of rects made and combined with the clip: a row each for both, the clip's spans,
  // and the rows of each rectangle (of their bounding box beyond kMaxRegionWork). False once the
  // meter is out.
  bool SpendRegion(const std::vector<PixRect>& rects) const {
    const uint64_t h = static_cast<uint64_t>(surf_.height);
    uint64_t rows = 0;
    for (const PixRect& q : rects) rows += q.x0 < q.x1 && q.y0 < q.y1 ? static_cast<uint64_t>(q.y1 - q.y0) : 0;
    return meter_.Spend(kRegionRow * (2 * h + (st_.clip ? st_.clip->Size() : 0) + rects.size() +
                                      (rows > kMaxRegionWork ? h : rows)));
  }
  void SelectClipRegion(const uint8_t* rgn, uint32_t size, int mode);
  void Save() {
    const size_t spans = st_.clip ? st_.clip->spans.size() : 0;
    if (saved_.size() >= 1024 || savedSpans_ + spans > kMaxSavedSpans) return;
    saved_.push_back(st_);
    savedSpans_ += spans;
  }
  // Pops n saved states; the last one popped becomes the current state.
  void Restore(size_t n) {
    for (; n > 0 && !saved_.empty(); --n) {
      savedSpans_ -= saved_.back().clip ? saved_.back().clip->spans.size() : 0;
      if (n == 1) st_ = saved_.back();
      saved_.pop_back();
    }
  }
  void DrawDIB(double x, double y, double w, double h, int32_t xSrc, int32_t ySrc, int32_t srcW, int32_t srcH,
               const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize, uint32_t rop = SRCCOPY);
  void DrawShape(int kind, double l, double t, double r, double btm, double rw, double rh);
  void Text(double x, double y, const std::u16string& text, uint32_t options = 0, const double* rect = nullptr);
  void PathAdd(const Figure& pts, bool continueFigure);
  // The font of a description, selected into the text context: kept for the records after, as
  // drawings use few fonts. Null when it cannot be made.
  GdiFont* SelectFont(const LOGFONTW& lf);

  Surface surf_;
  RECT dest_;
  double baseX0_ = 0, baseY0_ = 0, baseSX_ = 1, baseSY_ = 1;
  State st_;
  std::vector<State> saved_;
  size_t savedSpans_ = 0;  // clip spans held by saved_ (bounded)
  std::vector<Obj> objects_;
  bool inPath_ = false;
  std::vector<Figure> path_;
  std::vector<bool> pathClosed_;
  mutable Meter meter_;
  HDC textDC_ = nullptr;        // the context fonts are measured in
  HGDIOBJ textDCFont_ = nullptr;  // its own font
  struct Font {
    LOGFONTW lf;
    HFONT font;
  };
  std::vector<Font> fonts_;  // the fonts made, the last used last
  uint32_t records_ = 0;
  uint64_t bytesPlayed_ = 0;
};

// A DIB pattern brush from a DIB inside the metafile (bits null: they follow the header).
bool PatternBrush(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize, Obj& o);
// Bezier curve points (excluding the start) in device coordinates.
void Bezier(PointF p0, PointF p1, PointF p2, PointF p3, Figure& out);
// Reads a DIB held inside a record: header at off (size cb), bits at offBits (size cbBits).
bool RecordDIB(const uint8_t* rec, uint32_t size, uint32_t off, uint32_t cb, uint32_t offBits, uint32_t cbBits,
               const uint8_t** info, const uint8_t** bits);

}  // namespace metafile_player
