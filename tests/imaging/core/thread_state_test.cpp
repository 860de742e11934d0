// Per-thread records, the entry-point frame and the JPEG metadata entries.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISThreadState.h"
#include "qrv/imaging.h"

namespace {

std::string TakeComment(DWORD index) {
  HGLOBAL h = ISGetJPGComment(index);
  if (!h) return "<null>";
  std::string s(static_cast<const char*>(h));
  GlobalFree(h);
  return s;
}

}  // namespace

TEST(ThreadState, RecordIsCreatedOnceAndHasTheDefaults) {
  ISThreadState* ts = GetThreadState();
  ASSERT_NE(ts, nullptr);
  EXPECT_EQ(GetThreadState(), ts);
  EXPECT_EQ(ts->callDepth, 0);
  EXPECT_EQ(ts->progressCallback, nullptr);
  EXPECT_DOUBLE_EQ(ts->png.displayGamma, 2.9);
  EXPECT_EQ(ts->jpg.samplingCount, 10);
  EXPECT_EQ(ts->jpg.readScaleNum, 1u);
  EXPECT_EQ(ts->jpg.readScaleDen, 1u);
  EXPECT_EQ(ts->tiff.rowsPerStrip, -1);
  EXPECT_EQ(ts->tiff.jpegQuality, 75);
  EXPECT_EQ(ts->tiff.orientation, 1);
  EXPECT_EQ(ts->tiff.alphaOverride, -1);
  EXPECT_EQ(ts->text.strings[3], "IS 3.0.48.1");
  EXPECT_DOUBLE_EQ(ts->textScale, 1.0);
  EXPECT_TRUE(ts->iccProfile.Empty());
  EXPECT_TRUE(ts->psdResources.Empty());
}

TEST(ThreadState, ThreadsKeepSeparateErrorsAndJpegLists) {
  ASSERT_TRUE(ISClearJPGComments());
  ASSERT_TRUE(ISAddJPGComment("main"));
  EXPECT_EQ(ISReadSource(nullptr, nullptr, 0), 0u);
  ASSERT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  size_t before = ThreadStateRecordCount();

  ISErrorCode otherError = 99;
  size_t otherComments = 99, duringCount = 0;
  ISThreadState* otherRecord = nullptr;
  std::thread t([&] {
    otherRecord = GetThreadState();
    duringCount = ThreadStateRecordCount();
    otherError = ISGetLastError();  // a new record: no error yet
    ISAddJPGComment("a");
    ISAddJPGComment("b");
    otherComments = otherRecord->jpg.commentsToWrite.Size();
    ISCloseSource(nullptr);  // leaves 5 on this thread only
  });
  t.join();
  EXPECT_NE(otherRecord, GetThreadState());
  EXPECT_EQ(duringCount, before + 1);
  EXPECT_EQ(otherError, IS_ERR_OK);
  EXPECT_EQ(otherComments, 2u);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  ASSERT_EQ(GetThreadState()->jpg.commentsToWrite.Size(), 1u);
  EXPECT_EQ(GetThreadState()->jpg.commentsToWrite[0]->text, "main");
  EXPECT_EQ(ThreadStateRecordCount(), before);  // the thread's record went with it
  ISClearJPGComments();
}

TEST(ThreadState, EntryPointsClearTheLastError) {
  ISCloseSink(nullptr);
  ASSERT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_TRUE(ISClearJPGMarkers());
  EXPECT_EQ(ISGetLastError(), IS_ERR_OK);
  // The small getters of the record follow the same frame.
  const std::function<void()> getters[] = {
      [] { ISGetJPGCommentCount(); },
      [] { ISGetJPGMarkerCount(); },
      [] {
        uintptr_t user = 1;
        ISGetProgressCallback(&user);
      }};
  for (size_t i = 0; i < std::size(getters); ++i) {
    SCOPED_TRACE(i);
    ISCloseSink(nullptr);
    ASSERT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
    getters[i]();
    EXPECT_EQ(ISGetLastError(), IS_ERR_OK);
  }
}

