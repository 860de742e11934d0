// Palette builders (octree, 5-5-5 cube merged through a min-heap) and the error-diffusion
// mapper. Error codes: 1 no memory, 5 bad argument, 14 stopped by the progress callback.
#include "imaging/core/ISColorQuantizer.h"

#include <cstring>
#include <new>

#include "imaging/core/ISThreadState.h"

// ---------------------------------------------------------------------------------------
// Octree
// ---------------------------------------------------------------------------------------

struct ISOctreeNode {
  bool leaf = false;
  uint64_t count = 0;
  uint64_t sum[3] = {0, 0, 0};  // red, green, blue
  ISOctreeNode* child[8] = {};
  ISOctreeNode* next = nullptr;  // next node on its level's reducible list
};

ISOctreeContext::~ISOctreeContext() { OctreeFree(*this, root); }

void OctreeFree(ISOctreeContext& ctx, ISOctreeNode*& node) {
  if (!node) return;
  for (ISOctreeNode*& c : node->child) OctreeFree(ctx, c);
  delete node;
  node = nullptr;
}

namespace {

struct OctreeBuild {
  ISOctreeNode* lists[8] = {};
  DWORD leaves = 0;

  ISOctreeNode* NewNode(int level) {
    ISOctreeNode* n = new (std::nothrow) ISOctreeNode;
    if (!n) return nullptr;
    if (level == 8) {
      n->leaf = true;
      ++leaves;
    } else {
      n->next = lists[level];
      lists[level] = n;
    }
    return n;
  }

  // Merges the children of the deepest reducible node into it; false when nothing is left to
  // reduce.
  bool Reduce(ISOctreeContext& ctx) {
    int level = 7;
    while (level > 0 && !lists[level]) --level;
    ISOctreeNode* n = lists[level];
    if (!n) return false;
    lists[level] = n->next;
    n->next = nullptr;
    int children = 0;
    for (ISOctreeNode*& c : n->child) {
      if (!c) continue;
      n->count += c->count;
      for (int k = 0; k < 3; ++k) n->sum[k] += c->sum[k];
      OctreeFree(ctx, c);
      ++children;
    }
    n->leaf = true;
    leaves = leaves + 1 - children;
    return true;
  }
};

void OctreeWalk(const ISOctreeNode* n, RGBQUAD* palette, DWORD& k) {
  if (!n) return;
  if (n->leaf) {
    if (k < 256 && n->count) {
      BYTE* e = reinterpret_cast<BYTE*>(&palette[k++]);
      e[2] = static_cast<BYTE>(n->sum[0] / n->count);
      e[1] = static_cast<BYTE>(n->sum[1] / n->count);
      e[0] = static_cast<BYTE>(n->sum[2] / n->count);
    }
    return;
  }
  for (const ISOctreeNode* c : n->child) OctreeWalk(c, palette, k);
}

}  // namespace

DWORD OctreeQuantize(ISOctreeContext& ctx, const BYTE* source, DWORD width, DWORD height, DWORD rowBytes, DWORD n,
                     RGBQUAD* palette, DWORD flags) {
  ctx.error = IS_ERR_OK;
  if (!source || !palette || n == 0) {
    ctx.error = IS_ERR_BADPARAM;
    return 0;
  }
  OctreeFree(ctx, ctx.root);
  OctreeBuild b;
  ctx.root = b.NewNode(0);
  if (!ctx.root) {
    ctx.error = IS_ERR_NOMEM;
    return 0;
  }
  const DWORD step = (flags & kQuantFourBytes) ? 4 : 3;
  const int ri = (flags & kQuantPaletteOrder) ? 2 : 0;
  const int bi = 2 - ri;
  for (DWORD y = 0; y < height; ++y) {
    const BYTE* p = source + static_cast<uint64_t>(y) * rowBytes;
    for (DWORD x = 0; x < width; ++x, p += step) {
      const BYTE r = p[ri], g = p[1], bl = p[bi];
      ISOctreeNode* node = ctx.root;
      for (int level = 0; level < 8 && !node->leaf; ++level) {
        const int shift = 7 - level;
        const int i = (((r >> shift) & 1) << 2) | (((g >> shift) & 1) << 1) | ((bl >> shift) & 1);
        if (!node->child[i]) {
          node->child[i] = b.NewNode(level + 1);
          if (!node->child[i]) {
            ctx.error = IS_ERR_NOMEM;
            OctreeFree(ctx, ctx.root);
            return 0;
          }
        }
        node = node->child[i];
      }
      ++node->count;
      node->sum[0] += r;
      node->sum[1] += g;
      node->sum[2] += bl;
      while (b.leaves > n && b.Reduce(ctx)) {
      }
    }
    if (!ReportProgress(y, height)) {
      ctx.error = IS_ERR_STOPPED;
      OctreeFree(ctx, ctx.root);
      return 0;
    }
  }
  DWORD k = 0;
  OctreeWalk(ctx.root, palette, k);
  for (DWORD i = k; i < 256; ++i) {
    BYTE* e = reinterpret_cast<BYTE*>(&palette[i]);
    e[0] = e[1] = e[2] = 0;
  }
  return k;
}

