#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/gdi_font_face.h"
#include "platform/gdi_text.h"

namespace {

LOGFONTA Font(const char* face, LONG height, LONG weight = FW_NORMAL, BYTE italic = 0, BYTE underline = 0,
              BYTE pitchAndFamily = 0) {
  LOGFONTA lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfItalic = italic;
  lf.lfUnderline = underline;
  lf.lfPitchAndFamily = pitchAndFamily;
  std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return lf;
}

std::string FontFile(const LOGFONTA& lf) {
  HFONT f = CreateFontIndirectA(&lf);
  if (!f) return "";
  char path[512];
  GdiGetFontFile(f, path, sizeof path);
  DeleteObject(f);
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// A text measured and drawn white on black into a monochrome bitmap of its own size, read
// back as one byte (0 or 1) per pixel, rows top first.
struct Mask {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> px;
  int At(int x, int y) const { return px[static_cast<size_t>(y) * width + x]; }
  int Ink() const { return static_cast<int>(std::count(px.begin(), px.end(), 1)); }
  // Ink bounding box: left, top, right, bottom (exclusive); all 0 without ink.
  std::vector<int> Box() const {
    int x0 = width, y0 = height, x1 = 0, y1 = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        if (At(x, y)) x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x + 1), y1 = std::max(y1, y + 1);
    if (x1 == 0) return {0, 0, 0, 0};
    return {x0, y0, x1, y1};
  }
};

Mask ReadMask(HBITMAP bm, int w, int h) {
  Mask m;
  m.width = w;
  m.height = h;
  m.px.assign(static_cast<size_t>(w) * h, 0);
  struct {
    BITMAPINFOHEADER h;
    RGBQUAD c[2];
  } bi{};
  bi.h.biSize = 40;
  bi.h.biWidth = w;
  bi.h.biHeight = -h;
  bi.h.biPlanes = 1;
  bi.h.biBitCount = 1;
  const int rowBytes = ((w + 31) / 32) * 4;
  std::vector<uint8_t> bits(static_cast<size_t>(rowBytes) * h);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetDIBits(screen, bm, 0, h, bits.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS), h);
  ReleaseDC(nullptr, screen);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) m.px[static_cast<size_t>(y) * w + x] = (bits[y * rowBytes + x / 8] >> (7 - x % 8)) & 1;
  return m;
}

// Measures (DT_CALCRECT), then draws into a bitmap of the measured size plus `pad` pixels
// each side, into the rectangle `draw` (default: the measured one, offset by pad).
Mask Draw(const LOGFONTA& lf, const std::string& text, UINT format = 0, int pad = 0, const RECT* draw = nullptr,
          SIZE* measured = nullptr) {
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT font = CreateFontIndirectA(&lf);
  EXPECT_NE(font, nullptr);
  HGDIOBJ oldFont = SelectObject(dc, font);
  RECT r{0, 0, 0, 0};
  DrawTextExA(dc, text.c_str(), -1, &r, format | DT_CALCRECT, nullptr);
  if (measured) *measured = SIZE{r.right, r.bottom};
  const int w = std::max<int>(1, r.right + 2 * pad), h = std::max<int>(1, r.bottom + 2 * pad);
  HBITMAP bm = CreateBitmap(w, h, 1, 1, nullptr);
  HGDIOBJ oldBm = SelectObject(dc, bm);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  RECT target = draw ? *draw : RECT{pad, pad, pad + r.right, pad + r.bottom};
  EXPECT_GT(DrawTextExA(dc, text.c_str(), -1, &target, format, nullptr), 0);
  SelectObject(dc, oldBm);
  SelectObject(dc, oldFont);
  Mask m = ReadMask(bm, w, h);
  DeleteObject(bm);
  DeleteObject(font);
  DeleteDC(dc);
  return m;
}

SIZE Measure(const LOGFONTA& lf, const std::string& text) {
  SIZE s{};
  Draw(lf, text, 0, 0, nullptr, &s);
  return s;
}

