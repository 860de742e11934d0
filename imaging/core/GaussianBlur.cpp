// Separable Gaussian blur: a horizontal pass into a float buffer, then a vertical pass into
// the destination; taps outside the image are left out and the rest renormalised.
// Errors: 5 null or shared buffers, 1 no room for the kernel or the buffer, 14 stopped.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/core/ISFilters.h"
#include "imaging/core/ISOpSupport.h"

namespace {

// Kernels longer than this are refused (error 1): a sigma of about 400000 and more, far past
// any picture, whose per-pixel work would never end.
constexpr double kMaxKernelTaps = 1 << 20;

// Pixels of up to this many bytes take the banded form.
constexpr uint32_t kMaxBlurBytes = 8;

inline bool UsableWeight(double w) { return w != 0.0 && !std::isnan(w); }

// One row of the horizontal pass: out[x] = sum K[i + half] * in[x + i] / sum K[i + half] over
// the taps inside the row, summed in tap order.
void BlurRow(const double* in, uint32_t w, const double* k, int half, double fullSum, double* acc, float* out) {
  const int64_t W = w;
  const int64_t innerLo = std::min<int64_t>(half, W);
  const int64_t innerHi = std::max<int64_t>(innerLo, W - half);  // [innerLo, innerHi): every tap inside
  // Edge columns: bounds per tap.
  auto edge = [&](int64_t x) {
    double a = 0.0, s = 0.0;
    // Only the taps that land inside the row, in tap order.
    const int64_t lo = std::max<int64_t>(-half, -x), hi = std::min<int64_t>(half, W - 1 - x);
    for (int64_t i = lo; i <= hi; ++i) {
      a += k[i + half] * in[x + i];
      s += k[i + half];
    }
    out[x] = UsableWeight(s) ? static_cast<float>(a / s) : 0.0f;
  };
  for (int64_t x = 0; x < innerLo; ++x) edge(x);
  for (int64_t x = std::max(innerHi, innerLo); x < W; ++x) edge(x);
  if (innerHi <= innerLo) return;
  // Interior: every tap is inside; the taps run outermost so that the columns vectorise, and
  // each output still sums its products in tap order.
  const int64_t count = innerHi - innerLo;
  double* a = acc;
  std::fill(a, a + count, 0.0);
  for (int64_t t = 0; t <= 2 * half; ++t) {
    const double kt = k[t];
    const double* src = in + innerLo - half + t;
    for (int64_t x = 0; x < count; ++x) a[x] += kt * src[x];
  }
  float* o = out + innerLo;
  if (UsableWeight(fullSum)) {
    for (int64_t x = 0; x < count; ++x) o[x] = static_cast<float>(a[x] / fullSum);
  } else {
    std::fill(o, o + count, 0.0f);
  }
}

// Four doubles (and four floats) as one vector value: the compiler keeps them in one wide
// register where the target has one and in two halves otherwise; each lane is plain IEEE
// arithmetic, so every lane's result is the scalar one.
typedef double V4d __attribute__((vector_size(32)));
typedef float V4f __attribute__((vector_size(16)));

// acc += k * p[0..3] (no vector passes through a call boundary by value).
inline void AddProducts(V4d& acc, const V4d& k, const double* p) {
  V4d v;
  std::memcpy(&v, p, sizeof v);
  acc += k * v;
}
inline void AddProducts(V4d& acc, const V4d& k, const float* p) {
  V4f v;
  std::memcpy(&v, p, sizeof v);
  acc += k * __builtin_convertvector(v, V4d);
}

// Weighted sums of `taps` sample rows (row t at rows + t * step), the products added in tap
// order from 0.0: sum[i] = k[0] * row0[i] + k[1] * row1[i] + ... Sixteen sums at a time stay
// in registers across all taps.
template <typename Sample>
inline void TapSums(const Sample* rows, size_t step, size_t count, const double* k, int taps, double* sum) {
  size_t x = 0;
  for (; x + 16 <= count; x += 16) {
    V4d a0 = {0.0, 0.0, 0.0, 0.0}, a1 = a0, a2 = a0, a3 = a0;
    for (int t = 0; t < taps; ++t) {
      const double kt = k[t];
      const V4d kv = {kt, kt, kt, kt};
      const Sample* b = rows + size_t(t) * step + x;
      AddProducts(a0, kv, b);
      AddProducts(a1, kv, b + 4);
      AddProducts(a2, kv, b + 8);
      AddProducts(a3, kv, b + 12);
    }
    std::memcpy(sum + x, &a0, sizeof a0);
    std::memcpy(sum + x + 4, &a1, sizeof a1);
    std::memcpy(sum + x + 8, &a2, sizeof a2);
    std::memcpy(sum + x + 12, &a3, sizeof a3);
  }
  for (; x < count; ++x) {
    double a = 0.0;
    for (int t = 0; t < taps; ++t) a += k[t] * rows[size_t(t) * step + x];
    sum[x] = a;
  }
}

constexpr size_t kTile = 512;  // sums per piece, kept in the first-level cache

// The inner columns of one row across: out[i] = (sum over taps t of k[t] * in[i + t * step])
// / fullSum.
QRV_WIDE_VECTORS void AcrossInner(const double* in, size_t count, size_t step, const double* k, int taps,
                                  double fullSum, float* out) {
  if (!UsableWeight(fullSum)) {
    std::fill(out, out + count, 0.0f);
    return;
  }
  double a[kTile];
  for (size_t x0 = 0; x0 < count; x0 += kTile) {
    const size_t len = std::min(kTile, count - x0);
    TapSums(in + x0, step, len, k, taps, a);
    float* o = out + x0;
    for (size_t i = 0; i < len; ++i) o[i] = static_cast<float>(a[i] / fullSum);
  }
}

// Up to kTile samples of one output row down from `taps` buffer rows `stride` apart:
// trunc(sum of k[t] * row t / wsum + 0.5).
QRV_WIDE_VECTORS void BlurDown(const float* rows, size_t stride, size_t len, int taps, const double* k,
                               double wsum, uint8_t* out) {
  double a[kTile];
  TapSums(rows, stride, len, k, taps, a);
  for (size_t i = 0; i < len; ++i) {
    // The conversion truncates (the value lies in 0..255.5).
    const double v = a[i] / wsum + 0.5;
    out[i] = !(v > 0.0) ? 0 : v >= 255.0 ? 255 : static_cast<uint8_t>(static_cast<int>(v));
  }
}

// The blur in bands of columns with all bytes of a pixel together. A band works down its
// columns a piece of rows at a time, and across them a strip at a time: the strip's rows across
// (with the rows its vertical taps reach above and below) go into a small float buffer, then the
// pass down reads it in column tiles that stay in cache. The strips of bands that run at once
// share the width of one thread's strip, so their buffers together are no larger than one
// thread's buffer. Every sample is the same sum in the same order as in the channel-by-channel
// form, so the results are identical; only the progress reports (none here) differ.
class BandedBlur {
 public:
  // Columns of one thread's strip: wide enough that the samples read beyond its sides for the
  // taps across stay a small share, narrow enough that its buffer stays small whatever the sigma.
  static constexpr uint32_t kStripPixels = 512;

