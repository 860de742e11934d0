// The engine's pixel filters, blends, hot-pixel pass, tone curves, colour conversion and
// resampler share their rows over the thread pool: the same bytes with 1, 2, 3 and 8 threads on
// random pictures of odd sizes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/CColorSpaceConverter.h"
#include "engine/CFilterSim.h"
#include "engine/CImageFilter.h"
#include "engine/CResampler.h"
#include "platform/thread_pool.h"
#include "support/pictures.h"

namespace {

using Picture = std::vector<BYTE>;

struct Op {
  const char* name;
  // Works on a copy of `a` (w x h); `b` is a second picture of the same size.
  std::function<Picture(Picture a, const Picture& b, int w, int h)> run;
};

const std::vector<Op>& Ops() {
  static const std::vector<Op> ops = {
      {"auto levels",
       [](Picture a, const Picture&, int w, int h) {
         CImageFilter f;
         EXPECT_TRUE(f.AutoLevels(a.data(), w, h, 5, 250));
         a.push_back(static_cast<BYTE>(f.GetBlackPoint()));
         a.push_back(static_cast<BYTE>(f.GetWhitePoint()));
         return a;
       }},
      {"blend",
       [](Picture a, const Picture& b, int w, int h) {
         EXPECT_TRUE(CImageFilter().Blend(a.data(), w, h, b.data(), w, h, 0.37, 0));
         return a;
       }},
      {"lut, two channels",
       [](Picture a, const Picture&, int w, int h) {
         BYTE t[256];
         for (int i = 0; i < 256; ++i) t[i] = static_cast<BYTE>(255 - i / 2);
         EXPECT_TRUE(CImageFilter().ApplyLut(a.data(), w, h, 5, t));
         return a;
       }},
      {"cast, green too",
       [](Picture a, const Picture&, int w, int h) {
         CImageFilter().ColorCastGamma(a.data(), w, h, 0.8, 1);
         return a;
       }},
      {"gamma",
       [](Picture a, const Picture&, int w, int h) {
         EXPECT_TRUE(CImageFilter().Gamma(a.data(), w, h, 1.3));
         return a;
       }},
      {"skin",
       [](Picture a, const Picture&, int w, int h) {
         EXPECT_TRUE(CImageFilter().SmoothSkin(a.data(), w, h, 1.0, 1));
         return a;
       }},
      {"saturation",
       [](Picture a, const Picture&, int w, int h) {
         CImageFilter().Saturation(a.data(), w, h, 190);
         return a;
       }},
      {"black frame",
       [](Picture a, const Picture& b, int w, int h) {
         Picture out(a.size());
         CImageFilter().SubtractFrame(out.data(), w, h, a.data(), b.data());
         return out;
       }},
      {"hot pixels 3",
       [](Picture a, const Picture& b, int w, int h) {
         EXPECT_TRUE(CImageFilter().RemoveHotPixels(a.data(), w, h, b.data(), 200, 3));
         return a;
       }},
      {"hot pixels 7, full strength",
       [](Picture a, const Picture& b, int w, int h) {
         EXPECT_TRUE(CImageFilter().RemoveHotPixels(a.data(), w, h, b.data(), 255, 7));
         return a;
       }},
      {"colour space",
       [](Picture a, const Picture&, int w, int h) {
         CColorSpaceConverter().Convert(a.data(), w, h);
         return a;
       }},
      {"filter",
       [](Picture a, const Picture&, int w, int h) {
         CFilterSim::Tint(a.data(), w, h, RGB(255, 144, 0), 200, 1, 0);
         return a;
       }},
      {"resampler down",
       [](Picture a, const Picture&, int w, int h) {
         Picture out(size_t(w / 2 + 1) * (h * 2 / 3 + 1) * 3);
         EXPECT_NE(CResampler().Scale(a.data(), w, h, out.data(), w / 2 + 1, h * 2 / 3 + 1), nullptr);
         return out;
       }},
      {"resampler up",
       [](Picture a, const Picture&, int w, int h) {
         Picture out(size_t(w * 3 / 2) * (h * 5 / 4) * 3);
         EXPECT_NE(CResampler().Scale(a.data(), w, h, out.data(), w * 3 / 2, h * 5 / 4), nullptr);
         return out;
       }},
  };
  return ops;
}

}  // namespace

TEST(ParallelFilters, SameBytesForEveryThreadCount) {
  // Wide and tall enough that the bands (whole rows of 64K pixels at least) really split.
  for (const auto& size : {std::make_pair(401, 733), std::make_pair(1031, 257), std::make_pair(9, 11)}) {
    const int w = size.first, h = size.second;
    const Picture a = qrvtest::RandomBytes(size_t(w) * h * 3, w + h);
    const Picture b = qrvtest::RandomBytes(size_t(w) * h * 3, w * h, 0, 200);
    for (const Op& op : Ops()) {
      SCOPED_TRACE(std::string(op.name) + " " + std::to_string(w) + "x" + std::to_string(h));
      Picture one;
      {
        qrv::ScopedThreadCount forced(1);
        one = op.run(a, b, w, h);
      }
      for (unsigned threads : {2u, 3u, 8u}) {
        qrv::ScopedThreadCount forced(threads);
        ASSERT_EQ(op.run(a, b, w, h), one) << threads << " threads";
      }
    }
  }
}
