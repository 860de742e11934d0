// Bytes a decoder left unwritten anywhere in a strip (a row's end, the byte holding a row's pad
// bits, the middle of a strip, rows its data never reach) come out as the reader's fill, with a
// warning; a read gives the same whatever was read before it and on whatever thread; and
// old-style JPEG strips are decoded once. What was not written is told by libtiff itself: each
// strip's stored bytes decoded into a buffer of 0x00 and into one of 0xFF differ there.
#include <gtest/gtest.h>

#include <jpeglib.h>
#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "imaging/formats/tiff/TIFFRead.h"
#include "tiff_test_util.h"

using namespace tifftest;

namespace {

void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A one-sample little-endian page around stored strips, made by hand: codecs libtiff does not
// write, and streams it would not. `jif`: an old-style JPEG's interchange stream.
Bytes HandMade(uint32_t w, uint32_t h, uint16_t bits, uint16_t compression, uint16_t photometric,
               uint32_t rowsPerStrip, const std::vector<Bytes>& strips, const Bytes& jif = {}) {
  Bytes f = {'I', 'I', 42, 0, 0, 0, 0, 0};
  const auto jifAt = static_cast<uint32_t>(f.size());
  f.insert(f.end(), jif.begin(), jif.end());
  std::vector<uint32_t> offsets, counts;
  for (const Bytes& s : strips) {
    offsets.push_back(static_cast<uint32_t>(f.size()));
    counts.push_back(static_cast<uint32_t>(s.size()));
    f.insert(f.end(), s.begin(), s.end());
  }
  const auto array = [&](const std::vector<uint32_t>& v) {
    if (v.size() == 1) return v[0];
    const auto at = static_cast<uint32_t>(f.size());
    for (uint32_t x : v) Put32(f, x);
    return at;
  };
  const uint32_t offsetsAt = array(offsets), countsAt = array(counts);
  if (f.size() % 2) f.push_back(0);
  const auto n = static_cast<uint32_t>(strips.size());
  std::vector<std::array<uint32_t, 4>> entries = {
      {256, TIFF_LONG, 1, w},           {257, TIFF_LONG, 1, h},        {258, TIFF_SHORT, 1, bits},
      {259, TIFF_SHORT, 1, compression}, {262, TIFF_SHORT, 1, photometric}, {273, TIFF_LONG, n, offsetsAt},
      {277, TIFF_SHORT, 1, 1},          {278, TIFF_LONG, 1, rowsPerStrip}, {279, TIFF_LONG, n, countsAt}};
  if (!jif.empty()) {
    entries.push_back({512, TIFF_SHORT, 1, 1});
    entries.push_back({513, TIFF_LONG, 1, jifAt});
    entries.push_back({514, TIFF_LONG, 1, static_cast<uint32_t>(jif.size())});
  }
  const auto ifd = static_cast<uint32_t>(f.size());
  for (int i = 0; i < 4; ++i) f[4 + i] = static_cast<uint8_t>(ifd >> (8 * i));
  f.push_back(static_cast<uint8_t>(entries.size()));
  f.push_back(0);
  for (const auto& e : entries) {
    f.push_back(static_cast<uint8_t>(e[0])), f.push_back(static_cast<uint8_t>(e[0] >> 8));
    f.push_back(static_cast<uint8_t>(e[1])), f.push_back(0);
    Put32(f, e[2]);
    Put32(f, e[3]);
  }
  Put32(f, 0);
  return f;
}

// Which pixels of a one-sample page of `bits` no decoder wrote, by libtiff's decodes of each
// strip into 0x00 and 0xFF; *success: libtiff reported success for every strip.
std::vector<bool> Unwritten(const Bytes& file, uint16_t bits, bool* success) {
  qrvtest::TempDir dir;
  const std::string path = dir.File("page.tif");
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return {};
  std::fwrite(file.data(), 1, file.size(), out);
  std::fclose(out);
  TIFFSetWarningHandler(nullptr);
  TIFFSetErrorHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return {};
  uint32_t w = 0, h = 0, rowsPerStrip = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  const auto scanline = static_cast<uint64_t>(TIFFScanlineSize(tif));
  std::vector<bool> unwritten(size_t{w} * h);
  *success = true;
  for (uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
    const uint32_t rows = std::min(rowsPerStrip, h - s * rowsPerStrip);
    Bytes raw(static_cast<size_t>(TIFFRawStripSize(tif, s)));
    TIFFReadRawStrip(tif, s, raw.data(), static_cast<tmsize_t>(raw.size()));
    Bytes d[2] = {Bytes(scanline * rows, 0x00), Bytes(scanline * rows, 0xFF)};
    for (Bytes& b : d) {
      Bytes in = raw;
      *success = TIFFReadFromUserBuffer(tif, s, in.data(), static_cast<tmsize_t>(in.size()), b.data(),
                                        static_cast<tmsize_t>(b.size())) &&
                 *success;
    }
    for (uint32_t y = 0; y < rows; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint64_t bit = uint64_t{x} * bits, at = y * scanline + bit / 8;
        const auto mask = static_cast<uint8_t>(bits >= 8 ? 0xFF : ((1u << bits) - 1) << (8 - bits - bit % 8));
        unwritten[size_t{s * rowsPerStrip + y} * w + x] = ((d[0][at] ^ d[1][at]) & mask) != 0;
      }
  }
  TIFFClose(tif);
  return unwritten;
}

// Whether pixel i of a read is the reader's fill: white at 1 bit, mid grey at 24.
bool IsFill(const ReadResult& r, DWORD depth, size_t i) {
  if (depth == 1) return ((r.image[i / r.width * ((r.width + 7) / 8) + i % r.width / 8] >> (7 - i % r.width % 8)) & 1) == 0;
  return r.image[i * 3] == 128 && r.image[i * 3 + 1] == 128 && r.image[i * 3 + 2] == 128;
}

// ThunderScan rows of `width` 4-bit pixels: a raw pixel, then runs of it, the last run ending at
// the row's end (a run libtiff's decoder counts there but does not write); the strip's last row
// raw pixels only, so that the strip ends written.
Bytes ThunderRows(uint32_t width, uint32_t rows, uint32_t seed) {
  Bytes data;
  for (uint32_t y = 0; y < rows; ++y) {
    uint32_t x = 0;
    for (uint32_t i = 0; x < width; ++i) {
      const uint32_t run = y + 1 == rows ? 0 : std::min<uint32_t>(63, width - x - 1);
      data.push_back(static_cast<uint8_t>(0xC0 | ((seed + y * 7 + i * 3) % 15 + 1)));  // raw pixel
      if (run > 0) data.push_back(static_cast<uint8_t>(run));                          // run of it
      x += 1 + run;
    }
  }
  return data;
}

// Bilevel rows of 57 pixels (7 pad bits) as a deflate stream whose last match, starting at the
// strip's last byte, runs past the strip: libtiff's decoder stops before it, one byte short, and
// reports the strip decoded; the stream codes that byte all the same.
Bytes OneByteShortRows() {
  Bytes rows(8 * 97 - 1 + 50);
  uint32_t noise = 12345;
  for (size_t i = 0; i < rows.size(); ++i) {
    noise = noise * 1103515245u + 12345u;
    rows[i] = i < 8 * 97 - 1 ? static_cast<uint8_t>(noise >> 16) : rows[i - 3];
  }
  return rows;
}

Bytes DeflatedOneByteShort() {
  const Bytes rows = OneByteShortRows();
  Bytes z(compressBound(static_cast<uLong>(rows.size())));
  uLongf n = static_cast<uLongf>(z.size());
  compress2(z.data(), &n, rows.data(), static_cast<uLong>(rows.size()), 9);
  z.resize(n);
  return HandMade(57, 97, 1, COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_MINISBLACK, 97, {z});
}

// A w x h grey baseline JPEG by libjpeg (quality 100, a restart after every row of blocks) of
// `grey(y)` in row y, as an old-style JPEG page: the interchange stream up to its scan header,
// and each 8-row strip the entropy-coded data between two restarts.
Bytes OldStyleJPEG(uint32_t w, uint32_t h, const std::function<uint8_t(uint32_t)>& grey) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = w;
  c.image_height = h;
  c.input_components = 1;
  c.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 100, TRUE);
  c.restart_in_rows = 1;
  jpeg_start_compress(&c, TRUE);
  Bytes row(w);
  for (uint32_t y = 0; y < h; ++y) {
    std::fill(row.begin(), row.end(), grey(y));
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&c, &p, 1);
  }
  jpeg_finish_compress(&c);
  const Bytes jpeg(mem, mem + size);
  std::free(mem);
  jpeg_destroy_compress(&c);
  // The scan header ends the interchange stream; restarts and the end of image split the rest.
  size_t at = 2;
  while (at + 4 <= jpeg.size() && !(jpeg[at] == 0xFF && jpeg[at + 1] == 0xDA)) at += 2 + (jpeg[at + 2] << 8 | jpeg[at + 3]);
  at += 2 + (jpeg[at + 2] << 8 | jpeg[at + 3]);
  const Bytes jif(jpeg.begin(), jpeg.begin() + static_cast<long>(at));
  std::vector<Bytes> strips(1);
  for (; at + 1 < jpeg.size(); ++at) {
    if (jpeg[at] == 0xFF && jpeg[at + 1] >= 0xD0 && jpeg[at + 1] <= 0xD9) {
      if (jpeg[at + 1] != 0xD9) strips.emplace_back();
      ++at;
      continue;
    }
    strips.back().push_back(jpeg[at]);
  }
  return HandMade(w, h, 8, COMPRESSION_OJPEG, PHOTOMETRIC_MINISBLACK, 8, strips, jif);
}

