// The headers of JBIG, WebP, Zstandard and LZMA strips judged before their libraries see them.
// libtiff lets none of them be limited: the JBIG library allocates the bitmap its header claims
// (and ends the process when that fails), libwebp the buffers of the picture its header names
// before it finds that the strip's buffer cannot hold it, the Zstandard stream the window its
// frame names, and libtiff's LZMA decoder runs without a memory limit.
#include "imaging/formats/tiff/TIFFCodecGuard.h"

#include <lzma.h>
#include <webp/decode.h>

#include <algorithm>
#include <cstdio>

#include "imaging/core/ISDecodeBudget.h"
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/tiff/TIFFClient.h"

namespace {

// Stored bytes read from each strip or tile at page open: every header judged here fits.
constexpr uint32_t kHeadBytes = 2048;

uint64_t LittleEndian(const uint8_t* p, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

const char* StrileName(TIFF* tif) { return TIFFIsTiled(tif) ? "tile" : "strip"; }

// JBIG: the 20-byte header names the planes, the width and the height of the bitmap that the
// library allocates whole. libtiff reverses the bits of the stored bytes first when the page's
// fill order is the handle's own, and lets the first NEWLEN marker (0xFF 0x05 and four bytes)
// lower the height before decoding, as fax streams of a length unknown at first (the VLENGTH
// option) do.
void JudgeJBIG(TIFFCodecVerdict& v, TIFF* tif, uint32_t index, uint32_t width, uint32_t rows, const uint8_t* data,
               uint64_t size, bool whole) {
  constexpr uint64_t kHeader = 20;
  constexpr uint8_t kVariableLength = 0x20;
  if (size < kHeader) return;
  uint16_t fill = FILLORDER_MSB2LSB;
  TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fill);
  const bool reversed = (fill & (TIFFIsMSB2LSB(tif) ? FILLORDER_MSB2LSB : FILLORDER_LSB2MSB)) != 0;
  const auto at = [&](uint64_t i) { return reversed ? CISOpContext::kBitReverse[data[i]] : data[i]; };
  uint8_t h[kHeader];
  for (uint64_t i = 0; i < kHeader; ++i) h[i] = at(i);
  const uint32_t planes = h[2], xd = ReadBE32(h + 4), yd = ReadBE32(h + 8);
  // Past the header and a private table of 1728 bytes, escaped data holds 0xFF only before 0x00.
  bool newHeight = false;
  uint32_t height = yd;
  for (uint64_t i = kHeader + ((h[19] & 0x07) == 0x06 ? 1728 : 0); i + 6 <= size; ++i) {
    if (at(i) != 0xFF || at(i + 1) != 0x05) continue;
    const uint8_t n[4] = {at(i + 2), at(i + 3), at(i + 4), at(i + 5)};
    newHeight = ReadBE32(n) <= yd;
    if (newHeight) height = ReadBE32(n);
    break;
  }
  // A variable-length stream's marker may lie past the bytes at hand: the whole strip decides.
  if (!whole && !newHeight && (h[19] & kVariableLength) && yd > rows) return;
  const uint64_t bytes = RovIrirev::BudgetMultiply(RovIrirev::BudgetMultiply((uint64_t{xd} + 7) / 8, height), planes);
  const uint64_t strile = TIFFIsTiled(tif) ? TIFFVTileSize64(tif, rows) : TIFFVStripSize64(tif, rows);
  // Fewer rows than the strip cost less than the strip and decode as far as they go: the strip is
  // then read as damaged, its missing rows left as the fill.
  if (planes == 1 && xd == width && height <= rows && bytes <= strile) return;
  v.fits = false;
  if (newHeight && planes == 1 && xd == width)
    std::snprintf(v.reason, sizeof v.reason, "JBIG data of TIFF %s %u sets its height to %u, more than the %s's %u rows",
                  StrileName(tif), index, height, StrileName(tif), rows);
  else
    std::snprintf(v.reason, sizeof v.reason,
                  "JBIG header of TIFF %s %u claims %u plane(s) of %u x %u pixels, not the %s's %u x %u (%llu bytes)",
                  StrileName(tif), index, planes, xd, yd, StrileName(tif), width, rows,
                  static_cast<unsigned long long>(strile));
}

// WebP: the picture the header names (read by libwebp's own parser) must be the strip's.
void JudgeWebP(TIFFCodecVerdict& v, TIFF* tif, uint32_t index, uint32_t width, uint32_t rows, const uint8_t* data,
               uint64_t size) {
  int w = 0, h = 0;
  if (!WebPGetInfo(data, static_cast<size_t>(std::min<uint64_t>(size, SIZE_MAX)), &w, &h)) return;
  if (static_cast<uint32_t>(w) == width && static_cast<uint32_t>(h) == rows) return;
  v.fits = false;
  std::snprintf(v.reason, sizeof v.reason, "WebP header of TIFF %s %u claims %d x %d pixels, not the %s's %u x %u",
                StrileName(tif), index, w, h, StrileName(tif), width, rows);
}

void TooMuchMemory(TIFFCodecVerdict& v, TIFF* tif, uint32_t index, const char* codec, const char* what,
                   uint64_t needed, uint64_t memory) {
  v.fits = false;
  std::snprintf(v.reason, sizeof v.reason,
                "%s decoding needs more than the %llu bytes of memory allowed for it (TIFF %s %u: %s of %llu bytes)",
                codec, static_cast<unsigned long long>(memory), StrileName(tif), index, what,
                static_cast<unsigned long long>(needed));
}

// Zstandard: the first frame (after any skippable ones) names its window, or its size when it
// is one segment; the stream decoder allocates the window and two blocks, at most the frame's
// size when that is given.
void JudgeZstd(TIFFCodecVerdict& v, TIFF* tif, uint32_t index, const uint8_t* data, uint64_t size, uint64_t memory) {
  uint64_t pos = 0;
  while (pos + 8 <= size && (LittleEndian(data + pos, 4) & 0xFFFFFFF0u) == 0x184D2A50u)
    pos = RovIrirev::BudgetAdd(pos + 8, LittleEndian(data + pos + 4, 4));
  if (pos + 6 > size || LittleEndian(data + pos, 4) != 0xFD2FB528u) return;
  const uint8_t descriptor = data[pos + 4];
  const bool single = descriptor & 0x20;
  const int sizeBytes[4] = {single ? 1 : 0, 2, 4, 8};
  const int idBytes[4] = {0, 1, 2, 4};
  const int fcsBytes = sizeBytes[descriptor >> 6];
  uint64_t at = pos + 5;
  uint64_t window = 0;
  if (!single) {
    const uint8_t w = data[at++];
    const uint64_t base = uint64_t{1} << (10 + (w >> 3));
    window = base + base / 8 * (w & 7);
  }
  at += idBytes[descriptor & 3];
  const bool hasSize = fcsBytes > 0;
  uint64_t contentSize = UINT64_MAX;
  if (hasSize) {
    if (at + fcsBytes > size) return;
    contentSize = LittleEndian(data + at, fcsBytes) + (fcsBytes == 2 ? 256 : 0);
  }
  if (single) window = contentSize;
  const uint64_t block = std::min<uint64_t>(window, 128 << 10);
  const uint64_t needed = std::min(contentSize, RovIrirev::BudgetAdd(window, 2 * block));
  if (needed > memory) TooMuchMemory(v, tif, index, "Zstandard", "a window", needed, memory);
}

// A variable-length integer of the xz format: seven bits a byte, at most nine bytes.
bool ReadVLI(const uint8_t* data, uint64_t end, uint64_t& at, uint64_t& value) {
  value = 0;
  for (int i = 0; i < 9 && at < end; ++i) {
    const uint8_t b = data[at++];
    value |= uint64_t{b & 0x7Fu} << (7 * i);
    if (!(b & 0x80)) return true;
  }
  return false;
}

// LZMA, the first bytes of a strip: the xz stream's blocks, each header naming its filters; the
// LZMA1 and LZMA2 filters give the dictionary the decoder allocates. Blocks are followed while
// their headers give their compressed size (a stream written in one piece has one block).
void JudgeLZMAHeaders(TIFFCodecVerdict& v, TIFF* tif, uint32_t index, const uint8_t* data, uint64_t size,
                      uint64_t memory) {
  static const uint8_t kMagic[6] = {0xFD, '7', 'z', 'X', 'Z', 0x00};
  if (size < 12 || !std::equal(kMagic, kMagic + 6, data)) return;
  static const uint8_t kCheckBytes[16] = {0, 4, 4, 4, 8, 8, 8, 16, 16, 16, 32, 32, 32, 64, 64, 64};
  const uint64_t checkBytes = kCheckBytes[data[7] & 0x0F];
  uint64_t block = 12;
  while (block < size && data[block] != 0) {
    const uint64_t headerEnd = block + (uint64_t{data[block]} + 1) * 4;
    if (headerEnd > size) return;
    const uint8_t flags = data[block + 1];
    uint64_t at = block + 2, compressed = 0, ignored = 0, id = 0, propsSize = 0;
    if ((flags & 0x40) && !ReadVLI(data, headerEnd, at, compressed)) return;
    if ((flags & 0x80) && !ReadVLI(data, headerEnd, at, ignored)) return;
    for (int f = 0; f <= (flags & 3); ++f) {
      if (!ReadVLI(data, headerEnd, at, id) || !ReadVLI(data, headerEnd, at, propsSize)) return;
      if (propsSize > headerEnd - at) return;
      uint64_t dictionary = 0;
      if (id == 0x21 && propsSize == 1) {
        const uint8_t bits = data[at] & 0x3F;
        dictionary = bits >= 40 ? UINT32_MAX : uint64_t{2u | (bits & 1u)} << (bits / 2 + 11);
      } else if (id == 0x4000000000000001ull && propsSize == 5) {
        dictionary = LittleEndian(data + at + 1, 4);
      }
      if (dictionary > memory) return TooMuchMemory(v, tif, index, "LZMA", "a dictionary", dictionary, memory);
      at += propsSize;
    }
    if (!(flags & 0x40)) return;
    const uint64_t padded = RovIrirev::BudgetAdd(compressed, 3) / 4 * 4;
    block = RovIrirev::BudgetAdd(RovIrirev::BudgetAdd(headerEnd, padded), checkBytes);
  }
}

// LZMA, all of a strip's bytes at hand: liblzma's own decoder, held to `memory`, decodes what
// libtiff's will, up to the strip's `decodedBytes` (libtiff stops there), into a scratch sink; a
// block past the first whose header needs more memory is found only this way.
void JudgeLZMA(TIFFCodecVerdict& v, TIFF* tif, uint32_t index, const uint8_t* data, uint64_t size, uint64_t memory,
               uint64_t decodedBytes) {
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(&stream, std::max<uint64_t>(memory, 1), 0) != LZMA_OK) return;
  uint8_t sink[1 << 14];
  stream.next_in = data;
  stream.avail_in = static_cast<size_t>(std::min<uint64_t>(size, SIZE_MAX));
  for (uint64_t left = decodedBytes; left > 0;) {
    stream.next_out = sink;
    stream.avail_out = static_cast<size_t>(std::min<uint64_t>(sizeof sink, left));
    const size_t room = stream.avail_out;
    const lzma_ret ret = lzma_code(&stream, LZMA_RUN);
    left -= room - stream.avail_out;
    if (ret == LZMA_MEMLIMIT_ERROR) TooMuchMemory(v, tif, index, "LZMA", "a block", lzma_memusage(&stream), memory);
    if (ret != LZMA_OK) break;  // the end, or data libtiff's decode fails on as well
  }
  lzma_end(&stream);
}

}  // namespace

