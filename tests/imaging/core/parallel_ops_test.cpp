// The operations that share their rows over the thread pool give the same bytes with 1, 2, 3
// and 8 threads, and the same bytes as their one-row-at-a-time form (the form they take while
// a progress callback listens), on random pictures of odd sizes.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/thread_pool.h"
#include "qrv/imaging.h"
#include "support/peak_memory.h"
#include "support/pictures.h"
#include "support/progress_recorder.h"

namespace {

using qrvtest::ProgressRecorder;
using qrvtest::RandomBytes;

struct Size {
  DWORD w, h, n;
};

// An operation from a source picture (with padded rows) to its output bytes.
struct Op {
  const char* name;
  std::function<std::vector<BYTE>(const std::vector<BYTE>& src, Size s, DWORD rowBytes)> run;
};

// Same-size operations write into a destination with its own row padding (kept as it was).
using SameSizeFn = BOOL (*)(const BYTE* src, Size s, DWORD rowBytes, BYTE* dst, DWORD dstRowBytes);
Op SameSize(const char* name, SameSizeFn f) {
  return {name, [f](const std::vector<BYTE>& src, Size s, DWORD rb) {
            const DWORD drb = s.w * s.n + 5;
            std::vector<BYTE> dst(size_t(drb) * s.h, 0xA5);
            EXPECT_TRUE(f(src.data(), s, rb, dst.data(), drb)) << ISGetLastError();
            return dst;
          }};
}

// Resizers write a picture of the size `to` gives, with unpadded rows.
using ResizeFn = BOOL (*)(const BYTE* src, Size s, DWORD rowBytes, BYTE* dst, DWORD dw, DWORD dh);
Op Resized(const char* name, std::pair<DWORD, DWORD> (*to)(Size), ResizeFn f) {
  return {name, [to, f](const std::vector<BYTE>& src, Size s, DWORD rb) {
            const auto [dw, dh] = to(s);
            std::vector<BYTE> dst(size_t(dw) * dh * s.n, 0xA5);
            EXPECT_TRUE(f(src.data(), s, rb, dst.data(), dw, dh)) << ISGetLastError();
            return dst;
          }};
}

const std::vector<Op>& Ops() {
  using Dims = std::pair<DWORD, DWORD>;
  static const std::vector<Op> ops = {
      SameSize("sharpen", [](const BYTE* p, Size s, DWORD rb, BYTE* d, DWORD drb) {
        return ISSharpenImage(p, s.w, s.h, s.n, rb, d, drb, 70, 5);
      }),
      SameSize("soften", [](const BYTE* p, Size s, DWORD rb, BYTE* d, DWORD drb) {
        return ISSoftenImage(p, s.w, s.h, s.n, rb, d, drb, 100, 0xFF);
      }),
      SameSize("median", [](const BYTE* p, Size s, DWORD rb, BYTE* d, DWORD drb) {
        return ISMedianFilterImage(p, s.w, s.h, s.n, rb, d, drb, 0xFF);
      }),
      SameSize("blur", [](const BYTE* p, Size s, DWORD rb, BYTE* d, DWORD drb) {
        return ISBlurImage(p, s.w, s.h, s.n, rb, d, drb, 3.3, 0xFF);
      }),
      SameSize("blur, one channel", [](const BYTE* p, Size s, DWORD rb, BYTE* d, DWORD drb) {
        return ISBlurImage(p, s.w, s.h, s.n, rb, d, drb, 0.9, 2);
      }),
      SameSize("unsharp mask", [](const BYTE* p, Size s, DWORD rb, BYTE* d, DWORD drb) {
        return ISUnsharpMask(p, s.w, s.h, s.n, rb, d, drb, 3, 0.8, 1.7, 0xFF);
      }),
      {"speckles",
       [](const std::vector<BYTE>& src, Size s, DWORD rb) {
         std::vector<BYTE> img = src;
         EXPECT_TRUE(ISRemoveSpeckles(img.data(), s.w, s.h, s.n, rb, 0xFF));
         return img;
       }},
      Resized(
          "lanczos3 down", [](Size s) { return Dims{s.w * 2 / 3 + 3, s.h / 2 + 3}; },
          [](const BYTE* p, Size s, DWORD rb, BYTE* d, DWORD dw, DWORD dh) {
            return ISResampleImage(p, s.w, s.h, rb, d, dw, dh, dw * s.n, s.n, 8);
          }),
      Resized(
          "mitchell up", [](Size s) { return Dims{s.w * 3 / 2, s.h * 5 / 4}; },
          [](const BYTE* p, Size s, DWORD rb, BYTE* d, DWORD dw, DWORD dh) {
            return ISResampleImage(p, s.w, s.h, rb, d, dw, dh, dw * s.n, s.n, 9);
          }),
      Resized(
          "bilinear", [](Size s) { return Dims{s.w / 2 + 1, s.h * 3 / 2}; },
          [](const BYTE* p, Size s, DWORD rb, BYTE* d, DWORD dw, DWORD dh) {
            return ISResizeBilinear(p, s.w, s.h, rb, d, dw, dh, dw * s.n, s.n);
          }),
      Resized(
          "bicubic", [](Size s) { return Dims{s.w * 4 / 3, s.h / 3 + 1}; },
          [](const BYTE* p, Size s, DWORD rb, BYTE* d, DWORD dw, DWORD dh) {
            return ISResizeBicubic(p, s.w, s.h, rb, d, dw, dh, dw * s.n, s.n);
          }),
  };
  return ops;
}

}  // namespace

