// Text measured and drawn into images: measurement, 1-bit masks, the anti-aliased drawing
// against a slow reference, clipping, bottom-up images, progress stages, the blend by hand,
// and the bitmap-handle conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/core/ISDIB.h"
#include "imaging/core/ISGDI.h"
#include "imaging/core/ISText.h"
#include "platform/gdi_text.h"
#include "support/pictures.h"
#include "support/progress_recorder.h"
#include "support/test_support.h"

namespace {

LOGFONTA Font(const char* face, LONG height, LONG weight = FW_NORMAL) {
  LOGFONTA lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfQuality = PROOF_QUALITY;
  lf.lfPitchAndFamily = 0x30;
  std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return lf;
}

// The mask's bit at (x, y), rows of (w + 7) / 8 bytes.
int Bit(const ISArray<BYTE>& mask, DWORD w, DWORD x, DWORD y) {
  return (mask[y * ((w + 7) / 8) + x / 8] >> (7 - x % 8)) & 1;
}

std::vector<uint8_t> Picture(DWORD w, DWORD h, uint32_t seed) { return qrvtest::RandomBytes(size_t(w) * h * 3, seed); }

// The drawing done the slow way: the whole rectangle rendered at the factor, each factor x
// factor block's coverage averaged (truncated), and each byte blended as
// trunc(old x ((255 - m) / 255)) + trunc(c x (m / 255)).
void ReferenceDraw(std::vector<uint8_t>& img, DWORD W, DWORD H, const char* text, const LOGFONTA& font, DWORD f,
                   LONG left, LONG top, LONG right, LONG bottom, COLORREF colour) {
  LOGFONTA scaled = font;
  scaled.lfHeight *= static_cast<LONG>(f);
  const LONG dw = right - left, dh = bottom - top;
  ISErrorCode e = 0;
  ISArray<BYTE> mask;
  DWORD mw = 0, mh = 0;
  ASSERT_TRUE(RenderTextMask(e, text, &scaled, 0, 0, dw * f, dh * f, 0, 0, &mw, &mh, mask));
  const BYTE c[3] = {GetRValue(colour), GetGValue(colour), GetBValue(colour)};
  for (LONG y = 0; y < dh; ++y)
    for (LONG x = 0; x < dw; ++x) {
      const LONG ix = left + x, iy = top + y;
      if (ix < 0 || iy < 0 || ix >= LONG(W) || iy >= LONG(H)) continue;
      unsigned sum = 0;
      for (DWORD by = 0; by < f; ++by)
        for (DWORD bx = 0; bx < f; ++bx) sum += 255 * Bit(mask, mw, x * f + bx, y * f + by);
      const unsigned m = sum / (f * f);
      uint8_t* p = &img[(size_t(iy) * W + ix) * 3];
      for (int k = 0; k < 3; ++k)
        p[k] = static_cast<uint8_t>(unsigned(p[k] * ((255 - m) / 255.0)) + unsigned(c[k] * (m / 255.0)));
    }
}

}  // namespace