// The sum of FreeType's advances (unhinted, as the outlines give them at that size), rounded,
// for a text in a face scaled so that its ascender minus descender is `cell` pixels (or its em
// is -cell pixels).
long FreeTypeWidth(const std::string& file, long cell, const std::u32string& text) {
  FT_Library lib;
  EXPECT_EQ(FT_Init_FreeType(&lib), 0);
  FT_Face face;
  EXPECT_EQ(FT_New_Face(lib, file.c_str(), 0, &face), 0);
  FT_Size_RequestRec req{};
  req.type = cell > 0 ? FT_SIZE_REQUEST_TYPE_REAL_DIM : FT_SIZE_REQUEST_TYPE_NOMINAL;
  req.height = (cell > 0 ? cell : -cell) * 64;
  EXPECT_EQ(FT_Request_Size(face, &req), 0);
  double sum = 0;
  for (char32_t c : text) {
    EXPECT_EQ(FT_Load_Char(face, c, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP), 0);
    sum += face->glyph->metrics.horiAdvance / 64.0;
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  return std::lround(sum);
}

const char* const kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* const kLiberation = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";

// How far a stem's left edge moves between the rows a quarter of the way down and a quarter of
// the way up the upright stem's ink, in the upright and the italic mask.
struct Lean {
  int upright = 0, italic = 0, rows = 0;
};
Lean MeasureLean(const Mask& upright, const Mask& italic) {
  auto leftmost = [](const Mask& m, int y) {
    for (int x = 0; x < m.width; ++x)
      if (m.At(x, y)) return x;
    return -1;
  };
  const std::vector<int> box = upright.Box();
  const int span = box[3] - box[1];
  const int high = box[1] + span / 4, low = box[3] - span / 4;
  return {leftmost(upright, high) - leftmost(upright, low), leftmost(italic, high) - leftmost(italic, low),
          low - high};
}

}  // namespace

TEST(GdiText, MatchesFacesByNameWeightItalicAndPitch) {
  EXPECT_EQ(FontFile(Font("DejaVu Sans", 20)), "DejaVuSans.ttf");
  EXPECT_EQ(FontFile(Font("DejaVu Sans", 20, FW_BOLD)), "DejaVuSans-Bold.ttf");
  // The oblique styles come with the extra DejaVu package; without it the upright face is used.
  const bool oblique = !access("/usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf", R_OK);
  EXPECT_EQ(FontFile(Font("DejaVu Sans", 20, FW_NORMAL, 1)), oblique ? "DejaVuSans-Oblique.ttf" : "DejaVuSans.ttf");
  EXPECT_EQ(FontFile(Font("DejaVu Sans", 20, FW_BOLD, 1)), oblique ? "DejaVuSans-BoldOblique.ttf" : "DejaVuSans-Bold.ttf");
  EXPECT_EQ(FontFile(Font("Liberation Sans", 20)), "LiberationSans-Regular.ttf");
  EXPECT_EQ(FontFile(Font("Liberation Sans", 20, FW_BOLD, 1)), "LiberationSans-BoldItalic.ttf");
  EXPECT_EQ(FontFile(Font("DejaVu Sans Mono", 20)), "DejaVuSansMono.ttf");
  // Unknown names fall back to a sans face, or a monospace one for a fixed-pitch request.
  EXPECT_EQ(FontFile(Font("No Such Face", 20, FW_NORMAL, 0, 0, FF_MODERN)), "DejaVuSans.ttf");
  EXPECT_EQ(FontFile(Font("", 20)), "DejaVuSans.ttf");
  const std::string mono = FontFile(Font("No Such Face", 20, FW_NORMAL, 0, 0, FIXED_PITCH | FF_MODERN));
  EXPECT_NE(mono.find("Mono"), std::string::npos) << mono;
  // A face name is read as UTF-8 or Windows-1252 and never overruns its 32-byte field.
  LOGFONTA full = Font("", 20);
  std::memset(full.lfFaceName, 'x', LF_FACESIZE);
  EXPECT_EQ(FontFile(full), "DejaVuSans.ttf");
}

// The family a font was matched to, and whether it goes by the name asked for.
TEST(GdiText, TellsTheFamilyMatchedAndWhetherItWasTheOneAskedFor) {
  const struct {
    const char* face;
    const char* family;
    BOOL named;
  } cases[] = {
      {"DejaVu Sans", "DejaVu Sans", TRUE}, {"dejavu  sans", "DejaVu Sans", TRUE}, {"", "DejaVu Sans", TRUE},
      {"Sans-Serif", "DejaVu Sans", TRUE},  {"No Such Face", "DejaVu Sans", FALSE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.face);
    const LOGFONTA lf = Font(c.face, 20);
    HFONT f = CreateFontIndirectA(&lf);
    char family[64];
    BOOL named = -1;
    EXPECT_EQ(GdiGetFontFamily(f, family, sizeof family, &named), static_cast<int>(std::strlen(c.family)));
    EXPECT_STREQ(family, c.family);
    EXPECT_EQ(named, c.named);
    DeleteObject(f);
  }
  BOOL named = TRUE;
  EXPECT_EQ(GdiGetFontFamily(nullptr, nullptr, 0, &named), 0);
  EXPECT_EQ(named, FALSE);
}

