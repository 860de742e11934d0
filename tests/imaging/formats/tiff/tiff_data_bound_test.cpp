// Pages whose headers claim far more picture than their few stored bytes can decode to are
// refused before anything is allocated, judged by what the read decodes (whole tiles, every
// plane) and the bytes it decodes from (shared ones once); real pages compressed as tightly as
// their codecs allow still read; damaged pages read as far as their data goes, each strip or
// tile decoded once.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "imaging/core/ISDecodeBudget.h"
#include "imaging/formats/tiff/TIFFRead.h"
#include "support/peak_memory.h"
#include "tiff_test_util.h"

using namespace tifftest;

namespace {

struct Tag {
  uint16_t id;
  std::vector<uint32_t> values;  // LONG; StripOffsets and TileOffsets count from the data
};

void Put16(Bytes& b, uint32_t v) { b.insert(b.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}); }
void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A little-endian file: header, one IFD of LONG tags (ascending ids), their arrays, then the data.
Bytes HandMadeTIFF(const std::vector<Tag>& tags, const Bytes& data) {
  uint32_t arrays = 8 + 2 + 12 * static_cast<uint32_t>(tags.size()) + 4;
  uint32_t dataOffset = arrays;
  for (const Tag& t : tags)
    if (t.values.size() > 1) dataOffset += 4 * static_cast<uint32_t>(t.values.size());
  Bytes file = {'I', 'I', 42, 0};
  Put32(file, 8);
  Put16(file, static_cast<uint32_t>(tags.size()));
  Bytes tail;
  for (const Tag& t : tags) {
    const uint32_t shift = (t.id == TIFFTAG_STRIPOFFSETS || t.id == TIFFTAG_TILEOFFSETS) ? dataOffset : 0;
    Put16(file, t.id);
    Put16(file, TIFF_LONG);
    Put32(file, static_cast<uint32_t>(t.values.size()));
    if (t.values.size() == 1) {
      Put32(file, t.values[0] + shift);
    } else {
      Put32(file, arrays + static_cast<uint32_t>(tail.size()));
      for (uint32_t v : t.values) Put32(tail, v + shift);
    }
  }
  Put32(file, 0);
  file.insert(file.end(), tail.begin(), tail.end());
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

// 17 bytes of zlib data: 778 zero bytes.
const Bytes kZlib = {0x78, 0xda, 0x63, 0x60, 0x18, 0x05, 0xa3, 0x60, 0x14, 0x30, 0x30, 0x00, 0x00, 0x03, 0x0a, 0x00, 0x01};

// A grey page of `bits` claiming width x height, its strips (or tiles) all over the same data.
Bytes Claiming(uint32_t width, uint32_t height, uint32_t bits, uint32_t compression, uint32_t rowsPerStrip = 0,
               uint32_t tile = 0, uint32_t byteCount = 0) {
  const uint32_t count = byteCount ? byteCount : static_cast<uint32_t>(kZlib.size());
  std::vector<Tag> tags = {{256, {width}},
                           {257, {height}},
                           {258, {bits}},
                           {259, {compression}},
                           {262, {bits == 1 ? 0u : 1u}}};
  if (tile) {
    const uint32_t n = ((width + tile - 1) / tile) * ((height + tile - 1) / tile);
    tags.push_back({277, {1}});
    tags.push_back({322, {tile}});
    tags.push_back({323, {tile}});
    tags.push_back({324, std::vector<uint32_t>(n, 0)});
    tags.push_back({325, std::vector<uint32_t>(n, count)});
  } else {
    const uint32_t rps = rowsPerStrip ? rowsPerStrip : height;
    const uint32_t n = (height + rps - 1) / rps;
    tags.insert(tags.end(), {{273, std::vector<uint32_t>(n, 0)}, {277, {1}}, {278, {rps}},
                             {279, std::vector<uint32_t>(n, count)}});
  }
  return HandMadeTIFF(tags, kZlib);
}


// A page written by libtiff in strips of `rowsPerStrip` rows (0: one strip), each plane's rows
// (one plane unless separate) from row(y, plane, bytes).
struct Made {
  Made(uint32_t w, uint32_t h, uint16_t b, uint16_t c) : width(w), height(h), bits(b), compression(c) {}
  uint32_t width, height;
  uint16_t bits, compression;
  uint16_t samples = 1, planar = PLANARCONFIG_CONTIG, photometric = PHOTOMETRIC_MINISWHITE;
  uint16_t predictor = PREDICTOR_NONE;
  uint32_t rowsPerStrip = 0;
  std::vector<uint16_t> extra;
};
Bytes MakePage(const Made& m, const std::function<void(uint32_t, uint16_t, uint8_t*)>& row) {
  qrvtest::TempDir dir;
  const std::string path = dir.File("made.tif");
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return {};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, m.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, m.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, m.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, m.samples);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, m.planar);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, m.photometric);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, m.compression);
  if (m.predictor != PREDICTOR_NONE) TIFFSetField(tif, TIFFTAG_PREDICTOR, m.predictor);
  if (!m.extra.empty()) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(m.extra.size()), m.extra.data());
  const uint32_t rps = m.rowsPerStrip ? m.rowsPerStrip : m.height;
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rps);
  const uint16_t planes = m.planar == PLANARCONFIG_SEPARATE ? m.samples : 1;
  const uint64_t rowBytes = (uint64_t{m.width} * m.bits * (planes == 1 ? m.samples : 1) + 7) / 8;
  Bytes strip(rowBytes * rps);
  bool ok = true;
  for (uint16_t s = 0; s < planes && ok; ++s)
    for (uint32_t y = 0; y < m.height && ok; y += rps) {
      const uint32_t n = std::min(rps, m.height - y);
      for (uint32_t r = 0; r < n; ++r) row(y + r, s, strip.data() + r * rowBytes);
      ok = TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, y, s), strip.data(), static_cast<tmsize_t>(n * rowBytes)) >= 0;
    }
  ok = ok && TIFFWriteDirectory(tif);
  TIFFClose(tif);
  return ok ? qrvtest::ReadFileBytes(path) : Bytes{};
}
void Blank(uint32_t, uint16_t, uint8_t*) {}  // rows stay zero: white for a min-is-white page

