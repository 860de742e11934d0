// The conversion's tables. T and U are monotone cubic (Fritsch-Carlson) curves through the
// camera's measured points; the fast path of Convert sums per-channel products from tables
// in the same order as the matrix product, so it gives the per-pixel result bit for bit.
#include "engine/CColorSpaceConverter.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "engine/PixelBands.h"

const double CColorSpaceConverter::kS[3][3] = {{0.436066, 0.385147, 0.143066},
                                               {0.222488, 0.716873, 0.060608},
                                               {0.013916, 0.097076, 0.714096}};
const double CColorSpaceConverter::kK[3][3] = {{0.52858, 0.412567, 0.02301},
                                               {0.280212, 0.827759, -0.107986},
                                               {0.060455, -0.034973, 0.799408}};

namespace {

struct Knot {
  int x;
  double y;
};

// Monotone cubic Hermite interpolation through the knots (x ascending, y increasing),
// sampled at 0..511.
void BuildCurve(const Knot* knots, int count, double* out) {
  double secant[16];
  double slope[16];
  for (int k = 0; k + 1 < count; ++k)
    secant[k] = (knots[k + 1].y - knots[k].y) / (knots[k + 1].x - knots[k].x);
  slope[0] = secant[0];
  slope[count - 1] = secant[count - 2];
  for (int k = 1; k + 1 < count; ++k) {
    // Weighted harmonic mean of the neighbouring secants: never overshoots.
    const double h0 = knots[k].x - knots[k - 1].x;
    const double h1 = knots[k + 1].x - knots[k].x;
    const double w1 = 2 * h1 + h0;
    const double w2 = h1 + 2 * h0;
    slope[k] = (w1 + w2) / (w1 / secant[k - 1] + w2 / secant[k]);
  }
  for (int k = 0; k + 1 < count; ++k) {
    const double x0 = knots[k].x;
    const double h = knots[k + 1].x - x0;
    for (int x = knots[k].x; x <= knots[k + 1].x; ++x) {
      const double t = (x - x0) / h;
      const double t2 = t * t;
      const double t3 = t2 * t;
      out[x] = (2 * t3 - 3 * t2 + 1) * knots[k].y + (t3 - 2 * t2 + t) * h * slope[k] +
               (-2 * t3 + 3 * t2) * knots[k + 1].y + (t3 - t2) * h * slope[k + 1];
    }
  }
  out[knots[0].x] = knots[0].y;
  out[knots[count - 1].x] = knots[count - 1].y;
}

const Knot kTKnots[] = {{0, 0.0},        {1, 0.000412},   {64, 0.025528},  {128, 0.052827},
                        {192, 0.088319}, {256, 0.135119}, {320, 0.200763}, {384, 0.292744},
                        {448, 0.483009}, {510, 0.985321}, {511, 1.0}};
const Knot kUKnots[] = {{0, 0.0},        {1, 0.00145},    {64, 0.144656},  {128, 0.406928},
                        {192, 0.610697}, {256, 0.755886}, {320, 0.858015}, {384, 0.924895},
                        {448, 0.968139}, {510, 0.999481}, {511, 1.0}};

void CombinedMatrix(double (&C)[3][3]);

// The tone-table index trunc(c * 511) of each channel of a grey whose linear value is lin.
void GreyIndices(const double (&C)[3][3], double lin, int (&index)[3]) {
  for (int i = 0; i < 3; ++i) {
    double c = C[i][0] * lin + C[i][1] * lin + C[i][2] * lin;
    c = c < 0.0 ? 0.0 : (c > 1.0 ? 1.0 : c);
    index[i] = static_cast<int>(c * 511.0);
  }
}

struct Curves {
  double t[CColorSpaceConverter::kCurvePoints];
  double u[CColorSpaceConverter::kCurvePoints];
  Curves() {
    BuildCurve(kTKnots, static_cast<int>(sizeof(kTKnots) / sizeof(kTKnots[0])), t);
    BuildCurve(kUKnots, static_cast<int>(sizeof(kUKnots) / sizeof(kUKnots[0])), u);
    // The rows of C sum to 1 only within 0.0005, so a grey whose linear value lies just
    // below a tone-table step would give its channels neighbouring entries, and in the dark
    // part of the curve outputs several levels apart. The entries the conversion reads
    // (T[2i + 1], i = 1..254; none of them a measured point) are raised by the hair that
    // puts all three channels on the same step, so greys stay exactly grey.
    double C[3][3];
    CombinedMatrix(C);
    for (int i = 1; i < 255; ++i) {
      double& lin = t[2 * i + 1];
      int index[3];
      GreyIndices(C, lin, index);
      for (int step = 0; step < 64 && !(index[0] == index[1] && index[1] == index[2]); ++step) {
        const int top = std::max(std::max(index[0], index[1]), index[2]);
        const double rowMin = std::min(std::min(C[0][0] + C[0][1] + C[0][2], C[1][0] + C[1][1] + C[1][2]),
                                       C[2][0] + C[2][1] + C[2][2]);
        lin = std::max(lin, top / (511.0 * rowMin)) * (1 + 1e-12 * (step + 1));
        GreyIndices(C, lin, index);
      }
    }
  }
};
const Curves& TheCurves() {
  static const Curves curves;
  return curves;
}

}  // namespace

const double* CColorSpaceConverter::CurveT() { return TheCurves().t; }
const double* CColorSpaceConverter::CurveU() { return TheCurves().u; }

