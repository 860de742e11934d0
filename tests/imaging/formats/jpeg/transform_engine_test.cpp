// The lossless transform on its own: round trips, a plain block-by-block reference for the
// edge rules, crops, the EXIF dimension update, marker copying, progress stops and bad input.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/core/ISThreadState.h"
#include "imaging/formats/jpeg/JPGTransform.h"
#include "transform_support.h"

namespace {

using jpegtest::Bytes;
using xformtest::Coefficients;
using xformtest::ReadCoefficients;
using xformtest::Transform;

Bytes MakeJpeg(uint32_t w, uint32_t h, uint32_t comps, const std::string& args, uint32_t seed = 3) {
  return jpegtest::Cjpeg(jpegtest::MakePicture(w, h, comps, seed), w, h, comps, args);
}

void ExpectSameCoefficients(const Coefficients& a, const Coefficients& b) {
  ASSERT_TRUE(a.ok);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.height, b.height);
  ASSERT_EQ(a.comps.size(), b.comps.size());
  for (size_t c = 0; c < a.comps.size(); ++c) {
    EXPECT_EQ(a.comps[c].h, b.comps[c].h);
    EXPECT_EQ(a.comps[c].v, b.comps[c].v);
    EXPECT_EQ(a.comps[c].quant, b.comps[c].quant);
    EXPECT_TRUE(a.comps[c].coef == b.comps[c].coef) << "component " << c;
  }
}

Bytes Apply(const Bytes& jpeg, DWORD mode, int times) {
  Bytes cur = jpeg;
  for (int i = 0; i < times; ++i) {
    auto r = Transform(cur, mode);
    EXPECT_TRUE(r.ok) << "error " << r.error;
    cur = r.out;
  }
  return cur;
}

TEST(JPGTransform, RoundTripsGiveTheSourceCoefficientsBack) {
  QRV_REQUIRE_TOOL("cjpeg");
  for (const char* sampling : {"-sample 2x2", "-sample 2x1", "-sample 1x1"}) {
    SCOPED_TRACE(sampling);
    const Bytes src = MakeJpeg(128, 96, 3, sampling);
    const Coefficients original = ReadCoefficients(src);
    // 180 twice, 90 and 270 four times, the mirrors, transverse and transpose twice.
    for (const auto& m : {std::pair<DWORD, int>{6, 2}, {5, 4}, {7, 4}, {1, 2}, {2, 2}, {3, 2}, {4, 2}}) {
      SCOPED_TRACE(m.first);
      ExpectSameCoefficients(ReadCoefficients(Apply(src, m.first, m.second)), original);
    }
    ExpectSameCoefficients(ReadCoefficients(Apply(Apply(src, 5, 1), 7, 1)), original);
    // Plain copy: same coefficients and the same segments.
    auto copy = Transform(src, 0);
    ASSERT_TRUE(copy.ok);
    ExpectSameCoefficients(ReadCoefficients(copy.out), original);
    EXPECT_EQ(xformtest::Markers(copy.out).size(), xformtest::Markers(src).size());
  }
  // A grey picture whose sides are not iMCU multiples comes back from two half turns without
  // trimming (the partial edges are only ever mirrored one way, twice).
  const Bytes grey = MakeJpeg(61, 45, 1, "");
  ExpectSameCoefficients(ReadCoefficients(Apply(grey, 6 | 0x200, 2)), ReadCoefficients(grey));
}

// A block of the reference: transposed, and negated where the source row (rot 90) is odd.
std::vector<int16_t> Rot90Block(const int16_t* s, bool mirrored) {
  std::vector<int16_t> d(64);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) d[j * 8 + i] = static_cast<int16_t>((mirrored && (i & 1)) ? -s[i * 8 + j] : s[i * 8 + j]);
  return d;
}