// ---------------------------------------------------------------------------------------
// Colour cube
// ---------------------------------------------------------------------------------------

namespace {

constexpr uint32_t kLevelStart[6] = {0, 1, 9, 73, 585, 4681};
constexpr uint32_t kCubeNodes = 4681 + 32768;

}  // namespace

CISColorQuantizer::CISColorQuantizer() {
  std::memset(p0_, 0, sizeof p0_);
  std::memset(p1_, 0, sizeof p1_);
  std::memset(p2_, 0, sizeof p2_);
  // Cell index: from the top, bit 7 of c0, c1, c2, then bit 6 of each, down to bit 3.
  for (int k = 0; k < 3; ++k)
    for (int v = 0; v < 256; ++v) {
      uint16_t idx = 0;
      for (int b = 7; b >= 3; --b)
        if (v & (1 << b)) idx = static_cast<uint16_t>(idx | (1u << (14 - 3 * (7 - b) - k)));
      cellIndex_[k][v] = idx;
    }
}

uint64_t CISColorQuantizer::Key(const HeapEntry& e) const {
  // The root has no parent to merge into, so it never rises above an entry that has one.
  return e.level == 0 ? UINT64_MAX : levels_[e.level][e.node].subtree;
}

void CISColorQuantizer::SiftDown(uint32_t pos) {
  HeapEntry* h = heap_.Data();
  const HeapEntry item = h[pos];
  const uint64_t key = Key(item);
  for (;;) {
    uint32_t c = 2 * pos;
    if (c > heapSize_) break;
    if (c + 1 <= heapSize_ && Key(h[c + 1]) < Key(h[c])) ++c;
    if (key <= Key(h[c])) break;
    h[pos] = h[c];
    pos = c;
  }
  h[pos] = item;
}

void CISColorQuantizer::Collect(uint32_t level, uint32_t index) {
  Node& n = levels_[level][index];
  if (level < 5)
    for (int k = 7; k >= 0; --k)
      if (n.childMask & (1u << k)) Collect(level + 1, index * 8 + k);
  if (n.own && nextIndex_ < 256) {
    const uint32_t k = nextIndex_++;
    n.index = static_cast<uint8_t>(k);
    p0_[k] = static_cast<BYTE>((n.sum[0] + n.own / 2) / n.own);
    p1_[k] = static_cast<BYTE>((n.sum[1] + n.own / 2) / n.own);
    p2_[k] = static_cast<BYTE>((n.sum[2] + n.own / 2) / n.own);
  }
}

