// JPEG writing: streams byte-identical to cjpeg for the same settings, every input depth and
// flag, comments, markers and ICC chunks in order, density, and failures with their codes.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "imaging/core/CISIO.h"
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/jpeg/CISJPGReader.h"
#include "imaging/formats/jpeg/CISJPGWriter.h"
#include "jpeg_test_util.h"
#include "platform/global_memory.h"

namespace {

using jpegtest::Bytes;
using jpegtest::Cjpeg;
using jpegtest::Markers;
using jpegtest::ReadJPG;
using jpegtest::WriteJPG;

// Restores the thread's JPEG write options and lists after a test.
struct OptionsGuard {
  ~OptionsGuard() {
    ISSetJPGSampling(nullptr, nullptr);
    ISSetJPGDCTMethod(0);
    ISClearJPGComments();
    ISClearJPGMarkers();
    if (ISThreadState* ts = GetThreadState()) {
      ts->iccProfile.Free();
      ts->progressCallback = nullptr;
    }
  }
};

TEST(JPGWrite, StreamsEqualCjpegByteForByte) {
  QRV_REQUIRE_TOOL("cjpeg");
  OptionsGuard guard;
  const Bytes rgb = jpegtest::MakePicture(77, 53, 3, 7);
  const Bytes grey = jpegtest::MakePicture(77, 53, 1, 9);
  const int32_t ones[kJPGSamplingEntries] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  for (DWORD q : {5u, 50u, 75u, 90u, 100u}) {
    const std::string base = "-baseline -dct int -quality " + std::to_string(q);
    auto ours = WriteJPG(rgb, 77, 53, q, 24);
    ASSERT_NE(ours.result, 0u) << q;
    EXPECT_TRUE(ours.jpeg == Cjpeg(rgb, 77, 53, 3, base)) << "default sampling, quality " << q;

    ISSetJPGSampling(ones, ones);
    ours = WriteJPG(rgb, 77, 53, q, 24);
    EXPECT_TRUE(ours.jpeg == Cjpeg(rgb, 77, 53, 3, base + " -sample 1x1")) << "1x1, quality " << q;
    ISSetJPGSampling(nullptr, nullptr);

    ours = WriteJPG(grey, 77, 53, q, 8);
    EXPECT_TRUE(ours.jpeg == Cjpeg(grey, 77, 53, 1, base)) << "grey, quality " << q;

    ours = WriteJPG(rgb, 77, 53, q, 24, nullptr, kJPGWriteProgressive);
    EXPECT_TRUE(ours.jpeg == Cjpeg(rgb, 77, 53, 3, base + " -progressive")) << "progressive, quality " << q;
  }
  // The thread's DCT option.
  const std::pair<DWORD, const char*> methods[] = {{1, "int"}, {2, "fast"}, {3, "float"}};
  for (const auto& m : methods) {
    ISSetJPGDCTMethod(m.first);
    auto ours = WriteJPG(rgb, 77, 53, 80, 24);
    EXPECT_TRUE(ours.jpeg == Cjpeg(rgb, 77, 53, 3, std::string("-baseline -quality 80 -dct ") + m.second)) << m.second;
  }
}

TEST(JPGWrite, FourComponentAndYCbCrInputRoundTrip) {
  OptionsGuard guard;
  const int32_t ones[kJPGSamplingEntries] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  ISSetJPGSampling(ones, ones);
  const Bytes cmyk = jpegtest::MakePicture(24, 10, 4, 3);
  for (DWORD flags : {DWORD{0}, DWORD{kJPGWriteYCCK}}) {
    auto w = WriteJPG(cmyk, 24, 10, 100, 32, nullptr, flags);
    ASSERT_NE(w.result, 0u);
    ISIOHandle src = ISOpenMemorySource(w.jpeg.data(), static_cast<DWORD>(w.jpeg.size()));
    DWORD width = 0, height = 0, bits = 0, cs = 0;
    ASSERT_TRUE(ISGetJPGInfo(src, &width, &height, &bits, nullptr, &cs, nullptr));
    ISCloseSource(src);
    EXPECT_EQ(bits, 32u);
    EXPECT_EQ(cs, flags ? 5u : 4u);

    auto k32 = ReadJPG(w.jpeg, 32, kJPGReadKeepCMYK);
    ASSERT_TRUE(k32.ok);
    ASSERT_EQ(k32.image.size(), cmyk.size());
    if (!flags) {
      for (size_t i = 0; i < cmyk.size(); ++i) EXPECT_NEAR(k32.image[i], cmyk[i], 3) << i;
    }
    // 24 bits: each of C, M, Y scaled by K / 255, truncating.
    auto rgb = ReadJPG(w.jpeg, 24);
    ASSERT_TRUE(rgb.ok);
    for (size_t p = 0; p < 24 * 10; ++p)
      for (int c = 0; c < 3; ++c)
        EXPECT_EQ(rgb.image[p * 3 + c], k32.image[p * 4 + c] * k32.image[p * 4 + 3] / 255) << p;
    EXPECT_EQ(ReadJPG(w.jpeg, 32).error, IS_ERR_BADJPEG);
    EXPECT_EQ(ReadJPG(w.jpeg, 24, kJPGReadKeepCMYK).error, IS_ERR_BADJPEG);
    // As stored: a 24-bit DIB.
    auto dib = ReadJPG(w.jpeg, 8, kJPGReadAsStored);
    ASSERT_TRUE(dib.ok);
    EXPECT_EQ(dib.image[14], 24);
  }

  // 24-bit input taken as Y, Cb, Cr: stored without conversion, read back as kept.
  const Bytes ycc = jpegtest::MakePicture(24, 10, 3, 5);
  auto w = WriteJPG(ycc, 24, 10, 100, 24, nullptr, kJPGWriteYCbCr);
  ASSERT_NE(w.result, 0u);
  auto back = ReadJPG(w.jpeg, 24, kJPGReadKeepYCbCr);
  ASSERT_TRUE(back.ok);
  for (size_t i = 0; i < ycc.size(); ++i) EXPECT_NEAR(back.image[i], ycc[i], 3) << i;
}

TEST(JPGWrite, CommentsMarkersAndICCChunksInOrder) {
  OptionsGuard guard;
  ISThreadState* ts = GetThreadState();
  ASSERT_NE(ts, nullptr);
  ASSERT_TRUE(ISAddJPGComment("x"));
  ASSERT_TRUE(ISAddJPGComment(""));
  Bytes exif = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0};
  ASSERT_TRUE(ISAddJPGMarker(exif.data(), static_cast<DWORD>(exif.size()), 225));
  Bytes profile(65520);
  for (size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<uint8_t>(i * 7);
  ts->iccProfile.Assign(profile.data(), static_cast<uint32_t>(profile.size()));

  const Bytes rgb = jpegtest::MakePicture(16, 16, 3);
  auto w = WriteJPG(rgb, 16, 16, 75, 24);
  ASSERT_NE(w.result, 0u);
  auto m = Markers(w.jpeg);
  ASSERT_GE(m.size(), 6u);
  EXPECT_EQ(m[0].first, 0xE0);
  EXPECT_EQ(m[1].first, 0xFE);
  EXPECT_EQ(m[1].second, Bytes{'x'});
  EXPECT_EQ(m[2].first, 0xE1);
  EXPECT_EQ(m[2].second, exif);
  EXPECT_EQ(m[3].first, 0xE2);
  EXPECT_EQ(m[4].first, 0xE2);
  ASSERT_EQ(m[3].second.size(), 14u + 65519u);
  ASSERT_EQ(m[4].second.size(), 14u + 1u);
  EXPECT_EQ(0, std::memcmp(m[3].second.data(), "ICC_PROFILE\0\1\2", 14));
  EXPECT_EQ(0, std::memcmp(m[4].second.data(), "ICC_PROFILE\0\2\2", 14));
  EXPECT_EQ(0, std::memcmp(m[3].second.data() + 14, profile.data(), 65519));
  EXPECT_EQ(m[4].second[14], profile[65519]);
  EXPECT_NE(m[5].first, 0xE2);

  // Read back: one comment, the APP1 and both APP2 markers (after four leading bytes).
  ASSERT_TRUE(ReadJPG(w.jpeg, 24).ok);
  ASSERT_EQ(ISGetJPGCommentCount(), 1u);
  HGLOBAL text = ISGetJPGComment(0);
  EXPECT_STREQ(static_cast<const char*>(text), "x");
  GlobalFree(text);
  ASSERT_EQ(ISGetJPGMarkerCount(), 3u);
  HGLOBAL data = nullptr;
  DWORD length = 0, code = 0;
  ASSERT_TRUE(ISGetJPGMarker(0, &data, &length, &code));
  EXPECT_EQ(code, 225u);
  ASSERT_EQ(length, exif.size() + 4);
  EXPECT_EQ(0, std::memcmp(static_cast<uint8_t*>(data) + 4, exif.data(), exif.size()));
  GlobalFree(data);

  // exiftool sees the comment, the EXIF block and a two-chunk profile where it is installed.
  if (qrvtest::HasTool("exiftool")) {
    qrvtest::TempDir dir;
    ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("m.jpg"), w.jpeg));
    std::string v = qrvtest::RunCommand("exiftool -v3 " + dir.File("m.jpg"));
    EXPECT_NE(v.find("ICC_Profile chunk 2 of 2"), std::string::npos) << v;
    EXPECT_NE(v.find("Comment = x"), std::string::npos) << v;
    EXPECT_NE(v.find("JPEG APP1 (14 bytes)"), std::string::npos) << v;
  }

  // Exactly 65519 bytes: one chunk, 1 of 1; no profile: no APP2.
  ts->iccProfile.Assign(profile.data(), 65519);
  ISPtrVector<CFileDataTag> chunks;
  ASSERT_TRUE(WriteICCProfileMarkers(chunks));
  ASSERT_EQ(chunks.Size(), 1u);
  EXPECT_EQ(chunks[0]->data[12], 1);
  EXPECT_EQ(chunks[0]->data[13], 1);
  EXPECT_EQ(chunks[0]->id, 226u);
  ts->iccProfile.Free();
  EXPECT_FALSE(WriteICCProfileMarkers(chunks));
  EXPECT_EQ(chunks.Size(), 0u);
}

