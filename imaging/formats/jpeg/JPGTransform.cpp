// The lossless transform engine: geometry, trimming and cropping of the request, destination
// set-up, the EXIF dimension update, marker copying and the choice of block worker.
#include "imaging/formats/jpeg/JPGTransform.h"

#include <cstring>

namespace {

inline j_common_ptr Common(j_decompress_ptr cinfo) { return reinterpret_cast<j_common_ptr>(cinfo); }

[[noreturn]] void BadCrop(j_decompress_ptr srcinfo) {
  ERREXIT(srcinfo, JERR_BAD_CROP_SPEC);
  throw RovIrirev::ISException("Invalid crop request");  // never reached: the exit throws
}

inline uint32_t DivRoundUp(uint32_t a, uint32_t b) { return static_cast<uint32_t>((uint64_t{a} + b - 1) / b); }

// One side of the crop: validates the offset and size against the output side `side` and
// returns the region's start offset in pixels; *size receives the crop size.
uint32_t ResolveCropSide(j_decompress_ptr srcinfo, uint32_t side, uint32_t offset, int32_t offsetMode, uint32_t size,
                         int32_t sizeMode, uint32_t* cropSize) {
  uint64_t off = offsetMode == kJCropUnset ? 0 : offset;
  if (off >= side) BadCrop(srcinfo);
  uint64_t n = sizeMode == kJCropUnset ? side - off : size;
  if (n == 0 || n > side || off + n > side) BadCrop(srcinfo);
  if (offsetMode == kJCropNegative) off = side - n - off;
  *cropSize = static_cast<uint32_t>(n);
  return static_cast<uint32_t>(off);
}

uint16_t Get16(const JOCTET* p, bool motorola) {
  return motorola ? static_cast<uint16_t>((p[0] << 8) | p[1]) : static_cast<uint16_t>((p[1] << 8) | p[0]);
}
uint32_t Get32(const JOCTET* p, bool motorola) {
  return motorola ? (uint32_t{Get16(p, true)} << 16) | Get16(p + 2, true)
                  : (uint32_t{Get16(p + 2, false)} << 16) | Get16(p, false);
}
void Put16(JOCTET* p, uint16_t v, bool motorola) {
  p[motorola ? 0 : 1] = static_cast<JOCTET>(v >> 8);
  p[motorola ? 1 : 0] = static_cast<JOCTET>(v);
}
void Put32(JOCTET* p, uint32_t v, bool motorola) {
  Put16(p + (motorola ? 0 : 2), static_cast<uint16_t>(v >> 16), motorola);
  Put16(p + (motorola ? 2 : 0), static_cast<uint16_t>(v), motorola);
}

bool IsExifMarker(const jpeg_saved_marker_ptr m) {
  return m && m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && m->data &&
         std::memcmp(m->data, "Exif\0\0", 6) == 0;
}

}  // namespace

int32_t JPGTransformCodeFromOperation(uint32_t operation) {
  switch (operation) {
    case kJPGOpFlipH: return kJXformFlipH;
    case kJPGOpFlipV: return kJXformFlipV;
    case kJPGOpTransverse: return kJXformTransverse;
    case kJPGOpTranspose: return kJXformTranspose;
    case kJPGOpRot90: return kJXformRot90;
    case kJPGOpRot180: return kJXformRot180;
    case kJPGOpRot270: return kJXformRot270;
    default: return kJXformNone;
  }
}

bool JPGTransformTransposes(int32_t transform) {
  return transform == kJXformTranspose || transform == kJXformTransverse || transform == kJXformRot90 ||
         transform == kJXformRot270;
}

void TrimRightEdge(JPGTransformInfo* info, uint32_t fullWidth) {
  const uint32_t imcu = info->IMCUWidth();
  const uint32_t mcuCols = info->outputWidth / imcu;
  if (mcuCols > 0 && uint64_t{info->xCropOffset} + mcuCols == fullWidth / imcu) info->outputWidth = mcuCols * imcu;
}

