// The four PNG readers: a requested depth with a palette or composited colours, the file as a
// packed DIB, RGBA, and grey with alpha. One course for all: libpng's header, the reader's
// transformations, gamma, a check of the row size libpng will deliver, the buffer, every row
// of every pass with progress, the chunks after the image data and the text chunks.
// Errors: 1, 5, 14, 15, 16, 17, 28; a failed read frees its buffer and returns null.
//
// Before anything is allocated for the picture, the decode budget judges its size against the
// image data the source holds. A file damaged in or after its image data (cut short, a chunk
// with a bad CRC, a broken deflate stream, no IEND) still gives its picture: the rows decoded
// before the damage as decoded, every pixel no row delivered in mid grey, and the decoder's
// words for ISGetLastWarning. Damage before the image data starts is error 15.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "imaging/core/CISMemBlock.h"
#include "imaging/core/ISContainers.h"
#include "imaging/core/ISDecodeBudget.h"
#include "imaging/core/ISDIB.h"
#include "imaging/core/ISPixelHelpers.h"
#include "imaging/core/ISSizeMath.h"
#include "imaging/formats/ConvertResolution.h"
#include "imaging/formats/png/CISPNGCodec.h"

namespace {

using RovIrirev::BudgetMultiply;
using RovIrirev::CheckDecodeBudget;
using RovIrirev::DecodeMemoryLimit;
using RovIrirev::ISException;
using RovIrirev::kUnboundedData;

// What libpng holds for one read (its structures, zlib's state, row buffers, ancillary chunks
// and their texts), counted through its allocation hooks. Until the budget has judged the
// picture, the limit is the tables' share of the codec memory limit; then it is the limit for
// the area allowed. An allocation past it fails: libpng skips an ancillary chunk it cannot
// hold, with a warning, and fails the read for anything else.
struct PNGMemory {
  uint64_t used = 0;
  uint64_t limit = DecodeMemoryLimit(0);
};

constexpr size_t kAllocHeader = alignof(std::max_align_t);  // keeps each block's size

png_voidp PNGAllocate(png_structp png, png_alloc_size_t size) {
  auto* memory = static_cast<PNGMemory*>(png_get_mem_ptr(png));
  if (!memory || size > memory->limit - memory->used || memory->limit - memory->used - size < kAllocHeader)
    return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(size + kAllocHeader));
  if (!block) return nullptr;
  std::memcpy(block, &size, sizeof size);
  memory->used += size + kAllocHeader;
  return block + kAllocHeader;
}

void PNGRelease(png_structp png, png_voidp pointer) {
  if (!pointer) return;
  unsigned char* block = static_cast<unsigned char*>(pointer) - kAllocHeader;
  png_alloc_size_t size = 0;
  std::memcpy(&size, block, sizeof size);
  if (auto* memory = static_cast<PNGMemory*>(png_get_mem_ptr(png))) memory->used -= size + kAllocHeader;
  std::free(block);
}

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

constexpr png_alloc_size_t kMaxChunkBytes = kPNGMaxChunkBytes;
constexpr png_uint_32 kMaxCachedChunks = 256;

uint64_t PackedRowBytes(uint64_t width, uint64_t bits) { return (width * bits + 7) / 8; }

// Deflate stores at most 258 bytes in two bits: image data can never inflate to more than
// 1032 times its stored size.
constexpr uint64_t kMaxInflateRatio = 1032;
constexpr uint64_t kUnknownSize = UINT64_MAX;

uint32_t Get32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// An absolute position of up to 4 GB through the source's signed 32-bit seeks.
bool SeekTo(CISIO& source, uint64_t position) {
  int32_t origin = IS_SEEK_SET;
  do {
    const uint64_t step = std::min<uint64_t>(position, INT32_MAX);
    if (!source.Seek(static_cast<int32_t>(step), origin)) return false;
    position -= step;
    origin = IS_SEEK_CUR;
  } while (position > 0);
  return true;
}

// The image data bytes the source holds: the payloads of the run of IDAT chunks whose first
// header libpng has just read, each counted as far as it lies inside the source. Only the
// chunk headers are read; the walk ends at the first chunk that is not IDAT or does not fit,
// and the source is put back where it was. kUnknownSize when the source cannot say.
uint64_t StoredImageDataBytes(CISIO& source) {
  uint32_t size = 0, start = 0;
  if (!source.GetSize(&size) || !source.Tell(&start) || start < 8 || start > size) return kUnknownSize;
  uint64_t total = 0;
  uint64_t header = uint64_t{start} - 8;
  uint8_t bytes[8];
  bool first = true;
  while (header + 8 <= size && SeekTo(source, header) && source.ReadExact(bytes, 8) &&
         std::memcmp(bytes + 4, "IDAT", 4) == 0) {
    first = false;
    const uint64_t data = header + 8, length = Get32(bytes);
    if (length > size - data) {
      total += size - data;
      break;
    }
    total += length;
    header = data + length + 4;
  }
  if (!SeekTo(source, start)) throw ISException(IS_ERR_BADPNG, "seek");
  return first ? kUnknownSize : total;
}