// A 64 x 64 page of `samples` samples of `bits` (8, or 1 at eight pixels a byte) in strips of 8
// rows, each strip's bytes all `band(strip)`, written by libtiff with `compression` (empty when
// it cannot), and in *stored the rows as libtiff decodes them.
Bytes BandedPage(uint16_t compression, uint16_t bits, uint16_t samples, const std::function<uint8_t(uint32_t)>& band,
                 Bytes* stored) {
  qrvtest::TempDir dir;
  const std::string path = dir.File("banded.tif");
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return {};
  const bool jbig = compression == COMPRESSION_JBIG;  // libtiff writes JBIG as one strip
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 64);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 64);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, jbig ? 64 : 8);
  if (compression == COMPRESSION_WEBP) TIFFSetField(tif, TIFFTAG_WEBP_LOSSLESS, 1);
  const size_t rowBytes = 64 * bits * samples / 8;
  const uint32_t stripRows = jbig ? 64 : 8;
  Bytes rows(rowBytes * stripRows);
  bool ok = true;
  for (uint32_t s = 0; s * stripRows < 64 && ok; ++s) {
    for (uint32_t y = 0; y < stripRows; ++y) std::fill_n(rows.begin() + y * rowBytes, rowBytes, band(s * stripRows / 8 + y / 8));
    ok = TIFFWriteEncodedStrip(tif, s, rows.data(), static_cast<tmsize_t>(rows.size())) >= 0;
  }
  ok = ok && TIFFWriteDirectory(tif);
  TIFFClose(tif);
  if (!ok || !(tif = TIFFOpen(path.c_str(), "r"))) return {};
  stored->assign(rowBytes * 64, 0);
  for (uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s)
    TIFFReadEncodedStrip(tif, s, stored->data() + s * rowBytes * (jbig ? 64 : 8), -1);
  TIFFClose(tif);
  return qrvtest::ReadFileBytes(path);
}

}  // namespace

