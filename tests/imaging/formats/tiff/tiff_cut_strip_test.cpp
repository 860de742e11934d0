// Strips whose data end early or do not match what they claim: each row of the read is the
// intact file's or the reader's fill, the rows the data decode are kept, and the read warns.
// The rows a cut deflate strip decodes are told by zlib over the stored bytes, apart from our
// reader.
#include <gtest/gtest.h>

#include <tiffio.h>
#include <zlib.h>
#include <zstd.h>
extern "C" {
#include <jbig.h>
}

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/tiff/TIFFRead.h"
#include "tiff_test_util.h"

using namespace tifftest;

namespace {

struct Layout {
  const char* name;
  uint16_t compression, bits, samples, photometric;
  uint16_t predictor = PREDICTOR_NONE;
  uint16_t fillOrder = FILLORDER_MSB2LSB;
  uint32_t height = 64;
  uint16_t planar = PLANARCONFIG_CONTIG;
};

constexpr uint32_t kWidth = 64, kStripRows = 16;

uint8_t Sample(const Layout& l, uint32_t x, uint32_t y, uint32_t s) {
  if (l.bits == 1) return (x / 5 + y / 3) % 3 == 0;
  if (l.compression == COMPRESSION_JPEG) return static_cast<uint8_t>(x * 3 + y * 2 + s * 60);
  return static_cast<uint8_t>((x / 3 + y / 2) * 29 + s * 50 + ((x * 7 + y * 131) * 2654435761u >> 29));
}

// The page written by libtiff, strips of 16 rows; `strip` (when given) replaces strip i's
// stored bytes with what it returns for them.
Bytes WritePage(const Layout& l, const std::function<Bytes(uint32_t, const Bytes&)>& strip = nullptr) {
  qrvtest::TempDir dir;
  const std::string path = dir.File("page.tif");
  TIFF* tif = TIFFOpen(path.c_str(), "wl");
  if (!tif) return {};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, l.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.samples);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, l.planar);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.photometric);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, l.compression);
  TIFFSetField(tif, TIFFTAG_FILLORDER, l.fillOrder);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kStripRows);
  if (l.predictor != PREDICTOR_NONE) TIFFSetField(tif, TIFFTAG_PREDICTOR, l.predictor);
  if (l.photometric == PHOTOMETRIC_YCBCR) {
    TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  }
  const uint32_t planes = l.planar == PLANARCONFIG_SEPARATE ? l.samples : 1, perPixel = l.samples / planes;
  const uint64_t rowBytes = (uint64_t{kWidth} * l.bits * perPixel + 7) / 8;
  bool ok = true;
  for (uint32_t p = 0; p < planes; ++p)
    for (uint32_t y0 = 0; y0 < l.height && ok; y0 += kStripRows) {
      const uint32_t rows = std::min(kStripRows, l.height - y0);
      Bytes area(rowBytes * rows);
      for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < kWidth; ++x)
          for (uint32_t s = 0; s < perPixel; ++s) {
            const uint8_t v = Sample(l, x, y0 + y, p + s);
            if (l.bits == 1)
              area[y * rowBytes + x / 8] |= static_cast<uint8_t>(v << (7 - x % 8));
            else if (l.bits == 16)
              area[y * rowBytes + (x * perPixel + s) * 2] = area[y * rowBytes + (x * perPixel + s) * 2 + 1] = v;
            else
              area[y * rowBytes + x * perPixel + s] = v;
          }
      const uint32_t index = TIFFComputeStrip(tif, y0, static_cast<uint16_t>(p));
      const auto n = static_cast<tmsize_t>(area.size());
      if (strip) {
        const Bytes stored = strip(index, area);
        ok = TIFFWriteRawStrip(tif, index, const_cast<uint8_t*>(stored.data()), static_cast<tmsize_t>(stored.size())) >= 0;
      } else {
        ok = TIFFWriteEncodedStrip(tif, index, area.data(), n) >= 0;
      }
    }
  ok = ok && TIFFWriteDirectory(tif);
  TIFFClose(tif);
  return ok ? qrvtest::ReadFileBytes(path) : Bytes{};
}

// Strip `index` of the file with its last `cut` bytes gone from its byte count.
Bytes Cut(Bytes file, uint32_t index, uint32_t cut) {
  SetEntry(file, TIFFTAG_STRIPBYTECOUNTS, index, GetEntry(file, TIFFTAG_STRIPBYTECOUNTS, index) - cut);
  return file;
}