  // `threads`: how many bands may run at once; each works in strips of its share of the width.
  BandedBlur(const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height, uint32_t n,
             uint32_t sourceRowBytes, uint32_t destinationRowBytes, const std::vector<double>& k, int half,
             double fullSum, uint32_t channelMask, unsigned threads)
      : src_(source), dst_(destination), w_(width), h_(height), n_(n), srb_(sourceRowBytes),
        drb_(destinationRowBytes), k_(k), half_(half), fullSum_(fullSum),
        strip_(std::max<uint32_t>(1, kStripPixels / std::max(1u, threads))) {
    for (uint32_t c = 0; c < n; ++c) {
      masked_[c] = (channelMask & (c < 32 ? 1u << c : 0u)) != 0;
      every_ = every_ && masked_[c];
    }
    // The weight of the taps down that each output row reaches (fewer near the top and the
    // bottom), summed once for every strip of every band.
    rowWeight_.resize(height);
    for (uint32_t y = 0; y < height; ++y) {
      const int lo = -static_cast<int>(std::min<uint32_t>(y, half_));
      const int hi = static_cast<int>(std::min<uint32_t>(h_ - 1 - y, half_));
      double wsum = 0.0;
      for (int i = lo; i <= hi; ++i) wsum += k_[i + half_];
      rowWeight_[y] = wsum;
    }
  }

