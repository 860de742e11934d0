// GDI stand-in fonts: LOGFONT matched through fontconfig, faces loaded and glyphs rendered by
// FreeType as monochrome hinted bitmaps, synthetic bold and italic, text decoding.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/gdi_font_face.h"
#include "platform/gdi_internal.h"
#include "platform/gdi_text.h"

namespace {

// Largest cell or character height accepted, in pixels.
constexpr LONG kMaxFontHeight = 16384;
// Cell height of a font that asks for height 0.
constexpr LONG kDefaultCellHeight = 16;
// Horizontal shear of synthetic italic (about 12 degrees), 16.16.
constexpr FT_Fixed kObliqueShear = 0x0366A;

// One FreeType library for the process; creating and destroying faces is serialised on it,
// loading glyphs of different faces is not.
std::mutex& FreeTypeMutex() {
  static std::mutex m;
  return m;
}
FT_Library SharedLibrary() {
  static FT_Library lib = [] {
    FT_Library l = nullptr;
    if (FT_Init_FreeType(&l) != 0) l = nullptr;
    return l;
  }();
  return lib;
}

std::mutex& FontconfigMutex() {
  static std::mutex m;
  return m;
}

// The process's fontconfig configuration, loaded once and kept for the process's life.
FcConfig* FontConfig() {
  static FcConfig* config = [] {
    FcConfig* c = FcInitLoadConfigAndFonts();
    if (c) FcConfigSetCurrent(c);
    return c;
  }();
  return config;
}

int RoundDiv(int64_t num, int64_t den) {  // den > 0
  return static_cast<int>(num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den));
}

// Fontconfig's choice for a font description: file, face index, whether it is monospaced, its
// family name, and whether it goes by the face name asked for.
struct FontMatch {
  std::string file;
  int index = 0;
  bool mono = false;
  std::string family;
  bool named = true;
};

// The face name of a font description, as UTF-8.
std::string FaceName(const LOGFONTA& lf) {
  return GdiEncodeUtf8(GdiDecodeAnsi(lf.lfFaceName, strnlen(lf.lfFaceName, sizeof lf.lfFaceName)));
}

// Whether two family names are the same, as fontconfig compares them: blanks left out, ASCII
// letters in either case.
bool SameFamily(const char* a, const char* b) {
  for (;; ++a, ++b) {
    while (*a == ' ') ++a;
    while (*b == ' ') ++b;
    const unsigned char ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
    const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    if (lower(ca) != lower(cb)) return false;
    if (ca == 0) return true;
  }
}

// The generic families that fontconfig resolves to an installed font of its choice.
bool IsGenericFamily(const std::string& name) {
  static const char* const kGeneric[] = {"sans-serif", "sans", "serif", "monospace", "mono",
                                         "cursive",    "fantasy", "system-ui", "emoji", "math"};
  for (const char* g : kGeneric)
    if (SameFamily(name.c_str(), g)) return true;
  return false;
}

// The fontconfig pattern of a font description, substituted and ready to match or sort; null
// when it cannot be made. The caller destroys it, holding the fontconfig lock throughout.
FcPattern* FontPattern(FcConfig* config, const LOGFONTA& lf, int weight) {
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return nullptr;
  const std::string face = FaceName(lf);
  const bool fixed = (lf.lfPitchAndFamily & 3) == FIXED_PITCH;
  if (!face.empty()) FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(face.c_str()));
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(fixed ? "monospace" : "sans-serif"));
  FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight));
  FcPatternAddInteger(pattern, FC_SLANT, lf.lfItalic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  if (fixed) FcPatternAddInteger(pattern, FC_SPACING, FC_MONO);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcPatternAddBool(pattern, FC_OUTLINE, FcTrue);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  return pattern;
}