// Control characters, read as the drawing reads the text (UTF-8, else Windows-1252), are told
// by code point and left out; line breaks stay.
TEST(GdiText, LeavesControlCharactersOut) {
  const struct {
    const char* text;
    std::vector<DWORD> controls;
    const char* kept;
  } cases[] = {
      {"plain\r\ntext", {}, "plain\r\ntext"},
      {"a\x1B" "b\x07\x1B\x7F\tc", {0x1B, 0x07, 0x7F, 0x09}, "abc"},
      {"C1 \xC2\x9B here", {0x9B}, "C1  here"},
      {"Caf\xE9\x01 \x80 \x81", {0x01, 0x81}, "Caf\xC3\xA9 \xE2\x82\xAC "},  // Windows-1252
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<DWORD> controls(8);
    controls.resize(static_cast<size_t>(GdiControlCharacters(c.text, -1, controls.data(), 8)));
    EXPECT_EQ(controls, c.controls);
    char kept[64];
    EXPECT_EQ(GdiWithoutControlCharacters(c.text, -1, kept, sizeof kept), static_cast<int>(std::strlen(c.kept)));
    EXPECT_STREQ(kept, c.kept);
  }
}

TEST(GdiText, RefusesBadFontsAndArguments) {
  EXPECT_EQ(CreateFontIndirectA(nullptr), nullptr);
  LOGFONTA huge = Font("DejaVu Sans", 100000);
  EXPECT_EQ(CreateFontIndirectA(&huge), nullptr);
  huge.lfHeight = -100000;
  EXPECT_EQ(CreateFontIndirectA(&huge), nullptr);
  RECT r{0, 0, 10, 10};
  EXPECT_EQ(DrawTextExA(nullptr, "x", -1, &r, 0, nullptr), 0);
  HDC dc = CreateCompatibleDC(nullptr);
  EXPECT_EQ(DrawTextExA(dc, nullptr, -1, &r, 0, nullptr), 0);
  EXPECT_EQ(DrawTextExA(dc, "x", -2, &r, 0, nullptr), 0);
  EXPECT_EQ(DrawTextExA(dc, "x", -1, nullptr, 0, nullptr), 0);
  DeleteDC(dc);
}

// The cell is the height asked for, the width the sum of FreeType's advances at that size.
TEST(GdiText, CellsAndWidthsFollowFreeTypeMetrics) {
  const std::string text = "Hello, World! 0123 fig";
  const std::u32string wide(text.begin(), text.end());
  for (const char* file : {kDejaVu, kLiberation}) {
    const char* face = file == kDejaVu ? "DejaVu Sans" : "Liberation Sans";
    for (LONG h : {8L, 13L, 24L, 37L, 72L, 150L}) {
      SCOPED_TRACE(std::string(face) + " " + std::to_string(h));
      SIZE s = Measure(Font(face, h), text);
      EXPECT_EQ(s.cy, h);
      EXPECT_EQ(s.cx, FreeTypeWidth(file, h, wide));
      SIZE e = Measure(Font(face, -h), text);  // character height
      EXPECT_EQ(e.cx, FreeTypeWidth(file, -h, wide));
      EXPECT_GT(e.cy, h);
    }
  }
  HDC dc = CreateCompatibleDC(nullptr);
  LOGFONTA lf = Font("DejaVu Sans", 24);
  HFONT f = CreateFontIndirectA(&lf);
  SelectObject(dc, f);
  TEXTMETRICA tm{};
  ASSERT_TRUE(GetTextMetricsA(dc, &tm));
  EXPECT_EQ(tm.tmHeight, 24);
  EXPECT_EQ(tm.tmAscent, 19);  // 24 x 1901 / 2384, rounded
  EXPECT_EQ(tm.tmDescent, 5);
  DeleteDC(dc);
  DeleteObject(f);
}

