// Strips and tiles decoded as far as their data goes. libtiff reads a strip whole or not at
// all: one whose byte count runs past the end of the file, or whose data ends early or turns
// bad, gives nothing. Such a strip is read again from the bytes the file does hold, and the
// most rows that decode from them are found by decoding ever more of the strip's rows.
#include <algorithm>
#include <cstdio>

#include "imaging/core/ISOpSupport.h"
#include "imaging/formats/tiff/TIFFClient.h"
#include "imaging/formats/tiff/TIFFRead.h"

namespace {

uint64_t DecodedBytes(TIFF* tif, uint32_t rows) {
  return TIFFIsTiled(tif) ? TIFFVTileSize64(tif, rows) : TIFFVStripSize64(tif, rows);
}

bool DecodeWhole(TIFF* tif, uint32_t index, uint8_t* out, tmsize_t bytes) {
  const tmsize_t got = TIFFIsTiled(tif) ? TIFFReadEncodedTile(tif, index, out, bytes)
                                        : TIFFReadEncodedStrip(tif, index, out, bytes);
  return got == bytes;
}

// The stored bytes of the strip or tile that the file holds, cut at its end; *cut says whether
// the file ends before the strip's byte count does.
bool ReadStoredBytes(TIFF* tif, uint32_t index, ISArray<uint8_t>& raw, tmsize_t* size, bool* cut) {
  *size = 0;
  *cut = false;
  uint32_t fileSize = 0;
  TIFFClientData* client = TIFFClientOf(tif);
  int error = 0;
  const uint64_t offset = TIFFGetStrileOffsetWithErr(tif, index, &error);
  const uint64_t count = error ? 0 : TIFFGetStrileByteCountWithErr(tif, index, &error);
  if (error || !client || !client->io.GetSize(&fileSize)) return true;
  const uint64_t held = offset < fileSize ? std::min<uint64_t>(count, fileSize - offset) : 0;
  *cut = held < count;
  if (held == 0) return true;
  if (!ResizeScratch(raw, held)) return false;
  const tmsize_t n = static_cast<tmsize_t>(held);
  const tmsize_t got = TIFFIsTiled(tif) ? TIFFReadRawTile(tif, index, raw.Data(), n)
                                        : TIFFReadRawStrip(tif, index, raw.Data(), n);
  if (got != n) return false;
  *size = n;
  return true;
}

}  // namespace

uint32_t DecodeTIFFStrile(TIFF* tif, uint32_t index, uint32_t rows, uint8_t* out, ISArray<uint8_t>& raw) {
  const uint64_t whole = DecodedBytes(tif, rows);
  if (rows == 0 || whole == 0) return 0;
  if (DecodeWhole(tif, index, out, static_cast<tmsize_t>(whole))) return rows;

  tmsize_t stored = 0;
  bool cut = false;
  const bool held = ReadStoredBytes(tif, index, raw, &stored, &cut);
  // A strip the file cuts short gets the note in place of libtiff's words, which for a
  // whole-strip read name a scanline of -1; on data that does not decode, libtiff's words say
  // more than the note.
  char note[64];
  std::snprintf(note, sizeof note, "TIFF %s %u ended early", TIFFIsTiled(tif) ? "tile" : "strip", index);
  if (cut)
    ReplaceLastWarning(note);
  else
    SetLastWarning(note);
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  // Old-style JPEG reads its tables and data from the file itself, not from a given buffer.
  if (compression == COMPRESSION_OJPEG || !held || stored == 0) return 0;
  auto decodes = [&](uint32_t n) {
    return TIFFReadFromUserBuffer(tif, index, raw.Data(), stored, out, static_cast<tmsize_t>(DecodedBytes(tif, n))) != 0;
  };
  // The rows that decode from the bytes held: the largest count for which decoding succeeds.
  if (decodes(rows)) return rows;
  uint32_t good = 0, bad = rows;
  while (bad - good > 1) {
    const uint32_t mid = good + (bad - good) / 2;
    if (decodes(mid))
      good = mid;
    else
      bad = mid;
  }
  // A failed try leaves its rows undone (a predictor is applied only on success): decode the
  // good rows once more.
  if (good > 0 && !decodes(good)) return 0;
  return good;
}