bool MatchFont(const LOGFONTA& lf, int weight, FontMatch* out) {
  std::lock_guard<std::mutex> lock(FontconfigMutex());
  FcConfig* config = FontConfig();
  if (!config) return false;
  FcPattern* pattern = FontPattern(config, lf, weight);
  if (!pattern) return false;
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return false;
  bool ok = false;
  FcChar8* file = nullptr;
  if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
    out->file = reinterpret_cast<const char*>(file);
    int v = 0;
    if (FcPatternGetInteger(match, FC_INDEX, 0, &v) == FcResultMatch) out->index = v;
    if (FcPatternGetInteger(match, FC_SPACING, 0, &v) == FcResultMatch) out->mono = v == FC_MONO;
    // The family names the font goes by (one per language it names itself in): the one asked
    // for when it is among them, else the first.
    const std::string face = FaceName(lf);
    out->named = face.empty() || IsGenericFamily(face);
    FcChar8* family = nullptr;
    for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &family) == FcResultMatch && family; ++i) {
      if (i == 0) out->family = reinterpret_cast<const char*>(family);
      if (!face.empty() && SameFamily(reinterpret_cast<const char*>(family), face.c_str())) {
        out->family = reinterpret_cast<const char*>(family);
        out->named = true;
        break;
      }
    }
    ok = true;
  }
  FcPatternDestroy(match);
  return ok;
}

}  // namespace

// The face of a font and, for the characters it lacks, the installed faces that have them, as
// a platform's text drawing falls back character by character: the installed fonts in
// fontconfig's order of closeness to the font's description, the first whose character set
// holds the character; each such face loaded once, at the font's em size.
struct GdiFontFace::Impl {
  FT_Face face = nullptr;
  LOGFONTA logFont{};
  int weight = FW_NORMAL;
  FontMatch match;
  int64_t em26 = 64;
  std::vector<FT_Face> fallbacks;
  std::vector<std::pair<std::string, int>> fallbackFiles;  // file and index of each fallback
  FcFontSet* sorted = nullptr;   // installed fonts by closeness, made on the first lack
  bool sortTried = false;
  std::unordered_map<char32_t, int> choice;  // character -> fallback index, -1 for none

  ~Impl() {
    {
      std::lock_guard<std::mutex> lock(FreeTypeMutex());
      if (face) FT_Done_Face(face);
      for (FT_Face f : fallbacks) FT_Done_Face(f);
    }
    if (sorted) {
      std::lock_guard<std::mutex> lock(FontconfigMutex());
      FcFontSetDestroy(sorted);
    }
  }

  // The face that draws c and its glyph index there: the font's own when it has the
  // character, else the first fallback that has it, else the font's own (its missing glyph).
  FT_Face FaceFor(char32_t c, FT_UInt* index) {
    *index = FT_Get_Char_Index(face, c);
    if (*index != 0 || GdiIsControl(c)) return face;
    auto it = choice.find(c);
    const int k = it != choice.end() ? it->second : FindFallback(c);
    if (it == choice.end()) choice.emplace(c, k);
    if (k < 0) return face;
    *index = FT_Get_Char_Index(fallbacks[static_cast<size_t>(k)], c);
    return fallbacks[static_cast<size_t>(k)];
  }

  int FindFallback(char32_t c) {
    std::string file;
    int faceIndex = 0;
    {
      std::lock_guard<std::mutex> lock(FontconfigMutex());
      FcConfig* config = FontConfig();
      if (!sortTried && config) {
        sortTried = true;
        if (FcPattern* pattern = FontPattern(config, logFont, weight)) {
          FcResult result = FcResultNoMatch;
          sorted = FcFontSort(config, pattern, FcTrue, nullptr, &result);
          FcPatternDestroy(pattern);
        }
      }
      if (!sorted) return -1;
      for (int i = 0; i < sorted->nfont && file.empty(); ++i) {
        FcPattern* font = sorted->fonts[i];
        FcCharSet* charset = nullptr;
        FcChar8* path = nullptr;
        FcBool outline = FcFalse;
        int v = 0;
        if (FcPatternGetCharSet(font, FC_CHARSET, 0, &charset) != FcResultMatch || !FcCharSetHasChar(charset, c))
          continue;
        if (FcPatternGetBool(font, FC_OUTLINE, 0, &outline) != FcResultMatch || !outline) continue;
        if (FcPatternGetString(font, FC_FILE, 0, &path) != FcResultMatch || !path) continue;
        const int index = FcPatternGetInteger(font, FC_INDEX, 0, &v) == FcResultMatch ? v : 0;
        const std::string candidate = reinterpret_cast<const char*>(path);
        if (candidate == match.file && index == match.index) continue;
        file = candidate;
        faceIndex = index;
      }
    }
    if (file.empty()) return -1;
    for (size_t k = 0; k < fallbackFiles.size(); ++k) {
      if (fallbackFiles[k].first == file && fallbackFiles[k].second == faceIndex)
        return FT_Get_Char_Index(fallbacks[k], c) != 0 ? static_cast<int>(k) : -1;
    }
    FT_Face loaded = nullptr;
    {
      std::lock_guard<std::mutex> lock(FreeTypeMutex());
      FT_Library lib = SharedLibrary();
      if (!lib || FT_New_Face(lib, file.c_str(), faceIndex, &loaded) != 0) return -1;
    }
    FT_Select_Charmap(loaded, FT_ENCODING_UNICODE);
    if (!FT_IS_SCALABLE(loaded) || FT_Set_Char_Size(loaded, 0, static_cast<FT_F26Dot6>(em26), 72, 72) != 0) {
      std::lock_guard<std::mutex> lock(FreeTypeMutex());
      FT_Done_Face(loaded);
      return -1;
    }
    fallbacks.push_back(loaded);
    fallbackFiles.emplace_back(file, faceIndex);
    return FT_Get_Char_Index(loaded, c) != 0 ? static_cast<int>(fallbacks.size() - 1) : -1;
  }
};