// The whole rows of `rowBytes` that zlib's inflate gives from strip `index` as libtiff sees its bytes.
uint32_t ZlibRows(const Bytes& file, uint32_t index, bool reversed, uint64_t rowBytes) {
  Bytes in(file.begin() + GetEntry(file, TIFFTAG_STRIPOFFSETS, index),
           file.begin() + GetEntry(file, TIFFTAG_STRIPOFFSETS, index) + GetEntry(file, TIFFTAG_STRIPBYTECOUNTS, index));
  if (reversed)
    for (uint8_t& b : in) b = CISOpContext::kBitReverse[b];
  Bytes out(rowBytes * kStripRows);
  z_stream z{};
  inflateInit(&z);
  z.next_in = in.data();
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  while (inflate(&z, Z_NO_FLUSH) == Z_OK) {
  }
  inflateEnd(&z);
  return static_cast<uint32_t>(z.total_out / rowBytes);
}

// Checks a read of a damaged page against the intact page's: every row the intact one's or the
// fill, the rows from `firstFill` to `endFill` the fill (the rest of the page as it was) and a
// warning when any row is the fill. `endFill` UINT32_MAX: which rows are the fill is not known.
void ExpectRowsKeptOrFilled(const ReadResult& r, const ReadResult& intact, DWORD depth, uint32_t firstFill,
                            uint32_t endFill) {
  ASSERT_TRUE(r.ok) << r.error << " " << r.warning;
  ASSERT_EQ(r.image.size(), intact.image.size());
  const size_t rowBytes = size_t{r.width} * depth / 8;
  const uint8_t fill[3] = {128, 128, 128};
  uint32_t filled = 0;
  for (uint32_t y = 0; y < r.height; ++y) {
    const uint8_t* row = r.image.data() + y * rowBytes;
    const bool same = std::memcmp(row, intact.image.data() + y * rowBytes, rowBytes) == 0;
    bool isFill = true;
    for (size_t i = 0; i < rowBytes; ++i) isFill = isFill && row[i] == fill[i % 3];
    EXPECT_TRUE(same || isFill) << "row " << y;
    filled += isFill && !same;
    if (endFill != UINT32_MAX) {
      EXPECT_EQ(isFill && !same, y >= firstFill && y < endFill) << "row " << y;
    }
  }
  if (filled > 0) {
    EXPECT_NE(r.warning, "");
  }
  if (endFill == UINT32_MAX) {
    EXPECT_GT(filled, 0u);
  }
}

// A Zstandard frame of a strip's rows that carries its content's checksum.
Bytes ZstdWithChecksum(uint32_t, const Bytes& rows) {
  ZSTD_CCtx* c = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1);
  Bytes frame(ZSTD_compressBound(rows.size()));
  frame.resize(ZSTD_compress2(c, frame.data(), frame.size(), rows.data(), rows.size()));
  ZSTD_freeCCtx(c);
  return frame;
}

// A JBIG stream of a strip's bilevel rows, bits reversed as libtiff stores them (its encoder
// writes pages of one strip only).
Bytes JBIGStrip(uint32_t, const Bytes& rows) {
  Bytes copy = rows, out;
  unsigned char* planes[1] = {copy.data()};
  jbg_enc_state e;
  const auto h = static_cast<unsigned long>(rows.size() / (kWidth / 8));
  jbg_enc_init(
      &e, kWidth, h, 1, planes,
      [](unsigned char* start, size_t len, void* file) {
        static_cast<Bytes*>(file)->insert(static_cast<Bytes*>(file)->end(), start, start + len);
      },
      &out);
  jbg_enc_options(&e, -1, JBG_TPBON, h, 0, 0);
  jbg_enc_out(&e);
  jbg_enc_free(&e);
  for (uint8_t& b : out) b = CISOpContext::kBitReverse[b];
  return out;
}

}  // namespace