void TrimBottomEdge(JPGTransformInfo* info, uint32_t fullHeight) {
  const uint32_t imcu = info->IMCUHeight();
  const uint32_t mcuRows = info->outputHeight / imcu;
  if (mcuRows > 0 && uint64_t{info->yCropOffset} + mcuRows == fullHeight / imcu) info->outputHeight = mcuRows * imcu;
}

void RequestTransformWorkspace(j_decompress_ptr srcinfo, JPGTransformInfo* info) {
  // Output components.
  if (info->forceGrey && srcinfo->jpeg_color_space == JCS_YCbCr && srcinfo->num_components == 3)
    info->numComponents = 1;
  else
    info->numComponents = srcinfo->num_components;

  // Output geometry before cropping.
  const bool transposes = JPGTransformTransposes(info->transform);
  if (transposes) {
    info->outputWidth = srcinfo->image_height;
    info->outputHeight = srcinfo->image_width;
    info->maxHSamp = srcinfo->max_v_samp_factor;
    info->maxVSamp = srcinfo->max_h_samp_factor;
  } else {
    info->outputWidth = srcinfo->image_width;
    info->outputHeight = srcinfo->image_height;
    info->maxHSamp = srcinfo->max_h_samp_factor;
    info->maxVSamp = srcinfo->max_v_samp_factor;
  }
  if (info->numComponents == 1) info->maxHSamp = info->maxVSamp = 1;

  // The crop region, widened to start on an iMCU boundary.
  info->xCropOffset = info->yCropOffset = 0;
  if (info->crop) {
    uint32_t cropW = 0, cropH = 0;
    const uint32_t x = ResolveCropSide(srcinfo, info->outputWidth, info->cropXOffset, info->cropXOffsetSet,
                                       info->cropWidth, info->cropWidthSet, &cropW);
    const uint32_t y = ResolveCropSide(srcinfo, info->outputHeight, info->cropYOffset, info->cropYOffsetSet,
                                       info->cropHeight, info->cropHeightSet, &cropH);
    info->xCropOffset = x / info->IMCUWidth();
    info->yCropOffset = y / info->IMCUHeight();
    info->outputWidth = cropW + x % info->IMCUWidth();
    info->outputHeight = cropH + y % info->IMCUHeight();
  }

  // Trimming of the partial edge iMCUs that cannot be moved, and whether a workspace is needed.
  const bool trim = info->trim != 0;
  bool workspace = true;
  switch (info->transform) {
    case kJXformNone:
      workspace = info->xCropOffset != 0 || info->yCropOffset != 0;
      break;
    case kJXformFlipH:
      if (trim) TrimRightEdge(info, srcinfo->image_width);
      workspace = info->yCropOffset != 0;
      break;
    case kJXformFlipV:
      if (trim) TrimBottomEdge(info, srcinfo->image_height);
      break;
    case kJXformTranspose:
      break;
    case kJXformTransverse:
      if (trim) {
        TrimRightEdge(info, srcinfo->image_height);
        TrimBottomEdge(info, srcinfo->image_width);
      }
      break;
    case kJXformRot90:
      if (trim) TrimRightEdge(info, srcinfo->image_height);
      break;
    case kJXformRot180:
      if (trim) {
        TrimRightEdge(info, srcinfo->image_width);
        TrimBottomEdge(info, srcinfo->image_height);
      }
      break;
    case kJXformRot270:
      if (trim) TrimBottomEdge(info, srcinfo->image_width);
      break;
    default:
      workspace = false;
      break;
  }

  info->workspace = nullptr;
  if (!workspace) return;
  auto* arrays = static_cast<jvirt_barray_ptr*>((*srcinfo->mem->alloc_small)(
      Common(srcinfo), JPOOL_IMAGE, sizeof(jvirt_barray_ptr) * static_cast<size_t>(info->numComponents)));
  const uint32_t widthIMCUs = DivRoundUp(info->outputWidth, info->IMCUWidth());
  const uint32_t heightIMCUs = DivRoundUp(info->outputHeight, info->IMCUHeight());
  for (int ci = 0; ci < info->numComponents; ++ci) {
    const jpeg_component_info* c = srcinfo->comp_info + ci;
    int h = c->h_samp_factor, v = c->v_samp_factor;
    if (info->numComponents == 1)
      h = v = 1;
    else if (transposes)
      h = c->v_samp_factor, v = c->h_samp_factor;
    // Zero-filled, so no block the compressor reads is ever undefined.
    arrays[ci] = (*srcinfo->mem->request_virt_barray)(Common(srcinfo), JPOOL_IMAGE, TRUE,
                                                       static_cast<JDIMENSION>(widthIMCUs) * h,
                                                       static_cast<JDIMENSION>(heightIMCUs) * v,
                                                       static_cast<JDIMENSION>(v));
  }
  info->workspace = arrays;
}