GdiFontFace::GdiFontFace(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
GdiFontFace::~GdiFontFace() = default;

std::unique_ptr<GdiFontFace> GdiFontFace::Open(const LOGFONTA& lf) {
  const LONG height = lf.lfHeight;
  if (height > kMaxFontHeight || height < -kMaxFontHeight) return nullptr;
  const int weight = lf.lfWeight <= 0 ? FW_NORMAL : std::min<LONG>(lf.lfWeight, 1000);
  FontMatch match;
  if (!MatchFont(lf, weight, &match)) return nullptr;

  auto impl = std::make_unique<Impl>();
  impl->logFont = lf;
  impl->weight = weight;
  impl->match = match;
  {
    std::lock_guard<std::mutex> lock(FreeTypeMutex());
    FT_Library lib = SharedLibrary();
    if (!lib || FT_New_Face(lib, match.file.c_str(), match.index, &impl->face) != 0) {
      impl->face = nullptr;
      return nullptr;
    }
  }
  FT_Face face = impl->face;
  if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) return nullptr;
  FT_Select_Charmap(face, FT_ENCODING_UNICODE);

  // The cell: the Windows ascent and descent of the OS/2 table where the face has them.
  int64_t ascUnits = face->ascender, descUnits = -face->descender;
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->version != 0xFFFFu && os2->usWinAscent + os2->usWinDescent > 0) {
    ascUnits = os2->usWinAscent;
    descUnits = os2->usWinDescent;
  }
  if (ascUnits + descUnits <= 0) return nullptr;
  const int64_t cellUnits = ascUnits + descUnits;
  const int64_t upem = face->units_per_EM;

  // Em size in 26.6 pixels: the cell scaled to the asked height, or the asked em height.
  int64_t cell = height > 0 ? height : kDefaultCellHeight;
  int64_t em26 = height < 0 ? static_cast<int64_t>(-height) * 64 : (cell * 64 * upem + cellUnits / 2) / cellUnits;
  em26 = std::max<int64_t>(em26, 64);
  if (FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(em26), 72, 72) != 0) return nullptr;
  impl->em26 = em26;
  const FT_Fixed yScale = face->size->metrics.y_scale;

  std::unique_ptr<GdiFontFace> f(new GdiFontFace(std::move(impl)));
  if (height < 0) {
    f->ascent_ = static_cast<int32_t>((FT_MulFix(ascUnits, yScale) + 32) >> 6);
    f->descent_ = static_cast<int32_t>((FT_MulFix(descUnits, yScale) + 32) >> 6);
  } else {
    f->ascent_ = RoundDiv(cell * ascUnits, cellUnits);
    f->descent_ = static_cast<int32_t>(cell) - f->ascent_;
  }
  const int32_t emPixels = static_cast<int32_t>((em26 + 32) >> 6);
  f->internalLeading_ = std::max(0, f->Height() - emPixels);
  f->averageWidth_ = os2 && os2->version != 0xFFFFu && os2->xAvgCharWidth > 0
                         ? static_cast<int32_t>((FT_MulFix(os2->xAvgCharWidth, face->size->metrics.x_scale) + 32) >> 6)
                         : emPixels / 2;
  f->maxWidth_ = static_cast<int32_t>((face->size->metrics.max_advance + 32) >> 6);

  // The underline bar: the face's own position and thickness, kept inside the cell.
  int32_t thickness = 0, centre = 0;
  if (face->underline_thickness > 0) {
    thickness = static_cast<int32_t>((FT_MulFix(face->underline_thickness, yScale) + 32) >> 6);
    centre = static_cast<int32_t>((FT_MulFix(-face->underline_position, yScale) + 32) >> 6);
  } else {
    thickness = f->Height() / 16;
    centre = f->descent_ / 2;
  }
  thickness = std::max(1, thickness);
  int32_t top = centre - thickness / 2;
  top = std::max(1, std::min(top, f->descent_ - thickness));
  f->underlineTop_ = top;
  f->underlineThickness_ = thickness;
  f->underline_ = lf.lfUnderline != 0;

  // Synthesis: bold when a weight of 600 or more found a lighter face, italic when the face
  // found is upright. The face's own tables say which it is (fontconfig's answer already
  // carries its synthetic-style edits).
  int faceWeight = (face->style_flags & FT_STYLE_FLAG_BOLD) ? FW_BOLD : FW_NORMAL;
  if (os2 && os2->version != 0xFFFFu && os2->usWeightClass >= 1 && os2->usWeightClass <= 1000)
    faceWeight = os2->usWeightClass;
  const bool upright = !(face->style_flags & FT_STYLE_FLAG_ITALIC);
  if (weight >= FW_SEMIBOLD && faceWeight < FW_SEMIBOLD) {
    int64_t strength = ((em26 / 24) + 32) & ~int64_t{63};
    f->boldStrength_ = static_cast<int32_t>(std::max<int64_t>(strength, 64));
  }
  f->obliqueShear_ = lf.lfItalic && upright;
  f->weight_ = f->boldStrength_ ? weight : faceWeight;
  f->fixedPitch_ = match.mono;
  f->file_ = match.file;
  f->family_ = match.family;
  f->named_ = match.named;
  return f;
}