// A 256 x 256 YCbCr page stored uncompressed with h x v subsampling: each block of h x v luma
// samples followed by its Cb and Cr.
Bytes YCbCrPage(uint16_t h, uint16_t v) {
  qrvtest::TempDir dir;
  const std::string path = dir.File("ycbcr.tif");
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return {};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 256);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 256);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
  TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, h, v);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 256);
  Bytes data;
  for (uint32_t by = 0; by < 256u / v; ++by)
    for (uint32_t bx = 0; bx < 256u / h; ++bx) {
      for (uint32_t y = by * v; y < (by + 1) * v; ++y)
        for (uint32_t x = bx * h; x < (bx + 1) * h; ++x) data.push_back(static_cast<uint8_t>(x * 3 + y * 5));
      data.push_back(static_cast<uint8_t>(96 + bx * 7 % 64));
      data.push_back(static_cast<uint8_t>(96 + by * 5 % 64));
    }
  const bool ok = TIFFWriteEncodedStrip(tif, 0, data.data(), static_cast<tmsize_t>(data.size())) >= 0 &&
                  TIFFWriteDirectory(tif);
  TIFFClose(tif);
  return ok ? qrvtest::ReadFileBytes(path) : Bytes{};
}

}  // namespace

TEST(TIFFDataBound, HugeClaimsOverFewBytesAreRefusedInLittleMemory) {
  const Bytes deflate = Claiming(23000, 23000, 8, COMPRESSION_ADOBE_DEFLATE);
  EXPECT_EQ(deflate.size(), 139u);
  std::vector<std::pair<const char*, Bytes>> files = {
      {"deflate strip", deflate},
      {"deflate", Claiming(23000, 23000, 8, COMPRESSION_DEFLATE)},
      {"LZW", Claiming(23000, 23000, 8, COMPRESSION_LZW)},
      {"PackBits", Claiming(23000, 23000, 8, COMPRESSION_PACKBITS)},
      {"JPEG", Claiming(23000, 23000, 8, COMPRESSION_JPEG)},
      {"none", Claiming(23000, 23000, 8, COMPRESSION_NONE)},
      {"none, a byte count past the end", Claiming(23000, 23000, 8, COMPRESSION_NONE, 0, 0, 0xFFFFFFF0u)},
      {"CCITT G4", Claiming(23000, 23000, 1, COMPRESSION_CCITTFAX4)},
      {"16-bit deflate", Claiming(23000, 23000, 16, COMPRESSION_ADOBE_DEFLATE)},
      {"strips sharing their bytes", Claiming(23000, 23000, 8, COMPRESSION_ADOBE_DEFLATE, 64)},
      {"tiles sharing their bytes", Claiming(23000, 23000, 8, COMPRESSION_ADOBE_DEFLATE, 0, 4096)},
      {"LZMA", Claiming(23000, 23000, 8, COMPRESSION_LZMA)},
      // An allowed area whose one strip of 301 16-bit samples a pixel would take 2 GB.
      {"301 samples, a codec nothing bounds",
       HandMadeTIFF({{256, {1800}}, {257, {1800}}, {258, {16}}, {259, {4097}}, {262, {1}}, {273, {0}}, {277, {301}},
                     {278, {1800}}, {279, {17}}},
                    kZlib)},
  };
  // Pages that libtiff itself writes, flat white at sizes no camera gives, in codecs that
  // code such a page in next to nothing.
  const Made written[] = {
      {60000, 7000, 1, COMPRESSION_CCITTFAX4},
      {16000, 16000, 1, COMPRESSION_ZSTD},
      {16000, 16000, 1, COMPRESSION_LZMA},
      {20000, 4000, 1, COMPRESSION_JBIG},
      // Just over 64 megapixels: their few kilobytes are far less than a byte per 16 pixels.
      {8200, 8200, 1, COMPRESSION_ADOBE_DEFLATE},
      {8200, 8200, 1, COMPRESSION_LZW},
  };
  for (const Made& m : written) {
    if (!TIFFIsCODECConfigured(m.compression)) {
      std::printf("codec %u not in libtiff: row skipped\n", m.compression);
      continue;
    }
    Made page = m;
    if (m.bits == 8) {
      page.samples = 3;
      page.photometric = PHOTOMETRIC_RGB;
    }
    files.push_back({TIFFFindCODEC(m.compression)->name, MakePage(page, Blank)});
    ASSERT_FALSE(files.back().second.empty()) << m.compression;
    std::printf("%s %u x %u: %zu bytes\n", files.back().first, m.width, m.height, files.back().second.size());
    if (m.compression == COMPRESSION_CCITTFAX4) {
      EXPECT_LT(files.back().second.size(), 1100u);
    }
  }

  // Each read in a child process whose peak resident size starts at its current size.
  const qrvtest::ChildRun peak = qrvtest::RunInChild([&] {
    int refusedWrongly = 0;
    for (const auto& f : files) {
      for (const auto& read : {std::make_pair(24u, 0u), std::make_pair(32u, 0u), std::make_pair(8u, 0u),
                               std::make_pair(16u, 0u), std::make_pair(24u, 2u)}) {
        const ReadResult r = ReadTIFFBytes(f.second, read.first, 0, read.second);
        if (r.ok || r.error != IS_ERR_BADTIFF) {
          std::fprintf(stderr, "%s at %u bits, flags %u: ok %d error %d\n", f.first, read.first, read.second, r.ok,
                       static_cast<int>(r.error));
          ++refusedWrongly;
        }
      }
    }
    return refusedWrongly;
  });
  ASSERT_TRUE(peak.exited);
  EXPECT_EQ(peak.result, 0) << "a page was read or refused with another code";
  EXPECT_LT(peak.peakMB, 64) << "MB of peak memory";
}

