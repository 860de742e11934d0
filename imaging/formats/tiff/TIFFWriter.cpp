// The TIFF writer's steps: opening a page with its depth tags, the common tags, the rows as
// scanlines or tiles, and closing.
#include <cstdio>
#include <cstring>
#include <string>

#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISPixelHelpers.h"
#include "imaging/core/ISRotate.h"
#include "imaging/formats/tiff/CISTIFFWriter.h"
#include "imaging/formats/tiff/TIFFClient.h"
#include "imaging/formats/tiff/TIFFExifBlock.h"

CISTIFFWriter::CISTIFFWriter() {
  for (int v = 0; v < 256; ++v) table16[v] = static_cast<uint16_t>(257 * v);
}

void TIFFWriterRecordDeleter::operator()(TIFFWriterRecord* record) const {
  if (record && record->tif) CloseTIFFClient(record->tif);
  delete record;
}

namespace {

bool OneOf(DWORD value, std::initializer_list<DWORD> list) {
  for (DWORD v : list)
    if (v == value) return true;
  return false;
}

void SetColourMap(CISTIFFWriter& c, TIFF* tif, const RGBQUAD* palette, uint32_t entries) {
  uint16_t red[256], green[256], blue[256];
  for (uint32_t i = 0; i < entries; ++i) {
    red[i] = c.table16[palette[i].rgbRed];
    green[i] = c.table16[palette[i].rgbGreen];
    blue[i] = c.table16[palette[i].rgbBlue];
  }
  TIFFSetField(tif, TIFFTAG_COLORMAP, red, green, blue);
}

// The depth's tags; returns the compression actually used, or 0 for an unknown layout.
DWORD SetDepthTags(CISTIFFWriter& context, TIFF* tif, const RGBQUAD* palette, TIFFLayout layout, DWORD compression,
                   DWORD flags, bool* ok) {
  *ok = true;
  DWORD c = compression;
  uint16_t samples = 1, bits = 8;
  bool jpegExtras = false, predictor = true;
  // The sample layout first: libtiff sizes the colour map by the bits per sample.
  switch (layout) {
    case TIFFLayout::kRGB24: samples = 3; break;
    case TIFFLayout::kRGBA32: samples = 4; break;
    case TIFFLayout::kGrey16: bits = 16; break;
    case TIFFLayout::k4Bit: bits = 4; break;
    case TIFFLayout::k1Bit: bits = 1; break;
    default: break;
  }
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  switch (layout) {
    case TIFFLayout::kRGB24:
    case TIFFLayout::kRGBA32:
      if (OneOf(c, {0, 2, 3, 4, 32771})) c = COMPRESSION_NONE;
      samples = layout == TIFFLayout::kRGB24 ? 3 : 4;
      if (layout == TIFFLayout::kRGB24) {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
      } else if (flags & kTIFFWriteCMYK) {
        TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
      } else {
        const uint16_t extra[1] = {EXTRASAMPLE_ASSOCALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
      }
      jpegExtras = c == COMPRESSION_JPEG;
      break;
    case TIFFLayout::kGrey16:
      // JPEG holds no 16-bit samples: such pages are written uncompressed.
      if (OneOf(c, {0, 2, 3, 4, COMPRESSION_JPEG})) c = COMPRESSION_NONE;
      bits = 16;
      TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
      break;
    case TIFFLayout::k8Bit:
    case TIFFLayout::k4Bit: {
      bits = layout == TIFFLayout::k8Bit ? 8 : 4;
      // JPEG holds no 4-bit samples: such pages keep their palette and are uncompressed.
      if (OneOf(c, {0, 2, 3, 4}) || (bits == 4 && c == COMPRESSION_JPEG)) c = COMPRESSION_NONE;
      if (c == COMPRESSION_JPEG || (flags & kTIFFWriteGrey)) {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
      } else {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
        SetColourMap(context, tif, palette, 1u << bits);
      }
      jpegExtras = c == COMPRESSION_JPEG;
      predictor = bits == 8;  // no horizontal differencing of 4-bit samples
      break;
    }
    case TIFFLayout::k1Bit:
      if (OneOf(c, {0, COMPRESSION_JPEG})) c = COMPRESSION_NONE;
      bits = 1;
      TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                   (flags & kTIFFWriteBlackIsZero) ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_MINISWHITE);
      predictor = false;
      break;
    default:
      *ok = false;
      return 0;
  }
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, static_cast<uint16_t>(c));
  if (jpegExtras) {
    const ISThreadState* ts = GetThreadState();
    TIFFSetField(tif, TIFFTAG_JPEGQUALITY, ts ? ts->tiff.jpegQuality : 75);
    TIFFSetField(tif, TIFFTAG_JPEGTABLESMODE, 0);
  }
  if (predictor && (flags & kTIFFWritePredictor) && OneOf(c, {COMPRESSION_LZW, COMPRESSION_DEFLATE,
                                                               COMPRESSION_ADOBE_DEFLATE}))
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  return c;
}

}  // namespace