// The most pixels `dataBytes` of image data could give: every stored row is a filter byte and
// the row's packed samples.
uint64_t ImageDataPixels(uint64_t dataBytes, uint64_t width, uint64_t channels, uint64_t bitDepth) {
  if (dataBytes == kUnknownSize) return kUnboundedData;
  const uint64_t storedRow = 1 + (width * channels * bitDepth + 7) / 8;  // below 2^38 for sides below 2^31
  return BudgetMultiply(BudgetMultiply(dataBytes, kMaxInflateRatio) / storedRow, width);
}

// One row of the layout's filling for what a damaged file cannot give (see Layout).
std::vector<BYTE> FillRow(const CISPNGCodec::Layout& layout, uint64_t width) {
  std::vector<BYTE> row(layout.rowBytes, 128);
  if (layout.indexBits) {
    uint32_t best = 0, bestDistance = UINT32_MAX;
    const uint32_t colours = std::min<uint32_t>({layout.paletteColours, 256u, 1u << layout.indexBits});
    for (uint32_t i = 0; layout.palette && i < colours; ++i) {
      const RGBQUAD& e = layout.palette[i];
      const int r = e.rgbRed - 128, g = e.rgbGreen - 128, b = e.rgbBlue - 128;
      const uint32_t distance = static_cast<uint32_t>(r * r + g * g + b * b);
      if (distance < bestDistance) {
        best = i;
        bestDistance = distance;
      }
    }
    uint32_t byte = 0;
    for (uint32_t bit = 0; bit < 8; bit += layout.indexBits) byte = (byte << layout.indexBits) | best;
    std::fill(row.begin(), row.end(), static_cast<BYTE>(byte));
    const uint64_t used = (width * layout.indexBits) % 8;  // the last byte's pixel bits
    if (used && !row.empty()) row.back() = static_cast<BYTE>(row.back() & (0xFF << (8 - used)));
  } else if (layout.alphaBytes && width) {
    const uint64_t pixel = layout.rowBytes / width;
    for (uint64_t end = pixel; end <= row.size(); end += pixel)
      std::fill(row.begin() + static_cast<long>(end - layout.alphaBytes), row.begin() + static_cast<long>(end), 0xFF);
  }
  return row;
}

// The warning of a file damaged in its image data: libpng's words, plainer for a source that
// ended early.
void WarnDamaged(CISIO& source, const char* message) {
  uint32_t size = 0, position = 0;
  if (message && std::strcmp(message, "read Error") == 0 && source.GetSize(&size) && source.Tell(&position) &&
      position >= size)
    message = "PNG file ended early";
  ReplaceLastWarning(message && *message ? message : "PNG image data damaged");
}

// Why a file that libpng stopped before its image data is refused, in plainer words where
// libpng's own name a missing chunk or a damaged header.
std::string RefusalReason(png_structp png, png_infop info, CISIO& source, const char* message) {
  const std::string said = message ? message : "";
  const bool header = png && info && png_get_image_width(png, info) != 0;
  uint32_t size = 0, position = 0;
  if (said == "read Error" && source.GetSize(&size) && source.Tell(&position) && position >= size)
    return header ? "PNG file ended before its image data (no IDAT chunk)" : "PNG file ended in its header";
  if (said == "IDAT: Missing PLTE before IDAT") return "PNG with a palette has no PLTE chunk";
  if (said == "IEND: out of place" && header) return "PNG has no image data (no IDAT chunk)";
  if (said == "IDAT: Missing IHDR before IDAT") return "PNG has no header (IHDR chunk)";
  if (said.compare(0, 6, "IHDR: ") == 0) return "PNG header (IHDR chunk) damaged: " + said.substr(6);
  if (said == "Invalid IHDR data") {
    // libpng has already said which field it did not accept.
    const std::string field = ISGetLastWarning();
    return "PNG header (IHDR chunk) damaged: " + (field.empty() ? said : field);
  }
  return said;
}

}  // namespace

