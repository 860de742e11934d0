// What the scans of a JPEG cost: each scan counts, for each block of its components in the
// frame, a visit and each coefficient of its band (more for arithmetic coding), and each restart
// interval; a read or transform stops at the scan that takes the cost past its bound, while
// every valid progression reads. Kinds of JPEG that libjpeg does not decode are refused with
// libjpeg's words for what was met.
#include <gtest/gtest.h>

#include <jpeglib.h>

#include <stdexcept>

#include "imaging/formats/jpeg/JPGCommon.h"
#include "jpeg_test_util.h"
#include "../bmp_image_test_util.h"
#include "support/jpeg_encode.h"

namespace {

using jpegtest::Bytes;

using qrvtest::EncodeJPEG;

// A flat grey w x h picture, arithmetic-coded in two scans (the DC, then coefficients 1 to 63),
// the second one then repeated until the stream holds `scans` scans; a restart after every
// `restart` blocks when not 0. The repeats code the band again: no valid progression does.
Bytes RepeatedBandScans(uint32_t w, uint32_t h, int scans, unsigned restart = 0) {
  jpeg_error_mgr err{};
  jpeg_compress_struct c{};
  c.err = jpeg_std_error(&err);
  err.error_exit = [](j_common_ptr) { throw std::runtime_error("libjpeg"); };
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_create_compress(&c);
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = w, c.image_height = h, c.input_components = 1, c.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&c);
  c.arith_code = TRUE;
  c.restart_interval = restart;
  jpeg_scan_info script[2] = {};
  script[0].comps_in_scan = script[1].comps_in_scan = 1;
  script[1].Ss = 1, script[1].Se = 63;
  c.scan_info = script, c.num_scans = 2;
  jpeg_start_compress(&c, TRUE);
  const Bytes row(w, 128);
  for (uint32_t y = 0; y < h; ++y) {
    JSAMPROW r = const_cast<JSAMPROW>(row.data());
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  Bytes jpeg(out, out + size);
  jpeg_destroy_compress(&c);
  std::free(out);
  // The last scan runs from its SOS to the EOI; it goes in again before the EOI.
  size_t last = 0;
  for (size_t i = 0; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) last = i;
  const Bytes scan(jpeg.begin() + static_cast<long>(last), jpeg.end() - 2);
  for (int i = 2; i < scans; ++i) jpeg.insert(jpeg.end() - 2, scan.begin(), scan.end());
  return jpeg;
}

// The file with `bytes` zero bytes after its end: data a decoder is handed past its last scan.
Bytes Padded(Bytes jpeg, size_t bytes) {
  jpeg.insert(jpeg.end(), bytes, 0);
  return jpeg;
}

// `count` comment segments of 65000 bytes put before the second scan's header: bytes libjpeg
// reads between the scans.
Bytes CommentedBetweenScans(Bytes jpeg, int count) {
  int sos = 0;
  for (size_t i = 0; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA && ++sos == 2) {
      Bytes comments;
      for (int c = 0; c < count; ++c) {
        comments.insert(comments.end(), {0xFF, 0xFE, 65002 >> 8, 65002 & 0xFF});
        comments.insert(comments.end(), 65000, 'x');
      }
      jpeg.insert(jpeg.begin() + static_cast<long>(i), comments.begin(), comments.end());
      break;
    }
  return jpeg;
}

// A one-component stream whose first scan header names the band ss..se.
Bytes WithScanBand(Bytes jpeg, uint8_t ss, uint8_t se) {
  for (size_t i = 0; i + 9 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) {
      jpeg[i + 7] = ss, jpeg[i + 8] = se;
      break;
    }
  return jpeg;
}

TEST(JPGScanCost, EachScanCostsItsBlocksBandAndRestarts) {
  // 64 x 48 is 8 x 6 blocks at full sampling and 4 x 3 at half; 33 x 17 is 5 x 3, and 3 x 3
  // for a component of half the width. A sequential scan's band is the 64 coefficients, and
  // its blocks go by MCU (64 a visit); a Huffman coefficient costs 1, an arithmetic one 5.
  const Bytes grey = {0x11}, ycc420 = {0x22, 0x11, 0x11}, ycc422 = {0x21, 0x11, 0x11};
  const Bytes ycc444 = {0x11, 0x11, 0x11}, cmyk = {0x11, 0x11, 0x11, 0x11};
  const uint64_t sequential = 64 + 64, dcArith = 64 + 5, oneArith = 10 + 5;
  const struct {
    const char* what;
    Bytes jpeg;
    int scans;
    uint64_t cost;
  } cases[] = {
      {"grey baseline", EncodeJPEG(64, 48, grey, "baseline"), 1, 48 * sequential},
      // A sequential scan decodes the 64 coefficients whatever band its header names.
      {"grey baseline, naming the band 5-5", WithScanBand(EncodeJPEG(64, 48, grey, "baseline"), 5, 5), 1,
       48 * sequential},
      // libjpeg's progression of one component: the DC in two scans, bands 1-5 and 6-63, then
      // two refinements of 1-63.
      {"grey progressive", EncodeJPEG(64, 48, grey, "simple"), 6,
       48 * (2 * 65 + (10 + 5) + (10 + 58) + 2 * (10 + 63))},
      {"4:2:0 baseline", EncodeJPEG(64, 48, ycc420, "baseline"), 1, (48 + 2 * 12) * sequential},
      {"4:4:4 odd size", EncodeJPEG(33, 17, ycc444, "baseline"), 1, 3 * 15 * sequential},
      {"4:2:2 odd size", EncodeJPEG(33, 17, ycc422, "baseline"), 1, (15 + 2 * 9) * sequential},
      {"CMYK baseline", EncodeJPEG(64, 48, cmyk, "baseline"), 1, 4 * 48 * sequential},
      {"grey, restart every block", EncodeJPEG(64, 48, grey, "baseline", 0, 1), 1, 48 * sequential + 48 * 16},
      {"4:2:0, restart every MCU", EncodeJPEG(64, 48, ycc420, "baseline", 0, 1), 1, 72 * sequential + 12 * 16},
      {"CMYK arithmetic, 20 scans", EncodeJPEG(64, 48, cmyk, "arithmetic", 20), 20, 4 * 48 * dcArith + 19 * 48 * oneArith},
  };
  for (const auto& c : cases) {
    const jpegtest::ReadResult r = jpegtest::ReadJPG(c.jpeg, 24);
    EXPECT_EQ(r.error, IS_ERR_OK) << c.what;
    EXPECT_EQ(JPGScansDecoded(), c.scans) << c.what;
    EXPECT_EQ(JPGScanCostDecoded(), c.cost) << c.what;
  }
}

TEST(JPGScanCost, TheScanPastTheBoundIsRefused) {
  // Scans that code a band again: on a small frame the bound is 32768 per block (the 48 blocks'
  // DC scan costs 48 x 69, each band 48 x 325: the 102nd scan goes past); on a 4096 x 4096
  // frame it is the bound of all (the DC 262144 x 69, the 60th scan goes past). A read and a
  // transform stop there; the valid progressions within them go through.
  const auto read = [](const Bytes& f) {
    const jpegtest::ReadResult r = jpegtest::ReadJPG(f, 24);
    return std::make_pair(r.error, r.warning);
  };
  const auto transform = [](const Bytes& f) {
    fmttest::MemorySink sink;
    ISIOHandle source = ISOpenMemorySource(f.data(), static_cast<DWORD>(f.size()));
    ISTransformJPG(source, sink.handle, 5, 0, 0, 0, 0);
    const auto outcome = std::make_pair(ISGetLastError(), std::string(ISGetLastWarning()));
    ISCloseSource(source);
    return outcome;
  };
  const auto refused = [](int scan, const char* blocks) {
    return "JPEG data's first " + std::to_string(scan) + " scans cost more to decode than its frame of " + blocks +
           " blocks allows";
  };
  const Bytes grey = {0x11}, ycc = {0x11, 0x11, 0x11};
  const struct {
    const char* what;
    Bytes jpeg;
    bool transformed;
    ISErrorCode error;
    std::string warning;
    int scans;
  } cases[] = {
      {"read, a band 200 times", RepeatedBandScans(64, 48, 200), false, IS_ERR_BADJPEG, refused(102, "48"), 101},
      {"transform, a band 200 times", RepeatedBandScans(64, 48, 200), true, IS_ERR_BADJPEG, refused(102, "48"), 101},
      {"read, a band 101 times", RepeatedBandScans(64, 48, 101), false, IS_ERR_OK, "", 101},
      // A restart after every block adds 48 x 16 to every scan.
      {"read, a band 200 times, restarts", RepeatedBandScans(64, 48, 200, 1), false, IS_ERR_BADJPEG,
       refused(97, "48"), 96},
      {"read, 4096 x 4096, a band 100 times", RepeatedBandScans(4096, 4096, 100), false, IS_ERR_BADJPEG,
       refused(60, "262144"), 59},
      // 700000 bytes after the end of the image buy nothing; 715000 bytes libjpeg reads between
      // the scans allow 8192 units each (with the scans' own bytes, about 5.86e9 in all by the
      // start of the scan that goes past).
      {"read, 4096 x 4096, a band 100 times, 700000 bytes after", Padded(RepeatedBandScans(4096, 4096, 100), 700000),
       false, IS_ERR_BADJPEG, refused(60, "262144"), 59},
      {"read, 4096 x 4096, a band 100 times, 715000 bytes between scans",
       CommentedBetweenScans(RepeatedBandScans(4096, 4096, 100), 11), false, IS_ERR_BADJPEG, refused(70, "262144"),
       69},
      // Arithmetic progressions of one coefficient a scan, past 32 passes over the frame.
      {"read, 40 scans", EncodeJPEG(64, 48, grey, "arithmetic", 40), false, IS_ERR_OK, "", 40},
      {"transform, 40 scans", EncodeJPEG(64, 48, grey, "arithmetic", 40), true, IS_ERR_OK, "", 40},
      {"YCbCr, 63 scans", EncodeJPEG(64, 48, ycc, "arithmetic", 63), false, IS_ERR_OK, "", 63},
  };
  for (const auto& c : cases) {
    ASSERT_FALSE(c.jpeg.empty()) << c.what;
    const auto outcome = c.transformed ? transform(c.jpeg) : read(c.jpeg);
    EXPECT_EQ(outcome, std::make_pair(c.error, c.warning)) << c.what;
    EXPECT_EQ(JPGScansDecoded(), c.scans) << c.what;
  }
}

// Progressions written by jpegtran's scan scripts: one coefficient a scan, bands of two, the
// components' DC in one scan then each component's bands, in Huffman and arithmetic coding,
// with a restart after every block. Each reads as the sequential file it was made from, and as
// djpeg reads it.
TEST(JPGScanCost, EveryValidProgressionReads) {
  QRV_REQUIRE_TOOL("jpegtran");
  QRV_REQUIRE_TOOL("djpeg");
  // DC of all components, then each component's coefficients 1 to 63 in bands of `widths[c]`.
  const auto script = [](int comps, std::vector<int> widths) {
    std::string s = "0";
    for (int c = 1; c < comps; ++c) s += "," + std::to_string(c);
    s += ": 0-0, 0, 0;\n";
    for (int c = 0; c < comps; ++c)
      for (int k = 1, w = widths[std::min<size_t>(c, widths.size() - 1)]; k <= 63; k += w)
        s += std::to_string(c) + ": " + std::to_string(k) + "-" + std::to_string(std::min(63, k + w - 1)) + ", 0, 0;\n";
    return s;
  };
  const Bytes grey = jpegtest::Cjpeg(jpegtest::MakePicture(203, 151, 1), 203, 151, 1, "-quality 95");
  const Bytes ycc420 = jpegtest::Cjpeg(jpegtest::MakePicture(203, 151, 3), 203, 151, 3, "-quality 95");
  const Bytes ycc444 = jpegtest::Cjpeg(jpegtest::MakePicture(203, 151, 3), 203, 151, 3, "-quality 95 -sample 1x1");
  const Bytes cmyk = EncodeJPEG(203, 151, {0x11, 0x11, 0x11, 0x11}, "baseline");
  const struct {
    const char* what;
    const Bytes* source;
    std::string script;
    std::string args;
    int scans;
  } cases[] = {
      {"grey, a coefficient a scan", &grey, script(1, {1}), "", 64},
      {"grey, arithmetic", &grey, script(1, {1}), "-arithmetic", 64},
      {"4:2:0, Y a coefficient a scan", &ycc420, script(3, {1, 63}), "", 66},
      {"4:4:4, Y a coefficient a scan, arithmetic", &ycc444, script(3, {1, 63}), "-arithmetic", 66},
      {"4:4:4, bands of two", &ycc444, script(3, {2}), "", 97},
      {"4:2:0, bands of two, arithmetic", &ycc420, script(3, {2}), "-arithmetic", 97},
      {"4:4:4, bands of two, restart every block", &ycc444, script(3, {2}), "-restart 1B", 97},
      {"CMYK, bands of three", &cmyk, script(4, {3}), "", 85},
      {"CMYK, bands of three, arithmetic, restarts", &cmyk, script(4, {3}), "-arithmetic -restart 1B", 85},
  };
  for (const auto& c : cases) {
    ASSERT_FALSE(c.source->empty()) << c.what;
    qrvtest::TempDir dir;
    ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("in.jpg"), *c.source));
    ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("scans.txt"), Bytes(c.script.begin(), c.script.end())));
    int status = -1;
    qrvtest::RunCommand("jpegtran " + c.args + " -scans " + dir.File("scans.txt") + " -outfile " +
                            dir.File("out.jpg") + " " + dir.File("in.jpg"),
                        &status);
    ASSERT_EQ(status, 0) << c.what;
    const Bytes progressive = qrvtest::ReadFileBytes(dir.File("out.jpg"));
    const bool fourComponents = c.source == &cmyk;
    const DWORD bits = fourComponents ? 32 : c.source == &grey ? 8 : 24, flags = fourComponents ? 1 : 0;
    const jpegtest::ReadResult r = jpegtest::ReadJPG(progressive, bits, flags);
    EXPECT_EQ(std::make_pair(r.error, r.warning), std::make_pair(IS_ERR_OK, std::string())) << c.what;
    EXPECT_EQ(JPGScansDecoded(), c.scans) << c.what;
    EXPECT_EQ(r.image, jpegtest::ReadJPG(*c.source, bits, flags).image) << c.what;
    uint32_t w = 0, h = 0, comps = 0;
    if (!fourComponents) {
      EXPECT_EQ(r.image, jpegtest::Djpeg(progressive, "", &w, &h, &comps)) << c.what;
    }
  }
}