TIFFCodecVerdict JudgeTIFFCodecHeader(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* data, uint64_t size,
                                      uint64_t memory, bool whole) {
  TIFFCodecVerdict v;
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  uint32_t width = 0;
  TIFFGetField(tif, TIFFIsTiled(tif) ? TIFFTAG_TILEWIDTH : TIFFTAG_IMAGEWIDTH, &width);
  switch (compression) {
    case COMPRESSION_JBIG: JudgeJBIG(v, tif, index, width, rows, data, size, whole); break;
    case COMPRESSION_WEBP: JudgeWebP(v, tif, index, width, rows, data, size); break;
    case COMPRESSION_ZSTD: JudgeZstd(v, tif, index, data, size, memory); break;
    case COMPRESSION_LZMA:
      JudgeLZMAHeaders(v, tif, index, data, size, memory);
      if (v.fits && whole)
        JudgeLZMA(v, tif, index, data, size, memory,
                  TIFFIsTiled(tif) ? TIFFVTileSize64(tif, rows) : TIFFVStripSize64(tif, rows));
      break;
    default: break;
  }
  return v;
}

bool TIFFCodecHeaderFits(TIFF* tif, uint32_t index, uint32_t rows, const uint8_t* data, uint64_t size) {
  const TIFFClientData* client = TIFFClientOf(tif);
  const uint64_t memory = client ? client->memoryLimit : 0;
  const TIFFCodecVerdict v = JudgeTIFFCodecHeader(tif, index, rows, data, size, memory, true);
  if (!v.fits) SetLastWarning(v.reason);
  return v.fits;
}