// Valid pages of every codec libtiff writes here whose strips each end in the byte laid before
// them: read whole, as libtiff decodes them, with no warning.
TEST(TIFFStripGaps, ValidStripsEndingInTheLaidByteReadWhole) {
  // The laid byte is the previous strip's last byte with its top bit turned (0x7F for 0).
  const auto band = [](uint32_t strip) -> uint8_t { return strip == 0 ? 0x80 : strip % 2 ? 0x7F : 0xFF; };
  struct Case {
    uint16_t compression, bits, samples;
  };
  const Case cases[] = {{COMPRESSION_LZW, 8, 1},      {COMPRESSION_ADOBE_DEFLATE, 8, 1}, {COMPRESSION_DEFLATE, 8, 1},
                        {COMPRESSION_PACKBITS, 8, 1}, {COMPRESSION_JPEG, 8, 1},          {COMPRESSION_PIXARLOG, 8, 1},
                        {COMPRESSION_WEBP, 8, 3},     {COMPRESSION_LERC, 8, 1},          {COMPRESSION_LZMA, 8, 1},
                        {COMPRESSION_ZSTD, 8, 1},     {COMPRESSION_CCITTFAX3, 1, 1},     {COMPRESSION_CCITTFAX4, 1, 1},
                        {COMPRESSION_JBIG, 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.compression);
    if (!TIFFIsCODECConfigured(c.compression)) continue;
    Bytes stored;
    // JBIG is one strip, laid with 0x80.
    const auto jbigBand = [](uint32_t) -> uint8_t { return 0x80; };
    const Bytes file = BandedPage(c.compression, c.bits, c.samples,
                                  c.compression == COMPRESSION_JBIG ? jbigBand : band, &stored);
    ASSERT_FALSE(file.empty());
    const ReadResult r = ReadTIFFBytes(file, c.bits * c.samples);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.warning, "");
    // The reader's rows: bit 1 black (a 0 sample here), or the samples as stored.
    Bytes expected = stored;
    if (c.bits == 1)
      for (uint8_t& b : expected) b = static_cast<uint8_t>(~b);
    EXPECT_TRUE(Bytes(r.image.begin(), r.image.begin() + static_cast<long>(expected.size())) == expected);
  }
}

