// The JPEG reader's operations: set-up of a decode, rows, release, the whole read, the header
// information and the capture of comments and markers. libjpeg errors arrive as exceptions
// from JPGErrorExit: 9 during set-up and information, 3 while decoding rows and finishing.
#include "imaging/formats/jpeg/CISJPGReader.h"

#include <sys/mman.h>

#include <cstring>
#include <memory>
#include <new>

#include "imaging/core/CISMemBlock.h"
#include "imaging/core/ISSizeMath.h"
#include "imaging/formats/ConvertResolution.h"

namespace {

using RovIrirev::ISException;

// Little-endian stores for the packed-DIB header.
void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

uint32_t BytesPerPixel(int32_t outputKind) {
  switch (outputKind) {
    case kJPGOutGrey8: return 1;
    case kJPGOutRGB24: return 3;
    case kJPGOutCMYK32:
    case kJPGOutYCCK32: return 4;
    case kJPGOutYCbCr24: return 3;
    default: return 0;
  }
}

void SwapRedBlue(uint8_t* row, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x, row += 3) {
    uint8_t t = row[0];
    row[0] = row[2];
    row[2] = t;
  }
}

// A large picture is written once from top to bottom right after its allocation: asking for
// huge pages over its aligned interior spares one page fault per 4 KB (a third of a 24 MP
// decode otherwise). Only a hint; the contents are untouched and a refusal changes nothing.
void AdviseHugePages(void* block, uint64_t size) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  if (size < 4 * kHuge) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)block;
  (void)size;
#endif
}

// Picks the output kind from the colour kind and the request; throws with the reason when the
// combination is not offered.
int32_t ChooseOutputKind(int32_t colourKind, DWORD bits, DWORD flags) {
  switch (colourKind) {
    case kJPGColourGrey:
      if (flags & kJPGReadAsStored) bits = 8;
      if (bits == 8) return kJPGOutGrey8;
      if (bits == 24) return kJPGOutRGB24;
      throw ISException("Invalid bit depth requested (can't read 8-bit to 32-bit)");
    case kJPGColourRGB:
      if (bits == 24) return kJPGOutRGB24;
      throw ISException("Invalid bit depth requested (can't read RGB to any other bit depth)");
    case kJPGColourCMYK:
    case kJPGColourYCCK:
      if (flags & kJPGReadAsStored) bits = 24;
      if (!(flags & kJPGReadKeepCMYK)) {
        if (bits == 24) return kJPGOutRGB24;
        throw ISException("Invalid bit depth requested");
      }
      if (bits == 32) return colourKind == kJPGColourCMYK ? kJPGOutCMYK32 : kJPGOutYCCK32;
      throw ISException("Invalid bit depth requested (can only read CMYK/YCCK to 32bpp)");
    case kJPGColourYCbCr:
      if (bits == 24) return kJPGOutYCbCr24;
      throw ISException("Invalid bit depth requested (can't read YCbCr to any other bit depth)");
    default:
      throw ISException("Invalid JPG colorspace");
  }
}

}  // namespace

JPGDecodeState::~JPGDecodeState() { jpeg_destroy(reinterpret_cast<j_common_ptr>(&cinfo)); }

void JPGRoundReadScale(uint32_t num, uint32_t den, unsigned int* scaleNum, unsigned int* scaleDenom) {
  uint64_t n = num, d = den;
  *scaleNum = 1;
  if (d == 0 || n * 2 > d)
    *scaleDenom = 1;
  else if (n * 8 <= d)
    *scaleDenom = 8;
  else if (n * 4 <= d)
    *scaleDenom = 4;
  else
    *scaleDenom = 2;
}

void GreyToRGBRow(const uint8_t* src, uint32_t width, uint8_t* dst) {
  for (uint32_t x = 0; x < width; ++x, dst += 3) dst[0] = dst[1] = dst[2] = src[x];
}

void CMYKToRGBRow(const uint8_t* src, uint32_t width, uint8_t* dst) {
  for (uint32_t x = 0; x < width; ++x, src += 4, dst += 3) {
    const uint32_t k = src[3];
    dst[0] = static_cast<uint8_t>(src[0] * k / 255u);
    dst[1] = static_cast<uint8_t>(src[1] * k / 255u);
    dst[2] = static_cast<uint8_t>(src[2] * k / 255u);
  }
}

void CISJPGReader::StoreMarkers(j_decompress_ptr cinfo) {
  ISThreadState* ts = GetThreadState();
  if (!ts) return;
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next) {
    if (!m->data) continue;
    if (m->marker == JPEG_COM) {
      auto* tag = new (std::nothrow) CFileDataTag;
      if (!tag) continue;
      const char* text = reinterpret_cast<const char*>(m->data);
      tag->id = 0;
      try {
        tag->text.assign(text, strnlen(text, m->data_length));
      } catch (const std::bad_alloc&) {
        delete tag;
        continue;
      }
      ts->jpg.commentsRead.Add(tag);
    } else if (m->data_length > 0) {
      auto* tag = new (std::nothrow) CFileDataTag;
      if (!tag) continue;
      tag->id = m->marker;
      tag->data.Resize(m->data_length + 4);
      if (!tag->data.Data()) {
        delete tag;  // a record without its bytes is dropped
        continue;
      }
      std::memset(tag->data.Data(), 0, 4);
      std::memcpy(tag->data.Data() + 4, m->data, m->data_length);
      ts->jpg.markersRead.Add(tag);
    }
  }
  JPGKeepMetadata(cinfo);
}