TEST(JPGTransform, Rotation90TrimsOrKeepsThePartialColumn) {
  QRV_REQUIRE_TOOL("cjpeg");
  const Bytes src = MakeJpeg(100, 75, 3, "-sample 2x2");
  const Coefficients s = ReadCoefficients(src);
  ASSERT_TRUE(s.ok);

  auto trimmed = Transform(src, 5);
  ASSERT_TRUE(trimmed.ok);
  const Coefficients t = ReadCoefficients(trimmed.out);
  EXPECT_EQ(t.width, 64u);
  EXPECT_EQ(t.height, 100u);

  auto whole = Transform(src, 5 | 0x200);
  ASSERT_TRUE(whole.ok);
  const Coefficients w = ReadCoefficients(whole.out);
  ASSERT_TRUE(w.ok);
  EXPECT_EQ(w.width, 75u);
  EXPECT_EQ(w.height, 100u);
  // Every block against the plain rule: output column c of a component comes from source
  // row compWidth - 1 - c, mirrored, inside the full iMCUs, and from row c, only transposed,
  // in the partial column.
  for (size_t ci = 0; ci < 3; ++ci) {
    const auto& out = w.comps[ci];
    const auto& in = s.comps[ci];
    const uint32_t h = static_cast<uint32_t>(out.h);
    const uint32_t compWidth = (75 / 16) * h;
    ASSERT_EQ(out.heightInBlocks, in.widthInBlocks);
    ASSERT_EQ(out.widthInBlocks, in.heightInBlocks);
    for (uint32_t r = 0; r < out.heightInBlocks; ++r) {
      for (uint32_t c = 0; c < out.widthInBlocks; ++c) {
        const bool mirrored = c < compWidth;
        const uint32_t sr = mirrored ? compWidth - 1 - c : c;
        const auto expected = Rot90Block(in.Block(sr, r), mirrored);
        ASSERT_EQ(0, std::memcmp(expected.data(), out.Block(r, c), 128)) << ci << " " << r << " " << c;
      }
    }
  }
  // The trimmed result is the untrimmed one without its partial column.
  for (size_t ci = 0; ci < 3; ++ci)
    for (uint32_t r = 0; r < t.comps[ci].heightInBlocks; ++r)
      for (uint32_t c = 0; c < t.comps[ci].widthInBlocks; ++c)
        ASSERT_EQ(0, std::memcmp(t.comps[ci].Block(r, c), w.comps[ci].Block(r, c), 128));
}

TEST(JPGTransform, CropKeepsTheRegionFromEitherEdge) {
  QRV_REQUIRE_TOOL("cjpeg");
  const Bytes src = MakeJpeg(128, 48, 3, "-sample 2x2");
  const Coefficients s = ReadCoefficients(src);
  // x = -16 with width 32: columns 80 to 111.
  auto r = Transform(src, 8, -16, 0, 32, 48);
  ASSERT_TRUE(r.ok) << r.error;
  const Coefficients c = ReadCoefficients(r.out);
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.width, 32u);
  EXPECT_EQ(c.height, 48u);
  for (uint32_t row = 0; row < c.comps[0].heightInBlocks; ++row)
    for (uint32_t col = 0; col < 4; ++col)
      ASSERT_EQ(0, std::memcmp(c.comps[0].Block(row, col), s.comps[0].Block(row, 10 + col), 128));
  // An offset inside an iMCU widens the region to the iMCU's start: x = 21 keeps from 16.
  auto widened = Transform(src, 8, 21, 3, 10, 10);
  ASSERT_TRUE(widened.ok);
  const Coefficients wc = ReadCoefficients(widened.out);
  EXPECT_EQ(wc.width, 15u);
  EXPECT_EQ(wc.height, 13u);
  EXPECT_EQ(0, std::memcmp(wc.comps[0].Block(0, 0), s.comps[0].Block(0, 2), 128));

  // Unacceptable requests: error 9 and nothing in the sink.
  struct Bad {
    int32_t x, y;
    uint32_t w, h;
  };
  for (const Bad& b : {Bad{0, 0, 0, 48}, Bad{0, 0, 32, 0}, Bad{128, 0, 1, 1}, Bad{0, 48, 1, 1},
                       Bad{100, 0, 29, 48}, Bad{0, 0, 129, 48}, Bad{-100, 0, 29, 48}, Bad{INT32_MIN, 0, 1, 1},
                       Bad{0, 0, 0xFFFFFFFFu, 48}}) {
    auto bad = Transform(src, 8, b.x, b.y, b.w, b.h);
    EXPECT_FALSE(bad.ok) << b.x << " " << b.y << " " << b.w << " " << b.h;
    EXPECT_EQ(bad.error, IS_ERR_BADJPEG);
    EXPECT_EQ(bad.sinkSize, 0u);
  }
}

