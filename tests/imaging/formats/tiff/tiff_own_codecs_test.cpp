// JBIG, Zstandard and LZMA strips decoded by our own calls into their libraries: JBIG streams
// judged by libjbig's own walk of their marker segments, keeping the rows they decode; and
// Zstandard and LZMA pages of every level read the same bytes libtiff decodes, whatever window
// or dictionary their headers name.
#include <gtest/gtest.h>

#include <tiffio.h>
extern "C" {
#include <jbig.h>
}

#include <lzma.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "tiff_test_util.h"

using namespace tifftest;

namespace {

// A document-like bilevel or grey picture: white, with dark strokes in lines of "text".
uint8_t Ink(uint32_t x, uint32_t y, uint32_t seed) {
  const uint32_t line = y / 24, in = y % 24, glyph = x / 9;
  if (in < 6 || in > 18 || (glyph + line) % 11 == 0) return 0;
  const uint32_t h = (glyph * 2654435761u) ^ (line * 40503u) ^ seed;
  return ((x % 9) < 2 && (h >> 3) % 3 != 0) || (in == 7 + h % 10 && (x % 9) < 7) ? 1 : 0;
}

Bytes Bilevel(uint32_t w, uint32_t h, uint32_t seed) {
  const uint32_t bpl = (w + 7) / 8;
  Bytes b(size_t{bpl} * h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      if (Ink(x, y, seed)) b[y * bpl + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  return b;
}

// A one-strip page: its stored strip is `strip` as it is (raw), or `rows` encoded by libtiff.
struct Layout {
  uint32_t width, height;
  uint16_t bits = 1, samples = 1, compression = COMPRESSION_JBIG, predictor = PREDICTOR_NONE;
  uint16_t format = SAMPLEFORMAT_UINT;
  uint32_t tile = 0, rowsPerStrip = 0;
  int level = 0;           // Zstandard level or LZMA preset
  bool bigEndian = false;
  uint16_t fill = FILLORDER_MSB2LSB;
};

Bytes WritePage(const Layout& l, const Bytes& data, bool raw) {
  qrvtest::TempDir dir;
  const std::string path = dir.File("page.tif");
  TIFF* tif = TIFFOpen(path.c_str(), l.bigEndian ? "wb" : "wl");
  if (!tif) return {};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, l.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, l.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.samples);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, l.format);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
               l.samples == 3 ? PHOTOMETRIC_RGB : l.bits == 1 ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, l.compression);
  TIFFSetField(tif, TIFFTAG_FILLORDER, l.fill);
  if (l.predictor != PREDICTOR_NONE) TIFFSetField(tif, TIFFTAG_PREDICTOR, l.predictor);
  if (l.compression == COMPRESSION_ZSTD && l.level) TIFFSetField(tif, TIFFTAG_ZSTD_LEVEL, l.level);
  if (l.compression == COMPRESSION_LZMA && l.level) TIFFSetField(tif, TIFFTAG_LZMAPRESET, l.level);
  const uint64_t rowBytes = (uint64_t{l.tile ? l.tile : l.width} * l.bits * l.samples + 7) / 8;
  bool ok = true;
  if (raw) {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, l.height);
    ok = TIFFWriteRawStrip(tif, 0, const_cast<uint8_t*>(data.data()), static_cast<tmsize_t>(data.size())) >= 0;
  } else if (l.tile) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, l.tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, l.tile);
    const uint64_t pageRow = (uint64_t{l.width} * l.bits * l.samples + 7) / 8, pixel = l.bits * l.samples / 8;
    Bytes tile(rowBytes * l.tile);
    for (uint32_t y0 = 0; y0 < l.height && ok; y0 += l.tile)
      for (uint32_t x0 = 0; x0 < l.width && ok; x0 += l.tile) {
        std::fill(tile.begin(), tile.end(), 0);
        for (uint32_t r = 0; r < l.tile && y0 + r < l.height; ++r)
          std::memcpy(&tile[r * rowBytes], &data[(y0 + r) * pageRow + x0 * pixel],
                      std::min<uint64_t>(l.tile, l.width - x0) * pixel);
        ok = TIFFWriteTile(tif, tile.data(), x0, y0, 0, 0) >= 0;
      }
  } else {
    const uint32_t rps = l.rowsPerStrip ? l.rowsPerStrip : l.height;
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rps);
    for (uint32_t y = 0; y < l.height && ok; y += rps) {
      Bytes strip(data.begin() + y * rowBytes, data.begin() + std::min(y + rps, l.height) * rowBytes);
      ok = TIFFWriteEncodedStrip(tif, y / rps, strip.data(), static_cast<tmsize_t>(strip.size())) >= 0;
    }
  }
  ok = ok && TIFFWriteDirectory(tif);
  TIFFClose(tif);
  return ok ? qrvtest::ReadFileBytes(path) : Bytes{};
}