TEST(JPGWrite, JFIFHeaderAndDensity) {
  const Bytes rgb = jpegtest::MakePicture(8, 8, 3), grey = jpegtest::MakePicture(8, 8, 1);
  for (DWORD bits : {8u, 24u}) {
    const Bytes& px = bits == 8 ? grey : rgb;
    auto plain = WriteJPG(px, 8, 8, 75, bits);
    ASSERT_GE(plain.jpeg.size(), 18u);
    EXPECT_EQ(plain.jpeg[2], 0xFF);
    EXPECT_EQ(plain.jpeg[3], 0xE0);
    EXPECT_EQ(plain.jpeg[13], 0);  // {1, 1, 0} without a record
    EXPECT_EQ(plain.jpeg[15], 1);
    EXPECT_EQ(plain.jpeg[17], 1);
    auto bare = WriteJPG(px, 8, 8, 75, bits, nullptr, kJPGWriteNoJFIF);
    ASSERT_GE(bare.jpeg.size(), 4u);
    EXPECT_NE(bare.jpeg[3], 0xE0);
    EXPECT_EQ(plain.result, plain.jpeg.size());
  }
  ISResolution res{300, 72, 1};
  auto w = WriteJPG(rgb, 8, 8, 75, 24, &res);
  EXPECT_EQ(w.jpeg[13], 1);
  EXPECT_EQ((w.jpeg[14] << 8) | w.jpeg[15], 300);
  EXPECT_EQ((w.jpeg[16] << 8) | w.jpeg[17], 72);
  auto dib = ReadJPG(w.jpeg, 24, kJPGReadAsStored);
  ASSERT_TRUE(dib.ok);
  EXPECT_EQ(dib.image[24] | (dib.image[25] << 8), 11800);
  EXPECT_EQ(dib.image[28] | (dib.image[29] << 8), 2800);
}