// A TIFF structure with IFD0 -> Exif sub-IFD holding pixel X and Y dimensions as SHORTs:
// IFD0 at 8 (two entries, the second the pointer), the sub-IFD at 38 (three entries, the pixel
// dimensions at 52 and 64).
Bytes MakeTiff(bool motorola, uint16_t w, uint16_t h) {
  Bytes t(80, 0);
  auto p16 = [&](size_t at, uint16_t v) {
    t[at + (motorola ? 0 : 1)] = static_cast<uint8_t>(v >> 8);
    t[at + (motorola ? 1 : 0)] = static_cast<uint8_t>(v);
  };
  auto p32 = [&](size_t at, uint32_t v) {
    p16(at + (motorola ? 0 : 2), static_cast<uint16_t>(v >> 16));
    p16(at + (motorola ? 2 : 0), static_cast<uint16_t>(v));
  };
  auto entry = [&](size_t at, uint16_t tag, uint16_t type, uint32_t count) {
    p16(at, tag);
    p16(at + 2, type);
    p32(at + 4, count);
  };
  t[0] = t[1] = motorola ? 'M' : 'I';
  p16(2, 42);
  p32(4, 8);
  p16(8, 2);
  entry(10, 0x0112, 3, 1), p16(18, 1);    // orientation
  entry(22, 0x8769, 4, 1), p32(30, 38);   // Exif pointer
  p16(38, 3);
  entry(40, 0x9000, 7, 4), p32(48, 0x30323230);
  entry(52, 0xA002, 3, 1), p16(60, w);
  entry(64, 0xA003, 3, 1), p16(72, h);
  return t;
}

Bytes ExifPayload(const Bytes& tiff) {
  static const uint8_t kHead[6] = {'E', 'x', 'i', 'f', 0, 0};
  Bytes p(6 + tiff.size());
  std::memcpy(p.data(), kHead, 6);
  std::memcpy(p.data() + 6, tiff.data(), tiff.size());
  return p;
}

// Replaces the JFIF segment after SOI by a segment (code, payload).
Bytes WithFirstSegment(const Bytes& jpeg, int code, const Bytes& payload) {
  const size_t skip = 2 + ((size_t{jpeg[4]} << 8) | jpeg[5]);
  Bytes rest(jpeg.size() - skip);
  rest[0] = jpeg[0];
  rest[1] = jpeg[1];
  std::memcpy(rest.data() + 2, jpeg.data() + 2 + skip, jpeg.size() - 2 - skip);
  return xformtest::InsertSegment(rest, code, payload, true);
}

TEST(JPGTransform, ExifDimensionsFollowTheTransformWhenExifComesFirst) {
  QRV_REQUIRE_TOOL("cjpeg");
  const Bytes base = MakeJpeg(48, 32, 3, "-sample 2x2");
  for (bool motorola : {false, true}) {
    SCOPED_TRACE(motorola ? "MM" : "II");
    const Bytes tiff = MakeTiff(motorola, 48, 32);
    const Bytes src = WithFirstSegment(base, 0xE1, ExifPayload(tiff));
    auto r = Transform(src, 5);
    ASSERT_TRUE(r.ok) << r.error;
    const auto markers = xformtest::Markers(r.out);
    ASSERT_FALSE(markers.empty());
    EXPECT_EQ(markers[0].first, 0xE1);  // no JFIF header in front
    for (const auto& m : markers) EXPECT_NE(m.first, 0xE0);
    Bytes expected = tiff;
    AdjustExifDimensions(expected.data(), static_cast<uint32_t>(expected.size()), 32, 48);
    EXPECT_TRUE(markers[0].second == ExifPayload(expected));
    // By hand: the entries became LONG, count 1, 32 and 48.
    const Bytes& t = expected;
    if (motorola) {
      EXPECT_EQ((Bytes{t.begin() + 52, t.begin() + 64}), (Bytes{0xA0, 0x02, 0, 4, 0, 0, 0, 1, 0, 0, 0, 32}));
      EXPECT_EQ((Bytes{t.begin() + 64, t.begin() + 76}), (Bytes{0xA0, 0x03, 0, 4, 0, 0, 0, 1, 0, 0, 0, 48}));
    } else {
      EXPECT_EQ((Bytes{t.begin() + 52, t.begin() + 64}), (Bytes{0x02, 0xA0, 4, 0, 1, 0, 0, 0, 32, 0, 0, 0}));
      EXPECT_EQ((Bytes{t.begin() + 64, t.begin() + 76}), (Bytes{0x03, 0xA0, 4, 0, 1, 0, 0, 0, 48, 0, 0, 0}));
    }
    // A half turn keeps the dimensions: the block is copied unchanged.
    auto half = Transform(src, 6);
    ASSERT_TRUE(half.ok);
    EXPECT_TRUE(xformtest::Markers(half.out)[0].second == ExifPayload(tiff));
  }
  // After a JFIF header the EXIF block is left alone, and the JFIF header stays.
  const Bytes tiff = MakeTiff(false, 48, 32);
  const Bytes src = xformtest::InsertSegment(base, 0xE1, ExifPayload(tiff));
  auto r = Transform(src, 5);
  ASSERT_TRUE(r.ok);
  const auto markers = xformtest::Markers(r.out);
  ASSERT_GE(markers.size(), 2u);
  EXPECT_EQ(markers[0].first, 0xE0);
  EXPECT_EQ(markers[1].first, 0xE1);
  EXPECT_TRUE(markers[1].second == ExifPayload(tiff));
}

