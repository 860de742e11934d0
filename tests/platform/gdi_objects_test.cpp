#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/gdi.h"

namespace {

struct MonoInfo {
  BITMAPINFOHEADER h;
  RGBQUAD colours[2];
};

}  // namespace

TEST(GdiObjects, SelectionKeepsOneOwnerAndDeletionIsRefusedWhileSelected) {
  const size_t live = GdiLiveObjectCount();
  HDC a = CreateCompatibleDC(nullptr);
  HDC b = CreateCompatibleDC(nullptr);
  ASSERT_TRUE(a && b);
  HBITMAP bm = CreateBitmap(10, 3, 1, 1, nullptr);
  ASSERT_NE(bm, nullptr);

  // A new memory context holds a 1 x 1 monochrome bitmap.
  HGDIOBJ stock = SelectObject(a, bm);
  ASSERT_NE(stock, nullptr);
  BITMAP info{};
  ASSERT_EQ(GetObject(stock, sizeof info, &info), static_cast<int>(sizeof info));
  EXPECT_EQ(info.bmWidth, 1);
  EXPECT_EQ(info.bmHeight, 1);
  EXPECT_EQ(info.bmBitsPixel, 1);

  EXPECT_EQ(SelectObject(b, bm), nullptr);  // already selected into a
  EXPECT_FALSE(DeleteObject(bm));           // still selected
  EXPECT_EQ(SelectObject(a, stock), bm);
  EXPECT_TRUE(DeleteObject(bm));
  EXPECT_FALSE(DeleteObject(bm));  // stale handle
  EXPECT_EQ(SelectObject(a, bm), nullptr);
  int local = 0;
  EXPECT_FALSE(DeleteObject(&local));  // never one of ours
  EXPECT_TRUE(DeleteObject(GetStockObject(WHITE_BRUSH)));  // stock objects stay
  EXPECT_NE(GetStockObject(WHITE_BRUSH), nullptr);

  // A screen context cannot hold a bitmap.
  HDC screen = GetDC(nullptr);
  HBITMAP colour = CreateCompatibleBitmap(screen, 4, 4);
  EXPECT_EQ(SelectObject(screen, colour), nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), 32);
  EXPECT_TRUE(DeleteObject(colour));
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
  EXPECT_EQ(DeleteDC(screen), FALSE);

  EXPECT_TRUE(DeleteDC(a));
  EXPECT_TRUE(DeleteDC(b));
  EXPECT_FALSE(DeleteDC(a));
  EXPECT_EQ(GdiLiveObjectCount(), live);
}

TEST(GdiObjects, RefusesBadBitmaps) {
  EXPECT_EQ(CreateBitmap(0, 5, 1, 1, nullptr), nullptr);
  EXPECT_EQ(CreateBitmap(5, -1, 1, 1, nullptr), nullptr);
  EXPECT_EQ(CreateBitmap(5, 5, 2, 1, nullptr), nullptr);
  EXPECT_EQ(CreateBitmap(5, 5, 1, 8, nullptr), nullptr);
  EXPECT_EQ(CreateBitmap(0x7FFFFFFF, 0x7FFFFFFF, 1, 32, nullptr), nullptr);
}

TEST(GdiObjects, ScreenCapabilitiesAreFixed) {
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), 96);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96);
  EXPECT_EQ(GetDeviceCaps(screen, HORZRES), 1920);
  EXPECT_EQ(GetDeviceCaps(screen, VERTRES), 1080);
  EXPECT_EQ(GetDeviceCaps(screen, HORZSIZE), 508);
  EXPECT_EQ(GetDeviceCaps(screen, VERTSIZE), 286);
  const int caps = GetDeviceCaps(screen, RASTERCAPS);
  EXPECT_TRUE(caps & RC_DI_BITMAP);
  EXPECT_FALSE(caps & RC_PALETTE);
  PALETTEENTRY entries[4];
  EXPECT_EQ(GetSystemPaletteEntries(screen, 0, 4, entries), 0u);
  ReleaseDC(nullptr, screen);
}