// libtiff's own decode of every strip or tile of a file, back to back.
Bytes LibtiffDecode(const Bytes& file) {
  qrvtest::TempDir dir;
  const std::string path = dir.File("oracle.tif");
  if (!qrvtest::WriteFileBytes(path, file)) return {};
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return {};
  const bool tiled = TIFFIsTiled(tif);
  const uint32_t n = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  Bytes all;
  for (uint32_t i = 0; i < n; ++i) {
    Bytes b(static_cast<size_t>(tiled ? TIFFTileSize(tif) : TIFFStripSize(tif)));
    const tmsize_t got = tiled ? TIFFReadEncodedTile(tif, i, b.data(), static_cast<tmsize_t>(b.size()))
                               : TIFFReadEncodedStrip(tif, i, b.data(), static_cast<tmsize_t>(b.size()));
    if (got < 0) return {};
    all.insert(all.end(), b.begin(), b.begin() + got);
  }
  TIFFClose(tif);
  return all;
}

// A BIE of the bilevel rows `bits` by libjbig: stripes of `l0` lines, typical prediction.
Bytes EncodeJBIG(const Bytes& bits, uint32_t w, uint32_t h, uint32_t l0) {
  Bytes copy = bits, out;
  unsigned char* planes[1] = {copy.data()};
  jbg_enc_state e;
  jbg_enc_init(
      &e, w, h, 1, planes,
      [](unsigned char* start, size_t len, void* file) {
        auto* o = static_cast<Bytes*>(file);
        o->insert(o->end(), start, start + len);
      },
      &out);
  jbg_enc_options(&e, -1, JBG_TPBON, l0, 0, 0);
  jbg_enc_out(&e);
  jbg_enc_free(&e);
  return out;
}

// libtiff stores JBIG data of the usual fill order with each byte's bits reversed.
Bytes AsStored(Bytes b) {
  for (uint8_t& c : b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | ((c >> i) & 1) << (7 - i));
    c = r;
  }
  return b;
}

// (Kept out of line: GCC 12 warns falsely about the inlined vector writes.)
__attribute__((noinline)) void SetBE32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// The header and data of a BIE with `segment` put between them, or (with `afterStripe`) after
// the end of the first stripe; its height set to `yd` (and VLENGTH on) when non-zero.
Bytes WithSegment(Bytes bie, const Bytes& segment, uint32_t yd = 0, bool afterStripe = false) {
  if (yd) {
    SetBE32(bie, 8, yd);
    bie[19] |= JBG_VLENGTH;
  }
  size_t at = 20;
  if (afterStripe)
    while (at + 1 < bie.size() && !(bie[at] == 0xFF && bie[at + 1] == 0x02)) ++at;
  at = std::min(at + (afterStripe ? 2 : 0), bie.size());
  bie.insert(bie.begin() + static_cast<std::ptrdiff_t>(at), segment.begin(), segment.end());
  return bie;
}

// The BIE up to and with the end marker of stripe `stripes` - 1.
Bytes FirstStripes(const Bytes& bie, uint32_t stripes) {
  size_t at = 20;
  for (uint32_t s = 0; s < stripes; ++s) {
    while (at + 1 < bie.size() && !(bie[at] == 0xFF && bie[at + 1] == 0x02)) ++at;
    at += 2;
  }
  return Bytes(bie.begin(), bie.begin() + static_cast<std::ptrdiff_t>(std::min(at, bie.size())));
}