  // Output columns [x0, x1), every row.
  void Columns(uint32_t x0, uint32_t x1) const {
    const uint32_t stripPixels = std::min(strip_, x1 - x0);
    const size_t stripBytes = size_t(stripPixels) * n_;
    // Pieces tall enough that the rows worked again above and below stay a small share.
    const uint32_t piece = static_cast<uint32_t>(std::max<int64_t>(48, 4 * int64_t(half_)));
    const size_t bufRows = std::min<uint64_t>(h_, uint64_t(piece) + 2 * uint64_t(half_));
    std::vector<float> buf(bufRows * stripBytes);
    // One row of the strip's source and the columns its taps reach on either side.
    std::vector<double> line(std::min<uint64_t>(w_, uint64_t(stripPixels) + 2 * uint64_t(half_)) * n_);
    std::vector<uint8_t> out(every_ ? 0 : size_t(std::min(piece, h_)) * stripBytes);
    for (uint32_t p0 = 0; p0 < h_; p0 = static_cast<uint32_t>(std::min<uint64_t>(h_, uint64_t(p0) + piece))) {
      const uint32_t p1 = static_cast<uint32_t>(std::min<uint64_t>(h_, uint64_t(p0) + piece));
      for (uint32_t s0 = x0; s0 < x1; s0 += std::min(stripPixels, x1 - s0))
        Strip(s0, std::min(x1 - s0, stripPixels), p0, p1, buf.data(), line.data(), out.data());
    }
  }

 private:
  // Columns [s0, s0 + cols) of output rows [p0, p1).
  void Strip(uint32_t s0, uint32_t cols, uint32_t p0, uint32_t p1, float* buf, double* line, uint8_t* out) const {
    const size_t bytes = size_t(cols) * n_;
    const uint32_t top = p0 > uint32_t(half_) ? p0 - half_ : 0;
    const uint32_t bottom = static_cast<uint32_t>(std::min<uint64_t>(h_, uint64_t(p1) + half_));
    // The source columns the taps across reach: [lineX0, lineX1).
    const uint32_t lineX0 = s0 > uint32_t(half_) ? s0 - half_ : 0;
    const uint32_t lineX1 = static_cast<uint32_t>(std::min<uint64_t>(w_, uint64_t(s0) + cols + half_));
    for (uint32_t y = top; y < bottom; ++y) {
      const uint8_t* s = src_ + size_t(y) * srb_ + size_t(lineX0) * n_;
      const size_t count = size_t(lineX1 - lineX0) * n_;
      for (size_t i = 0; i < count; ++i) line[i] = s[i];
      Across(line, lineX0, s0, s0 + cols, buf + size_t(y - top) * bytes);
    }
    // Down, a tile of columns at a time for all the piece's rows, so that the tile's rows
    // are read from the first-level cache by every row their taps reach.
    for (size_t x0 = 0; x0 < bytes; x0 += kTile) {
      const size_t len = std::min(kTile, bytes - x0);
      for (uint32_t y = p0; y < p1; ++y) {
        const int lo = -static_cast<int>(std::min<uint32_t>(y, half_));
        const int hi = static_cast<int>(std::min<uint32_t>(h_ - 1 - y, half_));
        const double wsum = rowWeight_[y];
        uint8_t* o = (every_ ? dst_ + size_t(y) * drb_ + size_t(s0) * n_ : out + size_t(y - p0) * bytes) + x0;
        if (!UsableWeight(wsum)) {
          const uint8_t* s = src_ + size_t(y) * srb_ + size_t(s0) * n_ + x0;
          std::copy(s, s + len, o);
        } else {
          BlurDown(buf + size_t(int64_t(y) + lo - top) * bytes + x0, bytes, len, hi - lo + 1,
                   k_.data() + lo + half_, wsum, o);
        }
      }
    }
    if (!every_)
      for (uint32_t y = p0; y < p1; ++y) {
        uint8_t* d = dst_ + size_t(y) * drb_ + size_t(s0) * n_;
        const uint8_t* o = out + size_t(y - p0) * bytes;
        for (size_t i = 0; i < bytes; i += n_)
          for (uint32_t c = 0; c < n_; ++c)
            if (masked_[c]) d[i + c] = o[i + c];
      }
  }