TEST(MeasureText, SizesAndRefusals) {
  const LOGFONTA lf = Font("DejaVu Sans", 24);
  DWORD w = 7, h = 7;
  ISErrorCode e = 0;
  ASSERT_TRUE(MeasureTextRect(e, "Tom & Jerry", &lf, 0, 0, LONG(0x80000000), LONG(0x80000000), &w, &h, 0, 0));
  EXPECT_EQ(w, 122u);  // as the GDI layer's own pinned mask
  EXPECT_EQ(h, 24u);
  ASSERT_TRUE(MeasureTextRect(e, "A\nB\r\nC", &lf, 5, 7, 0, 0, &w, &h, 0, 0));
  EXPECT_EQ(h, 72u);
  const WCHAR wide[] = {'T', 'o', 'm', ' ', '&', ' ', 'J', 'e', 'r', 'r', 'y', 0};
  ASSERT_TRUE(MeasureTextRect(e, wide, &lf, 0, 0, 0, 0, &w, &h, 0, kTextUtf16));
  EXPECT_EQ(w, 122u);
  ASSERT_TRUE(MeasureTextRect(e, "", &lf, 0, 0, 0, 0, &w, &h, 0, 0));
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(h, 0u);

  EXPECT_FALSE(MeasureTextRect(e, "x", &lf, 0, 0, 0, 0, nullptr, &h, 0, 0));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  w = h = 9;
  EXPECT_FALSE(MeasureTextRect(e, nullptr, &lf, 0, 0, 0, 0, &w, &h, 0, 0));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  EXPECT_EQ(w, 0u);
  LOGFONTA huge = Font("DejaVu Sans", 1000000);
  EXPECT_FALSE(MeasureTextRect(e, "x", &huge, 0, 0, 0, 0, &w, &h, 0, 0));
  EXPECT_EQ(e, IS_ERR_FONT);

  // The entry point stores the code.
  EXPECT_TRUE(ISMeasureText("Hi", &lf, 0, 0, LONG(0x80000000), LONG(0x80000000), &w, &h, 0, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_OK);
  EXPECT_FALSE(ISMeasureText("Hi", &lf, 0, 0, 0, 0, &w, nullptr, 0, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
}

TEST(RenderTextMask, RowsTopDownOrBottomUpAndRefusals) {
  const LOGFONTA lf = Font("Liberation Sans", 20);
  ISErrorCode e = 0;
  ISArray<BYTE> top, bottom;
  DWORD w = 0, h = 0;
  ASSERT_TRUE(RenderTextMask(e, "Lg", &lf, 0, 0, 30, 22, 0, 0, &w, &h, top));
  EXPECT_EQ(w, 30u);
  EXPECT_EQ(h, 22u);
  EXPECT_EQ(top.Count(), 4u * 22);
  ASSERT_TRUE(RenderTextMask(e, "Lg", &lf, 0, 0, 30, 22, 0, kTextBottomUp, &w, &h, bottom));
  int ink = 0;
  for (DWORD y = 0; y < h; ++y)
    for (DWORD x = 0; x < w; ++x) {
      ASSERT_EQ(Bit(top, w, x, y), Bit(bottom, w, x, h - 1 - y));
      ink += Bit(top, w, x, y);
    }
  EXPECT_GT(ink, 40);
  // "L" starts at the left edge of the cell; the "g" descends below the baseline (ascent 18).
  bool below = false;
  for (DWORD x = 0; x < w; ++x) below |= Bit(top, w, x, 19) != 0;
  EXPECT_TRUE(below);

  EXPECT_FALSE(RenderTextMask(e, "Lg", &lf, 0, 0, 0, 22, 0, 0, &w, &h, top));
  EXPECT_EQ(e, IS_ERR_DC);
  LOGFONTA huge = Font("DejaVu Sans", -1000000);
  EXPECT_FALSE(RenderTextMask(e, "Lg", &huge, 0, 0, 10, 10, 0, 0, &w, &h, top));
  EXPECT_EQ(e, IS_ERR_FONT);
  EXPECT_EQ(GdiLiveObjectCount(), 0u);  // every path released what it made
}

// A part of the mask is that part of the whole mask, whatever the format places the text,
// whichever way the rows run; a part outside the rectangle is refused.
TEST(RenderTextMask, PartsAreTheWholeMasksParts) {
  const LOGFONTA lf = Font("DejaVu Sans", 30, FW_BOLD);
  const struct {
    UINT format;
    DWORD flags;
    LONG l, t, r, b;  // the part
  } cases[] = {{0, 0, 0, 0, 200, 90},       {0, 0, 37, 11, 151, 40},
               {DT_CENTER, kTextBottomUp, 60, 5, 140, 88},
               {DT_RIGHT | DT_BOTTOM | DT_SINGLELINE, 0, 150, 30, 200, 90},
               {DT_CENTER | DT_VCENTER | DT_SINGLELINE, kTextBottomUp, 1, 44, 199, 46}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.l);
    ISErrorCode e = 0;
    ISArray<BYTE> whole, part;
    DWORD w = 0, h = 0, pw = 0, ph = 0;
    ASSERT_TRUE(RenderTextMask(e, "Wg Part\nof it", &lf, 0, 0, 200, 90, c.format, c.flags, &w, &h, whole));
    ASSERT_TRUE(RenderTextMaskPart(e, "Wg Part\nof it", &lf, 0, 0, 200, 90, c.l, c.t, c.r, c.b, c.format, c.flags,
                                   &pw, &ph, part));
    ASSERT_EQ(pw, DWORD(c.r - c.l));
    ASSERT_EQ(ph, DWORD(c.b - c.t));
    int ink = 0;
    for (DWORD y = 0; y < ph; ++y)
      for (DWORD x = 0; x < pw; ++x) {
        // Rows run from the part's top, or from its bottom with flag bit 1.
        const DWORD wy = (c.flags & kTextBottomUp) ? (h - DWORD(c.b)) + y : DWORD(c.t) + y;
        ASSERT_EQ(Bit(part, pw, x, y), Bit(whole, w, x + DWORD(c.l), wy)) << x << "," << y;
        ink += Bit(part, pw, x, y);
      }
    EXPECT_GT(ink, 0);
  }
  ISErrorCode e = 0;
  ISArray<BYTE> part;
  DWORD pw = 0, ph = 0;
  EXPECT_FALSE(RenderTextMaskPart(e, "x", &lf, 0, 0, 50, 50, 10, 10, 51, 20, 0, 0, &pw, &ph, part));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  EXPECT_FALSE(RenderTextMaskPart(e, "x", &lf, 0, 0, 50, 50, 10, 10, 10, 20, 0, 0, &pw, &ph, part));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  EXPECT_EQ(GdiLiveObjectCount(), 0u);
}

TEST(DrawText, ScaleOneIsHardEdged) {
  const DWORD W = 80, H = 40;
  const LOGFONTA lf = Font("DejaVu Sans", 20);
  std::vector<uint8_t> img = Picture(W, H, 1);
  const std::vector<uint8_t> before = img;
  const COLORREF colour = RGB(250, 5, 128);
  ISErrorCode e = 0;
  ASSERT_TRUE(DrawTextIntoImage(e, img.data(), W, H, W * 3, "W&g", &lf, 1, 6, 4, W - 1, H - 1, 0, 0, colour));
  ISArray<BYTE> mask;
  DWORD mw = 0, mh = 0;
  ASSERT_TRUE(RenderTextMask(e, "W&g", &lf, 0, 0, W - 7, H - 5, 0, 0, &mw, &mh, mask));
  int changed = 0;
  for (DWORD y = 0; y < H; ++y)
    for (DWORD x = 0; x < W; ++x) {
      const uint8_t* p = &img[(y * W + x) * 3];
      const uint8_t* q = &before[(y * W + x) * 3];
      const bool inside = x >= 6 && y >= 4 && x < W - 1 && y < H - 1;
      if (inside && Bit(mask, mw, x - 6, y - 4)) {
        ASSERT_EQ(p[0], 250);
        ASSERT_EQ(p[1], 5);
        ASSERT_EQ(p[2], 128);
        ++changed;
      } else {
        ASSERT_EQ(std::memcmp(p, q, 3), 0) << x << "," << y;
      }
    }
  EXPECT_GT(changed, 50);
}

// The fast path (a mask of the text's own box only) against the slow reference (the whole
// rectangle), at the stamp's factor of 3, in several fonts.
TEST(DrawText, AntiAliasedDrawingMatchesTheSlowReference) {
  const DWORD W = 120, H = 70;
  struct Case {
    LOGFONTA font;
    const char* text;
    LONG x, y;
  } cases[] = {{Font("DejaVu Sans", 16), "Caf\xC3\xA9 & 5%", 3, 2},
               {Font("Liberation Sans", 13, FW_BOLD), "Two\nlines", 50, 20},
               {Font("DejaVu Sans", 24), "Edge", 90, 50}};  // runs past the right and bottom edges
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<uint8_t> fast = Picture(W, H, 7), slow = fast;
    ISErrorCode e = 0;
    ASSERT_TRUE(DrawTextIntoImage(e, fast.data(), W, H, W * 3, c.text, &c.font, 3, c.x, c.y, W - 1, H - 1, 0, 0,
                                  RGB(255, 255, 0)));
    ReferenceDraw(slow, W, H, c.text, c.font, 3, c.x, c.y, W - 1, H - 1, RGB(255, 255, 0));
    EXPECT_EQ(fast, slow);
    EXPECT_NE(fast, Picture(W, H, 7));
  }
}

TEST(DrawText, ClipsAtEveryEdgeAndSkipsEmptyCases) {
  const DWORD W = 50, H = 30, M = 20;  // a bigger canvas with a margin of M round the picture
  const LOGFONTA lf = Font("DejaVu Sans", 18);
  const std::vector<uint8_t> base = Picture(W + 2 * M, H + 2 * M, 3);
  for (LONG x : {-9L, 0L, 30L}) {
    for (LONG y : {-7L, 0L, 20L}) {
      SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
      std::vector<uint8_t> big = base;
      ISErrorCode e = 0;
      ASSERT_TRUE(DrawTextIntoImage(e, big.data(), W + 2 * M, H + 2 * M, (W + 2 * M) * 3, "Clip", &lf, 3, x + M,
                                    y + M, W - 1 + M, H - 1 + M, 0, 0, RGB(0, 0, 255)));
      std::vector<uint8_t> small(size_t(W) * H * 3);
      for (DWORD r = 0; r < H; ++r)
        std::memcpy(&small[r * W * 3], &base[((r + M) * (W + 2 * M) + M) * 3], W * 3);
      ASSERT_TRUE(DrawTextIntoImage(e, small.data(), W, H, W * 3, "Clip", &lf, 3, x, y, W - 1, H - 1, 0, 0,
                                    RGB(0, 0, 255)));
      for (DWORD r = 0; r < H; ++r)
        ASSERT_EQ(std::memcmp(&small[r * W * 3], &big[((r + M) * (W + 2 * M) + M) * 3], W * 3), 0) << r;
    }
  }
  std::vector<uint8_t> img = Picture(W, H, 4);
  const std::vector<uint8_t> before = img;
  ISErrorCode e = 0;
  EXPECT_TRUE(DrawTextIntoImage(e, img.data(), W, H, W * 3, "x", &lf, 3, 10, 10, 10, 20, 0, 0, 0));  // zero width
  EXPECT_TRUE(DrawTextIntoImage(e, img.data(), W, H, W * 3, "x", &lf, 3, 10, 10, 5, 20, 0, 0, 0));   // negative
  EXPECT_TRUE(DrawTextIntoImage(e, img.data(), W, H, W * 3, "x", &lf, 3, W, 0, W + 40, 20, 0, 0, 0));  // beyond
  EXPECT_TRUE(DrawTextIntoImage(e, img.data(), W, H, W * 3, "x", &lf, 3, -100, -100, -1, -1, 0, 0, 0));
  EXPECT_TRUE(DrawTextIntoImage(e, img.data(), W, H, W * 3, "", &lf, 3, 0, 0, W, H, 0, 0, 0));
  EXPECT_TRUE(DrawTextIntoImage(e, img.data(), W, H, W * 3, nullptr, &lf, 3, 0, 0, W, H, 0, 0, 0));
  EXPECT_TRUE(DrawTextIntoImage(e, img.data(), W, H, W * 3, "x", &lf, 0, 0, 0, W, H, 0, 0, 0));
  EXPECT_EQ(img, before);
  EXPECT_FALSE(DrawTextIntoImage(e, nullptr, W, H, W * 3, "x", &lf, 3, 0, 0, W, H, 0, 0, 0));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  EXPECT_FALSE(DrawTextIntoImage(e, img.data(), W, H, W * 3, "x", nullptr, 3, 0, 0, W, H, 0, 0, 0));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  EXPECT_FALSE(ISDrawText(img.data(), W, H, W * 3, "x", nullptr, 3, 0, 0, W, H, 0, 0, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  // A huge rectangle on a small picture costs only the text's own box.
  EXPECT_TRUE(ISDrawText(img.data(), W, H, W * 3, "x", &lf, 3, 2, 2, 0x7FFFFFF0, 0x7FFFFFF0, 0, 0, 0));
  EXPECT_NE(img, before);
}

TEST(DrawText, BottomUpImagesAreTheFlippedDrawing) {
  const DWORD W = 60, H = 33;
  const LOGFONTA lf = Font("Liberation Sans", 15);
  std::vector<uint8_t> down = Picture(W, H, 9), up(down.size());
  for (DWORD r = 0; r < H; ++r) std::memcpy(&up[r * W * 3], &down[(H - 1 - r) * W * 3], W * 3);
  ISErrorCode e = 0;
  ASSERT_TRUE(DrawTextIntoImage(e, down.data(), W, H, W * 3, "Up\nDown", &lf, 3, 4, 1, W - 1, H - 1, 0, 0, RGB(9, 99, 199)));
  ASSERT_TRUE(DrawTextIntoImage(e, up.data(), W, H, W * 3, "Up\nDown", &lf, 3, 4, 1, W - 1, H - 1, 0, kTextBottomUp,
                                RGB(9, 99, 199)));
  for (DWORD r = 0; r < H; ++r) ASSERT_EQ(std::memcmp(&up[r * W * 3], &down[(H - 1 - r) * W * 3], W * 3), 0) << r;
}

TEST(DrawText, ReportsItsStagesAndStops) {
  const DWORD W = 40, H = 20;
  const LOGFONTA lf = Font("DejaVu Sans", 10);
  std::vector<uint8_t> img = Picture(W, H, 5);
  const std::vector<uint8_t> before = img;
  {
    qrvtest::ProgressRecorder rec;
    ASSERT_TRUE(ISDrawText(img.data(), W, H, W * 3, "ab", &lf, 3, 0, 0, W, H, 0, 0, RGB(255, 0, 0)));
    std::vector<DWORD> stages;
    for (auto& c : rec.calls)
      if (c.second == 9) stages.push_back(c.first);
    EXPECT_EQ(stages, (std::vector<DWORD>{0, 1, 3, 4, 5, 6, 8}));
  }
  for (BOOL reply : {0, -1}) {
    img = before;
    qrvtest::ProgressRecorder rec(1, 2, reply);  // the third report (stage 3) stops it
    EXPECT_FALSE(ISDrawText(img.data(), W, H, W * 3, "ab", &lf, 3, 0, 0, W, H, 0, 0, RGB(255, 0, 0)));
    EXPECT_EQ(ISGetLastError(), IS_ERR_STOPPED);
    EXPECT_EQ(img, before);
  }
  {
    img = before;
    qrvtest::ProgressRecorder probe;
    ASSERT_TRUE(ISDrawText(img.data(), W, H, W * 3, "ab", &lf, 3, 0, 0, W, H, 0, 0, RGB(255, 0, 0)));
    img = before;
    qrvtest::ProgressRecorder rec(1, probe.calls.size() - 1, 0);  // the last report (stage 8)
    EXPECT_FALSE(ISDrawText(img.data(), W, H, W * 3, "ab", &lf, 3, 0, 0, W, H, 0, 0, RGB(255, 0, 0)));
    EXPECT_EQ(ISGetLastError(), IS_ERR_STOPPED);
    EXPECT_NE(img, before);  // stopped after the blend
  }
}

TEST(BlendColourThroughMask, ByHand) {
  // P[b * 256 + a] = trunc(a x (b / 255)): 100 under coverage 128 keeps trunc(100 x 127/255) = 49
  // and adds trunc(200 x 128/255) = 100.
  BYTE img[2 * 2 * 3] = {100, 100, 100, 10, 20, 30,  //
                         1, 2, 3, 4, 5, 6};
  const BYTE mask[4] = {128, 255, 0, 0};
  CISOpContext ctx;
  ASSERT_TRUE(BlendColourThroughMask(ctx, img, 2, 2, 3, 6, mask, 2, 2, 2, RGB(200, 0, 255), 0, 0, 0));
  EXPECT_EQ(img[0], 149);
  EXPECT_EQ(img[1], 49);
  EXPECT_EQ(img[2], 49 + 128);
  EXPECT_EQ(img[3], 200);
  EXPECT_EQ(img[4], 0);
  EXPECT_EQ(img[5], 255);
  EXPECT_EQ(img[6], 1);  // mask 0 leaves a pixel alone

  // Placed at (-1, 1): mask column 1 lands on image column 0 of row 1; rows past the end go.
  BYTE one[2 * 2 * 3] = {};
  ASSERT_TRUE(BlendColourThroughMask(ctx, one, 2, 2, 3, 6, mask, 2, 2, 2, RGB(9, 8, 7), -1, 1, 0));
  const BYTE want[12] = {0, 0, 0, 0, 0, 0, 9, 8, 7, 0, 0, 0};
  EXPECT_EQ(std::memcmp(one, want, 12), 0);

  // Four-byte pixels: B, G, R with flag bit 0, the fourth byte only with flag bit 1.
  BYTE px[4] = {0, 0, 0, 0};
  const BYTE full = 255;
  const COLORREF c = RGB(1, 2, 3) | 0x44000000u;
  ASSERT_TRUE(BlendColourThroughMask(ctx, px, 1, 1, 4, 4, &full, 1, 1, 1, c, 0, 0, 1));
  EXPECT_EQ(px[0], 3);
  EXPECT_EQ(px[2], 1);
  EXPECT_EQ(px[3], 0);
  ASSERT_TRUE(BlendColourThroughMask(ctx, px, 1, 1, 4, 4, &full, 1, 1, 1, c, 0, 0, 2));
  EXPECT_EQ(px[0], 1);
  EXPECT_EQ(px[3], 0x44);
  BYTE two[2] = {5, 5};
  ASSERT_TRUE(BlendColourThroughMask(ctx, two, 1, 1, 2, 2, &full, 1, 1, 1, c, 0, 0, 0));  // other sizes: unchanged
  EXPECT_EQ(two[0], 5);
  EXPECT_FALSE(BlendColourThroughMask(ctx, nullptr, 1, 1, 3, 3, &full, 1, 1, 1, c, 0, 0, 0));
  EXPECT_EQ(ctx.error, IS_ERR_BADPARAM);
  EXPECT_FALSE(BlendColourThroughMask(ctx, px, 1, 1, 3, 3, nullptr, 1, 1, 1, c, 0, 0, 0));
}

TEST(GdiBitmaps, HBITMAPToDIBAndBitmapToRGB) {
  // A 10 x 3 monochrome bitmap, white at (0, 0) and (9, 2).
  const BYTE rows[3 * 2] = {0x80, 0x00, 0x00, 0x00, 0x00, 0x40};
  ISGdiObject<HBITMAP> mono(CreateBitmap(10, 3, 1, 1, rows));
  ISErrorCode e = 0;
  HGLOBAL dib = HBITMAPToDIB(e, mono.Get(), BI_RGB, nullptr);
  ASSERT_NE(dib, nullptr);
  const BITMAPINFOHEADER h = ReadDIBHeader(dib);
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biWidth, 10);
  EXPECT_EQ(h.biHeight, 3);
  EXPECT_EQ(h.biBitCount, 1);
  EXPECT_EQ(h.biSizeImage, 12u);
  EXPECT_EQ(GlobalSize(dib), 40u + 8 + 12);
  const BYTE* d = static_cast<const BYTE*>(dib);
  EXPECT_EQ(d[40 + 4 + 2], 255);  // second table entry white
  EXPECT_EQ(d[48], 0x00);         // bottom row first: (9, 2)
  EXPECT_EQ(d[49], 0x40);
  EXPECT_EQ(d[48 + 8], 0x80);     // top row last: (0, 0)
  std::vector<BYTE> rgb(10 * 3 * 3);
  ASSERT_TRUE(DIBToRGB(e, dib, rgb.data()));
  EXPECT_EQ(rgb[0], 255);
  EXPECT_EQ(rgb[3], 0);
  EXPECT_EQ(rgb[(2 * 10 + 9) * 3], 255);
  GlobalFree(dib);

  EXPECT_EQ(HBITMAPToDIB(e, mono.Get(), BI_BITFIELDS, nullptr), nullptr);
  EXPECT_EQ(e, IS_ERR_INTERNAL);
  EXPECT_EQ(HBITMAPToDIB(e, nullptr, BI_RGB, nullptr), nullptr);
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  EXPECT_EQ(HBITMAPToDIB(e, mono.Get(), BI_RLE8, nullptr), nullptr);  // the transfer writes no RLE
  EXPECT_EQ(e, IS_ERR_DIBITS);

  // A colour bitmap through the screen's context.
  ISScreenDC screen;
  ISGdiObject<HBITMAP> colour(CreateCompatibleBitmap(screen.Get(), 4, 2));
  {
    ISMemoryDC dc(screen.Get());
    ISSelection sel(dc.Get(), colour.Get());
    ISGdiObject<HBRUSH> brush(CreateSolidBrush(RGB(10, 200, 30)));
    RECT r{1, 1, 3, 2};
    ASSERT_TRUE(FillRect(dc.Get(), &r, brush.Get()));
  }
  std::vector<BYTE> out(4 * 2 * 3, 0xEE);
  ASSERT_TRUE(BitmapToRGB(e, colour.Get(), screen.Get(), nullptr, out.data()));
  const std::vector<BYTE> want = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 200, 30, 10, 200, 30, 0, 0, 0};
  EXPECT_EQ(out, want);
  EXPECT_FALSE(BitmapToRGB(e, colour.Get(), nullptr, nullptr, out.data()));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
}

// A caption on a real picture, drawn here (at the stamp's factor of 3) and by ImageMagick with
// the same font file at the same em size: the boxes of changed pixels agree within 2 pixels.
TEST(DrawText, CaptionBoxAgreesWithImageMagick) {
  const std::string magick = qrvtest::MagickConvert();
  if (magick.empty()) GTEST_SKIP() << "ImageMagick missing";
  std::vector<std::string> jpegs = qrvtest::TestDataFiles("jpeg");
  std::string source;
  for (const std::string& f : jpegs)
    if (f.size() > 4 && (f.substr(f.size() - 4) == ".jpg" || f.substr(f.size() - 4) == ".JPG")) {
      source = f;
      break;
    }
  if (source.empty()) GTEST_SKIP() << "no sample JPEG";
  qrvtest::TempDir tmp;
  const std::string in = tmp.File("in.ppm"), out = tmp.File("out.ppm");
  const char* font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  int status = 0;
  qrvtest::RunCommand(magick + " '" + source + "' -resize 640x640 " + in, &status);
  ASSERT_EQ(status, 0);
  qrvtest::PNM pic;
  ASSERT_TRUE(qrvtest::ReadPNM(in, pic) && pic.comps == 3);
  const LONG x = 30, y = 40, em = 32;
  // ImageMagick applies the font's kerning pairs, which DrawText does not (a "To" comes out
  // 3 pixels narrower there): the caption holds no kerned pair.
  const char* caption = "Holiday 2024 - Sunny Beach";
  // ImageMagick places the top of the text's ascent at the offset when gravity is NorthWest.
  qrvtest::RunCommand(magick + " " + in + " -font " + font + " -pointsize " + std::to_string(em) +
                          " -density 72 -gravity NorthWest -fill '#ff00ff' -annotate +" + std::to_string(x) + "+" +
                          std::to_string(y) + " '" + caption + "' " + out,
                      &status);
  ASSERT_EQ(status, 0);
  qrvtest::PNM theirs;
  ASSERT_TRUE(qrvtest::ReadPNM(out, theirs) && theirs.comps == 3);
  std::vector<uint8_t> ours = pic.pixels;
  LOGFONTA lf = Font("DejaVu Sans", -em);
  ASSERT_TRUE(ISDrawText(ours.data(), pic.width, pic.height, pic.width * 3, caption, &lf, 3, x, y, pic.width - 1,
                         pic.height - 1, 0, 0, RGB(255, 0, 255)));
  auto box = [&](const std::vector<uint8_t>& img) {
    long x0 = pic.width, y0 = pic.height, x1 = -1, y1 = -1;
    for (uint32_t r = 0; r < pic.height; ++r)
      for (uint32_t c = 0; c < pic.width; ++c) {
        const size_t i = (size_t(r) * pic.width + c) * 3;
        if (std::abs(img[i] - pic.pixels[i]) + std::abs(img[i + 1] - pic.pixels[i + 1]) +
                std::abs(img[i + 2] - pic.pixels[i + 2]) > 60) {
          x0 = std::min<long>(x0, c), y0 = std::min<long>(y0, r);
          x1 = std::max<long>(x1, c), y1 = std::max<long>(y1, r);
        }
      }
    return std::vector<long>{x0, y0, x1, y1};
  };
  const std::vector<long> a = box(ours), b = box(theirs.pixels);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(a[i], b[i], 2) << i << ": ours " << a[i] << ", ImageMagick " << b[i];
}

// Drawings that fit keep the pixels they had when the whole rectangle (or the text's whole
// box) was rendered: placed formats, rectangles reaching past every edge, bottom-up rows,
// UTF-16, factors 1 to 4. The sums were taken from that drawing with the installed fonts.
TEST(DrawText, DrawingsThatFitKeepTheirPixels) {
  const DWORD W = 120, H = 80;
  const WCHAR wide[] = {'W', 'i', 'd', 'e', ' ', 0x65E5, 0x672C, '\n', 'g', 0};
  const struct {
    const void* text;
    LONG height, left, top, right, bottom;
    UINT format;
    DWORD flags, factor;
    uint64_t sum;
  } cases[] = {
      {"Centred", 20, -30, -10, 150, 90, DT_CENTER | DT_VCENTER | DT_SINGLELINE, 0, 3, 0xfb45bbc829e52411ull},
      {"Right", 26, 10, 5, 135, 90, DT_RIGHT | DT_BOTTOM | DT_SINGLELINE, 0, 2, 0x2fe3eb86132d7349ull},
      {"Two\nlines here", 30, -15, -7, 119, 79, 0, kTextBottomUp, 3, 0x40c75477284f9a66ull},
      {wide, 22, 40, 40, 180, 200, DT_CENTER, kTextUtf16, 4, 0x967b1d22407aeafaull},
      {"Hard", 40, -5, -5, 60, 60, DT_BOTTOM | DT_SINGLELINE, 0, 1, 0xe8c841dc2f8b9a5cull},
      {"Below", 18, 20, -40, 100, 30, DT_VCENTER | DT_SINGLELINE, kTextBottomUp, 3, 0x8f542094fbed57d7ull},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.left);
    std::vector<uint8_t> img = Picture(W, H, 11);
    const LOGFONTA lf = Font("DejaVu Sans", c.height);
    ASSERT_TRUE(ISDrawText(img.data(), W, H, W * 3, c.text, &lf, c.factor, c.left, c.top, c.right, c.bottom,
                           c.format, c.flags, RGB(240, 20, 90)));
    EXPECT_NE(img, Picture(W, H, 11));
    uint64_t sum = 0xCBF29CE484222325ull;
    for (uint8_t b : img) sum = (sum ^ b) * 0x100000001B3ull;
    EXPECT_EQ(sum, c.sum) << std::hex << "0x" << sum;
  }
}
