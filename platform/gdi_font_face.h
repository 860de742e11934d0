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

  // Advance of a character in 1/64 pixel (cached): the outline's unhinted advance at this
  // size, so that a text laid out at a multiple of the size is that multiple as wide.
  int32_t Advance26(char32_t c);
  // Renders a character; false when FreeType fails (nothing is drawn for it then).
  bool Render(char32_t c, GdiGlyph* glyph);
  // Whether a character has a glyph of its own, in this face or in an installed face that it
  // falls back on for characters it lacks (advances and renderings take it from there).
  // Characters that no face has are drawn as this face's missing glyph.
  bool Draws(char32_t c);

 private:
  struct Impl;
  explicit GdiFontFace(std::unique_ptr<Impl> impl);
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
  std::unordered_map<char32_t, int32_t> advances_;
};

// Text decoding shared by the font matcher and the text drawing.
// 8-bit text: UTF-8 when the bytes are valid UTF-8, else Windows-1252.
std::u32string GdiDecodeAnsi(const char* text, size_t length);
// UTF-16, surrogate pairs joined; a lone surrogate becomes U+FFFD.
std::u32string GdiDecodeUtf16(const WCHAR* text, size_t length);
std::string GdiEncodeUtf8(const std::u32string& text);