TIFFWriterHandle OpenTIFFWriter(CISTIFFWriter& context, CISIO& stream, DWORD width, DWORD height,
                                const RGBQUAD* palette, TIFFLayout layout, DWORD compression, DWORD flags) {
  if (width == 0 || height == 0) return context.error = IS_ERR_BADPARAM, nullptr;
  const bool needsPalette = (layout == TIFFLayout::k4Bit || layout == TIFFLayout::k8Bit) &&
                            !(flags & kTIFFWriteGrey) && compression != COMPRESSION_JPEG;
  if (needsPalette && !palette) return context.error = IS_ERR_BADPARAM, nullptr;
  if (flags & kTIFFWriteAppend) {
    // A page is appended to the TIFF already in the sink. A file or memory sink that holds
    // nothing has lost (or never had) the earlier pages: opening a file sink empties the file.
    const uint32_t kind = stream.IsValid() ? stream.Handle()->kind : kIOClosed;
    uint32_t size = 0;
    if ((kind == kIOFile || kind == kIOMemory) && (!stream.GetSize(&size) || size == 0))
      return context.error = IS_ERR_BADPARAM, nullptr;
  }
  TIFFWriterHandle record(new (std::nothrow) TIFFWriterRecord);
  if (!record) return context.error = IS_ERR_NOMEM, nullptr;
  record->tif = OpenTIFFClient(stream, (flags & kTIFFWriteAppend) ? "a" : "wW");
  if (!record->tif) return context.error = IS_ERR_BADTIFF, nullptr;
  record->height = height;
  bool ok = false;
  const DWORD c = SetDepthTags(context, record->tif, palette, layout, compression, flags, &ok);
  if (!ok) return context.error = IS_ERR_BADPARAM, nullptr;
  static const uint32_t kBits[] = {1, 4, 8, 16, 24, 32};
  record->bits = kBits[static_cast<int>(layout)];
  SetTIFFCommonTags(context, record->tif, width, height, c, flags);
  if (const ISThreadState* ts = GetThreadState())
    WriteTIFFExifBlock(record->tif, TIFFClientOf(record->tif)->io, ts->tiff.exif);
  return record;
}