// What a read asks of the budget: the whole tiles it decodes however little of them the picture
// shows, every plane, and bytes that strips or tiles share counted once; for LZW, the most its
// codes can give.
TEST(TIFFDataBound, WholeTilesAndSharedBytesAreWhatIsJudged) {
  using RovIrirev::kUnboundedData;
  const uint32_t n = static_cast<uint32_t>(kZlib.size());
  const Bytes planarTiles = HandMadeTIFF({{256, {1}},
                                          {257, {1}},
                                          {258, {8, 8, 8}},
                                          {259, {COMPRESSION_ADOBE_DEFLATE}},
                                          {262, {PHOTOMETRIC_RGB}},
                                          {277, {3}},
                                          {284, {PLANARCONFIG_SEPARATE}},
                                          {322, {23168}},
                                          {323, {23168}},
                                          {324, {0, 0, 0}},
                                          {325, {n, n, n}}},
                                         kZlib);
  const struct {
    const char* name;
    Bytes file;
    RovIrirev::DecodeBudgetQuery asked;  // width, height, data pixels, data bytes
  } cases[] = {
      {"a Group 4 tile of 65536 x 65536 under a 1 x 1 picture", Claiming(1, 1, 1, COMPRESSION_CCITTFAX4, 0, 65536),
       {65536, 65536, kUnboundedData, n}},
      {"three planes of one tile under a 1 x 1 picture, over the same bytes", planarTiles,
       {23168, 23168, n * 1032 / 3, n}},
      {"4096 one-bit tiles over the same bytes", Claiming(1, 4096 * 16384, 1, COMPRESSION_ADOBE_DEFLATE, 0, 16384),
       {16384, 4096 * 16384, n * 1032 * 8, n}},
      {"4000 strips over the same bytes", Claiming(4000, 4000, 8, COMPRESSION_ADOBE_DEFLATE, 1),
       {4000, 4000, n * 1032, n}},
      {"LZW strips over the same bytes", Claiming(4000, 4000, 8, COMPRESSION_LZW, 1), {4000, 4000, n * 2560, n}},
  };
  const qrvtest::ChildRun peak = qrvtest::RunInChild([&] {
    int wrong = 0;
    for (const auto& c : cases) {
      const ReadResult r = ReadTIFFBytes(c.file, 24);
      const RovIrirev::DecodeBudgetQuery q = RovIrirev::LastDecodeBudgetQuery();
      if (r.ok || r.error != IS_ERR_BADTIFF || q.allowed || q.width != c.asked.width || q.height != c.asked.height ||
          q.dataPixels != c.asked.dataPixels || q.dataBytes != c.asked.dataBytes) {
        std::fprintf(stderr, "%s: ok %d error %d, asked %llu x %llu from %llu pixels of %llu bytes\n", c.name, r.ok,
                     static_cast<int>(r.error), static_cast<unsigned long long>(q.width),
                     static_cast<unsigned long long>(q.height), static_cast<unsigned long long>(q.dataPixels),
                     static_cast<unsigned long long>(q.dataBytes));
        ++wrong;
      }
    }
    return wrong;
  });
  ASSERT_TRUE(peak.exited);
  EXPECT_EQ(peak.result, 0) << "a page read, or judged on other figures";
  EXPECT_LT(peak.peakMB, 64) << "MB of peak memory";
}

