// Codec headers read before their libraries see a strip: JBIG and WebP headers that are not
// their strip's refuse the page, while Zstandard windows and LZMA dictionaries, which a strip
// decoded into its own buffer never reserves, do not; pages that libtiff writes in those
// codecs still read.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <string>

#include "tiff_test_util.h"

using namespace tifftest;

namespace {

// A one-strip page of width x height in `compression`, 1-bit or (with `rgb`) 8-bit RGB: `bytes`
// are its stored bytes, or with `encode` its rows for libtiff to encode.
Bytes OnePage(uint32_t width, uint32_t height, uint16_t compression, const Bytes& bytes, bool encode = false,
              bool rgb = false) {
  qrvtest::TempDir dir;
  const std::string path = dir.File("raw.tif");
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return {};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, rgb ? 8 : 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, rgb ? 3 : 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, rgb ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
  auto* data = const_cast<uint8_t*>(bytes.data());
  const auto n = static_cast<tmsize_t>(bytes.size());
  const bool ok = (encode ? TIFFWriteEncodedStrip(tif, 0, data, n) : TIFFWriteRawStrip(tif, 0, data, n)) >= 0 &&
                  TIFFWriteDirectory(tif);
  TIFFClose(tif);
  return ok ? qrvtest::ReadFileBytes(path) : Bytes{};
}

uint8_t Reversed(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | ((b >> i) & 1) << (7 - i));
  return r;
}

// A JBIG stream header of `planes` planes of xd x yd with `options` among its options, then
// `tail`, bit-reversed as libtiff stores JBIG data of the usual fill order.
Bytes JBIGStream(uint32_t planes, uint32_t xd, uint32_t yd, const Bytes& tail = Bytes(64, 0), uint8_t options = 0) {
  Bytes b = {0, 0, static_cast<uint8_t>(planes), 0};
  for (uint32_t v : {xd, yd, 128u})
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
  b.insert(b.end(), {0, 0, 3, static_cast<uint8_t>(0x1C | options)});
  b.insert(b.end(), tail.begin(), tail.end());
  for (uint8_t& c : b) c = Reversed(c);
  return b;
}

// A lossless WebP header naming a picture of width x height.
Bytes WebPStream(uint32_t width, uint32_t height) {
  const uint32_t sides = (width - 1) | (height - 1) << 14;
  Bytes b = {'R', 'I', 'F', 'F', 4 + 8 + 45, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'L', 45, 0, 0, 0, 0x2F};
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(sides >> (8 * i)));
  b.resize(b.size() + 40, 0);
  return b;
}

// An xz stream of two blocks: 100 zero bytes with a dictionary of 1 MB, then a block header
// naming a dictionary of 4 GB.
Bytes TwoBlockLZMA() {
  return {0xFD, 0x37, 0x7A, 0x58, 0x5A, 0x00, 0x00, 0x00, 0xFF, 0x12, 0xD9, 0x41, 0x02, 0x00, 0x21, 0x01, 0x10,
          0x00, 0x00, 0x00, 0xA8, 0x70, 0x8E, 0x86, 0xE0, 0x00, 0x63, 0x00, 0x06, 0x5D, 0x00, 0x00, 0x6E, 0xA0,
          0x45, 0x78, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x21, 0x01, 0x28, 0x00, 0x00, 0x00, 0xE6, 0xA0, 0x11,
          0xB3, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
}

// JBIG data whose NEWLEN marker (a height of `rows`) lies 3000 bytes in.
Bytes LateNewHeight(uint8_t rows = 20) {
  Bytes b(3008, 0);
  b[3000] = 0xFF;
  b[3001] = 0x05;
  b[3005] = rows;
  return b;
}

}  // namespace

