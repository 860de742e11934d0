// How much picture the strips or tiles a read uses can really give. A header may claim any
// size; the readers allocate the picture (and let libtiff allocate its strip buffers) only
// after the decode budget has heard what the stored bytes could decode to, so a few hostile
// bytes never cost more memory than their compression could give.
#include <algorithm>

#include "imaging/core/ISDecodeBudget.h"
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/tiff/TIFFClient.h"
#include "imaging/formats/tiff/TIFFRead.h"

namespace {

// The most bytes one stored byte of a strip or tile can decode to, by compression; 0 when
// nothing bounds it.
uint64_t GreatestExpansion(uint16_t compression) {
  switch (compression) {
    case COMPRESSION_NONE:
      return 1;
    case COMPRESSION_PACKBITS:
      // A run is a count byte and one data byte repeated at most 128 times: 128 bytes from 2.
      return 64;
    case COMPRESSION_LZW:
      // Every code takes at least 9 bits, so n bytes hold at most 8n/9 codes. A code emits one
      // string of the table, and the table holds at most 4096 entries after a clear code, each
      // one byte longer than an earlier one: no string is longer than 4096 bytes.
      // 4096 x 8 / 9 < 3641 bytes per stored byte.
      return 3641;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      // The longest deflate match copies 258 bytes; at best its length and distance codes take
      // one bit each, so two bits give 258 bytes: 1032 bytes per stored byte. Literals, stored
      // blocks and the zlib header and checksum only lower the ratio.
      return 1032;
    case COMPRESSION_OJPEG:
    case COMPRESSION_JPEG:
      // A Huffman-coded 8 x 8 block takes at least one bit: its DC difference code (a
      // sequential block also needs an end-of-block code; a progressive AC scan may skip it
      // with an end-of-band run, the DC scan never). A block decodes to 64 samples of at most
      // two bytes (12-bit data): 128 bytes per bit, 1024 per stored byte. TIFF writers code
      // JPEG strips with Huffman tables.
      return 1024;
    default:
      // Nothing bounds the rest. The fax codes end a row on an end-of-line code or on a code
      // they cannot read, a dozen bits whatever the row's width, and a two-dimensional row
      // equal to the one above costs one bit; JBIG, LERC, Zstandard, LZMA, WebP and the
      // others libtiff may carry code a flat page in next to nothing.
      return 0;
  }
}

}  // namespace

bool TIFFPageWithinBudget(TIFF* tif, const TIFFPageInfo& info, const uint16_t* planes, uint32_t planeCount) {
  const uint64_t expansion = GreatestExpansion(info.compression);
  if (expansion == 0) return RovIrirev::DecodeBudgetAllows(info.width, info.height, RovIrirev::kUnboundedData, 0);
  uint32_t fileSize32 = 0;
  TIFFClientData* client = TIFFClientOf(tif);
  if (!client || !client->io.GetSize(&fileSize32) || planeCount == 0) return false;
  const uint64_t fileSize = fileSize32;
  const bool tiled = info.tiled;
  const uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  // Every strip or tile has an offset of its own in the file; this also bounds the loop below.
  if (count == 0 || count > fileSize) {
    ReplaceLastWarning("more strips than the file has bytes");
    return false;
  }
  const bool separate = info.planar == PLANARCONFIG_SEPARATE;
  const uint32_t stripPlanes = separate ? std::max<uint32_t>(1, info.samplesPerPixel) : 1;
  const uint32_t perPlane = std::max<uint32_t>(1, count / stripPlanes);
  // Bits of one pixel in a plane: all samples when contiguous, one when separate.
  const uint64_t pixelBits = uint64_t{info.bitsPerSample} * (separate ? 1u : std::max<uint16_t>(1, info.samplesPerPixel));
  if (pixelBits == 0) return false;
  auto pixelsOf = [&](uint64_t storedBytes) {
    return RovIrirev::BudgetMultiply(RovIrirev::BudgetMultiply(storedBytes, expansion), 8) / pixelBits;
  };
  uint32_t rowsPerStrip = 0, tileWidth = 0, tileLength = 0;
  if (tiled) {
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
    if (tileWidth == 0 || tileLength == 0) return false;
  } else {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::max<uint32_t>(1, std::min(rowsPerStrip, info.height));
  }
  const uint64_t tilesAcross = tiled ? (uint64_t{info.width} + tileWidth - 1) / tileWidth : 1;

  // Pixels of every used plane together; a picture pixel takes one from each.
  uint64_t planePixels = 0, storedTotal = 0;
  for (uint32_t p = 0; p < planeCount; ++p) {
    if (planes[p] >= stripPlanes) continue;
    for (uint32_t j = 0; j < perPlane; ++j) {
      const uint32_t i = planes[p] * perPlane + j;
      if (i >= count) break;
      // The picture area the strip or tile covers: no strip gives more.
      uint64_t area = 0;
      if (tiled) {
        const uint64_t x = (j % tilesAcross) * tileWidth, y = (j / tilesAcross) * tileLength;
        if (x >= info.width || y >= info.height) continue;
        area = std::min<uint64_t>(tileWidth, info.width - x) * std::min<uint64_t>(tileLength, info.height - y);
      } else {
        const uint64_t first = uint64_t{j} * rowsPerStrip;
        if (first >= info.height) continue;  // a strip past the picture's rows is never read
        area = std::min<uint64_t>(rowsPerStrip, info.height - first) * info.width;
      }
      int error = 0;
      const uint64_t offset = TIFFGetStrileOffsetWithErr(tif, i, &error);
      uint64_t stored = error ? 0 : TIFFGetStrileByteCountWithErr(tif, i, &error);
      // Only the bytes inside the file count, whatever the byte count claims.
      if (error || offset >= fileSize) stored = 0;
      stored = std::min(stored, fileSize - std::min(offset, fileSize));
      storedTotal = RovIrirev::BudgetAdd(storedTotal, stored);
      planePixels = RovIrirev::BudgetAdd(planePixels, std::min(area, pixelsOf(stored)));
    }
  }
  // Strips may share their bytes: all of them together cannot give more than the whole file.
  planePixels = std::min(planePixels, pixelsOf(fileSize));
  return RovIrirev::DecodeBudgetAllows(info.width, info.height, planePixels / planeCount,
                                       std::min(storedTotal, fileSize));
}