TEST(ThreadState, CallDepthComesBackOnEveryPath) {
  ISThreadState* ts = GetThreadState();
  int seen = -1;
  ISRunEntry<int>(0, [&](ISErrorCode&, ISThreadState& s) {
    seen = s.callDepth;
    return 1;
  });
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(ts->callDepth, 0);
  int r = ISRunEntry<int>(7, [&](ISErrorCode&, ISThreadState&) -> int {
    throw RovIrirev::ISException(IS_ERR_BADJPEG, "boom");
  });
  EXPECT_EQ(r, 7);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADJPEG);
  EXPECT_EQ(ts->callDepth, 0);
  ISRunEntry<int>(0, [&](ISErrorCode&, ISThreadState&) -> int { throw std::bad_alloc(); });
  EXPECT_EQ(ISGetLastError(), IS_ERR_NOMEM);
  ISRunEntry<int>(0, [&](ISErrorCode&, ISThreadState&) -> int { throw RovIrirev::ISException("text only"); });
  EXPECT_EQ(ISGetLastError(), IS_ERR_INTERNAL);
  EXPECT_EQ(ts->callDepth, 0);
}

namespace {
int g_calls = 0;
BOOL StopAtOnce(DWORD, DWORD, uintptr_t) {
  ++g_calls;
  return 0;
}
BOOL Negative(DWORD, DWORD, uintptr_t) { return -1; }
}  // namespace

TEST(ThreadState, ProgressOnlyFromTheOutermostCall) {
  ISThreadState* ts = GetThreadState();
  ts->progressCallback = StopAtOnce;
  g_calls = 0;
  bool outer = true, inner = true;
  ISRunEntry<int>(0, [&](ISErrorCode&, ISThreadState&) {
    outer = ReportProgress(1, 10);
    ISRunEntry<int>(0, [&](ISErrorCode&, ISThreadState&) {
      inner = ReportProgress(1, 10);
      return 1;
    });
    return 1;
  });
  EXPECT_FALSE(outer);
  EXPECT_TRUE(inner);  // depth 2 never reports
  EXPECT_EQ(g_calls, 1);
  ts->progressCallback = Negative;
  bool stops = true, goesOn = false;
  ISRunEntry<int>(0, [&](ISErrorCode&, ISThreadState&) {
    stops = ReportProgress(1, 2, true);
    goesOn = ReportProgress(1, 2, false);
    return 1;
  });
  EXPECT_FALSE(stops);
  EXPECT_TRUE(goesOn);
  ts->progressCallback = nullptr;

  uintptr_t user = 123;
  ts->progressUser = 42;
  EXPECT_EQ(ISGetProgressCallback(&user), nullptr);
  EXPECT_EQ(user, 42u);
  ts->progressUser = 0;
}

TEST(ThreadState, AllocationLimitGivesNoBlock) {
  EXPECT_EQ(SafeGlobalAlloc(0x7FFDEFFFull), nullptr);
  HGLOBAL ok = SafeGlobalAlloc(0x7FFDEFFEull - 0x7FF00000ull);
  EXPECT_NE(ok, nullptr);
  GlobalFree(ok);
}

TEST(ThreadState, ProductTableIsIndexedWeightMajor) {
  const uint8_t* p = ProductTable();
  // P[b * 256 + a] = trunc(a * (b / 255.0)); the two orders differ for a few pairs.
  EXPECT_EQ(p[155 * 256 + 51], 30);
  EXPECT_EQ(p[51 * 256 + 155], 31);
  for (int v = 0; v < 256; ++v) {
    EXPECT_EQ(p[255 * 256 + v], v);
    EXPECT_EQ(p[v], 0);
  }
}