  // Columns [x0, x1) of one row across, all channels, samples n apart; `in` holds the row's
  // samples from column inX0 on. The same sums as BlurRow per channel.
  void Across(const double* in, uint32_t inX0, uint32_t x0, uint32_t x1, float* out) const {
    const int64_t W = w_, n = n_, half = half_;
    const int64_t innerLo = std::min<int64_t>(half, W);
    const int64_t innerHi = std::max<int64_t>(innerLo, W - half);
    const double* k = k_.data();
    auto edge = [&](int64_t x) {
      const int64_t lo = std::max<int64_t>(-half, -x), hi = std::min<int64_t>(half, W - 1 - x);
      for (int64_t c = 0; c < n; ++c) {
        double acc = 0.0, s = 0.0;
        for (int64_t i = lo; i <= hi; ++i) {
          acc += k[i + half] * in[(x + i - inX0) * n + c];
          s += k[i + half];
        }
        out[(x - x0) * n + c] = UsableWeight(s) ? static_cast<float>(acc / s) : 0.0f;
      }
    };
    // [a, b): the columns whose taps are all inside the row.
    const int64_t a = std::max<int64_t>(x0, innerLo), b = std::min<int64_t>(x1, innerHi);
    for (int64_t x = x0; x < std::min<int64_t>(x1, innerLo); ++x) edge(x);
    for (int64_t x = std::max<int64_t>(x0, std::max(innerHi, innerLo)); x < x1; ++x) edge(x);
    if (b <= a) return;
    AcrossInner(in + (a - half - inX0) * n, static_cast<size_t>((b - a) * n), size_t(n), k, 2 * half + 1, fullSum_,
                out + (a - x0) * n);
  }

  const uint8_t* src_;
  uint8_t* dst_;
  uint32_t w_, h_, n_, srb_, drb_;
  const std::vector<double>& k_;
  int half_;
  double fullSum_;
  bool masked_[kMaxBlurBytes] = {};
  bool every_ = true;
  uint32_t strip_;
  std::vector<double> rowWeight_;
};

}  // namespace

bool MakeGaussianKernel(double sigma, ISArray<float>& kernel) {
  const double taps = 2.0 * std::ceil(2.5 * sigma) + 1.0;
  if (!(taps >= 1.0) || taps > kMaxKernelTaps) {
    kernel.Free();
    return false;
  }
  const int n = static_cast<int>(taps);
  const int half = n / 2;
  kernel.Resize(static_cast<uint32_t>(n));
  if (!kernel.Data()) return false;
  const double scale = std::sqrt(6.2831853) * sigma;
  double sum = 0.0;
  for (int k = 0; k < n; ++k) {
    const double i = k - half;
    const double v = std::pow(2.71828, i * i * (-0.5) / (sigma * sigma)) / scale;
    kernel[k] = static_cast<float>(v);
    sum += v;
  }
  const double inv = 1.0 / sum;
  for (int k = 0; k < n; ++k) kernel[k] = static_cast<float>(kernel[k] * inv);
  return true;
}

bool GaussianBlur(ISErrorCode& error, const uint8_t* source, uint8_t* destination, uint32_t width,
                  uint32_t height, uint32_t bytesPerPixel, uint32_t sourceRowBytes, uint32_t destinationRowBytes,
                  double sigma, uint32_t channelMask) {
  return GaussianBlurCore(error, source, destination, width, height, bytesPerPixel, sourceRowBytes,
                          destinationRowBytes, sigma, channelMask);
}