DWORD CISColorQuantizer::BuildPalette(const BYTE* source, DWORD width, DWORD height, DWORD rowBytes, DWORD n,
                                      RGBQUAD* palette, DWORD flags) {
  error_ = IS_ERR_OK;
  if (!source || !palette) {
    error_ = IS_ERR_BADPARAM;
    return 0;
  }
  if (n == 0) n = 1;
  if (n > 256) n = 256;
  std::memset(p0_, 0, sizeof p0_);
  std::memset(p1_, 0, sizeof p1_);
  std::memset(p2_, 0, sizeof p2_);
  colourCount_ = 0;
  nextIndex_ = 0;
  heapSize_ = 0;
  if (!ReportProgress(0, 4)) {
    error_ = IS_ERR_STOPPED;
    return 0;
  }
  nodes_.Resize(kCubeNodes);
  if (!nodes_.Data()) {
    error_ = IS_ERR_NOMEM;
    return 0;
  }
  std::memset(nodes_.Data(), 0, sizeof(Node) * kCubeNodes);
  for (int l = 0; l < 6; ++l) levels_[l] = nodes_.Data() + kLevelStart[l];
  if (!ReportProgress(1, 4)) {
    error_ = IS_ERR_STOPPED;
    nodes_.Free();
    return 0;
  }
  heap_.Resize(32769);
  if (!heap_.Data()) {
    error_ = IS_ERR_NOMEM;
    nodes_.Free();
    return 0;
  }

  // Count every pixel into its cell. Sums gather in 32-bit per band of rows (at most 2^24
  // pixels, so no sum can overflow) and are carried into the 64-bit node sums.
  Node* cells = levels_[5];
  struct Acc {
    uint32_t s0, s1, s2, count;
  };
  ISArray<Acc> band;
  band.Resize(32768);
  if (!band.Data()) {
    error_ = IS_ERR_NOMEM;
    nodes_.Free();
    heap_.Free();
    return 0;
  }
  std::memset(band.Data(), 0, sizeof(Acc) * 32768);
  Acc* acc = band.Data();
  const DWORD step = (flags & kQuantFourBytes) ? 4 : 3;
  const uint16_t* t0 = cellIndex_[0];
  const uint16_t* t1 = cellIndex_[1];
  const uint16_t* t2 = cellIndex_[2];
  auto flush = [&]() {
    for (uint32_t i = 0; i < 32768; ++i) {
      if (!acc[i].count) continue;
      cells[i].sum[0] += acc[i].s0;
      cells[i].sum[1] += acc[i].s1;
      cells[i].sum[2] += acc[i].s2;
      cells[i].own += acc[i].count;
      acc[i] = Acc{0, 0, 0, 0};
    }
  };
  const uint64_t bandLimit = 1u << 24;
  uint64_t inBand = 0;
  for (DWORD y = 0; y < height; ++y) {
    if (inBand + width > bandLimit) {
      flush();
      inBand = 0;
    }
    const BYTE* p = source + static_cast<uint64_t>(y) * rowBytes;
    for (DWORD x = 0; x < width; ++x, p += step) {
      Acc& a = acc[t0[p[0]] + t1[p[1]] + t2[p[2]]];
      a.s0 += p[0];
      a.s1 += p[1];
      a.s2 += p[2];
      ++a.count;
    }
    inBand += width;
  }
  flush();
  band.Free();

  // One heap entry per cell with pixels; every ancestor learns its subtree count.
  for (uint32_t cell = 0; cell < 32768; ++cell) {
    Node& c = cells[cell];
    if (!c.own) continue;
    ++colourCount_;
    heap_[++heapSize_] = HeapEntry{5, static_cast<uint16_t>(cell)};
    c.subtree = c.own;
    uint32_t child = cell;
    for (int l = 4; l >= 0; --l) {
      Node& a = levels_[l][child >> 3];
      a.subtree += c.own;
      a.childMask = static_cast<uint8_t>(a.childMask | (1u << (child & 7)));
      child >>= 3;
    }
  }
  for (uint32_t pos = heapSize_; pos >= 1; --pos) SiftDown(pos);
  if (!ReportProgress(2, 4)) {
    error_ = IS_ERR_STOPPED;
    nodes_.Free();
    heap_.Free();
    return 0;
  }

  // Merge the least populated node into its parent until n colours are left.
  while (colourCount_ > n && heapSize_ > 0) {
    HeapEntry& top = heap_[1];
    if (top.level == 0) break;  // only the root is left above the limit
    Node& node = levels_[top.level][top.node];
    const uint32_t parentLevel = top.level - 1u;
    const uint32_t parentIndex = top.node >> 3;
    Node& parent = levels_[parentLevel][parentIndex];
    const uint32_t childBit = top.node & 7u;
    const bool parentHasPixels = parent.own != 0;
    for (int k = 0; k < 3; ++k) {
      parent.sum[k] += node.sum[k];
      node.sum[k] = 0;
    }
    parent.own += node.own;
    node.own = 0;
    parent.childMask = static_cast<uint8_t>(parent.childMask & ~(1u << childBit));
    if (parentHasPixels) {
      heap_[1] = heap_[heapSize_--];
      --colourCount_;
    } else {
      top = HeapEntry{static_cast<uint8_t>(parentLevel), static_cast<uint16_t>(parentIndex)};
    }
    if (heapSize_ >= 1) SiftDown(1);
  }

  Collect(0, 0);
  const bool stopped = !ReportProgress(3, 4);
  nodes_.Free();
  heap_.Free();
  for (int l = 0; l < 6; ++l) levels_[l] = nullptr;
  if (stopped) {
    error_ = IS_ERR_STOPPED;
    return 0;
  }
  const bool keep = (flags & kQuantPaletteOrder) != 0;
  for (int i = 0; i < 256; ++i) {
    BYTE* e = reinterpret_cast<BYTE*>(&palette[i]);
    e[0] = keep ? p0_[i] : p2_[i];
    e[1] = p1_[i];
    e[2] = keep ? p2_[i] : p0_[i];
  }
  return nextIndex_;
}