// Strips whose every last byte is the byte laid before the next (bands of 0x80, 0x7F and 0xFF)
// are decoded once each, in order, and a whole old-style JPEG page is not called damaged.
TEST(TIFFStripGaps, OldStyleJPEGStripsAreDecodedOnce) {
  if (!TIFFIsCODECConfigured(COMPRESSION_OJPEG)) GTEST_SKIP() << "no old-style JPEG in this libtiff";
  const auto band = [](uint32_t y) -> uint8_t { return y < 8 ? 0x80 : (y / 8) % 2 ? 0x7F : 0xFF; };
  const uint32_t height = 8 * 64;
  const Bytes file = OldStyleJPEG(16, height, band);
  const uint64_t before = TIFFStrilesDecoded();
  const ReadResult r = ReadTIFFBytes(file, 8);
  EXPECT_EQ(TIFFStrilesDecoded() - before, 64u);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.warning, "");
  size_t wrong = 0;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < 16; ++x) wrong += r.image[y * 16 + x] != band(y);
  EXPECT_EQ(wrong, 0u);
}

TEST(TIFFStripGaps, BytesNoDecoderWroteAreTheFillWhereverTheyAre) {
  std::vector<Bytes> tenStrips;
  for (uint32_t s = 0; s < 10; ++s) tenStrips.push_back(ThunderRows(1000, 20, s));
  struct Case {
    const char* name;
    Bytes file;
    uint16_t bits;
    DWORD depth;
  };
  const Case cases[] = {
      {"ThunderScan 16 x 8, runs ending at each row's end", HandMade(16, 8, 4, COMPRESSION_THUNDERSCAN, 1, 8,
                                                                      {ThunderRows(16, 8, 4)}),
       4, 24},
      {"ThunderScan 1000 x 200 in 10 strips", HandMade(1000, 200, 4, COMPRESSION_THUNDERSCAN, 1, 20, tenStrips), 4,
       24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool success = false;
    const std::vector<bool> unwritten = Unwritten(c.file, c.bits, &success);
    ASSERT_FALSE(unwritten.empty());
    const ReadResult r = ReadTIFFBytes(c.file, c.depth);
    ASSERT_TRUE(r.ok) << r.error << " " << r.warning;
    size_t count = 0, shown = 0;
    for (size_t i = 0; i < unwritten.size(); ++i) {
      count += unwritten[i];
      shown += unwritten[i] && !IsFill(r, c.depth, i);
    }
    EXPECT_TRUE(success) << "libtiff reports these strips decoded";
    EXPECT_GT(count, 0u);
    EXPECT_EQ(shown, 0u) << "of " << count << " pixels not written";
    EXPECT_NE(r.warning, "");
  }
}

TEST(TIFFStripGaps, DeflateStreamsCodingPastTheirStripReadWhole) {
  const Bytes file = DeflatedOneByteShort();
  bool success = false;
  const std::vector<bool> unwritten = Unwritten(file, 1, &success);
  EXPECT_TRUE(success && std::count(unwritten.begin(), unwritten.end(), true) > 0) << "libtiff leaves a byte";
  const Bytes rows = OneByteShortRows();
  const Bytes strip(rows.begin(), rows.begin() + 8 * 97);
  const ReadResult stored = ReadTIFFBytes(HandMade(57, 97, 1, COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 97, {strip}), 1);
  const ReadResult r = ReadTIFFBytes(file, 1);
  ASSERT_TRUE(r.ok && stored.ok) << r.error << " " << r.warning;
  ASSERT_EQ(r.image.size(), stored.image.size());
  const size_t rowBytes = r.image.size() / 97;
  size_t differ = 0;
  for (size_t y = 0; y < 97; ++y)
    for (size_t x = 0; x < 57; ++x)
      differ += ((r.image[y * rowBytes + x / 8] ^ stored.image[y * rowBytes + x / 8]) >> (7 - x % 8)) & 1;
  EXPECT_EQ(differ, 0u);
  EXPECT_EQ(r.warning, "");
}

// NeXT's decoder lays white over the strip, then stops where its data do; the rows past them are
// damaged, whether the data end between rows (reported as success) or inside one (a failure).
TEST(TIFFStripGaps, NeXTRowsTheDataDoNotReachAreDamaged) {
  Bytes rows;
  for (uint32_t y = 0; y < 12; ++y) {
    rows.push_back(0x00);  // a literal row of 16 bytes: pixels 0, 1, 2, 3 over and over
    for (uint32_t i = 0; i < 16; ++i) rows.push_back(0x1B);
  }
  Bytes halfMore = rows;
  halfMore.insert(halfMore.end(), {0x00, 0x1B, 0x1B, 0x1B});
  for (const Bytes& data : {rows, halfMore}) {
    const ReadResult r = ReadTIFFBytes(HandMade(64, 48, 2, COMPRESSION_NEXT, 1, 48, {data}), 24);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NE(r.warning, "");
    for (uint32_t y = 0; y < 48; ++y) {
      size_t fill = 0;
      for (uint32_t x = 0; x < 64; ++x) fill += IsFill(r, 24, y * 64 + x);
      EXPECT_EQ(fill, y < 12 ? 0u : 64u) << "row " << y;
    }
  }
}

// A damaged deflate page (its first strip holds no bytes, so it is never decoded; its second is
// cut inside, its rows all 0x80) reads the same alone, after other files and on another thread.
TEST(TIFFStripGaps, AReadDependsOnNothingReadBefore) {
  Page damaged;
  damaged.width = 64;
  damaged.height = 32;
  damaged.photometric = PHOTOMETRIC_MINISWHITE;  // 0x80 is not the fill, index 127
  damaged.compression = COMPRESSION_ADOBE_DEFLATE;
  damaged.rowsPerStrip = 16;
  damaged.data.assign(64 * 32, 0x80);
  const Bytes file = Damaged(Damaged(WriteTIFFPages({damaged}), false, 1, 0.6), false, 0, 0);
  std::vector<Bytes> others;
  for (uint8_t end : {0x00, 0x10, 0x7F, 0xFF}) {
    Page other = damaged;
    other.data.assign(64 * 32, end);
    others.push_back(WriteTIFFPages({other}));
  }
  const auto read = [&](std::function<void()> before) {
    ReadResult r;
    std::thread([&] {
      before();
      r = ReadTIFFBytes(file, 8);
    }).join();
    return r;
  };
  const ReadResult alone = read([] {});
  ASSERT_TRUE(alone.ok);
  EXPECT_NE(alone.warning, "");
  for (const Bytes& other : others) {
    const ReadResult after = read([&] { ReadTIFFBytes(other, 24); });
    EXPECT_TRUE(after.image == alone.image);
    EXPECT_EQ(after.warning, alone.warning);
    EXPECT_EQ(after.error, alone.error);
  }
  // On this thread, after another file: the same again.
  ReadTIFFBytes(others[1], 8);
  const ReadResult here = ReadTIFFBytes(file, 8);
  EXPECT_TRUE(here.image == alone.image);
  EXPECT_EQ(here.warning, alone.warning);
}

// A fax or deflate strip whose data end inside a row (the decoder reads zero bits past the end,
// or pads the row it is in to its width) keeps only the rows its data code: every pixel that is
// not the fill is the whole page's.
TEST(TIFFStripGaps, RowsPastTheDataEndAreTheFill) {
  struct Case {
    const char* name;
    uint16_t compression;
    uint32_t options;
  };
  const Case cases[] = {{"RLE", COMPRESSION_CCITTRLE, 0},
                        {"G3 1-D", COMPRESSION_CCITTFAX3, 0},
                        {"G3 2-D", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING},
                        {"G4", COMPRESSION_CCITTFAX4, 0},
                        {"deflate", COMPRESSION_ADOBE_DEFLATE, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qrvtest::TempDir dir;
    const std::string path = dir.File("fax.tif");
    TIFF* tif = TIFFOpen(path.c_str(), "wl");
    ASSERT_TRUE(tif);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 203);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 40);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, c.compression);
    if (c.options) TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, c.options);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 40);
    Bytes rows(26 * 40);
    for (uint32_t y = 0; y < 40; ++y)
      for (uint32_t x = 0; x < 203; ++x)
        if ((x * 7 + y * 13 + (x * y) % 11 * 3) % 5 < 2) rows[y * 26 + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    ASSERT_GE(TIFFWriteEncodedStrip(tif, 0, rows.data(), static_cast<tmsize_t>(rows.size())), 0);
    ASSERT_TRUE(TIFFWriteDirectory(tif));
    TIFFClose(tif);
    const Bytes whole = qrvtest::ReadFileBytes(path);
    const uint64_t before = TIFFStrilesDecoded();
    const ReadResult page = ReadTIFFBytes(whole, 24);
    ASSERT_TRUE(page.ok);
    EXPECT_EQ(page.warning, "");
    EXPECT_EQ(TIFFStrilesDecoded() - before, 1u);  // a whole page is decoded once
    const uint32_t count = GetEntry(whole, TIFFTAG_STRIPBYTECOUNTS, 0);
    size_t made = 0;
    std::string where;
    for (uint32_t keep = 1; keep + 2 < count; keep += 3) {
      Bytes cut = whole;
      SetEntry(cut, TIFFTAG_STRIPBYTECOUNTS, 0, keep);
      const ReadResult r = ReadTIFFBytes(cut, 24);
      ASSERT_TRUE(r.ok);
      EXPECT_NE(r.warning, "");
      size_t wrong = 0;
      for (size_t i = 0; i < size_t{203} * 40; ++i)
        wrong += !IsFill(r, 24, i) && std::memcmp(&r.image[i * 3], &page.image[i * 3], 3) != 0;
      if (wrong) where += " " + std::to_string(keep);
      made += wrong;
    }
    EXPECT_EQ(made, 0u) << "pixels not in the data, with" << where << " of " << count << " bytes";
  }
}