// libtiff allocates no more than the limit its handle was opened with: a strip whose codec
// wants more is refused, and the read stops with error 20 and libtiff's words.
TEST(TIFFDataBound, AllocationsPastTheHandlesLimitStopTheRead) {
  Made m(64, 16, 8, COMPRESSION_LZW);
  const Bytes file = MakePage(m, Blank);
  ISIOHandle source = ISOpenMemorySource(file.data(), static_cast<DWORD>(file.size()));
  ASSERT_NE(source, nullptr);
  TIFF* tif = OpenTIFFClient(CISIO(source), "r", 16 << 10);  // less than the LZW code table
  ASSERT_NE(tif, nullptr);
  ISArray<uint8_t> raw;
  uint8_t out[64 * 16];
  ISErrorCode error = IS_ERR_OK;
  EXPECT_FALSE(TIFFAllocationRefused(error, tif));
  EXPECT_EQ(DecodeTIFFStrile(tif, 0, 16, out, raw), 0u);
  EXPECT_TRUE(TIFFAllocationRefused(error, tif));
  EXPECT_EQ(error, IS_ERR_BADTIFF);
  EXPECT_NE(std::string(ISGetLastWarning()).find("limit"), std::string::npos) << ISGetLastWarning();
  CloseTIFFClient(tif);
  ISCloseSource(source);
}

