// The four PNG readers: a requested depth with a palette or composited colours, the file as a
// packed DIB, RGBA, and grey with alpha. One course for all: libpng's header, the reader's
// transformations, gamma, a check of the row size libpng will deliver, the buffer, every row
// of every pass with progress, the chunks after the image data and the text chunks.
// Errors: 1, 5, 14, 15, 16, 17, 28; a failed read frees its buffer and returns null.
#include <cstring>
#include <new>
#include <vector>

#include "imaging/core/CISMemBlock.h"
#include "imaging/core/ISContainers.h"
#include "imaging/core/ISDIB.h"
#include "imaging/core/ISPixelHelpers.h"
#include "imaging/core/ISSizeMath.h"
#include "imaging/formats/ConvertResolution.h"
#include "imaging/formats/png/CISPNGCodec.h"

namespace {

using RovIrirev::ISException;

// The read and info structures of one read, destroyed on every way out.
struct PNGReadHandles {
  png_structp png = nullptr;
  png_infop info = nullptr;
  PNGReadHandles() = default;
  PNGReadHandles(const PNGReadHandles&) = delete;
  PNGReadHandles& operator=(const PNGReadHandles&) = delete;
  ~PNGReadHandles() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }
};

// Transparency composited onto the file's bKGD colour, or onto the thread's default background
// (black in this system) when the file has none; the alpha channel leaves the rows.
void SetupBackground(png_structp png, png_infop info) {
  png_color_16p bkgd = nullptr;
  if (png_get_bKGD(png, info, &bkgd) && bkgd) {
    png_set_background(png, bkgd, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
    return;
  }
  png_color_16 colour{};
  if (ISThreadState* ts = GetThreadState()) {
    const ISColor16& d = ts->png.defaultBackground;
    colour.index = d.index;
    colour.red = d.red;
    colour.green = d.green;
    colour.blue = d.blue;
    colour.gray = d.gray;
  }
  png_set_background(png, &colour, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
}

// Files without an alpha channel get one: from tRNS when present, else the filler after the
// colour samples.
void AddAlpha(png_structp png, png_infop info, int colourType, uint32_t filler) {
  if (colourType & PNG_COLOR_MASK_ALPHA) return;
  if (png_get_valid(png, info, PNG_INFO_tRNS))
    png_set_expand(png);
  else
    png_set_filler(png, filler, PNG_FILLER_AFTER);
}

// Ancillary chunks (texts above all) are held whole by libpng: at most 1 MB each, after
// inflating, and at most 256 of them in one file, so that a small file of compressed texts
// cannot make libpng hold gigabytes. Larger or further chunks are skipped with a warning.
constexpr png_alloc_size_t kMaxChunkBytes = 1u << 20;
constexpr png_uint_32 kMaxCachedChunks = 256;

uint64_t PackedRowBytes(uint64_t width, uint64_t bits) { return (width * bits + 7) / 8; }

// Deflate stores at most 258 bytes in two bits: a stream can never inflate to more than 1032
// times its size. A header that claims more pixel data than the rest of a source of known
// size could hold is refused before any buffer is allocated for it.
constexpr uint64_t kMaxInflateRatio = 1032;

bool SourceCanHold(CISIO& source, uint64_t width, uint64_t height, uint64_t channels, uint64_t bitDepth) {
  uint32_t size = 0, position = 0;
  if (!source.GetSize(&size) || !source.Tell(&position) || position > size) return true;  // unknown: libpng finds out
  uint64_t pixelBytes = 0;  // the row factor stays below 2^37 for sides below 2^31
  if (!ISMulSize(pixelBytes, height, width * channels * bitDepth / 8)) return false;
  return pixelBytes <= (uint64_t{size} - position) * kMaxInflateRatio + 1024;
}

}  // namespace

template <typename Setup>
HGLOBAL CISPNGCodec::Read(CISIO& source, DWORD* width, DWORD* height, DWORD options, Setup&& setup) {
  ISThreadState* ts = GetThreadState();
  if (!ts) return Fail(IS_ERR_NOSTATE), nullptr;
  PNGReadHandles h;
  ISOwnedBlock block;
  std::vector<ISKeyTextPair> texts;
  try {
    h.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PNGErrorHook, PNGWarningHook);
    if (!h.png) return Fail(IS_ERR_PNGINTERNAL), nullptr;
    h.info = png_create_info_struct(h.png);
    if (!h.info) return Fail(IS_ERR_PNGINTERNAL), nullptr;

    png_set_read_fn(h.png, &source, PNGReadCallback);
    png_set_chunk_malloc_max(h.png, kMaxChunkBytes);
    png_set_chunk_cache_max(h.png, kMaxCachedChunks);
    png_read_info(h.png, h.info);
    png_uint_32 w = 0, rows = 0;
    int bitDepth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(h.png, h.info, &w, &rows, &bitDepth, &colourType, &interlace, nullptr, nullptr);

    if (!SourceCanHold(source, w, rows, png_get_channels(h.png, h.info), static_cast<uint64_t>(bitDepth)))
      return Fail(IS_ERR_BADPNG), nullptr;

    Layout layout;
    if (!setup(h.png, h.info, w, bitDepth, colourType, layout)) return nullptr;
    SetupGamma(h.png, h.info, options);
    const int passes = png_set_interlace_handling(h.png);
    png_read_update_info(h.png, h.info);
    // Every row libpng delivers must fit the layout exactly.
    if (png_get_rowbytes(h.png, h.info) != layout.rowBytes || passes < 1) return Fail(IS_ERR_INTERNAL), nullptr;

    const bool dib = layout.dibDepth != 0;
    uint64_t stride = layout.rowBytes, total = 0;
    if (dib) {
      ISErrorCode sizeError = IS_ERR_OK;
      total = DIBSizeBytes(sizeError, w, rows, layout.dibDepth, 0);
      if (!total) return Fail(sizeError == IS_ERR_OK ? IS_ERR_NOMEM : sizeError), nullptr;
      stride = DIBRowBytes(w, layout.dibDepth);
    } else if (!ISAllocSize(total, stride, rows)) {
      return Fail(IS_ERR_NOMEM), nullptr;
    }
    if (!block.Alloc(total)) return Fail(IS_ERR_NOMEM), nullptr;
    if (width) *width = png_get_image_width(h.png, h.info);
    if (height) *height = png_get_image_height(h.png, h.info);

    BYTE* base = static_cast<BYTE*>(block.Get());
    BYTE* pixels = base;
    if (dib) {
      png_uint_32 x = 0, y = 0;
      int unit = 0;
      DWORD res[3] = {0, 0, 0};
      if (png_get_pHYs(h.png, h.info, &x, &y, &unit)) {
        res[0] = x;
        res[1] = y;
        res[2] = static_cast<DWORD>(unit);
      }
      ConvertResolution(res, kResPNG, kResPerMetre);
      const DWORD colours = layout.dibDepth <= 8 ? (1u << layout.dibDepth) : 0u;
      BITMAPINFOHEADER header{};
      header.biSize = kDIBHeaderBytes;
      header.biWidth = static_cast<LONG>(w);
      header.biHeight = static_cast<LONG>(rows);
      header.biPlanes = 1;
      header.biBitCount = static_cast<WORD>(layout.dibDepth);
      header.biCompression = 0;
      header.biSizeImage = static_cast<DWORD>(stride * rows);
      header.biXPelsPerMeter = static_cast<LONG>(res[0]);
      header.biYPelsPerMeter = static_cast<LONG>(res[1]);
      header.biClrUsed = colours;
      header.biClrImportant = 0;
      WriteDIBHeader(base, header);
      std::memcpy(base + kDIBHeaderBytes, layout.dibPalette, colours * sizeof(RGBQUAD));
      pixels = base + kDIBHeaderBytes + colours * sizeof(RGBQUAD);
    }
    // File row y: row y of a top-down layout, or the y-th row from the end of a DIB.
    auto rowAt = [&](uint32_t y) -> BYTE* { return pixels + (dib ? uint64_t{rows - 1 - y} : uint64_t{y}) * stride; };

    uint64_t k = 0;
    uint64_t reported = UINT64_MAX;
    for (int pass = 0; pass < passes; ++pass) {
      for (uint32_t y = 0; y < rows; ++y) {
        png_read_row(h.png, rowAt(y), nullptr);
        const uint64_t value = k / static_cast<uint64_t>(passes);
        ++k;
        if (value != reported) {
          reported = value;
          if (!ReportProgress(static_cast<DWORD>(value), rows, false)) return Fail(IS_ERR_STOPPED), nullptr;
        }
      }
    }
    if (layout.repack2To4) {
      ISArray<BYTE> temp;
      temp.Resize(static_cast<uint32_t>(stride));
      if (!temp.Data()) return Fail(IS_ERR_NOMEM), nullptr;
      std::memset(temp.Data(), 0, stride);
      for (uint32_t y = 0; y < rows; ++y) {
        BYTE* row = rowAt(y);
        Pack2BitTo4Bit(row, temp.Data(), 2, w);
        std::memcpy(row, temp.Data(), stride);
      }
    }
    png_read_end(h.png, h.info);
    CaptureTextChunks(h.png, h.info, texts);
  } catch (const ISException& e) {
    // libpng's own errors carry no code: the file is bad or unreadable.
    return Fail(e.Code() ? e.Code() : IS_ERR_BADPNG), nullptr;
  } catch (const std::bad_alloc&) {
    return Fail(IS_ERR_NOMEM), nullptr;
  }
  ts->png.textsRead = std::move(texts);
  return static_cast<HGLOBAL>(block.Release());
}