bool TIFFPageCodecHeadersFit(TIFF* tif, const TIFFPageInfo& info, uint64_t memory) {
  if (info.compression != COMPRESSION_JBIG && info.compression != COMPRESSION_WEBP &&
      info.compression != COMPRESSION_ZSTD && info.compression != COMPRESSION_LZMA)
    return true;
  TIFFClientData* client = TIFFClientOf(tif);
  uint32_t fileSize = 0;
  if (!client || !client->io.GetSize(&fileSize)) return false;
  const bool tiled = info.tiled;
  const uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  uint32_t rowsPerStrip = 0, tileLength = 0;
  if (tiled) {
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
  } else {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::max<uint32_t>(1, std::min(rowsPerStrip, info.height));
  }
  const uint32_t perPlane = tiled ? 0 : (info.height - 1) / rowsPerStrip + 1;
  uint8_t head[kHeadBytes];
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t rows = tileLength;
    if (!tiled) {
      const uint64_t first = uint64_t{i % perPlane} * rowsPerStrip;
      rows = static_cast<uint32_t>(std::min<uint64_t>(rowsPerStrip, info.height - first));
    }
    const uint64_t decoded = tiled ? TIFFVTileSize64(tif, rows) : TIFFVStripSize64(tif, rows);
    const TIFFStoredBytes stored = GetTIFFStoredBytes(tif, i, fileSize, decoded);
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(stored.held, kHeadBytes));
    if (n == 0) continue;
    if (stored.offset > INT32_MAX || !client->io.Seek(static_cast<int32_t>(stored.offset), IS_SEEK_SET) ||
        !client->io.ReadExact(head, n))
      continue;  // the read finds the strip unreadable and goes on
    const TIFFCodecVerdict v = JudgeTIFFCodecHeader(tif, i, rows, head, n, memory, n == stored.held);
    if (!v.fits) {
      ReplaceLastWarning(v.reason);
      return false;
    }
  }
  return true;
}
