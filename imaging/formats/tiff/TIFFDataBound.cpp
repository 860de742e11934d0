// What a read of a page costs, bounded by what the page holds. A header may claim any size;
// the readers allocate the picture (and let libtiff allocate for the page) only after the
// decode budget has heard what the read decodes (whole strips and tiles, every plane it uses)
// and what the stored bytes could decode to, so a few hostile bytes never cost more memory or
// work than their compression could give.
#include <algorithm>
#include <cstdio>

#include "imaging/core/ISDecodeBudget.h"
#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/FormatRefusal.h"
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
      // A code of b bits (9 to 12) names an entry below 2^b. The first entry added after a
      // clear code (258) holds two bytes and each later one at most one byte more than the one
      // added before it, so entry e holds at most e - 256 bytes, and a b-bit code gives at most
      // (2^b - 256) / b bytes a bit, most at 12 bits. A full table does not end the strip:
      // libtiff's decoder goes on reading 12-bit codes (adding entries that no code can name)
      // until it wants a clear code, so the longest string, entry 4095 of 3839 bytes, may come
      // again and again for 12 bits each: 3839 x 8 / 12 < 2560 bytes per stored byte.
      return 2560;
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

// Bits one pixel takes in the decoded data of one plane, as bitsNumerator / bitsDenominator:
// every sample of a contiguous page, one of a separate plane. Subsampled YCbCr stores the h x v
// luma samples of a block of h x v pixels and one Cb and one Cr sample for all of them.
struct PixelBits {
  uint64_t numerator = 0, denominator = 1;
};
PixelBits BitsPerPixel(TIFF* tif, const TIFFPageInfo& info) {
  if (info.planar == PLANARCONFIG_SEPARATE) return {info.bitsPerSample, 1};
  PixelBits bits{uint64_t{info.bitsPerSample} * std::max<uint16_t>(1, info.samplesPerPixel), 1};
  if (info.photometric == PHOTOMETRIC_YCBCR && info.samplesPerPixel == 3) {
    uint16_t h = 1, v = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &h, &v);
    const auto valid = [](uint16_t n) { return n == 1 || n == 2 || n == 4; };
    if (valid(h) && valid(v)) bits = {uint64_t{info.bitsPerSample} * (uint64_t{h} * v + 2), uint64_t{h} * v};
  }
  return bits;
}

struct ByteRange {
  uint64_t begin, end;
};

// The bytes the first n ranges cover, each byte once.
uint64_t CoveredBytes(ByteRange* ranges, uint32_t n) {
  std::sort(ranges, ranges + n, [](const ByteRange& a, const ByteRange& b) { return a.begin < b.begin; });
  uint64_t total = 0, reach = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint64_t begin = std::max(ranges[i].begin, reach);
    if (ranges[i].end > begin) total += ranges[i].end - begin;
    reach = std::max(reach, ranges[i].end);
  }
  return total;
}

}  // namespace

TIFFStoredBytes GetTIFFStoredBytes(TIFF* tif, uint32_t index, uint64_t fileSize, uint64_t decodedBytes) {
  TIFFStoredBytes stored;
  int error = 0;
  stored.offset = TIFFGetStrileOffsetWithErr(tif, index, &error);
  const uint64_t count = error ? 0 : TIFFGetStrileByteCountWithErr(tif, index, &error);
  if (error) return TIFFStoredBytes{};
  stored.held = stored.offset < fileSize ? std::min(count, fileSize - stored.offset) : 0;
  stored.cut = stored.held < count;
  // No strip of real data is ten times larger than what it decodes to, whatever its codec.
  stored.held = std::min(stored.held, RovIrirev::BudgetAdd(RovIrirev::BudgetMultiply(decodedBytes, 10), 4096));
  return stored;
}