Bytes NewLen(uint32_t yd) { return {0xFF, 0x05, uint8_t(yd >> 24), uint8_t(yd >> 16), uint8_t(yd >> 8), uint8_t(yd)}; }
Bytes Comment(const Bytes& text) {
  const auto n = static_cast<uint32_t>(text.size());
  Bytes c = {0xFF, 0x07, uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
  c.reserve(c.size() + n);
  for (uint8_t b : text) c.push_back(b);
  return c;
}
Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(TIFFOwnCodecs, JBIGStreamsAreJudgedAsLibjbigReadsThem) {
  constexpr uint32_t kW = 64, kH = 48, kL0 = 8;
  const Bytes picture = Bilevel(kW, kH, 7);
  const Bytes bie = EncodeJBIG(picture, kW, kH, kL0);
  const Bytes shorter = EncodeJBIG(Bytes(picture.begin(), picture.begin() + 40 * kW / 8), kW, 40, kL0);
  const Bytes wide = Join({0, 0, 1, 0, 0, 1, 0, 0, 0, 0x03, 0x0D, 0x40, 0, 0, 0, 128, 0, 0, 0, 0x08},
                    Comment(NewLen(100)));
  constexpr uint32_t k2p30 = 1u << 30, kFFFFFF00 = 4294967040u;
  const struct {
    const char* name;
    Bytes stream;
    const char* refused = nullptr;  // the reason, error 20
    uint32_t width = kW, height = kH;
    uint32_t kept = kH;  // else the rows read, the rest the fill
    const char* warning = nullptr;
  } rows[] = {
      {"valid", bie},
      {"COMMENT holding FF 05", WithSegment(bie, Comment(NewLen(16)))},
      {"a NEWLEN after the first stripe", WithSegment(bie, NewLen(kH), k2p30, true)},
      {"2^30 rows, COMMENT holding a NEWLEN", WithSegment(bie, Comment(NewLen(kH)), k2p30, true), "64 x 1073741824"},
      {"ABORT right after the header, then a NEWLEN", WithSegment(bie, Join({0xFF, 0x04}, NewLen(kH)), k2p30),
       nullptr, kW, kH, 0, "ABORT marker"},
      {"2^30 rows, NEWLEN right after the header", WithSegment(bie, NewLen(kH), k2p30), "64 x 1073741824"},
      {"4294967040 rows, ABORT before a NEWLEN", WithSegment(bie, Join({0xFF, 0x04}, NewLen(kH)), kFFFFFF00, true),
       "64 x 4294967040"},
      {"2^30 rows, unknown marker before a NEWLEN", WithSegment(bie, Join({0xFF, 0x09}, NewLen(kH)), k2p30, true),
       "64 x 1073741824"},
      {"2^30 rows, ATMOVE holding FF 05", WithSegment(bie, {0xFF, 0x06, 0xFF, 0x05, 0, 0, 0, kH}, k2p30, true),
       "64 x 1073741824"},
      {"200000 x 65536, a COMMENT saying 100", wide, "65536 x 200000", 65536, 100},
      {"2^30 rows past the page's first look", WithSegment(bie, Comment(Bytes(3000, 0xFF)), k2p30), nullptr, kW, kH,
       0, "64 x 1073741824"},
      {"fewer rows than the strip", shorter, nullptr, kW, kH, 40, "hold 40 of its 48 rows"},
      {"cut after three stripes", FirstStripes(bie, 3), nullptr, kW, kH, 3 * kL0, "end after 24 of its 48 rows"},
      {"cut inside the fourth stripe", Bytes(bie.begin(), bie.begin() + (FirstStripes(bie, 3).size() + 3)), nullptr, kW,
       kH, 3 * kL0 + 2, "end after 26"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Layout layout{row.width, row.height};
    const Bytes file = WritePage(layout, AsStored(row.stream), true);
    ASSERT_FALSE(file.empty());
    const ReadResult r = ReadTIFFBytes(file, 1);
    if (row.refused) {
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.error, IS_ERR_BADTIFF);
      EXPECT_NE(r.warning.find(row.refused), std::string::npos) << r.warning;
      continue;
    }
    ASSERT_TRUE(r.ok) << r.error << " " << r.warning;
    const size_t bpl = kW / 8, keep = row.kept * bpl;
    ASSERT_EQ(r.image.size(), picture.size());
    EXPECT_TRUE(std::equal(picture.begin(), picture.begin() + keep, r.image.begin()));
    EXPECT_EQ(std::count(r.image.begin() + keep, r.image.end(), 0), static_cast<long>(r.image.size() - keep));
    if (row.warning)
      EXPECT_NE(r.warning.find(row.warning), std::string::npos) << r.warning;
    else
      EXPECT_EQ(r.warning, "");
  }
}

// Pages libtiff writes in JBIG (one strip, of either fill order), whatever their last byte, and
// a 3000 x 2000 document, read as written.
TEST(TIFFOwnCodecs, JBIGPagesEndingInEveryByteReadAsWritten) {
  for (uint32_t v = 0; v <= 256; ++v) {
    SCOPED_TRACE(v);
    const uint32_t w = v < 256 ? 64 : 3000, h = v < 256 ? 12 : 2000;
    Layout layout{w, h};
    layout.fill = v % 2 ? FILLORDER_LSB2MSB : FILLORDER_MSB2LSB;
    Bytes picture = Bilevel(w, h, v);
    if (v < 256) picture.back() = picture[picture.size() - w / 8] = static_cast<uint8_t>(v);
    const Bytes file = WritePage(layout, picture, false);
    ASSERT_FALSE(file.empty());
    const ReadResult r = ReadTIFFBytes(file, 1);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.image, picture);
    EXPECT_EQ(r.warning, "");
  }
}

