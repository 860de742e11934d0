// The PNG suite read at 24, 32, 48 and 64 bits and as stored, against ImageMagick's decoding of
// the same files. libpng reduces 16-bit samples to their high byte, so the references are
// ImageMagick's 16-bit samples cut the same way; composited alpha pixels may differ by one
// level, since libpng rounds the blend in integers and ImageMagick in floating point.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "imaging/core/ISDIB.h"
#include "png_test_util.h"

namespace {

using pngtest::Bytes;

// The high bytes of big-endian 16-bit samples.
Bytes HighBytes(const Bytes& samples16) {
  Bytes out(samples16.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) out[i] = samples16[2 * i];
  return out;
}

// Big-endian 16-bit samples to the reader's least-significant-first order.
Bytes SwapPairs(Bytes samples16) {
  for (size_t i = 0; i + 1 < samples16.size(); i += 2) std::swap(samples16[i], samples16[i + 1]);
  return samples16;
}

void ExpectClose(const Bytes& got, const Bytes& want, int tolerance, const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  int worst = 0;
  size_t at = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    const int d = std::abs(int{got[i]} - int{want[i]});
    if (d > worst) worst = d, at = i;
  }
  EXPECT_LE(worst, tolerance) << what << " at byte " << at;
}

struct SuiteFile {
  std::string path, name;
  Bytes png;
  int bitDepth = 0, colourType = 0;
  bool alpha = false, bkgd = false;
};

std::vector<SuiteFile> Suite() {
  std::vector<SuiteFile> files;
  for (const auto& path : qrvtest::TestDataFiles("png")) {
    SuiteFile f;
    f.path = path;
    f.name = path.substr(path.rfind('/') + 1);
    f.png = qrvtest::ReadFileBytes(path);
    if (f.png.size() < 26) continue;
    f.bitDepth = f.png[24];
    f.colourType = f.png[25];
    f.alpha = (f.colourType & 4) != 0;
    f.bkgd = pngtest::FindChunk(f.png, "bKGD") != 0;
    files.push_back(std::move(f));
  }
  return files;
}

TEST(PNGSuite, TwentyFourBitsEqualImageMagickFlattenedOnTheFileBackgroundOrBlack) {
  QRV_REQUIRE_TESTDATA("png");
  QRV_REQUIRE_TOOL("convert");
  for (const auto& f : Suite()) {
    auto r = pngtest::ReadPNG(f.png, 24);
    ASSERT_TRUE(r.ok) << f.name << " error " << r.error;
    EXPECT_EQ(r.width, 32u) << f.name;
    EXPECT_EQ(r.height, 32u) << f.name;
    const Bytes ref = HighBytes(pngtest::MagickPixels(f.path, "rgb", f.bkgd ? "file" : "black", 16));
    ExpectClose(r.image, ref, f.alpha ? 1 : 0, f.name);
  }
}

TEST(PNGSuite, RGBAAndSixteenBitReadsEqualImageMagick) {
  QRV_REQUIRE_TESTDATA("png");
  QRV_REQUIRE_TOOL("convert");
  for (const auto& f : Suite()) {
    const Bytes rgba16 = pngtest::MagickPixels(f.path, "rgba", "", 16);
    auto r32 = pngtest::ReadPNG(f.png, 32);
    ASSERT_TRUE(r32.ok) << f.name << " error " << r32.error;
    ExpectClose(r32.image, HighBytes(rgba16), 0, f.name + " at 32 bits");

    auto r64 = pngtest::ReadPNG(f.png, 64);
    auto r48 = pngtest::ReadPNG(f.png, 48);
    if (f.bitDepth != 16) {
      // 8-bit samples cannot fill 16-bit rows.
      EXPECT_EQ(r64.error, IS_ERR_INTERNAL) << f.name;
      EXPECT_FALSE(r48.ok) << f.name;
      continue;
    }
    ASSERT_TRUE(r64.ok) << f.name << " error " << r64.error;
    ExpectClose(r64.image, SwapPairs(rgba16), 0, f.name + " at 64 bits");
    if (f.colourType == 2 || f.colourType == 6) {
      ASSERT_TRUE(r48.ok) << f.name << " error " << r48.error;
      if (!f.alpha)
        ExpectClose(r48.image, SwapPairs(pngtest::MagickPixels(f.path, "rgb", f.bkgd ? "file" : "black", 16)), 0,
                    f.name + " at 48 bits");
    }
  }
}

TEST(PNGSuite, AsStoredDIBsHoldTheFilesOwnFormat) {
  QRV_REQUIRE_TESTDATA("png");
  QRV_REQUIRE_TOOL("convert");
  for (const auto& f : Suite()) {
    auto r = pngtest::ReadPNG(f.png, 0, IS_READ_AS_STORED);
    ASSERT_TRUE(r.ok) << f.name << " error " << r.error;
    const BITMAPINFOHEADER hd = ReadDIBHeader(r.image.data());
    const int expectedBits = f.bitDepth == 1                                      ? 1
                             : f.colourType == 3 && f.bitDepth <= 4               ? 4
                             : f.colourType == 3 || f.colourType == 0             ? 8
                             : f.colourType == 2                                  ? 24
                                                                                  : 32;
    ASSERT_EQ(hd.biBitCount, expectedBits) << f.name;
    EXPECT_EQ(hd.biWidth, 32) << f.name;
    EXPECT_EQ(hd.biHeight, 32) << f.name;
    ISErrorCode e = IS_ERR_OK;
    const BYTE* bits = DIBBitsPtr(e, r.image.data());
    const uint64_t stride = DIBRowBytes(32, expectedBits);
    ASSERT_EQ(r.image.size(), static_cast<size_t>(bits - r.image.data()) + stride * 32) << f.name;

    if (f.colourType == 3 || expectedBits == 32) {
      // Palette indices and alphas are kept: compare R, G, B, A with the unflattened file.
      const Bytes ref = HighBytes(pngtest::MagickPixels(f.path, "rgba", "", 16));
      const auto* table = reinterpret_cast<const RGBQUAD*>(r.image.data() + kDIBHeaderBytes);
      Bytes got;
      for (int y = 31; y >= 0; --y) {
        const BYTE* row = bits + uint64_t(y) * stride;
        for (int x = 0; x < 32; ++x) {
          RGBQUAD q;
          if (expectedBits == 32) {
            q = RGBQUAD{row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]};
          } else {
            const int shift = 8 - expectedBits - (x * expectedBits) % 8;
            q = table[(row[x * expectedBits / 8] >> shift) & ((1 << expectedBits) - 1)];
          }
          got.insert(got.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue, q.rgbReserved});
        }
      }
      ExpectClose(got, ref, 0, f.name + " as stored");
    } else {
      Bytes rgb(32 * 32 * 3);
      ASSERT_TRUE(DIBToRGB(e, r.image.data(), rgb.data())) << f.name;
      const Bytes ref = HighBytes(pngtest::MagickPixels(f.path, "rgb", f.bkgd ? "file" : "black", 16));
      ExpectClose(rgb, ref, 0, f.name + " as stored");
    }
  }
}

}  // namespace