TEST(TIFFDataBound, TightlyCompressedRealPagesStillRead) {
  // Flat pages compress about as far as each codec goes; they decode within its bound.
  struct Case {
    uint16_t compression;
    uint16_t bits;
    uint32_t rowsPerStrip;
    uint32_t tile;
  };
  const Case cases[] = {
      {COMPRESSION_ADOBE_DEFLATE, 8, 1200, 0}, {COMPRESSION_LZW, 8, 1200, 0},       {COMPRESSION_PACKBITS, 8, 0, 0},
      {COMPRESSION_JPEG, 8, 16, 0},            {COMPRESSION_CCITTFAX4, 1, 1200, 0}, {COMPRESSION_CCITTFAX3, 1, 0, 0},
      {COMPRESSION_ADOBE_DEFLATE, 8, 0, 256},
  };
  for (const Case& c : cases) {
    Page p;
    p.width = 1600;
    p.height = 1200;
    p.bits = c.bits;
    p.photometric = c.bits == 1 ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK;
    p.compression = c.compression;
    p.rowsPerStrip = c.rowsPerStrip;
    p.tileWidth = p.tileLength = c.tile;
    p.data.assign(p.RowBytes() * p.height, 0);
    const Bytes file = WriteTIFFPages({p});
    ASSERT_FALSE(file.empty()) << c.compression;
    const ReadResult r = ReadTIFFBytes(file, 8);
    EXPECT_TRUE(r.ok) << "compression " << c.compression << ": " << file.size() << " bytes, error " << r.error;
    EXPECT_EQ(r.width, 1600u);
  }
}

// Blank A4 pages at 600 dpi as a fax machine or a scanner stores them, uncompressed YCbCr pages
// subsampled 4 x 2 and 4 x 4 (fewer bits a pixel than RGB), and a grey page whose extra-sample
// plane has no strip, read exactly as tiff2rgba converts them.
TEST(TIFFDataBound, RealPagesEqualTiff2rgba) {
  QRV_REQUIRE_TOOL("tiff2rgba");
  Made grey(300, 200, 8, COMPRESSION_ADOBE_DEFLATE);
  grey.samples = 2;
  grey.planar = PLANARCONFIG_SEPARATE;
  grey.photometric = PHOTOMETRIC_MINISBLACK;
  grey.extra = {EXTRASAMPLE_UNSPECIFIED};
  const auto shades = [](uint32_t y, uint16_t, uint8_t* row) {
    for (uint32_t x = 0; x < 300; ++x) row[x] = static_cast<uint8_t>(x * 7 + y * 3);
  };
  const std::vector<std::pair<const char*, Bytes>> files = {
      {"JBIG", TIFFIsCODECConfigured(COMPRESSION_JBIG) ? MakePage(Made(4960, 7016, 1, COMPRESSION_JBIG), Blank) : Bytes{}},
      {"Group 4", MakePage(Made(4960, 7016, 1, COMPRESSION_CCITTFAX4), Blank)},
      {"YCbCr subsampled 4 x 2", YCbCrPage(4, 2)},
      {"YCbCr subsampled 4 x 4", YCbCrPage(4, 4)},
      {"separate planes, the extra one missing", Damaged(MakePage(grey, shades), false, 1, 0)},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.first);
    if (f.second.empty()) {
      std::printf("%s: codec not in libtiff, row skipped\n", f.first);
      continue;
    }
    qrvtest::TempDir dir;
    ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("page.tif"), f.second));
    std::vector<uint32_t> widths, heights;
    const std::vector<Bytes> reference = Tiff2RGBAPages(dir.File("page.tif"), &widths, &heights);
    ASSERT_EQ(reference.size(), 1u);
    const ReadResult r = ReadTIFFBytes(f.second, 32);
    ASSERT_TRUE(r.ok) << f.second.size() << " bytes, error " << r.error << " " << r.warning;
    EXPECT_EQ(r.width, widths[0]);
    EXPECT_EQ(r.height, heights[0]);
    EXPECT_TRUE(r.image == reference[0]);
    EXPECT_EQ(r.warning, "");
  }
}