namespace {

// The synthetic italic and bold of a loaded outline.
FT_Error ShapeOutline(FT_GlyphSlot slot, bool oblique, int32_t boldStrength) {
  if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return 0;
  if (oblique) {
    FT_Matrix shear{0x10000, kObliqueShear, 0, 0x10000};
    FT_Outline_Transform(&slot->outline, &shear);
  }
  if (boldStrength > 0) return FT_Outline_EmboldenXY(&slot->outline, boldStrength, 0);
  return 0;
}

FT_Error LoadOutline(FT_Face face, FT_UInt index, bool oblique, int32_t boldStrength) {
  FT_Error err = FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO);
  if (err) return err;
  return ShapeOutline(face->glyph, oblique, boldStrength);
}

// Whole pixels below and above a 26.6 value.
int32_t Floor64(FT_Pos v) { return static_cast<int32_t>(v >= 0 ? v / 64 : -((-v + 63) / 64)); }
int32_t Ceil64(FT_Pos v) { return -Floor64(-v); }

}  // namespace

const GdiFontFace::GlyphMetrics& GdiFontFace::Metrics(char32_t c) {
  auto it = metrics_.find(c);
  if (it != metrics_.end()) return it->second;
  GlyphMetrics m;
  FT_UInt index = 0;
  FT_Face face = impl_->FaceFor(c, &index);
  if (FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO) == 0) {
    FT_GlyphSlot slot = face->glyph;
    // linearHoriAdvance is 16.16 pixels.
    m.advance26 = static_cast<int32_t>((slot->linearHoriAdvance + 512) >> 10) + boldStrength_;
    // The outline shaped as Render shapes it: the rendering lies within its control box,
    // rounded out to whole pixels (the rasteriser may add a pixel to a box that rounds empty).
    if (slot->format == FT_GLYPH_FORMAT_OUTLINE && ShapeOutline(slot, obliqueShear_, boldStrength_) == 0) {
      FT_BBox box{};
      FT_Outline_Get_CBox(&slot->outline, &box);
      m.ink.left = Floor64(box.xMin) - 1;
      m.ink.right = Ceil64(box.xMax) + 1;
      m.ink.top = Ceil64(box.yMax) + 1;
      m.ink.bottom = 1 - Floor64(box.yMin);
      m.ink.known = true;
    }
  }
  return metrics_.emplace(c, m).first->second;
}

