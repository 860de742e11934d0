// Filtered resampling in two separable passes: each destination sample is the weighted sum
// of the source samples its kernel reaches, rounded half away from zero; samples whose
// contributors are all equal are copied unchanged.
// Errors: 5 bad argument or filter, 68 destination side below the filter's support, 1 no
// room for the contributor lists or the intermediate column, 14 stopped.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISResample.h"

namespace {

// The contributors of every output index of one direction, `room` slots per index.
struct ContributorLists {
  uint32_t room = 0;
  ISArray<uint32_t> counts;
  ISArray<uint32_t> indices;
  ISArray<double> weights;
};

// Rounds half away from zero (0.5 taken off a value of 0 or less, added otherwise, then
// truncated) and limits to 0..255. A value of 0 or less can only round to 0 or below, so it
// gives 0 at once; the conversion truncates.
inline uint8_t RoundHalfAwayLimited(double v) {
  if (!(v > 0.0)) return 0;
  v += 0.5;
  return v >= 255.0 ? 255 : static_cast<uint8_t>(static_cast<int>(v));
}

// Builds the lists for `outSize` outputs from `inSize` inputs; false when they cannot be held.
bool BuildContributors(ContributorLists& lists, uint32_t outSize, uint32_t inSize, ISResampleKernel kernel,
                       double support) {
  const double s = double(outSize) / inSize;
  const double reach = s >= 1.0 ? support : support / s;
  const double room = std::trunc(2.0 * reach + 1.0);
  if (!(room >= 1.0) || room > 0x7FFFFFFF) return false;
  lists.room = static_cast<uint32_t>(room);
  const uint64_t slots = uint64_t(outSize) * lists.room;
  if (!ResizeScratch(lists.counts, outSize) || !ResizeScratch(lists.indices, slots) ||
      !ResizeScratch(lists.weights, slots))
    return false;
  const int64_t N = inSize;
  for (uint32_t i = 0; i < outSize; ++i) {
    uint32_t* idx = &lists.indices[uint32_t(uint64_t(i) * lists.room)];
    double* w = &lists.weights[uint32_t(uint64_t(i) * lists.room)];
    const double centre = i / s;
    const int64_t left = static_cast<int64_t>(std::ceil(centre - reach));
    const int64_t right = static_cast<int64_t>(std::floor(centre + reach));
    uint32_t count = 0;
    // The count never passes the room, whatever the rounding of the ends.
    for (int64_t j = left; j <= right && count < lists.room; ++j, ++count) {
      w[count] = s >= 1.0 ? kernel(centre - j) : kernel((centre - j) * s) * s;
      // Positions outside reflect about the edges; a reflection that would still fall
      // outside (a source smaller than the kernel's reach) is held at the edge.
      int64_t n = j < 0 ? -j : j >= N ? 2 * N - j - 1 : j;
      idx[count] = static_cast<uint32_t>(std::min(std::max<int64_t>(n, 0), N - 1));
    }
    double sum = 0.0;
    for (uint32_t k = 0; k < count; ++k) sum += w[k];
    if (sum != 0.0) {
      const double inv = 1.0 / sum;
      for (uint32_t k = 0; k < count; ++k) w[k] *= inv;
    }
    lists.counts[i] = count;
  }
  return true;
}

// One output sample from samples at base[idx[k] * step]: the rounded weighted sum, or the
// first contributor's sample when there is one contributor or all are equal.
template <typename Sample>
inline uint8_t Gather(const Sample* base, size_t step, const uint32_t* idx, const double* w, uint32_t count) {
  if (count == 0) return 0;
  const Sample first = base[idx[0] * step];
  double sum = 0.0;
  bool differ = false;
  for (uint32_t k = 0; k < count; ++k) {
    const Sample v = base[idx[k] * step];
    sum += w[k] * v;
    differ |= v != first;
  }
  return count > 1 && differ ? RoundHalfAwayLimited(sum) : static_cast<uint8_t>(first);
}

// Gather for the three samples of an RGB pixel at once (the same sums as three Gathers).
inline void GatherPixel3(const double* line, const uint32_t* idx, const double* w, uint32_t count, uint8_t* out) {
  const double* f = line + size_t(idx[0]) * 3;
  const double f0 = f[0], f1 = f[1], f2 = f[2];
  double s0 = 0.0, s1 = 0.0, s2 = 0.0;
  bool d0 = false, d1 = false, d2 = false;
  for (uint32_t k = 0; k < count; ++k) {
    const double* p = line + size_t(idx[k]) * 3;
    const double wk = w[k];
    s0 += wk * p[0];
    s1 += wk * p[1];
    s2 += wk * p[2];
    d0 |= p[0] != f0;
    d1 |= p[1] != f1;
    d2 |= p[2] != f2;
  }
  const bool many = count > 1;
  out[0] = many && d0 ? RoundHalfAwayLimited(s0) : static_cast<uint8_t>(f0);
  out[1] = many && d1 ? RoundHalfAwayLimited(s1) : static_cast<uint8_t>(f1);
  out[2] = many && d2 ? RoundHalfAwayLimited(s2) : static_cast<uint8_t>(f2);
}

// The straightforward order: one destination column at a time through one intermediate
// column, with a progress report after each column.
bool ResampleByColumns(ISErrorCode& error, const uint8_t* src, uint32_t sh, size_t srb, uint8_t* dst,
                       uint32_t dw, uint32_t dh, size_t drb, uint32_t n, const ContributorLists& cols,
                       const ContributorLists& rows) {
  ISArray<uint8_t> column;
  if (!ResizeScratch(column, uint64_t(sh) * n)) {
    error = IS_ERR_NOMEM;
    return false;
  }
  for (uint32_t x = 0; x < dw; ++x) {
    const uint32_t* ci = &cols.indices[x * cols.room];
    const double* cw = &cols.weights[x * cols.room];
    const uint32_t cc = cols.counts[x];
    for (uint32_t y = 0; y < sh; ++y)
      for (uint32_t c = 0; c < n; ++c) column[y * n + c] = Gather(src + y * srb + c, n, ci, cw, cc);
    for (uint32_t y = 0; y < dh; ++y) {
      const uint32_t* ri = &rows.indices[y * rows.room];
      const double* rw = &rows.weights[y * rows.room];
      for (uint32_t c = 0; c < n; ++c)
        dst[y * drb + size_t(x) * n + c] = Gather(column.Data() + c, n, ri, rw, rows.counts[y]);
    }
    if (!ProgressOrStop(error, x, dw, ISStopRule::kZeroOnly)) return false;
  }
  return true;
}

// The same sums in row order: all source rows across into an intermediate image, then down.
// Every output sample adds its products in the same order as above, so the results are
// identical; only the progress reports (none here) differ.
void ResampleByRows(const uint8_t* src, uint32_t sw, uint32_t sh, size_t srb, uint8_t* dst, uint32_t dw,
                    uint32_t dh, size_t drb, uint32_t n, const ContributorLists& cols, const ContributorLists& rows,
                    uint8_t* inter) {
  const size_t irb = size_t(dw) * n;
  // Across: source rows side by side, each into its own intermediate row.
  qrv::ParallelRows(sh, 16, [&](uint32_t y0, uint32_t y1) {
    std::vector<double> line(size_t(sw) * n);
    for (uint32_t y = y0; y < y1; ++y) {
      const uint8_t* s = src + y * srb;
      for (size_t i = 0; i < line.size(); ++i) line[i] = s[i];
      uint8_t* out = inter + y * irb;
      for (uint32_t x = 0; x < dw; ++x) {
        const uint32_t* ci = &cols.indices[x * cols.room];
        const double* cw = &cols.weights[x * cols.room];
        const uint32_t cc = cols.counts[x];
        if (n == 3 && cc > 0) {
          GatherPixel3(line.data(), ci, cw, cc, out + size_t(x) * 3);
          continue;
        }
        for (uint32_t c = 0; c < n; ++c) out[size_t(x) * n + c] = Gather(line.data() + c, n, ci, cw, cc);
      }
    }
  });
  // Down: destination rows side by side, once every intermediate row is there.
  qrv::ParallelRows(dh, 16, [&](uint32_t y0, uint32_t y1) {
    std::vector<double> acc(irb);
    std::vector<uint8_t> differ(irb);
    for (uint32_t y = y0; y < y1; ++y) {
      const uint32_t* ri = &rows.indices[y * rows.room];
      const double* rw = &rows.weights[y * rows.room];
      const uint32_t rc = rows.counts[y];
      uint8_t* out = dst + y * drb;
      if (rc == 0) {
        std::memset(out, 0, irb);
        continue;
      }
      const uint8_t* first = inter + size_t(ri[0]) * irb;
      std::fill(acc.begin(), acc.end(), 0.0);
      std::fill(differ.begin(), differ.end(), 0);
      for (uint32_t k = 0; k < rc; ++k) {
        const uint8_t* r = inter + size_t(ri[k]) * irb;
        const double wk = rw[k];
        double* a = acc.data();
        uint8_t* d = differ.data();
        for (size_t e = 0; e < irb; ++e) {
          a[e] += wk * r[e];
          d[e] |= r[e] != first[e];
        }
      }
      for (size_t e = 0; e < irb; ++e) out[e] = rc > 1 && differ[e] ? RoundHalfAwayLimited(acc[e]) : first[e];
    }
  });
}

}  // namespace

