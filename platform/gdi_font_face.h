// The FreeType face behind a GDI font: cell metrics, hinted advances and monochrome glyph
// bitmaps, with synthetic bold and italic. Internal to platform/.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/win32_types.h"

// One rendered glyph: `rows` rows of `pitch` bytes, leftmost pixel in the high bit; its
// top-left corner lies `left` pixels right of the pen and `top` pixels above the baseline.
struct GdiGlyph {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t rows = 0;
  int32_t pitch = 0;
  std::vector<uint8_t> bits;
};

// Calls fill(y, x0, x1) for each run of set pixels of a glyph drawn at pen position (penX,
// baseline), limited to [left, right) x [top, bottom).
template <class Fill>
void ForEachGlyphRun(const GdiGlyph& g, int64_t penX, int64_t baseline, int64_t left, int64_t top, int64_t right,
                     int64_t bottom, Fill fill) {
  const int64_t gx = penX + g.left;
  const int64_t gy = baseline - g.top;
  const int64_t c0 = left - gx > 0 ? left - gx : 0;
  const int64_t c1 = right - gx < g.width ? right - gx : g.width;
  if (c0 >= c1) return;
  const int64_t r0 = top - gy > 0 ? top - gy : 0;
  const int64_t r1 = bottom - gy < g.rows ? bottom - gy : g.rows;
  for (int64_t r = r0; r < r1; ++r) {
    const uint8_t* row = g.bits.data() + r * g.pitch;
    const int32_t y = static_cast<int32_t>(gy + r);
    int64_t x = c0;
    while (x < c1) {
      if (!(row[x >> 3] & (0x80u >> (x & 7)))) {
        ++x;
        continue;
      }
      int64_t run = x + 1;
      while (run < c1 && (row[run >> 3] & (0x80u >> (run & 7)))) ++run;
      fill(y, static_cast<int32_t>(gx + x), static_cast<int32_t>(gx + run));
      x = run;
    }
  }
}

// Where the pixels of a character's rendering can lie, in whole pixels: columns [left, right)
// from the pen, rows from `top` above the baseline to `bottom` below it; a pixel to spare on
// each side. `known` is false when it cannot be told (the glyph may lie anywhere).
struct GdiInkBox {
  int32_t left = 0;
  int32_t right = 0;
  int32_t top = 0;
  int32_t bottom = 0;
  bool known = false;
};

class GdiFontFace {
 public:
  // Matches and loads the face for a font description; null on failure.
  static std::unique_ptr<GdiFontFace> Open(const LOGFONTA& font);
  ~GdiFontFace();
  GdiFontFace(const GdiFontFace&) = delete;
  GdiFontFace& operator=(const GdiFontFace&) = delete;

  int32_t Ascent() const { return ascent_; }
  int32_t Descent() const { return descent_; }
  int32_t Height() const { return ascent_ + descent_; }
  int32_t InternalLeading() const { return internalLeading_; }
  int32_t AverageWidth() const { return averageWidth_; }
  int32_t MaxWidth() const { return maxWidth_; }
  // Underline bar: its top in pixels below the baseline, and its thickness.
  int32_t UnderlineTop() const { return underlineTop_; }
  int32_t UnderlineThickness() const { return underlineThickness_; }
  bool Underline() const { return underline_; }
  bool SyntheticBold() const { return boldStrength_ > 0; }
  bool SyntheticItalic() const { return obliqueShear_; }
  int32_t Weight() const { return weight_; }
  bool FixedPitch() const { return fixedPitch_; }
  const std::string& File() const { return file_; }
  // The family name of the installed font matched, and whether it goes by the face name asked
  // for (also true when none or a generic family was asked for).
  const std::string& Family() const { return family_; }
  bool Named() const { return named_; }

  // Advance of a character in 1/64 pixel (cached): the outline's unhinted advance at this
  // size, so that a text laid out at a multiple of the size is that multiple as wide.
  int32_t Advance26(char32_t c) { return Metrics(c).advance26; }
  // Where a character's rendering lies (cached with the advance): from the outline as Render
  // shapes it, without rendering it, so that glyphs wholly outside a clip are only advanced.
  const GdiInkBox& Ink(char32_t c) { return Metrics(c).ink; }
  // Renders a character; false when FreeType fails (nothing is drawn for it then).
  bool Render(char32_t c, GdiGlyph* glyph);
  // Whether a character has a glyph of its own, in this face or in an installed face that it
  // falls back on for characters it lacks (advances and renderings take it from there).
  // Characters that no face has are drawn as this face's missing glyph.
  bool Draws(char32_t c);

 private:
  struct Impl;
  struct GlyphMetrics {
    int32_t advance26 = 0;
    GdiInkBox ink;
  };
  explicit GdiFontFace(std::unique_ptr<Impl> impl);
  const GlyphMetrics& Metrics(char32_t c);
  std::unique_ptr<Impl> impl_;
  int32_t ascent_ = 0;
  int32_t descent_ = 0;
  int32_t internalLeading_ = 0;
  int32_t averageWidth_ = 0;
  int32_t maxWidth_ = 0;
  int32_t underlineTop_ = 0;
  int32_t underlineThickness_ = 1;
  int32_t boldStrength_ = 0;  // 26.6 pixels added to each glyph's width and advance
  bool obliqueShear_ = false;
  bool underline_ = false;
  bool fixedPitch_ = false;
  int32_t weight_ = 400;
  std::string file_;
  std::string family_;
  bool named_ = true;
  std::unordered_map<char32_t, GlyphMetrics> metrics_;
};

// Text decoding shared by the font matcher and the text drawing.
// 8-bit text: UTF-8 when the bytes are valid UTF-8, else Windows-1252.
std::u32string GdiDecodeAnsi(const char* text, size_t length);
// Whether the bytes are valid UTF-8 (as GdiDecodeAnsi judges them).
bool GdiIsUtf8(const char* text, size_t length);
// UTF-16, surrogate pairs joined; a lone surrogate becomes U+FFFD.
std::u32string GdiDecodeUtf16(const WCHAR* text, size_t length);
std::string GdiEncodeUtf8(const std::u32string& text);
// Copies a text into out (NUL-terminated, cut to size; nothing when out is null or size is 0
// or less) and returns its whole length in bytes.
inline int GdiCopyText(const std::string& text, char* out, int size) {
  if (out && size > 0) {
    const size_t keep = text.size() < static_cast<size_t>(size - 1) ? text.size() : static_cast<size_t>(size - 1);
    text.copy(out, keep);
    out[keep] = '\0';
  }
  return static_cast<int>(text.size());
}
// The C0 and C1 controls and DEL, which are never looked for in another font.
inline bool GdiIsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }
