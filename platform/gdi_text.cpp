// GDI stand-in text drawing: DrawTextExA/W laid out line by line with the font's hinted
// advances and drawn as monochrome glyphs in the context's text colour.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/gdi_font_face.h"
#include "platform/gdi_internal.h"
#include "platform/gdi_text.h"

namespace {

struct Line {
  size_t begin;
  size_t end;
  int64_t width;  // whole pixels: the advances' sum, rounded
  // Where its glyphs' pixels can lie: at least inkLeft pixels from each glyph's pen, inkTop
  // above and inkBottom below the baseline; unbounded when some glyph's reach is unknown or an
  // advance goes backwards.
  int64_t inkLeft = 0, inkTop = 0, inkBottom = 0;
  bool bounded = true;
};

struct Clip {
  int64_t x0, y0, x1, y1;  // right and bottom exclusive
};

LONG ClampLong(int64_t v) { return static_cast<LONG>(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, v))); }

// Splits text into lines at CR, LF and CR LF; a single-line format drops the breaks instead.
// An empty text is one empty line.
std::vector<Line> SplitLines(std::u32string& text, bool singleLine) {
  std::vector<Line> lines;
  if (singleLine) {
    text.erase(std::remove_if(text.begin(), text.end(), [](char32_t c) { return c == '\r' || c == '\n'; }),
               text.end());
    lines.push_back({0, text.size(), 0});
    return lines;
  }
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c != '\r' && c != '\n') continue;
    lines.push_back({start, i, 0});
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  lines.push_back({start, text.size(), 0});
  return lines;
}

// Draws the set bits of one glyph at pen position (penX, baseline), clipped.
void BlitGlyph(GdiBitmap& bitmap, const GdiGlyph& g, int64_t penX, int64_t baseline, const Clip& clip,
               COLORREF colour) {
  ForEachGlyphRun(g, penX, baseline, clip.x0, clip.y0, clip.x1, clip.y1,
                  [&](int32_t y, int32_t x0, int32_t x1) { GdiFillSpan(bitmap, y, x0, x1, colour); });
}

void FillBox(GdiBitmap& bitmap, int64_t x0, int64_t y0, int64_t x1, int64_t y1, const Clip& clip, COLORREF colour) {
  x0 = std::max(x0, clip.x0), x1 = std::min(x1, clip.x1);
  y0 = std::max(y0, clip.y0), y1 = std::min(y1, clip.y1);
  for (int64_t y = y0; y < y1; ++y)
    GdiFillSpan(bitmap, static_cast<int32_t>(y), static_cast<int32_t>(x0), static_cast<int32_t>(x1), colour);
}

int DrawDecoded(HDC dc, std::u32string text, RECT* rect, UINT format) {
  GdiDC* d = GdiLookupDC(dc);
  if (!d || !rect || !d->font) return 0;
  GdiFontFace& face = *d->font->face;
  const bool single = (format & DT_SINGLELINE) != 0;
  std::vector<Line> lines = SplitLines(text, single);
  const bool calc = (format & DT_CALCRECT) != 0;
  int64_t maxWidth = 0;
  for (Line& l : lines) {
    int64_t sum = 0;
    for (size_t i = l.begin; i < l.end; ++i) {
      const int32_t advance26 = face.Advance26(text[i]);
      sum += advance26;
      if (calc) continue;
      const GdiInkBox& ink = face.Ink(text[i]);
      l.bounded = l.bounded && ink.known && advance26 >= 0;
      l.inkLeft = std::min<int64_t>(l.inkLeft, ink.left);
      l.inkTop = std::max<int64_t>(l.inkTop, ink.top);
      l.inkBottom = std::max<int64_t>(l.inkBottom, ink.bottom);
    }
    l.width = (sum + 32) >> 6;
    maxWidth = std::max(maxWidth, l.width);
  }
  const int64_t lineHeight = face.Height();
  const int64_t total = lineHeight * static_cast<int64_t>(lines.size());
  const int64_t left = rect->left, top = rect->top, right = rect->right, bottom = rect->bottom;

  if (format & DT_CALCRECT) {
    rect->right = ClampLong(left + maxWidth);
    rect->bottom = ClampLong(top + total);
    return static_cast<int>(std::min<int64_t>(total, INT_MAX));
  }

  int64_t y0 = top;
  int64_t result = total;
  if (single && (format & (DT_VCENTER | DT_BOTTOM))) {
    y0 = (format & DT_VCENTER) ? top + (bottom - top - lineHeight) / 2 : bottom - lineHeight;
    result = y0 - top + lineHeight;
  }
  if (!d->bitmap) return static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(result, INT_MAX)));

  GdiBitmap& bitmap = *d->bitmap;
  Clip clip{0, 0, bitmap.width, bitmap.height};
  if (!(format & DT_NOCLIP)) {
    clip.x0 = std::max(clip.x0, left), clip.x1 = std::min(clip.x1, right);
    clip.y0 = std::max(clip.y0, top), clip.y1 = std::min(clip.y1, bottom);
  }
  GdiGlyph glyph;
  for (size_t n = 0; n < lines.size(); ++n) {
    const Line& l = lines[n];
    const int64_t ly = y0 + static_cast<int64_t>(n) * lineHeight;
    const int64_t baseline = ly + face.Ascent();
    // A line is passed over when neither its cell nor its glyphs reach the clip's rows.
    if (l.bounded && (std::min(ly, baseline - l.inkTop) >= clip.y1 ||
                      std::max(ly + lineHeight, baseline + l.inkBottom) <= clip.y0))
      continue;
    int64_t lx = left;
    if (format & DT_CENTER) lx = left + (right - left - l.width) / 2;
    else if (format & DT_RIGHT) lx = right - l.width;
    if (d->bkMode == OPAQUE) FillBox(bitmap, lx, ly, lx + l.width, ly + lineHeight, clip, d->bkColour);
    // Glyph origins are the running sum of the advances, rounded to whole pixels. Only the
    // glyphs whose pixels can fall inside the clip are rendered; the others are advanced over,
    // and the line ends where no later glyph can reach back into the clip.
    int64_t pen26 = 0;
    for (size_t i = l.begin; i < l.end; ++i) {
      const int64_t pen = lx + ((pen26 + 32) >> 6);
      if (l.bounded && pen + l.inkLeft >= clip.x1) break;
      const int32_t advance26 = face.Advance26(text[i]);
      const GdiInkBox& ink = face.Ink(text[i]);
      const bool reaches = !ink.known || (pen + ink.left < clip.x1 && pen + ink.right > clip.x0 &&
                                          baseline - ink.top < clip.y1 && baseline + ink.bottom > clip.y0);
      if (reaches && face.Render(text[i], &glyph)) BlitGlyph(bitmap, glyph, pen, baseline, clip, d->textColour);
      pen26 += advance26;
    }
    if (face.Underline()) {
      const int64_t uy = baseline + face.UnderlineTop();
      FillBox(bitmap, lx, uy, lx + l.width, uy + face.UnderlineThickness(), clip, d->textColour);
    }
  }
  return static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(result, INT_MAX)));
}