void TransposeCriticalParameters(j_compress_ptr dstinfo) {
  for (int ci = 0; ci < dstinfo->num_components; ++ci) {
    jpeg_component_info* c = dstinfo->comp_info + ci;
    const int t = c->h_samp_factor;
    c->h_samp_factor = c->v_samp_factor;
    c->v_samp_factor = t;
  }
  for (int tbl = 0; tbl < NUM_QUANT_TBLS; ++tbl) {
    JQUANT_TBL* q = dstinfo->quant_tbl_ptrs[tbl];
    if (!q) continue;
    for (int i = 0; i < DCTSIZE; ++i) {
      for (int j = 0; j < i; ++j) {
        const UINT16 t = q->quantval[i * DCTSIZE + j];
        q->quantval[i * DCTSIZE + j] = q->quantval[j * DCTSIZE + i];
        q->quantval[j * DCTSIZE + i] = t;
      }
    }
  }
}

void AdjustExifDimensions(JOCTET* data, uint32_t length, uint32_t newWidth, uint32_t newHeight) {
  if (!data || length < 12) return;
  bool motorola;
  if (data[0] == 'I' && data[1] == 'I')
    motorola = false;
  else if (data[0] == 'M' && data[1] == 'M')
    motorola = true;
  else
    return;
  if (Get16(data + 2, motorola) != 42) return;

  // IFD0: find the Exif sub-IFD pointer.
  uint32_t offset = Get32(data + 4, motorola);
  if (offset > 0xFFFF || offset > length - 2) return;
  uint32_t entries = Get16(data + offset, motorola);
  if (entries == 0) return;
  offset += 2;
  for (;;) {
    if (offset > length - 12) return;
    if (Get16(data + offset, motorola) == 0x8769) break;
    if (--entries == 0) return;
    offset += 12;
  }
  offset = Get32(data + offset + 8, motorola);
  if (offset > 0xFFFF || offset > length - 2) return;

  // Exif sub-IFD: rewrite the pixel dimensions as one LONG each.
  entries = Get16(data + offset, motorola);
  if (entries < 2) return;
  offset += 2;
  for (; entries > 0; --entries, offset += 12) {
    if (offset > length - 12) return;
    const uint16_t tag = Get16(data + offset, motorola);
    if (tag != 0xA002 && tag != 0xA003) continue;
    const uint32_t value = (tag == 0xA002 ? newWidth : newHeight) & 0xFFFF;
    Put16(data + offset + 2, 4, motorola);
    Put32(data + offset + 4, 1, motorola);
    Put32(data + offset + 8, value, motorola);
  }
}

