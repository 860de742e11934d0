// How much picture the strips or tiles of a page can really hold. A header may claim any size;
// the readers allocate the picture (and libtiff its strip buffers) only after the stored bytes
// are known to be able to decode to it, so a few hostile bytes never cost more memory than
// their compression could give.
#include <algorithm>

#include "imaging/formats/tiff/TIFFClient.h"
#include "imaging/formats/tiff/TIFFRead.h"

namespace {

uint64_t SaturatingMultiply(uint64_t a, uint64_t b) {
  if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
  return a * b;
}

uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

// The most bytes `stored` bytes of a strip or tile can decode to, by compression.
// `scanline` is the decoded size of one row of the strip or tile.
uint64_t DecodedBound(uint16_t compression, uint64_t stored, uint64_t scanline) {
  switch (compression) {
    case COMPRESSION_NONE:
      return stored;
    case COMPRESSION_PACKBITS:
      // A run is a count byte and one data byte repeated at most 128 times: 128 bytes from 2.
      return SaturatingMultiply(stored, 64);
    case COMPRESSION_LZW:
      // Every code takes at least 9 bits, so n bytes hold at most 8n/9 codes. A code emits one
      // string of the table, and the table holds at most 4096 entries after a clear code, each
      // one byte longer than an earlier one: no string is longer than 4096 bytes.
      // 4096 x 8 / 9 < 3641 bytes per stored byte.
      return SaturatingMultiply(stored, 3641);
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      // The longest deflate match copies 258 bytes; at best its length and distance codes take
      // one bit each, so two bits give 258 bytes: 1032 bytes per stored byte. Literals, stored
      // blocks and the zlib header and checksum only lower the ratio.
      return SaturatingMultiply(stored, 1032);
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
      // Every coded row takes at least one bit (a Group 4 row equal to the row above is one V0
      // code; one-dimensional rows need a run code, RLE rows even a whole byte): at most eight
      // rows per stored byte.
      return SaturatingMultiply(SaturatingMultiply(stored, 8), scanline);
    case COMPRESSION_OJPEG:
    case COMPRESSION_JPEG:
      // A Huffman-coded 8 x 8 block takes at least one bit: its DC difference code (a
      // sequential block also needs an end-of-block code; a progressive AC scan may skip it
      // with an end-of-band run, the DC scan never). A block decodes to 64 samples of at most
      // two bytes (12-bit data): 128 bytes per bit, 1024 per stored byte. Arithmetic coding
      // could code a flat block in less, but TIFF writers code JPEG strips with Huffman tables,
      // and a strip that would need more than this is refused.
      return SaturatingMultiply(stored, 1024);
    default:
      // Codecs without a bound of their own here (LZMA, Zstandard, WebP, JBIG, LERC, PixarLog,
      // SGI log, NeXT, ThunderScan and others libtiff may carry) get 32768, the ratio of a
      // Zstandard RLE block (128 KiB from a 3-byte header and one byte).
      return SaturatingMultiply(stored, 32768);
  }
}

}  // namespace

bool TIFFPageDataCovers(TIFF* tif, const TIFFPageInfo& info) {
  uint32_t fileSize32 = 0;
  TIFFClientData* client = TIFFClientOf(tif);
  if (!client || !client->io.GetSize(&fileSize32)) return false;
  const uint64_t fileSize = fileSize32;
  const bool tiled = TIFFIsTiled(tif) != 0;
  const uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  // Every strip or tile has bytes of its own in a real file; this also bounds the loop below.
  if (count == 0 || count > fileSize) return false;
  const uint32_t planes = info.planar == PLANARCONFIG_SEPARATE ? std::max<uint32_t>(1, info.samplesPerPixel) : 1;
  uint32_t rowsPerStrip = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  rowsPerStrip = std::max<uint32_t>(1, std::min(rowsPerStrip, info.height));
  const uint64_t stripsPerPlane = std::max<uint64_t>(1, count / planes);
  uint32_t tileLength = 0;
  if (tiled) TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
  const uint64_t tileSize = tiled ? TIFFTileSize64(tif) : 0;
  const uint64_t tileRow = tiled ? TIFFTileRowSize64(tif) : 0;
  const uint64_t scanline = tiled ? tileRow : TIFFScanlineSize64(tif);
  if (scanline == 0 || (tiled && (tileSize == 0 || tileLength == 0))) return false;

  uint64_t needed = 0, covered = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t decoded = tileSize;
    if (!tiled) {
      const uint64_t first = (i % stripsPerPlane) * rowsPerStrip;
      if (first >= info.height) continue;  // a strip past the picture's rows is never read
      decoded = TIFFVStripSize64(tif, static_cast<uint32_t>(std::min<uint64_t>(rowsPerStrip, info.height - first)));
      if (decoded == 0) return false;
    }
    int error = 0;
    const uint64_t offset = TIFFGetStrileOffsetWithErr(tif, i, &error);
    uint64_t stored = error ? 0 : TIFFGetStrileByteCountWithErr(tif, i, &error);
    // Only the bytes inside the file count, whatever the byte count claims.
    if (error || offset >= fileSize) stored = 0;
    stored = std::min(stored, fileSize - std::min(offset, fileSize));
    needed = SaturatingAdd(needed, decoded);
    covered = SaturatingAdd(covered, std::min(decoded, DecodedBound(info.compression, stored, scanline)));
  }
  // Strips may share their bytes: all of them together cannot give more than the whole file.
  covered = std::min(covered, DecodedBound(info.compression, fileSize, scanline));
  return needed != UINT64_MAX && covered >= needed;
}
