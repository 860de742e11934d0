// The JPEG writer's operations: set-up of the compressor with the thread's options, the
// markers, rows, and release. libjpeg errors arrive as exceptions from JPGErrorExit and
// become error 4; a stream that met an error is destroyed, never finished.
#include "imaging/formats/jpeg/CISJPGWriter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

using RovIrirev::ISException;

constexpr uint32_t kICCChunkBytes = 65519;  // 65533 marker bytes less the 14-byte chunk header
constexpr int kICCMarker = JPEG_APP0 + 2;

}  // namespace

JPGCompressBlock::~JPGCompressBlock() { jpeg_destroy_compress(&cinfo); }

BOOL WriteICCProfileMarkers(ISPtrVector<CFileDataTag>& list) {
  list.Clear();
  ISThreadState* ts = GetThreadState();
  if (!ts || ts->iccProfile.Empty()) return FALSE;
  const uint32_t size = ts->iccProfile.Count();
  const uint32_t chunks = (size + kICCChunkBytes - 1) / kICCChunkBytes;
  for (uint32_t k = 1; k <= chunks; ++k) {
    const uint32_t offset = (k - 1) * kICCChunkBytes;
    const uint32_t n = std::min(kICCChunkBytes, size - offset);
    auto* tag = new (std::nothrow) CFileDataTag;
    if (!tag) return FALSE;
    tag->id = kICCMarker;
    tag->data.Resize(14 + n);
    if (!tag->data.Data()) {
      delete tag;
      return FALSE;
    }
    uint8_t* p = tag->data.Data();
    std::memcpy(p, "ICC_PROFILE", 12);  // with its terminating zero
    p[12] = static_cast<uint8_t>(k);
    p[13] = static_cast<uint8_t>(chunks);
    std::memcpy(p + 14, ts->iccProfile.Data() + offset, n);
    if (!list.Add(tag)) return FALSE;
  }
  return TRUE;
}

void CISJPGWriter::SetDensity(j_compress_ptr cinfo) {
  cinfo->density_unit = static_cast<UINT8>(densityUnit);
  cinfo->X_density = static_cast<UINT16>(xDensity);
  cinfo->Y_density = static_cast<UINT16>(yDensity);
}

void CISJPGWriter::SetDCTMethod(j_compress_ptr cinfo, int32_t option) {
  switch (option) {
    case 1: cinfo->dct_method = JDCT_ISLOW; break;
    case 2: cinfo->dct_method = JDCT_IFAST; break;
    case 3: cinfo->dct_method = JDCT_FLOAT; break;
    default: break;  // libjpeg's default
  }
}

void CISJPGWriter::WriteMarkers(j_compress_ptr cinfo) {
  ISThreadState* ts = GetThreadState();
  if (!ts) return;
  for (CFileDataTag* tag : ts->jpg.commentsToWrite.Items()) {
    if (!tag) continue;
    const size_t length = std::strlen(tag->text.c_str());  // up to the first zero
    if (length == 0) continue;
    if (length > 65533) ERREXIT(cinfo, JERR_BAD_LENGTH);
    jpeg_write_marker(cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(tag->text.data()),
                      static_cast<unsigned int>(length));
  }
  for (CFileDataTag* tag : ts->jpg.markersToWrite.Items()) {
    if (!tag) continue;
    jpeg_write_marker(cinfo, static_cast<int>(tag->id), tag->data.Data(), tag->data.Count());
  }
  ISPtrVector<CFileDataTag> icc;
  WriteICCProfileMarkers(icc);
  for (CFileDataTag* tag : icc.Items()) {
    if (tag && !tag->data.Empty()) jpeg_write_marker(cinfo, kICCMarker, tag->data.Data(), tag->data.Count());
  }
}

