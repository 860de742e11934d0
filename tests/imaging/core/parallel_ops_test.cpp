// The operations that share their rows over the thread pool give the same bytes with 1, 2, 3
// and 8 threads, and the same bytes as their one-row-at-a-time form (the form they take while
// a progress callback listens), on random pictures of odd sizes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/thread_pool.h"
#include "qrv/imaging.h"
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
template <typename F>
std::vector<BYTE> ToSameSize(Size s, F f) {
  const DWORD drb = s.w * s.n + 5;
  std::vector<BYTE> dst(size_t(drb) * s.h, 0xA5);
  EXPECT_TRUE(f(dst.data(), drb));
  return dst;
}

template <typename F>
std::vector<BYTE> Resized(Size s, DWORD dw, DWORD dh, F f) {
  std::vector<BYTE> dst(size_t(dw) * dh * s.n, 0xA5);
  EXPECT_TRUE(f(dst.data(), dw, dh)) << ISGetLastError();
  return dst;
}

const std::vector<Op>& Ops() {
  static const std::vector<Op> ops = {
      {"sharpen",
       [](const std::vector<BYTE>& src, Size s, DWORD rb) {
         return ToSameSize(s, [&](BYTE* d, DWORD drb) {
           return ISSharpenImage(src.data(), s.w, s.h, s.n, rb, d, drb, 70, 5);
         });
       }},
      {"soften",
       [](const std::vector<BYTE>& src, Size s, DWORD rb) {
         return ToSameSize(s, [&](BYTE* d, DWORD drb) {
           return ISSoftenImage(src.data(), s.w, s.h, s.n, rb, d, drb, 100, 0xFF);
         });
       }},
      {"median",
       [](const std::vector<BYTE>& src, Size s, DWORD rb) {
         return ToSameSize(s, [&](BYTE* d, DWORD drb) {
           return ISMedianFilterImage(src.data(), s.w, s.h, s.n, rb, d, drb, 0xFF);
         });
       }},
      {"blur",
       [](const std::vector<BYTE>& src, Size s, DWORD rb) {
         return ToSameSize(s, [&](BYTE* d, DWORD drb) {
           return ISBlurImage(src.data(), s.w, s.h, s.n, rb, d, drb, 3.3, 0xFF);
         });
       }},
      {"blur, one channel",
       [](const std::vector<BYTE>& src, Size s, DWORD rb) {
         return ToSameSize(s, [&](BYTE* d, DWORD drb) {
           return ISBlurImage(src.data(), s.w, s.h, s.n, rb, d, drb, 0.9, 2);
         });
       }},
      {"unsharp mask",
       [](const std::vector<BYTE>& src, Size s, DWORD rb) {
         return ToSameSize(s, [&](BYTE* d, DWORD drb) {
           return ISUnsharpMask(src.data(), s.w, s.h, s.n, rb, d, drb, 3, 0.8, 1.7, 0xFF);
         });
       }},
      {"speckles",
       [](const std::vector<BYTE>& src, Size s, DWORD rb) {
         std::vector<BYTE> img = src;
         EXPECT_TRUE(ISRemoveSpeckles(img.data(), s.w, s.h, s.n, rb, 0xFF));
         return img;
       }},
      {"lanczos3 down",
       [](const std::vector<BYTE>& src, Size s, DWORD rb) {
         return Resized(s, s.w * 2 / 3 + 3, s.h / 2 + 3, [&](BYTE* d, DWORD dw, DWORD dh) {
           return ISResampleImage(src.data(), s.w, s.h, rb, d, dw, dh, dw * s.n, s.n, 8);
         });
       }},
      {"mitchell up",
       [](const std::vector<BYTE>& src, Size s, DWORD rb) {
         return Resized(s, s.w * 3 / 2, s.h * 5 / 4, [&](BYTE* d, DWORD dw, DWORD dh) {
           return ISResampleImage(src.data(), s.w, s.h, rb, d, dw, dh, dw * s.n, s.n, 9);
         });
       }},
      {"bilinear",
       [](const std::vector<BYTE>& src, Size s, DWORD rb) {
         return Resized(s, s.w / 2 + 1, s.h * 3 / 2, [&](BYTE* d, DWORD dw, DWORD dh) {
           return ISResizeBilinear(src.data(), s.w, s.h, rb, d, dw, dh, dw * s.n, s.n);
         });
       }},
      {"bicubic",
       [](const std::vector<BYTE>& src, Size s, DWORD rb) {
         return Resized(s, s.w * 4 / 3, s.h / 3 + 1, [&](BYTE* d, DWORD dw, DWORD dh) {
           return ISResizeBicubic(src.data(), s.w, s.h, rb, d, dw, dh, dw * s.n, s.n);
         });
       }},
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
