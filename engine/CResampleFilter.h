// Filters of the two-pass resampler: an abstract filter with a support width, and the
// triangle (bilinear) filter that the resampler uses.
#pragma once

class CResampleFilter {
 public:
  explicit CResampleFilter(double width) : width_(width) {}
  virtual ~CResampleFilter() = default;
  virtual double Filter(double x) const = 0;
  double GetWidth() const { return width_; }

 protected:
  double width_;
};

class CBilinearFilter : public CResampleFilter {
 public:
  explicit CBilinearFilter(double width = 1.0) : CResampleFilter(width) {}
  // width - |x| inside the support, 0 outside.
  double Filter(double x) const override {
    const double a = x < 0 ? -x : x;
    return a < width_ ? width_ - a : 0.0;
  }
};
