// The readers that decode strips and tiles themselves: bilevel, 8-bit index and 16-bit grey.
// Each assembles the page top row first, turns it bottom row first, applies the orientation
// step and lays out the caller's block. A strip or tile is decoded as far as its data goes;
// the rows it could not give keep the fill the reader laid down first, and the read goes on.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISPixelHelpers.h"
#include "imaging/core/ISRotate.h"
#include "imaging/formats/tiff/TIFFRead.h"

namespace {

// Strips of a one-sample page: onStrip(buffer, first row, rows, scanline bytes) with the rows
// of every strip that decoded. Progress after each strip.
template <typename OnStrip>
bool ReadStrips(ISErrorCode& error, TIFF* tif, uint32_t height, OnStrip&& onStrip) {
  const tmsize_t scanline = TIFFScanlineSize(tif);
  uint32_t rowsPerStrip = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  rowsPerStrip = std::max<uint32_t>(1, std::min(rowsPerStrip, height));
  ISArray<uint8_t> buffer, raw;
  uint64_t bytes = 0;
  if (scanline <= 0) return error = IS_ERR_BADTIFF, false;
  if (!ISAllocSize(bytes, static_cast<uint64_t>(scanline), rowsPerStrip) || !ResizeScratch(buffer, bytes))
    return error = IS_ERR_NOMEM, false;
  for (uint32_t row = 0; row < height; row += rowsPerStrip) {
    const uint32_t rows = std::min(rowsPerStrip, height - row);
    const uint32_t done = DecodeTIFFStrile(tif, TIFFComputeStrip(tif, row, 0), rows, buffer.Data(), raw);
    if (TIFFAllocationRefused(error, tif)) return false;
    if (done > 0) onStrip(buffer.Data(), row, done, static_cast<uint64_t>(scanline));
    if (!ProgressOrStop(error, row, height)) return false;
  }
  return true;
}

// Tiles of a one-sample page: onTile(buffer, x, y, tile width, rows decoded, tile row bytes)
// for every tile that decoded. Progress after each row of tiles.
template <typename OnTile>
bool ReadTiles(ISErrorCode& error, TIFF* tif, uint32_t width, uint32_t height, OnTile&& onTile) {
  uint32_t tileWidth = 0, tileLength = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
  const tmsize_t tileSize = TIFFTileSize(tif);
  const tmsize_t tileRow = TIFFTileRowSize(tif);
  if (tileWidth == 0 || tileLength == 0 || tileSize <= 0 || tileRow <= 0 ||
      static_cast<uint64_t>(tileRow) * tileLength > static_cast<uint64_t>(tileSize))
    return error = IS_ERR_BADTIFF, false;
  ISArray<uint8_t> buffer, raw;
  if (!ResizeScratch(buffer, static_cast<uint64_t>(tileSize))) return error = IS_ERR_NOMEM, false;
  for (uint32_t y = 0; y < height; y = (height - y > tileLength) ? y + tileLength : height) {
    for (uint32_t x = 0; x < width; x = (width - x > tileWidth) ? x + tileWidth : width) {
      const uint32_t done = DecodeTIFFStrile(tif, TIFFComputeTile(tif, x, y, 0, 0), tileLength, buffer.Data(), raw);
      if (TIFFAllocationRefused(error, tif)) return false;
      if (done > 0) onTile(buffer.Data(), x, y, tileWidth, done, static_cast<uint64_t>(tileRow));
    }
    if (!ProgressOrStop(error, y, height)) return false;
  }
  return true;
}

// The page's pixels into the picture's rows (top row first) when its stored rows are the
// picture's: strips row for row (a longer scanline cut to the row's bytes), tiles through
// pasteTile(e, tile, x, y, tile width, tile length, tile row bytes), a nested call whose own
// error is dropped.
template <typename PasteTile>
bool ReadPageRows(ISErrorCode& error, const TIFFPageRead& page, TIFFPicture& picture, PasteTile&& pasteTile) {
  const TIFFPageInfo& info = page.info;
  if (info.tiled) {
    return ReadTiles(error, page.tif, info.width, info.height,
                     [&](const uint8_t* tile, uint32_t x, uint32_t y, uint32_t tw, uint32_t tl, uint64_t tileRow) {
                       ISNestedCall nested;
                       ISErrorCode e = IS_ERR_OK;
                       pasteTile(e, tile, x, y, tw, tl, tileRow);
                     });
  }
  const uint64_t rowBytes = picture.RowBytes();
  uint8_t* out = picture.pixels.Data();
  return ReadStrips(error, page.tif, info.height,
                    [&](const uint8_t* strip, uint32_t row, uint32_t rows, uint64_t scanline) {
                      const size_t n = static_cast<size_t>(std::min(scanline, rowBytes));
                      for (uint32_t i = 0; i < rows; ++i)
                        std::memcpy(out + (row + i) * rowBytes, strip + i * scanline, n);
                    });
}

bool FlipToBottomUp(ISErrorCode& error, TIFFPicture& p) {
  ISNestedCall nested;
  ISErrorCode e = IS_ERR_OK;
  if (!FlipVertical(e, p.pixels.Data(), static_cast<uint32_t>(p.RowBytes()), p.height)) return error = e, false;
  return true;
}

// The index whose colour lies nearest mid grey: what rows that cannot be decoded are filled
// with, as a cut JPEG file's missing blocks decode to 128 in every sample.
uint8_t MidGreyIndex(const RGBQUAD* table, uint32_t bits) {
  const int count = bits < 8 ? 1 << bits : 256;  // the indexes the page can hold
  int best = 0, bestDistance = INT32_MAX;
  for (int i = 0; i < count; ++i) {
    const int r = table[i].rgbRed - 128, g = table[i].rgbGreen - 128, b = table[i].rgbBlue - 128;
    const int distance = r * r + g * g + b * b;
    if (distance < bestDistance) best = i, bestDistance = distance;
  }
  return static_cast<uint8_t>(best);
}

bool IsCCITT(uint16_t compression) {
  return compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3 ||
         compression == COMPRESSION_CCITTFAX4 || compression == COMPRESSION_CCITTRLEW;
}

}  // namespace

