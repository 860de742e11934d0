// Packed DIBs: sizes, accessors, palette DIBs built and read back, bit fields, and files that
// ImageMagick reads with the same pixels.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "imaging/core/ISDIB.h"
#include "support/test_support.h"

namespace {

std::vector<RGBQUAD> GreyRamp(DWORD n) {
  std::vector<RGBQUAD> t(n);
  for (DWORD i = 0; i < n; ++i)
    t[i] = RGBQUAD{static_cast<BYTE>(i * 7), static_cast<BYTE>(255 - i), static_cast<BYTE>(i * 3), 0};
  return t;
}

// The expected RGB of index buffer `idx` through table `t` of `count` entries.
std::vector<BYTE> Expand(const std::vector<BYTE>& idx, const std::vector<RGBQUAD>& t, DWORD count) {
  std::vector<BYTE> rgb;
  for (BYTE i : idx) {
    const RGBQUAD& q = t[i < count ? i : 0];
    rgb.insert(rgb.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue});
  }
  return rgb;
}

// A BMP file: the 14-byte file header, then the packed DIB as it stands.
std::vector<BYTE> AsBMPFile(const void* dib, uint64_t size) {
  ISErrorCode err = 0;
  const BYTE* bits = DIBBitsPtr(err, dib);
  std::vector<BYTE> f(14 + size);
  f[0] = 'B';
  f[1] = 'M';
  WriteLE32(&f[2], static_cast<DWORD>(14 + size));
  WriteLE32(&f[10], static_cast<DWORD>(14 + (bits - static_cast<const BYTE*>(dib))));
  std::memcpy(f.data() + 14, dib, size);
  return f;
}

}  // namespace

TEST(DIB, SizesAndAccessors) {
  ISErrorCode err = 0;
  EXPECT_EQ(DIBSizeBytes(err, 3, 2, 24, 0), 64u);  // 40 + 12 x 2
  EXPECT_EQ(DIBSizeBytes(err, 3, 2, 1, 0), 56u);   // 40 + 8 + 4 x 2
  EXPECT_EQ(DIBSizeBytes(err, 3, 2, 8, 0), 40u + 1024 + 8);
  EXPECT_EQ(DIBSizeBytes(err, 3, 2, 4, 5), 40u + 20 + 8);
  EXPECT_EQ(DIBSizeBytes(err, 3, 2, 32, 0), 40u + 24);
  EXPECT_EQ(err, IS_ERR_OK);
  EXPECT_EQ(DIBSizeBytes(err, 3, 2, 16, 0), 0u);
  EXPECT_EQ(err, IS_ERR_BADPARAM);
  err = 0;
  EXPECT_EQ(DIBSizeBytes(err, 3, 2, 4, 17), 0u);  // more colours than 4 bits index
  EXPECT_EQ(err, IS_ERR_BADPARAM);
  err = 0;
  EXPECT_EQ(DIBSizeBytes(err, 100000, 100000, 24, 0), 0u);
  EXPECT_EQ(err, IS_ERR_NOMEM);

  BYTE hdr[40] = {};
  WriteLE32(hdr, 40);
  WriteLE32(hdr + 4, 7);
  WriteLE32(hdr + 8, static_cast<DWORD>(-5));
  LONG v = 99;
  err = 0;
  ASSERT_TRUE(GetDIBWidth(err, hdr, &v));
  EXPECT_EQ(v, 7);
  ASSERT_TRUE(GetDIBHeight(err, hdr, &v));
  EXPECT_EQ(v, -5);
  WriteLE32(hdr, 12);
  EXPECT_FALSE(GetDIBWidth(err, hdr, &v));
  EXPECT_EQ(v, 0);
  EXPECT_EQ(err, IS_ERR_BADPARAM);
  EXPECT_FALSE(GetDIBHeight(err, nullptr, &v));
  EXPECT_EQ(DIBBitsPtr(err, hdr), nullptr);
}

