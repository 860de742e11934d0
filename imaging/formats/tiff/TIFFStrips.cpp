// Strips and tiles decoded once, as far as their data goes. libtiff reads a strip whole or not
// at all: one whose byte count runs past the end of the file gives nothing, and one whose data
// ends early or turns bad fails. So the bytes the file holds are read here and handed to the
// decoder once; when it fails, the rows it wrote before the failure are found from what it left
// of a pattern laid in the buffer first, and finished as libtiff would have finished them.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "imaging/core/ISOpSupport.h"
#include "imaging/formats/tiff/TIFFClient.h"
#include "imaging/formats/tiff/TIFFCodecGuard.h"
#include "imaging/formats/tiff/TIFFRead.h"

namespace {

thread_local uint64_t stripsDecoded = 0;

uint64_t DecodedBytes(TIFF* tif, uint32_t rows) {
  return TIFFIsTiled(tif) ? TIFFVTileSize64(tif, rows) : TIFFVStripSize64(tif, rows);
}

// The most rows of the strip or tile (at most `rows`) that `bytes` decoded bytes hold whole.
uint32_t RowsIn(TIFF* tif, uint64_t bytes, uint32_t rows) {
  uint32_t good = 0, bad = rows + 1;
  while (bad - good > 1) {
    const uint32_t mid = good + (bad - good) / 2;
    if (DecodedBytes(tif, mid) <= bytes)
      good = mid;
    else
      bad = mid;
  }
  return good;
}

// The pattern laid in the buffer before a decode: eight different bytes, none of them zero,
// repeated. A decoder writes what it decoded and may clear what follows on failure; the end of
// what it wrote is the last byte that is neither the pattern nor zero. Decoded bytes that
// happen to equal either only move that end back, never forward.
constexpr uint64_t kPattern = 0x5BA3E1C97D2F4863ull;

void LayPattern(uint8_t* out, uint64_t n) {
  uint8_t word[8];
  std::memcpy(word, &kPattern, 8);
  uint64_t i = 0;
  for (; i + 8 <= n; i += 8) std::memcpy(out + i, word, 8);
  for (; i < n; ++i) out[i] = word[i % 8];
}

uint64_t WrittenBytes(const uint8_t* out, uint64_t n) {
  uint8_t word[8];
  std::memcpy(word, &kPattern, 8);
  while (n > 0 && (out[n - 1] == 0 || out[n - 1] == word[(n - 1) % 8])) --n;
  return n;
}

template <typename T>
void AccumulateRows(uint8_t* out, uint64_t rowBytes, uint32_t rows, uint32_t stride, bool swapped) {
  const uint64_t count = rowBytes / sizeof(T);
  for (uint32_t r = 0; r < rows; ++r) {
    T* row = reinterpret_cast<T*>(out + r * rowBytes);
    if (swapped) {
      if (sizeof(T) == 2) TIFFSwabArrayOfShort(reinterpret_cast<uint16_t*>(row), static_cast<tmsize_t>(count));
      if (sizeof(T) == 4) TIFFSwabArrayOfLong(reinterpret_cast<uint32_t*>(row), static_cast<tmsize_t>(count));
    }
    for (uint64_t i = stride; i < count; ++i) row[i] = static_cast<T>(row[i] + row[i - stride]);
  }
}

// libtiff applies the horizontal predictor and the file's byte order only to a strip or tile
// that decoded whole: the same for the first `rows` rows that a failed decode gave. False for
// the predictors and depths not done here (their rows are given up).
bool FinishRows(TIFF* tif, uint8_t* out, uint32_t rows) {
  uint16_t predictor = PREDICTOR_NONE, bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG;
  // Only the codecs that have a predictor know its tag.
  if (!TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor)) predictor = PREDICTOR_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  const bool swapped = TIFFIsByteSwapped(tif) != 0;
  const uint64_t rowBytes = DecodedBytes(tif, 1);
  const uint64_t bytes = DecodedBytes(tif, rows);
  if (predictor == PREDICTOR_HORIZONTAL) {
    if (bytes != rowBytes * rows) return false;  // subsampled rows
    const uint32_t stride = planar == PLANARCONFIG_CONTIG ? samples : 1;
    switch (bits) {
      case 8: AccumulateRows<uint8_t>(out, rowBytes, rows, stride, false); return true;
      case 16: AccumulateRows<uint16_t>(out, rowBytes, rows, stride, swapped); return true;
      case 32: AccumulateRows<uint32_t>(out, rowBytes, rows, stride, swapped); return true;
      default: return false;
    }
  }
  if (predictor != PREDICTOR_NONE) return false;
  if (!swapped) return true;
  switch (bits) {
    case 16: TIFFSwabArrayOfShort(reinterpret_cast<uint16_t*>(out), static_cast<tmsize_t>(bytes / 2)); return true;
    case 24: TIFFSwabArrayOfTriples(out, static_cast<tmsize_t>(bytes / 3)); return true;
    case 32: TIFFSwabArrayOfLong(reinterpret_cast<uint32_t*>(out), static_cast<tmsize_t>(bytes / 4)); return true;
    case 64: TIFFSwabArrayOfLong8(reinterpret_cast<uint64_t*>(out), static_cast<tmsize_t>(bytes / 8)); return true;
    default: return bits <= 8;
  }
}

}  // namespace