TEST(GdiObjects, FillRectClipsAndGetDIBitsOrdersRows) {
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bm = CreateBitmap(9, 4, 1, 1, nullptr);
  HGDIOBJ old = SelectObject(dc, bm);
  HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
  HBRUSH grey = CreateSolidBrush(RGB(100, 100, 100));  // dark: maps to 0 on a monochrome surface
  RECT all{-5, -5, 100, 100};
  ASSERT_TRUE(FillRect(dc, &all, grey));
  RECT part{7, 2, 20, 20};  // columns 7, 8 of rows 2, 3
  ASSERT_TRUE(FillRect(dc, &part, white));
  SelectObject(dc, old);

  HDC screen = GetDC(nullptr);
  MonoInfo mi{};
  mi.h.biSize = sizeof(BITMAPINFOHEADER);
  ASSERT_TRUE(GetDIBits(screen, bm, 0, 0, nullptr, reinterpret_cast<BITMAPINFO*>(&mi), DIB_RGB_COLORS));
  EXPECT_EQ(mi.h.biWidth, 9);
  EXPECT_EQ(mi.h.biHeight, 4);
  EXPECT_EQ(mi.h.biBitCount, 1);
  EXPECT_EQ(mi.h.biSizeImage, 16u);  // 4 bytes a row

  std::vector<uint8_t> rows(16, 0xEE);
  ASSERT_EQ(GetDIBits(screen, bm, 0, 4, rows.data(), reinterpret_cast<BITMAPINFO*>(&mi), DIB_RGB_COLORS), 4);
  // Bottom-up: stored rows 0 and 1 are picture rows 3 and 2.
  const std::vector<uint8_t> want = {0x01, 0x80, 0, 0, 0x01, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(rows, want);
  EXPECT_EQ(mi.colours[0].rgbRed, 0);
  EXPECT_EQ(mi.colours[1].rgbRed, 255);
  EXPECT_EQ(mi.colours[1].rgbBlue, 255);

  // Top-down when the height is negative; rows from `start` on.
  mi.h.biHeight = -4;
  std::fill(rows.begin(), rows.end(), 0xEE);
  ASSERT_EQ(GetDIBits(screen, bm, 2, 10, rows.data(), reinterpret_cast<BITMAPINFO*>(&mi), DIB_RGB_COLORS), 2);
  EXPECT_EQ(rows[0], 0x01);
  EXPECT_EQ(rows[1], 0x80);
  EXPECT_EQ(rows[8], 0xEE);  // only two rows written

  // As a 24-bit DIB: white pixels come out (255, 255, 255), the rest black.
  struct {
    BITMAPINFOHEADER h;
  } ci{};
  ci.h.biSize = 40;
  ci.h.biWidth = 9;
  ci.h.biHeight = 4;
  ci.h.biPlanes = 1;
  ci.h.biBitCount = 24;
  std::vector<uint8_t> rgb(4 * 28);
  ASSERT_EQ(GetDIBits(screen, bm, 0, 4, rgb.data(), reinterpret_cast<BITMAPINFO*>(&ci), DIB_RGB_COLORS), 4);
  EXPECT_EQ(rgb[7 * 3], 255);
  EXPECT_EQ(rgb[6 * 3], 0);
  EXPECT_EQ(rgb[2 * 28 + 7 * 3], 0);  // stored row 2 is picture row 1

  ci.h.biBitCount = 16;  // not a depth the transfer writes
  EXPECT_EQ(GetDIBits(screen, bm, 0, 4, rgb.data(), reinterpret_cast<BITMAPINFO*>(&ci), DIB_RGB_COLORS), 0);
  EXPECT_EQ(GetDIBits(screen, nullptr, 0, 4, rgb.data(), reinterpret_cast<BITMAPINFO*>(&ci), DIB_RGB_COLORS), 0);

  ReleaseDC(nullptr, screen);
  DeleteObject(white);
  DeleteObject(grey);
  DeleteObject(bm);
  DeleteDC(dc);
}

TEST(GdiObjects, ColourBitmapsKeepColours) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bm = CreateCompatibleBitmap(screen, 3, 2);
  ASSERT_NE(bm, nullptr);
  HGDIOBJ old = SelectObject(dc, bm);
  HBRUSH brush = CreateSolidBrush(RGB(10, 20, 30));
  RECT r{1, 0, 2, 2};
  FillRect(dc, &r, brush);
  // A compatible bitmap of a memory context takes the selected bitmap's depth.
  HBITMAP same = CreateCompatibleBitmap(dc, 2, 2);
  BITMAP info{};
  GetObject(same, sizeof info, &info);
  EXPECT_EQ(info.bmBitsPixel, 32);
  SelectObject(dc, old);

  BITMAPINFO bi{};
  bi.bmiHeader.biSize = 40;
  bi.bmiHeader.biHeight = -2;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  std::vector<uint8_t> px(3 * 4 * 2);
  ASSERT_EQ(GetDIBits(screen, bm, 0, 2, px.data(), &bi, DIB_RGB_COLORS), 2);
  EXPECT_EQ(px[4], 30);  // B, G, R, 0
  EXPECT_EQ(px[5], 20);
  EXPECT_EQ(px[6], 10);
  EXPECT_EQ(px[0], 0);
  DeleteObject(brush);
  DeleteObject(same);
  DeleteObject(bm);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}