TEST(TIFFCodecGuard, HeadersThatClaimMoreThanTheirStripAreRefused) {
  // A Zstandard frame header whose window descriptor is `w`, then a few bytes.
  const auto zstd = [](uint8_t w) { return Bytes{0x28, 0xB5, 0x2F, 0xFD, 0x00, w, 1, 2, 3}; };
  const struct {
    const char* name;
    uint16_t compression;
    Bytes raw;
    const char* reason;  // null: not refused by the header (the data themselves do not decode)
    bool refused = true;  // else the strip is damaged data and the page reads with the reason
  } rows[] = {
      {"JBIG 2^31 x 2^31", COMPRESSION_JBIG, JBIGStream(1, 1u << 31, 1u << 31), "JBIG header of TIFF strip 0"},
      {"JBIG 65536 x 65536", COMPRESSION_JBIG, JBIGStream(1, 65536, 65536), "claims 1 plane(s) of 65536 x 65536"},
      {"JBIG 131072 x 131072", COMPRESSION_JBIG, JBIGStream(1, 131072, 131072), "JBIG header"},
      {"JBIG two planes", COMPRESSION_JBIG, JBIGStream(2, 64, 48), "2 plane(s)"},
      {"JBIG a row long", COMPRESSION_JBIG, JBIGStream(1, 64, 49), "not the strip's 64 x 48"},
      {"JBIG a row short, read as damaged", COMPRESSION_JBIG, JBIGStream(1, 64, 47), "invalid data", false},
      {"JBIG a column wide", COMPRESSION_JBIG, JBIGStream(1, 65, 48), "JBIG header"},
      // libjbig takes no NEWLEN right after the header: the header's height stands.
      {"JBIG new height", COMPRESSION_JBIG, JBIGStream(1, 64, 100, {0xFF, 0x05, 0, 0, 0, 60, 0, 0}),
       "claims 1 plane(s) of 64 x 100"},
      {"JBIG new height past the page's first look", COMPRESSION_JBIG,
       JBIGStream(1, 64, 0xFFFFFFFF, LateNewHeight(60), 0x20), "sets its height to 60", false},
      {"JBIG new height short, read as damaged", COMPRESSION_JBIG, JBIGStream(1, 64, 48, LateNewHeight()),
       "invalid data", false},
      {"JBIG the strip's size", COMPRESSION_JBIG, JBIGStream(1, 64, 48), nullptr},
      {"JBIG of a length told right after the header", COMPRESSION_JBIG,
       JBIGStream(1, 64, 0xFFFFFFFF, {0xFF, 0x05, 0, 0, 0, 48, 0, 0}, 0x20), "64 x 4294967295"},
      {"JBIG of a length told past the page's first look", COMPRESSION_JBIG,
       JBIGStream(1, 64, 0xFFFFFFFF, LateNewHeight(48), 0x20), nullptr},
      {"WebP of 16384 x 16384", COMPRESSION_WEBP, WebPStream(16384, 16384), "WebP header of TIFF strip 0 claims"},
      {"WebP the strip's size", COMPRESSION_WEBP, WebPStream(64, 48), nullptr},
      // Decoded into the strip itself: a window or dictionary of any size reserves nothing.
      {"Zstandard window of 128 MB", COMPRESSION_ZSTD, zstd(0x88), nullptr},
      {"Zstandard window of 1 MB", COMPRESSION_ZSTD, zstd(0x50), nullptr},
      {"LZMA dictionary of 4 GB", COMPRESSION_LZMA,
       {0xFD, '7', 'z', 'X', 'Z', 0, 0, 1, 0, 0, 0, 0, 0x02, 0x00, 0x21, 0x01, 40, 0, 0, 0, 1, 2, 3, 4},
       nullptr},
      {"LZMA second block of 4 GB", COMPRESSION_LZMA, TwoBlockLZMA(), nullptr},
      {"LZMA dictionary of 1 MB", COMPRESSION_LZMA,
       {0xFD, '7', 'z', 'X', 'Z', 0, 0, 1, 0, 0, 0, 0, 0x02, 0x00, 0x21, 0x01, 16, 0, 0, 0, 1, 2, 3, 4}, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (!TIFFIsCODECConfigured(row.compression)) continue;
    const Bytes file = OnePage(64, 48, row.compression, row.raw);
    ASSERT_FALSE(file.empty());
    for (DWORD bits : {1u, 24u}) {
      const ReadResult r = ReadTIFFBytes(file, bits);
      const std::string& warning = r.warning;
      if (row.reason && !row.refused) {
        EXPECT_TRUE(r.ok) << r.error;
        EXPECT_NE(warning.find(row.reason), std::string::npos) << warning;
      } else if (row.reason) {
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, IS_ERR_BADTIFF);
        EXPECT_NE(warning.find(row.reason), std::string::npos) << warning;
      } else {
        EXPECT_EQ(warning.find("decoding needs"), std::string::npos) << warning;
        EXPECT_EQ(warning.find("JBIG header"), std::string::npos) << warning;
        EXPECT_EQ(warning.find("sets its height"), std::string::npos) << warning;
      }
    }
  }
}

TEST(TIFFCodecGuard, PagesLibtiffWritesInTheseCodecsStillRead) {
  for (uint16_t compression : {COMPRESSION_JBIG, COMPRESSION_WEBP, COMPRESSION_ZSTD, COMPRESSION_LZMA}) {
    SCOPED_TRACE(compression);
    if (!TIFFIsCODECConfigured(compression)) continue;
    // WebP codes 8-bit RGB only (lossy by default, so only the read is checked); the others a
    // bilevel page.
    const bool rgb = compression == COMPRESSION_WEBP;
    const uint32_t width = 301, height = 97;
    Bytes rows;
    for (uint32_t i = 0; i < (rgb ? width * 3 : (width + 7) / 8) * height; ++i)
      rows.push_back(static_cast<uint8_t>(i * 37 % 251));
    // The pad bits that end each bilevel row are read as zero.
    if (!rgb)
      for (uint32_t y = 0; y < height; ++y) rows[(y + 1) * ((width + 7) / 8) - 1] &= 0xF8;
    const Bytes file = OnePage(width, height, compression, rows, true, rgb);
    ASSERT_FALSE(file.empty());
    const ReadResult r = ReadTIFFBytes(file, rgb ? 24 : 1);
    ASSERT_TRUE(r.ok) << r.error << " " << r.warning;
    EXPECT_TRUE(r.warning.empty()) << r.warning;
    if (!rgb) {
      EXPECT_EQ(r.image, rows);
    }
  }
}