bool GdiFontFace::Render(char32_t c, GdiGlyph* glyph) {
  FT_UInt index = 0;
  FT_Face face = impl_->FaceFor(c, &index);
  if (LoadOutline(face, index, obliqueShear_, boldStrength_) != 0) return false;
  FT_GlyphSlot slot = face->glyph;
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) return false;
  const FT_Bitmap& bm = slot->bitmap;
  if (bm.pixel_mode != FT_PIXEL_MODE_MONO) return false;
  glyph->left = slot->bitmap_left;
  glyph->top = slot->bitmap_top;
  glyph->width = static_cast<int32_t>(bm.width);
  glyph->rows = static_cast<int32_t>(bm.rows);
  const int32_t pitch = std::abs(bm.pitch);
  glyph->pitch = pitch;
  glyph->bits.resize(static_cast<size_t>(pitch) * bm.rows);
  for (unsigned r = 0; r < bm.rows; ++r) {
    const unsigned char* src = bm.pitch >= 0 ? bm.buffer + static_cast<size_t>(r) * pitch
                                             : bm.buffer + static_cast<size_t>(bm.rows - 1 - r) * pitch;
    std::memcpy(glyph->bits.data() + static_cast<size_t>(r) * pitch, src, static_cast<size_t>(pitch));
  }
  return true;
}

bool GdiFontFace::Draws(char32_t c) {
  FT_UInt index = 0;
  impl_->FaceFor(c, &index);
  return index != 0;
}

// ---- Text decoding -------------------------------------------------------------------

namespace {

// Windows-1252 bytes 0x80..0x9F; the five unassigned ones keep their own value.
const char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool DecodeUtf8(const unsigned char* s, size_t n, std::u32string* out) {
  out->clear();
  out->reserve(n);
  size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      out->push_back(b);
      ++i;
      continue;
    }
    int extra;
    char32_t cp, min;
    if ((b & 0xE0) == 0xC0) {
      extra = 1, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3, cp = b & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (n - i <= static_cast<size_t>(extra)) return false;
    for (int k = 1; k <= extra; ++k) {
      const unsigned char c = s[i + k];
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    out->push_back(cp);
    i += static_cast<size_t>(extra) + 1;
  }
  return true;
}

}  // namespace

std::u32string GdiDecodeAnsi(const char* text, size_t length) {
  std::u32string out;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  if (DecodeUtf8(s, length, &out)) return out;
  out.clear();
  for (size_t i = 0; i < length; ++i) {
    const unsigned char b = s[i];
    out.push_back(b >= 0x80 && b < 0xA0 ? static_cast<char32_t>(kCp1252High[b - 0x80]) : b);
  }
  return out;
}

bool GdiIsUtf8(const char* text, size_t length) {
  std::u32string decoded;
  return DecodeUtf8(reinterpret_cast<const unsigned char*>(text), length, &decoded);
}

std::u32string GdiDecodeUtf16(const WCHAR* text, size_t length) {
  std::u32string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    const char32_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((u - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      out.push_back(0xFFFD);
    } else {
      out.push_back(u);
    }
  }
  return out;
}