bool ResampleImage(ISErrorCode& error, const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight,
                   uint8_t* destination, uint32_t destinationWidth, uint32_t destinationHeight,
                   uint32_t bytesPerPixel, uint32_t filter, uint32_t sourceRowBytes, uint32_t destinationRowBytes) {
  error = IS_ERR_OK;
  const uint32_t sw = sourceWidth, sh = sourceHeight, dw = destinationWidth, dh = destinationHeight;
  const uint32_t n = bytesPerPixel;
  if (!source || !destination || !n || !sw || !sh || !dw || !dh) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  ISResampleKernel kernel = HermiteKernel;
  double support = 1.0;
  if (SelectResampleFilter(&kernel, &support, filter) != IS_ERR_OK) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  const double reachNeeded = std::trunc(support + 0.999999999);
  if (dw < reachNeeded || dh < reachNeeded) {
    error = IS_ERR_RESAMPLESIZE;
    return false;
  }
  ContributorLists rows, cols;
  if (!BuildContributors(rows, dh, sh, kernel, support) || !BuildContributors(cols, dw, sw, kernel, support)) {
    error = IS_ERR_NOMEM;
    return false;
  }
  if (!ProgressIsHeard()) {
    ISArray<uint8_t> inter;
    if (ResizeScratch(inter, uint64_t(sh) * dw * n)) {
      try {
        ResampleByRows(source, sw, sh, sourceRowBytes, destination, dw, dh, destinationRowBytes, n, cols, rows,
                       inter.Data());
      } catch (const std::bad_alloc&) {
        error = IS_ERR_NOMEM;
        return false;
      }
      return true;
    }
  }
  return ResampleByColumns(error, source, sh, sourceRowBytes, destination, dw, dh, destinationRowBytes, n, cols,
                           rows);
}