BOOL StopAtRow(DWORD done, DWORD, uintptr_t user) { return done < user ? 1 : 0; }

TEST(JPGWrite, FailuresReturnZeroWithTheirCode) {
  OptionsGuard guard;
  const Bytes rgb = jpegtest::MakePicture(40, 40, 3);
  EXPECT_EQ(WriteJPG(rgb, 40, 40, 75, 16).error, IS_ERR_BADPARAM);
  EXPECT_EQ(WriteJPG(rgb, 0, 40, 75, 24).error, IS_ERR_BADPARAM);
  EXPECT_EQ(WriteJPG({}, 40, 40, 75, 24).error, IS_ERR_BADPARAM);
  EXPECT_EQ(ISWriteJPG(nullptr, rgb.data(), 40, 40, 75, 24, nullptr, 0), 0u);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);

  // A sink that refuses writes: 4, and 0 rather than what reached it.
  for (size_t sinkSize : {size_t{10}, size_t{600}, size_t{1500}}) {
    auto w = WriteJPG(rgb, 40, 40, 100, 24, nullptr, 0, sinkSize);
    EXPECT_EQ(w.result, 0u) << sinkSize;
    EXPECT_EQ(w.error, IS_ERR_WRITE) << sinkSize;
  }
  // A marker longer than a segment can hold: 4.
  Bytes big(65534, 'a');
  ASSERT_TRUE(ISAddJPGMarker(big.data(), static_cast<DWORD>(big.size()), 225));
  EXPECT_EQ(WriteJPG(rgb, 40, 40, 75, 24).error, IS_ERR_WRITE);
  ISClearJPGMarkers();
  // Sides libjpeg cannot code: 4.
  Bytes wide(70000 * 3);
  EXPECT_EQ(WriteJPG(wide, 70000, 1, 75, 24).error, IS_ERR_WRITE);
  // Impossible sampling factors (too many blocks in a unit): 4.
  const int32_t fours[kJPGSamplingEntries] = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4};
  ISSetJPGSampling(fours, fours);
  EXPECT_EQ(WriteJPG(rgb, 40, 40, 75, 24).error, IS_ERR_WRITE);
  ISSetJPGSampling(nullptr, nullptr);

  // The progress callback stops the write: 14, and the stream is abandoned.
  ISThreadState* ts = GetThreadState();
  ts->progressCallback = StopAtRow;
  ts->progressUser = 5;
  auto stopped = WriteJPG(rgb, 40, 40, 75, 24);
  EXPECT_EQ(stopped.result, 0u);
  EXPECT_EQ(stopped.error, IS_ERR_STOPPED);
  ts->progressCallback = nullptr;
  ts->progressUser = 0;

  // The operations one by one: a row after the last is 24; null arguments 5.
  std::vector<uint8_t> buffer(1 << 16);
  ISIOHandle sink = ISOpenMemorySink(buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  ISCallDepthGuard depth(ts);
  CISIO io(sink);
  CISJPGWriter writer;
  JPGCompressBlock* block = writer.Setup(io, 8, 2, 75, 0, 24);
  ASSERT_NE(block, nullptr);
  EXPECT_FALSE(writer.WriteScanline(block, nullptr));
  EXPECT_EQ(writer.error, IS_ERR_BADPARAM);
  writer.error = IS_ERR_OK;
  EXPECT_TRUE(writer.WriteScanline(block, rgb.data()));
  EXPECT_TRUE(writer.WriteScanline(block, rgb.data()));
  EXPECT_FALSE(writer.WriteScanline(block, rgb.data()));
  EXPECT_EQ(writer.error, IS_ERR_SINGLELINE);
  writer.error = IS_ERR_OK;
  EXPECT_TRUE(writer.Release(block));
  EXPECT_FALSE(writer.Release(nullptr));
  EXPECT_EQ(writer.error, IS_ERR_BADPARAM);
  // Rows missing at release: abandoned with 4.
  writer.error = IS_ERR_OK;
  block = writer.Setup(io, 8, 2, 75, 0, 24);
  ASSERT_NE(block, nullptr);
  EXPECT_FALSE(writer.Release(block));
  EXPECT_EQ(writer.error, IS_ERR_WRITE);
  ISCloseSink(sink);
}

TEST(JPGWrite, FileSinkResultIsTheFileSize) {
  qrvtest::TempDir dir;
  const std::string path = dir.File("out.jpg");
  ISIOHandle sink = ISOpenFileSink(path.c_str(), 0);
  ASSERT_NE(sink, nullptr);
  const Bytes rgb = jpegtest::MakePicture(300, 200, 3);
  DWORD size = ISWriteJPG(sink, rgb.data(), 300, 200, 85, 24, nullptr, 0);
  ISCloseSink(sink);
  ASSERT_NE(size, 0u);
  Bytes file = qrvtest::ReadFileBytes(path);
  EXPECT_EQ(size, file.size());
  auto back = ReadJPG(file, 24);
  ASSERT_TRUE(back.ok);
  EXPECT_EQ(back.width, 300u);
}

}  // namespace