TEST(TIFFCutStrips, DeflateRowsTheDataDecodeAreKept) {
  const Layout layouts[] = {
      {"grey, predictor", COMPRESSION_ADOBE_DEFLATE, 8, 1, PHOTOMETRIC_MINISBLACK, PREDICTOR_HORIZONTAL},
      {"16-bit grey, predictor", COMPRESSION_ADOBE_DEFLATE, 16, 1, PHOTOMETRIC_MINISBLACK, PREDICTOR_HORIZONTAL},
      {"RGB, predictor", COMPRESSION_ADOBE_DEFLATE, 8, 3, PHOTOMETRIC_RGB, PREDICTOR_HORIZONTAL},
      {"grey, fill order 2", COMPRESSION_ADOBE_DEFLATE, 8, 1, PHOTOMETRIC_MINISBLACK, PREDICTOR_NONE,
       FILLORDER_LSB2MSB},
      {"16-bit grey, predictor, fill order 2", COMPRESSION_ADOBE_DEFLATE, 16, 1, PHOTOMETRIC_MINISBLACK,
       PREDICTOR_HORIZONTAL, FILLORDER_LSB2MSB},
  };
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.name);
    const Bytes whole = WritePage(l);
    ASSERT_FALSE(whole.empty());
    const DWORD depth = l.samples == 3 ? 24 : l.bits;
    const ReadResult intact = ReadTIFFBytes(whole, depth);
    ASSERT_TRUE(intact.ok);
    EXPECT_EQ(intact.warning, "");
    const uint32_t count = GetEntry(whole, TIFFTAG_STRIPBYTECOUNTS, 1);
    for (uint32_t cut : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u, 16u, count / 2}) {
      SCOPED_TRACE("cut by " + std::to_string(cut));
      const Bytes file = Cut(whole, 1, cut);
      const uint32_t rows = ZlibRows(file, 1, l.fillOrder == FILLORDER_LSB2MSB, uint64_t{kWidth} * l.bits * l.samples / 8);
      ExpectRowsKeptOrFilled(ReadTIFFBytes(file, depth), intact, depth, kStripRows + rows, 2 * kStripRows);
    }
  }
}

TEST(TIFFCutStrips, ValidDeflatePagesDecodeEachStripOnce) {
  for (uint16_t fillOrder : {FILLORDER_MSB2LSB, FILLORDER_LSB2MSB})
    for (uint16_t predictor : {PREDICTOR_NONE, PREDICTOR_HORIZONTAL})
      for (uint16_t bits : {8, 16}) {
        const Layout l = {"", COMPRESSION_ADOBE_DEFLATE, bits, 1, PHOTOMETRIC_MINISBLACK, predictor, fillOrder};
        SCOPED_TRACE(std::to_string(fillOrder) + " " + std::to_string(predictor) + " " + std::to_string(bits));
        const Bytes file = WritePage(l);
        const uint64_t before = TIFFStrilesDecoded();
        const ReadResult r = ReadTIFFBytes(file, bits);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.warning, "");
        EXPECT_EQ(TIFFStrilesDecoded() - before, 4u);
      }
}