HGLOBAL CISPNGCodec::ReadPNGToDepth(CISIO& source, DWORD* width, DWORD* height, DWORD depth, RGBQUAD* palette,
                                    bool keep16, DWORD options) {
  error = IS_ERR_OK;
  ClearTextsRead();
  if (keep16 && depth != 1 && depth != 8 && depth != 16 && depth != 24 && depth != 48)
    return Fail(IS_ERR_BADPARAM), nullptr;
  if (options & kPNGReadAsStored) return Fail(IS_ERR_INTERNAL), nullptr;
  return Read(source, width, height, options,
              [&](png_structp png, png_infop info, uint32_t w, int bitDepth, int colourType, Layout& layout) {
                if (!SetupDepthAndPalette(png, info, palette, depth, bitDepth, colourType))
                  return Fail(IS_ERR_BITDEPTH);
                if (keep16) {
                  if (colourType != PNG_COLOR_TYPE_GRAY && colourType != PNG_COLOR_TYPE_RGB &&
                      colourType != PNG_COLOR_TYPE_RGB_ALPHA)
                    return Fail(IS_ERR_BITDEPTH);
                  png_set_swap(png);
                } else {
                  png_set_strip_16(png);
                }
                SetupBackground(png, info);
                RecordFileBackground(png, info);
                layout.rowBytes = depth == 1 ? (uint64_t{w} + 7) / 8
                                  : depth == 4 ? (uint64_t{w} + 1) / 2
                                               : uint64_t{depth / 8} * w;
                return true;
              });
}