jvirt_barray_ptr* AdjustTransformParameters(j_decompress_ptr srcinfo, j_compress_ptr dstinfo,
                                            jvirt_barray_ptr* srcCoefArrays, JPGTransformInfo* info) {
  if (info->forceGrey) {
    const bool colourOk = (dstinfo->jpeg_color_space == JCS_YCbCr && dstinfo->num_components == 3) ||
                          (dstinfo->jpeg_color_space == JCS_GRAYSCALE && dstinfo->num_components == 1);
    // The destination's maximum factors are only computed when writing starts: the source's.
    if (colourOk && dstinfo->comp_info[0].h_samp_factor == srcinfo->max_h_samp_factor &&
        dstinfo->comp_info[0].v_samp_factor == srcinfo->max_v_samp_factor) {
      const int table = dstinfo->comp_info[0].quant_tbl_no;
      jpeg_set_colorspace(dstinfo, JCS_GRAYSCALE);
      dstinfo->comp_info[0].quant_tbl_no = table;
    } else {
      ERREXIT(dstinfo, JERR_CONVERSION_NOTIMPL);
    }
  } else if (info->numComponents == 1) {
    dstinfo->comp_info[0].h_samp_factor = 1;
    dstinfo->comp_info[0].v_samp_factor = 1;
  }

  dstinfo->image_width = info->outputWidth;
  dstinfo->image_height = info->outputHeight;

  if (JPGTransformTransposes(info->transform)) TransposeCriticalParameters(dstinfo);

  jpeg_saved_marker_ptr first = srcinfo->marker_list;
  if (IsExifMarker(first)) {
    dstinfo->write_JFIF_header = FALSE;
    if (dstinfo->image_width != srcinfo->image_width || dstinfo->image_height != srcinfo->image_height)
      AdjustExifDimensions(first->data + 6, first->data_length - 6, dstinfo->image_width, dstinfo->image_height);
  }

  return info->workspace ? info->workspace : srcCoefArrays;
}

void CopyMarkersSetup(j_decompress_ptr srcinfo) {
  jpeg_save_markers(srcinfo, JPEG_COM, 0xFFFF);
  for (int m = 0; m < 16; ++m) jpeg_save_markers(srcinfo, JPEG_APP0 + m, 0xFFFF);
}

void CopyMarkersExecute(j_decompress_ptr srcinfo, j_compress_ptr dstinfo) {
  for (jpeg_saved_marker_ptr m = srcinfo->marker_list; m; m = m->next) {
    if (dstinfo->write_JFIF_header && m->marker == JPEG_APP0 && m->data_length >= 5 &&
        std::memcmp(m->data, "JFIF\0", 5) == 0)
      continue;  // the compressor wrote its own
    if (dstinfo->write_Adobe_marker && m->marker == JPEG_APP0 + 14 && m->data_length >= 5 &&
        std::memcmp(m->data, "Adobe", 5) == 0)
      continue;
    jpeg_write_marker(dstinfo, m->marker, m->data, m->data_length);
  }
}

bool ExecuteTransform(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, jvirt_barray_ptr* srcCoefArrays,
                      const JPGTransformInfo* info) {
  jvirt_barray_ptr* dst = info->workspace;
  switch (info->transform) {
    case kJXformNone:
      if (dst) return JPGTransformCrop(srcinfo, dstinfo, info, srcCoefArrays, dst);
      return true;
    case kJXformFlipH:
      if (!dst) return JPGTransformFlipHInPlace(srcinfo, dstinfo, info, srcCoefArrays);
      return JPGTransformFlipH(srcinfo, dstinfo, info, srcCoefArrays, dst);
    case kJXformFlipV: return JPGTransformFlipV(srcinfo, dstinfo, info, srcCoefArrays, dst);
    case kJXformTranspose: return JPGTransformTranspose(srcinfo, dstinfo, info, srcCoefArrays, dst);
    case kJXformTransverse: return JPGTransformTransverse(srcinfo, dstinfo, info, srcCoefArrays, dst);
    case kJXformRot90: return JPGTransformRot90(srcinfo, dstinfo, info, srcCoefArrays, dst);
    case kJXformRot180: return JPGTransformRot180(srcinfo, dstinfo, info, srcCoefArrays, dst);
    case kJXformRot270: return JPGTransformRot270(srcinfo, dstinfo, info, srcCoefArrays, dst);
    default: return true;
  }
}
