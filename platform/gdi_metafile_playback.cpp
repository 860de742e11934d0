// The player's drawing operations on its playback state: mapping modes, shapes, text placed by
// its alignment, clip regions, DIB transfers, brush blits and paths.
#include "platform/gdi_metafile_playback.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/gdi_metafile_text.h"
#include "platform/gdi_text.h"

namespace metafile_player {

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
  if (rect && (options & ETO_CLIPPED)) {
    if (!SpendRegion({box})) return;
    clip = Combine(clip, RegionOf({box}, surf_.height), RGN_AND, surf_.width);
  }
  LOGFONTW lf = st_.font.font;
  if (st_.font.kind != Obj::Font) lf.lfHeight = -12;
  lf.lfHeight = static_cast<LONG>(std::lround(lf.lfHeight * std::fabs(ScaleY() * baseSY_)));
  if (lf.lfHeight == 0) lf.lfHeight = -1;
  GdiFont* f = SelectFont(lf);
  if (f && f->face) {
    HDC dc = textDC_;
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
    const int64_t cellLeft = std::lround(std::max(-1e6, std::min(1e6, left)));
    const int64_t cellTop = std::lround(std::max(-1e6, std::min(1e6, top)));
    DrawTextLine(Canvas{surf_, clip, &meter_, {}}, *f->face, text, cellLeft, cellTop, st_.bkMode == OPAQUE,
                 st_.bkColour, st_.textColour);
    if (useCP && (align & TA_CENTER) != TA_CENTER) {
      // The current position moves to the far end of the text: right for left-aligned text,
      // left for right-aligned (logical units along x).
      const double perUnit = ScaleX() * baseSX_;
      if (perUnit != 0) st_.pos.x += ((align & TA_RIGHT) ? -width : width) / perUnit;
    }
  }
}

GdiFont* Player::SelectFont(const LOGFONTW& lf) {
  static_assert(sizeof(LOGFONTW) == 92, "a font description compares as its bytes");
  if (!textDC_) {
    textDC_ = CreateCompatibleDC(nullptr);
    if (!textDC_) return nullptr;
  }
  auto it = std::find_if(fonts_.begin(), fonts_.end(),
                         [&](const Font& k) { return std::memcmp(&k.lf, &lf, sizeof lf) == 0; });
  if (it != fonts_.end()) {
    std::rotate(it, it + 1, fonts_.end());
    SelectObject(textDC_, fonts_.back().font);
    return GdiLookupFont(fonts_.back().font);
  }
  if (!meter_.Spend(kFontMade)) return nullptr;
  HFONT font = CreateFontIndirectW(&lf);
  if (!font) return nullptr;
  HGDIOBJ prev = SelectObject(textDC_, font);
  if (!textDCFont_) textDCFont_ = prev;
  if (fonts_.size() >= kFontsKept) {  // the least recently used goes (it is not selected)
    DeleteObject(fonts_.front().font);
    fonts_.erase(fonts_.begin());
  }
  fonts_.push_back(Font{lf, font});
  return GdiLookupFont(font);
}

Player::~Player() {
  if (textDC_ && textDCFont_) SelectObject(textDC_, textDCFont_);
  for (const Font& k : fonts_) DeleteObject(k.font);
  if (textDC_) DeleteDC(textDC_);
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
    rects.push_back(PixRect{ClampTo(std::ceil(std::min(l, r) - 0.5), surf_.width),
                            ClampTo(std::ceil(std::min(t, b) - 0.5), surf_.height),
                            ClampTo(std::ceil(std::max(l, r) - 0.5), surf_.width),
                            ClampTo(std::ceil(std::max(t, b) - 0.5), surf_.height)});
  }
  ClipTo(rects, mode);
}

void Player::DrawDIB(double x, double y, double w, double h, int32_t xSrc, int32_t ySrc, int32_t srcW, int32_t srcH,
                     const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize, uint32_t rop) {
  const uint8_t code = RopCode(rop);
  if (RopUsesPattern(code) && st_.brush.null) return;
  // Reading the destination's columns of the DIB is spent first.
  const double columns = std::isfinite(w) ? std::min(std::fabs(w), static_cast<double>(surf_.width)) : 0;
  if (!meter_.Spend(static_cast<uint64_t>(columns) + 1)) return;
  const Canvas c = Cv();
  const Paint p = BrushPaint();
  CanvasSink sink(c, p, code);
  metafile_player::DrawDIB(surf_, x, y, w, h, xSrc, ySrc, srcW, srcH, info, infoSize, bits, bitsSize, &sink);
}

void Player::PatBlt(PointF a, PointF c, uint32_t rop) {
  const uint8_t code = RopCode(rop);
  if (RopUsesPattern(code) && st_.brush.null) return;
  const int32_t x0 = ClampTo(std::ceil(std::min(a.x, c.x) - 0.5), surf_.width);
  const int32_t x1 = ClampTo(std::ceil(std::max(a.x, c.x) - 0.5), surf_.width);
  const int32_t y0 = ClampTo(std::ceil(std::min(a.y, c.y) - 0.5), surf_.height);
  const int32_t y1 = ClampTo(std::ceil(std::max(a.y, c.y) - 0.5), surf_.height);
  const Canvas cv = Cv();
  const Paint p = BrushPaint();
  for (int32_t y = y0; y < y1 && x0 < x1 && !meter_.Out(); ++y) {
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

}  // namespace metafile_player
