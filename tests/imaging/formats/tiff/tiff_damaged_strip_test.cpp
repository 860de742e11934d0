// Strips and tiles whose decoder writes only part of them, whether libtiff then reports success
// or failure: every pixel the decoder did not write comes out as the reader's fill, and the read
// leaves a warning. What was not written is told without knowledge of the reader: the same
// stored bytes decoded by libtiff into a buffer of 0x00 and into one of 0xFF differ there.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <cstring>
#include <string>

#include "imaging/formats/tiff/TIFFRead.h"
#include "tiff_test_util.h"

using namespace tifftest;

namespace {

enum class Damage { kTaller, kWider, kCut, kJunk, kZeroTail };

struct Case {
  const char* name;
  uint16_t compression;
  uint16_t bits, samples, photometric;
  uint32_t tile;  // 0: strips of stripRows rows
  Damage damage;
  DWORD depth;  // read at
  uint32_t faxOptions = 0;
  uint16_t predictor = PREDICTOR_NONE;
  uint32_t stripRows = 16;
};

constexpr uint32_t kWidth = 64, kHeight = 32;

uint8_t Sample(const Case& c, uint32_t x, uint32_t y, uint32_t s) {
  if (c.bits == 1) return ((x / 5 + y / 3) % 3 == 0) ? 1 : 0;
  return static_cast<uint8_t>(c.compression == COMPRESSION_JPEG ? x * 3 + y * 5 + s * 60
                                                                 : (x * 7 + y * 131 + s * 17) * 2654435761u >> 24);
}

// The page of the case written whole by libtiff, as a little-endian file.
Bytes WritePage(const Case& c) {
  qrvtest::TempDir dir;
  const std::string path = dir.File("page.tif");
  TIFF* tif = TIFFOpen(path.c_str(), "wl");
  if (!tif) return {};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, c.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, c.samples);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, c.photometric);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, c.compression);
  if (c.faxOptions) TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, c.faxOptions);
  if (c.predictor != PREDICTOR_NONE) TIFFSetField(tif, TIFFTAG_PREDICTOR, c.predictor);
  if (c.predictor == PREDICTOR_FLOATINGPOINT) TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
  if (c.photometric == PHOTOMETRIC_YCBCR) {
    TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  }
  if (c.tile) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, c.tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, c.tile);
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, c.stripRows);
  }
  const uint32_t across = c.tile ? c.tile : kWidth, down = c.tile ? c.tile : c.stripRows;
  const uint64_t rowBytes = (uint64_t{across} * c.bits * c.samples + 7) / 8;
  bool ok = true;
  for (uint32_t y0 = 0; y0 < kHeight && ok; y0 += down)
    for (uint32_t x0 = 0; x0 < kWidth && ok; x0 += across) {
      Bytes area(rowBytes * down);
      for (uint32_t y = 0; y < down; ++y)
        for (uint32_t x = 0; x < across; ++x)
          for (uint32_t s = 0; s < c.samples; ++s) {
            const uint8_t v = Sample(c, x0 + x, y0 + y, s);
            if (c.bits == 1)
              area[y * rowBytes + x / 8] |= static_cast<uint8_t>(v << (7 - x % 8));
            else if (c.bits == 16)
              for (int b = 0; b < 2; ++b) area[y * rowBytes + (x * c.samples + s) * 2 + b] = v;
            else
              area[y * rowBytes + x * c.samples + s] = v;
          }
      const auto n = static_cast<tmsize_t>(area.size());
      ok = c.tile ? TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, x0, y0, 0, 0), area.data(), n) >= 0
                  : TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, y0, 0), area.data(), n) >= 0;
    }
  ok = ok && TIFFWriteDirectory(tif);
  TIFFClose(tif);
  return ok ? qrvtest::ReadFileBytes(path) : Bytes{};
}

// The whole page with its damage: the header claiming strips or tiles twice as tall or as wide
// as their data, or the data of strip or tile 1 cut, or overwritten by a junk byte, or zeroed at
// its end; the `step`th of the places where junk or zeros can go.
Bytes WithDamage(const Case& c, Bytes file, uint32_t step) {
  const uint16_t counts = c.tile ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS;
  const uint16_t offsets = c.tile ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS;
  const uint32_t at = GetEntry(file, offsets, 1), count = GetEntry(file, counts, 1);
  switch (c.damage) {
    case Damage::kTaller:
      SetEntry(file, TIFFTAG_IMAGELENGTH, 0, kHeight * 2);
      SetEntry(file, c.tile ? TIFFTAG_TILELENGTH : TIFFTAG_ROWSPERSTRIP, 0, (c.tile ? c.tile : c.stripRows) * 2);
      break;
    case Damage::kWider:
      SetEntry(file, TIFFTAG_IMAGEWIDTH, 0, kWidth * 2);
      if (c.tile) SetEntry(file, TIFFTAG_TILEWIDTH, 0, c.tile * 2);
      break;
    case Damage::kCut: return Damaged(file, c.tile != 0, 1, 0.4);
    case Damage::kJunk: file[at + (count / 8 + step) % count] ^= static_cast<uint8_t>((step * 37 + 11) | 1); break;
    case Damage::kZeroTail:
      for (uint32_t i = count - 1 - step % count; i < count; ++i) file[at + i] = 0;
      break;
  }
  return file;
}

