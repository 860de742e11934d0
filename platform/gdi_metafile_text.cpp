// Text of the player: a line laid out with the face's hinted advances (as the text layer does),
// its cell, glyphs and underline drawn as spans through the canvas.
#include "platform/gdi_metafile_text.h"

#include <algorithm>

#include "platform/gdi_font_face.h"

namespace metafile_player {

namespace {

// Pixels [x0, x1) x [y0, y1) limited to the canvas, filled through its clip.
void FillBox(const Canvas& c, int64_t x0, int64_t y0, int64_t x1, int64_t y1, COLORREF colour) {
  x0 = std::max<int64_t>(x0, 0), x1 = std::min<int64_t>(x1, c.W());
  y0 = std::max<int64_t>(y0, 0), y1 = std::min<int64_t>(y1, c.H());
  for (int64_t y = y0; y < y1 && x0 < x1; ++y)
    c.Fill(static_cast<int32_t>(y), static_cast<int32_t>(x0), static_cast<int32_t>(x1), colour);
}

// The set bits of one glyph at pen position (penX, baseline), limited to the canvas.
void BlitGlyph(const Canvas& c, const GdiGlyph& g, int64_t penX, int64_t baseline, COLORREF colour) {
  ForEachGlyphRun(g, penX, baseline, 0, 0, c.W(), c.H(),
                  [&](int32_t y, int32_t x0, int32_t x1) { c.Fill(y, x0, x1, colour); });
}

}  // namespace

void DrawTextLine(const Canvas& c, GdiFontFace& face, const std::u16string& text, int64_t left, int64_t top,
                  bool opaque, COLORREF bk, COLORREF colour) {
  std::u32string t = GdiDecodeUtf16(reinterpret_cast<const WCHAR*>(text.data()), text.size());
  t.erase(std::remove_if(t.begin(), t.end(), [](char32_t ch) { return ch == '\r' || ch == '\n'; }), t.end());
  int64_t sum = 0;
  for (char32_t ch : t) sum += face.Advance26(ch);
  const int64_t width = (sum + 32) >> 6;
  const int64_t lineHeight = face.Height();
  if (top >= c.H() || top + lineHeight <= 0) return;
  if (opaque) FillBox(c, left, top, left + width, top + lineHeight, bk);
  const int64_t baseline = top + face.Ascent();
  // Glyph origins are the running sum of the advances, rounded to whole pixels.
  GdiGlyph glyph;
  int64_t pen26 = 0;
  for (char32_t ch : t) {
    const int64_t pen = left + ((pen26 + 32) >> 6);
    if (pen >= c.W() + lineHeight) break;
    const int32_t advance26 = face.Advance26(ch);
    // A glyph reaches at most about a cell height left or right of its advance box. Rendering
    // it costs about a cell squared, spent first.
    if (pen + (advance26 >> 6) + lineHeight > 0) {
      const uint64_t cell = static_cast<uint64_t>(lineHeight);
      if (!c.meter->Spend(kGlyphRendered + cell * cell)) return;
      if (face.Render(ch, &glyph)) BlitGlyph(c, glyph, pen, baseline, colour);
    }
    pen26 += advance26;
  }
  if (face.Underline()) {
    const int64_t uy = baseline + face.UnderlineTop();
    FillBox(c, left, uy, left + width, uy + face.UnderlineThickness(), colour);
  }
}

}  // namespace metafile_player
