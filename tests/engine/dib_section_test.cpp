#include "engine/CDIBSection.h"

#include <gtest/gtest.h>

#include <cstring>

#include "picture_helpers.h"

using Picture = std::vector<uint8_t>;

TEST(DIBSection, ConstructedEmptyAndNeverDrawn) {
  CDIBSection dib;
  EXPECT_TRUE(dib.IsEmpty());
  EXPECT_EQ(dib.GetWidth(), 8);
  EXPECT_EQ(dib.GetHeight(), 8);
  EXPECT_STREQ(CDIBSection::GetRuntimeClassName(), "CDIBSection");
  int draws = 0;
  dib.Draw([&](int, int, const BITMAPINFOHEADER&, const BYTE*) { ++draws; }, 0, 0);
  EXPECT_EQ(draws, 0);

  // Copy from a never-filled buffer changes nothing.
  CDIBSection other;
  const Picture img = enginetest::RandomPicture(3, 2, 1);
  other.SetFromRGB24(img.data(), 3, 2);
  other.Copy(&dib);
  other.Copy(nullptr);
  EXPECT_EQ(other.GetWidth(), 3);
  Picture back(3 * 2 * 3);
  other.GetRGB24(back.data(), 3);
  EXPECT_EQ(back, img);
}

TEST(DIBSection, RoundTripLayoutAndHeader) {
  const int w = 5, h = 3;
  const Picture img = enginetest::RandomPicture(w, h, 2);
  CDIBSection dib;
  dib.SetFromRGB24(img.data(), w, h);
  EXPECT_FALSE(dib.IsEmpty());
  const BITMAPINFOHEADER* hd = dib.GetHeader();
  ASSERT_NE(hd, nullptr);
  EXPECT_EQ(hd->biSize, 40u);
  EXPECT_EQ(hd->biWidth, w);
  EXPECT_EQ(hd->biHeight, h);
  EXPECT_EQ(hd->biPlanes, 1);
  EXPECT_EQ(hd->biBitCount, 32);
  EXPECT_EQ(hd->biCompression, BI_RGB);
  EXPECT_EQ(hd->biSizeImage, 0u);
  // Row 0 of the buffer is the picture's bottom row, stored B, G, R, 255.
  const BYTE* bits = dib.GetBits();
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) {
      const uint8_t* s = &img[((h - 1 - j) * w + i) * 3];
      const BYTE* d = bits + (j * w + i) * 4;
      ASSERT_EQ(d[0], s[2]);
      ASSERT_EQ(d[1], s[1]);
      ASSERT_EQ(d[2], s[0]);
      ASSERT_EQ(d[3], 255);
    }
  Picture back(img.size());
  dib.GetRGB24(back.data(), w);
  EXPECT_EQ(back, img);

  int draws = 0;
  dib.Draw(
      [&](int x, int y, const BITMAPINFOHEADER& header, const BYTE* pixels) {
        ++draws;
        EXPECT_EQ(x, 10);
        EXPECT_EQ(y, 20);
        EXPECT_EQ(header.biWidth, w);
        EXPECT_EQ(pixels, bits);
      },
      10, 20);
  EXPECT_EQ(draws, 1);

  CDIBSection copy;
  copy.Copy(&dib);
  ASSERT_EQ(copy.GetWidth(), w);
  ASSERT_EQ(copy.GetHeight(), h);
  EXPECT_EQ(std::memcmp(copy.GetBits(), dib.GetBits(), w * h * 4), 0);
  copy.Copy(&copy);  // itself: nothing
  EXPECT_EQ(std::memcmp(copy.GetBits(), dib.GetBits(), w * h * 4), 0);
}

