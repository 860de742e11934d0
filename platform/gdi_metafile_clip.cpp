// Clip regions of the player: rectangles turned into rows of spans, combined row by row.
#include "platform/gdi_metafile_clip.h"

#include <algorithm>

namespace metafile_player {

namespace {

// out = a (mode) b for one row; xs is scratch.
void CombineRow(const std::vector<Span>& a, const std::vector<Span>& b, int mode, std::vector<Span>& out,
                std::vector<int32_t>& xs) {
  out.clear();
  xs.clear();
  for (const Span& s : a) xs.push_back(s.x0), xs.push_back(s.x1);
  for (const Span& s : b) xs.push_back(s.x0), xs.push_back(s.x1);
  std::sort(xs.begin(), xs.end());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  size_t ia = 0, ib = 0;
  for (size_t i = 0; i + 1 < xs.size(); ++i) {
    const int32_t x = xs[i];
    while (ia < a.size() && a[ia].x1 <= x) ++ia;
    while (ib < b.size() && b[ib].x1 <= x) ++ib;
    const bool inA = ia < a.size() && a[ia].x0 <= x, inB = ib < b.size() && b[ib].x0 <= x;
    bool in;
    switch (mode) {
      case RGN_AND: in = inA && inB; break;
      case RGN_OR: in = inA || inB; break;
      case RGN_XOR: in = inA != inB; break;
      case RGN_DIFF: in = inA && !inB; break;
      default: in = inB; break;
    }
    if (!in) continue;
    if (!out.empty() && out.back().x1 == x) out.back().x1 = xs[i + 1];
    else out.push_back(Span{x, xs[i + 1]});
  }
}

}  // namespace

// The region made of rects (each limited to the bitmap) on a bitmap of height h.
ClipRegion RegionOf(const std::vector<PixRect>& rects, int32_t h) {
  ClipRegion r;
  r.rows.resize(static_cast<size_t>(h));
  uint64_t work = 0;
  for (const PixRect& q : rects) work += q.x0 < q.x1 && q.y0 < q.y1 ? static_cast<uint64_t>(q.y1 - q.y0) : 0;
  if (work > kMaxRegionWork) {  // the bounding box instead
    PixRect box{INT32_MAX, INT32_MAX, 0, 0};
    for (const PixRect& q : rects)
      if (q.x0 < q.x1 && q.y0 < q.y1)
        box = PixRect{std::min(box.x0, q.x0), std::min(box.y0, q.y0), std::max(box.x1, q.x1), std::max(box.y1, q.y1)};
    return RegionOf({box}, h);
  }
  for (const PixRect& q : rects)
    if (q.x0 < q.x1)
      for (int32_t y = q.y0; y < q.y1; ++y) r.rows[static_cast<size_t>(y)].push_back(Span{q.x0, q.x1});
  std::vector<Span> merged;
  for (std::vector<Span>& row : r.rows) {
    if (row.size() > 1) {
      std::sort(row.begin(), row.end(), [](const Span& l, const Span& m) { return l.x0 < m.x0; });
      merged.clear();
      for (const Span& s : row) {
        if (!merged.empty() && s.x0 <= merged.back().x1) merged.back().x1 = std::max(merged.back().x1, s.x1);
        else merged.push_back(s);
      }
      row.swap(merged);
    }
    r.spans += row.size();
  }
  return r;
}

// cur (mode) other on a bitmap of width w; null cur is the whole bitmap.
ClipPtr Combine(const ClipPtr& cur, const ClipRegion& other, int mode, int32_t w) {
  if (mode == RGN_COPY) return std::make_shared<const ClipRegion>(other);
  auto out = std::make_shared<ClipRegion>();
  out->rows.resize(other.rows.size());
  const std::vector<Span> whole{Span{0, w}};
  std::vector<int32_t> xs;
  for (size_t y = 0; y < other.rows.size(); ++y) {
    CombineRow(cur ? cur->rows[y] : whole, other.rows[y], mode, out->rows[y], xs);
    out->spans += out->rows[y].size();
  }
  return out;
}

}  // namespace metafile_player