// The characters of `count` bytes of 8-bit text (-1: up to the NUL), read as DrawTextExA reads them.
std::u32string DecodeCount(const char* text, int count) {
  return GdiDecodeAnsi(text, count == -1 ? std::strlen(text) : static_cast<size_t>(count));
}

// The control characters that a text's drawing is asked to leave out: all but the line breaks.
bool IsDroppedControl(char32_t c) { return GdiIsControl(c) && c != '\r' && c != '\n'; }

}  // namespace

int DrawTextExA(HDC dc, const char* text, int count, RECT* rect, UINT format, DRAWTEXTPARAMS* params) {
  if (!text || count < -1) return 0;
  const size_t n = count == -1 ? std::strlen(text) : static_cast<size_t>(count);
  if (params) params->uiLengthDrawn = static_cast<UINT>(n);
  return DrawDecoded(dc, GdiDecodeAnsi(text, n), rect, format);
}

int DrawTextExW(HDC dc, const WCHAR* text, int count, RECT* rect, UINT format, DRAWTEXTPARAMS* params) {
  if (!text || count < -1) return 0;
  size_t n = 0;
  if (count == -1) {
    while (text[n]) ++n;
  } else {
    n = static_cast<size_t>(count);
  }
  if (params) params->uiLengthDrawn = static_cast<UINT>(n);
  return DrawDecoded(dc, GdiDecodeUtf16(text, n), rect, format);
}

int GdiMissingCharacters(HFONT font, const char* text, int count, char* out, int size) {
  GdiFont* f = GdiLookupFont(font);
  if (out && size > 0) out[0] = '\0';
  if (!f || !text || count < -1) return 0;
  std::u32string missing;
  for (char32_t c : DecodeCount(text, count)) {
    if (GdiIsControl(c)) continue;
    if (missing.find(c) == std::u32string::npos && !f->face->Draws(c)) missing.push_back(c);
  }
  return GdiCopyText(GdiEncodeUtf8(missing), out, size);
}

int GdiControlCharacters(const char* text, int count, DWORD* out, int size) {
  if (!text || count < -1) return 0;
  std::u32string controls;
  for (char32_t c : DecodeCount(text, count))
    if (IsDroppedControl(c) && controls.find(c) == std::u32string::npos) controls.push_back(c);
  if (out)
    for (size_t i = 0; i < controls.size() && i < static_cast<size_t>(std::max(size, 0)); ++i) out[i] = controls[i];
  return static_cast<int>(controls.size());
}

int GdiWithoutControlCharacters(const char* text, int count, char* out, int size) {
  if (out && size > 0) out[0] = '\0';
  if (!text || count < -1) return 0;
  std::u32string kept = DecodeCount(text, count);
  kept.erase(std::remove_if(kept.begin(), kept.end(), IsDroppedControl), kept.end());
  return GdiCopyText(GdiEncodeUtf8(kept), out, size);
}