TEST(DIBSection, CropRectangleWithGreyOutside) {
  const int w = 4, h = 3;
  const Picture img = enginetest::RandomPicture(w, h, 3);
  CDIBSection dib;
  dib.SetFromRGB24Rect(img.data(), w, h, 2, -1, 6, 2);  // 4 x 3, reaching right and above
  ASSERT_EQ(dib.GetWidth(), 4);
  ASSERT_EQ(dib.GetHeight(), 3);
  Picture crop(4 * 3 * 3);
  dib.GetRGB24(crop.data(), 4);
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 4; ++i) {
      int sx = 2 + i, sy = -1 + j;
      const uint8_t* c = &crop[(j * 4 + i) * 3];
      if (sx < w && sy >= 0) {
        for (int k = 0; k < 3; ++k) EXPECT_EQ(c[k], img[(sy * w + sx) * 3 + k]) << i << "," << j;
      } else {
        for (int k = 0; k < 3; ++k) EXPECT_EQ(c[k], 128) << i << "," << j;
      }
      EXPECT_EQ(dib.GetBits()[((2 - j) * 4 + i) * 4 + 3], 255);
    }
  // A rectangle of width 0, or a null picture, leaves the buffer as it was.
  dib.SetFromRGB24Rect(img.data(), w, h, 1, 0, 1, 3);
  dib.SetFromRGB24Rect(nullptr, w, h, 0, 0, 2, 2);
  dib.SetFromRGB24Rect(img.data(), w, h, 3, 3, 1, 1);
  EXPECT_EQ(dib.GetWidth(), 4);
  Picture again(crop.size());
  dib.GetRGB24(again.data(), 4);
  EXPECT_EQ(again, crop);
}

TEST(DIBSection, LargeBuffersAreMappedOthersOnTheHeap) {
  CDIBSection dib;
  dib.Recreate(1200, 5000);
  EXPECT_FALSE(dib.IsMapped());
  dib.Recreate(5000, 1200);
  EXPECT_FALSE(dib.IsMapped());
  dib.Recreate(1201, 1201);
  EXPECT_TRUE(dib.IsMapped());
  // Zero-filled, writable to the last byte, and released on the next Recreate.
  BYTE* bits = dib.GetBits();
  EXPECT_EQ(bits[0], 0);
  EXPECT_EQ(bits[1201ull * 1201 * 4 - 1], 0);
  bits[1201ull * 1201 * 4 - 1] = 7;
  Picture img = enginetest::RandomPicture(1201, 1201, 4);
  dib.SetFromRGB24(img.data(), 1201, 1201);
  EXPECT_TRUE(dib.IsMapped());
  Picture back(img.size());
  dib.GetRGB24(back.data(), 1201);
  EXPECT_EQ(back, img);
  dib.Recreate(10, 10);
  EXPECT_FALSE(dib.IsMapped());
  // Create on a live buffer releases the old pixels first (the leak checker would see them).
  dib.Create(1300, 1300);
  EXPECT_TRUE(dib.IsMapped());
  dib.Create(20, 20);
  EXPECT_FALSE(dib.IsMapped());
  EXPECT_EQ(dib.GetWidth(), 20);
}

TEST(DIBSection, AbsurdSizesThrowOutOfMemory) {
  CDIBSection dib;
  EXPECT_THROW(dib.Recreate(-1, 10), std::bad_alloc);
  EXPECT_EQ(dib.GetWidth(), 0);
  EXPECT_EQ(dib.GetBits(), nullptr);
  Picture out(3, 9);
  dib.GetRGB24(out.data(), 1);  // nothing to export, no crash
  EXPECT_EQ(out, Picture(3, 9));
  CDIBSection other;
  other.Copy(&dib);  // a buffer without pixels is not copied
  EXPECT_EQ(other.GetWidth(), 8);
  // A short output row length never writes past width x height x 3 bytes.
  const Picture img = enginetest::RandomPicture(4, 2, 5);
  other.SetFromRGB24(img.data(), 4, 2);
  Picture narrow(2 * 2 * 3);
  other.GetRGB24(narrow.data(), 2);
  EXPECT_EQ(narrow[0], img[0]);
}