TEST(JPGRefusals, KindsLibjpegDoesNotDecodeSayWhich) {
  // A baseline stream whose frame header is changed: its marker, its precision or its height.
  const Bytes base = EncodeJPEG(16, 16, {0x11}, "baseline");
  size_t sof = 0;
  for (size_t i = 2; i + 9 < base.size() && !sof; ++i)
    if (base[i] == 0xFF && base[i + 1] == 0xC0) sof = i;
  ASSERT_GT(sof, 0u);
  const auto with = [&](size_t at, uint8_t value) {
    Bytes b = base;
    b[sof + at] = value;
    return b;
  };
  const struct {
    const char* what;
    Bytes jpeg;
    std::string warning;
  } cases[] = {
      {"lossless", with(1, 0xC3), "Unsupported JPEG process: SOF type 0xc3"},
      {"hierarchical", with(1, 0xC5), "Unsupported JPEG process: SOF type 0xc5"},
      {"lossless arithmetic", with(1, 0xCB), "Unsupported JPEG process: SOF type 0xcb"},
      {"12-bit", with(4, 12), "Unsupported JPEG data precision 12"},
      {"16-bit", with(4, 16), "Unsupported JPEG data precision 16"},
      {"height from a DNL marker", with(6, 0), "Empty JPEG image (DNL not supported)"},
  };
  for (const auto& c : cases) {
    const jpegtest::ReadResult r = jpegtest::ReadJPG(c.jpeg, 24);
    EXPECT_EQ(std::make_pair(r.error, r.warning), std::make_pair(IS_ERR_BADJPEG, c.warning)) << c.what;
    ISIOHandle source = ISOpenMemorySource(c.jpeg.data(), static_cast<DWORD>(c.jpeg.size()));
    DWORD w = 0, h = 0;
    EXPECT_FALSE(ISGetJPGInfo(source, &w, &h, nullptr, nullptr, nullptr, nullptr)) << c.what;
    EXPECT_EQ(std::string(ISGetLastWarning()), c.warning) << c.what;
    ISCloseSource(source);
  }
}

}  // namespace