void SetTIFFCommonTags(CISTIFFWriter& context, TIFF* tif, DWORD width, DWORD height, DWORD compression, DWORD flags) {
  const ISThreadState* ts = GetThreadState();
  static const ISTIFFOptions kDefaults;
  static const ISArray<unsigned char> kNone;
  const ISTIFFOptions& options = ts ? ts->tiff : kDefaults;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, static_cast<uint16_t>(options.orientation));
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, static_cast<uint16_t>(context.resolutionUnit));
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<double>(static_cast<float>(context.resolutionX)));
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<double>(static_cast<float>(context.resolutionY)));
  if (options.softwareFlag) {
    TIFFSetField(tif, TIFFTAG_SOFTWARE, options.software.c_str());
  } else {
    char text[1024];
    std::snprintf(text, sizeof text, "RovIrirev (%s), using %s", ts ? ts->text.strings[3].c_str() : "",
                  TIFFGetVersion());
    TIFFSetField(tif, TIFFTAG_SOFTWARE, text);
  }
  if (flags & kTIFFWriteTiles) context.tiled = true;
  if (context.tiled) {
    uint32_t tileWidth = options.tileWidth, tileLength = options.tileLength;
    TIFFDefaultTileSize(tif, &tileWidth, &tileLength);
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, tileWidth);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, tileLength);
  } else {
    uint32_t rows = options.rowsPerStrip == -1 ? TIFFDefaultStripSize(tif, 0)
                    : options.rowsPerStrip >= 1 ? static_cast<uint32_t>(options.rowsPerStrip)
                                                : 1u;
    if (compression == COMPRESSION_JPEG) rows = height;
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows);
  }
  SetTIFFArrayTag(tif, TIFFTAG_XMLPACKET, ts ? ts->tiff.xmp : kNone);
  SetTIFFArrayTag(tif, 32932, ts ? ts->tiff.tag32932 : kNone);
  SetTIFFArrayTag(tif, TIFFTAG_RICHTIFFIPTC, ts ? ts->tiff.iptc : kNone);
  SetTIFFArrayTag(tif, TIFFTAG_ICCPROFILE, ts ? ts->iccProfile : kNone);
  SetTIFFArrayTag(tif, TIFFTAG_PHOTOSHOP, ts ? ts->tiff.photoshopResources : kNone);
  WriteTIFFTags(tif);
}

BOOL WriteTIFFScanline(TIFFWriterRecord* record, const BYTE* row, ISErrorCode* error) {
  if (!record || !row) return *error = IS_ERR_BADPARAM, FALSE;
  if (record->nextLine == record->height) return *error = IS_ERR_SINGLELINE, FALSE;
  if (TIFFWriteScanline(record->tif, const_cast<BYTE*>(row), record->nextLine, 0) < 0)
    return *error = IS_ERR_WRITE, FALSE;
  ++record->nextLine;
  return TRUE;
}

namespace {

// The source rows top first: the pixels themselves, or a copy turned over for bottom-up rows.
const BYTE* TopFirstSource(const BYTE* pixels, uint64_t rowBytes, DWORD height, bool bottomUp,
                           ISArray<uint8_t>& copy) {
  if (!bottomUp) return pixels;
  if (!ResizeScratch(copy, rowBytes * height)) return nullptr;
  for (DWORD y = 0; y < height; ++y)
    std::memcpy(copy.Data() + y * rowBytes, pixels + (height - 1 - y) * rowBytes, rowBytes);
  return copy.Data();
}

// Writes every tile; paste(e, tile, tile width, tile length, tile row bytes, x, y, source)
// places the rows (top first: the pixels, or a turned copy of bottom-up ones) at (-x, -y) on the
// zeroed tile buffer, as a nested call whose own error is dropped.
template <typename Paste>
ISErrorCode WriteTiles(TIFF* tif, const BYTE* pixels, uint64_t rowBytes, DWORD width, DWORD height, bool bottomUp,
                       Paste&& paste) {
  ISArray<uint8_t> copy;
  const BYTE* source = TopFirstSource(pixels, rowBytes, height, bottomUp, copy);
  if (!source) return IS_ERR_NOMEM;
  uint32_t tileWidth = 0, tileLength = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
  const tmsize_t tileSize = TIFFTileSize(tif);
  const tmsize_t tileRow = TIFFTileRowSize(tif);
  ISArray<uint8_t> tile;
  if (tileWidth == 0 || tileLength == 0 || tileSize <= 0 || !ResizeScratch(tile, static_cast<uint64_t>(tileSize)))
    return IS_ERR_NOMEM;
  for (uint32_t y = 0; y < height; y += tileLength)
    for (uint32_t x = 0; x < width; x += tileWidth) {
      std::memset(tile.Data(), 0, static_cast<size_t>(tileSize));
      {
        ISNestedCall nested;
        ISErrorCode e = IS_ERR_OK;
        paste(e, tile.Data(), tileWidth, tileLength, static_cast<DWORD>(tileRow), x, y, source);
      }
      if (TIFFWriteTile(tif, tile.Data(), x, y, 0, 0) < 0) return IS_ERR_WRITE;
    }
  return IS_ERR_OK;
}

// Writes the rows top first, one scanline each, through a scratch copy of the row that
// fixRow(row) may change in place; progress after each row.
template <typename FixRow>
ISErrorCode WriteScanlines(TIFFWriterRecord* record, const BYTE* pixels, uint64_t rowBytes, DWORD height,
                           bool bottomUp, FixRow&& fixRow) {
  ISArray<uint8_t> row;
  if (!ResizeScratch(row, rowBytes)) return IS_ERR_NOMEM;
  for (DWORD y = 0; y < height; ++y) {
    std::memcpy(row.Data(), pixels + uint64_t{bottomUp ? height - 1 - y : y} * rowBytes, rowBytes);
    fixRow(row.Data());
    ISErrorCode error = IS_ERR_OK;
    if (!WriteTIFFScanline(record, row.Data(), &error)) return error;
    if (!ReportProgress(y, height)) return IS_ERR_STOPPED;
  }
  return IS_ERR_OK;
}

}  // namespace

ISErrorCode WriteTIFFRows(CISTIFFWriter& context, TIFFWriterRecord* record, const BYTE* pixels, DWORD rowBytes,
                          DWORD width, DWORD height, bool swapRedBlue, bool bottomUp) {
  if (!record || !pixels) return IS_ERR_BADPARAM;
  const uint32_t bits = record->bits;
  const bool swap = swapRedBlue && (bits == 24 || bits == 32);
  if (!context.tiled) {
    return WriteScanlines(record, pixels, rowBytes, height, bottomUp, [&](BYTE* row) {
      if (swap) {
        if (bits == 24)
          SwapRB24Run(row, width, 1);
        else
          SwapRB32Run(row, width, 1);
      }
    });
  }
  const auto paste = [&](ISErrorCode& e, BYTE* tile, uint32_t tw, uint32_t tl, DWORD tileRow, uint32_t x, uint32_t y,
                         const BYTE* source) {
    const LONG px = -static_cast<LONG>(x), py = -static_cast<LONG>(y);
    if (bits == 1)
      PasteRect1Bit(e, tile, tw, tl, tileRow, source, width, height, rowBytes, px, py, 0);
    else if (bits == 4)
      PasteRect4Bit(e, tile, tw, tl, tileRow, source, width, height, rowBytes, px, py, 0);
    else
      PasteRect8(e, tile, tw, tl, source, width, height, px, py, 1.0, bits / 8, tileRow, rowBytes, 1);
    if (swap) {
      if (bits == 24)
        SwapRB24Run(tile, tw, tl);
      else
        SwapRB32Run(tile, tw, tl);
    }
  };
  return WriteTiles(record->tif, pixels, rowBytes, width, height, bottomUp, paste);
}

ISErrorCode WriteTIFFRows16(CISTIFFWriter& context, TIFFWriterRecord* record, const BYTE* pixels, DWORD width,
                            DWORD height, bool bottomUp) {
  if (!record || !pixels) return IS_ERR_BADPARAM;
  const uint64_t rowBytes = uint64_t{width} * 2;
  if (!context.tiled) return WriteScanlines(record, pixels, rowBytes, height, bottomUp, [](BYTE*) {});
  const auto paste = [&](ISErrorCode& e, BYTE* tile, uint32_t tw, uint32_t tl, DWORD tileRow, uint32_t x, uint32_t y,
                         const BYTE* source) {
    PasteRect16(e, reinterpret_cast<uint16_t*>(tile), tw, tl, reinterpret_cast<const uint16_t*>(source), width, height,
                -static_cast<LONG>(x), -static_cast<LONG>(y), 1.0, 1, tileRow / 2, width, 1);
  };
  return WriteTiles(record->tif, pixels, rowBytes, width, height, bottomUp, paste);
}