std::string GdiEncodeUtf8(const std::u32string& text) {
  std::string out;
  for (char32_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// ---- Font objects ------------------------------------------------------------------

GdiFont::GdiFont() : GdiObject(GdiKind::Font) {}
GdiFont::~GdiFont() = default;

namespace {

GdiFont* NewFont(const LOGFONTA& lf) {
  std::unique_ptr<GdiFontFace> face = GdiFontFace::Open(lf);
  if (!face) return nullptr;
  auto* f = new (std::nothrow) GdiFont();
  if (!f) return nullptr;
  f->logFont = lf;
  f->face = std::move(face);
  return f;
}

}  // namespace

HFONT CreateFontIndirectA(const LOGFONTA* font) {
  if (!font) return nullptr;
  GdiFont* f = NewFont(*font);
  if (!f) return nullptr;
  GdiRegister(f);
  return reinterpret_cast<HFONT>(f);
}

HFONT CreateFontIndirectW(const LOGFONTW* font) {
  if (!font) return nullptr;
  LOGFONTA a{};
  a.lfHeight = font->lfHeight;
  a.lfWidth = font->lfWidth;
  a.lfEscapement = font->lfEscapement;
  a.lfOrientation = font->lfOrientation;
  a.lfWeight = font->lfWeight;
  a.lfItalic = font->lfItalic;
  a.lfUnderline = font->lfUnderline;
  a.lfStrikeOut = font->lfStrikeOut;
  a.lfCharSet = font->lfCharSet;
  a.lfOutPrecision = font->lfOutPrecision;
  a.lfClipPrecision = font->lfClipPrecision;
  a.lfQuality = font->lfQuality;
  a.lfPitchAndFamily = font->lfPitchAndFamily;
  // The face name travels as UTF-8, cut at a character boundary to fit.
  size_t n = 0;
  while (n < static_cast<size_t>(LF_FACESIZE) && font->lfFaceName[n]) ++n;
  const std::string name = GdiEncodeUtf8(GdiDecodeUtf16(font->lfFaceName, n));
  size_t keep = std::min(name.size(), static_cast<size_t>(LF_FACESIZE - 1));
  while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  std::memcpy(a.lfFaceName, name.data(), keep);
  return CreateFontIndirectA(&a);
}

GdiFont* GdiStockFont() {
  static GdiFont* font = [] {
    LOGFONTA lf{};
    lf.lfHeight = kDefaultCellHeight;
    lf.lfWeight = FW_NORMAL;
    GdiFont* f = NewFont(lf);
    if (f) {
      f->stock = true;
      GdiRegister(f);
    }
    return f;
  }();
  return font;
}

BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* tm) {
  GdiDC* d = GdiLookupDC(dc);
  if (!d || !tm || !d->font) return FALSE;
  GdiFontFace& f = *d->font->face;
  *tm = TEXTMETRICA{};
  tm->tmHeight = f.Height();
  tm->tmAscent = f.Ascent();
  tm->tmDescent = f.Descent();
  tm->tmInternalLeading = f.InternalLeading();
  tm->tmAveCharWidth = f.AverageWidth();
  tm->tmMaxCharWidth = f.MaxWidth();
  tm->tmWeight = f.Weight();
  tm->tmDigitizedAspectX = 96;
  tm->tmDigitizedAspectY = 96;
  tm->tmFirstChar = 0x20;
  tm->tmLastChar = 0xFF;
  tm->tmDefaultChar = 0x1F;
  tm->tmBreakChar = 0x20;
  tm->tmItalic = d->font->logFont.lfItalic ? 1 : 0;
  tm->tmUnderlined = f.Underline() ? 1 : 0;
  // Low bit set means a variable-pitch face, as GDI reports it.
  tm->tmPitchAndFamily = static_cast<BYTE>((d->font->logFont.lfPitchAndFamily & 0xF0) | (f.FixedPitch() ? 0 : 1));
  tm->tmCharSet = d->font->logFont.lfCharSet;
  return TRUE;
}

int GdiGetFontFile(HFONT font, char* out, int size) {
  GdiFont* f = GdiLookupFont(font);
  if (!f || !out || size <= 0) return 0;
  return GdiCopyText(f->face->File(), out, size);
}

int GdiGetFontFamily(HFONT font, char* out, int size, BOOL* named) {
  GdiFont* f = GdiLookupFont(font);
  if (out && size > 0) out[0] = '\0';
  if (named) *named = FALSE;
  if (!f) return 0;
  if (named) *named = f->face->Named() ? TRUE : FALSE;
  return GdiCopyText(f->face->Family(), out, size);
}

#if defined(__SANITIZE_ADDRESS__)  // g++
#define QRV_LEAK_CHECKED 1
#elif defined(__has_feature)  // clang++
#if __has_feature(address_sanitizer)
#define QRV_LEAK_CHECKED 1
#endif
#endif
#if defined(QRV_LEAK_CHECKED)
// Fontconfig's configuration parser loses a few small blocks while it loads the system's
// configuration (once per process); the leak checker is told to ignore leaks made inside it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif
