// The block workers of the lossless transform: each moves whole 8 x 8 coefficient blocks from
// the source's arrays into the arrays being written, negating or transposing inside a block.
#include <cstring>

#include "imaging/core/ISThreadState.h"
#include "imaging/formats/jpeg/JPGTransform.h"

namespace {

// Coefficient k of a block is (row v = k / 8, column u = k % 8) in frequency.
inline void CopyBlock(JCOEFPTR dst, const JCOEF* src) { std::memcpy(dst, src, sizeof(JBLOCK)); }

inline JCOEF Neg(JCOEF c) { return static_cast<JCOEF>(-c); }

// Horizontal mirror inside a block: odd u negated.
inline void MirrorU(JCOEFPTR dst, const JCOEF* src) {
  for (int k = 0; k < DCTSIZE2; k += 2) {
    dst[k] = src[k];
    dst[k + 1] = Neg(src[k + 1]);
  }
}

// Vertical mirror inside a block: odd v negated.
inline void MirrorV(JCOEFPTR dst, const JCOEF* src) {
  for (int i = 0; i < DCTSIZE; i += 2) {
    for (int j = 0; j < DCTSIZE; ++j) {
      dst[i * DCTSIZE + j] = src[i * DCTSIZE + j];
      dst[(i + 1) * DCTSIZE + j] = Neg(src[(i + 1) * DCTSIZE + j]);
    }
  }
}

// Both mirrors: negated where exactly one of u, v is odd.
inline void MirrorUV(JCOEFPTR dst, const JCOEF* src) {
  for (int i = 0; i < DCTSIZE; ++i)
    for (int j = 0; j < DCTSIZE; ++j)
      dst[i * DCTSIZE + j] = ((i ^ j) & 1) ? Neg(src[i * DCTSIZE + j]) : src[i * DCTSIZE + j];
}

// Transposed: (u, v) -> (v, u); negated where (source row) & rowMask or (source column) &
// colMask is odd, exactly one of them counting when both masks are set.
template <int RowMask, int ColMask>
inline void TransposeBlock(JCOEFPTR dst, const JCOEF* src) {
  for (int i = 0; i < DCTSIZE; ++i) {
    for (int j = 0; j < DCTSIZE; ++j) {
      const JCOEF c = src[i * DCTSIZE + j];
      const int odd = ((i & RowMask) ^ (j & ColMask)) & 1;
      dst[j * DCTSIZE + i] = odd ? Neg(c) : c;
    }
  }
}
inline void TransposePlain(JCOEFPTR d, const JCOEF* s) { TransposeBlock<0, 0>(d, s); }
inline void TransposeRot90(JCOEFPTR d, const JCOEF* s) { TransposeBlock<1, 0>(d, s); }
inline void TransposeRot270(JCOEFPTR d, const JCOEF* s) { TransposeBlock<0, 1>(d, s); }
inline void TransposeBoth(JCOEFPTR d, const JCOEF* s) { TransposeBlock<1, 1>(d, s); }

inline JBLOCKARRAY Access(j_decompress_ptr srcinfo, jvirt_barray_ptr array, JDIMENSION startRow, JDIMENSION rows,
                          bool writable) {
  return (*srcinfo->mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(srcinfo), array, startRow, rows,
                                             writable ? TRUE : FALSE);
}

// Progress after a row of iMCUs of component ci; false asks the worker to stop.
inline bool Progress(int ci, int components, JDIMENSION compHeight, JDIMENSION blockRow) {
  const uint64_t done = uint64_t{static_cast<uint32_t>(ci)} * compHeight + blockRow;
  const uint64_t total = uint64_t{static_cast<uint32_t>(components)} * compHeight;
  // As in every JPEG operation, only a reply of 0 stops.
  return ReportProgress(static_cast<DWORD>(done), static_cast<DWORD>(total), false);
}

// Geometry of one output component for a worker.
struct CompGeometry {
  JDIMENSION h, v;               // output sampling factors
  JDIMENSION widthInBlocks;      // output
  JDIMENSION heightInBlocks;
  JDIMENSION xCropBlocks, yCropBlocks;
};

CompGeometry Geometry(j_compress_ptr dstinfo, const JPGTransformInfo* info, int ci) {
  const jpeg_component_info* c = dstinfo->comp_info + ci;
  CompGeometry g;
  g.h = static_cast<JDIMENSION>(c->h_samp_factor);
  g.v = static_cast<JDIMENSION>(c->v_samp_factor);
  g.widthInBlocks = c->width_in_blocks;
  g.heightInBlocks = c->height_in_blocks;
  g.xCropBlocks = info->xCropOffset * g.h;
  g.yCropBlocks = info->yCropOffset * g.v;
  return g;
}

// Whole iMCUs of a source side measured in output iMCU units.
inline JDIMENSION FullIMCUs(JDIMENSION sourceSide, int outputMaxSamp) {
  return sourceSide / (static_cast<JDIMENSION>(outputMaxSamp) * DCTSIZE);
}

// The walk every worker makes: each output component, one row of iMCUs at a time. For each row,
// rowOfIMCUs(ci, g, by, out) fills `out`, block rows [by, by + g.v) of target[ci] opened for
// writing; progress follows each row. False when asked to stop.
template <typename RowOfIMCUs>
bool ForEachIMCURow(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                    jvirt_barray_ptr* target, RowOfIMCUs&& rowOfIMCUs) {
  for (int ci = 0; ci < dstinfo->num_components; ++ci) {
    const CompGeometry g = Geometry(dstinfo, info, ci);
    for (JDIMENSION by = 0; by < g.heightInBlocks; by += g.v) {
      rowOfIMCUs(ci, g, by, Access(srcinfo, target[ci], by, g.v, true));
      if (!Progress(ci, dstinfo->num_components, g.heightInBlocks, by)) return false;
    }
  }
  return true;
}

// The `count` source block rows feeding output position `pos` along one side (block columns
// for the transposing workers): while mirrored, counted back from the end of the whole-iMCU
// span `fullSpan`; else in place, past the crop offset.
inline JBLOCKARRAY SourceBlocks(j_decompress_ptr srcinfo, jvirt_barray_ptr array, bool mirrored, JDIMENSION fullSpan,
                                JDIMENSION crop, JDIMENSION pos, JDIMENSION count) {
  return Access(srcinfo, array, mirrored ? fullSpan - crop - pos - count : pos + crop, count, false);
}

// One output block row copied whole from the source row, past the crop offset.
inline void CopyCroppedRow(JBLOCKROW out, JBLOCKROW in, const CompGeometry& g) {
  std::memcpy(out, in + g.xCropBlocks, size_t{g.widthInBlocks} * sizeof(JBLOCK));
}

}  // namespace

bool JPGTransformCrop(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                      jvirt_barray_ptr* src, jvirt_barray_ptr* dst) {
  const auto fillRow = [&](int ci, const CompGeometry& g, JDIMENSION by, JBLOCKARRAY out) {
    JBLOCKARRAY in = Access(srcinfo, src[ci], by + g.yCropBlocks, g.v, false);
    for (JDIMENSION oy = 0; oy < g.v; ++oy) CopyCroppedRow(out[oy], in[oy], g);
  };
  return ForEachIMCURow(srcinfo, dstinfo, info, dst, fillRow);
}

bool JPGTransformFlipHInPlace(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                              jvirt_barray_ptr* src) {
  const JDIMENSION mcuCols = FullIMCUs(srcinfo->image_width, dstinfo->max_h_samp_factor);
  // The source arrays are the output: each row is mirrored where it stands.
  const auto fillRow = [&](int, const CompGeometry& g, JDIMENSION, JBLOCKARRAY rows) {
    const JDIMENSION compWidth = mcuCols * g.h;
    for (JDIMENSION oy = 0; oy < g.v; ++oy) {
      JBLOCKROW row = rows[oy];
      for (JDIMENSION bx = 0; bx * 2 < compWidth; ++bx) {
        JBLOCK a, b;
        CopyBlock(a, row[bx]);
        CopyBlock(b, row[compWidth - bx - 1]);
        MirrorU(row[bx], b);
        MirrorU(row[compWidth - bx - 1], a);
      }
      // The kept region moves to the left edge; blocks one by one, as they may overlap.
      if (g.xCropBlocks > 0)
        for (JDIMENSION bx = 0; bx < g.widthInBlocks; ++bx) CopyBlock(row[bx], row[bx + g.xCropBlocks]);
    }
  };
  return ForEachIMCURow(srcinfo, dstinfo, info, src, fillRow);
}

bool JPGTransformFlipH(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                       jvirt_barray_ptr* src, jvirt_barray_ptr* dst) {
  const JDIMENSION mcuCols = FullIMCUs(srcinfo->image_width, dstinfo->max_h_samp_factor);
  const auto fillRow = [&](int ci, const CompGeometry& g, JDIMENSION by, JBLOCKARRAY out) {
    const JDIMENSION compWidth = mcuCols * g.h;
    JBLOCKARRAY in = Access(srcinfo, src[ci], by + g.yCropBlocks, g.v, false);
    for (JDIMENSION oy = 0; oy < g.v; ++oy) {
      for (JDIMENSION bx = 0; bx < g.widthInBlocks; ++bx) {
        const JDIMENSION sx = g.xCropBlocks + bx;
        if (sx < compWidth)
          MirrorU(out[oy][bx], in[oy][compWidth - sx - 1]);
        else
          CopyBlock(out[oy][bx], in[oy][sx]);
      }
    }
  };
  return ForEachIMCURow(srcinfo, dstinfo, info, dst, fillRow);
}

bool JPGTransformFlipV(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                       jvirt_barray_ptr* src, jvirt_barray_ptr* dst) {
  const JDIMENSION mcuRows = FullIMCUs(srcinfo->image_height, dstinfo->max_v_samp_factor);
  const auto fillRow = [&](int ci, const CompGeometry& g, JDIMENSION by, JBLOCKARRAY out) {
    const JDIMENSION compHeight = mcuRows * g.v;
    const bool mirrored = g.yCropBlocks + by < compHeight;
    JBLOCKARRAY in = SourceBlocks(srcinfo, src[ci], mirrored, compHeight, g.yCropBlocks, by, g.v);
    for (JDIMENSION oy = 0; oy < g.v; ++oy) {
      if (mirrored) {
        JBLOCKROW s = in[g.v - oy - 1] + g.xCropBlocks;
        for (JDIMENSION bx = 0; bx < g.widthInBlocks; ++bx) MirrorV(out[oy][bx], s[bx]);
      } else {
        CopyCroppedRow(out[oy], in[oy], g);
      }
    }
  };
  return ForEachIMCURow(srcinfo, dstinfo, info, dst, fillRow);
}

bool JPGTransformTranspose(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                           jvirt_barray_ptr* src, jvirt_barray_ptr* dst) {
  const auto fillRow = [&](int ci, const CompGeometry& g, JDIMENSION by, JBLOCKARRAY out) {
    for (JDIMENSION oy = 0; oy < g.v; ++oy) {
      const JDIMENSION sx = by + oy + g.yCropBlocks;  // source block column
      for (JDIMENSION bx = 0; bx < g.widthInBlocks; bx += g.h) {
        JBLOCKARRAY in = Access(srcinfo, src[ci], bx + g.xCropBlocks, g.h, false);
        for (JDIMENSION ox = 0; ox < g.h; ++ox) TransposePlain(out[oy][bx + ox], in[ox][sx]);
      }
    }
  };
  return ForEachIMCURow(srcinfo, dstinfo, info, dst, fillRow);
}

bool JPGTransformRot90(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                       jvirt_barray_ptr* src, jvirt_barray_ptr* dst) {
  const JDIMENSION mcuCols = FullIMCUs(srcinfo->image_height, dstinfo->max_h_samp_factor);
  const auto fillRow = [&](int ci, const CompGeometry& g, JDIMENSION by, JBLOCKARRAY out) {
    const JDIMENSION compWidth = mcuCols * g.h;
    for (JDIMENSION oy = 0; oy < g.v; ++oy) {
      const JDIMENSION sx = by + oy + g.yCropBlocks;
      for (JDIMENSION bx = 0; bx < g.widthInBlocks; bx += g.h) {
        const bool mirrored = g.xCropBlocks + bx < compWidth;
        JBLOCKARRAY in = SourceBlocks(srcinfo, src[ci], mirrored, compWidth, g.xCropBlocks, bx, g.h);
        if (mirrored)
          for (JDIMENSION ox = 0; ox < g.h; ++ox) TransposeRot90(out[oy][bx + ox], in[g.h - ox - 1][sx]);
        else
          for (JDIMENSION ox = 0; ox < g.h; ++ox) TransposePlain(out[oy][bx + ox], in[ox][sx]);
      }
    }
  };
  return ForEachIMCURow(srcinfo, dstinfo, info, dst, fillRow);
}