TEST(TIFFCutStrips, DamagedStripsAloneAreTheFill) {
  struct Row {
    const char* name;
    Layout layout;
    std::function<Bytes(const Bytes&)> damage;
    DWORD depth;
    uint32_t firstFill, endFill;  // UINT32_MAX: not known
    const char* warning;
    std::function<Bytes(uint32_t, const Bytes&)> strip = nullptr;
  };
  const uint16_t kBlack = PHOTOMETRIC_MINISBLACK;
  const auto cutHalf = [](const Bytes& f) { return Cut(f, 1, GetEntry(f, TIFFTAG_STRIPBYTECOUNTS, 1) / 2); };
  const Row rows[] = {
      {"Zstandard checksum wrong", {"", COMPRESSION_ZSTD, 8, 1, kBlack},
       [](Bytes f) {
         f[GetEntry(f, TIFFTAG_STRIPOFFSETS, 1) + GetEntry(f, TIFFTAG_STRIPBYTECOUNTS, 1) - 1] ^= 1;
         return f;
       },
       8, 16, 32, "checksum", ZstdWithChecksum},
      // The last strip's header claims the 16 rows of a whole strip where it holds 6.
      {"JBIG strip taller than its rows", {"", COMPRESSION_JBIG, 1, 1, kBlack, PREDICTOR_NONE, FILLORDER_MSB2LSB, 38},
       [](Bytes f) {
         f[GetEntry(f, TIFFTAG_STRIPOFFSETS, 2) + 11] = CISOpContext::kBitReverse[16];
         return f;
       },
       24, 32, 38, "JBIG header of TIFF strip 2", JBIGStrip},
      {"JPEG grey cut", {"", COMPRESSION_JPEG, 8, 1, kBlack}, cutHalf, 8, 0, UINT32_MAX, ""},
      {"JPEG YCbCr 2 x 2 cut", {"", COMPRESSION_JPEG, 8, 3, PHOTOMETRIC_YCBCR}, cutHalf, 24, 0, UINT32_MAX, ""},
      // Bilevel pages read at 8 bits keep the mid grey of every other page.
      {"G4 cut to nothing", {"", COMPRESSION_CCITTFAX4, 1, 1, PHOTOMETRIC_MINISWHITE},
       [](const Bytes& f) { return Damaged(f, false, 1, 0); }, 24, 16, 32, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (!TIFFIsCODECConfigured(row.layout.compression)) continue;
    const Bytes whole = WritePage(row.layout, row.strip);
    ASSERT_FALSE(whole.empty());
    const ReadResult intact = ReadTIFFBytes(whole, row.depth);
    const ReadResult r = ReadTIFFBytes(row.damage(whole), row.depth);
    ExpectRowsKeptOrFilled(r, intact, row.depth, row.firstFill, row.endFill);
    EXPECT_NE(r.warning.find(row.warning), std::string::npos) << r.warning;
  }
}

TEST(TIFFCutStrips, SeparatePlaneYCbCrJPEGIsRefusedByName) {
  const Layout l = {"", COMPRESSION_JPEG, 8, 3, PHOTOMETRIC_YCBCR, PREDICTOR_NONE, FILLORDER_MSB2LSB, 64,
                    PLANARCONFIG_SEPARATE};
  // Refused before any strip is decoded: the strips need hold no picture.
  const Bytes file = WritePage(l, [](uint32_t, const Bytes&) { return Bytes{0xFF, 0xD8, 0xFF, 0xD9}; });
  ASSERT_FALSE(file.empty());
  const ReadResult r = ReadTIFFBytes(file, 24);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, IS_ERR_BADTIFF);
  EXPECT_NE(r.warning.find("YCbCr samples in separate planes"), std::string::npos) << r.warning;
}