// A strip or tile cut short or missing is decoded as far as its data goes, and once: every row
// (or tile area) either equals the whole file's or is mid grey, with the decoder's words left
// behind, and each strip or tile the read uses goes to its decoder once, a failing one too.
// Rows of a predictor page that a cut strip gave are finished as a whole strip's would be. A
// missing plane the read does not use costs nothing.
TEST(TIFFDataBound, DamagedPagesReadAsFarAsTheyGo) {
  const auto shades = [](uint32_t y, uint16_t s, uint8_t* row) {
    // Noise, which deflate cannot shrink much: each row costs about as many stored bytes.
    for (uint32_t x = 0; x < 64; ++x) row[x] = static_cast<uint8_t>(((y * 64 + x + s * 4096) * 2654435761u >> 24) % 120);
  };
  Made strips(64, 48, 8, COMPRESSION_ADOBE_DEFLATE);
  strips.photometric = PHOTOMETRIC_MINISBLACK;
  Made banded = strips;
  banded.rowsPerStrip = 8;
  Made planes = strips;
  planes.samples = 2;
  planes.planar = PLANARCONFIG_SEPARATE;
  planes.extra = {EXTRASAMPLE_UNSPECIFIED};
  Made predicted = banded;
  predicted.predictor = PREDICTOR_HORIZONTAL;
  Made predicted16 = predicted;
  predicted16.bits = 16;
  Page tiled;
  tiled.width = 64;
  tiled.height = 48;
  tiled.compression = COMPRESSION_ADOBE_DEFLATE;
  tiled.tileWidth = tiled.tileLength = 32;
  tiled.data.resize(64 * 48);
  for (uint32_t y = 0; y < 48; ++y) shades(y, 0, &tiled.data[y * 64]);
  struct Case {
    const char* name;
    Bytes whole;
    bool tiled;
    uint32_t index;
    double keep;  // 0: byte count 0
    bool warned;
    size_t decodedAtLeast;  // half rows equal to the whole file's
    uint64_t decodes;       // decodes of strips or tiles (one that fails is decoded twice, a deflate
                            // one the second time by zlib, which tells where its data end)
  };
  const Case cases[] = {
      {"deflate strip cut in half", MakePage(strips, shades), false, 0, 0.5, true, 8, 2},
      {"strip missing", MakePage(banded, shades), false, 2, 0, true, 80, 5},
      {"strip with the predictor cut", MakePage(predicted, shades), false, 2, 0.5, true, 82, 7},
      {"16-bit strip with the predictor cut", MakePage(predicted16, shades), false, 2, 0.5, true, 82, 7},
      {"tile cut", WriteTIFFPages({tiled}), true, 3, 0.4, true, 82, 5},
      {"unused extra-sample plane missing", MakePage(planes, shades), false, 1, 0, false, 96, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = Damaged(c.whole, c.tiled, c.index, c.keep);
    for (DWORD bits : {24u, 8u}) {
      if (bits == 8 && !c.warned) continue;  // the index reader takes one-sample pages only
      const ReadResult whole = ReadTIFFBytes(c.whole, bits);
      const uint64_t decodedBefore = TIFFStrilesDecoded();
      const ReadResult cut = ReadTIFFBytes(file, bits);
      // A whole strip whose last stored byte happens to be the one laid before its decode (one
      // in 256 of noise like this) is decoded a second time.
      const uint64_t decodes = TIFFStrilesDecoded() - decodedBefore;
      EXPECT_GE(decodes, c.decodes) << bits << " bits";
      EXPECT_LE(decodes, c.decodes + 1) << bits << " bits";
      ASSERT_TRUE(whole.ok);
      ASSERT_TRUE(cut.ok) << bits << " bits: error " << cut.error << " " << cut.warning;
      EXPECT_EQ(cut.warning.empty(), !c.warned) << cut.warning;
      // Each half row (a tile's width) equals the whole file's or is mid grey.
      const size_t bpp = bits / 8;
      size_t decoded = 0, filled = 0;
      std::string map;
      for (uint32_t y = 0; y < 48; ++y)
        for (uint32_t x = 0; x < 64; x += 32) {
          bool same = true, grey = true;
          for (size_t i = (y * 64 + x) * bpp; i < (y * 64 + x + 32) * bpp; ++i) {
            same = same && cut.image[i] == whole.image[i];
            grey = grey && cut.image[i] == 128;
          }
          decoded += same;
          filled += grey && !same;
          map += same ? '=' : grey ? '.' : '?';
        }
      EXPECT_EQ(decoded + filled, 96u) << map;
      EXPECT_EQ(filled > 0, c.warned) << bits << " bits";
      EXPECT_GE(decoded, c.decodedAtLeast) << map;
    }
  }
}