TEST(GdiText, LinesBreakAtCrLfAndCrLf) {
  const LOGFONTA lf = Font("Liberation Sans", 20);
  const SIZE one = Measure(lf, "Wide line");
  const SIZE a = Measure(lf, "A");
  EXPECT_EQ(one.cy, 20);
  SIZE four = Measure(lf, "A\nWide line\r\nA\rA");
  EXPECT_EQ(four.cy, 80);
  EXPECT_EQ(four.cx, one.cx);
  EXPECT_EQ(Measure(lf, "A\n").cy, 40);  // a trailing break starts an empty line
  EXPECT_EQ(Measure(lf, "A\n\nA").cy, 60);
  EXPECT_EQ(Measure(lf, "").cy, 20);
  EXPECT_EQ(Measure(lf, "").cx, 0);
  // Single-line format: breaks take no room and no line.
  SIZE s{};
  Draw(lf, "A\nA", DT_SINGLELINE, 0, nullptr, &s);
  EXPECT_EQ(s.cy, 20);
  EXPECT_EQ(s.cx, 2 * a.cx);
  // Second line drawn one cell lower: the same ink as the first line, shifted 20 rows.
  Mask two = Draw(lf, "A\nA");
  Mask top = Draw(lf, "A");
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < top.width; ++x) {
      ASSERT_EQ(two.At(x, y), top.At(x, y));
      ASSERT_EQ(two.At(x, y + 20), top.At(x, y));
    }
}