// Run by hand (--gtest_also_run_disabled_tests): every codec libtiff writes, in both fill
// orders, its middle strip cut by 1 to 16 bytes, to 50 % and to 95 %; each pixel read must be
// the intact file's or the fill, a read with fill must warn, and a deflate strip must keep the
// rows zlib decodes from it. Prints the figures.
TEST(TIFFCutStrips, DISABLED_CutMatrix) {
  const uint16_t kBlack = PHOTOMETRIC_MINISBLACK, kWhite = PHOTOMETRIC_MINISWHITE;
  std::vector<Layout> layouts;
  for (uint16_t fill : {FILLORDER_MSB2LSB, FILLORDER_LSB2MSB}) {
    for (uint16_t c : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS, COMPRESSION_ADOBE_DEFLATE,
                       COMPRESSION_LZMA, COMPRESSION_ZSTD, COMPRESSION_PIXARLOG, COMPRESSION_LERC}) {
      layouts.push_back({"grey", c, 8, 1, kBlack, PREDICTOR_NONE, fill});
      layouts.push_back({"16-bit grey", c, 16, 1, kBlack, PREDICTOR_NONE, fill});
      layouts.push_back({"RGB", c, 8, 3, PHOTOMETRIC_RGB, PREDICTOR_NONE, fill});
      if (c == COMPRESSION_ADOBE_DEFLATE || c == COMPRESSION_LZW || c == COMPRESSION_ZSTD || c == COMPRESSION_LZMA) {
        layouts.push_back({"grey, predictor", c, 8, 1, kBlack, PREDICTOR_HORIZONTAL, fill});
        layouts.push_back({"16-bit grey, predictor", c, 16, 1, kBlack, PREDICTOR_HORIZONTAL, fill});
        layouts.push_back({"RGB, predictor", c, 8, 3, PHOTOMETRIC_RGB, PREDICTOR_HORIZONTAL, fill});
      }
    }
    layouts.push_back({"JPEG grey", COMPRESSION_JPEG, 8, 1, kBlack, PREDICTOR_NONE, fill});
    layouts.push_back({"JPEG YCbCr", COMPRESSION_JPEG, 8, 3, PHOTOMETRIC_YCBCR, PREDICTOR_NONE, fill});
    layouts.push_back({"WebP", COMPRESSION_WEBP, 8, 3, PHOTOMETRIC_RGB, PREDICTOR_NONE, fill});
    for (uint16_t c : {COMPRESSION_NONE, COMPRESSION_PACKBITS, COMPRESSION_CCITTRLE, COMPRESSION_CCITTFAX3,
                       COMPRESSION_CCITTFAX4, COMPRESSION_ADOBE_DEFLATE})
      layouts.push_back({"bilevel", c, 1, 1, kWhite, PREDICTOR_NONE, fill});
    layouts.push_back({"bilevel one strip", COMPRESSION_JBIG, 1, 1, kWhite, PREDICTOR_NONE, fill, kStripRows});
  }
  uint64_t entries = 0, withFill = 0, badPixels = 0, unwarned = 0, lostRows = 0, refused = 0;
  for (const Layout& l : layouts) {
    if (!TIFFIsCODECConfigured(l.compression)) continue;
    const Bytes whole = WritePage(l);
    if (whole.empty()) continue;
    const ReadResult intact = ReadTIFFBytes(whole, 24);
    if (!intact.ok) continue;
    const uint32_t strips = (l.height + kStripRows - 1) / kStripRows, middle = strips / 2;
    const uint32_t count = GetEntry(whole, TIFFTAG_STRIPBYTECOUNTS, middle);
    std::vector<uint32_t> cuts;
    for (uint32_t c = 1; c <= 16; ++c) cuts.push_back(c);
    cuts.push_back(count / 2);
    cuts.push_back(count / 20);
    for (uint32_t cut : cuts) {
      if (cut == 0 || cut >= count) continue;
      const Bytes file = Cut(whole, middle, cut);
      const ReadResult r = ReadTIFFBytes(file, 24);
      ++entries;
      if (!r.ok || r.image.size() != intact.image.size()) {
        ++refused;
        std::printf("refused: %s c%u fill %u cut %u: %d %s\n", l.name, l.compression, l.fillOrder, cut, r.error,
                    r.warning.c_str());
        continue;
      }
      uint64_t bad = 0, fill = 0;
      for (size_t i = 0; i + 2 < r.image.size(); i += 3) {
        const bool same = std::memcmp(&r.image[i], &intact.image[i], 3) == 0;
        const bool isFill = r.image[i] == 128 && r.image[i + 1] == 128 && r.image[i + 2] == 128;
        bad += !same && !isFill;
        fill += isFill && !same;
      }
      uint32_t lost = 0;
      if (l.compression == COMPRESSION_ADOBE_DEFLATE && l.bits >= 8) {
        const uint32_t rows = ZlibRows(file, middle, l.fillOrder == FILLORDER_LSB2MSB,
                                       uint64_t{kWidth} * l.bits * l.samples / 8);
        const size_t rowBytes = size_t{kWidth} * 3;
        for (uint32_t y = middle * kStripRows; y < middle * kStripRows + rows; ++y)
          lost += std::memcmp(&r.image[y * rowBytes], &intact.image[y * rowBytes], rowBytes) != 0;
      }
      withFill += fill > 0;
      badPixels += bad;
      lostRows += lost;
      unwarned += fill > 0 && r.warning.empty();
      if (bad || lost || (fill && r.warning.empty()))
        std::printf("%s c%u p%u fill %u cut %u: %llu pixels neither, %u rows lost, warning \"%s\"\n", l.name,
                    l.compression, l.predictor, l.fillOrder, cut, static_cast<unsigned long long>(bad), lost,
                    r.warning.c_str());
    }
  }
  std::printf("%llu entries, %llu with fill, %llu refused, %llu pixels neither intact nor fill, %llu fill unwarned, "
              "%llu deflate rows lost\n",
              static_cast<unsigned long long>(entries), static_cast<unsigned long long>(withFill),
              static_cast<unsigned long long>(refused), static_cast<unsigned long long>(badPixels),
              static_cast<unsigned long long>(unwarned), static_cast<unsigned long long>(lostRows));
  EXPECT_EQ(badPixels + unwarned + lostRows, 0u);
}