bool GaussianBlurCore(ISErrorCode& error, const uint8_t* source, uint8_t* destination, uint32_t width,
                      uint32_t height, uint32_t bytesPerPixel, uint32_t sourceRowBytes,
                      uint32_t destinationRowBytes, double sigma, uint32_t channelMask) {
  error = IS_ERR_OK;
  if (!source || !destination || source == destination) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  if (!(sigma > 0.0)) sigma = 0.0;  // also a sigma that is not a number
  ISArray<float> kernel;
  ISArray<float> buffer;
  const uint64_t cells = uint64_t(width) * height;
  uint64_t cellBytes = 0;
  // The banded form needs far less than the channel buffer, but refuses the same sizes.
  const bool banded = !ProgressIsHeard() && bytesPerPixel <= kMaxBlurBytes;
  if (!MakeGaussianKernel(sigma, kernel) ||
      (cells > 0 && (cells > 0x7FFFFFFFu || !ISAllocSize(cellBytes, cells, sizeof(float)))) ||
      (cells > 0 && !banded && !ResizeScratch(buffer, cells))) {
    error = IS_ERR_NOMEM;
    return false;
  }
  const int half = static_cast<int>(kernel.Count() / 2);
  const int taps = static_cast<int>(kernel.Count());
  std::vector<double> k(kernel.Data(), kernel.Data() + taps);
  double fullSum = 0.0;
  for (int t = 0; t < taps; ++t) fullSum += k[t];
  const uint32_t w = width, h = height, n = bytesPerPixel;
  if (banded) {
    if (w && h) {
      // Bands of whole units of columns, a few units wide, so that their sides stay apart.
      constexpr uint32_t kUnit = 16;
      const uint32_t units = static_cast<uint32_t>((uint64_t(w) + kUnit - 1) / kUnit);
      try {
        const BandedBlur blur(source, destination, w, h, n, sourceRowBytes, destinationRowBytes, k, half, fullSum,
                              channelMask, qrv::ThreadCount());
        qrv::ParallelRows(units, 8, [&](uint32_t u0, uint32_t u1) {
          blur.Columns(u0 * kUnit, static_cast<uint32_t>(std::min<uint64_t>(w, uint64_t(u1) * kUnit)));
        });
      } catch (const std::bad_alloc&) {
        error = IS_ERR_NOMEM;
        return false;
      }
    }
    return true;
  }
  // The channel-by-channel form, with its two reports per channel.
  std::vector<double> row(w), acc(w);
  float* buf = buffer.Data();

  for (uint32_t c = 0; c < n; ++c) {
    const bool masked = (channelMask & (c < 32 ? 1u << c : 0u)) != 0;
    if (masked && w && h) {
      for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* s = source + size_t(y) * sourceRowBytes + c;
        for (uint32_t x = 0; x < w; ++x) row[x] = s[size_t(x) * n];
        BlurRow(row.data(), w, k.data(), half, fullSum, acc.data(), buf + size_t(y) * w);
      }
    }
    // An unmasked channel gives only the second of its two reports.
    if (masked && !ProgressOrStop(error, 2 * uint64_t(c), 2 * uint64_t(n))) return false;
    if (masked && w && h) {
      for (uint32_t y = 0; y < h; ++y) {
        // The taps whose rows are inside, and their weight sum in tap order.
        const int lo = -static_cast<int>(std::min<uint32_t>(y, half));
        const int hi = static_cast<int>(std::min<uint32_t>(h - 1 - y, half));
        double wsum = 0.0;
        for (int i = lo; i <= hi; ++i) wsum += k[i + half];
        uint8_t* d = destination + size_t(y) * destinationRowBytes + c;
        if (!UsableWeight(wsum)) {
          const uint8_t* s = source + size_t(y) * sourceRowBytes + c;
          for (uint32_t x = 0; x < w; ++x) d[size_t(x) * n] = s[size_t(x) * n];
          continue;
        }
        std::fill(acc.begin(), acc.end(), 0.0);
        double* a = acc.data();
        for (int i = lo; i <= hi; ++i) {
          const double ki = k[i + half];
          const float* b = buf + size_t(int64_t(y) + i) * w;
          for (uint32_t x = 0; x < w; ++x) a[x] += ki * b[x];
        }
        for (uint32_t x = 0; x < w; ++x) {
          // trunc(acc / wsum + 0.5), the conversion truncating (the value lies in 0..255.5).
          const double v = a[x] / wsum + 0.5;
          d[size_t(x) * n] = !(v > 0.0) ? 0 : v >= 255.0 ? 255 : static_cast<uint8_t>(static_cast<int>(v));
        }
      }
    }
    if (!ProgressOrStop(error, 2 * uint64_t(c) + 1, 2 * uint64_t(n))) return false;
  }
  return true;
}