void* ReadTIFFBilevel(ISErrorCode& error, TIFFPageRead& page, RGBQUAD* palette, uint32_t* width, uint32_t* height) {
  const bool dib = page.flags & kTIFFAsStored;
  const TIFFPageInfo& info = page.info;
  if (!dib && !palette) return error = IS_ERR_BADPARAM, nullptr;
  if (info.bitsPerSample != 1) return error = IS_ERR_BITDEPTH, nullptr;
  // One sample per pixel: a second (colour or extra) sample would widen the stored rows.
  if (info.samplesPerPixel != 1) return error = IS_ERR_BITDEPTH, nullptr;
  uint16_t photometric = info.photometric;
  if (!info.hasPhotometric) photometric = IsCCITT(info.compression) ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK;

  TIFFPicture picture;
  if (!picture.Allocate(info.width, info.height, 1)) return error = IS_ERR_NOMEM, nullptr;
  const uint64_t rowBytes = picture.RowBytes();
  uint8_t* out = picture.pixels.Data();
  // Rows that cannot be decoded come back white, the nearer of the two levels to mid grey.
  if (photometric == PHOTOMETRIC_MINISBLACK) std::memset(out, 0xFF, rowBytes * info.height);
  const auto pasteTile = [&](ISErrorCode& e, const uint8_t* tile, uint32_t x, uint32_t y, uint32_t tw, uint32_t tl,
                             uint64_t tileRow) {
    PasteRect1Bit(e, out, info.width, info.height, static_cast<DWORD>(rowBytes), tile, tw, tl,
                  static_cast<DWORD>(tileRow), static_cast<LONG>(x), static_cast<LONG>(y), 0);
  };
  if (!ReadPageRows(error, page, picture, pasteTile)) return nullptr;
  if (!(page.flags & kTIFFBilevelTopFirst) && !FlipToBottomUp(error, picture)) return nullptr;
  if (!OrientTIFFPicture(error, picture, page.Orientation(), dib)) return nullptr;
  if (photometric == PHOTOMETRIC_MINISBLACK) {
    uint8_t* p = picture.pixels.Data();
    const uint64_t n = picture.RowBytes() * picture.height;
    for (uint64_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(~p[i]);
  }
  RGBQUAD table[2] = {{255, 255, 255, 0}, {0, 0, 0, 0}};
  if (!dib) std::memcpy(palette, table, sizeof table);
  return FinishTIFFPicture(error, page.tif, picture, dib, false, table, 2, width, height);
}

bool MakeTIFFPalette(ISErrorCode& error, TIFF* tif, const TIFFPageInfo& info, RGBQUAD* palette) {
  std::memset(palette, 0, 256 * sizeof(RGBQUAD));
  uint16_t photometric = info.hasPhotometric ? info.photometric : PHOTOMETRIC_MINISWHITE;
  if (info.hasColorMap) photometric = PHOTOMETRIC_PALETTE;
  const uint32_t bits = info.bitsPerSample;
  auto grey = [&](uint32_t i, uint32_t v) {
    const auto g = static_cast<BYTE>(photometric == PHOTOMETRIC_MINISBLACK ? v : 255 - v);
    palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = g;
  };
  if ((photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK) && bits > 1) {
    for (uint32_t i = 0; i < 256; ++i) grey(i, i);
    // Pages of 2 to 7 bits: the levels they can hold spread over 0..255.
    if (bits < 8) {
      const uint32_t top = (1u << bits) - 1;
      for (uint32_t i = 0; i <= top; ++i) grey(i, i * 255 / top);
    }
  } else if (bits == 1 && (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK)) {
    grey(0, 0);
    grey(1, 255);
  } else if (photometric == PHOTOMETRIC_PALETTE && bits <= 8) {
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
      return error = IS_ERR_BADTIFF, false;
    const uint32_t count = 1u << bits;
    bool wide = false;
    for (uint32_t i = 0; i < count; ++i) wide = wide || red[i] >= 256 || green[i] >= 256 || blue[i] >= 256;
    for (uint32_t i = 0; i < count; ++i) {
      palette[i].rgbRed = static_cast<BYTE>(wide ? red[i] * 255u / 65535u : red[i] & 0xFF);
      palette[i].rgbGreen = static_cast<BYTE>(wide ? green[i] * 255u / 65535u : green[i] & 0xFF);
      palette[i].rgbBlue = static_cast<BYTE>(wide ? blue[i] * 255u / 65535u : blue[i] & 0xFF);
    }
  }
  return true;
}

void* ReadTIFFPalette(ISErrorCode& error, TIFFPageRead& page, RGBQUAD* palette, uint32_t* width, uint32_t* height) {
  const bool dib = page.flags & kTIFFAsStored;
  const TIFFPageInfo& info = page.info;
  if (!dib && !palette) return error = IS_ERR_BADPARAM, nullptr;
  uint16_t photometric = info.hasPhotometric ? info.photometric : PHOTOMETRIC_MINISWHITE;
  if (info.hasColorMap) photometric = PHOTOMETRIC_PALETTE;
  const uint32_t bits = info.bitsPerSample;
  const bool grey = photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
  if ((photometric == PHOTOMETRIC_RGB && bits >= 8) || photometric == PHOTOMETRIC_SEPARATED ||
      photometric == PHOTOMETRIC_YCBCR || photometric == PHOTOMETRIC_LOGLUV)
    return error = IS_ERR_BITDEPTH, nullptr;
  // One sample per pixel, of 1 to 8 bits, or 16-bit grey scaled down.
  if (info.samplesPerPixel != 1 || bits == 0 || (bits > 8 && !(bits == 16 && grey)))
    return error = IS_ERR_BITDEPTH, nullptr;
  RGBQUAD table[256];
  if (!MakeTIFFPalette(error, page.tif, info, table)) return nullptr;

  TIFFPicture picture;
  if (!picture.Allocate(info.width, info.height, 8)) return error = IS_ERR_NOMEM, nullptr;
  const uint32_t w = info.width;
  uint8_t* out = picture.pixels.Data();
  std::memset(out, MidGreyIndex(table, bits), uint64_t{w} * info.height);
  ISErrorCode unpackError = IS_ERR_OK;
  // One stored row of `count` samples to index bytes.
  auto unpack = [&](const uint8_t* src, uint8_t* dst, uint32_t count) {
    if (bits == 16) {
      const auto* s = reinterpret_cast<const uint16_t*>(src);
      for (uint32_t x = 0; x < count; ++x) dst[x] = static_cast<uint8_t>(s[x] * 255u / 65535u);
      return true;
    }
    ISNestedCall nested;
    ISErrorCode e = IS_ERR_OK;
    if (UnpackBits(e, src, count, 1, bits, dst)) return true;
    unpackError = e;
    return false;
  };
  bool ok;
  if (info.tiled) {
    ISArray<uint8_t> unpacked;
    uint32_t tileWidth = 0;
    TIFFGetField(page.tif, TIFFTAG_TILEWIDTH, &tileWidth);
    if (tileWidth == 0 || !ResizeScratch(unpacked, tileWidth)) return error = IS_ERR_NOMEM, nullptr;
    ok = ReadTiles(error, page.tif, info.width, info.height,
                   [&](const uint8_t* tile, uint32_t x, uint32_t y, uint32_t tw, uint32_t tl, uint64_t tileRow) {
                     if (unpackError || tw > unpacked.Count()) return;
                     const uint32_t rows = std::min(tl, info.height - y);
                     const uint32_t cols = std::min(tw, w - x);
                     for (uint32_t r = 0; r < rows; ++r) {
                       if (!unpack(tile + r * tileRow, unpacked.Data(), tw)) return;
                       std::memcpy(out + uint64_t{y + r} * w + x, unpacked.Data(), cols);
                     }
                   });
  } else {
    ok = ReadStrips(error, page.tif, info.height,
                    [&](const uint8_t* strip, uint32_t row, uint32_t rows, uint64_t scanline) {
                      for (uint32_t i = 0; i < rows && !unpackError; ++i)
                        unpack(strip + i * scanline, out + uint64_t{row + i} * w, w);
                    });
  }
  if (!ok) return nullptr;
  if (unpackError) return error = unpackError, nullptr;
  if (!FlipToBottomUp(error, picture)) return nullptr;
  if (!OrientTIFFPicture(error, picture, page.Orientation(), dib)) return nullptr;
  if (!dib) std::memcpy(palette, table, sizeof table);
  return FinishTIFFPicture(error, page.tif, picture, dib, false, table, 256, width, height);
}

void* ReadTIFF16(ISErrorCode& error, TIFFPageRead& page, uint32_t* width, uint32_t* height) {
  const TIFFPageInfo& info = page.info;
  if (info.bitsPerSample != 16 || info.samplesPerPixel != 1) return error = IS_ERR_BITDEPTH, nullptr;
  TIFFPicture picture;
  if (!picture.Allocate(info.width, info.height, 16)) return error = IS_ERR_NOMEM, nullptr;
  uint8_t* out = picture.pixels.Data();
  // Rows that cannot be decoded: 128 x 257, which scales down to 128 at eight bits.
  std::fill_n(reinterpret_cast<uint16_t*>(out), uint64_t{info.width} * info.height, uint16_t{128 * 257});
  const auto pasteTile = [&](ISErrorCode& e, const uint8_t* tile, uint32_t x, uint32_t y, uint32_t tw, uint32_t tl,
                             uint64_t tileRow) {
    PasteRect16(e, reinterpret_cast<uint16_t*>(out), info.width, info.height, reinterpret_cast<const uint16_t*>(tile),
                tw, tl, static_cast<LONG>(x), static_cast<LONG>(y), 1.0, 1, info.width,
                static_cast<DWORD>(tileRow / 2), 1);
  };
  if (!ReadPageRows(error, page, picture, pasteTile)) return nullptr;
  if (!(page.flags & kTIFF16TopFirst) && !FlipToBottomUp(error, picture)) return nullptr;
  const bool keep = page.flags & (kTIFF16TopFirst | kTIFF16PadRows);
  if (!OrientTIFFPicture(error, picture, keep ? 1u : page.Orientation(), false)) return nullptr;
  return FinishTIFFPicture(error, page.tif, picture, false, page.flags & kTIFF16PadRows, nullptr, 0, width, height);
}
