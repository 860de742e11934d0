// The player's rasteriser: scanline polygon filling, thin lines and wide strokes, each spending its
// work from the canvas's meter before it does it.
#include "platform/gdi_metafile_raster.h"

#include <algorithm>
#include <cmath>

namespace metafile_player {

namespace {

// About log2(n) + 1: the comparisons per element of sorting n crossings.
uint64_t SortFactor(size_t n) {
  uint64_t f = 1;
  while (n > 1) n >>= 1, ++f;
  return f;
}

}  // namespace

// Fills the figures (closed implicitly) with colour; winding selects the nonzero rule. Each row
// works through the edges that may cross it (an edge table sorted by first row), so that a figure
// of many short edges costs what its rows cross, not edges times rows.
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
  // The edge table is spent first.
  if (edges < 3 || !b.meter->Spend(256 + 2 * edges)) return;
  const int32_t y0 = ClampTo(std::ceil(minY - 0.5), b.H());
  const int32_t y1 = ClampTo(std::ceil(maxY - 0.5), b.H());
  if (y0 >= y1) return;
  // An edge from a to c crosses the centre cy of a row when exactly one end lies at or above it:
  // only rows from just below its upper end to just past its lower end can see it cross.
  struct Edge {
    PointF a, c;
    int32_t first, last;  // the rows it may cross
  };
  std::vector<Edge> table;
  for (const Figure& f : figures) {
    const size_t n = f.size();
    for (size_t i = 0; i < n; ++i) {
      const PointF& a = f[i];
      const PointF& c = f[(i + 1) % n];
      if (a.y == c.y) continue;
      const double first = std::max<double>(y0, std::floor(std::min(a.y, c.y)) - 1);
      const double last = std::min<double>(y1 - 1, std::ceil(std::max(a.y, c.y)));
      if (first <= last) table.push_back(Edge{a, c, static_cast<int32_t>(first), static_cast<int32_t>(last)});
    }
  }
  std::sort(table.begin(), table.end(), [](const Edge& l, const Edge& r) { return l.first < r.first; });
  struct Cross {
    double x;
    int dir;
  };
  std::vector<Cross> xs;
  std::vector<const Edge*> active;
  size_t next = 0;
  for (int32_t y = y0; y < y1; ++y) {
    while (next < table.size() && table[next].first <= y) active.push_back(&table[next++]);
    active.erase(std::remove_if(active.begin(), active.end(), [y](const Edge* e) { return e->last < y; }),
                 active.end());
    // The row's crossings and their sorting are spent before they are worked out.
    if (!b.meter->Spend(16 + 8 * active.size() * (1 + SortFactor(active.size())))) return;
    const double cy = y + 0.5;
    xs.clear();
    for (const Edge* e : active) {
      const PointF& a = e->a;
      const PointF& c = e->c;
      if ((a.y <= cy) == (c.y <= cy)) continue;
      const double t = (cy - a.y) / (c.y - a.y);
      xs.push_back(Cross{a.x + t * (c.x - a.x), c.y > a.y ? 1 : -1});
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
    if (b.meter->Out()) return;
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
  if (!b.meter->Spend(1)) return;
  if (!clip(-dx, a.x + 1) || !clip(dx, b.W() + 1 - a.x) || !clip(-dy, a.y + 1) || !clip(dy, b.H() + 1 - a.y))
    return;
  // The clipped piece lies within the bitmap's box (plus a margin): its steps are bounded.
  const PointF p{a.x + t0 * dx, a.y + t0 * dy};
  const double ex = (t1 - t0) * dx, ey = (t1 - t0) * dy;
  const double steps = std::ceil(std::max(std::fabs(ex), std::fabs(ey)));
  if (!(steps >= 0) || steps > 4.0 * (b.W() + b.H() + 4)) return;
  const int64_t n = static_cast<int64_t>(steps);
  if (!b.meter->Spend(kLineStep * (static_cast<uint64_t>(n) + 1))) return;
  const bool last = t1 < 1;  // the end pixel is drawn only when the line was cut before it
  for (int64_t s = 0; s < n + (last ? 1 : 0) && !b.meter->Out(); ++s) {
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
  // A wide stroke is a quadrilateral a segment and a disc a point: their points are spent first.
  if (width > 1.5 && !b.meter->Spend(4 * segs + 32 * n)) return;
  if (width <= 1.5) {
    for (size_t i = 0; i < segs && !b.meter->Out(); ++i) ThinLine(b, f[i], f[(i + 1) % n], colour);
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
    if (b.meter->Out()) return;
  }
  for (size_t i = 0; i < n && !b.meter->Out(); ++i) FillCircle(b, f[i], h, colour);
}

}  // namespace metafile_player