TEST(ParallelOps, SameBytesForEveryThreadCount) {
  for (const Size s : {Size{301, 217, 3}, Size{97, 611, 1}, Size{123, 45, 4}, Size{7, 3, 3}}) {
    const DWORD rb = s.w * s.n + 3;
    const std::vector<BYTE> src = RandomBytes(size_t(rb) * s.h, s.w * 7 + s.h);
    for (const Op& op : Ops()) {
      SCOPED_TRACE(std::string(op.name) + " " + std::to_string(s.w) + "x" + std::to_string(s.h) + "x" +
                   std::to_string(s.n));
      std::vector<BYTE> rowByRow;
      {
        ProgressRecorder listening;
        rowByRow = op.run(src, s, rb);
      }
      for (unsigned threads : {1u, 2u, 3u, 8u}) {
        qrv::ScopedThreadCount forced(threads);
        ASSERT_EQ(op.run(src, s, rb), rowByRow) << threads << " threads";
      }
    }
  }
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// The blur's bands together need no more scratch than one thread does: the peak growth of a
// wide blur on 8 threads is not above its growth on one (each measured in a fresh child).
TEST(ParallelOps, BlurScratchDoesNotGrowWithThreads) {
  if (kAddressSanitizer) GTEST_SKIP() << "the sanitizer keeps freed blocks resident";
  const DWORD w = 2000, h = 1000;
  const std::vector<BYTE> src = RandomBytes(size_t(w) * h * 3, 11);
  std::vector<BYTE> dst(src.size());
  long growth[2] = {};
  for (const unsigned threads : {1u, 8u}) {
    const qrvtest::ChildRun peak = qrvtest::RunInChild([&]() -> int {
      // Both children start the pool's workers, so that only the blur's own needs differ. A
      // pool whose workers were started before the fork has none in the child.
      std::mutex lock;
      std::set<std::thread::id> seen;
      {
        qrv::ScopedThreadCount eight(8);
        qrv::ParallelRows(64, 1, [&](uint32_t, uint32_t) {
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
          std::lock_guard<std::mutex> hold(lock);
          seen.insert(std::this_thread::get_id());
        });
      }
      if (seen.size() < 2) return -1;
      qrv::ScopedThreadCount forced(threads);
      return ISUnsharpMask(src.data(), w, h, 3, w * 3, dst.data(), w * 3, 0, 1.0, 40.0, 7) ? 0 : 1;
    });
    ASSERT_TRUE(peak.exited);
    if (peak.result < 0) GTEST_SKIP() << "the thread pool was started before this test (run it alone)";
    ASSERT_EQ(peak.result, 0);
    growth[threads > 1] = peak.peakMB;
  }
  EXPECT_LE(growth[1], growth[0] + 2) << "MB on 8 threads against " << growth[0] << " MB on one";
}