HGLOBAL CISPNGCodec::ReadPNGAsStored(CISIO& source, DWORD* width, DWORD* height, RGBQUAD* /*palette*/,
                                     DWORD options) {
  error = IS_ERR_OK;
  ClearTextsRead();
  return Read(source, width, height, options,
              [&](png_structp png, png_infop info, uint32_t w, int bitDepth, int colourType, Layout& layout) {
                const bool paletted = colourType == PNG_COLOR_TYPE_PALETTE;
                DWORD depth = 0;
                if (bitDepth == 1 && (paletted || colourType == PNG_COLOR_TYPE_GRAY)) {
                  depth = 1;
                } else if (paletted && (bitDepth == 2 || bitDepth == 4)) {
                  depth = 4;
                  layout.repack2To4 = bitDepth == 2;
                } else if (paletted && bitDepth == 8) {
                  depth = 8;
                } else if (colourType == PNG_COLOR_TYPE_GRAY) {
                  depth = 8;
                } else if (colourType == PNG_COLOR_TYPE_RGB) {
                  depth = 24;
                } else if (colourType & PNG_COLOR_MASK_ALPHA) {
                  depth = 32;
                  if (colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
                  AddAlpha(png, info, colourType, 255);
                } else {
                  return Fail(IS_ERR_BITDEPTH);
                }
                if (!SetupDepthAndPalette(png, info, layout.dibPalette, depth, bitDepth, colourType))
                  return Fail(IS_ERR_BITDEPTH);
                png_set_strip_16(png);
                if (!(colourType & PNG_COLOR_MASK_ALPHA)) SetupBackground(png, info);
                RecordFileBackground(png, info);
                png_set_bgr(png);
                layout.dibDepth = depth;
                layout.rowBytes = PackedRowBytes(w, layout.repack2To4 ? 2 : depth);
                return true;
              });
}

HGLOBAL CISPNGCodec::ReadPNGRGBA(CISIO& source, DWORD* width, DWORD* height, uint32_t filler, bool keep16,
                                 DWORD options) {
  error = IS_ERR_OK;
  ClearTextsRead();
  const bool dib = (options & kPNGReadAsStored) != 0;
  if (dib && keep16) return Fail(IS_ERR_BADPARAM), nullptr;
  return Read(source, width, height, options,
              [&](png_structp png, png_infop info, uint32_t w, int bitDepth, int colourType, Layout& layout) {
                RecordFileBackground(png, info);
                if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_expand(png);
                if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand(png);
                if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
                  png_set_gray_to_rgb(png);
                if (keep16)
                  png_set_swap(png);
                else
                  png_set_strip_16(png);
                AddAlpha(png, info, colourType, filler);
                if (dib) {
                  png_set_bgr(png);
                  layout.dibDepth = 32;
                }
                layout.rowBytes = uint64_t{w} * 4 * (keep16 ? 2 : 1);
                return true;
              });
}

HGLOBAL CISPNGCodec::ReadPNGGreyAlpha(CISIO& source, DWORD* width, DWORD* height, uint32_t filler, DWORD options) {
  error = IS_ERR_OK;
  ClearTextsRead();
  return Read(source, width, height, options,
              [&](png_structp png, png_infop info, uint32_t w, int bitDepth, int colourType, Layout& layout) {
                RecordFileBackground(png, info);
                if (colourType != PNG_COLOR_TYPE_GRAY && colourType != PNG_COLOR_TYPE_GRAY_ALPHA)
                  return Fail(IS_ERR_BITDEPTH);
                if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand(png);
                png_set_strip_16(png);
                AddAlpha(png, info, colourType, filler & 0xFF);
                layout.rowBytes = uint64_t{w} * 2;
                return true;
              });
}
