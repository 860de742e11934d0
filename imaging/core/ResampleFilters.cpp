// The fourteen kernels of the filtered resampler and their supports.
// Errors: 5 a filter index above 13.
#include <cmath>

#include "imaging/core/ISResample.h"

namespace {

constexpr double kPi = 3.141592653589793;

inline double Sinc(double t) {
  const double v = kPi * t;
  return v == 0.0 ? 1.0 : std::sin(v) / v;
}

}  // namespace

double BoxKernel(double t) { return (t > -0.5 && t <= 0.5) ? 1.0 : 0.0; }

double TriangleKernel(double t) {
  const double x = std::fabs(t);
  return x < 1.0 ? 1.0 - x : 0.0;
}

double HammingKernel(double t) { return 0.54 + 0.46 * std::cos(kPi * t); }

double GaussianKernel(double t) { return std::exp(-2.0 * t * t) * std::sqrt(0.6366197723675814); }

double BellKernel(double t) {
  const double x = std::fabs(t);
  if (x < 0.5) return 0.75 - x * x;
  if (x < 1.5) return 0.5 * ((x - 1.5) * (x - 1.5));
  return 0.0;
}

double BSplineKernel(double t) {
  const double x = std::fabs(t);
  if (x < 1.0) return 0.5 * x * x * x - x * x + 0.6666666666666666;
  if (x < 2.0) return (2.0 - x) * (2.0 - x) * (2.0 - x) * 0.16666666666666666;
  return 0.0;
}

double HermiteKernel(double t) {
  const double x = std::fabs(t);
  return x < 1.0 ? (2.0 * x - 3.0) * x * x + 1.0 : 0.0;
}

double Lanczos3Kernel(double t) {
  if (t == 0.0) return 1.0;
  const double x = std::fabs(t);
  return x < 3.0 ? Sinc(x) * Sinc(x * 0.3333333333333333) : 0.0;
}

double MitchellKernel(double t) {
  const double x = std::fabs(t);
  if (x < 1.0) return (7.0 * x * x * x - 12.0 * x * x + 5.333333333333333) * 0.16666666666666666;
  if (x < 2.0)
    return (-2.3333333333333335 * x * x * x + 12.0 * x * x - 20.0 * x + 10.666666666666666) * 0.16666666666666666;
  return 0.0;
}

double SincKernel(double t) { return Sinc(t); }

double HanningKernel(double t) { return (std::cos(kPi * t) + 1.0) * 0.5; }

double CatmullRomKernel(double t) {
  const double x = std::fabs(t);
  if (x < 1.0) return 0.5 * ((3.0 * x - 5.0) * x * x + 2.0);
  if (x < 2.0) return 0.5 * (((5.0 - x) * x - 8.0) * x + 4.0);
  return 0.0;
}

ISErrorCode SelectResampleFilter(ISResampleKernel* kernel, double* support, uint32_t index) {
  struct Entry {
    ISResampleKernel kernel;
    double support;
  };
  static const Entry kFilters[14] = {
      {BoxKernel, 0.5},     {TriangleKernel, 1.0}, {HammingKernel, 1.0},  {GaussianKernel, 1.25},
      {BellKernel, 1.5},    {BSplineKernel, 2.0},  {HermiteKernel, 1.0},  {BSplineKernel, 2.0},
      {Lanczos3Kernel, 3.0}, {MitchellKernel, 2.0}, {SincKernel, 4.0},    {HermiteKernel, 1.0},
      {HanningKernel, 1.0}, {CatmullRomKernel, 2.0}};
  if (index > 13) return IS_ERR_BADPARAM;
  *kernel = kFilters[index].kernel;
  *support = kFilters[index].support;
  return IS_ERR_OK;
}
