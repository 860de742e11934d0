// Clip regions of the player: rectangles turned into rows of spans, combined row by row.
#include "platform/gdi_metafile_clip.h"

#include <algorithm>

namespace metafile_player {

namespace {

// Appends a (mode) b for one row to out.spans; xs is scratch. The spans of a row are sorted and
// disjoint, so their edges merge in order.
void CombineRow(const Span* a, size_t na, const Span* b, size_t nb, int mode, ClipRegion& out,
                std::vector<int32_t>& xs) {
  const size_t first = out.spans.size();
  xs.resize(2 * (na + nb));
  int32_t* ea = xs.data();
  int32_t* eb = ea + 2 * na;
  for (size_t i = 0; i < na; ++i) ea[2 * i] = a[i].x0, ea[2 * i + 1] = a[i].x1;
  for (size_t i = 0; i < nb; ++i) eb[2 * i] = b[i].x0, eb[2 * i + 1] = b[i].x1;
  std::inplace_merge(ea, eb, eb + 2 * nb);
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  size_t ia = 0, ib = 0;
  for (size_t i = 0; i + 1 < xs.size(); ++i) {
    const int32_t x = xs[i];
    while (ia < na && a[ia].x1 <= x) ++ia;
    while (ib < nb && b[ib].x1 <= x) ++ib;
    const bool inA = ia < na && a[ia].x0 <= x, inB = ib < nb && b[ib].x0 <= x;
    bool in;
    switch (mode) {
      case RGN_AND: in = inA && inB; break;
      case RGN_OR: in = inA || inB; break;
      case RGN_XOR: in = inA != inB; break;
      case RGN_DIFF: in = inA && !inB; break;
      default: in = inB; break;
    }
    if (!in) continue;
    if (out.spans.size() > first && out.spans.back().x1 == x) out.spans.back().x1 = xs[i + 1];
    else out.spans.push_back(Span{x, xs[i + 1]});
  }
}

}  // namespace

// The region made of rects (each limited to the bitmap) on a bitmap of height h.
ClipRegion RegionOf(const std::vector<PixRect>& rects, int32_t h) {
  uint64_t work = 0;
  for (const PixRect& q : rects) work += q.x0 < q.x1 && q.y0 < q.y1 ? static_cast<uint64_t>(q.y1 - q.y0) : 0;
  if (work > kMaxRegionWork) {  // the bounding box instead
    PixRect box{INT32_MAX, INT32_MAX, 0, 0};
    for (const PixRect& q : rects)
      if (q.x0 < q.x1 && q.y0 < q.y1)
        box = PixRect{std::min(box.x0, q.x0), std::min(box.y0, q.y0), std::max(box.x1, q.x1), std::max(box.y1, q.y1)};
    return RegionOf({box}, h);
  }
  // Each row's spans gathered in place (a count a row first), then sorted and merged.
  const size_t rows = static_cast<size_t>(h);
  std::vector<uint32_t> at(rows + 1, 0);
  for (const PixRect& q : rects)
    if (q.x0 < q.x1)
      for (int32_t y = q.y0; y < q.y1; ++y) ++at[static_cast<size_t>(y) + 1];
  for (size_t y = 0; y < rows; ++y) at[y + 1] += at[y];
  std::vector<Span> raw(at[rows]);
  std::vector<uint32_t> fill(at.begin(), at.end() - 1);
  for (const PixRect& q : rects)
    if (q.x0 < q.x1)
      for (int32_t y = q.y0; y < q.y1; ++y) raw[fill[static_cast<size_t>(y)]++] = Span{q.x0, q.x1};
  ClipRegion r;
  r.start.resize(rows + 1, 0);
  r.spans.reserve(raw.size());
  for (size_t y = 0; y < rows; ++y) {
    Span* b = raw.data() + at[y];
    Span* e = raw.data() + at[y + 1];
    if (e - b > 1) std::sort(b, e, [](const Span& l, const Span& m) { return l.x0 < m.x0; });
    const size_t first = r.spans.size();
    for (const Span* s = b; s != e; ++s) {
      if (r.spans.size() > first && s->x0 <= r.spans.back().x1) r.spans.back().x1 = std::max(r.spans.back().x1, s->x1);
      else r.spans.push_back(*s);
    }
    r.start[y + 1] = static_cast<uint32_t>(r.spans.size());
  }
  return r;
}

// cur (mode) other on a bitmap of width w; null cur is the whole bitmap.
ClipPtr Combine(const ClipPtr& cur, const ClipRegion& other, int mode, int32_t w) {
  if (mode == RGN_COPY) return std::make_shared<const ClipRegion>(other);
  auto out = std::make_shared<ClipRegion>();
  const size_t rows = other.start.empty() ? 0 : other.start.size() - 1;
  out->start.resize(rows + 1, 0);
  const Span whole{0, w};
  std::vector<int32_t> xs;
  for (size_t y = 0; y < rows; ++y) {
    const int32_t row = static_cast<int32_t>(y);
    const Span* a = cur ? cur->Begin(row) : &whole;
    const size_t na = cur ? static_cast<size_t>(cur->End(row) - a) : 1;
    CombineRow(a, na, other.Begin(row), static_cast<size_t>(other.End(row) - other.Begin(row)), mode, *out, xs);
    out->start[y + 1] = static_cast<uint32_t>(out->spans.size());
  }
  return out;
}

}  // namespace metafile_player
