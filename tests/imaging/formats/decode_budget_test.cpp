// The decode budget of the JPEG, BMP, TGA, PSD and PCX readers: tiny files claiming huge
// pictures are refused in little memory, cut files are read as far as they go, and a large
// picture that compresses to almost nothing still reads; a JPEG file's data must hold every
// component's blocks, its scans and libjpeg's buffers stay within their limits.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <functional>

#include "bmp_image_test_util.h"
#include "imaging/core/ISDecodeBudget.h"
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/jpeg/JPGCommon.h"
#include "jpeg/jpeg_test_util.h"
#include "support/peak_memory.h"

namespace {

using fmttest::Bytes;

void LE(Bytes& b, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void BE(Bytes& b, uint64_t v, int n) {
  for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Files of 8 bits or fewer have a colour table of one entry.
Bytes BMP(uint32_t w, uint32_t h, uint32_t bits, uint32_t compression, const Bytes& data) {
  const uint32_t table = bits <= 8 ? 4 : 0;
  Bytes b = {'B', 'M'};
  LE(b, 54 + table + data.size(), 4), LE(b, 0, 4), LE(b, 54 + table, 4), LE(b, 40, 4), LE(b, w, 4), LE(b, h, 4);
  LE(b, 1, 2), LE(b, bits, 2), LE(b, compression, 4), b.insert(b.end(), 12, 0), LE(b, table / 4, 4);
  b.resize(54 + table);
  return Join(b, data);
}
Bytes TGA(uint32_t type, uint32_t w, uint32_t h, const Bytes& data) {
  Bytes b = {0, 0, static_cast<uint8_t>(type), 0, 0, 0, 0, 0, 0, 0, 0, 0};
  LE(b, w, 2), LE(b, h, 2), b.push_back(24), b.push_back(0x20);
  return Join(b, data);
}
Bytes PSD(uint32_t w, uint32_t h, uint32_t compression, const Bytes& data) {
  Bytes b = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
  BE(b, 3, 2), BE(b, h, 4), BE(b, w, 4), BE(b, 8, 2), BE(b, 3, 2);
  b.resize(b.size() + 12), BE(b, compression, 2);
  return Join(b, data);
}
Bytes PCX(uint32_t w, uint32_t h, const Bytes& data) {
  Bytes b(128, 0);
  b[0] = 10, b[1] = 5, b[2] = 1, b[3] = 8, b[65] = 3;
  b[8] = static_cast<uint8_t>(w - 1), b[9] = static_cast<uint8_t>((w - 1) >> 8);
  b[10] = static_cast<uint8_t>(h - 1), b[11] = static_cast<uint8_t>((h - 1) >> 8);
  b[66] = static_cast<uint8_t>(w), b[67] = static_cast<uint8_t>(w >> 8);
  return Join(b, data);
}

// cjpeg's stream of a small picture with its frame header claiming w x h.
Bytes JPEGClaiming(uint32_t w, uint32_t h, uint32_t comps, const std::string& args) {
  Bytes jpeg = jpegtest::Cjpeg(jpegtest::MakePicture(16, 16, comps), 16, 16, comps, args);
  for (size_t i = 2; i + 9 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] >= 0xC0 && jpeg[i + 1] <= 0xCF && jpeg[i + 1] != 0xC4 &&
        jpeg[i + 1] != 0xC8 && jpeg[i + 1] != 0xCC) {
      jpeg[i + 5] = static_cast<uint8_t>(h >> 8), jpeg[i + 6] = static_cast<uint8_t>(h);
      jpeg[i + 7] = static_cast<uint8_t>(w >> 8), jpeg[i + 8] = static_cast<uint8_t>(w);
      return jpeg;
    }
  return {};
}

// A half turn of `jpeg`: the error, and the warning when asked.
ISErrorCode TransformJPGSaying(const Bytes& jpeg, std::string* warning) {
  fmttest::MemorySink sink;
  ISIOHandle source = ISOpenMemorySource(jpeg.data(), static_cast<DWORD>(jpeg.size()));
  ISTransformJPG(source, sink.handle, 6, 0, 0, 0, 0);
  const ISErrorCode error = ISGetLastError();
  if (warning) *warning = ISGetLastWarning();
  ISCloseSource(source);
  return error;
}
ISErrorCode TransformJPG(const Bytes& jpeg) { return TransformJPGSaying(jpeg, nullptr); }

// One scan of a hand-made stream: component ids, Ss, Se, Ah << 4 | Al, and its data (zero bytes).
struct HandScan {
  Bytes components;
  uint8_t ss, se, approximation;
  size_t dataBytes;
};
// A JPEG stream written by hand: Huffman tables of one 1-bit code each (DC difference 0, end of
// block), so that a zero bit codes a block's DC; the frame of marker `sof` whose component i + 1
// has the sampling factors factors[i] (0xHV); the scans; the end marker.
Bytes HandMadeJPEG(uint8_t sof, uint32_t width, uint32_t height, const Bytes& factors,
                   const std::vector<HandScan>& scans) {
  Bytes out = {0xFF, 0xD8};
  const auto segment = [&out](uint8_t code, Bytes payload) {
    BE(out, 0xFF00 | code, 2), BE(out, payload.size() + 2, 2);
    out = Join(out, payload);
  };
  Bytes table(65, 1), dc(18, 0), ac(18, 0), frame = {8};
  table[0] = 0, dc[1] = 1, ac[0] = 0x10, ac[1] = 1;
  segment(0xDB, table), segment(0xC4, dc), segment(0xC4, ac);
  BE(frame, height, 2), BE(frame, width, 2), frame.push_back(static_cast<uint8_t>(factors.size()));
  for (size_t i = 0; i < factors.size(); ++i) frame = Join(frame, {static_cast<uint8_t>(i + 1), factors[i], 0});
  segment(sof, frame);
  for (const HandScan& scan : scans) {
    Bytes header = {static_cast<uint8_t>(scan.components.size())};
    for (uint8_t id : scan.components) header = Join(header, {id, 0});
    segment(0xDA, Join(header, {scan.ss, scan.se, scan.approximation}));
    out.resize(out.size() + scan.dataBytes, 0);
  }
  return Join(out, {0xFF, 0xD9});
}

// A 512 x 512 frame of 600 scans without data: progressive AC scans (or one and then
// refinements), or, with sof 0xC0, sequential scans, all of the second of its three components.
// That one holds an eighteenth of the frame's blocks (the first is sampled 4 x 4), so that 600
// scans of it stay within the blocks the scans may code.
Bytes JPEGOfRepeatedScans(uint8_t sof, bool refinements) {
  std::vector<HandScan> scans;
  for (uint8_t i = 0; scans.size() < 600; ++i)
    scans.push_back(sof == 0xC0 ? HandScan{{2}, 0, 63, 0, 0}
                                : HandScan{{2}, 1, 63, static_cast<uint8_t>(refinements && i ? 0x10 : 1), 0});
  return HandMadeJPEG(sof, 512, 512, {0x44, 0x11, 0x11}, scans);
}

TEST(DecodeBudget, TinyFilesClaimingHugePicturesAreRefusedInLittleMemory) {
  QRV_REQUIRE_TOOL("cjpeg");
  struct Case {
    const char* what;
    Bytes file;
    std::function<ISErrorCode(const Bytes&)> read;
    ISErrorCode code;
  };
  const auto jpg = [](const Bytes& f) { return jpegtest::ReadJPG(f, 24).error; };
  const auto with = [](fmttest::ReaderFn reader) {
    return [reader](const Bytes& f) { return fmttest::ReadWith(reader, f, 24).error; };
  };
  const Case cases[] = {
      {"JPEG baseline", JPEGClaiming(26000, 26000, 3, ""), jpg, IS_ERR_BADJPEG},
      {"JPEG progressive arithmetic", JPEGClaiming(26000, 26000, 1, "-progressive -arithmetic"), jpg, IS_ERR_BADJPEG},
      {"JPEG transform", JPEGClaiming(26000, 26000, 3, "-progressive"), TransformJPG, IS_ERR_BADJPEG},
      {"BMP raw", BMP(30000, 30000, 24, 0, Bytes(64, 7)), with(&ISReadBMP), IS_ERR_READ},
      {"BMP RLE8", BMP(30000, 30000, 8, 1, {255, 7, 255, 7}), with(&ISReadBMP), IS_ERR_READ},
      {"BMP RLE8 skipping", BMP(30000, 30000, 8, 1, {255, 7, 255, 7, 0, 1}), with(&ISReadBMP), IS_ERR_READ},
      {"TGA raw", TGA(2, 65535, 65535, Bytes(64, 7)), with(&ISReadTGA), IS_ERR_READ},
      {"TGA RLE", TGA(10, 65535, 65535, {0xFF, 1, 2, 3, 0xFF, 1, 2, 3}), with(&ISReadTGA), IS_ERR_READ},
      {"PSD raw", PSD(30000, 30000, 0, Bytes(64, 7)), with(&ISReadPSD), IS_ERR_READ},
      {"PSD PackBits", PSD(1000000000, 2, 1, {0, 2, 0, 2, 0, 2, 0, 2, 0, 2, 0, 2, 0x81, 7, 0x81, 7}), with(&ISReadPSD),
       IS_ERR_READ},
      {"PCX", PCX(65535, 65535, {0xFF, 7, 0xFF, 7}), with(&ISReadPCX), IS_ERR_BADPCX},
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(c.file.empty()) << c.what;
    EXPECT_LT(c.file.size(), 1024u) << c.what;
    const qrvtest::ChildRun run = qrvtest::RunInChild([&] { return static_cast<int>(c.read(c.file)); });
    std::printf("%-28s %4zu bytes: error %d, %.3f s, peak +%ld MB\n", c.what, c.file.size(), run.result, run.seconds,
                run.peakMB);
    ASSERT_TRUE(run.exited) << c.what;
    EXPECT_EQ(run.result, static_cast<int>(c.code)) << c.what;
    EXPECT_LT(run.peakMB, 64) << c.what;
  }
  // The refusal says why.
  EXPECT_EQ(jpegtest::ReadJPG(cases[1].file, 24).warning.rfind(
                "26000 x 26000 is over 64 megapixels with less than one byte of picture data per 16 pixels (", 0),
            0u);
}

TEST(DecodeBudget, ARowWeighsAtLeast64Pixels) {
  // Shapes asked with the same few stored bytes (and data that bounds nothing): rows of fewer
  // than 64 pixels weigh 64, so a thin picture needs the data a 64-pixel-wide one would.
  const std::string over = " is over 64 megapixels with less than one byte of picture data per 16 pixels (";
  const std::string thin = " for its rows of fewer than 64 pixels,";
  const struct {
    uint64_t width, height, dataBytes;
    std::string refusal;
  } asked[] = {
      {8192, 8192, 1080, ""},
      {67108864, 1, 1080, ""},
      {64, 1048576, 1080, ""},
      {1, 1048576, 1080, ""},
      {1, 1048577, 1080, "1 x 1048577, weighed as 64 x 1048577" + thin + over + "1080 bytes)"},
      {1, 67108864, 1080, "1 x 67108864, weighed as 64 x 67108864" + thin + over + "1080 bytes)"},
      {2, 33554432, 1080, "2 x 33554432, weighed as 64 x 33554432" + thin + over + "1080 bytes)"},
      {1, 67108864, 268435455, "1 x 67108864, weighed as 64 x 67108864" + thin + over + "268435455 bytes)"},
      {1, 67108864, 268435456, ""},  // four stored bytes a row
      {8193, 8192, 1080, "8193 x 8192" + over + "1080 bytes)"},
  };
  for (const auto& a : asked) {
    SCOPED_TRACE(std::to_string(a.width) + " x " + std::to_string(a.height));
    GetThreadState()->lastWarning.clear();
    EXPECT_EQ(RovIrirev::DecodeBudgetAllows(a.width, a.height, RovIrirev::kUnboundedData, a.dataBytes), a.refusal.empty());
    EXPECT_EQ(ISGetLastWarning(), a.refusal);
  }
  // What the readers ask for files of a few bytes: a BMP of one end-of-bitmap code (which skips
  // pixels, so its data bounds nothing) and a PNG of a little image data.
  const auto png = [](uint32_t w, uint32_t h) {
    Bytes file = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, ihdr;
    BE(ihdr, w, 4), BE(ihdr, h, 4), ihdr = Join(ihdr, {8, 0, 0, 0, 0});
    const auto chunk = [&file](const char* type, const Bytes& data) {
      Bytes body(type, type + 4);
      body = Join(body, data);
      BE(file, data.size(), 4), file = Join(file, body), BE(file, crc32(0, body.data(), static_cast<uInt>(body.size())), 4);
    };
    chunk("IHDR", ihdr), chunk("IDAT", {0x78, 0x9C, 0x63, 0, 0, 0, 1, 0, 1}), chunk("IEND", {});
    return file;
  };
  const struct {
    const char* format;
    uint32_t width, height;
    ISErrorCode code;
  } reads[] = {
      {"BMP", 1, 1048576, IS_ERR_OK},        {"BMP", 1, 1048577, IS_ERR_READ}, {"BMP", 1, 67108864, IS_ERR_READ},
      {"BMP", 2, 33554432, IS_ERR_READ},     {"BMP", 4194304, 1, IS_ERR_OK},   {"BMP", 2048, 2048, IS_ERR_OK},
      {"PNG", 1, 67108864, IS_ERR_BADPNG},   {"PNG", 2, 33554432, IS_ERR_BADPNG},
  };
  for (const auto& r : reads) {
    const std::string shape = std::string(r.format) + " " + std::to_string(r.width) + " x " + std::to_string(r.height);
    const bool bmp = r.format[0] == 'B';
    const Bytes file = bmp ? BMP(r.width, r.height, 8, 1, {0, 1}) : png(r.width, r.height);
    const uint64_t before = RovIrirev::LastDecodeBudgetQuery().count;
    const fmttest::Picture read = fmttest::ReadWith(bmp ? &ISReadBMP : &ISReadPNG, file, 24);
    EXPECT_EQ(read.error, r.code) << shape;
    const RovIrirev::DecodeBudgetQuery& q = RovIrirev::LastDecodeBudgetQuery();
    EXPECT_EQ(q.count, before + 1) << shape;
    EXPECT_EQ(std::vector<uint64_t>({q.width, q.height, q.dataBytes, q.allowed}),
              std::vector<uint64_t>({r.width, r.height, bmp ? 2u : 9u, r.code == IS_ERR_OK}))
        << shape;
    EXPECT_TRUE(!bmp || q.dataPixels == RovIrirev::kUnboundedData) << shape;
    EXPECT_EQ(read.warning.find(", weighed as 64 x ") != std::string::npos, r.code != IS_ERR_OK) << shape << read.warning;
  }
}

TEST(DecodeBudget, JPEGDataMustHoldTheBlocksOfEveryComponent) {
  // The first scan codes Cb alone, 1 x 1 beside luma's 4 x 4: an 18th of the frame's blocks.
  const struct {
    uint32_t side;
    uint8_t sof;
    size_t dataBytes;
  } cases[] = {{20000, 0xC2, 30000}, {25000, 0xC0, 60000}, {8000, 0xC2, 30000}};
  for (const auto& c : cases) {
    const Bytes file = HandMadeJPEG(c.sof, c.side, c.side, {0x44, 0x11, 0x11},
                                              {{{2}, 0, static_cast<uint8_t>(c.sof == 0xC0 ? 63 : 0), 0, c.dataBytes}});
    const qrvtest::ChildRun run =
        qrvtest::RunInChild([&] { return static_cast<int>(jpegtest::ReadJPG(file, 24).error); });
    ASSERT_TRUE(run.exited) << c.side;
    ASSERT_EQ(run.result, static_cast<int>(IS_ERR_BADJPEG)) << c.side;
    EXPECT_LT(run.peakMB, 64) << c.side;
    // Asked: the frame, with the data from the first scan on coding a bit for each block of
    // all three components.
    jpegtest::ReadJPG(file, 24);
    const RovIrirev::DecodeBudgetQuery& asked = RovIrirev::LastDecodeBudgetQuery();
    const uint64_t left = file.size() - jpegtest::ScanDataOffset(file);
    EXPECT_EQ(std::vector<uint64_t>({asked.width, asked.height, asked.dataPixels, asked.dataBytes}),
              std::vector<uint64_t>({c.side, c.side, left * 8 * 64 * 16 / 18, left}))
        << c.side;
  }
}

TEST(DecodeBudget, JPEGScansPastTheLimitAreRefused) {
  // Each scan is a pass over all its blocks for a 10-byte header: past the limit a read or
  // transform stops, having decoded the limit's number of scans.
  using Outcome = std::pair<ISErrorCode, std::string>;
  const auto read = [](const Bytes& f) {
    const jpegtest::ReadResult r = jpegtest::ReadJPG(f, 24);
    return Outcome(r.error, r.warning);
  };
  const auto transform = [](const Bytes& f) {
    Outcome outcome;
    outcome.first = TransformJPGSaying(f, &outcome.second);
    return outcome;
  };
  const Outcome refused(IS_ERR_BADJPEG, "JPEG data has more than 500 scans");
  const struct {
    const char* what;
    Bytes file;
    std::function<Outcome(const Bytes&)> run;
    int scans;
    Outcome outcome;
  } cases[] = {
      {"progressive, AC scans", JPEGOfRepeatedScans(0xC2, false), read, kJPGScanLimit, refused},
      {"progressive, refinements", JPEGOfRepeatedScans(0xC2, true), read, kJPGScanLimit, refused},
      {"sequential", JPEGOfRepeatedScans(0xC0, false), read, kJPGScanLimit, refused},
      {"transform, refinements", JPEGOfRepeatedScans(0xC2, true), transform, kJPGScanLimit, refused},
      {"progressive as written", jpegtest::WriteJPG(jpegtest::MakePicture(64, 48, 3), 64, 48, 90, 24, nullptr, 1).jpeg,
       read, 10, Outcome(IS_ERR_OK, "")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.run(c.file), c.outcome) << c.what;
    EXPECT_EQ(JPGScansDecoded(), c.scans) << c.what;
  }
}

TEST(DecodeBudget, JPEGBuffersPastTheMemoryLimitAreARefusalThatSaysWhy) {
  // libjpeg judges its whole-frame buffers against the limit when it creates them.
  const Bytes file = jpegtest::WriteJPG(jpegtest::MakePicture(64, 480, 3), 64, 480, 90, 24, nullptr, 1).jpeg;
  ISIOHandle handle = ISOpenMemorySource(file.data(), static_cast<DWORD>(file.size()));
  CISIO io(handle);
  jpeg_error_mgr err{};
  jpeg_decompress_struct cinfo{};
  cinfo.err = JPGInitErrorManager(&err);
  jpeg_create_decompress(&cinfo);
  std::string refusal;
  try {
    InitJPGSource(&cinfo, &io, false, false);
    jpeg_read_header(&cinfo, TRUE);
    JPGGuardDecode(&cinfo, 1);
    cinfo.mem->max_memory_to_use = 4096;
    jpeg_start_decompress(&cinfo);
  } catch (const RovIrirev::ISException& e) {
    refusal = e.what();
  }
  EXPECT_EQ(refusal, "JPEG decoding needs more than the 4096 bytes of memory allowed for it");
  EXPECT_EQ(ISGetLastWarning(), refusal);
  jpeg_destroy_decompress(&cinfo);
  ISCloseSource(handle);
}

// Rows of a cut file's picture are the whole file's rows or mid grey; returns how many are the
// whole file's.
size_t RowsAsWhole(const Bytes& cut, const Bytes& whole, size_t rowBytes) {
  size_t same = 0;
  for (size_t at = 0; at + rowBytes <= whole.size(); at += rowBytes) {
    if (std::equal(whole.begin() + at, whole.begin() + at + rowBytes, cut.begin() + at)) {
      ++same;
      continue;
    }
    EXPECT_EQ(Bytes(cut.begin() + at, cut.begin() + at + rowBytes), Bytes(rowBytes, 128)) << "row " << at / rowBytes;
  }
  return same;
}

TEST(DecodeBudget, CutFilesAreReadAsFarAsTheyGo) {
  // A 64 x 48 picture in each format's writer, cut at 60 % of its size: the rows in the part
  // that is left come back as from the whole file, the others mid grey, with the reader's word.
  const uint32_t w = 64, h = 48;
  const Bytes rgb = jpegtest::MakePicture(w, h, 3);
  struct Case {
    const char* format;
    fmttest::ReaderFn read;
    std::function<BOOL(ISIOHandle)> write;
  };
  const Case cases[] = {
      {"BMP", &ISReadBMP, [&](ISIOHandle s) { return ISWriteBMP(s, rgb.data(), w, h, 24, 0, nullptr, nullptr, 0); }},
      {"TGA", &ISReadTGA, [&](ISIOHandle s) { return ISWriteTGA(s, rgb.data(), w, h, 24, nullptr, 0); }},
      {"PCX", &ISReadPCX, [&](ISIOHandle s) { return ISWritePCX(s, rgb.data(), w, h, 24, nullptr, 0); }},
      {"PSD", &ISReadPSD, [&](ISIOHandle s) { return ISWritePSD(s, rgb.data(), w, h, 24, nullptr, 0); }},
  };
  for (const Case& c : cases) {
    const std::string format = c.format;
    fmttest::MemorySink sink;
    const BOOL size = c.write(sink.handle);
    ASSERT_GT(size, 0) << format;
    const Bytes file = sink.Take(size);
    const fmttest::Picture whole = fmttest::ReadWith(c.read, file, 24);
    ASSERT_EQ(whole.error, IS_ERR_OK) << format;
    EXPECT_EQ(whole.warning, "") << format;
    const fmttest::Picture cut = fmttest::ReadWith(c.read, Bytes(file.begin(), file.begin() + file.size() * 6 / 10), 24);
    ASSERT_EQ(cut.error, IS_ERR_OK) << format;
    ASSERT_EQ(cut.pixels.size(), whole.pixels.size()) << format;
    if (format != "PSD") {
      const size_t same = RowsAsWhole(cut.pixels, whole.pixels, w * 3);
      EXPECT_GT(same, 0u) << format;
      EXPECT_LT(same, h) << format;
      EXPECT_EQ(cut.warning, format + " file ended early: " + std::to_string(same) + " of 48 rows decoded");
      continue;
    }
    // Planes one after another: red whole, green in part, blue missing (mid grey).
    for (size_t i = 0; i < cut.pixels.size(); ++i) {
      const uint8_t expect = i % 3 == 0 ? whole.pixels[i] : i % 3 == 2 ? 128 : cut.pixels[i];
      ASSERT_EQ(cut.pixels[i], expect) << i;
      if (i % 3 == 1 && cut.pixels[i] != whole.pixels[i]) {
        ASSERT_EQ(cut.pixels[i], 128) << i;
      }
    }
    EXPECT_EQ(cut.warning.rfind("PSD file ended early: 8", 0), 0u) << cut.warning;
  }
}

TEST(DecodeBudget, CutCameraJPEGReadsWithTheRestMidGrey) {
  QRV_REQUIRE_TESTDATA("jpeg/orientation/landscape_1.jpg");
  const Bytes file = qrvtest::ReadFileBytes(qrvtest::TestDataFile("jpeg/orientation/landscape_1.jpg"));
  const jpegtest::ReadResult whole = jpegtest::ReadJPG(file, 24);
  ASSERT_TRUE(whole.ok);
  const size_t rowBytes = size_t{whole.width} * 3;
  size_t before = 0;
  for (int percent : {50, 80}) {
    const jpegtest::ReadResult cut = jpegtest::ReadJPG(Bytes(file.begin(), file.begin() + file.size() * percent / 100), 24);
    ASSERT_TRUE(cut.ok) << percent << "%: " << cut.error;
    EXPECT_EQ(cut.warning, "Premature end of JPEG file");
    // Whole rows from the top as in the whole file; the last row (no data left) mid grey.
    size_t same = 0;
    while (same < whole.height && std::equal(whole.image.begin() + same * rowBytes,
                                             whole.image.begin() + (same + 1) * rowBytes, cut.image.begin() + same * rowBytes))
      ++same;
    EXPECT_GT(same, before) << percent;
    EXPECT_LT(same, whole.height) << percent;
    EXPECT_EQ(Bytes(cut.image.end() - rowBytes, cut.image.end()), Bytes(rowBytes, 128)) << percent;
    before = same;
  }
}

TEST(DecodeBudget, FlatArithmeticCoded24MegapixelJPEGEqualsDjpeg) {
  QRV_REQUIRE_TOOL("cjpeg");
  QRV_REQUIRE_TOOL("djpeg");
  const uint32_t w = 6000, h = 4000;
  Bytes flat(size_t{w} * h * 3);
  for (size_t i = 0; i < flat.size(); i += 3) flat[i] = 200, flat[i + 1] = 120, flat[i + 2] = 40;
  const Bytes jpeg = jpegtest::Cjpeg(flat, w, h, 3, "-arithmetic");
  ASSERT_FALSE(jpeg.empty());
  uint32_t dw = 0, dh = 0, comps = 0;
  const Bytes expect = jpegtest::Djpeg(jpeg, "", &dw, &dh, &comps);
  ASSERT_EQ(expect.size(), flat.size());
  const jpegtest::ReadResult r = jpegtest::ReadJPG(jpeg, 24);
  ASSERT_TRUE(r.ok) << jpeg.size() << " bytes: error " << r.error << " " << r.warning;
  EXPECT_EQ(r.warning, "");
  ASSERT_EQ(r.image.size(), expect.size());
  EXPECT_TRUE(r.image == expect);
}

}  // namespace