template <typename Setup>
HGLOBAL CISPNGCodec::Read(CISIO& source, DWORD* width, DWORD* height, DWORD options, Setup&& setup) {
  ISThreadState* ts = GetThreadState();
  if (!ts) return Fail(IS_ERR_NOSTATE), nullptr;
  ts->metadataRead.Clear();
  PNGMemory memory;  // outlives the structures, whose release it counts
  PNGReadHandles h;
  ISOwnedBlock block;
  std::vector<ISKeyTextPair> texts;
  try {
    h.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, PNGErrorHook, PNGReadWarningHook, &memory,
                                     PNGAllocate, PNGRelease);
    if (!h.png) return Fail(IS_ERR_PNGINTERNAL), nullptr;
    h.info = png_create_info_struct(h.png);
    if (!h.info) return Fail(IS_ERR_PNGINTERNAL), nullptr;

    png_set_read_fn(h.png, &source, PNGReadCallback);
    // No limit of libpng's own on the sides (a million pixels by default): the budget below
    // judges the picture, and until it has, libpng may allocate no more than its tables need.
    png_set_user_limits(h.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_chunk_malloc_max(h.png, kMaxChunkBytes);
    png_set_chunk_cache_max(h.png, kMaxCachedChunks);
    // iTXt chunks come whole, so that an XMP packet is inflated within its own limit.
    static const png_byte kWhole[] = {'i', 'T', 'X', 't', 0};
    png_set_keep_unknown_chunks(h.png, PNG_HANDLE_CHUNK_ALWAYS, kWhole, 1);
    png_read_info(h.png, h.info);
    KeepPNGProfile(h.png, h.info);
    png_uint_32 w = 0, rows = 0;
    int bitDepth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(h.png, h.info, &w, &rows, &bitDepth, &colourType, &interlace, nullptr, nullptr);

    // The picture must be one the image data could give (about half of it for a cut file). The
    // rows go straight into the caller's layout, every pass of an interlaced file too, so the
    // area read is the picture. A source that cannot tell its size holds no known data: the
    // ceiling alone then holds, and nothing above it is read.
    const uint64_t dataBytes = StoredImageDataBytes(source);
    CheckDecodeBudget(IS_ERR_BADPNG, w, rows,
                      ImageDataPixels(dataBytes, w, png_get_channels(h.png, h.info), static_cast<uint64_t>(bitDepth)),
                      dataBytes == kUnknownSize ? 0 : dataBytes);
    // libpng keeps two rows of up to 8 bytes a pixel, which a picture of one row must be
    // allowed too.
    memory.limit = DecodeMemoryLimit(uint64_t{w} * std::max<png_uint_32>(rows, 2));
    // From here on the header is whole: a CRC error in the image data (or a later critical
    // chunk) is a warning, and the data is used as it stands.
    png_set_crc_action(h.png, PNG_CRC_WARN_USE, PNG_CRC_DEFAULT);

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

    // What a damaged file never delivers is the filling. An interlaced file's passes write only
    // their own pixels, so there every pixel starts as the filling; otherwise each row comes
    // whole, and only the rows after the damage are filled.
    const std::vector<BYTE> fill = FillRow(layout, w);
    const auto fillFrom = [&](uint64_t first) {
      for (uint64_t y = first; y < rows; ++y) std::memcpy(rowAt(static_cast<uint32_t>(y)), fill.data(), fill.size());
    };
    if (passes > 1) fillFrom(0);

    uint64_t k = 0;
    uint64_t reported = UINT64_MAX;
    bool damaged = false;
    try {
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
    } catch (const ISException& e) {
      if (e.Code()) throw;
      // libpng's state is not to be used after its error: the picture is what was read.
      WarnDamaged(source, e.what());
      damaged = true;
      if (passes == 1) fillFrom(k);  // k rows were delivered
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
    if (!damaged) {
      try {
        png_read_end(h.png, h.info);
      } catch (const ISException& e) {
        if (e.Code()) throw;
        WarnDamaged(source, e.what());  // every row is whole: only what follows them is lost
      }
    }
    CaptureTextChunks(h.png, h.info, texts);
    KeepPNGXMP(h.png, h.info);
    KeepPNGExif(h.png, h.info);
  } catch (const ISException& e) {
    // libpng's own errors carry no code: the file is bad or unreadable.
    if (!e.Code()) ReplaceLastWarning(RefusalReason(h.png, h.info, source, e.what()).c_str());
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
                if (depth <= 8) {
                  layout.indexBits = depth;
                  layout.palette = palette;
                  layout.paletteColours = 1u << std::min(bitDepth, 8);
                }
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
                if (depth <= 8) {
                  layout.indexBits = layout.repack2To4 ? 2 : depth;
                  layout.palette = layout.dibPalette;
                  layout.paletteColours = 1u << std::min(bitDepth, 8);
                }
                layout.alphaBytes = depth == 32 ? 1 : 0;
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
                layout.alphaBytes = keep16 ? 2 : 1;
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
                layout.alphaBytes = 1;
                return true;
              });
}