// Which pixels of the page no decoder wrote: each strip or tile's stored bytes (those the file
// holds) decoded into 0x00 and into 0xFF.
// *shortSuccess: libtiff reported success for a strip or tile that it did not write whole.
std::vector<bool> Unwritten(const Case& c, const Bytes& file, uint32_t* width, uint32_t* height,
                            bool* shortSuccess) {
  qrvtest::TempDir dir;
  const std::string path = dir.File("damaged.tif");
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return {};
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
  }
  TIFFSetWarningHandler(nullptr);
  TIFFSetErrorHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return {};
  if (c.photometric == PHOTOMETRIC_YCBCR) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, height);
  uint32_t across = *width, down = 0;
  if (c.tile) {
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &across);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &down);
  } else {
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &down);
  }
  const auto size = static_cast<uint64_t>(c.tile ? TIFFTileSize(tif) : TIFFStripSize(tif));
  const uint64_t rowBytes = size / down;
  const uint32_t pixelBytes = c.bits * c.samples / 8;
  std::vector<bool> unwritten(size_t{*width} * *height);
  *shortSuccess = false;
  uint32_t index = 0;
  for (uint32_t y0 = 0; y0 < *height; y0 += down)
    for (uint32_t x0 = 0; x0 < *width; x0 += across, ++index) {
      const uint32_t offset = GetEntry(file, c.tile ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS, index);
      uint32_t count = GetEntry(file, c.tile ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, index);
      count = std::min<uint32_t>(count, static_cast<uint32_t>(file.size() - offset));
      Bytes decoded[2] = {Bytes(size, 0x00), Bytes(size, 0xFF)};
      bool success = true;
      for (Bytes& d : decoded) {
        Bytes raw(file.begin() + offset, file.begin() + offset + count);
        const auto n = static_cast<tmsize_t>(size);
        success = TIFFReadFromUserBuffer(tif, index, raw.data(), count, d.data(), n) && success;
      }
      *shortSuccess = *shortSuccess || (success && decoded[0] != decoded[1]);
      for (uint32_t y = 0; y < down && y0 + y < *height; ++y)
        for (uint32_t x = 0; x < across && x0 + x < *width; ++x) {
          const uint64_t at = y * rowBytes + (c.bits == 1 ? x / 8 : x * pixelBytes);
          const uint8_t mask = c.bits == 1 ? static_cast<uint8_t>(0x80 >> (x % 8)) : 0xFF;
          bool differs = false;
          for (uint32_t b = 0; b < std::max(1u, pixelBytes); ++b)
            differs = differs || ((decoded[0][at + b] ^ decoded[1][at + b]) & mask) != 0;
          unwritten[size_t{y0 + y} * *width + x0 + x] = differs;
        }
    }
  TIFFClose(tif);
  return unwritten;
}

// Whether pixel i of a read at `depth` is the reader's fill: white for one bit, mid grey else.
bool IsFill(const ReadResult& r, DWORD depth, size_t i) {
  switch (depth) {
    case 1: return ((r.image[i / r.width * ((r.width + 7) / 8) + i % r.width / 8] >> (7 - i % r.width % 8)) & 1) == 0;
    case 16: return r.image[i * 2] == 0x80 && r.image[i * 2 + 1] == 0x80;
    case 24: return r.image[i * 3] == 128 && r.image[i * 3 + 1] == 128 && r.image[i * 3 + 2] == 128;
    default: return r.image[i] == 128;
  }
}

}  // namespace

