// The player's rasteriser: scanline polygon filling, thin lines and wide strokes.
#include "platform/gdi_metafile_raster.h"

#include <algorithm>
#include <cmath>

namespace metafile_player {

// Fills the figures (closed implicitly) with colour; winding selects the nonzero rule.
void FillFigures(const Canvas& b, const std::vector<Figure>& figures, const Paint& colour, bool winding) {
  double minY = 1e300, maxY = -1e300;
  size_t edges = 0;
  for (const Figure& f : figures) {
    for (const PointF& p : f) {
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
      minY = std::min(minY, p.y);
      maxY = std::max(maxY, p.y);
    }
    edges += f.size();
  }
  if (edges < 3) return;
  const int32_t y0 = ClampTo(std::ceil(minY - 0.5), b.H());
  const int32_t y1 = ClampTo(std::ceil(maxY - 0.5), b.H());
  struct Cross {
    double x;
    int dir;
  };
  std::vector<Cross> xs;
  for (int32_t y = y0; y < y1; ++y) {
    const double cy = y + 0.5;
    xs.clear();
    for (const Figure& f : figures) {
      const size_t n = f.size();
      for (size_t i = 0; i < n; ++i) {
        const PointF& a = f[i];
        const PointF& c = f[(i + 1) % n];
        if ((a.y <= cy) == (c.y <= cy)) continue;
        const double t = (cy - a.y) / (c.y - a.y);
        xs.push_back(Cross{a.x + t * (c.x - a.x), c.y > a.y ? 1 : -1});
      }
    }
    std::sort(xs.begin(), xs.end(), [](const Cross& l, const Cross& r) { return l.x < r.x; });
    int wind = 0;
    for (size_t i = 0; i + 1 < xs.size(); ++i) {
      wind += xs[i].dir;
      const bool inside = winding ? wind != 0 : (i % 2) == 0;
      if (!inside) continue;
      const double xa = std::max(0.0, std::ceil(xs[i].x - 0.5));
      const double xb = std::min(static_cast<double>(b.W()), std::ceil(xs[i + 1].x - 0.5));
      if (xa < xb) b.Fill(y, static_cast<int32_t>(xa), static_cast<int32_t>(xb), colour);
    }
  }
}

void FillCircle(const Canvas& b, PointF c, double r, COLORREF colour) {
  Figure f;
  const int n = r < 4 ? 12 : 32;
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n;
    f.push_back(PointF{c.x + r * std::cos(a), c.y + r * std::sin(a)});
  }
  FillFigures(b, {f}, colour, true);
}

// A one-pixel line from a to b (b's pixel excluded, as GDI draws).
void ThinLine(const Canvas& b, PointF a, PointF c, COLORREF colour) {
  const double dx = c.x - a.x, dy = c.y - a.y;
  const double len = std::max(std::fabs(dx), std::fabs(dy));
  if (!std::isfinite(len)) return;
  // Clip the parameter range to the bitmap's box (with a margin) to bound the loop.
  double t0 = 0, t1 = 1;
  auto clip = [&](double p, double q) {
    if (p == 0) return q >= 0;
    const double r = q / p;
    if (p < 0) {
      if (r > t1) return false;
      t0 = std::max(t0, r);
    } else {
      if (r < t0) return false;
      t1 = std::min(t1, r);
    }
    return true;
  };
  if (!clip(-dx, a.x + 1) || !clip(dx, b.W() + 1 - a.x) || !clip(-dy, a.y + 1) || !clip(dy, b.H() + 1 - a.y))
    return;
  // The clipped piece lies within the bitmap's box (plus a margin): its steps are bounded.
  const PointF p{a.x + t0 * dx, a.y + t0 * dy};
  const double ex = (t1 - t0) * dx, ey = (t1 - t0) * dy;
  const double steps = std::ceil(std::max(std::fabs(ex), std::fabs(ey)));
  if (!(steps >= 0) || steps > 4.0 * (b.W() + b.H() + 4)) return;
  const int64_t n = static_cast<int64_t>(steps);
  const bool last = t1 < 1;  // the end pixel is drawn only when the line was cut before it
  for (int64_t s = 0; s < n + (last ? 1 : 0); ++s) {
    // Multiply before dividing: whole-pixel steps stay exact (s / n * ex can land just below).
    const double fx = n > 0 ? std::floor(p.x + ex * static_cast<double>(s) / n) : std::floor(p.x);
    const double fy = n > 0 ? std::floor(p.y + ey * static_cast<double>(s) / n) : std::floor(p.y);
    if (fx >= 0 && fy >= 0 && fx < b.W() && fy < b.H()) {
      const int32_t x = static_cast<int32_t>(fx), y = static_cast<int32_t>(fy);
      b.Fill(y, x, x + 1, colour);
    }
  }
}

// Strokes an open (or, with closed, a closed) polyline with a pen of `width` device pixels.
void StrokeFigure(const Canvas& b, const Figure& f, bool closed, double width, COLORREF colour) {
  const size_t n = f.size();
  if (n == 0) return;
  const size_t segs = closed ? n : n - 1;
  if (width <= 1.5) {
    for (size_t i = 0; i < segs; ++i) ThinLine(b, f[i], f[(i + 1) % n], colour);
    return;
  }
  const double h = width / 2;
  for (size_t i = 0; i < segs; ++i) {
    const PointF a = f[i], c = f[(i + 1) % n];
    const double dx = c.x - a.x, dy = c.y - a.y, len = std::hypot(dx, dy);
    if (len > 0 && std::isfinite(len)) {
      const double nx = -dy / len * h, ny = dx / len * h;
      FillFigures(b, {Figure{{a.x + nx, a.y + ny}, {c.x + nx, c.y + ny}, {c.x - nx, c.y - ny}, {a.x - nx, a.y - ny}}},
                  colour, true);
    }
  }
  for (size_t i = 0; i < n; ++i) FillCircle(b, f[i], h, colour);
}

}  // namespace metafile_player