TEST(TIFFOwnCodecs, ZstandardAndLZMAPagesOfEveryLevelReadAsLibtiffDecodesThem) {
  const int k9e = 9 | static_cast<int>(LZMA_PRESET_EXTREME);
  const struct {
    uint16_t compression;
    int level;
  } codecs[] = {{COMPRESSION_ZSTD, 1}, {COMPRESSION_ZSTD, 20}, {COMPRESSION_ZSTD, 21}, {COMPRESSION_ZSTD, 22},
                {COMPRESSION_LZMA, 0}, {COMPRESSION_LZMA, 8},  {COMPRESSION_LZMA, 9},  {COMPRESSION_LZMA, k9e}};
  // Sample layouts, each read at the depth that gives its stored samples back.
  const struct {
    uint16_t bits, samples, predictor, format;
    uint32_t tile, rowsPerStrip;
    bool bigEndian;
    DWORD depth;
    uint16_t fill = FILLORDER_MSB2LSB;  // the other order: libtiff reverses the stored bits
  } layouts[] = {
      {8, 1, PREDICTOR_NONE, SAMPLEFORMAT_UINT, 0, 0, false, 8},
      {8, 1, PREDICTOR_HORIZONTAL, SAMPLEFORMAT_UINT, 0, 48, false, 8},
      {8, 3, PREDICTOR_HORIZONTAL, SAMPLEFORMAT_UINT, 96, 0, false, 24},
      {16, 1, PREDICTOR_NONE, SAMPLEFORMAT_UINT, 0, 64, true, 16},
      {16, 1, PREDICTOR_HORIZONTAL, SAMPLEFORMAT_UINT, 0, 0, true, 16},
      {16, 1, PREDICTOR_HORIZONTAL, SAMPLEFORMAT_UINT, 96, 0, false, 16},
      {16, 1, PREDICTOR_FLOATINGPOINT, SAMPLEFORMAT_IEEEFP, 0, 64, true, 16},
      {16, 1, PREDICTOR_FLOATINGPOINT, SAMPLEFORMAT_IEEEFP, 0, 0, false, 16},
      {8, 1, PREDICTOR_HORIZONTAL, SAMPLEFORMAT_UINT, 0, 48, false, 8, FILLORDER_LSB2MSB},
  };
  for (const auto& c : codecs) {
    if (!TIFFIsCODECConfigured(c.compression)) continue;
    for (const auto& l : layouts) {
      for (const bool large : {false, true}) {
        // The large page: a 3000 x 2000 document, at the deepest levels only.
        if (large && (c.level < 8 || l.bits != 8 || l.samples != 1 || l.tile || l.fill != FILLORDER_MSB2LSB)) continue;
        const uint32_t w = large ? 3000 : 200, h = large ? 2000 : 150;
        SCOPED_TRACE(testing::Message() << c.compression << " level " << c.level << ", " << l.bits << "-bit x"
                                        << l.samples << ", predictor " << l.predictor << ", tile " << l.tile
                                        << (l.bigEndian ? ", big-endian " : " ") << "fill order " << l.fill << " " << w << " x " << h);
        Bytes samples(size_t{w} * h * l.samples * l.bits / 8);
        for (uint32_t y = 0; y < h; ++y)
          for (uint32_t x = 0; x < w * l.samples; ++x) {
            const size_t i = size_t{y} * w * l.samples + x;
            const uint8_t v = Ink(x / l.samples, y, 3) ? static_cast<uint8_t>(x * 7 + y) : 0xFF;
            if (l.bits == 8) samples[i] = v;
            else samples[i * 2] = static_cast<uint8_t>(x + y), samples[i * 2 + 1] = v;
          }
        Layout layout{w, h, l.bits, l.samples, c.compression, l.predictor, l.format, l.tile, l.rowsPerStrip, c.level,
                      l.bigEndian, l.fill};
        if (large && l.rowsPerStrip) layout.rowsPerStrip = 512;
        const Bytes file = WritePage(layout, samples, false);
        ASSERT_FALSE(file.empty());
        const Bytes decoded = LibtiffDecode(file);
        ASSERT_FALSE(decoded.empty());
        // Ours reads the page as it reads the samples libtiff decodes from it stored plain
        // (libtiff's tiles decode to the samples written).
        layout.compression = COMPRESSION_NONE;
        layout.predictor = PREDICTOR_NONE;
        const Bytes plain = WritePage(layout, l.tile ? samples : decoded, false);
        if (l.tile) {
          ASSERT_EQ(decoded, LibtiffDecode(plain));
        }
        const ReadResult r = ReadTIFFBytes(file, l.depth), expected = ReadTIFFBytes(plain, l.depth);
        ASSERT_TRUE(r.ok) << r.error << " " << r.warning;
        EXPECT_EQ(r.warning, "");
        EXPECT_TRUE(r.image == expected.image);
      }
    }
  }
}