JPGCompressBlock* CISJPGWriter::Setup(CISIO& sink, DWORD width, DWORD height, DWORD quality, DWORD flags,
                                      DWORD bits) {
  if (width == 0 || height == 0) return Fail(IS_ERR_BADPARAM), nullptr;
  ISThreadState* ts = GetThreadState();
  if (!ts) return Fail(IS_ERR_NOSTATE), nullptr;
  std::unique_ptr<JPGCompressBlock> block(new (std::nothrow) JPGCompressBlock(sink));
  if (!block) return Fail(IS_ERR_NOMEM), nullptr;
  jpeg_compress_struct& cinfo = block->cinfo;
  try {
    cinfo.err = JPGInitErrorManager(&block->err);
    jpeg_create_compress(&cinfo);
    InitJPGDestination(&cinfo, &block->io);
    cinfo.image_width = width;
    cinfo.image_height = height;
    switch (bits) {
      case 8:
        cinfo.input_components = 1;
        cinfo.in_color_space = JCS_GRAYSCALE;
        break;
      case 24:
        cinfo.input_components = 3;
        cinfo.in_color_space = (flags & kJPGWriteYCbCr) ? JCS_YCbCr : JCS_RGB;
        break;
      default:
        cinfo.input_components = 4;
        cinfo.in_color_space = (flags & kJPGWriteYCCK) ? JCS_YCCK : JCS_CMYK;
        break;
    }
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, static_cast<int>(std::min<DWORD>(quality, 100)), TRUE);
    if (ts->jpg.customSampling) {
      const int n = std::max(0, std::min<int>(ts->jpg.samplingCount, kJPGSamplingEntries));
      for (int i = 0; i < n && i < MAX_COMPONENTS; ++i) {
        cinfo.comp_info[i].h_samp_factor = ts->jpg.hSampling[i];
        cinfo.comp_info[i].v_samp_factor = ts->jpg.vSampling[i];
      }
    }
    if (flags & kJPGWriteProgressive) jpeg_simple_progression(&cinfo);
    SetDensity(&cinfo);
    if (flags & kJPGWriteNoJFIF) cinfo.write_JFIF_header = FALSE;
    SetDCTMethod(&cinfo, ts->jpg.dctMethod);
    cinfo.smoothing_factor = ts->jpg.smoothing;
    jpeg_start_compress(&cinfo, TRUE);
    WriteMarkers(&cinfo);
  } catch (const ISException&) {
    return Fail(IS_ERR_WRITE), nullptr;
  } catch (const std::bad_alloc&) {
    return Fail(IS_ERR_NOMEM), nullptr;
  }
  return block.release();
}

BOOL CISJPGWriter::WriteScanline(JPGCompressBlock* block, const BYTE* row) {
  if (!block || !row) return Fail(IS_ERR_BADPARAM);
  if (block->cinfo.next_scanline >= block->cinfo.image_height) return Fail(IS_ERR_SINGLELINE);
  try {
    JSAMPROW rows[1] = {const_cast<JSAMPROW>(row)};  // libjpeg only reads its input rows
    jpeg_write_scanlines(&block->cinfo, rows, 1);
  } catch (const ISException&) {
    block->failed = true;
    return Fail(IS_ERR_WRITE);
  }
  return TRUE;
}

BOOL CISJPGWriter::Release(JPGCompressBlock* block) {
  if (!block) return Fail(IS_ERR_BADPARAM);
  std::unique_ptr<JPGCompressBlock> owned(block);
  // A stream that met a libjpeg error, or that is missing rows, is abandoned: finishing it
  // would only raise another error on a compressor in an undefined state.
  if (block->failed || block->cinfo.next_scanline < block->cinfo.image_height) {
    jpeg_abort_compress(&block->cinfo);
    return Fail(IS_ERR_WRITE);
  }
  try {
    jpeg_finish_compress(&block->cinfo);
  } catch (const ISException&) {
    return Fail(IS_ERR_WRITE);
  }
  return TRUE;
}

DWORD CISJPGWriter::WriteRows(JPGCompressBlock* block, const BYTE* pixels, DWORD rowBytes, DWORD height) {
  if (!block) return Fail(IS_ERR_BADPARAM), 0;
  CISIO sink = block->io;  // the block is gone after Release
  for (DWORD y = 0; y < height; ++y) {
    if (!WriteScanline(block, pixels + uint64_t{y} * rowBytes)) break;
    if (!ReportProgress(y, height, false)) {
      Fail(IS_ERR_STOPPED);
      break;
    }
  }
  if (!Release(block) || error != IS_ERR_OK) return 0;
  uint32_t size = 0;
  if (!sink.GetSize(&size) || size == 0) return Fail(IS_ERR_WRITE), 0;
  return size;
}

DWORD CISJPGWriter::Write(CISIO& sink, const BYTE* pixels, DWORD width, DWORD height, DWORD quality, DWORD bits,
                          DWORD flags) {
  if (bits != 8 && bits != 24 && bits != 32) return Fail(IS_ERR_BADPARAM), 0;
  JPGCompressBlock* block = Setup(sink, width, height, quality, flags, bits);
  if (!block) return 0;
  return WriteRows(block, pixels, bits / 8 * width, height);
}