JPGDecodeState* CISJPGReader::Setup(CISIO& source, DWORD* width, DWORD* height, DWORD bits, DWORD flags) {
  ISThreadState* ts = GetThreadState();
  if (!ts) return Fail(IS_ERR_NOSTATE), nullptr;
  ts->jpg.commentsRead.Clear();
  ts->jpg.markersRead.Clear();
  ts->metadataRead.Clear();

  std::unique_ptr<JPGDecodeState> state(new (std::nothrow) JPGDecodeState(source));
  if (!state) return Fail(IS_ERR_NOMEM), nullptr;
  jpeg_decompress_struct& cinfo = state->cinfo;
  try {
    cinfo.err = JPGInitErrorManager(&state->err);
    jpeg_create_decompress(&cinfo);
    InitJPGSource(&cinfo, &state->io, false, (flags & kJPGReadSeekBack) != 0);
    JPGSaveMarkers(&cinfo);
    jpeg_read_header(&cinfo, TRUE);
    JPGRoundReadScale(ts->jpg.readScaleNum, ts->jpg.readScaleDen, &cinfo.scale_num, &cinfo.scale_denom);
    if (flags & kJPGReadKeepYCbCr) cinfo.out_color_space = JCS_YCbCr;
    jpeg_calc_output_dimensions(&cinfo);
    // Before jpeg_start_decompress sizes the whole-frame buffers of a file of several scans
    // and reads all its scans.
    JPGGuardDecode(&cinfo, 1);
    StoreMarkers(&cinfo);
    // jpeg_calc_output_dimensions has set the output components: a kind this read does not
    // deliver is refused before jpeg_start_decompress reads the scans of a file of several.
    switch (cinfo.output_components) {
      case 1: state->colourKind = kJPGColourGrey; break;
      case 3: state->colourKind = (flags & kJPGReadKeepYCbCr) ? kJPGColourYCbCr : kJPGColourRGB; break;
      case 4:
        if (cinfo.jpeg_color_space == JCS_CMYK)
          state->colourKind = kJPGColourCMYK;
        else if (cinfo.jpeg_color_space == JCS_YCCK)
          state->colourKind = kJPGColourYCCK;
        break;
      default: break;
    }
    state->outputKind = ChooseOutputKind(state->colourKind, bits, flags);
    jpeg_start_decompress(&cinfo);

    uint64_t rowBytes = 0;
    if (!ISAllocSize(rowBytes, cinfo.output_width, cinfo.output_components, 2) || rowBytes > UINT32_MAX)
      return Fail(IS_ERR_NOMEM), nullptr;
    state->rowBuffer.Resize(static_cast<uint32_t>(rowBytes));
    if (!state->rowBuffer.Data()) return Fail(IS_ERR_NOMEM), nullptr;
    if (width) *width = cinfo.output_width;
    if (height) *height = cinfo.output_height;
    state->xDensity = cinfo.X_density;
    state->yDensity = cinfo.Y_density;
    state->densityUnit = cinfo.density_unit;
  } catch (const ISException&) {
    return Fail(IS_ERR_BADJPEG), nullptr;
  } catch (const std::bad_alloc&) {
    return Fail(IS_ERR_NOMEM), nullptr;
  }
  return state.release();
}

BOOL CISJPGReader::ReadRow(JPGDecodeState* state, uint8_t* row, DWORD* rowIndex) {
  if (!state || !row) return Fail(IS_ERR_BADPARAM);
  jpeg_decompress_struct& cinfo = state->cinfo;
  if (cinfo.output_scanline >= cinfo.output_height) return Fail(IS_ERR_SINGLELINE);
  const bool converted = state->outputKind == kJPGOutRGB24 && state->colourKind != kJPGColourRGB;
  try {
    JSAMPROW target = converted ? state->rowBuffer.Data() : row;
    jpeg_read_scanlines(&cinfo, &target, 1);
  } catch (const ISException&) {
    return Fail(IS_ERR_READ);
  }
  if (converted) {
    if (state->colourKind == kJPGColourGrey)
      GreyToRGBRow(state->rowBuffer.Data(), cinfo.output_width, row);
    else
      CMYKToRGBRow(state->rowBuffer.Data(), cinfo.output_width, row);
  }
  if (rowIndex) *rowIndex = cinfo.output_scanline - 1;
  return TRUE;
}

BOOL CISJPGReader::Release(JPGDecodeState* state) {
  if (!state) return Fail(IS_ERR_BADPARAM);
  BOOL ok = TRUE;
  try {
    jpeg_finish_decompress(&state->cinfo);
  } catch (const ISException&) {
    ok = Fail(IS_ERR_READ);
  }
  delete state;  // destroys the decompressor, frees the row buffer
  return ok;
}