namespace {

// An xz stream of `content` (one LZMA2 block, no check) whose block header then names a
// dictionary of `dictionaryByte` (37: 1.5 GB), its CRC32 made again.
Bytes XZ(const Bytes& content, uint8_t dictionaryByte = 0) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 1);
  lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  Bytes out(content.size() + 1024);
  size_t n = 0;
  if (lzma_stream_buffer_encode(filters, LZMA_CHECK_NONE, nullptr, content.data(), content.size(), out.data(), &n,
                                out.size()) != LZMA_OK)
    return {};
  out.resize(n);
  if (dictionaryByte) {
    const size_t header = (size_t{out[12]} + 1) * 4;
    for (size_t i = 14; i + 2 < 12 + header - 4; ++i)
      if (out[i] == 0x21 && out[i + 1] == 0x01) {
        out[i + 2] = dictionaryByte;
        break;
      }
    const uint32_t crc = lzma_crc32(&out[12], header - 4, 0);
    for (int b = 0; b < 4; ++b) out[12 + header - 4 + b] = static_cast<uint8_t>(crc >> (8 * b));
  }
  return out;
}

// A Zstandard frame of `window` log, no content size, of one RLE block of `n` bytes of `v`.
Bytes ZstdRLE(uint8_t windowLog, uint32_t n, uint8_t v) {
  const uint32_t block = n << 3 | 1 << 1 | 1;
  return {0x28, 0xB5, 0x2F, 0xFD, 0x00, static_cast<uint8_t>((windowLog - 10) << 3), uint8_t(block),
          uint8_t(block >> 8), uint8_t(block >> 16), v};
}

}  // namespace

// Streams that libtiff's codecs would reserve for or read in their own way: every window and
// dictionary is read within the strip, and the strip gets what libtiff's loop gives it.
TEST(TIFFOwnCodecs, UnusualZstandardAndLZMAStreamsReadAsTheStripAllows) {
  constexpr uint32_t kSide = 64, kBytes = kSide * kSide;
  Bytes content(kBytes + 904);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 7 / 5);
  const Bytes first(content.begin(), content.begin() + kBytes), half(content.begin(), content.begin() + kBytes / 2);
  Bytes frame(ZSTD_compressBound(content.size()));
  frame.resize(ZSTD_compress(frame.data(), frame.size(), content.data(), content.size(), 3));
  const struct {
    const char* name;
    uint16_t compression;
    Bytes stream;
    Bytes expected;       // the rows read; the rest are the fill (mid grey)
    const char* warning;  // null: none
  } rows[] = {
      {"Zstandard frame longer than the strip", COMPRESSION_ZSTD, frame, first, nullptr},
      {"Zstandard window of 2 GB", COMPRESSION_ZSTD, ZstdRLE(31, kBytes, 0x80), Bytes(kBytes, 0x80), nullptr},
      {"Zstandard skippable frame first", COMPRESSION_ZSTD,
       Join({0x50, 0x2A, 0x4D, 0x18, 4, 0, 0, 0, 1, 2, 3, 4}, ZstdRLE(20, kBytes, 0x80)), {}, "the frame ends"},
      {"LZMA dictionary of 1.5 GB", COMPRESSION_LZMA, XZ(first, 37), first, nullptr},
      {"two xz streams", COMPRESSION_LZMA, Join(XZ(half), XZ(half)), half, "end after 2048 of its 4096 bytes"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Layout layout{kSide, kSide, 8, 1, row.compression};
    const Bytes file = WritePage(layout, row.stream, true);
    ASSERT_FALSE(file.empty());
    const ReadResult r = ReadTIFFBytes(file, 8);
    ASSERT_TRUE(r.ok) << r.error;
    Bytes page = row.expected;
    page.resize(kBytes, 0x80);
    layout.compression = COMPRESSION_NONE;
    EXPECT_TRUE(r.image == ReadTIFFBytes(WritePage(layout, page, true), 8).image);
    if (row.warning)
      EXPECT_NE(r.warning.find(row.warning), std::string::npos) << r.warning;
    else
      EXPECT_EQ(r.warning, "");
  }
}