bool JPGTransformRot270(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                        jvirt_barray_ptr* src, jvirt_barray_ptr* dst) {
  const JDIMENSION mcuRows = FullIMCUs(srcinfo->image_width, dstinfo->max_v_samp_factor);
  const auto fillRow = [&](int ci, const CompGeometry& g, JDIMENSION by, JBLOCKARRAY out) {
    const JDIMENSION compHeight = mcuRows * g.v;
    const bool mirrored = g.yCropBlocks + by < compHeight;
    for (JDIMENSION oy = 0; oy < g.v; ++oy) {
      for (JDIMENSION bx = 0; bx < g.widthInBlocks; bx += g.h) {
        JBLOCKARRAY in = Access(srcinfo, src[ci], bx + g.xCropBlocks, g.h, false);
        for (JDIMENSION ox = 0; ox < g.h; ++ox) {
          if (mirrored)
            TransposeRot270(out[oy][bx + ox], in[ox][compHeight - g.yCropBlocks - by - oy - 1]);
          else
            TransposePlain(out[oy][bx + ox], in[ox][by + oy + g.yCropBlocks]);
        }
      }
    }
  };
  return ForEachIMCURow(srcinfo, dstinfo, info, dst, fillRow);
}

bool JPGTransformRot180(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                        jvirt_barray_ptr* src, jvirt_barray_ptr* dst) {
  const JDIMENSION mcuCols = FullIMCUs(srcinfo->image_width, dstinfo->max_h_samp_factor);
  const JDIMENSION mcuRows = FullIMCUs(srcinfo->image_height, dstinfo->max_v_samp_factor);
  const auto fillRow = [&](int ci, const CompGeometry& g, JDIMENSION by, JBLOCKARRAY out) {
    const JDIMENSION compWidth = mcuCols * g.h;
    const JDIMENSION compHeight = mcuRows * g.v;
    const bool mirroredV = g.yCropBlocks + by < compHeight;
    JBLOCKARRAY in = SourceBlocks(srcinfo, src[ci], mirroredV, compHeight, g.yCropBlocks, by, g.v);
    for (JDIMENSION oy = 0; oy < g.v; ++oy) {
      JBLOCKROW s = mirroredV ? in[g.v - oy - 1] : in[oy];
      for (JDIMENSION bx = 0; bx < g.widthInBlocks; ++bx) {
        const JDIMENSION sx = g.xCropBlocks + bx;
        if (sx < compWidth) {
          if (mirroredV)
            MirrorUV(out[oy][bx], s[compWidth - sx - 1]);
          else
            MirrorU(out[oy][bx], s[compWidth - sx - 1]);
        } else if (mirroredV) {
          MirrorV(out[oy][bx], s[sx]);
        } else {
          CopyBlock(out[oy][bx], s[sx]);
        }
      }
    }
  };
  return ForEachIMCURow(srcinfo, dstinfo, info, dst, fillRow);
}

bool JPGTransformTransverse(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, const JPGTransformInfo* info,
                            jvirt_barray_ptr* src, jvirt_barray_ptr* dst) {
  const JDIMENSION mcuCols = FullIMCUs(srcinfo->image_height, dstinfo->max_h_samp_factor);
  const JDIMENSION mcuRows = FullIMCUs(srcinfo->image_width, dstinfo->max_v_samp_factor);
  const auto fillRow = [&](int ci, const CompGeometry& g, JDIMENSION by, JBLOCKARRAY out) {
    const JDIMENSION compWidth = mcuCols * g.h;
    const JDIMENSION compHeight = mcuRows * g.v;
    const bool fullY = g.yCropBlocks + by < compHeight;
    for (JDIMENSION oy = 0; oy < g.v; ++oy) {
      // Source block column: mirrored inside the full-iMCU height, else in place.
      const JDIMENSION sx = fullY ? compHeight - g.yCropBlocks - by - oy - 1 : by + oy + g.yCropBlocks;
      for (JDIMENSION bx = 0; bx < g.widthInBlocks; bx += g.h) {
        const bool fullX = g.xCropBlocks + bx < compWidth;
        JBLOCKARRAY in = SourceBlocks(srcinfo, src[ci], fullX, compWidth, g.xCropBlocks, bx, g.h);
        for (JDIMENSION ox = 0; ox < g.h; ++ox) {
          JCOEFPTR d = out[oy][bx + ox];
          if (fullX) {
            const JCOEF* s = in[g.h - ox - 1][sx];
            if (fullY)
              TransposeBoth(d, s);
            else
              TransposeRot90(d, s);  // bottom edge: mirrored horizontally only
          } else {
            const JCOEF* s = in[ox][sx];
            if (fullY)
              TransposeRot270(d, s);  // right edge: mirrored vertically only
            else
              TransposePlain(d, s);  // corner
          }
        }
      }
    }
  };
  return ForEachIMCURow(srcinfo, dstinfo, info, dst, fillRow);
}