TEST(JPGTransform, ExifAdjustmentGivesUpOnMalformedBlocks) {
  const Bytes good = MakeTiff(false, 10, 20);
  auto unchanged = [](Bytes t, uint32_t length) {
    const Bytes before = t;
    AdjustExifDimensions(t.data(), length, 99, 77);
    return t == before;
  };
  EXPECT_FALSE(unchanged(good, static_cast<uint32_t>(good.size())));
  EXPECT_TRUE(unchanged(good, 11));   // too short
  EXPECT_TRUE(unchanged(good, 60));   // the dimension entries lie past the end
  // Bytes changed (at, at2): left unchanged, except where `adjusted` says.
  const struct {
    size_t at, at2;
    uint8_t value;
    bool adjusted;
    const char* what;
  } kChanged[] = {
      {1, 1, 'M', false, "mixed byte order"},
      {2, 2, 43, false, "wrong magic"},
      {6, 6, 1, false, "IFD0 offset with upper bits set"},
      {4, 4, 79, false, "IFD0 offset past length - 2"},
      {22, 22, 0x68, false, "no Exif pointer in IFD0"},
      {30, 31, 0xFF, false, "sub-IFD pointer past the end"},
      {38, 38, 1, false, "a sub-IFD of one entry is not examined"},
      {8, 8, 0, false, "an empty IFD0"},
      {38, 38, 0xFF, true, "a count far above what the block holds stops at its end"},
  };
  for (const auto& c : kChanged) {
    Bytes t = good;
    t[c.at] = t[c.at2] = c.value;
    EXPECT_EQ(unchanged(t, 80), !c.adjusted) << c.what;
  }
}

TEST(JPGTransform, MarkersAreCopiedInFileOrder) {
  QRV_REQUIRE_TOOL("cjpeg");
  Bytes src = MakeJpeg(24, 16, 3, "");
  src = xformtest::InsertSegment(src, 0xFE, {'a', 'b'});
  src = xformtest::InsertSegment(src, 0xEF, {9});
  src = xformtest::InsertSegment(src, 0xE2, {'I', 'C', 'C'});
  // A second JFIF APP0 is dropped like the first (the compressor writes its own).
  src = xformtest::InsertSegment(src, 0xE0, {'J', 'F', 'I', 'F', 0, 1, 2});
  auto r = Transform(src, 1);
  ASSERT_TRUE(r.ok);
  const auto m = xformtest::Markers(r.out);
  std::vector<int> codes;
  for (const auto& seg : m)
    if (seg.first == 0xFE || (seg.first >= 0xE0 && seg.first <= 0xEF)) codes.push_back(seg.first);
  EXPECT_EQ(codes, (std::vector<int>{0xE0, 0xE2, 0xEF, 0xFE}));
  // The thread's lists of found markers are emptied and not filled by a transform.
  ISIOHandle in = ISOpenMemorySource(src.data(), static_cast<DWORD>(src.size()));
  DWORD w = 0, h = 0, bits = 0, cs = 0, coding = 0;
  ASSERT_TRUE(ISGetJPGInfo(in, &w, &h, &bits, nullptr, &cs, &coding));
  ISCloseSource(in);
  EXPECT_GT(ISGetJPGMarkerCount(), 0u);
  EXPECT_GT(ISGetJPGCommentCount(), 0u);
  ASSERT_TRUE(Transform(src, 5).ok);
  EXPECT_EQ(ISGetJPGMarkerCount(), 0u);
  EXPECT_EQ(ISGetJPGCommentCount(), 0u);
}

BOOL StopAt(DWORD done, DWORD total, uintptr_t user) {
  auto* calls = reinterpret_cast<std::vector<std::pair<DWORD, DWORD>>*>(user);
  calls->emplace_back(done, total);
  return calls->size() < 3 ? 1 : 0;
}
BOOL Negative(DWORD, DWORD, uintptr_t) { return -1; }