// Drawn masks of known strings, checked once by eye and pinned: size, ink and ink box.
TEST(GdiText, DrawnMasksArePinned) {
  struct Case {
    LOGFONTA font;
    const char* text;
    int width, height, ink;
    std::vector<int> box;
  };
  const Case cases[] = {
      {Font("DejaVu Sans", 24), "Tom & Jerry", 122, 24, 511, {0, 4, 122, 23}},
      {Font("Liberation Sans", 24), "Tom & Jerry", 117, 24, 417, {0, 5, 117, 23}},
      {Font("DejaVu Sans", 13, FW_BOLD), "Bold 12", 47, 13, 157, {1, 1, 47, 10}},
      {Font("Liberation Sans", 40, FW_NORMAL, 1), "Italic", 74, 40, 582, {2, 6, 74, 32}},
      {Font("DejaVu Sans", 30, FW_NORMAL, 0, 1), "Under\nline", 78, 60, 910, {0, 4, 78, 56}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Mask m = Draw(c.font, c.text);
    EXPECT_EQ(m.width, c.width);
    EXPECT_EQ(m.height, c.height);
    EXPECT_EQ(m.Ink(), c.ink);
    EXPECT_EQ(m.Box(), c.box);
  }
}

TEST(GdiText, SynthesisesBoldAndItalicWhenTheFaceLacksThem) {
  // This face (of the extra DejaVu package) has neither a bold nor an italic style.
  const char* face = "DejaVu Sans Light";
  if (FontFile(Font(face, 40)) != "DejaVuSans-ExtraLight.ttf") GTEST_SKIP() << "DejaVu Sans ExtraLight missing";
  ASSERT_EQ(FontFile(Font(face, 40, FW_BOLD)), "DejaVuSans-ExtraLight.ttf");
  ASSERT_EQ(FontFile(Font(face, 40, FW_NORMAL, 1)), "DejaVuSans-ExtraLight.ttf");
  const Mask regular = Draw(Font(face, 40), "lll");
  const Mask bold = Draw(Font(face, 40, FW_BOLD), "lll");
  // Each advance grows by the em (34.4 px) / 24, rounded to a whole pixel: 1 px.
  EXPECT_EQ(bold.width, regular.width + 3);
  EXPECT_GT(bold.Ink(), regular.Ink() * 5 / 4);
  EXPECT_EQ(bold.height, regular.height);

  // Italic: the same stem, sheared to the right towards the top (by about 0.21).
  const Mask upright = Draw(Font(face, 80), "l", 0, 20);
  const Mask italic = Draw(Font(face, 80, FW_NORMAL, 1), "l", 0, 20);
  EXPECT_EQ(italic.width, upright.width);
  const Lean lean = MeasureLean(upright, italic);
  EXPECT_EQ(lean.upright, 0);
  EXPECT_NEAR(lean.italic, lean.rows * 0.2126, 2.0);
  EXPECT_EQ(italic.Box()[3], upright.Box()[3]);  // same baseline
}

// DejaVu Sans italic leans right whether its oblique face is installed (extra package) or the
// upright face is sheared (core fonts only).
TEST(GdiText, ItalicLeansRightWithOrWithoutAnItalicFace) {
  const Mask upright = Draw(Font("DejaVu Sans", 60), "l", 0, 20);
  const Mask italic = Draw(Font("DejaVu Sans", 60, FW_NORMAL, 1), "l", 0, 20);
  const Lean lean = MeasureLean(upright, italic);
  EXPECT_EQ(lean.upright, 0);
  EXPECT_GE(lean.italic, lean.rows / 8);
}

TEST(GdiText, UnderlineRunsUnderTheWholeLine) {
  const LOGFONTA plain = Font("DejaVu Sans", 30);
  const LOGFONTA under = Font("DejaVu Sans", 30, FW_NORMAL, 0, 1);
  const Mask a = Draw(plain, "a c");
  const Mask b = Draw(under, "a c");
  ASSERT_EQ(a.width, b.width);
  int fullRows = 0;
  for (int y = 0; y < b.height; ++y) {
    int n = 0;
    for (int x = 0; x < b.width; ++x) n += b.At(x, y);
    if (n == b.width) {
      ++fullRows;
      EXPECT_GT(y, 24);  // below the baseline (ascent 24 of 30)
    }
  }
  EXPECT_GE(fullRows, 1);
  EXPECT_GT(b.Ink(), a.Ink());
}

TEST(GdiText, ClipsToTheRectangleUnlessAskedNotTo) {
  const LOGFONTA lf = Font("DejaVu Sans", 30);
  SIZE s{};
  Draw(lf, "WWWW", 0, 0, nullptr, &s);
  RECT small{10, 10, 10 + s.cx / 2, 10 + s.cy / 2};
  Mask clipped = Draw(lf, "WWWW", 0, 10, &small);
  for (int y = 0; y < clipped.height; ++y)
    for (int x = 0; x < clipped.width; ++x)
      if (clipped.At(x, y)) {
        ASSERT_GE(x, small.left);
        ASSERT_LT(x, small.right);
        ASSERT_GE(y, small.top);
        ASSERT_LT(y, small.bottom);
      }
  EXPECT_GT(clipped.Ink(), 0);
  Mask whole = Draw(lf, "WWWW", DT_NOCLIP, 10, &small);
  Mask reference = Draw(lf, "WWWW", 0, 10);
  EXPECT_EQ(whole.px, reference.px);
  // Rectangles reaching past the bitmap's edges, or beyond it entirely, write nothing outside.
  RECT far{-1000, -1000, 100000, 100000};
  Mask shifted = Draw(lf, "W", 0, 0, &far);
  EXPECT_EQ(shifted.Ink(), 0);
}

TEST(GdiText, AlignsSingleLinesWithinTheRectangle) {
  const LOGFONTA lf = Font("Liberation Sans", 20);
  SIZE s{};
  const Mask plain = Draw(lf, "Mid", 0, 0, nullptr, &s);
  RECT r{0, 0, s.cx + 40, s.cy + 30};
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT f = CreateFontIndirectA(&lf);
  SelectObject(dc, f);
  HBITMAP bm = CreateBitmap(r.right, r.bottom, 1, 1, nullptr);
  HGDIOBJ old = SelectObject(dc, bm);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  EXPECT_EQ(DrawTextExA(dc, "Mid", -1, &r, DT_SINGLELINE | DT_CENTER | DT_VCENTER, nullptr), 15 + 20);
  SelectObject(dc, old);
  Mask centred = ReadMask(bm, r.right, r.bottom);
  const std::vector<int> a = plain.Box(), b = centred.Box();
  EXPECT_EQ(b[0] - a[0], 20);
  EXPECT_EQ(b[1] - a[1], 15);
  EXPECT_EQ(centred.Ink(), plain.Ink());
  DeleteObject(bm);
  DeleteDC(dc);
  DeleteObject(f);
}

TEST(GdiText, DecodesUtf8Windows1252AndUtf16Alike) {
  const LOGFONTA lf = Font("DejaVu Sans", 24);
  // "Café 5€" as UTF-8, and as Windows-1252 (not valid UTF-8, so read as 1252).
  const Mask utf8 = Draw(lf, "Caf\xC3\xA9 5\xE2\x82\xAC");
  const Mask cp1252 = Draw(lf, "Caf\xE9 5\x80");
  EXPECT_EQ(utf8.width, cp1252.width);
  EXPECT_EQ(utf8.px, cp1252.px);
  EXPECT_NE(utf8.px, Draw(lf, "Cafe 5E").px);

  HDC dc = CreateCompatibleDC(nullptr);
  HFONT f = CreateFontIndirectA(&lf);
  SelectObject(dc, f);
  HBITMAP bm = CreateBitmap(utf8.width, utf8.height, 1, 1, nullptr);
  HGDIOBJ old = SelectObject(dc, bm);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  const WCHAR text[] = {'C', 'a', 'f', 0xE9, ' ', '5', 0x20AC, 0};
  RECT calc{0, 0, 0, 0};
  DrawTextExW(dc, text, -1, &calc, DT_CALCRECT, nullptr);
  EXPECT_EQ(calc.right, utf8.width);
  RECT r{0, 0, utf8.width, utf8.height};
  DRAWTEXTPARAMS params{sizeof(DRAWTEXTPARAMS), 0, 0, 0, 0};
  EXPECT_EQ(DrawTextExW(dc, text, 7, &r, 0, &params), 24);
  EXPECT_EQ(params.uiLengthDrawn, 7u);
  SelectObject(dc, old);
  EXPECT_EQ(ReadMask(bm, utf8.width, utf8.height).px, utf8.px);
  DeleteObject(bm);
  DeleteDC(dc);
  DeleteObject(f);
}

// A character the face lacks is drawn from the closest installed font that has it, at the same
// em size: U+2900 is in DejaVu Serif, not in DejaVu Sans, whose missing-glyph box it replaces.
TEST(GdiText, CharactersTheFaceLacksComeFromAFontThatHasThem) {
  if (FontFile(Font("DejaVu Serif", -40)) != "DejaVuSerif.ttf") GTEST_SKIP() << "DejaVu Serif missing";
  auto inked = [](const Mask& m) {
    const std::vector<int> b = m.Box();
    std::vector<uint8_t> px;
    for (int y = b[1]; y < b[3]; ++y)
      for (int x = b[0]; x < b[2]; ++x) px.push_back(static_cast<uint8_t>(m.At(x, y)));
    return std::make_pair(b[2] - b[0], px);
  };
  const std::string arrow = "\xE2\xA4\x80";  // U+2900
  const Mask fallback = Draw(Font("DejaVu Sans", -40), arrow);
  const Mask own = Draw(Font("DejaVu Serif", -40), arrow);
  EXPECT_EQ(fallback.width, own.width);
  EXPECT_GT(own.Ink(), 40);
  EXPECT_EQ(inked(fallback), inked(own));
  // Characters the face has keep their own glyphs beside it.
  EXPECT_EQ(Measure(Font("DejaVu Sans", -40), "A" + arrow).cx, Measure(Font("DejaVu Sans", -40), "A").cx + own.width);

  // What neither the face nor any installed font has: U+0378 and U+0379 are unassigned.
  const struct {
    std::string text;
    std::string missing;
  } cases[] = {
      {"Caf\xC3\xA9 " + arrow, ""},
      {"Caf\xE9\t\r\n", ""},  // Windows-1252; control characters are not counted
      {"a\xCD\xB8" "b\xCD\xB8\xCD\xB9" + arrow, "\xCD\xB8\xCD\xB9"},
      // Japanese, from the CJK font the set-up installs.
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88", ""},
  };
  const LOGFONTA sans = Font("DejaVu Sans", 20);
  HFONT font = CreateFontIndirectA(&sans);
  for (const auto& c : cases) {
    char out[64];
    EXPECT_EQ(GdiMissingCharacters(font, c.text.c_str(), -1, out, sizeof out), static_cast<int>(c.missing.size()));
    EXPECT_EQ(std::string(out), c.missing);
  }
  DeleteObject(font);
}

TEST(GdiText, AmpersandIsDrawnAsItStands) {
  const LOGFONTA lf = Font("DejaVu Sans", 24);
  EXPECT_EQ(Measure(lf, "A&B").cx, Measure(lf, "A").cx + Measure(lf, "&").cx + Measure(lf, "B").cx);
  EXPECT_GT(Draw(lf, "&").Ink(), 20);
  EXPECT_EQ(Draw(lf, "A&&B").width, Measure(lf, "A").cx + 2 * Measure(lf, "&").cx + Measure(lf, "B").cx);
}

TEST(GdiText, ColourSurfacesAndOpaqueBackground) {
  const LOGFONTA lf = Font("DejaVu Sans", 20);
  const Mask mono = Draw(lf, "Hi");
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bm = CreateCompatibleBitmap(screen, mono.width + 4, mono.height);
  HGDIOBJ old = SelectObject(dc, bm);
  HFONT f = CreateFontIndirectA(&lf);
  SelectObject(dc, f);
  SetTextColor(dc, RGB(200, 10, 20));
  SetBkColor(dc, RGB(1, 2, 3));  // opaque by default
  RECT r{0, 0, mono.width + 4, mono.height};
  DrawTextExA(dc, "Hi", -1, &r, 0, nullptr);
  SelectObject(dc, old);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = 40;
  bi.bmiHeader.biHeight = -mono.height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  const int w = mono.width + 4;
  std::vector<uint8_t> px(static_cast<size_t>(w) * 4 * mono.height);
  ASSERT_EQ(GetDIBits(screen, bm, 0, mono.height, px.data(), &bi, DIB_RGB_COLORS), mono.height);
  for (int y = 0; y < mono.height; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
      if (x >= mono.width) {
        ASSERT_EQ(p[0] | p[1] | p[2], 0) << "the box behind the text ends with the text";
      } else if (mono.At(x, y)) {
        ASSERT_EQ(p[2], 200);
        ASSERT_EQ(p[1], 10);
        ASSERT_EQ(p[0], 20);
      } else {
        ASSERT_EQ(p[2], 1);
        ASSERT_EQ(p[0], 3);
      }
    }
  DeleteObject(bm);
  DeleteDC(dc);
  DeleteObject(f);
  ReleaseDC(nullptr, screen);
}

TEST(GdiText, ThreadsDrawIndependently) {
  const LOGFONTA lf = Font("Liberation Sans", 33, FW_BOLD);
  const Mask want = Draw(lf, "Thread safe?");
  std::vector<std::thread> threads;
  std::vector<int> same(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) same[t] += Draw(lf, "Thread safe?").px == want.px;
    });
  for (auto& th : threads) th.join();
  for (int s : same) EXPECT_EQ(s, 5);
}