TEST(TIFFDamagedStrips, WhatNoDecoderWroteIsTheFill) {
  const uint16_t kWhite = PHOTOMETRIC_MINISWHITE, kBlack = PHOTOMETRIC_MINISBLACK;
  const Case cases[] = {
      {"G3 1-D with fewer rows", COMPRESSION_CCITTFAX3, 1, 1, kWhite, 0, Damage::kTaller, 1},
      {"G3 2-D with fewer rows", COMPRESSION_CCITTFAX3, 1, 1, kWhite, 0, Damage::kTaller, 1, GROUP3OPT_2DENCODING},
      {"G3 2-D with fill bits cut", COMPRESSION_CCITTFAX3, 1, 1, kWhite, 0, Damage::kCut, 1,
       GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS},
      {"G3 1-D cut", COMPRESSION_CCITTFAX3, 1, 1, kBlack, 0, Damage::kCut, 24},
      {"G4 cut", COMPRESSION_CCITTFAX4, 1, 1, kWhite, 0, Damage::kCut, 1},
      {"G4 end of block early", COMPRESSION_CCITTFAX4, 1, 1, kWhite, 0, Damage::kTaller, 1},
      {"G4 tiles end of block early", COMPRESSION_CCITTFAX4, 1, 1, kBlack, 16, Damage::kTaller, 1},
      {"JBIG with fewer rows", COMPRESSION_JBIG, 1, 1, kWhite, 0, Damage::kTaller, 1, 0, PREDICTOR_NONE, kHeight},
      {"JPEG grey with fewer rows", COMPRESSION_JPEG, 8, 1, kBlack, 0, Damage::kTaller, 8},
      {"JPEG grey with fewer columns", COMPRESSION_JPEG, 8, 1, kBlack, 0, Damage::kWider, 8},
      {"JPEG grey tiles with fewer columns", COMPRESSION_JPEG, 8, 1, kBlack, 16, Damage::kWider, 24},
      {"JPEG YCbCr with fewer rows", COMPRESSION_JPEG, 8, 3, PHOTOMETRIC_YCBCR, 0, Damage::kTaller, 24},
      {"JPEG YCbCr tiles with fewer columns", COMPRESSION_JPEG, 8, 3, PHOTOMETRIC_YCBCR, 16, Damage::kWider, 24},
      {"deflate with junk", COMPRESSION_ADOBE_DEFLATE, 8, 1, kBlack, 0, Damage::kJunk, 8},
      {"deflate RGB tiles with junk", COMPRESSION_ADOBE_DEFLATE, 8, 3, PHOTOMETRIC_RGB, 16, Damage::kJunk, 24},
      {"16-bit deflate with the predictor and junk", COMPRESSION_ADOBE_DEFLATE, 16, 1, kBlack, 0, Damage::kJunk, 16,
       0, PREDICTOR_HORIZONTAL},
      {"RGB deflate tiles with the predictor and junk", COMPRESSION_ADOBE_DEFLATE, 8, 3, PHOTOMETRIC_RGB, 16,
       Damage::kJunk, 24, 0, PREDICTOR_HORIZONTAL},
      {"16-bit deflate with the floating-point predictor and junk", COMPRESSION_ADOBE_DEFLATE, 16, 1, kBlack, 0,
       Damage::kJunk, 16, 0, PREDICTOR_FLOATINGPOINT},
      {"16-bit deflate with the predictor, tail zeroed", COMPRESSION_ADOBE_DEFLATE, 16, 1, kBlack, 0,
       Damage::kZeroTail, 16, 0, PREDICTOR_HORIZONTAL},
      {"LZW cut", COMPRESSION_LZW, 8, 1, kBlack, 0, Damage::kCut, 8},
      {"PackBits cut", COMPRESSION_PACKBITS, 8, 1, kBlack, 0, Damage::kCut, 8},
      {"PixarLog cut", COMPRESSION_PIXARLOG, 8, 1, kBlack, 0, Damage::kCut, 8},
      {"LERC cut", COMPRESSION_LERC, 8, 1, kBlack, 0, Damage::kCut, 8},
      {"LZMA cut", COMPRESSION_LZMA, 8, 1, kBlack, 0, Damage::kCut, 8},
      {"Zstandard cut", COMPRESSION_ZSTD, 8, 1, kBlack, 0, Damage::kCut, 8},
      {"WebP cut", COMPRESSION_WEBP, 8, 3, PHOTOMETRIC_RGB, 0, Damage::kCut, 24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!TIFFIsCODECConfigured(c.compression)) continue;
    const Bytes whole = WritePage(c);
    ASSERT_FALSE(whole.empty());
    // Junk or zeros where libtiff reports success for the strip or tile.
    Bytes file;
    uint32_t width = 0, height = 0;
    std::vector<bool> unwritten;
    bool shortSuccess = false;
    for (uint32_t step = 0; step < 200 && !shortSuccess; ++step) {
      file = WithDamage(c, whole, step);
      unwritten = Unwritten(c, file, &width, &height, &shortSuccess);
      if (c.damage != Damage::kJunk && c.damage != Damage::kZeroTail) break;
    }
    EXPECT_TRUE(shortSuccess || c.damage == Damage::kCut || c.damage == Damage::kZeroTail);
    const ReadResult r = ReadTIFFBytes(file, c.depth);
    ASSERT_TRUE(r.ok) << r.error << " " << r.warning;
    ASSERT_EQ(r.width, width);
    ASSERT_EQ(r.height, height);
    size_t count = 0, shown = 0;
    for (size_t i = 0; i < unwritten.size(); ++i) {
      count += unwritten[i];
      shown += unwritten[i] && !IsFill(r, c.depth, i);
    }
    EXPECT_GT(count, 0u);
    EXPECT_EQ(shown, 0u) << "of " << count << " pixels not written";
    EXPECT_NE(r.warning, "");
  }
}