namespace {

// C = S^-1 K, S inverted by cofactors (nothing written for a zero determinant).
void CombinedMatrix(double (&C)[3][3]) {
  const double(&s)[3][3] = CColorSpaceConverter::kS;
  const double(&k)[3][3] = CColorSpaceConverter::kK;
  const double d = s[0][0] * (s[1][1] * s[2][2] - s[1][2] * s[2][1]) -
                   s[0][1] * (s[1][0] * s[2][2] - s[1][2] * s[2][0]) +
                   s[0][2] * (s[1][0] * s[2][1] - s[1][1] * s[2][0]);
  double inv[3][3] = {};
  if (d != 0.0) {
    const double f = 1 / d;
    inv[0][0] = (s[1][1] * s[2][2] - s[1][2] * s[2][1]) * f;
    inv[0][1] = (s[0][2] * s[2][1] - s[0][1] * s[2][2]) * f;
    inv[0][2] = (s[0][1] * s[1][2] - s[0][2] * s[1][1]) * f;
    inv[1][0] = (s[1][2] * s[2][0] - s[1][0] * s[2][2]) * f;
    inv[1][1] = (s[0][0] * s[2][2] - s[0][2] * s[2][0]) * f;
    inv[1][2] = (s[0][2] * s[1][0] - s[0][0] * s[1][2]) * f;
    inv[2][0] = (s[1][0] * s[2][1] - s[1][1] * s[2][0]) * f;
    inv[2][1] = (s[0][1] * s[2][0] - s[0][0] * s[2][1]) * f;
    inv[2][2] = (s[0][0] * s[1][1] - s[0][1] * s[1][0]) * f;
  }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) C[i][j] = inv[i][0] * k[0][j] + inv[i][1] * k[1][j] + inv[i][2] * k[2][j];
}

}  // namespace

void CColorSpaceConverter::Setup() {
  CombinedMatrix(C_);
  const double* t = CurveT();
  for (int i = 0; i < 256; ++i) lin_[i] = t[2 * i + 1];
  for (int i = 0; i < 1024; ++i) {
    const double x = i / 1023.0;
    const double y = x <= 0.00304 ? 12.92 * x : 1.055 * std::pow(x, 1 / 2.4) - 0.055;
    enc_[i] = static_cast<BYTE>(static_cast<int>(y * 255.0 + 0.5));
  }
}

void CColorSpaceConverter::ConvertPixel(const BYTE* source, BYTE* destination, int gamutMode) const {
  const double p0 = lin_[source[0]];
  const double p1 = lin_[source[1]];
  const double p2 = lin_[source[2]];
  double c[3];
  for (int i = 0; i < 3; ++i) c[i] = C_[i][0] * p0 + C_[i][1] * p1 + C_[i][2] * p2;
  for (int i = 0; i < 3; ++i) {
    if (c[i] < 0.0 || c[i] > 1.0) {
      if (gamutMode == 1) {
        destination[0] = 255;
        destination[1] = 0;
        destination[2] = 255;
        return;
      }
      c[i] = c[i] < 0.0 ? 0.0 : 1.0;
    }
  }
  const double* u = CurveU();
  for (int i = 0; i < 3; ++i) {
    const double shaped = u[static_cast<int>(c[i] * 511.0)];
    destination[i] = enc_[static_cast<int>(shaped * 1023.0)];
  }
}

void CColorSpaceConverter::Convert(BYTE* image, int width, int height) {
  Setup();
  if (!image || width <= 0 || height <= 0) return;
  // Each output pixel depends on its own source pixel only, so the conversion runs in place.
  // term[j][v][i] = C[i][j] * lin[v]: the products of the matrix rows, kept together per
  // source channel and value so that one pixel's three sums run side by side; each sum adds
  // its products in the matrix row's order.
  struct alignas(32) Terms {
    double c[4];  // output channels 0..2, and a spare lane
  };
  Terms term[3][256];
  for (int j = 0; j < 3; ++j)
    for (int v = 0; v < 256; ++v) {
      for (int i = 0; i < 3; ++i) term[j][v].c[i] = C_[i][j] * lin_[v];
      term[j][v].c[3] = 0.0;
    }
  // Final byte of each clamped component c: enc[trunc(U[trunc(c * 511)] * 1023)].
  BYTE final[kCurvePoints];
  const double* u = CurveU();
  for (int k = 0; k < kCurvePoints; ++k) final[k] = enc_[static_cast<int>(u[k] * 1023.0)];
  // Two lanes at a time (channels 0 and 1, then 2 and the spare): every lane does exactly
  // the scalar operations, so the bytes equal ConvertPixel's.
  typedef double Lanes __attribute__((vector_size(16)));
  typedef int64_t Indices __attribute__((vector_size(16)));
  const Lanes zero = {0.0, 0.0};
  const Lanes one = {1.0, 1.0};
  const Lanes steps = {511.0, 511.0};
  ForPixelBands(width, height, [&](uint64_t first, uint64_t last) {
    for (uint64_t i = first; i < last; ++i) {
      BYTE* p = image + 3 * i;
      const Lanes* tr = reinterpret_cast<const Lanes*>(term[0][p[0]].c);
      const Lanes* tg = reinterpret_cast<const Lanes*>(term[1][p[1]].c);
      const Lanes* tb = reinterpret_cast<const Lanes*>(term[2][p[2]].c);
      Lanes c01 = tr[0] + tg[0] + tb[0];
      Lanes c23 = tr[1] + tg[1] + tb[1];
      c01 = c01 < zero ? zero : c01;
      c23 = c23 < zero ? zero : c23;
      c01 = c01 > one ? one : c01;
      c23 = c23 > one ? one : c23;
      const Indices i01 = __builtin_convertvector(c01 * steps, Indices);
      const Indices i23 = __builtin_convertvector(c23 * steps, Indices);
      p[0] = final[i01[0]];
      p[1] = final[i01[1]];
      p[2] = final[i23[0]];
    }
  });
}