TEST(JPGTransform, ProgressStopLeavesNothingInTheSink) {
  QRV_REQUIRE_TOOL("cjpeg");
  const Bytes src = MakeJpeg(64, 64, 3, "-sample 2x2");
  ISThreadState* ts = GetThreadState();
  ASSERT_NE(ts, nullptr);
  std::vector<std::pair<DWORD, DWORD>> calls;
  ts->progressCallback = StopAt;
  ts->progressUser = reinterpret_cast<uintptr_t>(&calls);
  for (DWORD mode : {DWORD{5}, DWORD{1}, DWORD{6}, DWORD{0x8}}) {
    calls.clear();
    auto r = mode == 8 ? Transform(src, 8, 16, 16, 32, 32) : Transform(src, mode);
    EXPECT_FALSE(r.ok) << mode;
    EXPECT_EQ(r.error, IS_ERR_STOPPED) << mode;
    EXPECT_EQ(r.sinkSize, 0u);
    ASSERT_EQ(calls.size(), 3u);
    // Component 0, one report per row of iMCUs (two block rows each), of 3 x 8 block rows.
    EXPECT_EQ(calls[0], (std::pair<DWORD, DWORD>{0, mode == 8 ? 12u : 24u}));
    EXPECT_EQ(calls[1].first, 2u);
  }
  // A negative reply does not stop a JPEG operation; a plain copy moves no blocks.
  ts->progressCallback = Negative;
  EXPECT_TRUE(Transform(src, 7).ok);
  ts->progressCallback = StopAt;
  calls.clear();
  EXPECT_TRUE(Transform(src, 0).ok);
  EXPECT_TRUE(calls.empty());
  ts->progressCallback = nullptr;
  ts->progressUser = 0;
}

TEST(JPGTransform, BadInputFailsWithNine) {
  QRV_REQUIRE_TOOL("cjpeg");
  const Bytes good = MakeJpeg(40, 24, 3, "-sample 2x2");
  std::vector<Bytes> bad = {
      Bytes{0xFF},
      Bytes{0xFF, 0xD8},
      Bytes{'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'},
      Bytes(good.begin(), good.begin() + static_cast<long>(jpegtest::ScanDataOffset(good) - 6)),
  };
  // A frame header claiming width 0.
  Bytes zero = good;
  for (size_t i = 2; i + 9 < zero.size(); ++i)
    if (zero[i] == 0xFF && zero[i + 1] == 0xC0) {
      zero[i + 7] = zero[i + 8] = 0;
      break;
    }
  bad.push_back(zero);
  // A frame header claiming a huge picture.
  Bytes huge = good;
  for (size_t i = 2; i + 9 < huge.size(); ++i)
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = huge[i + 6] = huge[i + 7] = huge[i + 8] = 0xFF;
      break;
    }
  bad.push_back(huge);
  for (size_t i = 0; i < bad.size(); ++i) {
    for (DWORD mode : {DWORD{0}, DWORD{5}, DWORD{3 | 0x400}}) {
      auto r = Transform(bad[i], mode);
      EXPECT_FALSE(r.ok) << i;
      EXPECT_EQ(r.error, IS_ERR_BADJPEG) << i;
      EXPECT_EQ(r.sinkSize, 0u);
    }
  }
  // Greyscale output of an RGB-coded picture is not offered.
  const Bytes rgb = MakeJpeg(16, 16, 3, "-rgb");
  auto r = Transform(rgb, 0x100);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, IS_ERR_BADJPEG);
  EXPECT_TRUE(Transform(rgb, 5).ok);
  // A stream cut inside the coded data still transforms (libjpeg supplies the end).
  const size_t scan = jpegtest::ScanDataOffset(good);
  Bytes cut(good.begin(), good.begin() + static_cast<long>(scan + (good.size() - scan) / 2));
  EXPECT_TRUE(Transform(cut, 6).ok);
  // Handles.
  EXPECT_FALSE(ISTransformJPG(nullptr, nullptr, 0, 0, 0, 0, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  ISIOHandle in = ISOpenMemorySource(good.data(), static_cast<DWORD>(good.size()));
  EXPECT_FALSE(ISTransformJPG(in, reinterpret_cast<ISIOHandle>(&r), 0, 0, 0, 0, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADHANDLE);
  ISCloseSource(in);
}

TEST(JPGTransform, ASinkThatRefusesWritesFailsWithNine) {
  QRV_REQUIRE_TOOL("cjpeg");
  const Bytes src = MakeJpeg(40, 24, 3, "");
  std::vector<uint8_t> small(100);
  ISIOHandle in = ISOpenMemorySource(src.data(), static_cast<DWORD>(src.size()));
  ISIOHandle out = ISOpenMemorySink(small.data(), static_cast<DWORD>(small.size()), 0);
  EXPECT_FALSE(ISTransformJPG(in, out, 5, 0, 0, 0, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADJPEG);
  ISCloseSource(in);
  ISCloseSink(out);
}

}  // namespace