bool TIFFPageWithinBudget(TIFF* tif, const TIFFPageInfo& info, const uint16_t* planes, uint32_t planeCount,
                          uint64_t* memory) {
  *memory = 0;
  uint32_t fileSize32 = 0;
  TIFFClientData* client = TIFFClientOf(tif);
  if (!client || !client->io.GetSize(&fileSize32) || planeCount == 0) return false;
  const uint64_t fileSize = fileSize32;
  const bool tiled = info.tiled;
  const uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  // Every strip or tile has an offset of its own in the file; this also bounds the loops below.
  if (count == 0 || count > fileSize) {
    char reason[120];
    if (count == 0)
      std::snprintf(reason, sizeof reason, "the page has no %s", tiled ? "tiles" : "strips");
    else
      std::snprintf(reason, sizeof reason, "%u %s, more than the file's %llu bytes", count, tiled ? "tiles" : "strips",
                    static_cast<unsigned long long>(fileSize));
    ReplaceLastWarning(reason);
    return false;
  }
  const bool separate = info.planar == PLANARCONFIG_SEPARATE;
  const uint32_t stripPlanes = separate ? std::max<uint32_t>(1, info.samplesPerPixel) : 1;
  const uint32_t perPlane = std::max<uint32_t>(1, count / stripPlanes);
  const uint64_t expansion = GreatestExpansion(info.compression);
  const PixelBits bits = BitsPerPixel(tif, info);
  if (bits.numerator == 0) return false;
  auto pixelsOf = [&](uint64_t storedBytes) {
    using namespace RovIrirev;
    return BudgetMultiply(BudgetMultiply(BudgetMultiply(storedBytes, expansion), 8), bits.denominator) /
           bits.numerator;
  };
  uint32_t rowsPerStrip = 0, tileWidth = 0, tileLength = 0;
  uint64_t width = info.width, height = info.height;
  if (tiled) {
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
    if (tileWidth == 0 || tileLength == 0) return false;
    // The readers decode whole tiles: the area is every tile that the picture touches.
    width = (width + tileWidth - 1) / tileWidth * tileWidth;
    height = (height + tileLength - 1) / tileLength * tileLength;
  } else {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::max<uint32_t>(1, std::min(rowsPerStrip, info.height));
  }
  // Strips or tiles of one plane that the read decodes.
  const uint64_t inPlane =
      tiled ? width / tileWidth * (height / tileLength) : (height + rowsPerStrip - 1) / rowsPerStrip;

  ISArray<ByteRange> ranges;
  if (!ResizeScratch(ranges, uint64_t{planeCount} * std::min<uint64_t>(perPlane, inPlane))) {
    ReplaceLastWarning("no memory for the table of strips");
    return false;
  }
  uint32_t used = 0;
  // Why strips hold nothing, for a refusal: those that begin past the end of the file, and the
  // others of no bytes.
  uint32_t pastEnd = 0, empty = 0;
  uint64_t firstPastEnd = 0;
  // Pixels of every used plane together; a picture pixel takes one from each.
  uint64_t planePixels = 0;
  for (uint32_t p = 0; p < planeCount; ++p) {
    if (planes[p] >= stripPlanes) continue;
    for (uint32_t j = 0; j < perPlane && j < inPlane; ++j) {
      const uint32_t i = planes[p] * perPlane + j;
      if (i >= count) break;
      // The area the strip or tile decodes to: a whole tile, or the strip's rows.
      uint64_t area = 0, decodedBytes = 0;
      if (tiled) {
        area = uint64_t{tileWidth} * tileLength;
        decodedBytes = TIFFTileSize64(tif);
      } else {
        const uint64_t rows = std::min<uint64_t>(rowsPerStrip, info.height - uint64_t{j} * rowsPerStrip);
        area = rows * info.width;
        decodedBytes = TIFFVStripSize64(tif, static_cast<uint32_t>(rows));
      }
      const TIFFStoredBytes stored = GetTIFFStoredBytes(tif, i, fileSize, decodedBytes);
      if (stored.held == 0 && stored.offset >= fileSize) {
        if (pastEnd++ == 0) firstPastEnd = stored.offset;
      } else if (stored.held == 0) {
        ++empty;
      }
      if (used < ranges.Count()) ranges[used++] = {stored.offset, stored.offset + stored.held};
      planePixels = RovIrirev::BudgetAdd(planePixels, std::min(area, pixelsOf(stored.held)));
    }
  }
  // Strips or tiles may share their bytes: those bytes count once, and all the strips
  // together cannot give more than the bytes they cover.
  const uint64_t storedBytes = CoveredBytes(ranges.Data(), used);
  planePixels = std::min(planePixels, pixelsOf(storedBytes));
  const uint64_t dataPixels = expansion == 0 ? RovIrirev::kUnboundedData : planePixels / planeCount;
  if (!RovIrirev::DecodeBudgetAllows(width, height, dataPixels, storedBytes)) {
    // No bytes at all: where the strips are said to be.
    const char* unit = tiled ? "tile" : "strip";
    if (storedBytes == 0 && pastEnd > 0 && empty == 0)
      ExplainRefusal("its %s data begins at byte %llu, past the end of the file (%llu bytes)", unit,
                     static_cast<unsigned long long>(firstPastEnd), static_cast<unsigned long long>(fileSize));
    else if (storedBytes == 0 && pastEnd == 0 && empty > 0)
      ExplainRefusal("its %ss have byte counts of 0", unit);
    else if (storedBytes == 0 && used > 0)
      ExplainRefusal("its %ss begin past the end of the file (%llu bytes) or have byte counts of 0", unit,
                     static_cast<unsigned long long>(fileSize));
    return false;
  }
  // The readers hold one strip or tile decoded at a time. With many samples a pixel, even an
  // allowed area can make one larger than the memory the budget gives the page; it may be as
  // large as 64 times the stored bytes (a real picture of many 16-bit channels in one strip),
  // never more.
  const uint64_t allowed = RovIrirev::BudgetMultiply(width, height);
  const uint64_t limit =
      std::max(RovIrirev::DecodeMemoryLimit(allowed), RovIrirev::BudgetMultiply(storedBytes, 64));
  const uint64_t strile = tiled ? TIFFTileSize64(tif) : TIFFVStripSize64(tif, rowsPerStrip);
  if (strile > limit) {
    char reason[120];
    std::snprintf(reason, sizeof reason, "TIFF decoding needs more than the %llu bytes of memory allowed for it",
                  static_cast<unsigned long long>(limit));
    ReplaceLastWarning(reason);
    return false;
  }
  *memory = limit;
  return true;
}