TEST(JpegLists, CommentsToWriteAndCommentsRead) {
  ISThreadState* ts = GetThreadState();
  ISClearJPGComments();
  EXPECT_TRUE(ISAddJPGComment("first"));
  EXPECT_TRUE(ISAddJPGComment(""));
  ASSERT_EQ(ts->jpg.commentsToWrite.Size(), 2u);
  EXPECT_EQ(ts->jpg.commentsToWrite[0]->id, 0u);
  EXPECT_FALSE(ISAddJPGComment(nullptr));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_TRUE(ISClearJPGComments());
  EXPECT_EQ(ts->jpg.commentsToWrite.Size(), 0u);

  // Comments found by a read are handed out as zero-terminated copies.
  ts->jpg.commentsRead.Clear();
  auto* tag = new CFileDataTag;
  tag->text = "found";
  ts->jpg.commentsRead.Add(tag);
  EXPECT_EQ(ISGetJPGCommentCount(), 1u);
  EXPECT_EQ(TakeComment(0), "found");
  EXPECT_EQ(TakeComment(1), "<null>");
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  ts->jpg.commentsRead.Clear();
}

TEST(JpegLists, MarkersToWriteAndMarkersRead) {
  ISThreadState* ts = GetThreadState();
  ISClearJPGMarkers();
  const BYTE payload[] = {'E', 'x', 'i', 'f', 0, 0, 1, 2};
  EXPECT_TRUE(ISAddJPGMarker(payload, sizeof payload, 0xE1));
  EXPECT_TRUE(ISAddJPGMarker(payload, 0, 0xE2));  // nothing to add, still success
  ASSERT_EQ(ts->jpg.markersToWrite.Size(), 1u);
  EXPECT_EQ(ts->jpg.markersToWrite[0]->id, 0xE1u);
  ASSERT_EQ(ts->jpg.markersToWrite[0]->data.Count(), sizeof payload);
  EXPECT_EQ(std::memcmp(ts->jpg.markersToWrite[0]->data.Data(), payload, sizeof payload), 0);
  EXPECT_FALSE(ISAddJPGMarker(nullptr, 4, 0xE1));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  ISClearJPGMarkers();
  EXPECT_EQ(ts->jpg.markersToWrite.Size(), 0u);

  ts->jpg.markersRead.Clear();
  auto* tag = new CFileDataTag;
  tag->id = 0xED;
  tag->data.Assign(payload, 5);
  ts->jpg.markersRead.Add(tag);
  EXPECT_EQ(ISGetJPGMarkerCount(), 1u);
  HGLOBAL data = reinterpret_cast<HGLOBAL>(1);
  DWORD length = 9, code = 9;
  EXPECT_FALSE(ISGetJPGMarker(1, &data, &length, &code));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(code, 0u);
  ASSERT_TRUE(ISGetJPGMarker(0, &data, &length, &code));
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(code, 0xEDu);
  EXPECT_EQ(std::memcmp(data, payload, 5), 0);
  GlobalFree(data);
  ts->jpg.markersRead.Clear();
}

TEST(JpegOptions, SamplingDctAndReadScale) {
  ISThreadState* ts = GetThreadState();
  int32_t h[10] = {0, 3, 9, 1, 2, 4, 5, -1, 2, 2};
  int32_t v[10] = {2, 2, 2, 2, 2, 2, 2, 2, 2, 7};
  ISSetJPGSampling(h, v);
  EXPECT_EQ(ts->jpg.customSampling, 1);
  EXPECT_EQ(ts->jpg.hSampling[0], 1);
  EXPECT_EQ(ts->jpg.hSampling[1], 3);
  EXPECT_EQ(ts->jpg.hSampling[2], 4);
  EXPECT_EQ(ts->jpg.hSampling[7], 1);
  EXPECT_EQ(ts->jpg.vSampling[0], 2);
  EXPECT_EQ(ts->jpg.vSampling[9], 4);
  ISSetJPGSampling(nullptr, v);
  EXPECT_EQ(ts->jpg.customSampling, 0);

  ISSetJPGDCTMethod(2);
  EXPECT_EQ(ts->jpg.dctMethod, 2);
  ISSetJPGDCTMethod(0);
  ISSetJPGReadScale(1, 0);  // stored as given; the reader interprets it
  EXPECT_EQ(ts->jpg.readScaleNum, 1u);
  EXPECT_EQ(ts->jpg.readScaleDen, 0u);
  ISSetJPGReadScale(1, 1);
}