TEST(DIB, PaletteDIBsRoundTrip) {
  std::mt19937 rng(11);
  for (DWORD bits : {1u, 4u, 8u}) {
    for (DWORD count : {0u, 2u, 1u << bits}) {
      const DWORD w = 13, h = 5;
      const DWORD entries = count ? count : 1u << bits;
      const auto table = GreyRamp(1u << bits);
      std::vector<BYTE> idx(w * h);
      for (auto& i : idx) i = static_cast<BYTE>(rng() % (1u << bits));
      ISErrorCode err = 0;
      void* dib = IndexedToDIB(err, idx.data(), w, h, count, bits, table.data(), nullptr);
      ASSERT_NE(dib, nullptr) << bits;
      const BITMAPINFOHEADER hd = ReadDIBHeader(dib);
      EXPECT_EQ(hd.biSize, 40u);
      EXPECT_EQ(hd.biWidth, 13);
      EXPECT_EQ(hd.biHeight, 5);
      EXPECT_EQ(hd.biPlanes, 1);
      EXPECT_EQ(hd.biBitCount, bits);
      EXPECT_EQ(hd.biSizeImage, DIBRowBytes(w, bits) * h);
      EXPECT_EQ(hd.biClrUsed, count);
      EXPECT_EQ(DIBColourCount(hd), entries);
      const BYTE* rows = DIBBitsPtr(err, dib);
      EXPECT_EQ(rows - static_cast<BYTE*>(dib), static_cast<ptrdiff_t>(40 + 4 * entries));
      // The last source row is stored first.
      EXPECT_EQ(rows[0] >> (8 - bits), idx[(h - 1) * w]);
      std::vector<BYTE> rgb(w * h * 3);
      ASSERT_TRUE(DIBToRGB(err, dib, rgb.data()));
      EXPECT_EQ(rgb, Expand(idx, table, entries)) << bits << " " << count;
      GlobalFree(dib);
    }
  }
  // Into a caller's buffer; indices past a 2-entry table read entry 0.
  ISErrorCode err = 0;
  const auto table = GreyRamp(256);
  const std::vector<BYTE> idx = {0, 1, 2, 255};
  std::vector<BYTE> buf(DIBSizeBytes(err, 2, 2, 8, 2), 0xEE);
  ASSERT_EQ(IndexedToDIB(err, idx.data(), 2, 2, 2, 8, table.data(), buf.data()), buf.data());
  EXPECT_EQ(buf[40 + 8 + 2], 0);  // row padding written as 0
  std::vector<BYTE> rgb(12);
  ASSERT_TRUE(DIBToRGB(err, buf.data(), rgb.data()));
  EXPECT_EQ(rgb, Expand(idx, table, 2));

  EXPECT_EQ(IndexedToDIB(err, idx.data(), 2, 2, 0, 2, table.data(), nullptr), nullptr);
  EXPECT_EQ(err, IS_ERR_BADPARAM);
  err = 0;
  EXPECT_EQ(IndexedToDIB(err, nullptr, 2, 2, 0, 8, table.data(), nullptr), nullptr);
  EXPECT_EQ(err, IS_ERR_BADPARAM);
  err = 0;
  EXPECT_EQ(IndexedToDIB(err, idx.data(), 2, 2, 3, 1, table.data(), nullptr), nullptr);
  EXPECT_EQ(err, IS_ERR_BADPARAM);
}

TEST(DIB, RGBAndRGBADIBs) {
  ISErrorCode err = 0;
  // A 1 x 2 image whose top pixel is red: that pixel is the second stored row, at byte 44, as
  // B, G, R = 0, 0, 255.
  const BYTE rgb[] = {255, 0, 0, 0, 0, 255};
  void* dib = RGBToDIB(err, rgb, 1, 2, nullptr, 0);
  ASSERT_NE(dib, nullptr);
  const BYTE* p = static_cast<const BYTE*>(dib);
  const BITMAPINFOHEADER h = ReadDIBHeader(dib);
  EXPECT_EQ(h.biBitCount, 24);
  EXPECT_EQ(h.biSizeImage, 8u);
  EXPECT_EQ(h.biClrUsed, 0u);
  EXPECT_EQ(p[44], 0);
  EXPECT_EQ(p[45], 0);
  EXPECT_EQ(p[46], 255);
  EXPECT_EQ(p[40], 255);  // the bottom pixel, blue
  BYTE back[6];
  ASSERT_TRUE(DIBToRGB(err, dib, back));
  EXPECT_EQ(0, memcmp(back, rgb, 6));
  GlobalFree(dib);
  // Flag bit 0 keeps the byte order; a caller's buffer gets zero row padding.
  std::vector<BYTE> buf(DIBSizeBytes(err, 1, 2, 24, 0), 0xEE);
  ASSERT_EQ(RGBToDIB(err, rgb, 1, 2, buf.data(), 1), buf.data());
  EXPECT_EQ(buf[44], 255);
  EXPECT_EQ(buf[47], 0);
  EXPECT_EQ(RGBToDIB(err, rgb, 0, 2, nullptr, 0), nullptr);
  EXPECT_EQ(err, IS_ERR_BADPARAM);
  err = 0;
  EXPECT_EQ(RGBToDIB(err, nullptr, 1, 2, nullptr, 0), nullptr);
  EXPECT_EQ(err, IS_ERR_BADPARAM);

  const BYTE rgba[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};  // 1 x 3
  dib = RGBAToDIB(err, rgba, 1, 3, nullptr);
  ASSERT_NE(dib, nullptr);
  p = static_cast<const BYTE*>(dib);
  EXPECT_EQ(ReadDIBHeader(dib).biSizeImage, 12u);
  const BYTE want[] = {11, 10, 9, 12, 7, 6, 5, 8, 3, 2, 1, 4};
  EXPECT_EQ(0, memcmp(p + 40, want, 12));
  GlobalFree(dib);
}