BOOL CloseTIFFWriter(CISTIFFWriter& context, TIFFWriterHandle record) {
  if (!record) return context.error = IS_ERR_BADPARAM, FALSE;
  // The directory is written here; a sink that refuses it fails the write.
  const bool flushed = TIFFFlush(record->tif) != 0;
  record.reset();
  context.error = flushed ? IS_ERR_OK : IS_ERR_WRITE;
  return flushed ? TRUE : FALSE;
}

namespace {

DWORD WritePage(CISTIFFWriter& c, CISIO& s, const BYTE* pixels, DWORD width, DWORD height, const RGBQUAD* palette,
                TIFFLayout layout, DWORD rowBytes, DWORD compression, DWORD flags) {
  TIFFWriterHandle record = OpenTIFFWriter(c, s, width, height, palette, layout, compression, flags);
  if (!record) return 0;
  const bool bottomUp = flags & kTIFFWriteBottomUp;
  const ISErrorCode rows =
      layout == TIFFLayout::kGrey16
          ? WriteTIFFRows16(c, record.get(), pixels, width, height, bottomUp)
          : WriteTIFFRows(c, record.get(), pixels, rowBytes, width, height, flags & kTIFFWriteSwapRB, bottomUp);
  if (rows != IS_ERR_OK) {
    CloseTIFFWriter(c, std::move(record));
    c.error = rows;
    return 0;
  }
  if (!CloseTIFFWriter(c, std::move(record))) return 0;
  uint32_t size = 0;
  if (!s.GetSize(&size) || size == 0) size = 1;  // written; the sink cannot tell its size
  return size;
}

}  // namespace

DWORD WriteTIFF1(CISTIFFWriter& c, CISIO& s, const BYTE* pixels, DWORD width, DWORD height, DWORD compression,
                 DWORD flags) {
  return WritePage(c, s, pixels, width, height, nullptr, TIFFLayout::k1Bit, (width + 7) / 8, compression, flags);
}

DWORD WriteTIFF4(CISTIFFWriter& c, CISIO& s, const BYTE* pixels, DWORD width, DWORD height, const RGBQUAD* palette,
                 DWORD compression, DWORD flags) {
  return WritePage(c, s, pixels, width, height, palette, TIFFLayout::k4Bit, (width + 1) / 2, compression, flags);
}

DWORD WriteTIFF8(CISTIFFWriter& c, CISIO& s, const BYTE* pixels, DWORD width, DWORD height, const RGBQUAD* palette,
                 DWORD compression, DWORD flags) {
  return WritePage(c, s, pixels, width, height, palette, TIFFLayout::k8Bit, width, compression, flags);
}

DWORD WriteTIFF16(CISTIFFWriter& c, CISIO& s, const BYTE* pixels, DWORD width, DWORD height, DWORD compression,
                  DWORD flags) {
  return WritePage(c, s, pixels, width, height, nullptr, TIFFLayout::kGrey16, width * 2, compression, flags);
}

DWORD WriteTIFFRGB(CISTIFFWriter& c, CISIO& s, const BYTE* pixels, DWORD width, DWORD height, DWORD bits,
                   DWORD compression, DWORD flags) {
  if (bits != 24 && bits != 32) return c.error = IS_ERR_BADPARAM, 0;
  return WritePage(c, s, pixels, width, height, nullptr, bits == 24 ? TIFFLayout::kRGB24 : TIFFLayout::kRGBA32,
                   width * (bits / 8), compression, flags);
}