bool CISColorQuantizer::MapImage(const BYTE* source, BYTE* destination, DWORD width, DWORD height,
                                 DWORD sourceRowBytes, DWORD destinationRowBytes, DWORD colourCount,
                                 const RGBQUAD* palette, DWORD flags) {
  error_ = IS_ERR_OK;
  if (!source || !destination || !palette) {
    error_ = IS_ERR_BADPARAM;
    return false;
  }
  if (colourCount > 256) colourCount = 256;
  // Columns A, B, C pair with c0, c1, c2.
  int A[256], B[256], C[256];
  const bool keep = (flags & kQuantPaletteOrder) != 0;
  for (DWORD i = 0; i < colourCount; ++i) {
    const BYTE* e = reinterpret_cast<const BYTE*>(&palette[i]);
    A[i] = keep ? e[0] : e[2];
    B[i] = e[1];
    C[i] = keep ? e[2] : e[0];
  }
  if (colourCount == 0) A[0] = B[0] = C[0] = 0;
  if (width == 0 || height == 0) return true;

  const uint64_t rowValues = 3ull * width + 6;
  if (rowValues > 0x7FFFFFFFu) {
    error_ = IS_ERR_NOMEM;
    return false;
  }
  ISArray<int16_t> cache, errA, errB;
  cache.Resize(32768);
  errA.Resize(static_cast<uint32_t>(rowValues));
  errB.Resize(static_cast<uint32_t>(rowValues));
  if (!cache.Data() || !errA.Data() || !errB.Data()) {
    error_ = IS_ERR_NOMEM;
    return false;
  }
  for (uint32_t i = 0; i < 32768; ++i) cache[i] = -1;
  std::memset(errA.Data(), 0, rowValues * sizeof(int16_t));
  std::memset(errB.Data(), 0, rowValues * sizeof(int16_t));
  // Clamp tables: samples -256..511 to 0..255, errors -256..255 to -limit..+limit.
  BYTE sampleClamp[768];
  int errClamp[512];
  for (int v = -256; v < 512; ++v) sampleClamp[v + 256] = static_cast<BYTE>(v < 0 ? 0 : (v > 255 ? 255 : v));
  const int limit = ditherLimit_;
  for (int v = -256; v < 256; ++v) errClamp[v + 256] = v < -limit ? -limit : (v > limit ? limit : v);

  const bool fs = diffusionMode_ != 0;
  const DWORD step = (flags & kQuantFourBytes) ? 4 : 3;
  int16_t* cur = errA.Data() + 3;  // pixel x's errors at cur[3x..3x+2]; one pixel of margin each side
  int16_t* next = errB.Data() + 3;
  for (DWORD y = 0; y < height; ++y) {
    const BYTE* srow = source + static_cast<uint64_t>(y) * sourceRowBytes;
    BYTE* drow = destination + static_cast<uint64_t>(y) * destinationRowBytes;
    const bool forward = (y & 1) == 0;
    const int dir = forward ? 1 : -1;
    int64_t x = forward ? 0 : static_cast<int64_t>(width) - 1;
    for (DWORD i = 0; i < width; ++i, x += dir) {
      const BYTE* p = srow + x * step;
      int16_t* e = cur + 3 * x;
      int c[3];
      for (int k = 0; k < 3; ++k) {
        const int corr = fs ? ((e[k] + 8) >> 4) : (e[k] >> 1);
        c[k] = sampleClamp[p[k] + corr + 256];
      }
      const int key = ((c[0] >> 3) << 10) | ((c[1] >> 3) << 5) | (c[2] >> 3);
      int16_t index = cache[key];
      if (index < 0) {
        uint32_t best = 0xFD0300;
        int bestIndex = 0;
        for (DWORD j = 0; j < colourCount; ++j) {
          const int da = A[j] - c[0], db = B[j] - c[1], dc = C[j] - c[2];
          const uint32_t d = static_cast<uint32_t>(da * da + db * db + dc * dc);
          if (d < best) {
            best = d;
            bestIndex = static_cast<int>(j);
          }
        }
        index = static_cast<int16_t>(bestIndex);
        cache[key] = index;
      }
      drow[x] = static_cast<BYTE>(index);
      const int err[3] = {errClamp[c[0] - A[index] + 256], errClamp[c[1] - B[index] + 256],
                          errClamp[c[2] - C[index] + 256]};
      int16_t* ahead = e + 3 * dir;
      int16_t* below = next + 3 * x;
      for (int k = 0; k < 3; ++k) {
        if (fs) {
          ahead[k] = static_cast<int16_t>(ahead[k] + 7 * err[k]);
          below[k - 3 * dir] = static_cast<int16_t>(below[k - 3 * dir] + 3 * err[k]);
          below[k] = static_cast<int16_t>(below[k] + 5 * err[k]);
          below[k + 3 * dir] = static_cast<int16_t>(below[k + 3 * dir] + err[k]);
        } else {
          ahead[k] = static_cast<int16_t>(ahead[k] + err[k]);
          below[k] = static_cast<int16_t>(below[k] + err[k]);
        }
      }
    }
    // The row below becomes the current one; the old current row is cleared for reuse.
    std::memset(cur - 3, 0, rowValues * sizeof(int16_t));
    int16_t* t = cur;
    cur = next;
    next = t;
    if (!ReportProgress(y, height, false)) {
      error_ = IS_ERR_STOPPED;
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------------------

bool BuildPalette(ISErrorCode& error, const BYTE* source, DWORD width, DWORD height, DWORD rowBytes, DWORD n,
                  RGBQUAD* palette, DWORD* colourCount, DWORD flags) {
  error = IS_ERR_OK;
  DWORD count = 0;
  if (!palette) {
    error = IS_ERR_BADPARAM;
  } else if (flags & kQuantOctree) {
    ISOctreeContext ctx;
    count = OctreeQuantize(ctx, source, width, height, rowBytes, n, palette, flags);
    OctreeFree(ctx, ctx.root);
    error = ctx.error;
  } else {
    CISColorQuantizer q;
    count = q.BuildPalette(source, width, height, rowBytes, n, palette, flags);
    error = q.Error();
  }
  if (colourCount) *colourCount = count;
  return error == IS_ERR_OK;
}

bool MapToPalette(ISErrorCode& error, const BYTE* source, BYTE* destination, DWORD width, DWORD height,
                  DWORD sourceRowBytes, DWORD destinationRowBytes, DWORD colourCount, RGBQUAD* palette,
                  DWORD diffusionMode, BYTE ditherLimit, DWORD flags) {
  CISColorQuantizer q;
  q.SetDitherLimit(ditherLimit);
  q.SetDiffusionMode(diffusionMode);
  const bool ok = q.MapImage(source, destination, width, height, sourceRowBytes, destinationRowBytes, colourCount,
                             palette, flags);
  error = q.Error();
  return ok;
}

bool ReduceColours(ISErrorCode& error, const BYTE* source, BYTE* destination, DWORD width, DWORD height,
                   DWORD sourceRowBytes, DWORD destinationRowBytes, DWORD colourCount, RGBQUAD* palette,
                   DWORD diffusionMode, BYTE ditherLimit, DWORD flags) {
  error = IS_ERR_OK;
  if (!source || !destination || !palette) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  DWORD used = 0;
  bool ok;
  {
    // The palette build is a step of this operation: only the mapping reports progress.
    ISCallDepthGuard nested(GetThreadState());
    ok = BuildPalette(error, source, width, height, sourceRowBytes, colourCount, palette, &used, flags);
  }
  if (!ok) return false;
  return MapToPalette(error, source, destination, width, height, sourceRowBytes, destinationRowBytes, used, palette,
                      diffusionMode, ditherLimit, flags);
}