uint64_t TIFFStrilesDecoded() { return stripsDecoded; }

bool TIFFAllocationRefused(ISErrorCode& error, TIFF* tif) {
  const TIFFClientData* client = TIFFClientOf(tif);
  if (!client || !client->state.allocationRefused) return false;
  error = IS_ERR_BADTIFF;
  return true;
}

uint32_t DecodeTIFFStrile(TIFF* tif, uint32_t index, uint32_t rows, uint8_t* out, ISArray<uint8_t>& raw) {
  const uint64_t whole = DecodedBytes(tif, rows);
  if (rows == 0 || whole == 0) return 0;
  const bool tiled = TIFFIsTiled(tif) != 0;
  char note[64];
  std::snprintf(note, sizeof note, "TIFF %s %u ended early", tiled ? "tile" : "strip", index);
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  // Old-style JPEG reads its tables and data from the file itself, not from a given buffer.
  if (compression == COMPRESSION_OJPEG) {
    ++stripsDecoded;
    const tmsize_t n = static_cast<tmsize_t>(whole);
    if ((tiled ? TIFFReadEncodedTile(tif, index, out, n) : TIFFReadEncodedStrip(tif, index, out, n)) == n) return rows;
    SetLastWarning(note);
    return 0;
  }

  uint32_t fileSize = 0;
  TIFFClientData* client = TIFFClientOf(tif);
  if (!client || !client->io.GetSize(&fileSize)) return 0;
  const TIFFStoredBytes stored = GetTIFFStoredBytes(tif, index, fileSize, whole);
  // A strip the file cuts short gets the note in place of libtiff's words, which for a
  // whole-strip read name a scanline of -1; on data that does not decode, libtiff's words say
  // more than the note.
  if (stored.cut) ReplaceLastWarning(note);
  if (stored.held == 0 || !ResizeScratch(raw, stored.held)) {
    SetLastWarning(note);
    return 0;
  }
  const auto held = static_cast<tmsize_t>(stored.held);
  const tmsize_t got =
      tiled ? TIFFReadRawTile(tif, index, raw.Data(), held) : TIFFReadRawStrip(tif, index, raw.Data(), held);
  if (got != held) {
    SetLastWarning(note);
    return 0;
  }
  if (!TIFFCodecHeaderFits(tif, index, rows, raw.Data(), stored.held)) return 0;
  ++stripsDecoded;
  // Stored rows as they are: as many whole rows as the bytes hold.
  if (compression == COMPRESSION_NONE) {
    const uint32_t n = RowsIn(tif, stored.held, rows);
    if (n < rows) SetLastWarning(note);
    if (n == 0) return 0;
    const auto bytes = static_cast<tmsize_t>(DecodedBytes(tif, n));
    return TIFFReadFromUserBuffer(tif, index, raw.Data(), held, out, bytes) ? n : 0;
  }
  LayPattern(out, whole);
  if (TIFFReadFromUserBuffer(tif, index, raw.Data(), held, out, static_cast<tmsize_t>(whole))) return rows;
  SetLastWarning(note);
  const uint32_t n = RowsIn(tif, WrittenBytes(out, whole), rows);
  return n > 0 && FinishRows(tif, out, n) ? n : 0;
}