TEST(DIB, DeepDIBsAndBitFieldsReadBack) {
  ISErrorCode err = 0;
  // 32 bits, bit fields for R, G, B, x bytes, top-down (negative height), 1 x 2.
  std::vector<BYTE> dib(40 + 12 + 8);
  BITMAPINFOHEADER h = {};
  h.biSize = 40;
  h.biWidth = 1;
  h.biHeight = -2;
  h.biPlanes = 1;
  h.biBitCount = 32;
  h.biCompression = BI_BITFIELDS;
  WriteDIBHeader(dib.data(), h);
  WriteLE32(&dib[40], 0x000000FF);
  WriteLE32(&dib[44], 0x0000FF00);
  WriteLE32(&dib[48], 0x00FF0000);
  const BYTE px[] = {10, 20, 30, 0, 40, 50, 60, 0};
  std::copy(px, px + 8, dib.begin() + 52);
  EXPECT_EQ(DIBBitsPtr(err, dib.data()), dib.data() + 52);
  BYTE rgb[6];
  ASSERT_TRUE(DIBToRGB(err, dib.data(), rgb));
  const BYTE want[] = {10, 20, 30, 40, 50, 60};
  EXPECT_EQ(0, memcmp(rgb, want, 6));

  // 16 bits 5-6-5, bottom-up.
  h.biBitCount = 16;
  h.biHeight = 2;
  WriteDIBHeader(dib.data(), h);
  WriteLE32(&dib[40], 0xF800);
  WriteLE32(&dib[44], 0x07E0);
  WriteLE32(&dib[48], 0x001F);
  WriteLE16(&dib[52], 0xF800);  // stored first = bottom row: red
  WriteLE16(&dib[56], 0x001F);  // top row: blue
  ASSERT_TRUE(DIBToRGB(err, dib.data(), rgb));
  const BYTE want16[] = {0, 0, 248, 248, 0, 0};
  EXPECT_EQ(0, memcmp(rgb, want16, 6));

  // Run-length compression and odd depths are refused.
  h.biCompression = BI_RLE8;
  h.biBitCount = 8;
  WriteDIBHeader(dib.data(), h);
  EXPECT_FALSE(DIBToRGB(err, dib.data(), rgb));
  EXPECT_EQ(err, IS_ERR_BADPARAM);
  err = 0;
  h.biCompression = BI_RGB;
  h.biBitCount = 2;
  WriteDIBHeader(dib.data(), h);
  EXPECT_FALSE(DIBToRGB(err, dib.data(), rgb));
  EXPECT_EQ(err, IS_ERR_BADPARAM);
}

TEST(DIB, PaletteDIBReadsBackInImageMagick) {
  QRV_REQUIRE_TOOL("convert");
  qrvtest::TempDir dir;
  std::mt19937 rng(5);
  for (DWORD bits : {1u, 4u, 8u}) {
    const DWORD w = 19, h = 7;
    std::vector<RGBQUAD> table(1u << bits);
    for (auto& q : table) q = RGBQUAD{static_cast<BYTE>(rng()), static_cast<BYTE>(rng()), static_cast<BYTE>(rng()), 0};
    std::vector<BYTE> idx(w * h);
    for (auto& i : idx) i = static_cast<BYTE>(rng() % (1u << bits));
    ISErrorCode err = 0;
    void* dib = IndexedToDIB(err, idx.data(), w, h, 0, bits, table.data(), nullptr);
    ASSERT_NE(dib, nullptr);
    const std::string path = dir.File("p" + std::to_string(bits) + ".bmp");
    ASSERT_TRUE(qrvtest::WriteFileBytes(path, AsBMPFile(dib, DIBSizeBytes(err, w, h, bits, 0))));
    GlobalFree(dib);
    int status = 0;
    const std::string out = qrvtest::RunCommand("convert '" + path + "' -depth 8 rgb:- 2>/dev/null", &status);
    ASSERT_EQ(status, 0);
    const auto want = Expand(idx, table, 1u << bits);
    ASSERT_EQ(out.size(), want.size()) << bits;
    EXPECT_EQ(0, memcmp(out.data(), want.data(), want.size())) << bits;
  }
  // A 24-bit DIB of an odd width (padded rows).
  const DWORD w = 7, h = 5;
  std::vector<BYTE> rgb(w * h * 3);
  for (auto& v : rgb) v = static_cast<BYTE>(rng());
  ISErrorCode err = 0;
  void* dib = RGBToDIB(err, rgb.data(), w, h, nullptr, 0);
  ASSERT_NE(dib, nullptr);
  const std::string path = dir.File("rgb.bmp");
  ASSERT_TRUE(qrvtest::WriteFileBytes(path, AsBMPFile(dib, DIBSizeBytes(err, w, h, 24, 0))));
  GlobalFree(dib);
  int status = 0;
  const std::string out = qrvtest::RunCommand("convert '" + path + "' -depth 8 rgb:- 2>/dev/null", &status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(out.size(), rgb.size());
  EXPECT_EQ(0, memcmp(out.data(), rgb.data(), rgb.size()));
}