HGLOBAL CISJPGReader::Read(CISIO& source, DWORD* width, DWORD* height, DWORD bits, DWORD flags) {
  DWORD w = 0, h = 0;
  // A decode that stops part-way is destroyed without finishing.
  std::unique_ptr<JPGDecodeState> state(Setup(source, &w, &h, bits, flags));
  if (!state) return nullptr;

  const uint32_t bpp = BytesPerPixel(state->outputKind);
  if (bpp == 0) return Fail(IS_ERR_INTERNAL), nullptr;
  const bool asStored = (flags & kJPGReadAsStored) != 0;
  const bool grey = state->outputKind == kJPGOutGrey8;
  uint64_t rowSize = 0, imageSize = 0, total = 0;
  if (!ISRowBytes(rowSize, w, uint64_t{bpp} * 8, (flags & (kJPGReadAsStored | kJPGReadPaddedBGR)) ? 4 : 1) ||
      !ISMulSize(imageSize, rowSize, h))
    return Fail(IS_ERR_NOMEM), nullptr;
  const uint64_t header = asStored ? (grey ? 40u + 1024u : 40u) : 0u;
  if (!ISAddSize(total, imageSize, header) || total >= kGlobalAllocLimit) return Fail(IS_ERR_NOMEM), nullptr;

  ISOwnedBlock block;
  if (!block.Alloc(total)) return Fail(IS_ERR_NOMEM), nullptr;
  uint8_t* base = static_cast<uint8_t*>(block.Get());
  AdviseHugePages(base, total);
  if (asStored) {
    DWORD res[3] = {state->xDensity, state->yDensity, state->densityUnit};
    ConvertResolution(res, kResJFIF, kResPerMetre);
    Put32(base + 0, 40);
    Put32(base + 4, w);
    Put32(base + 8, h);
    Put16(base + 12, 1);
    Put16(base + 14, bpp * 8);
    Put32(base + 16, 0);
    Put32(base + 20, static_cast<uint32_t>(imageSize));
    Put32(base + 24, res[0]);
    Put32(base + 28, res[1]);
    Put32(base + 32, grey ? 256 : 0);
    Put32(base + 36, 0);
    if (grey) {
      uint8_t* pal = base + 40;
      for (uint32_t i = 0; i < 256; ++i, pal += 4) {
        pal[0] = pal[1] = pal[2] = static_cast<uint8_t>(i);
        pal[3] = 255;
      }
    }
  }
  uint8_t* pixels = base + header;
  const bool swapRB = state->outputKind == kJPGOutRGB24 && (flags & (kJPGReadAsStored | kJPGReadPaddedBGR));
  for (uint32_t i = 0; i < h; ++i) {
    uint8_t* row = pixels + (asStored ? h - 1 - i : i) * rowSize;
    DWORD index = 0;
    if (!ReadRow(state.get(), row, &index)) return nullptr;
    if (!ReportProgress(index, h, false)) return Fail(IS_ERR_STOPPED), nullptr;
    if (swapRB) SwapRedBlue(row, w);
  }
  // After every row: a failure to finish leaves error 3 but the picture is whole.
  Release(state.release());
  if (width) *width = w;
  if (height) *height = h;
  return block.Release();
}

BOOL CISJPGReader::GetInfo(CISIO& source, DWORD* width, DWORD* height, DWORD* bits, DWORD* xDensity,
                           DWORD* yDensity, DWORD* unit, DWORD* colourSpace, DWORD* codingFlags) {
  if (!width || !height) return Fail(IS_ERR_BADPARAM);
  *width = *height = 0;
  for (DWORD* p : {bits, xDensity, yDensity, unit, colourSpace, codingFlags})
    if (p) *p = 0;
  ISThreadState* ts = GetThreadState();
  if (!ts) return Fail(IS_ERR_NOSTATE);
  ts->jpg.commentsRead.Clear();
  ts->jpg.markersRead.Clear();
  ts->metadataRead.Clear();

  // The same header path as a read, stopping before decoding.
  JPGDecodeState info(source);
  jpeg_decompress_struct& cinfo = info.cinfo;
  try {
    cinfo.err = JPGInitErrorManager(&info.err);
    jpeg_create_decompress(&cinfo);
    InitJPGSource(&cinfo, &info.io, false, false);
    JPGSaveMarkers(&cinfo);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_calc_output_dimensions(&cinfo);
    *width = cinfo.image_width;
    *height = cinfo.image_height;
    if (bits) *bits = static_cast<DWORD>(cinfo.output_components) * 8;
    if (xDensity) *xDensity = cinfo.X_density;
    if (yDensity) *yDensity = cinfo.Y_density;
    if (unit) *unit = cinfo.density_unit;
    if (colourSpace) *colourSpace = static_cast<DWORD>(cinfo.jpeg_color_space);
    if (codingFlags) *codingFlags = (cinfo.progressive_mode ? 1u : 0u) | (cinfo.arith_code ? 2u : 0u);
    StoreMarkers(&cinfo);
  } catch (const ISException&) {
    return Fail(IS_ERR_BADJPEG);
  }
  return TRUE;
}