// The box a glyph's pixels can lie in, told from its outline without rendering it, holds every
// pixel the rendering sets, and is not much larger: the drawing skips the glyphs whose box
// misses the clip. Marks that hang off their pen, wide ligatures, fallback glyphs, synthetic
// bold and italic, small and large sizes.
TEST(GdiText, InkBoxesHoldEveryRenderedPixel) {
  const char32_t chars[] = {U'A', U'g', U'W', U'j', U'f', U' ', 0x0301, 0x0360, 0x0E34, 0x65E5, 0x2900, 0xFDFD, 0x0378};
  for (const char* face : {"DejaVu Sans", "Liberation Serif", "DejaVu Sans Light"})
    for (LONG height : {9L, 40L, -300L})
      for (int style = 0; style < 4; ++style) {
        const std::unique_ptr<GdiFontFace> f =
            GdiFontFace::Open(Font(face, height, style & 1 ? FW_BOLD : FW_NORMAL, style & 2 ? 1 : 0));
        ASSERT_TRUE(f);
        for (char32_t c : chars) {
          SCOPED_TRACE(std::string(face) + " " + std::to_string(height) + " style " + std::to_string(style) +
                       " U+" + std::to_string(static_cast<unsigned>(c)));
          const GdiInkBox ink = f->Ink(c);
          GdiGlyph g;
          ASSERT_TRUE(ink.known);
          ASSERT_TRUE(f->Render(c, &g));
          for (int r = 0; r < g.rows; ++r)
            for (int x = 0; x < g.width; ++x)
              if (g.bits[static_cast<size_t>(r) * g.pitch + x / 8] & (0x80 >> (x % 8))) {
                ASSERT_GE(g.left + x, ink.left);
                ASSERT_LT(g.left + x, ink.right);
                ASSERT_GE(r - g.top, -ink.top);
                ASSERT_LT(r - g.top, ink.bottom);
              }
          if (g.width > 0 && g.rows > 0) {
            EXPECT_LE(ink.right - ink.left, g.width + 4);
            EXPECT_LE(ink.top + ink.bottom, g.rows + 4);
          }
        }
      }
}
